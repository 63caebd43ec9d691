// What Windows' own file systems answer and Wine never does, put in place of Wine's answers for
// the handful of calls involved, on real files: named streams under the sharing rule of an open
// that may delete the file, FAT's refused queries, cloud files, short names, entries whose
// number changed after the listing, names holding ":", an empty drive root, paths too long,
// compressed files, drives that number nothing (WinFsp's), and the process's modes at start.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include "platform/nt_calls.h"
#include "tests/unit/real_tree.h"

namespace morvenit {
namespace {

constexpr NTSTATUS kInvalidParameter = static_cast<NTSTATUS>(0xC000000D);
constexpr NTSTATUS kNameNotFound = static_cast<NTSTATUS>(0xC0000034);
constexpr NTSTATUS kSharingViolation = static_cast<NTSTATUS>(0xC0000043);
constexpr NTSTATUS kNoSuchFile = static_cast<NTSTATUS>(0xC000000F);
constexpr NTSTATUS kInvalidInfoClass = static_cast<NTSTATUS>(0xC0000003);
constexpr uint32_t kCloud = 0x9000001A;
constexpr ULONG kOpenReparsePoint = 0x00200000;

// Windows, as Microsoft documents its file systems, in place of Wine for one test. Files are
// known by their last name. A reparse tag of 0 stands for none: the attributes alone are added.
struct AsWindows {
  bool fat = false;                                       // FAT's driver answers only a few
  std::map<Text, std::pair<uint32_t, uint32_t>> reparse;  // attributes added and tag
  std::map<Text, fs::path> streams;                       // ":Zone.Identifier", kept here
  std::set<Text> stream_held;                             // by another program, unshared
  std::set<Text> renumbered;                              // listed with another number
  std::map<Text, Text> listed_as;                         // a name made on another system
  std::set<Text> roots;                                   // an empty drive root
  bool winfsp = false;                                    // no numbers, no 128-bit listing
  std::set<Text> refused_folders;                         // open only as part of a longer path
  std::set<Text> unnamed;  // answer no name within a volume, as a volume opened whole
  // What the test saw: opens that may delete a file and share no delete, by name; the options
  // of every open for writing of a reparse point; the classes FAT refused; each rename's folder
  // (the one its RootDirectory names) and new name.
  std::set<Text> deleters;
  std::vector<ULONG> reparse_write_opens;
  std::set<ULONG> refused;
  std::vector<std::pair<Text, Text>> renames;
  std::vector<Text> opened;    // every name asked to be opened, relative or whole
  CHAR placeholder_mode = -1;  // as the process set it

  AsWindows() : real_(NtForTests()) {
    current = this;
    NtCalls& calls = NtForTests();
    calls.under_wine = false;
    calls.CreateFile = CreateFile;
    calls.QueryInformationFile = QueryInformationFile;
    calls.SetInformationFile = SetInformationFile;
    calls.QueryDirectoryFile = QueryDirectoryFile;
    calls.QueryObject = QueryObject;
    calls.SetPlaceholderMode = [](CHAR mode) { return current->placeholder_mode = mode; };
  }
  ~AsWindows() {
    NtForTests() = real_;
    current = nullptr;
  }

 private:
  static inline AsWindows* current = nullptr;
  static inline std::map<HANDLE, Text> short_opens;  // handle -> the short name it was opened by

  static Text LastName(HANDLE handle) {
    std::vector<LONGLONG> buffer(70 * 1024 / sizeof(LONGLONG));
    ULONG length = 0;
    if (current->real_.QueryObject(handle, 1, buffer.data(),
                                   static_cast<ULONG>(buffer.size() * sizeof(LONGLONG)),
                                   &length) < 0) {
      return Text();
    }
    const auto* name = reinterpret_cast<const UNICODE_STRING*>(buffer.data());
    const Text path(name->Buffer, name->Length / sizeof(wchar_t));
    return path.substr(path.find_last_of(L'\\') + 1);
  }

