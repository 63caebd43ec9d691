// The platform seam on Windows: the wide-character Win32 API throughout, so that every name
// arrives and is opened exactly as the user has it. Inside a walked folder everything is reached
// through the folder's own handle (NtCreateFile relative to it), never through a path.
#include "platform/win32.h"
// After <windows.h>, which it needs.
#include <winternl.h>

#include <algorithm>
#include <vector>

#include "platform/long_path.h"

// A file's times and length by its path, without opening it; ntdll has it on every Windows.
extern "C" NTSYSAPI NTSTATUS NTAPI NtQueryFullAttributesFile(POBJECT_ATTRIBUTES attributes,
                                                             void* information);

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
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE;
// Opening a file for its attributes alone is refused by no other program's share mode: the way in
// for a file that cannot be opened for writing at once.
constexpr DWORD kAttributeAccess = FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
// What the overwrite, its flush and the delete need.
constexpr DWORD kDataAccess = GENERIC_READ | GENERIC_WRITE | DELETE;

// FILE_NETWORK_OPEN_INFORMATION, which not every SDK declares.
struct NetworkOpenInfo {
  LARGE_INTEGER CreationTime, LastAccessTime, LastWriteTime, ChangeTime, AllocationSize, EndOfFile;
  ULONG FileAttributes;
};

// The system's counted form of `text`, which must outlive it.
UNICODE_STRING Counted(const Text& text) {
  const auto bytes = static_cast<USHORT>(text.size() * sizeof(wchar_t));
  return UNICODE_STRING{bytes, bytes, const_cast<PWSTR>(text.c_str())};
}

// The system's own form of an extended-length path ("\\?\C:\..." -> "\??\C:\...").
Text NtPath(const Text& path) { return L"\\??\\" + path.substr(4); }

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

// The name the system knows an open file or folder by: its whole path as the system's own
// objects name it (a link resolved), in a form only ever compared with another of its kind. One
// call, where the Win32 final path costs Wine a round through its mount manager and stops at the
// classic length.
Text ObjectPath(HANDLE handle) {
  thread_local std::vector<LONGLONG> name(70 * 1024 / sizeof(LONGLONG));
  ULONG length = 0;
  const NTSTATUS status =
      ::NtQueryObject(handle, static_cast<OBJECT_INFORMATION_CLASS>(1),  // ObjectNameInformation
                      name.data(), static_cast<ULONG>(name.size() * sizeof(LONGLONG)), &length);
  if (status < 0) throw FailureFromWin32(::RtlNtStatusToDosError(status));
  const auto* unicode = reinterpret_cast<const UNICODE_STRING*>(name.data());
  return Text(unicode->Buffer, unicode->Length / sizeof(wchar_t));
}

FILE_ATTRIBUTE_TAG_INFO TagInfo(HANDLE handle) {
  FILE_ATTRIBUTE_TAG_INFO info;
  if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof info)) {
    throw LastFailure();
  }
  return info;
}

// Whether the handle opened as `name` in the folder whose object path is `folder` is that entry
// itself: a link is opened as its target wherever the system follows it (Wine always does), and
// its path then lies elsewhere.
bool IsEntryOf(Text folder, HANDLE handle, const Text& name) {
  if (folder.back() != L'\\') folder += L'\\';
  const Text mine = ObjectPath(handle);
  if (mine == folder + name) return true;
  // Wine's names drop a name's trailing dots and spaces.
  const size_t kept = name.find_last_not_of(L". ");
  return kept != Text::npos && mine == folder + name.substr(0, kept + 1);
}

// Opens `name` inside `folder`, never following a link the system would resolve itself. Returns
// the status instead of raising.
NTSTATUS OpenIn(HANDLE folder, const Text& name, ACCESS_MASK access, ULONG options,
                ScopedHandle& out, ULONG share = kShareAll) {
  UNICODE_STRING unicode = Counted(name);
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &unicode, 0, folder, nullptr);
  IO_STATUS_BLOCK io;
  HANDLE handle = nullptr;
  const NTSTATUS status =
      ::NtCreateFile(&handle, access, &attributes, &io, nullptr, 0, share, FILE_OPEN,
                     options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT |
                         FILE_OPEN_FOR_BACKUP_INTENT,
                     nullptr, 0);
  if (status >= 0) out = ScopedHandle(handle);
  return status;
}

