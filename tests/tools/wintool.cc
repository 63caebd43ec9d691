// A test helper run under Wine beside morvenit.exe. It reads any window's geometry, styles, texts,
// check states and focus, starts a program with an exact command line, holds a file open,
// reads what an installer leaves (shortcuts and version resources), and measures how long a
// window's thread goes without answering its messages.
//
//   wintool list                         every top-level window: hwnd, visibility, class, title
//   wintool inspect [--class C] [TITLE]  the first top-level window whose title starts with TITLE
//                                        (visible ones first) or whose class is C, and its children
//                                        (a list box with its items)
//   wintool launch EXE RAW               runs `"EXE" RAW` exactly; exits with its exit code
//   wintool hold FILE SECONDS            keeps FILE open without sharing for SECONDS
//   wintool shortcut LNK                 a shortcut's target, arguments, folder and icon
//   wintool version FILE                 a program's fixed versions and version strings
//   wintool icon FILE                    size and checksum of each image of a program's first icon
//   wintool silence --class C SECONDS    waits for a window of class C to be shown, then sends it
//                                        WM_NULL over and over (a millisecond apart) and times
//                                        each reply, for SECONDS or until the window is gone
//   wintool drop [--time] [--idlist] CLSID LIST
//                                        hands the paths in LIST (UTF-16, one a line) to the
//                                        drop target CLSID, a local server, as the shell
//                                        invokes a DropTarget verb: DragEnter, then Drop; as
//                                        CF_HDROP, or with --idlist as the shell's ID list alone;
//                                        with --time, the seconds Drop took too
//   wintool clipboard [--quoted]         the clipboard's text, as it is (UTF-8), or quoted
//   wintool accessible --class C ID      the role and name a screen reader gets for the child
//                                        ID of the window of class C
//   wintool chain FOLDER NAME FILE       the least any program does per level of a chain of
//                                        folders NAME, each holding a file FILE: opens the folder
//                                        and then the file relative to the folder above, writes
//                                        4 KiB, flushes, deletes it; prints levels and seconds
//   wintool tree FOLDER                  the least any program does for each file in each folder
//                                        of FOLDER: opens it relative to its folder, writes 4 KiB
//                                        and deletes it, with no flush; prints files and seconds
//
// Rectangles are screen coordinates: left,top,width,height. Texts are UTF-8, quoted, with \r, \n,
// \" and \\ escaped. Exit code 3 means the window was not found.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After <windows.h>: the shell link object, the version API and the accessibility objects.
#include <objbase.h>
#include <oleacc.h>
#include <shlobj.h>
#include <winver.h>
// After <windows.h>: the native calls that open a name relative to a folder.
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

std::string Quoted(const std::wstring& text) {
  std::string out = "\"";
  for (const char c : Utf8(text)) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::wstring WindowText(HWND hwnd) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length)) {
    return {};
  }
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                      SMTO_ABORTIFHUNG, 2000, &copied);
  text.resize(copied);
  return text;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[256] = {};
  GetClassNameW(hwnd, name, 256);
  return name;
}

std::string Hex(const void* value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "0x%llx",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(value)));
  return buffer;
}

std::string Hex(unsigned long long value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "0x%llx", value);
  return buffer;
}

std::string Rect(const RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," +
         std::to_string(r.right - r.left) + "," + std::to_string(r.bottom - r.top);
}

std::string ClientRect(HWND hwnd) {
  RECT client;
  GetClientRect(hwnd, &client);
  POINT origin{0, 0};
  ClientToScreen(hwnd, &origin);
  OffsetRect(&client, origin.x, origin.y);
  return Rect(client);
}

