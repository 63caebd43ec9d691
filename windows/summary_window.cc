// The summary window: how many files and folders a run left and why, at its top, and below that
// every one of them by its path, under its reason, a line each, in a list that scrolls however
// long it is, each character that cannot be seen shown as its code point: the user selects lines
// (Shift, Ctrl, Ctrl+A) and copies them (Ctrl+C) as the disk has them, and a screen reader reads
// it as a list. Tab and Shift+Tab go from the list to its
// buttons and back. Laid out in pixels for 96 dpi and scaled to its screen's density, in the
// system's font for messages at that density.
#include "windows/summary_window.h"

// After <windows.h>: control subclassing, and the accessibility objects.
#include <commctrl.h>
#include <oleacc.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "windows/com_object.h"
#include "windows/dpi.h"
#include "windows/image_scale.h"
#include "windows/modal.h"
#include "windows/visible_text.h"

namespace morvenit {

namespace {

constexpr wchar_t kClass[] = L"MorvenitSummary";
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME;
// A list box: the system's own list, a line an item, which takes no keys from the dialog manager
// but the arrows and characters, so Tab, Enter and Escape reach the window.
constexpr DWORD kListStyle =
    WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | LBS_EXTENDEDSEL | LBS_NOINTEGRALHEIGHT;
// What a screen reader calls the list.
constexpr wchar_t kListName[] = L"Files and folders left, under their reasons";
// "OK" is IDOK: Enter in the list presses the default button, which the window names by it.
enum : int { kCountsId = 100, kListId, kCopyId, kOkId = IDOK };

// The layout at 96 dpi, in pixels.
constexpr int kClientWidth = 600;
constexpr int kMargin = 11;
constexpr int kGap = 7;
constexpr int kListHeight = 300;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 23;
constexpr int kTextMargin = 8;  // beyond the widest line, for the list's own margins

inline void FreeGlobal(HGLOBAL memory) { ::GlobalFree(memory); }
using ScopedGlobal = Scoped<HGLOBAL, FreeGlobal, intptr_t{0}>;

// The clipboard, open for one scope.
class ClipboardScope {
 public:
  explicit ClipboardScope(HWND owner) : open_(::OpenClipboard(owner) != FALSE) {}
  ClipboardScope(const ClipboardScope&) = delete;
  ClipboardScope& operator=(const ClipboardScope&) = delete;
  ~ClipboardScope() {
    if (open_) ::CloseClipboard();
  }
  bool open() const { return open_; }

 private:
  bool open_;
};

// Line breaks as the controls and the clipboard want them.
Text WithCrLf(const Text& text) {
  Text out;
  out.reserve(text.size() + text.size() / 16);
  for (const wchar_t c : text) {
    if (c == L'\n') out += L'\r';
    out += c;
  }
  return out;
}

// Puts `text` on the clipboard, owned by `owner`.
void ToClipboard(HWND owner, const Text& text) {
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  ScopedGlobal memory(::GlobalAlloc(GMEM_MOVEABLE, bytes));
  void* to = memory.valid() ? ::GlobalLock(memory.get()) : nullptr;
  if (!to) return;
  std::memcpy(to, text.c_str(), bytes);
  ::GlobalUnlock(memory.get());
  ClipboardScope clipboard(owner);
  if (!clipboard.open() || !::EmptyClipboard()) return;
  // Once the clipboard has taken the memory, it is the clipboard's.
  if (::SetClipboardData(CF_UNICODETEXT, memory.get())) memory.release();
}

// The system's font for messages, at `dpi`; null (the system font) where it cannot be had.
ScopedFont MessageFont(int dpi) {
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof metrics;
  if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) return {};
  // It comes sized for the primary screen.
  metrics.lfMessageFont.lfHeight = ::MulDiv(metrics.lfMessageFont.lfHeight, dpi, SystemDpi());
  return ScopedFont(::CreateFontIndirectW(&metrics.lfMessageFont));
}

void MoveChild(HWND child, int left, int top, int width, int height) {
  ::SetWindowPos(child, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

// The list as accessibility clients see it: the system's own object for it, named, and called a
// list (Wine alone calls it a plain client area).
class ListAccessible final : public Counted<IAccessible> {
 public:
  explicit ListAccessible(IAccessible* system) : system_(system) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == __uuidof(IAccessible)) {
      *out = static_cast<IAccessible*>(this);
      AddRef();
      return S_OK;
    }
    // The children's enumerator and the window behind it are the system's.
    return system_->QueryInterface(iid, out);
  }

  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
    if (!Self(child)) return system_->get_accName(child, name);
    *name = ::SysAllocString(kListName);
    return *name ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
    if (!Self(child)) return system_->get_accRole(child, role);
    role->vt = VT_I4;
    role->lVal = ROLE_SYSTEM_LIST;
    return S_OK;
  }

