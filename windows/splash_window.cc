// frmSplash, the information window: the logo with its version, the maker's lines, and a usage
// text that "?" unfolds below and "OK" folds away again. "X" closes it, and with it the program.
#include "windows/splash_window.h"

#include "platform/win32.h"
// After <windows.h>: button subclassing, and OleLoadPicture to decode the GIF logo.
#include <commctrl.h>
#include <olectl.h>

#include <iterator>

#include "windows/about.h"
#include "windows/dpi.h"
#include "windows/image_scale.h"
#include "windows/modal.h"
#include "windows/resource.h"
#include "windows/usage_text.h"

namespace morvenit {

namespace {

// Control ids. None is 1 or 2: Enter and Escape arrive as commands with those ids, and neither
// key may do anything here.
enum : int {
  kPicture1 = 100,
  kLabel1 = 101,
  kLabel2 = 102,
  kLabel3 = 103,
  kLabel4 = 104,
  kLabel5 = 105,
  kCommand1 = 111,
  kCommand3 = 113,
  kCommand4 = 114,
};

// Geometry in twips, 1440 to the inch; converted to pixels at the window's dots per inch. The
// logo and the pointing hand are drawn for 96 dpi and enlarged to the same scale.
constexpr int kClientLeft = 7050;
constexpr int kClientTop = 6615;
constexpr int kClientWidth = 5460;
// Outer heights, frame included. Folding again is 15 twips shorter than the first load.
constexpr int kHeightAtLoad = 1830;
constexpr int kHeightUnfolded = 6000;
constexpr int kHeightFolded = 1815;

constexpr DWORD kWindowStyle = WS_POPUP | WS_DLGFRAME | WS_CLIPCHILDREN;
constexpr DWORD kLabelStyle = WS_CHILD | WS_VISIBLE | SS_NOPREFIX;
constexpr DWORD kButtonStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP;

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kHelpFace = RGB(255, 224, 192);
constexpr COLORREF kCloseFace = RGB(255, 128, 128);

constexpr wchar_t kWindowClass[] = L"MorvenitSplash";
constexpr wchar_t kPictureClass[] = L"MorvenitSplashPicture";

struct Element {
  int id;
  const wchar_t* window_class;
  DWORD style;
  int left, top, width, height;
  const wchar_t* text;
  bool in_picture;  // placed inside Picture1, relative to it
};

// Created in this order, which is also the Tab order: Picture1, Command1, Command4, Command3.
// The labels take no focus. Picture1 takes its size from the logo once it is loaded.
constexpr Element kElements[] = {
    {kPicture1, kPictureClass, WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPCHILDREN, 120, 120, 2250,
     1500, L"", false},
    {kLabel3, L"STATIC", kLabelStyle | SS_LEFT, 0, 0, 735, 255, kVersionLabel, true},
    {kCommand1, L"BUTTON", kButtonStyle | BS_OWNERDRAW, 5160, 0, 255, 255, L"X", false},
    {kCommand4, L"BUTTON", kButtonStyle | BS_PUSHBUTTON, 4440, 5520, 735, 255, L"OK", false},
    {kCommand3, L"BUTTON", kButtonStyle | BS_OWNERDRAW, 4680, 0, 375, 255, L"?", false},
    {kLabel1, L"STATIC", kLabelStyle | SS_RIGHT, 3240, 480, 1935, 255, kCopyrightNotice, false},
    {kLabel2, L"STATIC", kLabelStyle | SS_RIGHT, 3600, 720, 1575, 255, kWebAddress, false},
    {kLabel4, L"STATIC", kLabelStyle | SS_RIGHT, 3480, 960, 1695, 255, kSupportAddress, false},
    {kLabel5, L"STATIC", kLabelStyle | SS_LEFT, 240, 1800, 4935, 3615, L"Label5", false},
};

struct Splash {
  int dpi = kDesignDpi;
  int height = kHeightAtLoad;  // the outer height in twips: folded or unfolded
  ScopedFont font;
  ScopedFont bold_font;
  ScopedBitmap logo;
  ScopedBitmap scaled_logo;  // at the window's density when that is not 96 dpi
  ScopedBrush logo_brush;    // Label3's background: the logo itself, so it shows through
  ScopedBrush white;
  ScopedBrush help_face;
  ScopedBrush close_face;
  HCURSOR hand = nullptr;  // a resource cursor, shared, never destroyed
  ScopedCursor scaled_hand;
  HWND focus = nullptr;  // the control to give the focus back to on reactivation
  bool closed = false;   // the window is destroyed
  ScopedWindow owner;    // hidden; owning the window keeps it off the taskbar
  ScopedWindow window;   // last, so it goes before the objects it draws with

