// The platform seam on Windows: the wide-character API throughout, so that every name arrives and
// is opened exactly as the user has it. Inside a walked folder everything is reached through the
// folder's own handle (NtCreateFile relative to it), never through a path, and proved to be the
// entry listed by its number in the volume; a file is renamed through the folder that holds it.
#include <algorithm>
#include <array>
#include <cwchar>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "platform/long_path.h"
#include "platform/nt_calls.h"

#ifndef FILE_OPEN_REPARSE_POINT
#define FILE_OPEN_REPARSE_POINT 0x00200000
#endif
#ifndef FILE_OPEN_FOR_BACKUP_INTENT
#define FILE_OPEN_FOR_BACKUP_INTENT 0x00004000
#endif
#ifndef FILE_DIRECTORY_FILE
#define FILE_DIRECTORY_FILE 0x00000001
#endif
#ifndef FILE_NON_DIRECTORY_FILE
#define FILE_NON_DIRECTORY_FILE 0x00000040
#endif
#ifndef FILE_SYNCHRONOUS_IO_NONALERT
#define FILE_SYNCHRONOUS_IO_NONALERT 0x00000020
#endif
#ifndef FILE_OPEN
#define FILE_OPEN 0x00000001
#endif

namespace morvenit {

namespace {

constexpr NTSTATUS kStatusObjectNameInvalid = static_cast<NTSTATUS>(0xC0000033);
constexpr NTSTATUS kStatusInvalidParameter = static_cast<NTSTATUS>(0xC000000D);
constexpr NTSTATUS kStatusNoSuchFile = static_cast<NTSTATUS>(0xC000000F);
constexpr NTSTATUS kStatusNoMoreFiles = static_cast<NTSTATUS>(0x80000006);
constexpr NTSTATUS kStatusBufferOverflow = static_cast<NTSTATUS>(0x80000005);
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE;
// Opening a file for its attributes alone is refused by no other program's share mode: the way in
// for a file that cannot be opened for writing at once.
constexpr DWORD kAttributeAccess = FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
// What the overwrite, its flush, the renames and the delete need.
constexpr DWORD kDataAccess = GENERIC_READ | GENERIC_WRITE | DELETE;
// The longest name the system's counted strings hold, in characters.
constexpr size_t kLongestSystemPath = 32767;

// FILE_NETWORK_OPEN_INFORMATION, which not every SDK declares.
struct NetworkOpenInfo {
  LARGE_INTEGER CreationTime, LastAccessTime, LastWriteTime, ChangeTime, AllocationSize, EndOfFile;
  ULONG FileAttributes;
};

Failure FromStatus(NTSTATUS status) { return FailureFromWin32(Nt().StatusToDosError(status)); }

// The system's counted form of `text`, which must outlive it. A text too long for it is refused,
// never cut: a path cut short names another file.
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

// The system's own form of an extended-length path ("\\?\C:\..." -> "\??\C:\...").
Text NtPath(const Text& path) { return L"\\??\\" + path.substr(4); }

// Wine alone: the file's path in Wine's own namespace of Linux paths ("\\??\\unix\\..."). There a
// name that is not found is simply not found; by a drive letter, Wine would read the whole folder
// in search of a name that differs only in case. A name Linux keeps in bytes that are not UTF-8
// has no such path, and keeps its usual one. Raises TooDeep() when Wine cannot reach the file by
// any path (Linux takes at most 4,096 bytes a path, Wine's own folder in front included), and
// Changed() when the path does not lead to the file.
Text UnixNtPath(const Text& path) {
  using ToUnix = NTSTATUS(CDECL*)(const OBJECT_ATTRIBUTES*, char*, ULONG*, UINT);
  static const auto to_unix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_nt_to_unix_file_name")));
  if (!to_unix) return NtPath(path);
  const Text nt = NtPath(path);
  UNICODE_STRING unicode = Counted(nt);
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &unicode, 0, nullptr, nullptr);
  thread_local std::vector<char> unix_path(8192);
  ULONG size = static_cast<ULONG>(unix_path.size());
  // Wine fails the look-up of a Linux path too long with "unsuccessful"; a file open, but not
  // found along its path, was moved since, or a folder on its path was.
  const NTSTATUS status = to_unix(&attributes, unix_path.data(), &size, FILE_OPEN);
  if (status == static_cast<NTSTATUS>(0xC0000001)) throw TooDeep();
  if (status < 0) throw Changed();
  constexpr UINT kUnixCodePage = 65010;  // Wine's name for the code page of Linux's names
  const int length =
      ::MultiByteToWideChar(kUnixCodePage, MB_ERR_INVALID_CHARS, unix_path.data(), -1, nullptr, 0);
  if (length <= 0) return nt;
  Text wide(length, L'\0');
  ::MultiByteToWideChar(kUnixCodePage, 0, unix_path.data(), -1, wide.data(), length);
  wide.resize(length - 1);
  std::replace(wide.begin(), wide.end(), L'/', L'\\');
  return L"\\??\\unix" + wide;
}

Text CurrentFolder() {
  Text folder(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data());
    if (n == 0) throw LastFailure();
    if (n < folder.size()) {
      folder.resize(n);
      return folder;
    }
    folder.resize(n);
  }
}