std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> windows;
  EnumWindows(
      [](HWND hwnd, LPARAM out) {
        reinterpret_cast<std::vector<HWND>*>(out)->push_back(hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  return windows;
}

// A list box's items, each ending in a line break.
std::wstring Items(HWND list) {
  std::wstring items;
  DWORD_PTR count = 0;
  SendMessageTimeoutW(list, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 2000, &count);
  for (WPARAM i = 0; i < count; ++i) {
    DWORD_PTR length = 0;
    SendMessageTimeoutW(list, LB_GETTEXTLEN, i, 0, SMTO_ABORTIFHUNG, 2000, &length);
    std::wstring item(length + 1, L'\0');
    SendMessageTimeoutW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(item.data()),
                        SMTO_ABORTIFHUNG, 2000, &length);
    item.resize(length);
    items += item + L"\n";
  }
  return items;
}

void PrintChild(HWND child, HWND focus) {
  RECT rect;
  GetWindowRect(child, &rect);
  std::string line =
      "child hwnd=" + Hex(child) + " parent=" + Hex(GetParent(child)) +
      " id=" + std::to_string(GetDlgCtrlID(child)) + " class=" + Quoted(ClassOf(child)) +
      " text=" + Quoted(WindowText(child)) + " visible=" + (IsWindowVisible(child) ? "1" : "0") +
      " rect=" + Rect(rect) + " style=" +
      Hex(static_cast<unsigned long long>(GetWindowLongW(child, GWL_STYLE) & 0xffffffffu)) +
      " exstyle=" +
      Hex(static_cast<unsigned long long>(GetWindowLongW(child, GWL_EXSTYLE) & 0xffffffffu)) +
      " focused=" + (child == focus ? "1" : "0");
  if (_wcsicmp(ClassOf(child).c_str(), L"ListBox") == 0) line += " items=" + Quoted(Items(child));
  if (_wcsicmp(ClassOf(child).c_str(), L"Button") == 0) {
    DWORD_PTR check = 0;
    SendMessageTimeoutW(child, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &check);
    line += " check=" + std::to_string(check);
  }
  std::printf("%s\n", line.c_str());
}

int Inspect(const std::wstring& title, const std::wstring& window_class) {
  HWND found = nullptr;
  for (const bool visible_only : {true, false}) {
    for (HWND hwnd : TopLevelWindows()) {
      if (visible_only && !IsWindowVisible(hwnd)) continue;
      const bool match = window_class.empty() ? WindowText(hwnd).rfind(title, 0) == 0
                                              : ClassOf(hwnd) == window_class;
      if (match) {
        found = hwnd;
        break;
      }
    }
    if (found) break;
  }
  if (!found) return 3;

  GUITHREADINFO gui{};
  gui.cbSize = sizeof gui;
  GetGUIThreadInfo(GetWindowThreadProcessId(found, nullptr), &gui);
  RECT rect;
  GetWindowRect(found, &rect);
  const HWND owner = GetWindow(found, GW_OWNER);
  std::printf(
      "window hwnd=%s class=%s title=%s visible=%d rect=%s client=%s style=%s exstyle=%s "
      "owner=%s owner_visible=%d focus=%s active=%s foreground=%d\n",
      Hex(found).c_str(), Quoted(ClassOf(found)).c_str(), Quoted(WindowText(found)).c_str(),
      IsWindowVisible(found) ? 1 : 0, Rect(rect).c_str(), ClientRect(found).c_str(),
      Hex(static_cast<unsigned long long>(GetWindowLongW(found, GWL_STYLE) & 0xffffffffu)).c_str(),
      Hex(static_cast<unsigned long long>(GetWindowLongW(found, GWL_EXSTYLE) & 0xffffffffu))
          .c_str(),
      Hex(owner).c_str(), owner && IsWindowVisible(owner) ? 1 : 0, Hex(gui.hwndFocus).c_str(),
      Hex(gui.hwndActive).c_str(), GetForegroundWindow() == found ? 1 : 0);
  std::vector<HWND> children;
  EnumChildWindows(
      found,
      [](HWND hwnd, LPARAM out) {
        reinterpret_cast<std::vector<HWND>*>(out)->push_back(hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&children));
  for (HWND child : children) PrintChild(child, gui.hwndFocus);
  return 0;
}

int List() {
  for (HWND hwnd : TopLevelWindows()) {
    std::printf("%s visible=%d class=%s title=%s\n", Hex(hwnd).c_str(),
                IsWindowVisible(hwnd) ? 1 : 0, Quoted(ClassOf(hwnd)).c_str(),
                Quoted(WindowText(hwnd)).c_str());
  }
  return 0;
}

int Launch(const std::wstring& exe, const std::wstring& raw) {
  std::wstring command_line = L"\"" + exe + L"\" " + raw;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(exe.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process)) {
    std::fprintf(stderr, "cannot start: error %lu\n", GetLastError());
    return 125;
  }
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

int Hold(const std::wstring& file, int seconds) {
  HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "cannot open: error %lu\n", GetLastError());
    return 1;
  }
  std::printf("holding\n");
  std::fflush(stdout);
  Sleep(static_cast<DWORD>(seconds) * 1000);
  CloseHandle(handle);
  return 0;
}