  // Everything else as the system answers it.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    return system_->GetTypeInfoCount(count);
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
    return system_->GetTypeInfo(index, locale, info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) override {
    return system_->GetIDsOfNames(iid, names, count, locale, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags,
                                   DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                                   UINT* wrong) override {
    return system_->Invoke(id, iid, locale, flags, parameters, result, exception, wrong);
  }
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
    return system_->get_accParent(parent);
  }
  HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
    return system_->get_accChildCount(count);
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
    return system_->get_accChild(child, out);
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
    return system_->get_accValue(child, value);
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override {
    return system_->get_accDescription(child, description);
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
    return system_->get_accState(child, state);
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override {
    return system_->get_accHelp(child, help);
  }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override {
    return system_->get_accHelpTopic(file, child, topic);
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
    return system_->get_accKeyboardShortcut(child, shortcut);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override {
    return system_->get_accFocus(child);
  }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override {
    return system_->get_accSelection(children);
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
    return system_->get_accDefaultAction(child, action);
  }
  HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override {
    return system_->accSelect(flags, child);
  }
  HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height,
                                        VARIANT child) override {
    return system_->accLocation(left, top, width, height, child);
  }
  HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
    return system_->accNavigate(direction, start, end);
  }
  HRESULT STDMETHODCALLTYPE accHitTest(LONG left, LONG top, VARIANT* child) override {
    return system_->accHitTest(left, top, child);
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
    return system_->accDoDefaultAction(child);
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override {
    return system_->put_accName(child, name);
  }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override {
    return system_->put_accValue(child, value);
  }

 private:
  ~ListAccessible() override { system_->Release(); }
  static bool Self(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }

  IAccessible* system_;
};

struct Summary {
  HWND window = nullptr;
  HWND counts = nullptr, list = nullptr, copy = nullptr, close = nullptr;
  Text counts_text;         // with "\r\n"
  std::vector<Text> lines;  // as the disk has them: what is copied
  ScopedFont font;
  bool closed = false;

  HWND CreateChild(DWORD ex_style, const wchar_t* class_name, const Text& text, DWORD style,
                   int id) const {
    const HWND child = ::CreateWindowExW(
        ex_style, class_name, text.c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, window,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr), nullptr);
    if (!child) throw LastFailure();
    return child;
  }
  void Fill() const;
  void FitWidth() const;
  void LayOut(int dpi);
  void CopyAll() const;
  void CopySelected() const;
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
};

// The lines into the list, in one go: a hundred thousand take a fraction of a second.
void Summary::Fill() const {
  ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  size_t characters = 0;
  for (const Text& line : lines) characters += line.size() + 1;
  ::SendMessageW(list, LB_INITSTORAGE, lines.size(), characters * sizeof(wchar_t));
  for (const Text& line : lines) {
    ::SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(VisibleText(line).c_str()));
  }
  ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  ::InvalidateRect(list, nullptr, TRUE);
}

// The list scrolls sideways as far as its widest line reaches, in the font it has now.
void Summary::FitWidth() const {
  ScopedScreenDc screen(::GetDC(nullptr));
  ScopedSelect selected(screen.get(), font.valid() ? font.get() : ::GetStockObject(SYSTEM_FONT));
  LONG widest = 0;
  for (const Text& line : lines) {
    const Text shown = VisibleText(line);
    SIZE size{};
    ::GetTextExtentPoint32W(screen.get(), shown.c_str(), static_cast<int>(shown.size()), &size);
    widest = std::max(widest, size.cx);
  }
  ::SendMessageW(list, LB_SETHORIZONTALEXTENT, widest + kTextMargin, 0);
}

