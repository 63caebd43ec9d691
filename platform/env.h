// The one seam between Morvenit's portable core and the platform it runs on: the file system,
// the process, the clocks, the message pump and the message box. There is one implementation per
// platform (env_windows.cc, env_posix.cc) and a fake for tests; the core never includes
// <windows.h>.
#ifndef MORVENIT_PLATFORM_ENV_H_
#define MORVENIT_PLATFORM_ENV_H_

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace morvenit {

// Paths and texts are wide strings: UTF-16 on Windows, and on POSIX one code point a character
// (bytes that are not UTF-8 are carried as U+DC80..U+DCFF, so every name round-trips).
using Text = std::wstring;

// File attribute bits, valued as Windows' own so that they pass through unchanged.
inline constexpr uint32_t kAttrReadOnly = 0x1;
inline constexpr uint32_t kAttrHidden = 0x2;
inline constexpr uint32_t kAttrSystem = 0x4;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;
inline constexpr uint32_t kAttrNormal = 0x80;
inline constexpr uint32_t kAttrReparsePoint = 0x400;
inline constexpr uint32_t kAttrCompressed = 0x800;
inline constexpr uint32_t kAttrOffline = 0x1000;
inline constexpr uint32_t kAttrRecallOnOpen = 0x40000;
inline constexpr uint32_t kAttrRecallOnDataAccess = 0x400000;

// Failure numbers the program tells apart. Every other platform error carries a negative number
// (an HRESULT on Windows, minus errno on POSIX), so it can never be mistaken for one of these.
inline constexpr int32_t kFailSubscript = 9;      // "Subscript out of range"
inline constexpr int32_t kFailFileNotFound = 53;  // "File not found"
inline constexpr int32_t kFailAccess = 75;        // "Path/File access error"

// A failure raised by the platform or the engine. Failures are raised, never returned.
struct Failure {
  int32_t number;
  Text description;
  // Another program holds the file open or locked: worth another try in a moment, where a
  // refused access is not.
  bool busy = false;
};

inline Failure FileNotFound() { return {kFailFileNotFound, L"File not found"}; }
inline Failure AccessRefused() { return {kFailAccess, L"Path/File access error"}; }
inline Failure HeldElsewhere() { return {kFailAccess, L"Path/File access error", true}; }

// Files the program refuses to overwrite, because doing so would destroy data that was not named
// or might not reach the data that was, and files it finds the system did not delete. The
// program's own findings, numbered from 1001 on.
inline constexpr int32_t kFailManyNames = 1001;
inline constexpr int32_t kFailStoredElsewhere = 1002;
inline constexpr int32_t kFailUnreachableName = 1003;
inline constexpr int32_t kFailChanged = 1004;
inline constexpr int32_t kFailNotDeleted = 1005;
inline constexpr int32_t kFailNotData = 1006;
inline constexpr int32_t kFailTooDeep = 1007;
inline constexpr int32_t kFailKeepsGrowing = 1008;
inline constexpr int32_t kFailCompressed = 1009;
inline constexpr int32_t kFailDevice = 1010;
inline constexpr int32_t kFailNamedLink = 1011;
inline constexpr int32_t kFailDeviceName = 1012;
inline constexpr int32_t kFailVanished = 1015;
inline constexpr int32_t kFailNotRenamed = 1020;
inline constexpr int32_t kFailWrittenAfter = 1021;
inline constexpr int32_t kFailDeleteMayNotLast = 1022;
inline constexpr int32_t kFailNotFullPath = 1030;

inline bool IsRefusal(const Failure& failure) {
  return failure.number > 1000 && failure.number < 1100;
}

inline Failure ManyNames(uint32_t names) {
  return {kFailManyNames, L"This file has " + std::to_wstring(names) +
                              L" names (hard links). Overwriting it would destroy the data under "
                              L"names that were not given, so it was left as it was."};
}
inline Failure StoredElsewhere() {
  return {kFailStoredElsewhere,
          L"The system keeps this file's data elsewhere or in a special way (an online-only cloud "
          L"file, a deduplicated or archived file). Overwriting it in place may not reach that "
          L"data, so it was left as it was."};
}
// NTFS compression, and Windows' own (WOF, as `compact /exe` leaves it): the pattern, compressed,
// lands in new clusters and frees the old ones without overwriting them.
inline Failure KeptCompressed() {
  return {kFailCompressed,
          L"The system keeps this file compressed: an overwrite would be stored in new places on "
          L"the disk and leave the old data where it is, so it was left as it was. Uncompress "
          L"it (compact /u, and compact /u /exe), remove it again, then overwrite the drive's free "
          L"space (cipher /w)."};
}
inline Failure UnreachableName() {
  return {kFailUnreachableName,
          L"Windows cannot open a file by this name, and it has no short name to be reached by, "
          L"so it was left as it was."};
}
// A name Windows forbids is reached by its short name; another file or folder beside it may have
// that very name, and then the short name leads there.
inline Failure ShortNameTaken() {
  return {kFailUnreachableName,
          L"Windows cannot open a file by this name, and its short name (8.3) leads to another "
          L"file or folder beside it that has that very name, so it was left as it was. Rename it "
          L"to reach it."};
}
// Linux keeps a name as bytes; Wine shows each byte that is not UTF-8 as U+FFFD, and a name so
// shown leads to whatever file it spells, or to none.
inline Failure UnreachableLinuxName() {
  return {kFailUnreachableName,
          L"Linux keeps this file's name in bytes that are not valid UTF-8, so no Windows program "
          L"can name it, and it was left as it was. Rename it on Linux to reach it."};
}
inline Failure NotData() {
  return {kFailNotData,
          L"This is not a file that holds data (a device, a pipe or a socket); left as it was."};
}
inline Failure TooDeep() {
  return {kFailTooDeep,
          L"This file lies deeper than Wine can reach by a path: Linux takes at most 4,096 "
          L"bytes a path. It was left as it was; move its folder higher up to reach it."};
}
inline Failure Changed() {
  return {kFailChanged,
          L"What stands under this name now is not what was listed in its folder a moment "
          L"before (something was put in its place), so it was left as it was."};
}
inline Failure NotDeleted() {
  return {kFailNotDeleted,
          L"The system reported this file deleted, but it is still there, overwritten. Its "
          L"folder may not allow deletes (read-only, or marked immutable)."};
}
inline Failure KeepsGrowing() {
  return {kFailKeepsGrowing,
          L"Another program kept adding to this file while it was overwritten: it was longer "
          L"again each time it was overwritten again. It was left under its name, overwritten "
          L"as far as it reached when last measured; what was added since may not be."};
}
inline Failure WrittenAfter() {
  return {kFailWrittenAfter,
          L"Another program wrote to this file after it was overwritten (a Linux program takes no "
          L"part in Windows' sharing rules), and again after each time it was overwritten again. "
          L"It was left under its name; what that program wrote may not be overwritten."};
}
inline Failure DeleteMayNotLast() {
  return {kFailDeleteMayNotLast,
          L"This file was deleted, but its folder could not be written to the storage device "
          L"after the delete (a device that fails), so the file may come back: overwritten, under "
          L"its own name or a neutral one."};
}
inline Failure NotRenamed() {
  return {kFailNotRenamed,
          L"This file could not be renamed before its delete: deleted under its own name, the "
          L"name could stay readable on the disk. It was left under that name, overwritten."};
}

inline Failure Vanished() {
  return {kFailVanished,
          L"This folder was moved or removed during the run, before it was walked, so its files "
          L"were not reached. Drop it again where it is now to reach them."};
}

// A name given that leads to a device rather than to a file or folder: a disk or volume opened
// whole, a port, the null device, or a name Windows keeps for one ("CON", "nul.txt").
inline Failure NamesDevice() {
  return {kFailDevice,
          L"This names a device (a disk or a volume as a whole, a port, or a name Windows keeps "
          L"for a device, such as CON or NUL), not a file or a folder. Nothing was written to it."};
}

// A link the user named, which the system cannot remove as itself: under Wine every call on a link
// to a file acts on its target, and no call removes a link to a folder.
inline Failure NamedLink() {
  return {kFailNamedLink,
          L"This is a link (a symbolic link or a junction): the link itself was named, and the "
          L"system cannot remove it here without acting on what it points to. The link and what "
          L"it points to were left as they were; to shred what it points to, name that."};
}

// A file whose name Windows keeps for a device ("CON", "aux.c", made on Linux or through "\\?\"),
// named on its own: Windows reads the name as the device. In a folder's listing it is a file.
inline Failure DeviceName() {
  return {kFailDeviceName,
          L"Windows keeps this name for a device (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to "
          L"LPT9, with or without an extension): named on its own it means the device, not the "
          L"file, so nothing was written. To shred the file, name the folder that holds it."};
}

// A path handed over by another program (through the verb) that does not say where it starts: it
// would be read from wherever this program happens to run.
inline Failure NotFullPath() {
  return {kFailNotFullPath,
          L"This path handed over is not a full path (a drive or a share, and every folder from "
          L"there): it would name a file in whatever folder Morvenit happens to run in. Nothing "
          L"was done to it."};
}

// Raised to end the program at once (a cancel seen during a wait). It is not a Failure, so no
// handler of failures can swallow it; only start-up catches it.
struct EndProgram {};

// Which file an open reached: two opens that show the same known number reached one file. The
// id is the file's number as its folder's listing gives it (FolderEntry::id), with the upper half
// of a 128-bit one (ReFS); `scope` is what that number is unique within: the volume's serial
// number, or under Wine a digest of the file's own path, as Wine gives no volume number cheaply.
struct FileNumber {
  uint64_t scope = 0;
  uint64_t id = 0;
  uint64_t high = 0;
  bool known() const { return id != 0 || high != 0; }
  friend auto operator<=>(const FileNumber&, const FileNumber&) = default;
};

// What the system says of an open file.
struct FileInfo {
  uint32_t attributes = 0;   // kAttr*
  uint64_t length = 0;       // in bytes
  uint32_t names = 1;        // how many names (hard links) the file has
  uint32_t reparse_tag = 0;  // with kAttrReparsePoint: what kind of reparse point
  FileNumber number{};       // unknown where the system gives none
  // When it was last written and last changed, in the system's units, where another program may
  // write to it while it is open here for writing (under Wine: a Linux program takes no part in
  // share modes); 0 where none can (Windows: it is shared with nobody then).
  uint64_t write_time = 0;
  uint64_t change_time = 0;
};

// Whether nobody wrote to the file between the two looks, by its times.
inline bool SameTimes(const FileInfo& a, const FileInfo& b) {
  return a.write_time == b.write_time && a.change_time == b.change_time;
}

// Something open for writing from its first byte: a file, or one of its named data streams.
// Destroying it closes it and ignores any error.
class Writable {
 public:
  virtual ~Writable() = default;

  // Writes all `size` bytes at the current position and advances it; raises Failure otherwise.
  virtual void Write(const char* data, size_t size) = 0;
  // Returns once everything written so far is on the storage device; raises Failure otherwise.
  virtual void Flush() = 0;
  // Closes it; raises Failure when the system reports an error. Later calls do nothing.
  virtual void Close() = 0;
};

// A named data stream of a file (NTFS keeps, say, where a download came from in one).
struct StreamInfo {
  Text name;  // without the colons and the type: "Zone.Identifier"
  uint64_t length = 0;
};

// A file opened to be shredded: for its attributes, and by BeginWriting (if it was not at once)
// for writing by this program alone. Destroying it closes it and ignores any error; a file not
// deleted stays.
class OpenFile : public Writable {
 public:
  // Returns the file's attributes, length, number of names and reparse tag. Raises Failure
  // otherwise.
  virtual FileInfo Info() = 0;
  // Sets the file's attributes; kAttrNormal clears read-only, hidden, system and archive.
  // Raises Failure otherwise.
  virtual void SetAttributes(uint32_t attributes) = 0;
  // Moves the position of the next Write() back to the file's first byte. Raises Failure
  // otherwise.
  virtual void Rewind() = 0;
  // Makes sure the file is open for reading and writing at its first byte, shared with nobody,
  // opening it again if it is not (through whatever filter keeps its data). Raises 75 when
  // access is refused (busy when another program holds it open), another Failure otherwise.
  virtual void BeginWriting() = 0;
  // Returns the file's named data streams; none where the system keeps or shows none. Raises
  // Failure when it cannot tell.
  virtual std::vector<StreamInfo> Streams() = 0;
  // Opens the named data stream `name` of the file, open for writing, at its first byte, shared
  // with nobody but the file's own open for writing. Raises Failure otherwise.
  virtual std::unique_ptr<Writable> OpenStream(const Text& name) = 0;
  // Whether Flush() may run on another thread while Write() goes on, holding no write up: then a
  // large file is flushed while it is written, and its flush after the last write finds little
  // left. False where the system holds a file's writes while it flushes it.
  virtual bool FlushesWhileWritten() { return false; }
  // Whether Rename() goes through the folder that holds the file, held open, so that it can
  // never move another file (and fails where that folder is not known); false where it would go
  // by a path that others can change.
  virtual bool RenamesInPlace() { return true; }
  // Renames the file, open for writing, to `name` within its folder; never replaces anything.
  // Raises Failure when the name is taken or the system refuses; the file keeps its name then.
  virtual void Rename(const Text& name) = 0;
  // Deletes the file, still open for writing, under the name it now has, and closes it.
  // Raises Failure when the system refuses or that name no longer leads to this file; the file
  // then stays.
  virtual void Delete() = 0;
  // Does what Delete() would before the file goes, where that takes long, so that a Delete()
  // after it takes the file away at once; the file still stands until then. Raises Failure as
  // Delete() does; the file then stays.
  virtual void PrepareDelete() {}
  // Makes the renames and deletes done so far in the folder that holds the file durable, after
  // Delete() too: returns once the folder's records are on the storage device, or at once where
  // they cannot be made so (a folder that cannot be opened for it, a network share). Raises
  // Failure when the flush fails (a failing device).
  virtual void FlushFolder() {}
};

// One entry of a folder's listing, as the listing gives it.
struct FolderEntry {
  Text name;                 // the entry's name
  Text short_name;           // its 8.3 alias, or empty
  uint32_t attributes = 0;   // kAttr*
  uint32_t reparse_tag = 0;  // with kAttrReparsePoint: what kind of reparse point
  // Its number in the volume as the listing gives it (0 where it gives none), and where that does
  // not fit in 64 bits (ReFS) the whole 128-bit one: what the entry opened must prove to be.
  uint64_t id = 0;
  std::array<uint8_t, 16> long_id{};
  // Its times (creation, last write, change; Windows' 100 ns units) and length as the listing
  // gives them, where it gives no number at all: what the entry opened must show instead.
  std::array<int64_t, 3> times{};
  uint64_t length = 0;
};

// A folder held open while it is walked, so that its entries are reached through it and never
// through a path that another program could change meanwhile. Destroying it closes it.
class Folder {
 public:
  virtual ~Folder() = default;

  // Returns every entry but "." and "..", in the platform's listing order. Raises Failure when
  // the folder cannot be listed.
  virtual std::vector<FolderEntry> List() = 0;
  // Opens the subfolder `entry` of this folder. Returns null when what stands under that name now
  // is a link: it leads out of the walked tree. Raises Changed() when it is not the folder listed,
  // another Failure when it cannot be opened.
  virtual std::unique_ptr<Folder> OpenSubfolder(const FolderEntry& entry) = 0;
  // Opens the file `entry` of this folder for its attributes. Returns null when what stands under
  // that name now is a link. Raises Changed() when it is not the file listed, UnreachableName()
  // when no name of it can be opened, another Failure when it cannot be opened.
  virtual std::unique_ptr<OpenFile> OpenFileEntry(const FolderEntry& entry) = 0;
};

// Reparse points that are names for something elsewhere (symbolic links, junctions, mount
// points) rather than a way of storing a file's own data.
inline bool IsNameSurrogate(uint32_t reparse_tag) { return (reparse_tag & 0x20000000u) != 0; }
inline constexpr uint32_t kReparseTagSymlink = 0xA000000C;
inline constexpr uint32_t kReparseTagCloud = 0x9000001A;  // and 0x9000101A..0x9000F01A
inline constexpr uint32_t kReparseTagDedup = 0x80000013;
inline constexpr uint32_t kReparseTagWof = 0x80000017;

// Whether a file that is a reparse point of kind `tag` (and not a link) has all its data here,
// where an overwrite through the system reaches it: a cloud file whose data is on the disk (a
// OneDrive file "always kept on this device", or one opened lately). Anything else keeps its data
// elsewhere or in a special way: an online-only cloud file, a deduplicated or archived (HSM) one.
inline bool KeepsDataHere(uint32_t attributes, uint32_t tag) {
  const bool cloud = (tag & 0xFFFF0FFFu) == kReparseTagCloud;
  return cloud && !(attributes & (kAttrOffline | kAttrRecallOnOpen | kAttrRecallOnDataAccess));
}

class Env {
 public:
  virtual ~Env() = default;

  // Returns the environment of the platform the program was built for. Never fails.
  static Env& Default();

  // Puts the process in the modes the program relies on, before anything else: on Windows no box
  // of the system's own for a drive that is not ready, and cloud placeholders seen as they are.
  // Never fails; does nothing where the platform needs nothing.
  virtual void PrepareProcess() {}
  // Returns the folder of the program's executable, without a trailing separator unless it is a
  // root. Never fails.
  virtual Text ProgramFolder() = 0;
  // Returns the whole command line, the program's own path first, exactly as the system holds it.
  // Never fails.
  virtual Text CommandLine() = 0;

  // Returns the attributes of `path` (kAttr*). Raises 53 for an empty or missing path, 75 when
  // access is refused, another Failure otherwise. A link is reported as itself, with
  // kAttrReparsePoint (plus kAttrDirectory when it points at a folder), never as its target.
  // A look by path, for tools and tests: a run opens what was named once, with OpenNamed.
  virtual uint32_t GetAttributes(const Text& path) = 0;
  // Opens what `path` names, once: a folder to walk it, anything else as a file for its
  // attributes (exactly one of the two is set). Links along the way are followed as the system
  // follows them, but a last name that is a link (a symbolic link, a junction) is never: the link
  // itself is removed, as rm removes one, what it points to is never touched, and neither is set.
  // What is open is what was named from then on: a later change of the path leads nowhere. Raises
  // 53 for an empty or missing path, NamesDevice() for anything but a file or a folder on a file
  // system (never opened for writing), NamedLink() for a link the system cannot remove as itself,
  // 75 when access is refused, another Failure otherwise.
  struct Named {
    std::unique_ptr<OpenFile> file;
    std::unique_ptr<Folder> folder;
  };
  virtual Named OpenNamed(const Text& path) = 0;
  // OpenNamed for a file; raises 75 for a folder; null for a link, removed.
  virtual std::unique_ptr<OpenFile> OpenNamedFile(const Text& path) {
    Named named = OpenNamed(path);
    if (named.folder) throw AccessRefused();
    return std::move(named.file);
  }
  // OpenNamed for a folder; raises 53 for a file or a link, removed (no folder by that name).
  virtual std::unique_ptr<Folder> OpenNamedFolder(const Text& path) {
    Named named = OpenNamed(path);
    if (!named.folder) throw FileNotFound();
    return std::move(named.folder);
  }
  // Returns `path` made absolute against the current directory, every name in it kept exactly as
  // given (trailing dots and spaces included); a name the system reads as a device ("NUL") comes
  // back as the system names that device. Raises 53 for an empty path, another Failure when it
  // cannot be resolved.
  virtual Text FullPath(const Text& path) = 0;
  // Makes `folder` the process's current directory. Raises Failure when it cannot be entered.
  virtual void SetCurrentFolder(const Text& folder) = 0;

  // Returns the local time of day in seconds since midnight, with fractions. Never fails.
  virtual double SecondsSinceMidnight() = 0;
  // Returns a monotonic clock in microseconds, for measuring elapsed time. Never fails.
  virtual uint64_t NowMicros() = 0;

  // Processes every pending window message of this thread (painting, timer ticks, clicks) and
  // returns. Never fails.
  virtual void PumpMessages() = 0;
  // Blocks until a window message arrives or `max_ms` milliseconds pass, without processing
  // anything. Never fails.
  virtual void WaitForMessages(int max_ms) = 0;
  // Shows a modal message box with an OK button and no icon; returns when it is dismissed.
  virtual void ShowMessage(const Text& text, const Text& title) = 0;
};

}  // namespace morvenit

#endif  // MORVENIT_PLATFORM_ENV_H_
