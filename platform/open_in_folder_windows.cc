// Opening a name inside a folder held open, never through a link, and proving by the file's number
// that it is the entry listed. Inside a walked folder everything is reached through the folder's
// own handle (NtCreateFile relative to it), never through a path; this is the only file that opens
// one.
#include "platform/open_in_folder_windows.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <cwchar>
#include <string>

#include "platform/wine_only.h"

namespace morvenit {

namespace {

constexpr NTSTATUS kStatusInvalidParameter = static_cast<NTSTATUS>(0xC000000D);
constexpr NTSTATUS kStatusAccessDenied = static_cast<NTSTATUS>(0xC0000022);
constexpr NTSTATUS kStatusInvalidDeviceRequest = static_cast<NTSTATUS>(0xC0000010);
constexpr NTSTATUS kStatusBufferOverflow = static_cast<NTSTATUS>(0x80000005);
constexpr NTSTATUS kStatusDeletePending = static_cast<NTSTATUS>(0xC0000056);
constexpr NTSTATUS kStatusNotADirectory = static_cast<NTSTATUS>(0xC0000103);
constexpr NTSTATUS kStatusFileIsADirectory = static_cast<NTSTATUS>(0xC00000BA);
// The longest name the system's counted strings hold, in characters.
constexpr size_t kLongestSystemPath = 32767;

// Whether the open handle is the entry the listing gave, by the number the file system gives
// both: a name proves nothing, as an 8.3 name and a junction followed by a file server show.
bool IsListedEntry(HANDLE handle, const FolderEntry& entry) {
  if (!Missing(entry.id)) {
    LARGE_INTEGER id;
    const NTSTATUS status = Query(handle, kFileInternalInformation, id);
    if (status < 0) throw FromStatus(status);
    return static_cast<uint64_t>(id.QuadPart) == entry.id;
  }
  if (entry.long_id != std::array<uint8_t, 16>{}) {
    const auto id = MustQuery<FILE_ID_INFO>(handle, kFileIdInformation);
    return std::equal(entry.long_id.begin(), entry.long_id.end(), id.FileId.Identifier);
  }
  // A listing that numbers nothing (WinFsp's drives): the times it gave, which no program sets all
  // of (the change time least of all), and a file's length.
  const auto basic = MustQuery<FILE_BASIC_INFO>(handle, kFileBasicInformation);
  const std::array<int64_t, 3> times = {basic.CreationTime.QuadPart, basic.LastWriteTime.QuadPart,
                                        basic.ChangeTime.QuadPart};
  if (times != entry.times) return false;
  return (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) ||
         static_cast<uint64_t>(
             MustQuery<FILE_STANDARD_INFO>(handle, kFileStandardInformation).EndOfFile.QuadPart) ==
             entry.length;
}

// Whether Windows forbids `name` in a file name. Wine alone lets a ":" through: Wine 8 keeps no
// named streams, and opens such a name (made on Linux) as it is.
bool Forbidden(const Text& name) {
  const wchar_t* forbidden = Nt().under_wine ? L"\"*/<>?\\|" : L"\"*/:<>?\\|";
  return std::any_of(name.begin(), name.end(),
                     [&](wchar_t c) { return c < 0x20 || std::wcschr(forbidden, c) != nullptr; });
}

// Whether the open `handle` is a file or folder of a file system, as the system says: never a
// device, a pipe or a socket. Linux keeps those in folders and Wine opens each as a file, a block
// device as a disk, which the pattern would overwrite whole; Windows tells them apart by the type
// of the file, Wine by what it answers of the volume.
bool OnFileSystem(HANDLE handle) {
  if (!Nt().under_wine) return ::GetFileType(handle) == FILE_TYPE_DISK;
  // Wine alone: it answers the volume's sizes for a regular file or a folder only ("invalid device
  // request" for a device, a pipe, a socket, a volume or a disk opened whole), from the file's
  // status alone. Its device type would do too, but it reads the file's first bytes to find it,
  // through this very handle: through FUSE's FAT driver (fusefat) the writes that follow such a
  // read land beside the old bytes instead of on them.
  constexpr ULONG kFileFsSizeInformation = 3;
  LONGLONG sizes[3];
  IO_STATUS_BLOCK io;
  const NTSTATUS status =
      Nt().QueryVolumeInformationFile(handle, &io, sizes, sizeof sizes, kFileFsSizeInformation);
  if (status == kStatusInvalidDeviceRequest) return false;
  if (status < 0) throw FromStatus(status);
  return true;
}

// FNV-1a, 64 bits: a text's digest, for telling files apart by their paths.
uint64_t Digest(const Text& text) {
  uint64_t digest = 0xcbf29ce484222325;
  for (const wchar_t c : text) digest = (digest ^ static_cast<uint16_t>(c)) * 0x100000001b3;
  return digest;
}

}  // namespace

Failure FromStatus(NTSTATUS status) { return FailureFromWin32(Nt().StatusToDosError(status)); }

UNICODE_STRING Counted(const Text& text) {
  if (text.size() > kLongestSystemPath) {
    Failure failure = FailureFromWin32(ERROR_FILENAME_EXCED_RANGE);
    failure.description = L"This path is " + std::to_wstring(text.size()) +
                          L" characters long; Windows takes at most 32,767.";
    throw failure;
  }
  const auto bytes = static_cast<USHORT>(text.size() * sizeof(wchar_t));
  return UNICODE_STRING{bytes, bytes, const_cast<PWSTR>(text.c_str())};
}

Text NtPath(const Text& path) { return L"\\??\\" + path.substr(4); }

Look LookAt(HANDLE handle) {
  Look look{MustQuery<FILE_BASIC_INFO>(handle, kFileBasicInformation).FileAttributes, 0};
  if (look.attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    FILE_ATTRIBUTE_TAG_INFO tag;
    const NTSTATUS status = Query(handle, kFileAttributeTagInformation, tag);
    if (status >= 0) {
      look.tag = tag.ReparseTag;
    } else if (status != kStatusInvalidParameter) {
      throw FromStatus(status);
    }
  }
  return look;
}

void EnsureHoldsData(HANDLE handle) {
  if (!OnFileSystem(handle)) throw NotData();
}

void EnsureNamedOnFileSystem(HANDLE handle) {
  if (!OnFileSystem(handle)) throw NamesDevice();
  // A disk or a volume opened as a whole is a disk to the system too. But only a file or a folder
  // has a name within its volume, from its root ("\"): a file system answers no query about the
  // volume opened whole (FAT fails them all), a disk's own driver none at all.
  struct {
    ULONG length;
    WCHAR name[8];
  } name{};
  IO_STATUS_BLOCK io;
  const NTSTATUS status =
      Nt().QueryInformationFile(handle, &io, &name, sizeof name, kFileNameInformation);
  if ((status < 0 && status != kStatusBufferOverflow) || name.length < sizeof(WCHAR) ||
      name.name[0] != L'\\') {
    throw NamesDevice();
  }
}

FileNumber NumberOf(HANDLE handle, const Text& object_path) {
  FileNumber number;
  LARGE_INTEGER id;
  if (Nt().under_wine) {
    // Wine alone: the number is the inode. Wine's volume numbers cost a trip to its mount manager
    // (nearly a millisecond) and are 0 on a memory file system; the path it knows the file by
    // (links resolved) tells where the number holds.
    if (Query(handle, kFileInternalInformation, id) >= 0) number.id = id.QuadPart;
    number.scope = Digest(object_path.empty() ? ObjectPath(handle) : object_path);
    return number;
  }
  FILE_ID_INFO whole;
  if (Query(handle, kFileIdInformation, whole) >= 0) {
    number.scope = whole.VolumeSerialNumber;
    std::memcpy(&number.id, whole.FileId.Identifier, 8);
    std::memcpy(&number.high, whole.FileId.Identifier + 8, 8);
    return number;
  }
  // FAT gives only the 64-bit number, and the volume's serial number apart.
  if (Query(handle, kFileInternalInformation, id) < 0 || Missing(id.QuadPart)) return {};
  number.id = id.QuadPart;
  struct {
    LARGE_INTEGER created;
    ULONG serial;
    ULONG label_length;
    BOOLEAN objects;
    WCHAR label[32];
  } volume{};
  IO_STATUS_BLOCK io;
  const NTSTATUS status =
      Nt().QueryVolumeInformationFile(handle, &io, &volume, sizeof volume, 1);  // volume info
  if (status >= 0 || status == kStatusBufferOverflow) number.scope = volume.serial;
  return number;
}

ScopedHandle ReopenSame(HANDLE first, ACCESS_MASK access, ULONG options, ULONG share) {
  // Windows opens the very file again, whatever its name leads to by now. Wine alone opens it
  // again along the path the first was opened by, following whatever was put there since; the
  // number tells, and under Wine the name it will delete and rename the file by too.
  ScopedHandle again;
  const NTSTATUS status = OpenIn(first, Text(), access, options, again, share, /*follow=*/true);
  if (status < 0) throw FromStatus(status);
  if (NumberOf(again.get()) != NumberOf(first)) throw Changed();
  return again;
}

bool Missing(uint64_t id) { return id == 0 || id == ~uint64_t{0}; }

NTSTATUS OpenIn(HANDLE folder, const Text& name, ACCESS_MASK access, ULONG options,
                ScopedHandle& out, ULONG share, bool follow) {
  UNICODE_STRING unicode = Counted(name);
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &unicode, 0, folder, nullptr);
  IO_STATUS_BLOCK io;
  HANDLE handle = nullptr;
  const NTSTATUS status =
      Nt().CreateFile(&handle, access, &attributes, &io, nullptr, 0, share, FILE_OPEN,
                      options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT |
                          (follow ? 0 : FILE_OPEN_REPARSE_POINT),
                      nullptr, 0);
  if (status >= 0) out = ScopedHandle(handle);
  // Wine alone: it opens a file for writing to let its attributes be set, which a read-only file
  // refuses to anyone but root; a handle that only reads them sets them too (Wine changes the
  // file's mode through it), which is how its owner makes it writable, as on Windows.
  if (status == kStatusAccessDenied && access == kAttributeAccess && Nt().under_wine) {
    return OpenIn(folder, name, FILE_READ_ATTRIBUTES | SYNCHRONIZE, options, out, share, follow);
  }
  return status;
}

