// A plain stand-in for frmMain: a caption, a text box, a hidden status label and a push-button
// "Cancel" toggle, created on first access.
#include "windows/progress_window.h"

#include "platform/win32.h"

namespace morvenit {

namespace {

enum { kText1 = 101, kCheck1 = 102, kLabel2 = 103 };
HWND window = nullptr;

LRESULT CALLBACK StandInProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_DESTROY && hwnd == window) window = nullptr;
  return ::DefWindowProcW(hwnd, msg, wparam, lparam);
}

HWND Window() {
  if (window) return window;
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSW wc{};
  wc.lpfnWndProc = StandInProc;
  wc.hInstance = instance;
  wc.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
  wc.lpszClassName = L"MorvenitProgress";
  ::RegisterClassW(&wc);
  window = ::CreateWindowExW(0, wc.lpszClassName, L"Morvenit",
                             WS_CAPTION | WS_SYSMENU | WS_POPUP, 448, 600, 382, 108, nullptr,
                             nullptr, instance, nullptr);
  ::CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, 72, 56,
                    249, 19, window, reinterpret_cast<HMENU>(kText1), instance, nullptr);
  ::CreateWindowExW(0, L"BUTTON", L"Cancel", WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX | BS_PUSHLIKE,
                    328, 56, 41, 17, window, reinterpret_cast<HMENU>(kCheck1), instance, nullptr);
  ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 104, 40, 257, 17, window,
                    reinterpret_cast<HMENU>(kLabel2), instance, nullptr);
  return window;
}

}  // namespace

int ProgressWindow::Check1() {
  return ::SendDlgItemMessageW(Window(), kCheck1, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

void ProgressWindow::SetText1(const Text& text) { ::SetDlgItemTextW(Window(), kText1, text.c_str()); }

void ProgressWindow::SetLabel2(const Text& caption) {
  ::SetDlgItemTextW(Window(), kLabel2, caption.c_str());
}

void ProgressWindow::ShowLabel2(bool visible) {
  ::ShowWindow(::GetDlgItem(Window(), kLabel2), visible ? SW_SHOW : SW_HIDE);
}

void ProgressWindow::SetCaption(const Text& caption) { ::SetWindowTextW(Window(), caption.c_str()); }

void ProgressWindow::SetVisible(bool visible) {
  ::ShowWindow(Window(), visible ? SW_SHOWNOACTIVATE : SW_HIDE);
}

}  // namespace morvenit
