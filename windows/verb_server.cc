// The verb's server: a class factory and the drop targets it makes, in plain COM. Every call from
// the shell reaches the window thread through its message pump (a single-threaded apartment),
// between the run's own steps, so what they share needs no lock. A drop only copies the paths out
// of the data object and returns, so the shell is never kept waiting; the run takes them on that
// thread afterwards.
#include "windows/verb_server.h"

#include "platform/win32.h"
// After <windows.h>: COM, the drop target and the shell's drop formats.
#include <objbase.h>
#include <ole2.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>
#include <utility>

namespace morvenit {

namespace {

// How long a server that COM started waits for its first selection while no shell holds on to it
// (an activation that never came to a drop), before it ends.
constexpr ULONGLONG kFirstDropMs = 30000;

// What the shell's objects and the runs share, on the window thread alone.
struct Served {
  ArgumentList waiting;   // paths dropped and not yet taken, in the order they came
  int holders = 0;        // drop targets alive and locks taken: the server must not end
  bool stopping = false;  // the program is ending: no more drop targets
};

// The paths of a CF_HDROP block (a DROPFILES header, then the paths, each ending in a null, and
// one more null), read in one pass: DragQueryFileW walks the block from its start for each item,
// which kept the shell waiting for a minute over 50,000. Nothing is read past the block's end.
ArgumentList PathsOfBlock(const BYTE* block, SIZE_T bytes) {
  DROPFILES header;
  if (bytes < sizeof header) return {};
  std::memcpy(&header, block, sizeof header);
  if (header.pFiles >= bytes) return {};
  const BYTE* const from = block + header.pFiles;
  const size_t length = bytes - header.pFiles;
  Text all;
  if (header.fWide) {
    all.resize(length / sizeof(wchar_t));
    std::memcpy(all.data(), from, all.size() * sizeof(wchar_t));
  } else {
    // Older programs' drops: the system's code page, as DragQueryFileW reads them.
    const int n = ::MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(from),
                                        static_cast<int>(length), nullptr, 0);
    all.resize(static_cast<size_t>(n));
    ::MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(from), static_cast<int>(length),
                          all.data(), n);
  }
  ArgumentList paths;
  for (size_t at = 0; at < all.size() && all[at] != L'\0';) {
    const size_t end = std::min(all.find(L'\0', at), all.size());
    paths.emplace_back(all, at, end - at);
    at = end + 1;
  }
  return paths;
}

// The paths a data object holds as CF_HDROP, the form Explorer gives every selection of files and
// folders.
HRESULT PathsOf(IDataObject* data, ArgumentList& paths) {
  FORMATETC format{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium{};
  const HRESULT result = data->GetData(&format, &medium);
  if (FAILED(result)) return result;
  if (const auto* block = static_cast<const BYTE*>(::GlobalLock(medium.hGlobal))) {
    paths = PathsOfBlock(block, ::GlobalSize(medium.hGlobal));
    ::GlobalUnlock(medium.hGlobal);
  }
  ::ReleaseStgMedium(&medium);
  return S_OK;
}

// The drop target made for one invocation of the verb, or one drag over the program's icon. While
// the shell holds one, the server stays.
class Target final : public IDropTarget {
 public:
  explicit Target(Served& served) : served_(served) { ++served_.holders; }
  Target(const Target&) = delete;
  Target& operator=(const Target&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out =
        iid == IID_IUnknown || iid == IID_IDropTarget ? static_cast<IDropTarget*>(this) : nullptr;
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    return static_cast<ULONG>(::InterlockedIncrement(&references_));
  }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = ::InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  // Every selection is welcome, to be read from; a drag over the icon shows it will be copied,
  // never moved.
  HRESULT STDMETHODCALLTYPE DragEnter(IDataObject*, DWORD, POINTL, DWORD* effect) override {
    return Welcome(effect);
  }
  HRESULT STDMETHODCALLTYPE DragOver(DWORD, POINTL, DWORD* effect) override {
    return Welcome(effect);
  }
  HRESULT STDMETHODCALLTYPE DragLeave() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) override {
    *effect = DROPEFFECT_NONE;  // nothing was moved or copied
    ArgumentList paths;
    const HRESULT result = PathsOf(data, paths);
    if (SUCCEEDED(result)) {
      served_.waiting.insert(served_.waiting.end(), std::make_move_iterator(paths.begin()),
                             std::make_move_iterator(paths.end()));
    }
    return result;
  }

 private:
  ~Target() { --served_.holders; }

  static HRESULT Welcome(DWORD* effect) {
    if (*effect & DROPEFFECT_COPY) *effect = DROPEFFECT_COPY;
    return S_OK;
  }

  Served& served_;
  LONG references_ = 1;
};

// The class object COM hands out. It lives as long as the server, whatever COM counts.
class Factory final : public IClassFactory {
 public:
  explicit Factory(Served& served) : served_(served) {}
  Factory(const Factory&) = delete;
  Factory& operator=(const Factory&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = iid == IID_IUnknown || iid == IID_IClassFactory ? static_cast<IClassFactory*>(this)
                                                           : nullptr;
    return *out ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    // An activation that reaches a server on its way out is sent on to a new one.
    if (served_.stopping) return CO_E_SERVER_STOPPING;
    Target* const target = new (std::nothrow) Target(served_);
    if (!target) return E_OUTOFMEMORY;
    const HRESULT result = target->QueryInterface(iid, out);
    target->Release();
    return result;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    served_.holders += lock ? 1 : -1;
    return S_OK;
  }

 private:
  Served& served_;
};

// The class registered for this process from construction until the program ends.
class VerbServer final : public Selections {
 public:
  explicit VerbServer(Env& env) : env_(env), deadline_(::GetTickCount64() + kFirstDropMs) {
    started_ = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    initialised_ = SUCCEEDED(started_);
    CLSID verb{};
    if (SUCCEEDED(started_)) started_ = ::CLSIDFromString(kVerbClassId, &verb);
    // For many uses: a selection made while a run goes reaches this program, never a second one.
    if (SUCCEEDED(started_)) {
      started_ = ::CoRegisterClassObject(verb, &factory_, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                         &cookie_);
    }
  }
  VerbServer(const VerbServer&) = delete;
  VerbServer& operator=(const VerbServer&) = delete;
  ~VerbServer() override {
    Revoke();
    if (initialised_) ::CoUninitialize();
  }

  ArgumentList Wait() override {
    if (FAILED(started_)) throw FailureFromWin32(static_cast<DWORD>(started_));
    for (;;) {
      env_.PumpMessages();
      if (!served_.waiting.empty()) {
        deadline_ = 0;  // after a run, the server ends as soon as nobody holds on to it
        return Take();
      }
      if (served_.holders <= 0 && ::GetTickCount64() >= deadline_) break;
      env_.WaitForMessages(100);
    }
    // Nothing waits and nobody holds on: an activation from now on starts a new program.
    served_.stopping = true;
    Revoke();
    return {};
  }

  ArgumentList Take() override { return std::exchange(served_.waiting, {}); }

 private:
  void Revoke() {
    if (cookie_) ::CoRevokeClassObject(cookie_);
    cookie_ = 0;
  }

  Env& env_;
  ULONGLONG deadline_;
  Served served_;
  Factory factory_{served_};
  HRESULT started_ = S_OK;  // how COM's start and the class's registration went
  bool initialised_ = false;
  DWORD cookie_ = 0;
};

}  // namespace

std::unique_ptr<Selections> ServeVerb(Env& env) { return std::make_unique<VerbServer>(env); }

}  // namespace morvenit