const Text& ReachableName(const FolderEntry& entry) {
  if (!Forbidden(entry.name)) return entry.name;
  if (entry.short_name.empty() || Forbidden(entry.short_name)) throw UnreachableName();
  return entry.short_name;
}

ScopedHandle OpenEntry(HANDLE folder, Text& folder_path, const FolderEntry& entry, const Text& path,
                       ACCESS_MASK access, ULONG options, ULONG share, Look& look, Text* unix_path,
                       Text* object_path) {
  const bool file = options & FILE_NON_DIRECTORY_FILE;
  const Text& name = ReachableName(entry);
  // Reached by its short name, an entry may meet another that has that very name: nothing then
  // proves it the entry listed, and it is reported by its own name, never passed over.
  bool by_short_name = &name != &entry.name;
  ScopedHandle handle;
  NTSTATUS status = OpenIn(folder, name, access, options, handle, share);
  if (status == kStatusObjectNameInvalid && !by_short_name && !entry.short_name.empty() &&
      !Forbidden(entry.short_name)) {
    status = OpenIn(folder, entry.short_name, access, options, handle, share);
    by_short_name = true;
  }
  const auto changed = [&] { return by_short_name ? ShortNameTaken() : Changed(); };
  // Wine alone: a name shown with U+FFFD stands for bytes that are not UTF-8, and opens whatever
  // file that text spells, or none.
  const bool mangled = Nt().under_wine && entry.name.find(L'\uFFFD') != Text::npos;
  if (status == kStatusObjectNameInvalid) throw UnreachableName();
  // Being deleted: gone as its last handle closes (this run's own, or another program's).
  if (status == kStatusDeletePending) throw FileNotFound();
  if (status == kStatusNoSuchDevice && Nt().under_wine) throw NotData();
  if (by_short_name && (status == kStatusNotADirectory || status == kStatusFileIsADirectory)) {
    throw ShortNameTaken();
  }
  if (status < 0) throw mangled ? UnreachableLinuxName() : FromStatus(status);
  if (file) EnsureHoldsData(handle.get());

  look = LookAt(handle.get());
  // A link stands there: skipped where the listing showed one, reported where it showed
  // something else, which was swapped for it since.
  const bool listed_link =
      (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsNameSurrogate(entry.reparse_tag);
  if ((look.attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsNameSurrogate(look.tag)) {
    if (listed_link) return ScopedHandle();
    throw changed();
  }
  // Wine alone: a link to a file is listed as a plain file, with its target's number, and opens
  // as its target; only the path of what was opened tells. (A folder swapped for a link after
  // the listing shows another number.) A file Wine cannot reach by a path is refused first:
  // its object path cannot be told either.
  if (Nt().under_wine && file) {
    if (unix_path) *unix_path = UnixNtPath(path);
    if (folder_path.empty()) folder_path = ObjectPath(folder);
    // Wine names a file opened by its short name by its long one.
    if (!IsEntryOf(folder_path, handle.get(), entry.name, object_path)) {
      folder_path = ObjectPath(folder);
      if (!IsEntryOf(folder_path, handle.get(), entry.name, object_path)) {
        // Wine takes the name of what it opened along the path at that moment: a link's
        // target's, or, while a folder on the path was swapped, another file's.
        if (FolderMovedFrom(NtPath(path.substr(0, path.rfind(L'\\'))), folder)) throw Changed();
        if (!by_short_name && NamedByItsObjectPath(handle.get())) return ScopedHandle();
        throw changed();
      }
    }
  }
  if (!IsListedEntry(handle.get(), entry)) throw mangled ? UnreachableLinuxName() : changed();
  return handle;
}

}  // namespace morvenit