  int X(int twips) const { return ::MulDiv(twips, dpi, 1440); }
  int Y(int twips) const { return ::MulDiv(twips, dpi, 1440); }
  HBITMAP Logo() const { return scaled_logo.valid() ? scaled_logo.get() : logo.get(); }
  HCURSOR Hand() const { return scaled_hand.valid() ? scaled_hand.get() : hand; }
};

Splash* FromWindow(HWND hwnd) {
  return reinterpret_cast<Splash*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

// The logo is a GIF, which LoadImage cannot read; OLE's picture loader can. The bitmap is copied
// out so that it no longer depends on the picture object. Without a logo the window still works,
// so a logo that cannot be decoded leaves Picture1 blank rather than ending the program.
ScopedBitmap LoadLogo(HINSTANCE instance) {
  const HRSRC resource = ::FindResourceW(instance, MAKEINTRESOURCEW(IDR_SPLASH_LOGO), RT_RCDATA);
  if (!resource) return {};
  const DWORD size = ::SizeofResource(instance, resource);
  const void* data = ::LockResource(::LoadResource(instance, resource));
  if (!data || !size) return {};

  IStream* raw_stream = nullptr;
  if (FAILED(::CreateStreamOnHGlobal(nullptr, TRUE, &raw_stream))) return {};
  ScopedCom<IStream> stream(raw_stream);
  ULONG written = 0;
  if (FAILED(stream.get()->Write(data, size, &written)) || written != size) return {};
  const LARGE_INTEGER start{};
  if (FAILED(stream.get()->Seek(start, STREAM_SEEK_SET, nullptr))) return {};

  IPicture* raw_picture = nullptr;
  if (FAILED(::OleLoadPicture(stream.get(), static_cast<LONG>(size), FALSE, IID_IPicture,
                              reinterpret_cast<void**>(&raw_picture)))) {
    return {};
  }
  ScopedCom<IPicture> picture(raw_picture);
  SHORT type = PICTYPE_UNINITIALIZED;
  OLE_HANDLE handle = 0;
  if (FAILED(picture.get()->get_Type(&type)) || type != PICTYPE_BITMAP ||
      FAILED(picture.get()->get_Handle(&handle))) {
    return {};
  }
  const auto bitmap = reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(handle));
  return ScopedBitmap(
      static_cast<HBITMAP>(::CopyImage(bitmap, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
}

ScopedFont CreateSansSerif(int dpi, int weight) {
  // 8.25 points: 11 pixels at 96 dots per inch.
  return ScopedFont(::CreateFontW(-::MulDiv(825, dpi, 7200), 0, 0, 0, weight, FALSE, FALSE, FALSE,
                                  ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                  DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif"));
}

// The frame is outside the client area, so the outer height keeps the top edge where it is and
// moves only the bottom.
void SetOuterHeight(Splash& splash, int twips) {
  splash.height = twips;
  RECT outer;
  ::GetWindowRect(splash.window.get(), &outer);
  ::SetWindowPos(splash.window.get(), nullptr, 0, 0, outer.right - outer.left, splash.Y(twips),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The dialog manager makes a push button the default one while it has the focus, and Enter then
// clicks it. Here Enter does nothing, so "OK" answers as a button that is never the default:
// Enter on it arrives as the id 1 that nothing answers.
LRESULT CALLBACK NeverDefaultProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, UINT_PTR,
                                  DWORD_PTR) {
  if (msg == WM_GETDLGCODE) return DLGC_BUTTON;
  if (msg == WM_NCDESTROY) ::RemoveWindowSubclass(hwnd, NeverDefaultProc, 0);
  return ::DefSubclassProc(hwnd, msg, wparam, lparam);
}

// The elements are created empty; LayOut places them and gives them their fonts.
void CreateElements(const Splash& splash) {
  const HWND hwnd = splash.window.get();
  HWND picture = nullptr;
  for (const Element& e : kElements) {
    const HWND control = ::CreateWindowExW(
        0, e.window_class, e.text, e.style, 0, 0, 0, 0, e.in_picture ? picture : hwnd,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(e.id)), ::GetModuleHandleW(nullptr), nullptr);
    if (!control) throw LastFailure();
    if (e.id == kCommand4) ::SetWindowSubclass(control, NeverDefaultProc, 0, 0);
    if (e.id == kPicture1) picture = control;
  }
}

// Sizes the window, its elements, fonts, logo and cursor for a screen of `dpi`, keeping the
// window's top-left corner and its folded or unfolded height. At 96 dpi the images are shown as
// they are.
void LayOut(Splash& splash, int dpi) {
  splash.dpi = dpi;
  const HWND hwnd = splash.window.get();
  const bool design = dpi == kDesignDpi;
  splash.scaled_logo =
      design || !splash.logo.valid() ? ScopedBitmap() : ScaleBitmapForDpi(splash.logo.get(), dpi);
  splash.logo_brush.Reset(splash.Logo() ? ::CreatePatternBrush(splash.Logo()) : nullptr);
  if (design) {
    splash.scaled_hand.Reset();
  } else {
    // As drawn: LoadCursor would give it at the system's cursor size, already stretched.
    const ScopedCursor drawn(static_cast<HCURSOR>(::LoadImageW(
        ::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDC_POINTING_HAND), IMAGE_CURSOR, 0, 0, 0)));
    splash.scaled_hand = drawn.valid() ? ScaleCursorForDpi(drawn.get(), dpi) : ScopedCursor();
  }

  ScopedFont font = CreateSansSerif(dpi, FW_NORMAL);
  ScopedFont bold_font = CreateSansSerif(dpi, FW_BOLD);
  const HWND picture = ::GetDlgItem(hwnd, kPicture1);
  for (const Element& e : kElements) {
    const HWND control = ::GetDlgItem(e.in_picture ? picture : hwnd, e.id);
    const ScopedFont& own = e.id == kCommand3 ? bold_font : font;
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(own.get()), TRUE);
    int width = splash.X(e.width), height = splash.Y(e.height);
    BITMAP logo{};
    if (e.id == kPicture1 && splash.Logo() && ::GetObjectW(splash.Logo(), sizeof logo, &logo)) {
      width = logo.bmWidth;  // Picture1 takes the logo's size
      height = logo.bmHeight;
    }
    ::SetWindowPos(control, nullptr, splash.X(e.left), splash.Y(e.top), width, height,
                   SWP_NOZORDER | SWP_NOACTIVATE);
  }
  // The old fonts go only now, when no element uses them any more.
  splash.font = std::move(font);
  splash.bold_font = std::move(bold_font);

  RECT outer = {0, 0, splash.X(kClientWidth), 0};
  AdjustWindowRectForDpi(outer, kWindowStyle, 0, dpi);
  ::SetWindowPos(hwnd, nullptr, 0, 0, outer.right - outer.left, splash.Y(splash.height),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  ::InvalidateRect(hwnd, nullptr, TRUE);
}

// A push button with a face colour of its own: the standard button cannot be given one.
void DrawColouredButton(const DRAWITEMSTRUCT& item, HBRUSH face) {
  const HDC dc = item.hDC;
  const bool pushed = (item.itemState & ODS_SELECTED) != 0;
  const bool focused = (item.itemState & ODS_FOCUS) != 0;
  RECT edge = item.rcItem;
  if (focused) {
    ::FrameRect(dc, &edge, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
    ::InflateRect(&edge, -1, -1);
  }
  ::FillRect(dc, &edge, face);
  if (pushed) {
    ::FrameRect(dc, &edge, ::GetSysColorBrush(COLOR_BTNSHADOW));
  } else {
    ::DrawEdge(dc, &edge, EDGE_RAISED, BF_RECT);
  }

  wchar_t text[8] = {};
  ::GetWindowTextW(item.hwndItem, text, static_cast<int>(std::size(text)));
  RECT label = item.rcItem;
  if (pushed) ::OffsetRect(&label, 1, 1);
  const auto font = reinterpret_cast<HFONT>(::SendMessageW(item.hwndItem, WM_GETFONT, 0, 0));
  ScopedSelect select_font(dc, font);
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, kBlack);
  ::DrawTextW(dc, text, -1, &label, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);

  if (focused && !(item.itemState & ODS_NOFOCUSRECT)) {
    RECT dots = edge;
    ::InflateRect(&dots, -2, -2);
    ::DrawFocusRect(dc, &dots);
  }
}

LRESULT ColourLabel(const Splash& splash, HDC dc, HWND label) {
  ::SetTextColor(dc, kBlack);
  switch (::GetDlgCtrlID(label)) {
    case kLabel3: {
      if (!splash.logo_brush.valid()) break;
      // The label paints its background with the logo, lined up with the picture under it; a
      // hollow brush leaves a solid box over the logo instead.
      POINT origin{};
      ::MapWindowPoints(label, ::GetParent(label), &origin, 1);
      ::SetBrushOrgEx(dc, -origin.x, -origin.y, nullptr);
      ::SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<LRESULT>(splash.logo_brush.get());
    }
    case kLabel5:
      // Transparent over the window's own white.
      ::SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<LRESULT>(splash.white.get());
    default:
      break;
  }
  ::SetBkMode(dc, OPAQUE);
  ::SetBkColor(dc, kWhite);
  return reinterpret_cast<LRESULT>(splash.white.get());
}

void OnClick(Splash& splash, int id) {
  switch (id) {
    case kCommand3:
      ::SetDlgItemTextW(splash.window.get(), kLabel5, BuildUsageText().c_str());
      SetOuterHeight(splash, kHeightUnfolded);
      break;
    case kCommand4:
      SetOuterHeight(splash, kHeightFolded);
      break;
    case kCommand1:
      ::DestroyWindow(splash.window.get());
      break;
    default:
      break;  // Enter and Escape among them
  }
}

LRESULT CALLBACK SplashProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  Splash* splash = FromWindow(hwnd);
  if (!splash) return ::DefWindowProcW(hwnd, msg, wparam, lparam);

  switch (msg) {
    case WM_COMMAND:
      // Owner-drawn buttons report a quick second click as a double click; it is a click too.
      if (HIWORD(wparam) == BN_CLICKED || HIWORD(wparam) == BN_DOUBLECLICKED) {
        OnClick(*splash, LOWORD(wparam));
      }
      return 0;
    case WM_CTLCOLORSTATIC:
      return ColourLabel(*splash, reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam));
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
      const ScopedBrush& face =
          static_cast<int>(item.CtlID) == kCommand3 ? splash->help_face : splash->close_face;
      DrawColouredButton(item, face.get());
      return TRUE;
    }
    case WM_SETCURSOR:
      if (reinterpret_cast<HWND>(wparam) == ::GetDlgItem(hwnd, kCommand3) &&
          LOWORD(lparam) == HTCLIENT && splash->Hand()) {
        ::SetCursor(splash->Hand());
        return TRUE;
      }
      break;
    case WM_DPICHANGED: {  // moved to a screen of another density
      LayOut(*splash, HIWORD(wparam));
      MoveToSuggested(hwnd, lparam);
      return 0;
    }
    case WM_ACTIVATE:
      // An ordinary window forgets its focused control when it loses activation; a dialog
      // would not, so do what a dialog does.
      if (LOWORD(wparam) == WA_INACTIVE) {
        const HWND focus = ::GetFocus();
        if (focus && ::IsChild(hwnd, focus)) splash->focus = focus;
      } else if (splash->focus && ::IsWindow(splash->focus)) {
        ::SetFocus(splash->focus);
        return 0;
      }
      break;
    case WM_NCDESTROY:
      splash->window.release();
      splash->closed = true;
      ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      break;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd, msg, wparam, lparam);
}

// Picture1: draws the logo and passes its label's messages on to the window, where they are
// answered for every label alike.
LRESULT CALLBACK PictureProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case WM_PAINT: {
      PaintScope paint(hwnd);
      const Splash* splash = FromWindow(::GetParent(hwnd));
      BITMAP logo{};
      if (!splash || !splash->Logo() || !::GetObjectW(splash->Logo(), sizeof logo, &logo)) {
        return 0;
      }
      ScopedDc memory(::CreateCompatibleDC(paint.dc()));
      ScopedSelect select_logo(memory.get(), splash->Logo());
      ::BitBlt(paint.dc(), 0, 0, logo.bmWidth, logo.bmHeight, memory.get(), 0, 0, SRCCOPY);
      return 0;
    }
    case WM_COMMAND:
    case WM_CTLCOLORSTATIC:
      return ::SendMessageW(::GetParent(hwnd), msg, wparam, lparam);
    default:
      return ::DefWindowProcW(hwnd, msg, wparam, lparam);
  }
}

void RegisterClasses(HINSTANCE instance) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.hInstance = instance;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
  wc.lpfnWndProc = SplashProc;
  wc.lpszClassName = kWindowClass;
  if (!::RegisterClassExW(&wc)) throw LastFailure();
  wc.lpfnWndProc = PictureProc;
  wc.lpszClassName = kPictureClass;
  if (!::RegisterClassExW(&wc)) throw LastFailure();
}

}  // namespace