  static NTSTATUS NTAPI CreateFile(HANDLE* handle, ACCESS_MASK access, OBJECT_ATTRIBUTES* object,
                                   IO_STATUS_BLOCK* io, LARGE_INTEGER* allocation, ULONG attributes,
                                   ULONG share, ULONG disposition, ULONG options, void* ea,
                                   ULONG ea_length) {
    AsWindows& w = *current;
    const Text name(object->ObjectName->Buffer, object->ObjectName->Length / sizeof(wchar_t));
    {
      std::lock_guard lock(w.mutex_);
      w.opened.push_back(name);
    }
    if (!name.empty() && name[0] == L':') {
      // A named stream, reached through its file.
      const Text file = LastName(object->RootDirectory);
      if (!w.streams.count(file)) return kNameNotFound;
      if (w.stream_held.count(file)) return kSharingViolation;
      if (w.deleters.count(file) && !(share & FILE_SHARE_DELETE)) return kSharingViolation;
      const Text kept = ToText(fs::path(w.streams.at(file)).make_preferred());
      UNICODE_STRING path{};
      const Text nt = L"\\??\\" + kept;
      path.Buffer = const_cast<PWSTR>(nt.c_str());
      path.Length = path.MaximumLength = static_cast<USHORT>(nt.size() * sizeof(wchar_t));
      OBJECT_ATTRIBUTES there;
      InitializeObjectAttributes(&there, &path, 0, nullptr, nullptr);
      return w.real_.CreateFile(handle, access, &there, io, allocation, attributes, share,
                                disposition, options, ea, ea_length);
    }
    if ((options & FILE_DIRECTORY_FILE) && !object->RootDirectory &&
        w.refused_folders.count(name.substr(name.find_last_of(L'\\') + 1))) {
      return static_cast<NTSTATUS>(0xC0000022);  // access denied
    }
    // Windows reads "a:b" as the stream "b" of the file "a".
    if (name.find(L':') != Text::npos && object->RootDirectory) return kNameNotFound;
    // A name made on another system, which the real file does not have.
    for (const auto& [real, shown] : w.listed_as) {
      if (name == shown) return static_cast<NTSTATUS>(0xC0000033);
    }
    const NTSTATUS status = w.real_.CreateFile(handle, access, object, io, allocation, attributes,
                                               share, disposition, options, ea, ea_length);
    if (status < 0) return status;
    short_opens.erase(*handle);
    if (name.find(L'~') != Text::npos) short_opens[*handle] = name;
    const Text file = LastName(*handle);
    if ((access & DELETE) && !(share & FILE_SHARE_DELETE)) w.deleters.insert(file);
    if (w.reparse.count(file) && (access & (GENERIC_WRITE | FILE_WRITE_DATA))) {
      w.reparse_write_opens.push_back(options);
    }
    return status;
  }

  static NTSTATUS NTAPI QueryInformationFile(HANDLE handle, IO_STATUS_BLOCK* io, void* out,
                                             ULONG length, ULONG info_class) {
    AsWindows& w = *current;
    // What FastFat's query-information routine answers: All, Basic, Standard, Internal, Ea,
    // Position, Name, AlternateName, NetworkOpen and NormalizedName.
    static const std::set<ULONG> kFat = {18, 4, 5, 6, 7, 14, 9, 21, 34, 48};
    if (w.fat && !kFat.count(info_class)) {
      std::lock_guard lock(w.mutex_);
      w.refused.insert(info_class);
      return kInvalidParameter;
    }
    const Text file = LastName(handle);
    if (info_class == kFileNameInformation && w.unnamed.count(file)) return kInvalidParameter;
    if (info_class == kFileStreamInformation && w.streams.count(file)) {
      const Text names[] = {L"::$DATA", L":Zone.Identifier:$DATA"};
      const uint64_t sizes[] = {0, fs::file_size(w.streams.at(file))};
      std::memset(out, 0, length);
      char* at = static_cast<char*>(out);
      for (int i = 0; i < 2; ++i) {
        auto* record = reinterpret_cast<FILE_STREAM_INFO*>(at);
        record->NextEntryOffset = i == 0 ? 64 + 32 : 0;
        record->StreamNameLength = static_cast<DWORD>(names[i].size() * sizeof(wchar_t));
        record->StreamSize.QuadPart = static_cast<LONGLONG>(sizes[i]);
        std::memcpy(record->StreamName, names[i].data(), record->StreamNameLength);
        at += record->NextEntryOffset;
      }
      return 0;
    }
    const NTSTATUS status = w.real_.QueryInformationFile(handle, io, out, length, info_class);
    if (status < 0 || !w.reparse.count(file)) return status;
    auto [attributes, tag] = w.reparse.at(file);
    if (tag) attributes |= kAttrReparsePoint;
    if (info_class == kFileBasicInformation) {
      static_cast<FILE_BASIC_INFO*>(out)->FileAttributes |= attributes;
    } else if (info_class == kFileAttributeTagInformation) {
      static_cast<FILE_ATTRIBUTE_TAG_INFO*>(out)->FileAttributes |= attributes;
      static_cast<FILE_ATTRIBUTE_TAG_INFO*>(out)->ReparseTag = tag;
    }
    return status;
  }

