// The summary window: how many files and folders a run left and why, at its top, and below that
// every one of them by its path, under its reason, in a box that scrolls however long the list,
// where the user can select and copy. Laid out in pixels for 96 dpi and scaled to its screen's
// density, in the system's font for messages at that density.
#include "windows/summary_window.h"

// After <windows.h>: control subclassing.
#include <commctrl.h>

#include <cstring>
#include <utility>

#include "windows/dpi.h"
#include "windows/image_scale.h"
#include "windows/modal.h"

namespace morvenit {

namespace {

constexpr wchar_t kClass[] = L"MorvenitSummary";
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME;
constexpr DWORD kListStyle = WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY |
                             ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_NOHIDESEL;
// "OK" is IDOK: Enter in the list presses the default button, which the window names by it.
enum : int { kCountsId = 100, kListId, kCopyId, kOkId = IDOK };

// The layout at 96 dpi, in pixels.
constexpr int kClientWidth = 600;
constexpr int kMargin = 11;
constexpr int kGap = 7;
constexpr int kListHeight = 300;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 23;

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

struct Summary {
  HWND window = nullptr;
  HWND counts = nullptr, list = nullptr, copy = nullptr, close = nullptr;
  Text counts_text, list_text;  // with "\r\n"
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
  void LayOut(int dpi);
  void Copy() const;
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
};

// Sizes the window, its elements and its font for a screen of `dpi`, keeping its top-left corner.
// The counts take as many lines as they need at the list's width.
void Summary::LayOut(int dpi) {
  const auto px = [dpi](int pixels) { return ::MulDiv(pixels, dpi, kDesignDpi); };
  ScopedFont new_font = MessageFont(dpi);
  for (const HWND child : {counts, list, copy, close}) {
    ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(new_font.get()), TRUE);
  }
  font = std::move(new_font);  // the old one only now, when nothing uses it any more

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

// Puts the counts and the whole list on the clipboard, as one text.
void Summary::Copy() const {
  const Text text = counts_text + L"\r\n\r\n" + list_text;
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  ScopedGlobal memory(::GlobalAlloc(GMEM_MOVEABLE, bytes));
  void* to = memory.valid() ? ::GlobalLock(memory.get()) : nullptr;
  if (!to) return;
  std::memcpy(to, text.c_str(), bytes);
  ::GlobalUnlock(memory.get());
  ClipboardScope clipboard(window);
  if (!clipboard.open() || !::EmptyClipboard()) return;
  // Once the clipboard has taken the memory, it is the clipboard's.
  if (::SetClipboardData(CF_UNICODETEXT, memory.get())) memory.release();
}

// The list: Ctrl+A selects all of it, as in most text boxes; the system's own box lacks it.
LRESULT CALLBACK ListProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, UINT_PTR, DWORD_PTR) {
  switch (msg) {
    case WM_KEYDOWN:
      if (wparam == 'A' && ::GetKeyState(VK_CONTROL) < 0) {
        ::SendMessageW(hwnd, EM_SETSEL, 0, -1);
        return 0;
      }
      break;
    case WM_CHAR:  // the Ctrl+A above, as a character
      if (wparam == 1) return 0;
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
        summary->Copy();
        return 0;
      }
      if (LOWORD(wparam) != IDOK && LOWORD(wparam) != IDCANCEL) break;
      [[fallthrough]];
    case WM_CLOSE:  // the close box, and Escape in the list
      summary->closed = true;
      return 0;

    case DM_GETDEFID:  // asked by the list when Enter is pressed in it
      return MAKELRESULT(kOkId, DC_HASDEFID);

    case WM_CTLCOLORSTATIC: {  // the list is read-only, but reads as text on a page
      if (reinterpret_cast<HWND>(lparam) != summary->list) break;
      const HDC dc = reinterpret_cast<HDC>(wparam);
      ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
      ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
      return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
    }

    case WM_DPICHANGED: {  // moved to a screen of another density
      summary->LayOut(HIWORD(wparam));
      MoveToSuggested(hwnd, lparam);
      return 0;
    }
  }
  return ::DefWindowProcW(hwnd, msg, wparam, lparam);
}

}  // namespace

void ShowSummaryModal(HWND owner, const Text& counts, const Text& list) {
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
  summary.list_text = WithCrLf(list);
  ScopedWindow window(::CreateWindowExW(kExStyle, kClass, L"Morvenit", kStyle, 0, 0, 0, 0, owner,
                                        nullptr, instance, &summary));
  if (!window.valid()) throw LastFailure();
  summary.window = window.get();
  summary.counts = summary.CreateChild(0, L"STATIC", summary.counts_text,
                                       SS_LEFT | SS_NOPREFIX | SS_EDITCONTROL, kCountsId);
  summary.list = summary.CreateChild(WS_EX_CLIENTEDGE, L"EDIT", Text(), kListStyle, kListId);
  ::SetWindowSubclass(summary.list, ListProc, 0, 0);
  summary.copy = summary.CreateChild(0, L"BUTTON", L"Copy", WS_TABSTOP | BS_PUSHBUTTON, kCopyId);
  summary.close = summary.CreateChild(0, L"BUTTON", L"OK", WS_TABSTOP | BS_DEFPUSHBUTTON, kOkId);
  summary.LayOut(WindowDpi(summary.window));
  ::SetWindowTextW(summary.list, summary.list_text.c_str());

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
