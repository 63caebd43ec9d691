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
#include <string>
#include <utility>
#include <vector>

#include "windows/com_object.h"

namespace morvenit {

namespace {

// How long a server that COM started waits for its first selection while no shell holds on to it
// (an activation that never came to a drop), before it ends.
constexpr ULONGLONG kFirstDropMs = 30000;

// What the shell's objects and the runs share, on the window thread alone.
struct Served {
  ArgumentList waiting;   // paths dropped and not yet taken, in the order they came
  int drops = 0;          // drops so far
  int unreadable = 0;     // drops from which no path could be read, not yet told
  size_t unread = 0;      // items of other drops without a path, not yet told
  bool stopping = false;  // nothing holds the server any more: no more drop targets
};

// The server's hold count, as COM keeps it (CoAddRefServerProcess): the program's own hold while a
// run goes or a first selection is awaited, each drop target the shell holds, each lock. At zero
// COM suspends the class, so that an activation from then on starts a new program, never this
// one on its way out.
void Hold() { ::CoAddRefServerProcess(); }
void LetGo(Served& served) {
  if (::CoReleaseServerProcess() == 0) served.stopping = true;
}

// What one drop held: the paths it named, and how many of its items had none (a library, a
// phone, a search result: nothing on a disk).
struct Dropped {
  ArgumentList paths;
  size_t unread = 0;
};

// One format of the data object, as a block of bytes copied out; false when it offers none.
bool BlockOf(IDataObject* data, CLIPFORMAT format, std::vector<BYTE>& block) {
  FORMATETC wanted{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium{};
  if (FAILED(data->GetData(&wanted, &medium))) return false;
  const auto* from = medium.tymed == TYMED_HGLOBAL
                         ? static_cast<const BYTE*>(::GlobalLock(medium.hGlobal))
                         : nullptr;
  if (from) {
    block.assign(from, from + ::GlobalSize(medium.hGlobal));
    ::GlobalUnlock(medium.hGlobal);
  }
  ::ReleaseStgMedium(&medium);
  return from != nullptr;
}

// The paths of a CF_HDROP block (a DROPFILES header, then the paths, each ending in a null, and
// one more null), read in one pass: DragQueryFileW walks the block from its start for each item,
// which kept the shell waiting for a minute over 50,000. Nothing is read past the block's end.
ArgumentList PathsOfDropFiles(const std::vector<BYTE>& block) {
  DROPFILES header;
  if (block.size() < sizeof header) return {};
  std::memcpy(&header, block.data(), sizeof header);
  if (header.pFiles >= block.size()) return {};
  const BYTE* const from = block.data() + header.pFiles;
  const size_t length = block.size() - header.pFiles;
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

// The ID list at `offset` in `block`, if it ends (an item of length 0) before the block does.
const ITEMIDLIST* IdListAt(const std::vector<BYTE>& block, size_t offset) {
  for (size_t at = offset; at + sizeof(USHORT) <= block.size();) {
    USHORT length;
    std::memcpy(&length, block.data() + at, sizeof length);
    if (length == 0) return reinterpret_cast<const ITEMIDLIST*>(block.data() + offset);
    if (length < sizeof(USHORT)) break;
    at += length;
  }
  return nullptr;
}

// The paths of a shell ID list block (CFSTR_SHELLIDLIST: a count, the offsets of the folder's ID
// list and of each item's, relative to the folder, then the lists), each named by the shell,
// whole at any length. Nothing is read past the block's end.
void PathsOfIdList(const std::vector<BYTE>& block, Dropped& dropped) {
  UINT count = 0;
  if (block.size() >= sizeof count) std::memcpy(&count, block.data(), sizeof count);
  // The count, then count + 1 offsets.
  if (count >= block.size() / sizeof(UINT) - 1) count = 0;
  const auto list = [&block](UINT i) {
    UINT offset;
    std::memcpy(&offset, block.data() + sizeof(UINT) * (1 + i), sizeof offset);
    return IdListAt(block, offset);
  };
  const ITEMIDLIST* const folder = count ? list(0) : nullptr;
  for (UINT i = 1; i <= count; ++i) {
    const ITEMIDLIST* const item = folder ? list(i) : nullptr;
    PIDLIST_ABSOLUTE whole = item ? ::ILCombine(folder, item) : nullptr;
    PWSTR name = nullptr;
    if (whole && SUCCEEDED(::SHGetNameFromIDList(whole, SIGDN_FILESYSPATH, &name))) {
      dropped.paths.emplace_back(name);
      ::CoTaskMemFree(name);
    } else {
      ++dropped.unread;
    }
    ::ILFree(whole);
  }
}

// What a drop holds, as CF_HDROP, the form Explorer gives every selection of files and folders;
// else as the shell's ID list: Explorer's own data object refuses CF_HDROP once one of its paths
// passes 260 characters, and still names every item in its ID list.
Dropped PathsOf(IDataObject* data) {
  static const auto id_list =
      static_cast<CLIPFORMAT>(::RegisterClipboardFormatW(CFSTR_SHELLIDLIST));
  Dropped dropped;
  std::vector<BYTE> block;
  if (BlockOf(data, CF_HDROP, block)) {
    dropped.paths = PathsOfDropFiles(block);
  } else if (BlockOf(data, id_list, block)) {
    PathsOfIdList(block, dropped);
  }
  return dropped;
}

// The drop target made for one invocation of the verb, or one drag over the program's icon. While
// the shell holds one, the server stays.
class Target final : public Counted<IDropTarget> {
 public:
  explicit Target(Served& served) : served_(served) { Hold(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out =
        iid == IID_IUnknown || iid == IID_IDropTarget ? static_cast<IDropTarget*>(this) : nullptr;
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
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
    Dropped dropped = PathsOf(data);
    served_.waiting.insert(served_.waiting.end(), std::make_move_iterator(dropped.paths.begin()),
                           std::make_move_iterator(dropped.paths.end()));
    // Told once the shell has its answer: a box here would keep it waiting.
    if (dropped.paths.empty()) {
      ++served_.unreadable;
    } else {
      served_.unread += dropped.unread;
    }
    ++served_.drops;
    return S_OK;
  }

 private:
  ~Target() override { LetGo(served_); }

  static HRESULT Welcome(DWORD* effect) {
    if (*effect & DROPEFFECT_COPY) *effect = DROPEFFECT_COPY;
    return S_OK;
  }

  Served& served_;
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
    if (lock) {
      Hold();
    } else {
      LetGo(served_);
    }
    return S_OK;
  }

 private:
  Served& served_;
};

// The class registered for this process from construction until the program ends.
class VerbServer final : public Selections {
 public:
  VerbServer(Env& env, bool started_by_com)
      : env_(env), by_com_(started_by_com), deadline_(::GetTickCount64() + kFirstDropMs) {
    started_ = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    initialised_ = SUCCEEDED(started_);
    CLSID verb{};
    if (SUCCEEDED(started_)) started_ = ::CLSIDFromString(kVerbClassId, &verb);
    // For many uses: a selection made while a run goes reaches this program, never a second one.
    // Suspended until the program holds itself, so that no activation finds the count at zero.
    if (SUCCEEDED(started_)) {
      started_ = ::CoRegisterClassObject(verb, &factory_, CLSCTX_LOCAL_SERVER,
                                         REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED, &cookie_);
    }
    if (SUCCEEDED(started_)) {
      Hold();
      held_ = true;
      started_ = ::CoResumeClassObjects();
    }
  }
  VerbServer(const VerbServer&) = delete;
  VerbServer& operator=(const VerbServer&) = delete;
  ~VerbServer() override {
    Stop();
    if (initialised_) ::CoUninitialize();
  }

  ArgumentList Wait() override {
    // A run from a command line goes on without the verb when its class could not be served.
    if (FAILED(started_)) {
      if (by_com_) throw FailureFromWin32(static_cast<DWORD>(started_));
      return {};
    }
    for (;;) {
      env_.PumpMessages();
      // After a run, or once the shell has handed something over, the program holds itself no
      // longer: it ends as soon as nothing else holds it.
      if (!by_com_ || served_.drops) deadline_ = 0;
      if (!served_.waiting.empty()) {
        if (!std::exchange(held_, true)) Hold();
        return Take();
      }
      Tell();
      if (held_ && ::GetTickCount64() >= deadline_) {
        held_ = false;
        LetGo(served_);
      }
      if (served_.stopping) break;
      env_.WaitForMessages(100);
    }
    Stop();
    return {};
  }

  ArgumentList Take() override {
    Tell();
    return std::exchange(served_.waiting, {});
  }

 private:
  // Says, in a box, what of the drops so far could not be read as files or folders: none vanishes
  // without a word.
  void Tell() {
    if (std::exchange(served_.unreadable, 0)) {
      env_.ShowMessage(
          L"No file or folder could be read from a selection handed over to Morvenit. Nothing in "
          L"it was shredded.",
          L"Morvenit");
    }
    if (const size_t n = std::exchange(served_.unread, 0)) {
      env_.ShowMessage(n == 1 ? L"1 item handed over to Morvenit is not a file or folder on a "
                                L"disk, and was left alone."
                              : std::to_wstring(n) +
                                    L" items handed over to Morvenit are not files or folders on "
                                    L"a disk, and were left alone.",
                       L"Morvenit");
    }
  }

  // No activation reaches this program from now on. COM suspends the class itself when the hold
  // count reaches zero; Wine alone does not.
  void Stop() {
    served_.stopping = true;
    if (!cookie_) return;
    ::CoSuspendClassObjects();
    ::CoRevokeClassObject(cookie_);
    cookie_ = 0;
  }

  Env& env_;
  const bool by_com_;  // COM started the program for the verb
  ULONGLONG deadline_;
  Served served_;
  Factory factory_{served_};
  HRESULT started_ = S_OK;  // how COM's start and the class's registration went
  bool initialised_ = false;
  bool held_ = false;  // the program's own hold
  DWORD cookie_ = 0;
};

}  // namespace

std::unique_ptr<Selections> ServeVerb(Env& env, bool started_by_com) {
  return std::make_unique<VerbServer>(env, started_by_com);
}

}  // namespace morvenit