void ShowSplashModal() {
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  RegisterClasses(instance);

  Splash splash;
  splash.logo = LoadLogo(instance);
  splash.white.Reset(::CreateSolidBrush(kWhite));
  splash.help_face.Reset(::CreateSolidBrush(kHelpFace));
  splash.close_face.Reset(::CreateSolidBrush(kCloseFace));
  splash.hand = ::LoadCursorW(instance, MAKEINTRESOURCEW(IDC_POINTING_HAND));

  // The client area's top-left corner is fixed on the screen; the frame goes around it. Placed at
  // the primary screen's density, then laid out at that of the screen it is on.
  splash.dpi = SystemDpi();
  RECT outer = {splash.X(kClientLeft), splash.Y(kClientTop), splash.X(kClientLeft + kClientWidth),
                splash.Y(kClientTop)};
  AdjustWindowRectForDpi(outer, kWindowStyle, 0, splash.dpi);
  splash.owner.Reset(::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                       instance, nullptr));
  if (!splash.owner.valid()) throw LastFailure();
  splash.window.Reset(::CreateWindowExW(0, kWindowClass, L"", kWindowStyle, outer.left, outer.top,
                                        outer.right - outer.left, splash.Y(kHeightAtLoad),
                                        splash.owner.get(), nullptr, instance, &splash));
  if (!splash.window.valid()) throw LastFailure();
  CreateElements(splash);
  LayOut(splash, WindowDpi(splash.window.get()));

  const HWND hwnd = splash.window.get();
  splash.focus = ::GetDlgItem(hwnd, kPicture1);
  ::ShowWindow(hwnd, SW_SHOW);
  ::SetFocus(splash.focus);

  // Modal until "X" has destroyed the window.
  RunModal(hwnd, splash.closed);
}

}  // namespace morvenit
