#include "platform/nt_calls.h"

namespace morvenit {

namespace {

template <typename Function>
void Find(HMODULE ntdll, const char* name, Function& function) {
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(ntdll, name)));
}

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
#ifdef MORVENIT_TEST_AS_WINDOWS
    // A build for the tests only, which takes Wine for Windows.
    found.under_wine = false;
#else
    found.under_wine = ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
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
