// The Env on Windows: what the user named, the current folder, the clocks, the message pump and
// the message box. The wide-character API throughout, so that every name arrives and is opened
// exactly as the user has it.
#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <memory>
#include <utility>

#include "platform/file_windows.h"
#include "platform/folder_windows.h"
#include "platform/long_path.h"
#include "platform/open_in_folder_windows.h"
#include "platform/wine_only.h"

namespace morvenit {

namespace {

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

// What Windows' classic reading makes of `path` where that is a device: a name Windows keeps for
// one ("CON", "nul.txt", "COM1  ") or a path in the device namespace ("\\.\X") reads as
// "\\.\X". Empty where it reads as a file's path.
Text DeviceReading(const Text& path) {
  Text full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n =
        ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0) return Text();
    if (n < full.size()) {
      full.resize(n);
      break;
    }
    full.resize(n);
  }
  return full.rfind(L"\\\\.\\", 0) == 0 ? full : Text();
}

// `path` made absolute. A name Windows reads as a device is taken as Windows takes it, and so
// refused, never as a file of that name; every other name is kept exactly as given (the classic
// reading drops trailing dots and spaces, and so names another file).
Text Resolved(const Text& path) {
  Text device = DeviceReading(path);
  if (!device.empty()) return device;
  return ResolvePath(path, CurrentFolder(), DriveFolder);
}

// Whether a path made absolute lies in Windows' namespace of devices ("\\.\").
bool InDeviceNamespace(const Text& resolved) { return resolved.rfind(L"\\\\.\\", 0) == 0; }

// Whether a path made absolute in the namespace of devices names a file or folder on a drive or a
// volume ("\\.\C:\...", "\\.\Volume{...}\..."); any other path there leads into a device (a
// pipe, a port), which opening already acts on.
bool OnAVolume(const Text& resolved) {
  const size_t end = resolved.find(L'\\', 4);
  if (end == Text::npos) return false;
  const Text first = resolved.substr(4, end - 4);
  const bool drive = first.size() == 2 && first[1] == L':' && std::iswalpha(first[0]);
  return drive || (first.size() > 8 && ::_wcsnicmp(first.c_str(), L"Volume{", 7) == 0 &&
                   first.back() == L'}');
}

// Every path reaches the system absolute and extended-length, so that it is taken literally.
Text SystemPath(const Text& path) {
  const Text resolved = Resolved(path);
  if (InDeviceNamespace(resolved)) return L"\\\\?\\" + resolved.substr(4);
  return ExtendedLengthPath(resolved);
}

// Splits a whole path into the folder that holds its last name, and that name.
// A root keeps its backslash: "\\?\C:", "\\?\Volume{...}" or "\\?\UNC\srv\share" alone names
// the volume or the share, no folder.
std::pair<Text, Text> SplitLast(const Text& path) {
  const size_t cut = path.rfind(L'\\');
  Text folder = path.substr(0, cut);
  const auto starts = [&](const wchar_t* prefix) {
    return ::CompareStringOrdinal(folder.c_str() + 4, static_cast<int>(std::wcslen(prefix)), prefix,
                                  -1, TRUE) == CSTR_EQUAL;
  };
  const size_t names = std::count(folder.begin() + 4, folder.end(), L'\\') + 1;
  if (names <= ((starts(L"UNC\\") || starts(L"GLOBALROOT\\")) ? 3u : 1u)) folder += L'\\';
  return {folder, path.substr(cut + 1)};
}

// Opens the folder `folder_path` (links along it followed), to be held; returns the status. Wine
// alone asks for the right to flush it too, where that is granted.
NTSTATUS OpenFolder(const Text& folder_path, SharedHandle& folder) {
  if (folder_path.size() <= 4) return kStatusObjectNameInvalid;
  ScopedHandle handle;
  NTSTATUS status = -1;
  if (Nt().under_wine) {
    status = OpenIn(nullptr, NtPath(folder_path), kFolderFlushAccess | FILE_TRAVERSE | SYNCHRONIZE,
                    FILE_DIRECTORY_FILE, handle, kShareAll, /*follow=*/true);
  }
  if (status < 0) {
    status = OpenIn(nullptr, NtPath(folder_path), FILE_TRAVERSE | SYNCHRONIZE, FILE_DIRECTORY_FILE,
                    handle, kShareAll, /*follow=*/true);
  }
  if (status >= 0) folder = std::make_shared<ScopedHandle>(std::move(handle));
  return status;
}