  static NTSTATUS NTAPI SetInformationFile(HANDLE handle, IO_STATUS_BLOCK* io, void* in,
                                           ULONG length, ULONG info_class) {
    AsWindows& w = *current;
    if (info_class == kFileRenameInformation) {
      const auto* rename = static_cast<const FILE_RENAME_INFO*>(in);
      std::lock_guard lock(w.mutex_);
      w.renames.emplace_back(rename->RootDirectory ? LastName(rename->RootDirectory) : Text(),
                             Text(rename->FileName, rename->FileNameLength / sizeof(wchar_t)));
    }
    return w.real_.SetInformationFile(handle, io, in, length, info_class);
  }

  static NTSTATUS NTAPI QueryDirectoryFile(HANDLE handle, HANDLE event, void* apc, void* context,
                                           IO_STATUS_BLOCK* io, void* out, ULONG length,
                                           ULONG info_class, BOOLEAN single, UNICODE_STRING* mask,
                                           BOOLEAN restart) {
    AsWindows& w = *current;
    if (w.roots.count(LastName(handle))) {
      return restart ? kNoSuchFile : static_cast<NTSTATUS>(0x80000006);
    }
    if (w.winfsp && info_class == kFileIdExtdDirectoryInformation) return kInvalidInfoClass;
    const NTSTATUS status = w.real_.QueryDirectoryFile(handle, event, apc, context, io, out, length,
                                                       info_class, single, mask, restart);
    if (status < 0 || info_class != kFileIdBothDirectoryInformation) return status;
    for (char* at = static_cast<char*>(out);;) {
      auto* record = reinterpret_cast<FILE_ID_BOTH_DIR_INFO*>(at);
      Text name(record->FileName, record->FileNameLength / sizeof(wchar_t));
      if (w.reparse.count(name)) {
        record->FileAttributes |=
            w.reparse.at(name).first | (w.reparse.at(name).second ? kAttrReparsePoint : 0);
        record->EaSize = w.reparse.at(name).second;
      }
      // Without numbers, what stands there now shows another length, or (a folder) other times.
      auto& proof = !w.winfsp                                   ? record->FileId
                    : (record->FileAttributes & kAttrDirectory) ? record->ChangeTime
                                                                : record->EndOfFile;
      if (w.renumbered.count(name)) proof.QuadPart += 1;
      if (w.winfsp) record->FileId.QuadPart = 0;
      if (w.listed_as.count(name)) {
        // Same length, so that the record keeps its size.
        const Text& shown = w.listed_as.at(name);
        std::memcpy(record->FileName, shown.data(), shown.size() * sizeof(wchar_t));
      }
      if (record->NextEntryOffset == 0) break;
      at += record->NextEntryOffset;
    }
    return status;
  }

  // A handle opened by a short name is named by that short name.
  static NTSTATUS NTAPI QueryObject(HANDLE handle, ULONG info_class, void* out, ULONG length,
                                    ULONG* returned) {
    const NTSTATUS status = current->real_.QueryObject(handle, info_class, out, length, returned);
    if (status < 0 || info_class != 1 || !short_opens.count(handle)) return status;
    auto* name = static_cast<UNICODE_STRING*>(out);
    Text path(name->Buffer, name->Length / sizeof(wchar_t));
    path = path.substr(0, path.find_last_of(L'\\') + 1) + short_opens.at(handle);
    std::memcpy(name->Buffer, path.data(), path.size() * sizeof(wchar_t));
    name->Length = static_cast<USHORT>(path.size() * sizeof(wchar_t));
    return status;
  }