// Another drive's current directory, which Windows keeps in the hidden variable "=D:".
Text DriveFolder(wchar_t drive) {
  const wchar_t name[] = {L'=', drive, L':', L'\0'};
  wchar_t value[MAX_PATH];
  const DWORD n = ::GetEnvironmentVariableW(name, value, MAX_PATH);
  return n > 0 && n < MAX_PATH ? Text(value, n) : Text();
}

// Every path reaches the system absolute and extended-length, so that it is taken literally.
Text SystemPath(const Text& path) {
  return ExtendedLengthPath(ResolvePath(path, CurrentFolder(), DriveFolder));
}

template <typename Info>
NTSTATUS Query(HANDLE handle, ULONG info_class, Info& info) {
  IO_STATUS_BLOCK io;
  return Nt().QueryInformationFile(handle, &io, &info, sizeof info, info_class);
}

template <typename Info>
Info MustQuery(HANDLE handle, ULONG info_class) {
  Info info;
  const NTSTATUS status = Query(handle, info_class, info);
  if (status < 0) throw FromStatus(status);
  return info;
}

// What an open file or folder is: its attributes, which every file system gives, and for a
// reparse point its tag. FAT answers no tag query ("invalid parameter"): it has no reparse points.
struct Look {
  uint32_t attributes = 0;
  uint32_t tag = 0;
};

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

// Only a file that holds data: never a device, a pipe or a socket. Linux keeps those in folders
// and Wine opens each as a file, a block device as a disk, which the pattern would overwrite
// whole; Wine tells them apart by the kind of device it gives them (a file system's for files).
void EnsureHoldsData(HANDLE handle) {
  if (!Nt().under_wine) {
    if (::GetFileType(handle) != FILE_TYPE_DISK) throw NotData();
    return;
  }
  struct {
    ULONG type;
    ULONG characteristics;
  } device{};
  IO_STATUS_BLOCK io;
  const NTSTATUS status =
      Nt().QueryVolumeInformationFile(handle, &io, &device, sizeof device, 4);  // device info
  if (status < 0) throw FromStatus(status);
  constexpr ULONG kFileSystems[] = {0x3, 0x8, 0x14};  // a CD's, a disk's, a network's
  if (std::find(std::begin(kFileSystems), std::end(kFileSystems), device.type) ==
      std::end(kFileSystems)) {
    throw NotData();
  }
}

// Wine alone: a Linux socket cannot be opened at all ("no such device").
constexpr NTSTATUS kStatusNoSuchDevice = static_cast<NTSTATUS>(0xC000000E);

// A file number the file system did not give: ReFS numbers that need 128 bits.
bool Missing(uint64_t id) { return id == 0 || id == ~uint64_t{0}; }

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
  // A listing that numbers nothing leaves only the open that follows no link.
  return true;
}

// The name the system knows an open file or folder by: its whole path as the system's own
// objects name it (a link resolved), in a form only ever compared with another of its kind.
Text ObjectPath(HANDLE handle) {
  thread_local std::vector<LONGLONG> name(70 * 1024 / sizeof(LONGLONG));
  ULONG length = 0;
  const NTSTATUS status =
      Nt().QueryObject(handle, 1,  // ObjectNameInformation
                       name.data(), static_cast<ULONG>(name.size() * sizeof(LONGLONG)), &length);
  if (status < 0) throw FromStatus(status);
  const auto* unicode = reinterpret_cast<const UNICODE_STRING*>(name.data());
  return Text(unicode->Buffer, unicode->Length / sizeof(wchar_t));
}

// Wine alone: whether the handle opened as `name` in the folder whose object path is `folder` is
// that entry itself. There a link to a file opens as its target, and neither the listing nor the
// handle shows a reparse point or a number of its own; only the path of what was opened differs.
bool IsEntryOf(Text folder, HANDLE handle, const Text& name) {
  if (folder.back() != L'\\') folder += L'\\';
  const Text mine = ObjectPath(handle);
  if (mine == folder + name) return true;
  // Wine's names drop a name's trailing dots and spaces.
  const size_t kept = name.find_last_not_of(L". ");
  return kept != Text::npos && mine == folder + name.substr(0, kept + 1);
}

// Whether what a path showed is the same file as that of these times and length. The change time
// above all pins a file down: no program can set it.
bool SameFile(const NetworkOpenInfo& there, LARGE_INTEGER change, LARGE_INTEGER write,
              LARGE_INTEGER creation, LARGE_INTEGER length) {
  return there.ChangeTime.QuadPart == change.QuadPart &&
         there.LastWriteTime.QuadPart == write.QuadPart &&
         there.CreationTime.QuadPart == creation.QuadPart &&
         there.EndOfFile.QuadPart == length.QuadPart;
}

