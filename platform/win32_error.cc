// Where every Win32 error becomes a failure of the program's own.
#include "platform/win32.h"

namespace morvenit {

Failure FailureFromWin32(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
      return FileNotFound();
    case ERROR_ACCESS_DENIED:
      return AccessRefused();
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return HeldElsewhere();
    default:
      break;
  }
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  Text description = length ? Text(buffer, length) : L"System error " + std::to_wstring(code);
  if (buffer) ::LocalFree(buffer);
  while (!description.empty() && (description.back() == L'\n' || description.back() == L'\r')) {
    description.pop_back();
  }
  return Failure{static_cast<int32_t>(HRESULT_FROM_WIN32(code)), description};
}

Failure LastFailure() {
  // A call that failed without saying why still fails: it must never read "completed successfully".
  const DWORD code = ::GetLastError();
  return code == ERROR_SUCCESS ? Failure{static_cast<int32_t>(E_FAIL), L"Unspecified error"}
                               : FailureFromWin32(code);
}

}  // namespace morvenit
