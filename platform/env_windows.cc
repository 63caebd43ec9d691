// The platform seam on Windows: the wide-character Win32 API throughout, so that every name
// arrives and is opened exactly as the user has it.
#include <algorithm>

#include "platform/long_path.h"
#include "platform/win32.h"

namespace morvenit {

namespace {

Text FullPathName(const Text& path) {
  Text full(std::max<size_t>(path.size() + MAX_PATH, MAX_PATH), L'\0');
  for (;;) {
    const DWORD n =
        ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0) throw LastFailure();
    if (n < full.size()) {
      full.resize(n);
      return full;
    }
    full.resize(n);
  }
}

// Every path reaches the system absolute and extended-length, so that it is taken literally. Only
// a path that is relative or holds "." or ".." is resolved the classic way first.
Text SystemPath(const Text& path) {
  if (path.empty()) throw FileNotFound();
  if (path.rfind(L"\\\\?\\", 0) == 0) return path;
  return ExtendedLengthPath(IsPlainAbsolute(path) ? path : FullPathName(path));
}

DWORD Attributes(const Text& system_path) {
  const DWORD attributes = ::GetFileAttributesW(system_path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) throw LastFailure();
  return attributes;
}

// Opens the listing of a folder, its first entry in `data`.
ScopedFind OpenListing(Text system_path, WIN32_FIND_DATAW& data) {
  if (system_path.back() != L'\\') system_path += L'\\';
  system_path += L'*';
  ScopedFind find(::FindFirstFileW(system_path.c_str(), &data));
  if (!find.valid()) throw LastFailure();
  return find;
}

class WindowsFile : public OpenFile {
 public:
  explicit WindowsFile(ScopedHandle file) : file_(std::move(file)) {}

  void Write(const char* data, size_t size) override {
    while (size > 0) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
      DWORD written = 0;
      if (!::WriteFile(file_.get(), data, chunk, &written, nullptr)) throw LastFailure();
      if (written == 0) throw FailureFromWin32(ERROR_DISK_FULL);
      data += written;
      size -= written;
    }
  }

  void Flush() override {
    if (!::FlushFileBuffers(file_.get())) throw LastFailure();
  }

  void Close() override {
    if (!file_.valid()) return;
    if (!::CloseHandle(file_.release())) throw LastFailure();
  }

 private:
  ScopedHandle file_;
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

  uint32_t GetAttributes(const Text& path) override { return Attributes(SystemPath(path)); }

  void SetAttributes(const Text& path, uint32_t attributes) override {
    if (!::SetFileAttributesW(SystemPath(path).c_str(), attributes)) throw LastFailure();
  }

  uint64_t FileLength(const Text& path) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(SystemPath(path).c_str(), GetFileExInfoStandard, &data)) {
      throw LastFailure();
    }
    return (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
  }

  std::unique_ptr<OpenFile> OpenExisting(const Text& path) override {
    // Shared with nobody: no one reads a half-overwritten file, and nobody else's handle can keep
    // it alive after the delete.
    ScopedHandle file(::CreateFileW(SystemPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) throw LastFailure();
    return std::make_unique<WindowsFile>(std::move(file));
  }

  void RemoveFile(const Text& path) override {
    if (!::DeleteFileW(SystemPath(path).c_str())) throw LastFailure();
  }

  std::vector<Text> ListFolder(const Text& folder) override {
    WIN32_FIND_DATAW data;
    const ScopedFind find = OpenListing(SystemPath(folder), data);
    std::vector<Text> names;
    do {
      names.emplace_back(data.cFileName);
    } while (::FindNextFileW(find.get(), &data));
    if (::GetLastError() != ERROR_NO_MORE_FILES) throw LastFailure();
    return names;
  }

  Text FullPath(const Text& path) override {
    if (path.empty()) throw FileNotFound();
    if (path.rfind(L"\\\\?\\", 0) == 0 || IsPlainAbsolute(path)) return path;
    return FullPathName(path);
  }

  void SetCurrentFolder(const Text& folder) override {
    const Text path = SystemPath(folder);
    // The current directory takes no extended-length path: the classic form serves while it fits
    // and still names the same folder.
    Text classic = path;
    if (classic.rfind(L"\\\\?\\UNC\\", 0) == 0) {
      classic = L"\\\\" + classic.substr(8);
    } else if (classic.rfind(L"\\\\?\\", 0) == 0) {
      classic = classic.substr(4);
    }
    if (classic.size() < kClassicPathLimit - 1 && FullPathName(classic) == classic &&
        ::SetCurrentDirectoryW(classic.c_str())) {
      return;
    }
    // Too deep for Windows to make it the current directory, or a name the classic form would
    // change: a folder that can be opened for listing counts as entered.
    WIN32_FIND_DATAW data;
    OpenListing(path, data);
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
