#include "platform/nt_calls.h"

namespace morvenit {

namespace {

template <typename Function>
void Find(HMODULE ntdll, const char* name, Function& function) {
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(ntdll, name)));
}

// Whether Wine's namespace of Linux paths opens: its root is Linux's "/".
bool OpensUnixRoot(const NtCalls& calls) {
  wchar_t root[] = L"\\??\\unix\\";
  UNICODE_STRING name{static_cast<USHORT>(sizeof root - sizeof(wchar_t)), sizeof root, root};
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, 0, nullptr, nullptr);
  IO_STATUS_BLOCK io;
  HANDLE handle = nullptr;
  if (calls.CreateFile(&handle, FILE_READ_ATTRIBUTES | SYNCHRONIZE, &attributes, &io, nullptr, 0,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 1,  // FILE_OPEN
                       0x21,  // a folder, opened for synchronous use
                       nullptr, 0) < 0) {
    return false;
  }
  ::CloseHandle(handle);
  return true;
}

}  // namespace

bool SeesWine(const NtCalls& calls) {
  return (calls.WineGetVersion && calls.WineGetVersion()) || OpensUnixRoot(calls);
}

namespace {

NtCalls& Calls() {
  static NtCalls calls = [] {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    NtCalls found{};
    Find(ntdll, "NtCreateFile", found.CreateFile);
    Find(ntdll, "NtQueryInformationFile", found.QueryInformationFile);
    Find(ntdll, "NtSetInformationFile", found.SetInformationFile);
    Find(ntdll, "NtQueryDirectoryFile", found.QueryDirectoryFile);
    Find(ntdll, "NtQueryObject", found.QueryObject);
    Find(ntdll, "NtQueryVolumeInformationFile", found.QueryVolumeInformationFile);
    Find(ntdll, "NtQueryFullAttributesFile", found.QueryFullAttributesFile);
    Find(ntdll, "RtlNtStatusToDosError", found.StatusToDosError);
    Find(ntdll, "RtlSetProcessPlaceholderCompatibilityMode", found.SetPlaceholderMode);
    Find(ntdll, "wine_get_version", found.WineGetVersion);
#ifdef MORVENIT_TEST_AS_WINDOWS
    // A build for the tests only, which takes Wine for Windows.
    found.under_wine = false;
#else
    found.under_wine = SeesWine(found);
#endif
    return found;
  }();
  return calls;
}

}  // namespace

const NtCalls& Nt() { return Calls(); }

#ifdef MORVENIT_NT_CALL_HOOKS
NtCalls& NtForTests() { return Calls(); }
#endif

}  // namespace morvenit