// Sizes the window, its elements and its font for a screen of `dpi`, keeping its top-left corner.
// The counts take as many lines as they need at the list's width.
void Summary::LayOut(int dpi) {
  const auto px = [dpi](int pixels) { return ::MulDiv(pixels, dpi, kDesignDpi); };
  ScopedFont new_font = MessageFont(dpi);
  for (const HWND child : {counts, list, copy, close}) {
    ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(new_font.get()), TRUE);
  }
  font = std::move(new_font);  // the old one only now, when nothing uses it any more
  FitWidth();

  const int left = px(kMargin), width = px(kClientWidth) - 2 * px(kMargin);
  RECT text = {0, 0, width, 0};
  {
    ScopedScreenDc screen(::GetDC(nullptr));
    ScopedSelect selected(screen.get(), font.valid() ? font.get() : ::GetStockObject(SYSTEM_FONT));
    ::DrawTextW(screen.get(), counts_text.c_str(), -1, &text,
                DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX | DT_EDITCONTROL);
  }
  int top = px(kMargin);
  MoveChild(counts, left, top, width, text.bottom);
  top += text.bottom + px(kGap);
  MoveChild(list, left, top, width, px(kListHeight));
  top += px(kListHeight) + px(kGap);
  const int button = px(kButtonWidth), right = left + width;
  MoveChild(copy, right - 2 * button - px(kGap), top, button, px(kButtonHeight));
  MoveChild(close, right - button, top, button, px(kButtonHeight));

  RECT outer = {0, 0, px(kClientWidth), top + px(kButtonHeight) + px(kMargin)};
  AdjustWindowRectForDpi(outer, kStyle, kExStyle, dpi);
  ::SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  ::InvalidateRect(window, nullptr, TRUE);
}

// The counts and every line, as one text.
void Summary::CopyAll() const {
  Text text = counts_text + L"\r\n\r\n";
  for (const Text& line : lines) text += line + L"\r\n";
  ToClipboard(window, text);
}

// The lines selected, in their order; nothing when none is.
void Summary::CopySelected() const {
  const auto count = static_cast<int>(::SendMessageW(list, LB_GETSELCOUNT, 0, 0));
  if (count <= 0) return;
  std::vector<int> selected(static_cast<size_t>(count));
  ::SendMessageW(list, LB_GETSELITEMS, count, reinterpret_cast<LPARAM>(selected.data()));
  Text text;
  for (const int i : selected) text += lines.at(static_cast<size_t>(i)) + L"\r\n";
  ToClipboard(window, text);
}

// The list: Ctrl+A selects every line and Ctrl+C copies those selected, as in most lists; the
// system's own lacks both. Accessibility clients get it named.
LRESULT CALLBACK ListProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, UINT_PTR,
                          DWORD_PTR data) {
  const auto& summary = *reinterpret_cast<const Summary*>(data);
  switch (msg) {
    case WM_KEYDOWN:
      if (::GetKeyState(VK_CONTROL) >= 0) break;
      if (wparam == 'A') {
        ::SendMessageW(hwnd, LB_SELITEMRANGEEX, 0, static_cast<LPARAM>(summary.lines.size()) - 1);
        return 0;
      }
      if (wparam == 'C') {
        summary.CopySelected();
        return 0;
      }
      break;
    case WM_CHAR:  // the Ctrl+A and Ctrl+C above, as characters: no search for them
      if (wparam == 1 || wparam == 3) return 0;
      break;
    case WM_GETOBJECT:
      if (static_cast<DWORD>(lparam) == static_cast<DWORD>(OBJID_CLIENT)) {
        IAccessible* system = nullptr;
        if (FAILED(::CreateStdAccessibleObject(hwnd, OBJID_CLIENT, __uuidof(IAccessible),
                                               reinterpret_cast<void**>(&system)))) {
          break;
        }
        auto* const named = new ListAccessible(system);
        const LRESULT result = ::LresultFromObject(__uuidof(IAccessible), wparam, named);
        named->Release();
        return result;
      }
      break;
    case WM_NCDESTROY:
      ::RemoveWindowSubclass(hwnd, ListProc, 0);
      break;
  }
  return ::DefSubclassProc(hwnd, msg, wparam, lparam);
}