// Wine alone: whether the file open is the one its object path leads to now, by its times and
// length, seen along the path and through the handle.
bool NamedByItsObjectPath(HANDLE handle) {
  const Text path = ObjectPath(handle);
  UNICODE_STRING unicode = Counted(path);
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &unicode, 0, nullptr, nullptr);
  NetworkOpenInfo there;
  if (Nt().QueryFullAttributesFile(&attributes, &there) < 0) return false;
  const auto basic = MustQuery<FILE_BASIC_INFO>(handle, kFileBasicInformation);
  const auto standard = MustQuery<FILE_STANDARD_INFO>(handle, kFileStandardInformation);
  return SameFile(there, basic.ChangeTime, basic.LastWriteTime, basic.CreationTime,
                  standard.EndOfFile);
}

// Opens `name` inside `folder` (a path when `folder` is null), never following a link the system
// would resolve itself unless `follow`. Returns the status instead of raising.
NTSTATUS OpenIn(HANDLE folder, const Text& name, ACCESS_MASK access, ULONG options,
                ScopedHandle& out, ULONG share = kShareAll, bool follow = false) {
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
  return status;
}

// Whether Windows forbids `name` in a file name. Wine alone lets a ":" through: Wine 8 keeps no
// named streams, and opens such a name (made on Linux) as it is.
bool Forbidden(const Text& name) {
  const wchar_t* forbidden = Nt().under_wine ? L"\"*/<>?\\|" : L"\"*/:<>?\\|";
  return std::any_of(name.begin(), name.end(),
                     [&](wchar_t c) { return c < 0x20 || std::wcschr(forbidden, c) != nullptr; });
}

// The name to open the entry by: its own, or where Windows forbids that (a name made on another
// system) its 8.3 short name. Raises UnreachableName() when neither will do.
const Text& ReachableName(const FolderEntry& entry) {
  if (!Forbidden(entry.name)) return entry.name;
  if (entry.short_name.empty() || Forbidden(entry.short_name)) throw UnreachableName();
  return entry.short_name;
}

// A folder held open, shared by the folder object that walks it and the files found in it, which
// are renamed through it.
using SharedHandle = std::shared_ptr<ScopedHandle>;