// Reads a .lnk file through the shell's own link object, as Explorer would follow it.
int Shortcut(const std::wstring& file) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  IShellLinkW* link = nullptr;
  IPersistFile* persist = nullptr;
  int result = 1;
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                 reinterpret_cast<void**>(&link))) &&
      SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist))) &&
      SUCCEEDED(persist->Load(file.c_str(), STGM_READ))) {
    wchar_t target[MAX_PATH] = {}, arguments[1024] = {}, folder[MAX_PATH] = {}, icon[MAX_PATH] = {};
    int icon_index = -1;
    link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH);
    link->GetArguments(arguments, 1024);
    link->GetWorkingDirectory(folder, MAX_PATH);
    link->GetIconLocation(icon, MAX_PATH, &icon_index);
    std::printf("target=%s\narguments=%s\nfolder=%s\nicon=%s,%d\n", Quoted(target).c_str(),
                Quoted(arguments).c_str(), Quoted(folder).c_str(), Quoted(icon).c_str(),
                icon_index);
    result = 0;
  } else {
    std::fprintf(stderr, "cannot read the shortcut\n");
  }
  if (persist) persist->Release();
  if (link) link->Release();
  CoUninitialize();
  return result;
}

std::string VersionNumber(DWORD high, DWORD low) {
  return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." +
         std::to_string(HIWORD(low)) + "." + std::to_string(LOWORD(low));
}

// Prints the fixed file and product versions and every usual string of the first translation.
int Version(const std::wstring& file) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  std::vector<unsigned char> data(size);
  if (!size || !GetFileVersionInfoW(file.c_str(), 0, size, data.data())) {
    std::fprintf(stderr, "no version resource: error %lu\n", GetLastError());
    return 1;
  }
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed) {
    return 1;
  }
  std::printf("FixedFileVersion=%s\nFixedProductVersion=%s\n",
              VersionNumber(fixed->dwFileVersionMS, fixed->dwFileVersionLS).c_str(),
              VersionNumber(fixed->dwProductVersionMS, fixed->dwProductVersionLS).c_str());
  struct Translation {
    WORD language, code_page;
  }* translations = nullptr;
  if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                      reinterpret_cast<void**>(&translations), &length) ||
      length < sizeof(Translation)) {
    return 1;
  }
  wchar_t block[64];
  std::swprintf(block, 64, L"\\StringFileInfo\\%04x%04x\\", translations->language,
                translations->code_page);
  for (const wchar_t* key : {L"CompanyName", L"FileDescription", L"FileVersion", L"LegalCopyright",
                             L"OriginalFilename", L"ProductName", L"ProductVersion"}) {
    wchar_t* value = nullptr;
    const std::wstring path = std::wstring(block) + key;
    if (VerQueryValueW(data.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) &&
        value) {
      std::printf("%s=%s\n", Utf8(key).c_str(), Quoted(value).c_str());
    }
  }
  return 0;
}

// The images of a program's first icon group, as the shell would pick from them: their size and
// an FNV-1a checksum of their bytes, so that two programs' icons can be compared.
int Icon(const std::wstring& file) {
  const HMODULE module = LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return 1;
  std::wstring group;
  EnumResourceNamesW(
      module, RT_GROUP_ICON,
      [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR out) {
        auto& first = *reinterpret_cast<std::wstring*>(out);
        first = IS_INTRESOURCE(name) ? L"#" + std::to_wstring(reinterpret_cast<uintptr_t>(name))
                                     : std::wstring(name);
        return FALSE;
      },
      reinterpret_cast<LONG_PTR>(&group));
  int result = 1;
  const HRSRC directory =
      group.empty() ? nullptr : FindResourceW(module, group.c_str(), RT_GROUP_ICON);
  const auto* data =
      directory ? static_cast<const BYTE*>(LockResource(LoadResource(module, directory))) : nullptr;
  if (data) {
    // GRPICONDIR: reserved, type, count; then 14-byte entries ending in the RT_ICON id.
    const WORD count = *reinterpret_cast<const WORD*>(data + 4);
    for (WORD i = 0; i < count; ++i) {
      const BYTE* entry = data + 6 + 14 * i;
      const WORD id = *reinterpret_cast<const WORD*>(entry + 12);
      const HRSRC image = FindResourceW(module, MAKEINTRESOURCEW(id), RT_ICON);
      if (!image) continue;
      const auto* bytes = static_cast<const BYTE*>(LockResource(LoadResource(module, image)));
      const DWORD size = SizeofResource(module, image);
      uint32_t hash = 2166136261u;
      for (DWORD b = 0; b < size; ++b) hash = (hash ^ bytes[b]) * 16777619u;
      std::printf("%dx%d bytes=%lu fnv=%08x\n", entry[0] ? entry[0] : 256,
                  entry[1] ? entry[1] : 256, size, hash);
      result = 0;
    }
  }
  FreeLibrary(module);
  return result;
}