LRESULT CALLBACK Summary::Proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* summary = reinterpret_cast<Summary*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!summary) return ::DefWindowProcW(hwnd, msg, wparam, lparam);

  switch (msg) {
    case WM_COMMAND:  // Enter and Escape arrive as IDOK and IDCANCEL
      if (LOWORD(wparam) == kCopyId) {
        summary->CopyAll();
        return 0;
      }
      if (LOWORD(wparam) != IDOK && LOWORD(wparam) != IDCANCEL) break;
      [[fallthrough]];
    case WM_CLOSE:  // the close box
      summary->closed = true;
      return 0;

    case DM_GETDEFID:  // asked by the dialog manager when Enter is pressed in the list
      return MAKELRESULT(kOkId, DC_HASDEFID);

    case WM_DPICHANGED: {  // moved to a screen of another density
      summary->LayOut(HIWORD(wparam));
      MoveToSuggested(hwnd, lparam);
      return 0;
    }
  }
  return ::DefWindowProcW(hwnd, msg, wparam, lparam);
}

}  // namespace

void ShowSummaryModal(HWND owner, const Text& counts, const std::vector<Text>& lines) {
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  static const bool registered = [instance] {
    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = Summary::Proc;
    window_class.hInstance = instance;
    window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
    window_class.lpszClassName = kClass;
    if (!::RegisterClassExW(&window_class)) throw LastFailure();
    return true;
  }();
  (void)registered;

  Summary summary;  // outlives the window, whose procedure reads it to the end
  summary.counts_text = WithCrLf(counts);
  summary.lines = lines;
  ScopedWindow window(::CreateWindowExW(kExStyle, kClass, L"Morvenit", kStyle, 0, 0, 0, 0, owner,
                                        nullptr, instance, &summary));
  if (!window.valid()) throw LastFailure();
  summary.window = window.get();
  summary.counts = summary.CreateChild(0, L"STATIC", summary.counts_text,
                                       SS_LEFT | SS_NOPREFIX | SS_EDITCONTROL, kCountsId);
  summary.list = summary.CreateChild(WS_EX_CLIENTEDGE, L"LISTBOX", Text(), kListStyle, kListId);
  summary.copy = summary.CreateChild(0, L"BUTTON", L"Copy", WS_TABSTOP | BS_PUSHBUTTON, kCopyId);
  summary.close = summary.CreateChild(0, L"BUTTON", L"OK", WS_TABSTOP | BS_DEFPUSHBUTTON, kOkId);
  summary.Fill();
  // Only once filled: under Wine each message through a subclass costs a call to its server
  // (2.6 s for 50,000 lines).
  ::SetWindowSubclass(summary.list, ListProc, 0, reinterpret_cast<DWORD_PTR>(&summary));
  summary.LayOut(WindowDpi(summary.window));

  // In the middle of the owner's screen.
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof monitor;
  ::GetMonitorInfoW(::MonitorFromWindow(owner, MONITOR_DEFAULTTOPRIMARY), &monitor);
  RECT outer = {};
  ::GetWindowRect(summary.window, &outer);
  const RECT& area = monitor.rcWork;
  ::SetWindowPos(summary.window, nullptr, (area.left + area.right - (outer.right - outer.left)) / 2,
                 (area.top + area.bottom - (outer.bottom - outer.top)) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

  ::EnableWindow(owner, FALSE);
  ::ShowWindow(summary.window, SW_SHOW);
  ::SetFocus(summary.list);
  RunModal(summary.window, summary.closed);
  // The owner comes back before the window goes, so that it takes the activation.
  ::EnableWindow(owner, TRUE);
}

}  // namespace morvenit