// Opens the entry of `folder` by the name it can be reached by, following no link. Returns null
// when it is a link, as listed; raises Changed() when it is not the entry listed. `path` is the
// entry's whole path; for a file under Wine, `unix_path` gets it in Linux's terms. `folder_path`
// is the folder's object path as last seen (Wine alone), looked up again when it no longer fits
// (the folder was renamed meanwhile).
ScopedHandle OpenEntry(HANDLE folder, Text& folder_path, const FolderEntry& entry, const Text& path,
                       ACCESS_MASK access, ULONG options, ULONG share, Look& look,
                       Text* unix_path = nullptr) {
  const bool file = options & FILE_NON_DIRECTORY_FILE;
  const Text& name = ReachableName(entry);
  ScopedHandle handle;
  NTSTATUS status = OpenIn(folder, name, access, options, handle, share);
  if (status == kStatusObjectNameInvalid && &name == &entry.name && !entry.short_name.empty() &&
      !Forbidden(entry.short_name)) {
    status = OpenIn(folder, entry.short_name, access, options, handle, share);
  }
  // Wine alone: a name shown with U+FFFD stands for bytes that are not UTF-8, and opens whatever
  // file that text spells, or none.
  const bool mangled = Nt().under_wine && entry.name.find(L'\uFFFD') != Text::npos;
  if (status == kStatusObjectNameInvalid) throw UnreachableName();
  if (status == kStatusNoSuchDevice && Nt().under_wine) throw NotData();
  if (status < 0) throw mangled ? UnreachableLinuxName() : FromStatus(status);
  if (file) EnsureHoldsData(handle.get());

  look = LookAt(handle.get());
  // A link stands there: skipped where the listing showed one, reported where it showed
  // something else, which was swapped for it since.
  const bool listed_link =
      (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsNameSurrogate(entry.reparse_tag);
  if ((look.attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsNameSurrogate(look.tag)) {
    if (listed_link) return ScopedHandle();
    throw Changed();
  }
  // Wine alone: a link to a file is listed as a plain file, with its target's number, and opens
  // as its target; only the path of what was opened tells. (A folder swapped for a link after
  // the listing shows another number.) A file Wine cannot reach by a path is refused first:
  // its object path cannot be told either.
  if (Nt().under_wine && file) {
    if (unix_path) *unix_path = UnixNtPath(path);
    if (folder_path.empty()) folder_path = ObjectPath(folder);
    // Wine names a file opened by its short name by its long one.
    if (!IsEntryOf(folder_path, handle.get(), entry.name)) {
      folder_path = ObjectPath(folder);
      if (!IsEntryOf(folder_path, handle.get(), entry.name)) {
        // Wine takes the name of what it opened along the path at that moment: a link's
        // target's, or, while a folder on the path was swapped, another file's.
        if (NamedByItsObjectPath(handle.get())) return ScopedHandle();
        throw Changed();
      }
    }
  }
  if (!IsListedEntry(handle.get(), entry)) throw mangled ? UnreachableLinuxName() : Changed();
  return handle;
}

void WriteAll(HANDLE handle, const char* data, size_t size) {
  while (size > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(handle, data, chunk, &written, nullptr)) throw LastFailure();
    if (written == 0) throw FailureFromWin32(ERROR_DISK_FULL);
    data += written;
    size -= written;
  }
}

// A named data stream, open for writing.
class WindowsStream : public Writable {
 public:
  explicit WindowsStream(ScopedHandle stream) : stream_(std::move(stream)) {}
  void Write(const char* data, size_t size) override { WriteAll(stream_.get(), data, size); }
  void Flush() override {
    if (!::FlushFileBuffers(stream_.get())) throw LastFailure();
  }
  void Close() override {
    if (stream_.valid() && !::CloseHandle(stream_.release())) throw LastFailure();
  }

 private:
  ScopedHandle stream_;
};

class WindowsFile : public OpenFile {
 public:
  // `attributes`: the file open for its attributes, or `data`: open for writing already.
  // `folder`: the folder that holds it under `name`, held open, or null where it is not known
  // (a link the user named). `path`: its whole path as it was reached; `unix_path`, under Wine,
  // the same in Linux's terms where it is known already.
  WindowsFile(ScopedHandle attributes, ScopedHandle data, SharedHandle folder, Text name, Text path,
              Text unix_path = Text())
      : attributes_(std::move(attributes)),
        data_(std::move(data)),
        folder_(std::move(folder)),
        name_(std::move(name)),
        path_(std::move(path)),
        unix_path_(std::move(unix_path)) {
    if (Nt().under_wine && unix_path_.empty()) unix_path_ = UnixNtPath(path_);
  }

  FileInfo Info() override {
    // Two plain queries: the whole handle information costs Wine a look at the volume too.
    const auto basic = MustQuery<FILE_BASIC_INFO>(Handle(), kFileBasicInformation);
    const auto standard = MustQuery<FILE_STANDARD_INFO>(Handle(), kFileStandardInformation);
    FileInfo info{basic.FileAttributes, static_cast<uint64_t>(standard.EndOfFile.QuadPart),
                  standard.NumberOfLinks};
    if (info.attributes & FILE_ATTRIBUTE_REPARSE_POINT) info.reparse_tag = LookAt(Handle()).tag;
    return info;
  }

  void SetAttributes(uint32_t attributes) override {
    FILE_BASIC_INFO basic{};  // times of zero are left as they are
    basic.FileAttributes = attributes;
    if (!::SetFileInformationByHandle(Handle(), FileBasicInfo, &basic, sizeof basic)) {
      throw LastFailure();
    }
  }

  void BeginWriting() override {
    if (data_.valid()) return;
    // The same file again, whatever its name leads to by now, and through whatever filter keeps
    // its data (a cloud file's sees the writes); shared with nobody, so no one reads a
    // half-overwritten file and nobody else's handle keeps it alive after the delete.
    ScopedHandle data;
    const NTSTATUS status = OpenIn(attributes_.get(), Text(), kDataAccess | SYNCHRONIZE,
                                   FILE_NON_DIRECTORY_FILE, data, 0, /*follow=*/true);
    if (status < 0) throw FromStatus(status);
    data_ = std::move(data);
  }

  void Write(const char* data, size_t size) override { WriteAll(data_.get(), data, size); }

  std::vector<StreamInfo> Streams() override {
    std::vector<LONGLONG> buffer(8 * 1024);
    NTSTATUS status;
    for (;;) {
      IO_STATUS_BLOCK io;
      status = Nt().QueryInformationFile(data_.get(), &io, buffer.data(),
                                         static_cast<ULONG>(buffer.size() * sizeof(LONGLONG)),
                                         kFileStreamInformation);
      if (status != kStatusBufferOverflow) break;
      buffer.resize(buffer.size() * 2);
    }
    if (status < 0) {
      // No streams at all, or a file system (FAT, Wine) that keeps or shows none.
      const DWORD error = Nt().StatusToDosError(status);
      if (error == ERROR_HANDLE_EOF || error == ERROR_INVALID_FUNCTION ||
          error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
          error == ERROR_CALL_NOT_IMPLEMENTED) {
        return {};
      }
      throw FromStatus(status);
    }
    std::vector<StreamInfo> streams;
    for (const char* at = reinterpret_cast<const char*>(buffer.data());;) {
      const auto* record = reinterpret_cast<const FILE_STREAM_INFO*>(at);
      // ":name:$DATA"; the main stream is "::$DATA".
      const Text full(record->StreamName, record->StreamNameLength / sizeof(wchar_t));
      const size_t type = full.rfind(L":$DATA");
      if (full.size() > 1 && type != Text::npos && type > 1) {
        streams.push_back(
            {full.substr(1, type - 1), static_cast<uint64_t>(record->StreamSize.QuadPart)});
      }
      if (record->NextEntryOffset == 0) break;
      at += record->NextEntryOffset;
    }
    return streams;
  }

  std::unique_ptr<Writable> OpenStream(const Text& name) override {
    // Reached through the file itself, never through a path. While our own open of the file may
    // delete it, the file system lets another stream of it open only if that open lets it.
    ScopedHandle stream;
    const NTSTATUS status =
        OpenIn(data_.get(), L":" + name + L":$DATA", GENERIC_READ | GENERIC_WRITE | SYNCHRONIZE,
               FILE_NON_DIRECTORY_FILE, stream, FILE_SHARE_DELETE);
    if (status < 0) throw FromStatus(status);
    return std::make_unique<WindowsStream>(std::move(stream));
  }

  void Flush() override {
    if (!::FlushFileBuffers(data_.get())) throw LastFailure();
  }

  void Close() override {
    attributes_.Reset();
    if (!data_.valid()) return;
    if (!::CloseHandle(data_.release())) throw LastFailure();
  }

  // Wine renames a file from the path it was opened by, checking nothing: a folder on that path
  // swapped for a link would have the rename move a file that was never named.
  bool RenamesInPlace() override { return folder_ && !Nt().under_wine; }

  void Rename(const Text& name) override {
    if (!RenamesInPlace()) throw FailureFromWin32(ERROR_NOT_SUPPORTED);
    // A bare name relative to the folder held open: the file cannot be moved anywhere else.
    UNICODE_STRING counted = Counted(name);
    std::vector<LONGLONG> buffer(
        (sizeof(FILE_RENAME_INFO) + counted.Length + sizeof(LONGLONG) - 1) / sizeof(LONGLONG));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = folder_->get();
    rename->FileNameLength = counted.Length;
    std::copy(name.begin(), name.end(), rename->FileName);
    IO_STATUS_BLOCK io;
    const NTSTATUS status = Nt().SetInformationFile(
        data_.get(), &io, rename, static_cast<ULONG>(buffer.size() * sizeof(LONGLONG)),
        kFileRenameInformation);
    if (status < 0) throw FromStatus(status);
    path_ = path_.substr(0, path_.size() - name_.size()) + name;
    name_ = name;
  }

  void Delete() override {
    PrepareDelete();
    if (Nt().under_wine) EnsureNotGrown();
    Close();  // the file goes as its last handle closes
    if (Nt().under_wine) ConfirmGone();
  }

  void PrepareDelete() override {
    if (delete_prepared_) return;
    if (Nt().under_wine) EnsurePathLeadsHere();
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!::SetFileInformationByHandle(data_.get(), FileDispositionInfo, &disposition,
                                      sizeof disposition)) {
      throw LastFailure();
    }
    delete_prepared_ = true;
  }

 private:
  // Wine alone: Wine deletes by the path a file was opened by, and quietly keeps the file when
  // that path leads elsewhere by now (a folder on it renamed, something else put in its place):
  // make sure the path still leads to this very file, or the file would stay unreported. Its
  // times and length pin it down, the change time above all, which no program can set: a file
  // reached through a folder swapped in was changed at another moment. One look along the path,
  // where opening the file there would cost Wine three trips to its server.
  void EnsurePathLeadsHere() {
    NetworkOpenInfo there;
    const NTSTATUS status = LookAlongPath(unix_path_, there);
    // A name Windows forbids (reached by its short name) cannot be checked this way. A file open,
    // but not found along its path, was moved since, or a folder on its path was.
    if (status == kStatusObjectNameInvalid) return;
    if (status < 0) throw Changed();
    // The two plain queries through the handle itself: Wine answers the combined one by the path.
    const auto basic = MustQuery<FILE_BASIC_INFO>(data_.get(), kFileBasicInformation);
    const auto standard = MustQuery<FILE_STANDARD_INFO>(data_.get(), kFileStandardInformation);
    if (!SameFile(there, basic.ChangeTime, basic.LastWriteTime, basic.CreationTime,
                  standard.EndOfFile)) {
      throw Changed();
    }
    checked_ = there;
    id_ = MustQuery<LARGE_INTEGER>(data_.get(), kFileInternalInformation).QuadPart;
  }

  // Wine alone: a Linux program takes no part in share modes, and may add to the file even now.
  // What it added since the check before the delete would go unseen: one last look, as late as
  // can be, keeps such a file.
  void EnsureNotGrown() {
    if (!checked_) return;
    const auto standard = MustQuery<FILE_STANDARD_INFO>(data_.get(), kFileStandardInformation);
    if (standard.EndOfFile.QuadPart == checked_->EndOfFile.QuadPart) return;
    FILE_DISPOSITION_INFO keep{FALSE};
    if (::SetFileInformationByHandle(data_.get(), FileDispositionInfo, &keep, sizeof keep)) {
      delete_prepared_ = false;
      throw KeepsGrowing();
    }
    throw LastFailure();
  }

  // Wine alone: a delete that the system refuses (in a folder marked immutable, or one the user
  // may not write) still reports success there, so one more look along the path tells. A file
  // still there gets its attributes handle back, so that its attributes can be given back.
  void ConfirmGone() {
    if (!checked_) return;
    NetworkOpenInfo there;
    const NTSTATUS status = LookAlongPath(unix_path_, there);
    const NetworkOpenInfo& was = *checked_;
    const bool still_there = status >= 0 && SameFile(there, was.ChangeTime, was.LastWriteTime,
                                                     was.CreationTime, was.EndOfFile);
    ScopedHandle again;
    if (still_there) {
      OpenIn(nullptr, unix_path_, kAttributeAccess, FILE_NON_DIRECTORY_FILE, again);
    } else if (folder_ && !PathLeadsToFolder()) {
      // The path no longer leads through our folder (it was moved, or swapped for a link): only
      // the folder itself can tell whether the file is still in it.
      OpenIn(folder_->get(), name_, kAttributeAccess, FILE_NON_DIRECTORY_FILE, again);
    }
    LARGE_INTEGER id;
    if (!again.valid() || Query(again.get(), kFileInternalInformation, id) < 0 ||
        id.QuadPart != id_) {
      if (still_there) throw NotDeleted();
      return;  // gone
    }
    attributes_ = std::move(again);
    throw NotDeleted();
  }

  // Whether the path's folder part leads to the folder held open: the same times, seen along the
  // path and through the handle.
  bool PathLeadsToFolder() const {
    NetworkOpenInfo there;
    if (LookAlongPath(unix_path_.substr(0, unix_path_.rfind(L'\\')), there) < 0) return false;
    FILE_BASIC_INFO folder;
    if (Query(folder_->get(), kFileBasicInformation, folder) < 0) return false;
    return there.ChangeTime.QuadPart == folder.ChangeTime.QuadPart &&
           there.LastWriteTime.QuadPart == folder.LastWriteTime.QuadPart &&
           there.CreationTime.QuadPart == folder.CreationTime.QuadPart;
  }

  static NTSTATUS LookAlongPath(const Text& path, NetworkOpenInfo& there) {
    UNICODE_STRING unicode = Counted(path);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &unicode, 0, nullptr, nullptr);
    return Nt().QueryFullAttributesFile(&attributes, &there);
  }

  HANDLE Handle() const { return attributes_.valid() ? attributes_.get() : data_.get(); }

  ScopedHandle attributes_;
  ScopedHandle data_;
  SharedHandle folder_;
  Text name_;
  Text path_;
  bool delete_prepared_ = false;  // marked to go when `data_` closes
  // Wine alone: the path in Linux's terms (found at the open, where a file Wine cannot reach by
  // a path is refused before a byte is written), and what it showed before the delete.
  Text unix_path_;
  std::optional<NetworkOpenInfo> checked_;
  LONGLONG id_ = 0;
};