  NtCalls real_;
  std::mutex mutex_;  // the calls come from the workers too
};

const std::string kPattern = "................ ................ ................ ................ ";

// The messages' numbers, as the boxes' titles give them.
std::vector<std::string> Boxes(const RealRun& r) {
  std::vector<std::string> numbers;
  for (const Text& message : r.env.messages) {
    numbers.push_back(Narrow(message.substr(0, message.find(L':'))));
  }
  return numbers;
}

// Downloads carry a Zone.Identifier stream. It opens while our own open may delete the file
// only if it shares delete; a stream that cannot be opened leaves the file as it was.
TEST(OnWindows, AFileWithAStreamIsRemovedWholeOrLeftUntouched) {
  RealRun r;
  AsWindows w;
  const fs::path download = r.tree.File("Downloads/setup.txt", "installer");
  const fs::path held = r.tree.File("Downloads/held.txt", "held data");
  w.streams[L"setup.txt"] = r.tree.File("kept/setup.zone", "[ZoneTransfer] HostUrl=a.example");
  w.streams[L"held.txt"] = r.tree.File("kept/held.zone", "[ZoneTransfer]");
  w.stream_held.insert(L"held.txt");

  ShredFile(r.run, ToText(download));
  ShredFile(r.run, ToText(held));
  FinishInFlight(r.run);

  EXPECT_FALSE(fs::exists(download));
  EXPECT_EQ(ReadAll(r.tree.root() / "kept/setup.zone").substr(0, 68), kPattern);
  EXPECT_EQ(ReadAll(held), "held data");
  EXPECT_EQ(ReadAll(r.tree.root() / "kept/held.zone"), "[ZoneTransfer]");
  EXPECT_EQ(r.window.label2, L"Processing folder");
}

// A USB stick: FAT refuses the named streams' query, which means none, and the 128-bit file
// number, where its 64-bit one serves; it would refuse the tag query too, but that is never asked
// where no file is a reparse point.
TEST(OnWindows, FatShredsEveryFileNamedAndWalked) {
  RealRun r;
  AsWindows w;
  w.fat = true;
  const fs::path named = r.tree.File("stick2/named.txt", "named");
  r.tree.File("stick/photos/a.jpg", "a");
  r.tree.File("stick/photos/old/b.jpg", "b");

  ProcessItems(r.run, {ToText(named), ToText(r.tree.root() / "stick")});

  EXPECT_TRUE(Take(r.tree.root()).files.empty());
  EXPECT_FALSE(r.AnyFileFailed());
  EXPECT_EQ(w.refused, (std::set<ULONG>{kFileStreamInformation, kFileIdInformation}));
}

// OneDrive: a file whose data is on the disk is shredded through the cloud filter (opened for
// writing without the reparse-point flag); an online-only one, or a deduplicated one, is left.
TEST(OnWindows, CloudFilesOnTheDiskGoOnlineOnlyOnesStay) {
  RealRun r;
  AsWindows w;
  for (const char* name : {"here.docx", "online.docx", "dedup.vhd"}) {
    r.tree.File(fs::path("OneDrive") / name, name);
    r.tree.File(fs::path("named") / name, name);
  }
  w.reparse[L"here.docx"] = {0, kCloud | 0x1000};
  w.reparse[L"online.docx"] = {kAttrOffline | kAttrRecallOnDataAccess, kCloud};
  w.reparse[L"dedup.vhd"] = {0, kReparseTagDedup};

  ProcessItems(
      r.run,
      {ToText(r.tree.root() / "named/here.docx"), ToText(r.tree.root() / "named/online.docx"),
       ToText(r.tree.root() / "named/dedup.vhd"), ToText(r.tree.root() / "OneDrive")});

  const std::set<fs::path> left = {"OneDrive/dedup.vhd", "OneDrive/online.docx", "named/dedup.vhd",
                                   "named/online.docx"};
  EXPECT_EQ(Take(r.tree.root()).files, left);
  EXPECT_EQ(ReadAll(r.tree.root() / "OneDrive/online.docx"), "online.docx");
  EXPECT_EQ(Boxes(r).front(), "1002");
  ASSERT_EQ(w.reparse_write_opens.size(), 2u);
  for (ULONG options : w.reparse_write_opens) EXPECT_FALSE(options & kOpenReparsePoint);
}

// An entry is proved by its number, not its name: one reached by its 8.3 name (which the handle
// then reports) is shredded; a subfolder or file whose number changed after the listing is
// reported and left; a name holding ":" is a stream on Windows, so it goes by its short name or
// is reported; so does a name the file system refuses as invalid. A drive served through WinFsp
// (a vault, a cloud or SSH drive) numbers nothing and refuses the 128-bit listing: there the
// listing's times and length prove the entries.
class Entries : public testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(OnWindows, Entries, testing::Bool());
TEST_P(Entries, AreProvedByTheirNumberOrTimes) {
  RealRun r;
  AsWindows w;
  w.winfsp = GetParam();
  r.tree.File("walked/far away name.txt", "by short name");
  r.tree.File("walked/swapped/inside.txt", "inside");
  r.tree.File("walked/renumbered.txt", "renumbered");
  r.tree.File("walked/a", "a");
  r.tree.File("walked/a:b.txt", "colon");  // under Wine, an ordinary file of that name
  r.tree.File("walked/refused name.txt", "refused");
  w.listed_as[L"far away name.txt"] = L"far*away?name.txt";
  w.listed_as[L"refused name.txt"] = L"refused name.tx ";
  w.renumbered = {L"swapped", L"renumbered.txt"};

  ProcessItems(r.run, {ToText(r.tree.root() / "walked")});

  // (A path holding ":" after its drive is no path to std::filesystem: the whole text is.)
  const auto there = [&](const char* name) {
    return fs::exists(ToPath(r.tree.text() + L"\\walked\\" + Text(name, name + strlen(name))));
  };
  EXPECT_FALSE(there("far away name.txt"));
  EXPECT_FALSE(there("refused name.txt"));
  EXPECT_FALSE(there("a"));
  EXPECT_TRUE(there("renumbered.txt"));
  EXPECT_TRUE(there("swapped\\inside.txt"));
  EXPECT_EQ(ReadAll(ToPath(r.tree.text() + L"\\walked\\a:b.txt")), "colon");
  // Each reason explained once, then the closing summary.
  EXPECT_EQ(Boxes(r), (std::vector<std::string>{"1003", "1004"}));
  EXPECT_EQ(r.window.summaries.size(), 1u);
}

// NTFS's compression and Windows' own (WOF) alike: the overwrite would land in new clusters, so
// both are left for one reason.
TEST(OnWindows, CompressedFilesOfEitherKindAreLeft) {
  RealRun r;
  AsWindows w;
  w.reparse = {{L"ntfs.doc", {kAttrCompressed, 0}}, {L"wof.exe", {0, kReparseTagWof}}};
  r.tree.File("packed/ntfs.doc", "ntfs");
  r.tree.File("packed/wof.exe", "wof");
  ProcessItems(r.run, {ToText(r.tree.root() / "packed")});
  EXPECT_EQ(Take(r.tree.root()).files.size(), 2u);
  ASSERT_EQ(r.window.summaries.size(), 1u);
  EXPECT_NE(r.window.summaries[0].first.find(L"\n2 files: data kept compressed"), Text::npos);
}

// At start: no box of Windows' own for a drive that is not ready (the modes already set stay),
// and placeholders seen as they are.
TEST(OnWindows, StartSetsTheProcessModes) {
  AsWindows w;
  const UINT before = ::SetErrorMode(SEM_NOGPFAULTERRORBOX);
  Env::Default().PrepareProcess();
  EXPECT_EQ(::SetErrorMode(before), UINT{SEM_NOGPFAULTERRORBOX | SEM_FAILCRITICALERRORS});
  EXPECT_EQ(w.placeholder_mode, 2);
}

// Renames go through the folder held open, to a bare name, and never over another file.
TEST(OnWindows, RenamesGoThroughTheFolderHeldOpen) {
  TempTree tree;
  AsWindows w;
  tree.File("f/mine.txt", "mine");
  tree.File("f/theirs.txt", "theirs");
  std::unique_ptr<Folder> folder = Env::Default().OpenNamedFolder(ToText(tree.root() / "f"));
  std::unique_ptr<OpenFile> file;
  for (const FolderEntry& entry : folder->List()) {
    if (entry.name == L"mine.txt") file = folder->OpenFileEntry(entry);
  }
  ASSERT_TRUE(file && file->RenamesInPlace());
  file->BeginWriting();
  EXPECT_THROW(file->Rename(L"theirs.txt"), Failure);
  file->Rename(L"0");
  EXPECT_EQ(Take(tree.root()).files, (std::set<fs::path>{"f/0", "f/theirs.txt"}));
  EXPECT_EQ(w.renames, (std::vector<std::pair<Text, Text>>{{L"f", L"theirs.txt"}, {L"f", L"0"}}));
  file->Delete();
  EXPECT_EQ(Take(tree.root()).files, (std::set<fs::path>{"f/theirs.txt"}));
}

// A named file is renamed through its folder, found from the file itself where the path given
// leads through a folder that cannot be opened; where none can be, the file is left, overwritten,
// and reported as one that could not be renamed, never deleted under its own name.
TEST(OnWindows, ANamedFileIsRenamedThroughItsRealFolderOrReported) {
  RealRun r;
  AsWindows w;
  const fs::path found = r.tree.File("real/found.txt", "found");
  ASSERT_TRUE(MakeLink(r.tree.root(), "real", "via"));
  const fs::path locked = r.tree.File("locked/locked.txt", "locked");
  w.refused_folders = {L"via", L"locked"};

  ProcessItems(r.run, {ToText(r.tree.root() / "via/found.txt"), ToText(locked)});

  EXPECT_FALSE(fs::exists(found));
  EXPECT_EQ(ReadAll(locked).substr(0, 68), kPattern);
  EXPECT_EQ(Boxes(r), std::vector<std::string>{"1020"});
  ASSERT_FALSE(w.renames.empty());
  for (const auto& [folder, name] : w.renames) EXPECT_EQ(folder, L"real") << Narrow(name);
}

// A symbolic link or a junction dropped is removed itself, through a handle on the reparse point:
// nothing is opened for writing through it, nothing it points to is walked.
TEST(OnWindows, ALinkOrAJunctionNamedIsRemovedItself) {
  RealRun r;
  AsWindows w;
  const fs::path link = r.tree.File("link.txt", "the link itself");
  const fs::path junction = r.tree.Folder("junction");
  w.reparse[L"link.txt"] = {0, kReparseTagSymlink};
  w.reparse[L"junction"] = {kAttrDirectory, 0xA0000003};  // IO_REPARSE_TAG_MOUNT_POINT

  ProcessItems(r.run, {ToText(link), ToText(junction)});

  EXPECT_FALSE(fs::exists(link));
  EXPECT_FALSE(fs::exists(junction));
  EXPECT_TRUE(w.reparse_write_opens.empty());
  EXPECT_TRUE(r.env.Paths("list").empty());
  EXPECT_FALSE(r.AnyFileFailed());
}

// A device is never written. Its own name, or a path inside one, is refused before anything is
// opened; a name Windows keeps for one is refused as such; anything else opened by its path is
// refused by what the system says it is: not a disk's file (a FIFO), or a disk or volume opened as
// a whole, which has no name within its volume.
TEST(OnWindows, DevicesAreRefusedUnopenedOrByWhatTheyAre) {
  RealRun r;
  AsWindows w;
  const fs::path fifo = r.tree.root() / "fifo";
  ASSERT_TRUE(RunLinux(L"/usr/bin/mkfifo", {LinuxPath(fifo)}, fifo));
  const fs::path volume = r.tree.File("volume", "a volume");
  const fs::path plain = r.tree.File("plain.txt", "plain");
  w.unnamed.insert(L"volume");

  ProcessItems(r.run, {L"\\\\.\\NUL", L"\\\\.\\pipe\\x", L"\\\\.\\COM1\\x", L"\\\\.\\C:", L"COM1",
                       ToText(fifo), ToText(volume), ToText(plain)});

  for (const Text& name : w.opened) {
    EXPECT_TRUE(name.find(L"NUL") == Text::npos && name.find(L"pipe") == Text::npos &&
                name.find(L"COM1") == Text::npos && name != L"\\??\\C:")
        << Narrow(name);
  }
  EXPECT_TRUE(Listed(fifo));
  EXPECT_EQ(ReadAll(volume), "a volume");
  EXPECT_FALSE(fs::exists(plain));
  EXPECT_EQ(Boxes(r), (std::vector<std::string>{"1010", "1012"}));
  EXPECT_EQ(r.run.left[kFailDevice].files, 6u);
}

// A drive root has no "." and "..": an empty one lists nothing, with no report. A path too long
// for the system's counted strings is reported as such, never cut.
TEST(OnWindows, EmptyRootsAndOverlongPaths) {
  RealRun r;
  AsWindows w;
  r.tree.Folder("root");
  w.roots.insert(L"root");
  ProcessItems(r.run, {ToText(r.tree.root() / "root")});
  EXPECT_FALSE(r.AnyFileFailed());
  EXPECT_TRUE(r.env.messages.empty());

  try {
    Env::Default().OpenNamedFile(r.tree.text() + L"\\" + Text(33000, L'x'));
    ADD_FAILURE() << "an overlong path opened";
  } catch (const Failure& failure) {
    EXPECT_NE(failure.description.find(L"32,767"), Text::npos) << Narrow(failure.description);
  }
}

}  // namespace
}  // namespace morvenit