double Milliseconds(LONGLONG ticks) {
  static const LONGLONG frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
  }();
  return 1000.0 * static_cast<double>(ticks) / static_cast<double>(frequency);
}

LONGLONG Now() {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return t.QuadPart;
}

// A window's thread answers a sent message only when it next takes its messages, so the longest
// reply is the longest time it went without them, give or take the millisecond between probes.
// Prints: probes, longest and 99th-percentile and median reply in ms, when (seconds after the
// first reply) the longest one was sent, and probes that got no reply within 5 s.
int Silence(const std::wstring& window_class, double seconds) {
  const LONGLONG start = Now();
  auto elapsed_ms = [&] { return Milliseconds(Now() - start); };
  // From the moment it is shown: before, nobody sees it go without its messages.
  HWND window = nullptr;
  while (!(window = FindWindowW(window_class.c_str(), nullptr)) || !IsWindowVisible(window)) {
    if (elapsed_ms() > seconds * 1000) return 3;
    Sleep(1);
  }
  constexpr UINT kTimeoutMs = 5000;
  std::vector<double> replies;
  double longest = 0, longest_at = 0, first_reply = -1;
  int timeouts = 0;
  while (elapsed_ms() < seconds * 1000) {
    const LONGLONG sent = Now();
    DWORD_PTR result = 0;
    const LRESULT answered =
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, kTimeoutMs, &result);
    const DWORD error = answered ? 0 : GetLastError();
    const double reply = Milliseconds(Now() - sent);
    if (!answered && (error != ERROR_TIMEOUT || !IsWindow(window))) break;  // the window is gone
    if (!answered) ++timeouts;
    if (first_reply < 0) first_reply = Milliseconds(sent - start);
    if (reply > longest) {
      longest = reply;
      longest_at = Milliseconds(sent - start) - first_reply;
    }
    replies.push_back(reply);
    Sleep(1);
  }
  if (replies.empty()) return 3;
  std::sort(replies.begin(), replies.end());
  const auto at = [&](double q) {
    return replies[std::min(replies.size() - 1, static_cast<size_t>(q * replies.size()))];
  };
  std::printf(
      "silence probes=%zu longest_ms=%.3f p99_ms=%.3f median_ms=%.3f longest_at_s=%.3f "
      "timeouts=%d\n",
      replies.size(), longest, at(0.99), at(0.5), longest_at / 1000, timeouts);
  return 0;
}

double SecondsSince(const LARGE_INTEGER& start) {
  LARGE_INTEGER end, frequency;
  QueryPerformanceCounter(&end);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
}