class WindowsFolder : public Folder {
 public:
  // `path`: the folder's whole path as it was reached, extended-length, every name as listed.
  WindowsFolder(ScopedHandle handle, Text path)
      : handle_(std::make_shared<ScopedHandle>(std::move(handle))), path_(std::move(path)) {}

  std::vector<FolderEntry> List() override {
    std::vector<FolderEntry> entries;
    bool long_ids = false;
    ForEachRecord<FILE_ID_BOTH_DIR_INFO>(
        kFileIdBothDirectoryInformation, [&](const FILE_ID_BOTH_DIR_INFO& record) {
          FolderEntry entry;
          entry.name.assign(record.FileName, record.FileNameLength / sizeof(wchar_t));
          if (entry.name == L"." || entry.name == L"..") return;
          entry.short_name.assign(record.ShortName, record.ShortNameLength / sizeof(wchar_t));
          entry.attributes = record.FileAttributes;
          // For a reparse point the listing gives its tag where extended attributes would be.
          // Wine alone lists a link to a folder as a reparse point of no kind: its only kind.
          if (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            entry.reparse_tag = record.EaSize;
            if (Nt().under_wine && entry.reparse_tag == 0) entry.reparse_tag = kReparseTagSymlink;
          }
          entry.id = static_cast<uint64_t>(record.FileId.QuadPart);
          if (Missing(entry.id)) long_ids = true;
          entries.push_back(std::move(entry));
        });
    if (long_ids) {
      // ReFS numbers its files in 128 bits; where the short number is missing, the long one.
      ForEachRecord<FILE_ID_EXTD_DIR_INFO>(
          kFileIdExtdDirectoryInformation, [&](const FILE_ID_EXTD_DIR_INFO& record) {
            const Text name(record.FileName, record.FileNameLength / sizeof(wchar_t));
            for (FolderEntry& entry : entries) {
              if (entry.name == name && Missing(entry.id)) {
                std::copy(std::begin(record.FileId.Identifier), std::end(record.FileId.Identifier),
                          entry.long_id.begin());
              }
            }
          });
    }
    return entries;
  }

