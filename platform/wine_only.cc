// Checks that exist for Wine alone, because Wine does by a file's path what Windows does by its
// handle. Nothing here runs on Windows.
#include "platform/wine_only.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/open_in_folder_windows.h"

namespace morvenit {

namespace {

// `path` as Wine may name what it leads to: every name in it without its trailing dots and spaces
// (Wine drops them from some names of a path and not from others).
Text WineSpelling(const Text& path) {
  Text spelled;
  for (size_t start = 0; start <= path.size();) {
    size_t end = path.find(L'\\', start);
    if (end == Text::npos) end = path.size();
    const Text name = path.substr(start, end - start);
    const size_t kept = name.find_last_not_of(L". ");
    spelled += kept == Text::npos ? name : name.substr(0, kept + 1);
    if (end < path.size()) spelled += L'\\';
    start = end + 1;
  }
  return spelled;
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

// What `path` shows (times, length), looked at without opening it. Returns the status.
NTSTATUS LookAlongPath(const Text& path, NetworkOpenInfo& there) {
  UNICODE_STRING unicode = Counted(path);
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &unicode, 0, nullptr, nullptr);
  return Nt().QueryFullAttributesFile(&attributes, &there);
}

// Where a path leads, against a folder held open: to it, elsewhere, or nobody can tell.
enum class Along { kHere, kElsewhere, kUnknown };

Along FolderAlong(const Text& path, HANDLE folder) {
  NetworkOpenInfo there;
  const NTSTATUS status = LookAlongPath(path, there);
  if (status == static_cast<NTSTATUS>(0xC0000034) || status == static_cast<NTSTATUS>(0xC000003A)) {
    return Along::kElsewhere;  // nothing by that name, or on that path, any more
  }
  FILE_BASIC_INFO seen;
  if (status < 0 || Query(folder, kFileBasicInformation, seen) < 0) return Along::kUnknown;
  return there.ChangeTime.QuadPart == seen.ChangeTime.QuadPart &&
                 there.LastWriteTime.QuadPart == seen.LastWriteTime.QuadPart &&
                 there.CreationTime.QuadPart == seen.CreationTime.QuadPart
             ? Along::kHere
             : Along::kElsewhere;
}

// Whether the path's folder part leads to the folder held open.
bool PathLeadsToFolder(const Text& unix_path, HANDLE folder) {
  return FolderAlong(unix_path.substr(0, unix_path.rfind(L'\\')), folder) == Along::kHere;
}

}  // namespace

bool FolderMovedFrom(const Text& object_path, HANDLE folder) {
  return FolderAlong(object_path, folder) == Along::kElsewhere;
}

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

bool IsEntryOf(Text folder, HANDLE handle, const Text& name, Text* object_path) {
  if (folder.back() != L'\\') folder += L'\\';
  const Text mine = ObjectPath(handle);
  if (object_path) *object_path = mine;
  return WineSpelling(mine) == WineSpelling(folder + name);
}

bool IsNamedEntry(HANDLE folder, const Text& folder_path, HANDLE handle, const Text& name,
                  const Text& path) {
  const Text folder_object = ObjectPath(folder);
  if (IsEntryOf(folder_object, handle, name)) return true;
  // Named in another spelling (other capitals, a short name): the entry Wine found by it, which
  // is the link itself where it is one.
  const Text unix_path = UnixNtPath(path);
  const Text found = unix_path.substr(unix_path.rfind(L'\\') + 1);
  if (found != name && IsEntryOf(folder_object, handle, found)) return true;
  if (FolderMovedFrom(NtPath(folder_path), folder)) throw Changed();
  return false;
}

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

DWORD WritesRefusedFor(const Text& unix_path) {
  const Text prefix = L"\\??\\unix";
  if (unix_path.rfind(prefix, 0) != 0) return 0;
  Text wide = unix_path.substr(prefix.size());
  std::replace(wide.begin(), wide.end(), L'\\', L'/');
  std::string path(wide.size() * 3, '\0');
  path.resize(::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                    path.data(), static_cast<int>(path.size()), nullptr, nullptr));
  // Linux's own list of what is mounted where, and how.
  const ScopedHandle mounts(::CreateFileW(L"\\\\?\\unix\\proc\\self\\mounts", GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
  if (!mounts.valid()) return 0;
  std::string text;
  char buffer[16384];
  DWORD n = 0;
  while (::ReadFile(mounts.get(), buffer, sizeof buffer, &n, nullptr) && n > 0) {
    text.append(buffer, n);
  }
  // Each line: device, mount point (a space written "\040"), type, options. The mount nearest the
  // file, the last of equals, is the one that holds it.
  size_t nearest = 0;
  DWORD refused = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    const size_t a = line.find(' '), b = line.find(' ', a + 1), c = line.find(' ', b + 1);
    if (c == std::string::npos) continue;
    std::string point;
    for (size_t i = a + 1; i < b; ++i) {
      if (line[i] == '\\' && i + 3 < b) {
        point += static_cast<char>(std::stoi(line.substr(i + 1, 3), nullptr, 8));
        i += 3;
      } else {
        point += line[i];
      }
    }
    const bool holds = point == "/" || path == point || path.rfind(point + "/", 0) == 0;
    if (!holds || point.size() < nearest) continue;
    nearest = point.size();
    std::string options(1, ',');
    options.append(line, c + 1, line.find(' ', c + 1) - c - 1).push_back(',');
    refused = options.find(",emergency_ro,") != std::string::npos ? ERROR_NOT_READY
              : options.find(",ro,") != std::string::npos         ? ERROR_WRITE_PROTECT
                                                                  : 0;
  }
  return refused;
}

// Wine deletes by the path a file was opened by, and quietly keeps the file when that path leads
// elsewhere by now (a folder on it renamed, something else put in its place): make sure the path
// still leads to this very file, or the file would stay unreported. Its times and length pin it
// down, the change time above all, which no program can set: a file reached through a folder
// swapped in was changed at another moment. One look along the path, where opening the file
// there would cost Wine three trips to its server.
void EnsurePathLeadsHere(WineFile& file, HANDLE data) {
  NetworkOpenInfo there;
  const NTSTATUS status = LookAlongPath(file.unix_path, there);
  // A name Windows forbids (reached by its short name) cannot be checked this way. A file open,
  // but not found along its path, was moved since, or a folder on its path was.
  if (status == kStatusObjectNameInvalid) return;
  if (status < 0) throw Changed();
  // The two plain queries through the handle itself: Wine answers the combined one by the path.
  const auto basic = MustQuery<FILE_BASIC_INFO>(data, kFileBasicInformation);
  const auto standard = MustQuery<FILE_STANDARD_INFO>(data, kFileStandardInformation);
  if (!SameFile(there, basic.ChangeTime, basic.LastWriteTime, basic.CreationTime,
                standard.EndOfFile)) {
    throw Changed();
  }
  file.checked = there;
  file.id = MustQuery<LARGE_INTEGER>(data, kFileInternalInformation).QuadPart;
}

// A Linux program takes no part in share modes, and may write to the file even now. What it wrote
// since the check before the delete would go unseen: one last look, as late as can be, keeps a
// file grown or written to (its times moved).
void EnsureUnchanged(const WineFile& file, HANDLE data, bool& delete_prepared) {
  if (!file.checked) return;
  const auto basic = MustQuery<FILE_BASIC_INFO>(data, kFileBasicInformation);
  const auto standard = MustQuery<FILE_STANDARD_INFO>(data, kFileStandardInformation);
  if (SameFile(*file.checked, basic.ChangeTime, basic.LastWriteTime, basic.CreationTime,
               standard.EndOfFile)) {
    return;
  }
  FILE_DISPOSITION_INFO keep{FALSE};
  if (::SetFileInformationByHandle(data, FileDispositionInfo, &keep, sizeof keep)) {
    delete_prepared = false;
    throw standard.EndOfFile.QuadPart != file.checked->EndOfFile.QuadPart ? KeepsGrowing()
                                                                          : WrittenAfter();
  }
  throw LastFailure();
}

// A delete that the system refuses (in a folder marked immutable, or one the user may not write)
// still reports success there, so one more look along the path tells. A file still there gets its
// attributes handle back, so that its attributes can be given back.
void ConfirmGone(const WineFile& file, HANDLE folder, const Text& name, ScopedHandle& attributes) {
  if (!file.checked) return;
  NetworkOpenInfo there;
  const NTSTATUS status = LookAlongPath(file.unix_path, there);
  const NetworkOpenInfo& was = *file.checked;
  const bool still_there = status >= 0 && SameFile(there, was.ChangeTime, was.LastWriteTime,
                                                   was.CreationTime, was.EndOfFile);
  ScopedHandle again;
  if (still_there) {
    OpenIn(nullptr, file.unix_path, kAttributeAccess, FILE_NON_DIRECTORY_FILE, again);
  } else if (folder && !PathLeadsToFolder(file.unix_path, folder)) {
    // The path no longer leads through our folder (it was moved, or swapped for a link): only
    // the folder itself can tell whether the file is still in it.
    OpenIn(folder, name, kAttributeAccess, FILE_NON_DIRECTORY_FILE, again);
  }
  LARGE_INTEGER id;
  if (!again.valid() || Query(again.get(), kFileInternalInformation, id) < 0 ||
      id.QuadPart != file.id) {
    if (still_there) throw NotDeleted();
    return;  // gone
  }
  attributes = std::move(again);
  throw NotDeleted();
}

}  // namespace morvenit