// The folder that holds the file or folder open as `named`, held open, found from the open file
// where the path given leads through a folder that cannot be opened: by the file's own final
// path, and proved by the file's number there; its name in that folder goes to `name`. Null
// where none is found.
SharedHandle FolderOfFile(HANDLE named, Text& name) {
  for (const DWORD volume : {VOLUME_NAME_DOS, VOLUME_NAME_GUID}) {
    Text final(MAX_PATH, L'\0');
    DWORD n = ::GetFinalPathNameByHandleW(named, final.data(), static_cast<DWORD>(final.size()),
                                          FILE_NAME_NORMALIZED | volume);
    if (n >= final.size()) {
      final.resize(n);
      n = ::GetFinalPathNameByHandleW(named, final.data(), static_cast<DWORD>(final.size()),
                                      FILE_NAME_NORMALIZED | volume);
    }
    if (n == 0 || n >= final.size()) continue;
    final.resize(n);
    const auto [folder_path, last] = SplitLast(final);
    SharedHandle folder;
    ScopedHandle again;
    if (OpenFolder(folder_path, folder) < 0 ||
        OpenIn(folder->get(), last, FILE_READ_ATTRIBUTES | SYNCHRONIZE, 0, again) < 0 ||
        NumberOf(again.get()) != NumberOf(named)) {
      continue;
    }
    name = last;
    return folder;
  }
  return nullptr;
}

// Removes the link the user named, open as `named` as itself, never what it points to: through
// that very link, reopened to be deleted. Wine alone can only leave it: there every call on a
// link to a file acts on its target, and no call removes a link to a folder.
void RemoveLink(HANDLE named) {
  if (Nt().under_wine) throw NamedLink();
  ScopedHandle link;
  const NTSTATUS status =
      OpenIn(named, Text(), DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, 0, link, kShareAll);
  if (status < 0) throw FromStatus(status);
  if (NumberOf(link.get()) != NumberOf(named)) throw Changed();
  FILE_DISPOSITION_INFO disposition{TRUE};
  if (!::SetFileInformationByHandle(link.get(), FileDispositionInfo, &disposition,
                                    sizeof disposition)) {
    throw LastFailure();
  }
}

class WindowsEnv : public Env {
 public:
  void PrepareProcess() override {
    // A stick pulled out or a card reader with no card fails the call that reached it, which the
    // program reports, instead of Windows asking for the disk in a box of its own.
    ::SetErrorMode(::GetErrorMode() | SEM_FAILCRITICALERRORS);
    // Windows may show a process a cloud placeholder as a plain file: an online-only file must be
    // seen as one, or it would be fetched, overwritten and deleted in the cloud.
    constexpr CHAR kExposePlaceholders = 2;  // PHCM_EXPOSE_PLACEHOLDERS
    if (Nt().SetPlaceholderMode) Nt().SetPlaceholderMode(kExposePlaceholders);
  }

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

  Named OpenNamed(const Text& path) override {
    // A device's own name ("\\.\COM1", "\\.\C:", what Windows reads "nul.txt" as), or a path
    // inside one ("\\.\pipe\x"), is never opened at all: opening a port, a pipe or a disk already
    // acts on it. A file or folder has a path within a drive or a volume. A file whose name
    // Windows reads as a device's ("CON", "aux.c": made on Linux, or through "\\?\") is told
    // apart from a device named.
    const Text resolved = Resolved(path);
    Text given = path;
    std::replace(given.begin(), given.end(), L'/', L'\\');
    if (InDeviceNamespace(resolved) && !InDeviceNamespace(given)) throw DeviceName();
    if (InDeviceNamespace(resolved) && !OnAVolume(resolved)) throw NamesDevice();
    const Text full = SystemPath(path);
    const auto [folder_path, name] = SplitLast(full);
    // The folder that holds it, held open: the renames go through it, and under Wine the proof
    // that the name is no link. (A device or volume has no such folder; a folder that cannot be
    // opened by this path is looked for from the file.)
    SharedHandle folder;
    const NTSTATUS folder_status = OpenFolder(folder_path, folder);
    // The one open of what was named, for its attributes alone: whatever is written or listed
    // later goes through this handle, never through the path again. A link is opened as itself.
    ScopedHandle named;
    const NTSTATUS status = folder ? OpenIn(folder->get(), name, kAttributeAccess, 0, named)
                                   : OpenIn(nullptr, NtPath(full), kAttributeAccess, 0, named);
    if (status == kStatusNoSuchDevice && Nt().under_wine) throw NamesDevice();
    if (status < 0) throw FromStatus(status);
    EnsureNamedOnFileSystem(named.get());
    // Wine alone: without its folder nothing tells a link from what it points to.
    if (Nt().under_wine && !folder) throw FromStatus(folder_status);
    Text name_there = name;
    if (!folder) folder = FolderOfFile(named.get(), name_there);
    const Look look = LookAt(named.get());
    if (((look.attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsNameSurrogate(look.tag)) ||
        (Nt().under_wine && !name.empty() &&
         !IsNamedEntry(folder->get(), folder_path, named.get(), name, full))) {
      RemoveLink(named.get());
      return {};
    }
    if (look.attributes & FILE_ATTRIBUTE_DIRECTORY) {
      ScopedHandle listing = ReopenSame(named.get(), kFolderAccess, FILE_DIRECTORY_FILE, kShareAll);
      return {nullptr, NewWindowsFolder(std::move(listing), full)};
    }
    return {NewWindowsFile(std::move(named), ScopedHandle(), std::move(folder), name_there, full),
            nullptr};
  }

  Text FullPath(const Text& path) override { return Resolved(path); }

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
