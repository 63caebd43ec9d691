// The Env on Windows: what the user named, the current folder, the clocks, the message pump and
// the message box. The wide-character API throughout, so that every name arrives and is opened
// exactly as the user has it.
#include <algorithm>
#include <memory>
#include <utility>

#include "platform/file_windows.h"
#include "platform/folder_windows.h"
#include "platform/long_path.h"
#include "platform/open_in_folder_windows.h"

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

// Every path reaches the system absolute and extended-length, so that it is taken literally.
Text SystemPath(const Text& path) {
  return ExtendedLengthPath(ResolvePath(path, CurrentFolder(), DriveFolder));
}

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
    return NewWindowsFile(std::move(file), ScopedHandle(), std::move(folder), name, full);
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
    return NewWindowsFolder(std::move(folder), full);
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