// A data object that offers one format alone, as one block: the shell's ID list, as Explorer's
// own object offers a selection whose paths pass 260 characters, when it refuses CF_HDROP.
class OneFormat final : public IDataObject {
 public:
  OneFormat(CLIPFORMAT format, std::vector<BYTE> block)
      : format_(format), block_(std::move(block)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = iid == IID_IUnknown || iid == IID_IDataObject ? this : nullptr;
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override {
    if (QueryGetData(format) != S_OK) return DV_E_FORMATETC;
    const HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, block_.size());
    if (!memory) return E_OUTOFMEMORY;
    std::memcpy(GlobalLock(memory), block_.data(), block_.size());
    GlobalUnlock(memory);
    *medium = STGMEDIUM{TYMED_HGLOBAL, {}, nullptr};
    medium->hGlobal = memory;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override {
    return format->cfFormat == format_ && (format->tymed & TYMED_HGLOBAL) ? S_OK : DV_E_FORMATETC;
  }
  HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
    out->ptd = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override {
    FORMATETC format{format_, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    if (direction != DATADIR_GET) return E_NOTIMPL;
    return SHCreateStdEnumFmtEtc(1, &format, out);
  }
  HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
    return OLE_E_ADVISENOTSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override {
    return OLE_E_ADVISENOTSUPPORTED;
  }

 private:
  ~OneFormat() = default;
  CLIPFORMAT format_;
  std::vector<BYTE> block_;
  LONG references_ = 1;
};

// The shell's ID list of `paths` (CIDA): the desktop's empty list as their folder, then each
// path's whole ID list, as the shell parses it ("::{CLSID}" names a virtual folder).
std::vector<BYTE> IdListOf(const std::vector<std::wstring>& paths) {
  std::vector<PIDLIST_ABSOLUTE> lists;
  for (const std::wstring& path : paths) {
    if (PIDLIST_ABSOLUTE list = ILCreateFromPathW(path.c_str())) {
      lists.push_back(list);
    } else {
      std::fprintf(stderr, "no ID list for %s\n", Utf8(path).c_str());
    }
  }
  const UINT count = static_cast<UINT>(lists.size());
  std::vector<BYTE> block(sizeof(UINT) * (count + 2) + sizeof(USHORT));  // the desktop: cb 0
  std::vector<UINT> header{count, static_cast<UINT>(block.size() - sizeof(USHORT))};
  for (PIDLIST_ABSOLUTE list : lists) {
    header.push_back(static_cast<UINT>(block.size()));
    const auto* bytes = reinterpret_cast<const BYTE*>(list);
    block.insert(block.end(), bytes, bytes + ILGetSize(list));
    ILFree(list);
  }
  std::memcpy(block.data(), header.data(), header.size() * sizeof(UINT));
  return block;
}

// Hands the paths in `list` to the drop target `class_id` as Explorer hands a selection to a verb:
// as one CF_HDROP, in a data object made through the clipboard (Wine has no SHCreateDataObject),
// or with `id_list` in a data object of its own that offers the shell's ID list alone. With
// `timed`, how long Drop kept the caller too.
int Drop(const std::wstring& class_id, const std::wstring& list, bool timed, bool id_list) {
  std::wstring paths;
  if (FILE* in = _wfopen(list.c_str(), L"rb")) {
    for (wchar_t c; std::fread(&c, sizeof c, 1, in) == 1;) paths += c == L'\n' ? L'\0' : c;
    std::fclose(in);
  }
  IDataObject* selection = nullptr;
  IDropTarget* target = nullptr;
  CLSID verb{};
  DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
  HRESULT result = OleInitialize(nullptr);
  if (id_list) {
    std::vector<std::wstring> each;
    for (size_t at = 0; at < paths.size(); at = paths.find(L'\0', at) + 1) {
      each.emplace_back(paths.c_str() + at);
    }
    selection = new OneFormat(static_cast<CLIPFORMAT>(RegisterClipboardFormatW(CFSTR_SHELLIDLIST)),
                              IdListOf(each));
  } else {
    // Zeroed: the list's closing null is there.
    const HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + (paths.size() + 1) * 2);
    auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
    *header = DROPFILES{sizeof(DROPFILES), {}, FALSE, TRUE};
    std::wmemcpy(reinterpret_cast<wchar_t*>(header + 1), paths.data(), paths.size());
    GlobalUnlock(memory);
    const bool ready = SUCCEEDED(result) && OpenClipboard(nullptr) && EmptyClipboard() &&
                       SetClipboardData(CF_HDROP, memory) && CloseClipboard();
    result = ready ? OleGetClipboard(&selection) : E_FAIL;
  }
  if (SUCCEEDED(result)) result = CLSIDFromString(class_id.c_str(), &verb);
  if (SUCCEEDED(result)) {
    result = CoCreateInstance(verb, nullptr, CLSCTX_LOCAL_SERVER, IID_IDropTarget,
                              reinterpret_cast<void**>(&target));
  }
  // As Explorer does: the server may bring its window to the front.
  if (SUCCEEDED(result)) CoAllowSetForegroundWindow(target, nullptr);
  if (SUCCEEDED(result)) result = target->DragEnter(selection, MK_LBUTTON, POINTL{}, &effect);
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  if (SUCCEEDED(result)) result = target->Drop(selection, 0, POINTL{}, &effect);
  if (timed) std::printf("drop_seconds=%.3f ", SecondsSince(start));
  std::printf("result=0x%08lx\n", static_cast<unsigned long>(result));
  if (target) target->Release();
  if (selection) selection->Release();
  OleUninitialize();
  return SUCCEEDED(result) ? 0 : 1;
}

// The clipboard's text; `quoted`, as one quoted line (its line breaks and all escaped).
int Clipboard(bool quoted) {
  const HANDLE data = OpenClipboard(nullptr) ? GetClipboardData(CF_UNICODETEXT) : nullptr;
  const auto* text = data ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr;
  if (text) std::fputs((quoted ? Quoted(text) + "\n" : Utf8(text)).c_str(), stdout);
  if (data) GlobalUnlock(data);
  CloseClipboard();
  return text ? 0 : 1;
}

// The role and name that accessibility clients (screen readers) get for the child `id` of the
// first top-level window of class `window_class`.
int Accessible(const std::wstring& window_class, int id) {
  const HWND child = GetDlgItem(FindWindowW(window_class.c_str(), nullptr), id);
  if (!child) return 3;
  IAccessible* object = nullptr;
  if (FAILED(CoInitialize(nullptr)) ||
      FAILED(AccessibleObjectFromWindow(child, static_cast<DWORD>(OBJID_CLIENT),
                                        __uuidof(IAccessible),
                                        reinterpret_cast<void**>(&object)))) {
    return 1;
  }
  VARIANT self{};
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  VARIANT role{};
  BSTR name = nullptr;
  object->get_accRole(self, &role);
  object->get_accName(self, &name);
  std::printf("role=%ld name=%s\n", role.vt == VT_I4 ? role.lVal : -1L,
              Quoted(name ? name : L"").c_str());
  SysFreeString(name);
  object->Release();
  CoUninitialize();
  return 0;
}

// Opens `name` inside `folder` (NtCreateFile with RootDirectory), as a program that never builds
// a path does; null when it cannot.
HANDLE OpenRelative(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG options) {
  using NtCreateFileCall =
      NTSTATUS(NTAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, IO_STATUS_BLOCK*, LARGE_INTEGER*,
                       ULONG, ULONG, ULONG, ULONG, void*, ULONG);
  static const auto create = reinterpret_cast<NtCreateFileCall>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtCreateFile")));
  const auto bytes = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  UNICODE_STRING counted{bytes, bytes, const_cast<PWSTR>(name.c_str())};
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &counted, 0, folder, nullptr);
  IO_STATUS_BLOCK io;
  HANDLE handle = nullptr;
  constexpr ULONG kOpen = 1, kSynchronous = 0x20;  // FILE_OPEN, FILE_SYNCHRONOUS_IO_NONALERT
  const NTSTATUS status = create(&handle, access | SYNCHRONIZE, &attributes, &io, nullptr, 0,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, kOpen,
                                 options | kSynchronous, nullptr, 0);
  return status < 0 ? nullptr : handle;
}