  std::unique_ptr<Folder> OpenSubfolder(const FolderEntry& entry) override {
    Look look;
    ScopedHandle handle = OpenEntry(handle_->get(), object_path_, entry, PathOf(entry),
                                    kFolderAccess, FILE_DIRECTORY_FILE, kShareAll, look);
    if (!handle.valid()) return nullptr;
    return std::make_unique<WindowsFolder>(std::move(handle), PathOf(entry));
  }

  std::unique_ptr<OpenFile> OpenFileEntry(const FolderEntry& entry) override {
    // Most files open for writing at once, which saves Wine two more trips to its server a file.
    // Nothing is written before the handle is known to be the entry itself. A file that is
    // read-only, open elsewhere, or a reparse point (whose filter must see the writes) is opened
    // for its attributes, and for writing later.
    Look look;
    Text unix_path;
    if (!(entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      try {
        ScopedHandle handle =
            OpenEntry(handle_->get(), object_path_, entry, PathOf(entry),
                      kAttributeAccess | kDataAccess, FILE_NON_DIRECTORY_FILE, 0, look, &unix_path);
        if (!handle.valid()) return nullptr;
        if (!(look.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
          return std::make_unique<WindowsFile>(ScopedHandle(), std::move(handle), handle_,
                                               ReachableName(entry), PathOf(entry), unix_path);
        }
      } catch (const Failure& failure) {
        if (failure.number != kFailAccess) throw;
      }
    }
    ScopedHandle handle =
        OpenEntry(handle_->get(), object_path_, entry, PathOf(entry), kAttributeAccess,
                  FILE_NON_DIRECTORY_FILE, kShareAll, look, &unix_path);
    if (!handle.valid()) return nullptr;
    return std::make_unique<WindowsFile>(std::move(handle), ScopedHandle(), handle_,
                                         ReachableName(entry), PathOf(entry), unix_path);
  }

 private:
  // Calls `each` for every record of the folder's listing of kind `info_class`. An empty drive
  // root lists nothing at all: it has no "." and "..".
  template <typename Record, typename Each>
  void ForEachRecord(ULONG info_class, Each each) {
    std::vector<LONGLONG> buffer(64 * 1024 / sizeof(LONGLONG));  // whole records, aligned
    for (BOOLEAN restart = TRUE;; restart = FALSE) {
      IO_STATUS_BLOCK io;
      const NTSTATUS status =
          Nt().QueryDirectoryFile(handle_->get(), nullptr, nullptr, nullptr, &io, buffer.data(),
                                  static_cast<ULONG>(buffer.size() * sizeof(LONGLONG)), info_class,
                                  FALSE, nullptr, restart);
      if (status == kStatusNoMoreFiles || (restart && status == kStatusNoSuchFile)) return;
      if (status < 0) throw FromStatus(status);
      for (const char* at = reinterpret_cast<const char*>(buffer.data());;) {
        const auto* record = reinterpret_cast<const Record*>(at);
        each(*record);
        if (record->NextEntryOffset == 0) break;
        at += record->NextEntryOffset;
      }
    }
  }

  Text PathOf(const FolderEntry& entry) const {
    return path_ + (path_.back() == L'\\' ? L"" : L"\\") + ReachableName(entry);
  }

  SharedHandle handle_;
  Text path_;
  Text object_path_;  // Wine alone: as last looked up; empty until the first entry is opened
};

// Splits a whole path into the folder that holds its last name, and that name.
std::pair<Text, Text> SplitLast(const Text& path) {
  const size_t cut = path.rfind(L'\\');
  Text folder = path.substr(0, cut);
  if (folder.size() == 6 && folder.back() == L':') folder += L'\\';  // "\\?\C:" is no folder
  return {folder, path.substr(cut + 1)};
}

class WindowsEnv : public Env {
 public:
  Text ProgramFolder() override {
    Text path(MAX_PATH, L'\0');
    for (;;) {
      const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
      if (n < path.size()) {
        path.resize(n);
        break;
      }
      path.resize(path.size() * 2);
    }
    path.resize(path.find_last_of(L"\\/") == Text::npos ? 0 : path.find_last_of(L"\\/"));
    if (path.size() == 2 && path[1] == L':') path += L'\\';  // a drive root keeps its backslash
    return path;
  }

  Text CommandLine() override { return ::GetCommandLineW(); }

  uint32_t GetAttributes(const Text& path) override {
    const DWORD attributes = ::GetFileAttributesW(SystemPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) throw LastFailure();
    return attributes;
  }

  std::unique_ptr<OpenFile> OpenNamedFile(const Text& path) override {
    const Text full = SystemPath(path);
    const auto [folder_path, name] = SplitLast(full);
    // The folder that holds it, held open for the renames; a folder that can be passed through
    // but not opened only costs the renames.
    SharedHandle folder;
    if (!Nt().under_wine) {
      ScopedHandle handle;
      if (OpenIn(nullptr, NtPath(folder_path), FILE_TRAVERSE | SYNCHRONIZE, FILE_DIRECTORY_FILE,
                 handle, kShareAll, /*follow=*/true) >= 0) {
        folder = std::make_shared<ScopedHandle>(std::move(handle));
      }
    }
    ScopedHandle file;
    NTSTATUS status = folder ? OpenIn(folder->get(), name, kAttributeAccess, 0, file)
                             : OpenIn(nullptr, NtPath(full), kAttributeAccess, 0, file);
    if (status == kStatusNoSuchDevice && Nt().under_wine) throw NotData();
    if (status < 0) throw FromStatus(status);
    // Wine opens a link as its target, and a special file fails the look that follows.
    if (Nt().under_wine) EnsureHoldsData(file.get());
    Look look = LookAt(file.get());
    if ((look.attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsNameSurrogate(look.tag)) {
      // A link the user named leads to the file meant: follow it, as the system would. The
      // folder that holds that file is not known, so it is not renamed.
      folder.reset();
      status = OpenIn(nullptr, NtPath(full), kAttributeAccess, 0, file, kShareAll, true);
      if (status < 0) throw FromStatus(status);
      look = LookAt(file.get());
    }
    if (look.attributes & FILE_ATTRIBUTE_DIRECTORY) throw AccessRefused();
    if (!Nt().under_wine) EnsureHoldsData(file.get());
    return std::make_unique<WindowsFile>(std::move(file), ScopedHandle(), std::move(folder), name,
                                         full);
  }

  std::unique_ptr<Folder> OpenNamedFolder(const Text& path) override {
    const Text full = SystemPath(path);
    ScopedHandle folder;
    const NTSTATUS status =
        OpenIn(nullptr, NtPath(full), kFolderAccess, 0, folder, kShareAll, /*follow=*/true);
    if (status < 0) throw FromStatus(status);
    if (!(LookAt(folder.get()).attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      throw FailureFromWin32(ERROR_DIRECTORY);
    }
    return std::make_unique<WindowsFolder>(std::move(folder), full);
  }

  Text FullPath(const Text& path) override {
    return ResolvePath(path, CurrentFolder(), DriveFolder);
  }

  void SetCurrentFolder(const Text& folder) override {
    // The current directory takes no extended-length path; the classic form serves where it fits.
    const Text path = ResolvePath(folder, CurrentFolder(), DriveFolder);
    if (path.size() < kClassicPathLimit - 1 && ::SetCurrentDirectoryW(path.c_str())) return;
    if (!::SetCurrentDirectoryW(ExtendedLengthPath(path).c_str())) throw LastFailure();
  }

  double SecondsSinceMidnight() override {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    return now.wHour * 3600.0 + now.wMinute * 60.0 + now.wSecond + now.wMilliseconds / 1000.0;
  }

  uint64_t NowMicros() override {
    LARGE_INTEGER count, frequency;
    ::QueryPerformanceCounter(&count);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<uint64_t>(count.QuadPart / frequency.QuadPart * 1000000 +
                                 count.QuadPart % frequency.QuadPart * 1000000 /
                                     frequency.QuadPart);
  }

  void PumpMessages() override {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) continue;  // only start-up ends the program
      // Tab moves the focus between a window's controls, as in a dialog.
      const HWND root = msg.hwnd ? ::GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
      if (root && ::IsDialogMessageW(root, &msg)) continue;
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }

  void WaitForMessages(int max_ms) override {
    ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(std::max(max_ms, 0)), QS_ALLINPUT,
                                  MWMO_INPUTAVAILABLE);
  }

  void ShowMessage(const Text& text, const Text& title) override {
    ::MessageBoxW(nullptr, text.c_str(), title.c_str(), MB_OK | MB_TASKMODAL | MB_SETFOREGROUND);
  }
};

}  // namespace

Env& Env::Default() {
  static WindowsEnv env;
  return env;
}

}  // namespace morvenit