// Opens the entry by its name, or by its short name where Windows forbids the long one (a name
// made on another system, holding "*", "?" or a tab). Returns null when the entry is a link.
// `folder_path` is the folder's object path, as last seen; it is looked up again when it no
// longer fits (the folder was renamed meanwhile).
ScopedHandle OpenEntry(HANDLE folder, Text& folder_path, const FolderEntry& entry,
                       ACCESS_MASK access, ULONG options, ULONG share = kShareAll) {
  ScopedHandle handle;
  NTSTATUS status = OpenIn(folder, entry.name, access, options, handle, share);
  if (status == kStatusObjectNameInvalid) {
    if (entry.short_name.empty()) throw UnreachableName();
    status = OpenIn(folder, entry.short_name, access, options, handle, share);
  }
  if (status < 0) throw FailureFromWin32(::RtlNtStatusToDosError(status));

  const FILE_ATTRIBUTE_TAG_INFO tag = TagInfo(handle.get());
  if (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    if (IsNameSurrogate(tag.ReparseTag)) return ScopedHandle();
    if (!(tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) throw StoredElsewhere();
  }
  if (folder_path.empty()) folder_path = ObjectPath(folder);
  if (IsEntryOf(folder_path, handle.get(), entry.name)) return handle;
  folder_path = ObjectPath(folder);
  if (IsEntryOf(folder_path, handle.get(), entry.name)) return handle;
  return ScopedHandle();
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
  // `path`: the file's whole path as it was reached, every name exactly as listed.
  // `data`: the file already open for writing, if it is (then `attributes` is not needed).
  WindowsFile(ScopedHandle attributes, Text path, ScopedHandle data = ScopedHandle())
      : attributes_(std::move(attributes)), data_(std::move(data)), path_(std::move(path)) {}

  FileInfo Info() override {
    // Two plain queries: the whole handle information costs Wine a look at the volume too.
    FILE_BASIC_INFO basic;
    FILE_STANDARD_INFO standard;
    if (!::GetFileInformationByHandleEx(Handle(), FileBasicInfo, &basic, sizeof basic) ||
        !::GetFileInformationByHandleEx(Handle(), FileStandardInfo, &standard, sizeof standard)) {
      throw LastFailure();
    }
    return {basic.FileAttributes, static_cast<uint64_t>(standard.EndOfFile.QuadPart),
            standard.NumberOfLinks};
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
    // The same file again, whatever its name leads to by now; shared with nobody, so no one reads
    // a half-overwritten file and nobody else's handle keeps it alive after the delete.
    ScopedHandle data(::ReOpenFile(attributes_.get(), kDataAccess, 0, 0));
    if (!data.valid()) throw LastFailure();
    data_ = std::move(data);
  }

  void Write(const char* data, size_t size) override { WriteAll(data_.get(), data, size); }

  std::vector<StreamInfo> Streams() override {
    std::vector<LONGLONG> buffer(64 * 1024 / sizeof(LONGLONG));
    if (!::GetFileInformationByHandleEx(data_.get(), FileStreamInfo, buffer.data(),
                                        static_cast<DWORD>(buffer.size() * sizeof(LONGLONG)))) {
      // No streams at all, or a file system (or Wine) that keeps or shows none.
      const DWORD error = ::GetLastError();
      if (error == ERROR_HANDLE_EOF || error == ERROR_INVALID_FUNCTION ||
          error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED) {
        return {};
      }
      throw LastFailure();
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
    // Reached through the file itself, never through a path.
    ScopedHandle stream;
    const NTSTATUS status =
        OpenIn(data_.get(), L":" + name + L":$DATA", GENERIC_READ | GENERIC_WRITE | SYNCHRONIZE,
               FILE_NON_DIRECTORY_FILE, stream, 0);
    if (status < 0) throw FailureFromWin32(::RtlNtStatusToDosError(status));
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

  void Rename(const Text& name) override {
    // A bare name would be taken relative to the current directory by Wine: give the whole path.
    const Text target = path_.substr(0, path_.rfind(L'\\') + 1) + name;
    const Text nt = NtPath(target);
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + nt.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(nt.size() * sizeof(wchar_t));
    std::copy(nt.begin(), nt.end(), rename->FileName);
    if (!::SetFileInformationByHandle(data_.get(), FileRenameInfo, rename,
                                      static_cast<DWORD>(buffer.size()))) {
      throw LastFailure();
    }
    path_ = target;
  }

  void Delete() override {
    PrepareDelete();
    Close();  // Windows deletes the file as its last handle closes
  }

  void PrepareDelete() override {
    if (delete_prepared_) return;
    EnsurePathLeadsHere();
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!::SetFileInformationByHandle(data_.get(), FileDispositionInfo, &disposition,
                                      sizeof disposition)) {
      throw LastFailure();
    }
    delete_prepared_ = true;
  }

 private:
  // Wine deletes by the path a file was opened by, and quietly keeps the file when that path
  // leads elsewhere by now (a folder on it renamed, something else put in its place): make sure
  // the path still leads to this very file, or the file would stay unreported. Its times
  // and length pin it down, the change time above all, which no program can set: a file reached
  // through a folder swapped in was changed at another moment. One look along the path, where
  // opening the file there would cost Wine three trips to its server.
  void EnsurePathLeadsHere() {
    const Text nt = NtPath(path_);
    UNICODE_STRING unicode = Counted(nt);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &unicode, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    NetworkOpenInfo there;
    const NTSTATUS status = ::NtQueryFullAttributesFile(&attributes, &there);
    // A name Windows forbids (reached by its short name) cannot be checked this way.
    if (status == kStatusObjectNameInvalid) return;
    if (status < 0) throw FailureFromWin32(::RtlNtStatusToDosError(status));
    // The two plain queries through the handle itself: Wine answers the combined one by the path.
    FILE_BASIC_INFO basic;
    FILE_STANDARD_INFO standard;
    if (!::GetFileInformationByHandleEx(data_.get(), FileBasicInfo, &basic, sizeof basic) ||
        !::GetFileInformationByHandleEx(data_.get(), FileStandardInfo, &standard,
                                        sizeof standard)) {
      throw LastFailure();
    }
    if (there.ChangeTime.QuadPart != basic.ChangeTime.QuadPart ||
        there.LastWriteTime.QuadPart != basic.LastWriteTime.QuadPart ||
        there.CreationTime.QuadPart != basic.CreationTime.QuadPart ||
        there.EndOfFile.QuadPart != standard.EndOfFile.QuadPart) {
      throw FailureFromWin32(ERROR_FILE_INVALID);
    }
  }

  HANDLE Handle() const { return attributes_.valid() ? attributes_.get() : data_.get(); }

  ScopedHandle attributes_;
  ScopedHandle data_;
  Text path_;
  bool delete_prepared_ = false;  // marked to go when `data_` closes
};

class WindowsFolder : public Folder {
 public:
  // `path`: the folder's whole path as it was reached, extended-length, every name as listed.
  WindowsFolder(ScopedHandle handle, Text path)
      : handle_(std::move(handle)), path_(std::move(path)) {}

  std::vector<FolderEntry> List() override {
    std::vector<FolderEntry> entries;
    // Whole records, aligned as the system writes them.
    std::vector<LONGLONG> buffer(64 * 1024 / sizeof(LONGLONG));
    for (FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;;
         kind = FileIdBothDirectoryInfo) {
      if (!::GetFileInformationByHandleEx(handle_.get(), kind, buffer.data(),
                                          static_cast<DWORD>(buffer.size() * sizeof(LONGLONG)))) {
        if (::GetLastError() == ERROR_NO_MORE_FILES) return entries;
        throw LastFailure();
      }
      for (const char* at = reinterpret_cast<const char*>(buffer.data());;) {
        const auto* record = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
        FolderEntry entry;
        entry.name.assign(record->FileName, record->FileNameLength / sizeof(wchar_t));
        entry.short_name.assign(record->ShortName, record->ShortNameLength / sizeof(wchar_t));
        entry.attributes = record->FileAttributes;
        // For a reparse point the listing gives its tag where extended attributes would be.
        if (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) entry.reparse_tag = record->EaSize;
        if (entry.name != L"." && entry.name != L"..") entries.push_back(std::move(entry));
        if (record->NextEntryOffset == 0) break;
        at += record->NextEntryOffset;
      }
    }
  }

  std::unique_ptr<Folder> OpenSubfolder(const FolderEntry& entry) override {
    ScopedHandle handle =
        OpenEntry(handle_.get(), object_path_, entry, kFolderAccess, FILE_DIRECTORY_FILE);
    if (!handle.valid()) return nullptr;
    return std::make_unique<WindowsFolder>(std::move(handle), PathOf(entry));
  }

  std::unique_ptr<OpenFile> OpenFileEntry(const FolderEntry& entry) override {
    // Most files open for writing at once, which saves Wine two more trips to its server a file.
    // Nothing is written before the handle is known to be the entry itself; a file that is
    // read-only, or open elsewhere, is opened for its attributes and reopened for writing later.
    try {
      ScopedHandle handle = OpenEntry(handle_.get(), object_path_, entry,
                                      kAttributeAccess | kDataAccess, FILE_NON_DIRECTORY_FILE, 0);
      if (!handle.valid()) return nullptr;
      return std::make_unique<WindowsFile>(ScopedHandle(), PathOf(entry), std::move(handle));
    } catch (const Failure& failure) {
      if (failure.number != kFailAccess) throw;
    }
    ScopedHandle handle =
        OpenEntry(handle_.get(), object_path_, entry, kAttributeAccess, FILE_NON_DIRECTORY_FILE);
    if (!handle.valid()) return nullptr;
    return std::make_unique<WindowsFile>(std::move(handle), PathOf(entry));
  }

 private:
  Text PathOf(const FolderEntry& entry) const {
    return path_ + (path_.back() == L'\\' ? L"" : L"\\") + entry.name;
  }

  ScopedHandle handle_;
  Text path_;
  Text object_path_;  // as last looked up; empty until the first entry is opened
};

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
    ScopedHandle file(::CreateFileW(full.c_str(), kAttributeAccess, kShareAll, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    if (!file.valid()) throw LastFailure();
    // Only a file on a disk: never a device, a pipe or a console.
    if (::GetFileType(file.get()) != FILE_TYPE_DISK ||
        (TagInfo(file.get()).FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      throw AccessRefused();
    }
    return std::make_unique<WindowsFile>(std::move(file), full);
  }

  std::unique_ptr<Folder> OpenNamedFolder(const Text& path) override {
    const Text full = SystemPath(path);
    ScopedHandle folder(::CreateFileW(full.c_str(), kFolderAccess, kShareAll, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder.valid()) throw LastFailure();
    if (!(TagInfo(folder.get()).FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
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