constexpr ULONG kDirectoryFile = 0x1, kNonDirectoryFile = 0x40;  // FILE_(NON_)DIRECTORY_FILE

// What any shredder does to one file at least: opens `name` relative to `folder`, writes 4 KiB
// over it, flushes it where asked, and deletes it.
bool WriteAndDelete(HANDLE folder, const wchar_t* name, bool flush) {
  static const std::vector<char> block(4096, 'x');
  const HANDLE file = OpenRelative(folder, name, GENERIC_WRITE | DELETE, kNonDirectoryFile);
  DWORD written = 0;
  FILE_DISPOSITION_INFO gone{TRUE};
  const bool done = file && WriteFile(file, block.data(), 4096, &written, nullptr) &&
                    written == 4096 && (!flush || FlushFileBuffers(file)) &&
                    SetFileInformationByHandle(file, FileDispositionInfo, &gone, sizeof gone);
  if (!done) std::fprintf(stderr, "%ls: error %lu\n", name, GetLastError());
  if (file) CloseHandle(file);
  return done;
}

HANDLE OpenFolder(const std::wstring& path) {
  return CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Down the chain under `top`, one level at a time, holding only the folder of the level: the floor
// under any shredder's time per level, with nothing checked, listed or shown.
int Chain(const std::wstring& top, const std::wstring& folder_name, const std::wstring& file_name) {
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  HANDLE folder = OpenFolder(top);
  if (folder == INVALID_HANDLE_VALUE) return 1;
  size_t levels = 0;
  for (HANDLE inner; (inner = OpenRelative(folder, folder_name, FILE_LIST_DIRECTORY | FILE_TRAVERSE,
                                           kDirectoryFile)) != nullptr;) {
    CloseHandle(folder);
    folder = inner;
    if (!WriteAndDelete(folder, file_name.c_str(), /*flush=*/true)) return 1;
    ++levels;
  }
  CloseHandle(folder);
  std::printf("chain levels=%zu seconds=%.3f\n", levels, SecondsSince(start));
  return 0;
}

// Every file of every folder under `top`, one folder deep, in the listing's order: the floor under
// any shredder's time per file under Wine, durability left out (no flush), nothing checked.
int Tree(const std::wstring& top) {
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  size_t files = 0;
  WIN32_FIND_DATAW found;
  std::vector<std::wstring> folders;
  if (HANDLE find = FindFirstFileW((top + L"\\*").c_str(), &found); find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"." && name != L"..") {
        folders.push_back(top + L"\\" + name);
      }
    } while (FindNextFileW(find, &found));
    FindClose(find);
  }
  for (const std::wstring& path : folders) {
    const HANDLE folder = OpenFolder(path);
    const HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (folder == INVALID_HANDLE_VALUE || find == INVALID_HANDLE_VALUE) return 1;
    do {
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      if (!WriteAndDelete(folder, found.cFileName, /*flush=*/false)) return 1;
      ++files;
    } while (FindNextFileW(find, &found));
    FindClose(find);
    CloseHandle(folder);
  }
  std::printf("tree files=%zu seconds=%.3f\n", files, SecondsSince(start));
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring verb = argc > 1 ? argv[1] : L"";
  if (verb == L"list") return List();
  if (verb == L"inspect" && argc >= 3) {
    if (std::wstring(argv[2]) == L"--class" && argc >= 4) return Inspect(L"", argv[3]);
    return Inspect(argv[2], L"");
  }
  if (verb == L"launch" && argc == 4) return Launch(argv[2], argv[3]);
  if (verb == L"hold" && argc == 4) return Hold(argv[2], _wtoi(argv[3]));
  if (verb == L"shortcut" && argc == 3) return Shortcut(argv[2]);
  if (verb == L"version" && argc == 3) return Version(argv[2]);
  if (verb == L"icon" && argc == 3) return Icon(argv[2]);
  if (verb == L"clipboard") return Clipboard(argc > 2 && std::wstring(argv[2]) == L"--quoted");
  if (verb == L"accessible" && argc == 5 && std::wstring(argv[2]) == L"--class") {
    return Accessible(argv[3], _wtoi(argv[4]));
  }
  if (verb == L"silence" && argc == 5 && std::wstring(argv[2]) == L"--class") {
    return Silence(argv[3], _wtof(argv[4]));
  }
  if (verb == L"drop" && argc >= 4) {
    bool timed = false, id_list = false;
    int i = 2;
    for (; i < argc - 2; ++i) {
      if (std::wstring(argv[i]) == L"--time") {
        timed = true;
      } else if (std::wstring(argv[i]) == L"--idlist") {
        id_list = true;
      } else {
        break;
      }
    }
    if (i == argc - 2) return Drop(argv[i], argv[i + 1], timed, id_list);
  }
  if (verb == L"chain" && argc == 5) return Chain(argv[2], argv[3], argv[4]);
  if (verb == L"tree" && argc == 3) return Tree(argv[2]);
  std::fprintf(stderr,
               "usage: wintool list | inspect [--class CLASS] [TITLE] | launch EXE RAW | "
               "hold FILE SECONDS | shortcut LNK | version FILE | icon FILE | "
               "silence --class CLASS SECONDS | drop [--time] [--idlist] CLSID LIST | "
               "clipboard [--quoted] | accessible --class CLASS ID | chain FOLDER NAME FILE | "
               "tree FOLDER\n");
  return 2;
}
