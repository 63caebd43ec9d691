// frmMain: a looping animation in `pic`, with the file display `Text1`, the status line `Label2`
// and the "Cancel" toggle `Check1` laid over it. Apart from the animation it has no behaviour of
// its own; the engine drives it through the progress contract.
#include "windows/progress_window.h"

#include <array>
#include <cstdint>

#include "windows/about.h"
#include "windows/animation.h"
#include "windows/resource.h"

namespace morvenit {

namespace {

constexpr wchar_t kFormClass[] = L"MorvenitProgress";
constexpr wchar_t kPicClass[] = L"MorvenitPicture";
constexpr DWORD kFormStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kFormExStyle = WS_EX_DLGMODALFRAME;
constexpr DWORD kPicStyle = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN;
// The elements hold controls of their own, so Tab moves through them.
constexpr DWORD kPicExStyle = WS_EX_CLIENTEDGE | WS_EX_CONTROLPARENT;
constexpr UINT_PTR kTimer1 = 1;
constexpr UINT kTimer1Interval = 200;  // five frames a second: the loop of five repeats each second
// Clear of IDOK and IDCANCEL, which Enter and Escape send to the window.
enum : int { kPicId = 100, kText1Id, kCheck1Id, kLabel2Id };

static_assert(IDB_FRAME8 == IDB_FRAME1 + kAnimationFrames - 1, "frames are numbered in a row");

// The layout is in twips, 1440 to the inch: 15 to the pixel at 96 dpi, fewer on denser screens.
constexpr int kTwipsPerInch = 1440;
struct Twips {
  int left, top, width, height;
};
constexpr Twips kClient = {6720, 9345, 5640, 1245};  // on the screen
constexpr Twips kPic = {-50, 0, 5910, 1260};         // its size follows the image
// Inside `pic`'s border.
constexpr Twips kText1 = {1080, 840, 3735, 285};
constexpr Twips kCheck1 = {4920, 840, 615, 255};
constexpr Twips kLabel2 = {1560, 600, 3855, 255};
constexpr int kFontHeight = 165;  // 8.25 points

// Converts twips into pixels of the screen, rounding to the nearest.
class Scale {
 public:
  Scale() {
    ScopedScreenDc screen(::GetDC(nullptr));
    dpi_x_ = ::GetDeviceCaps(screen.get(), LOGPIXELSX);
    dpi_y_ = ::GetDeviceCaps(screen.get(), LOGPIXELSY);
  }
  int X(int twips) const { return ::MulDiv(twips, dpi_x_, kTwipsPerInch); }
  int Y(int twips) const { return ::MulDiv(twips, dpi_y_, kTwipsPerInch); }

 private:
  int dpi_x_;
  int dpi_y_;
};

HWND CreateChild(DWORD ex_style, const wchar_t* class_name, const wchar_t* text, DWORD style,
                 const RECT& rect, HWND parent, int id, HFONT font) {
  const HWND child = ::CreateWindowExW(ex_style, class_name, text, WS_CHILD | style, rect.left,
                                       rect.top, rect.right - rect.left, rect.bottom - rect.top,
                                       parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                       ::GetModuleHandleW(nullptr), nullptr);
  if (!child) throw LastFailure();
  ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return child;
}

}  // namespace

struct ProgressWindow::Form {
  ProgressWindow* owner = nullptr;
  HWND hwnd = nullptr;
  HWND pic = nullptr;
  HWND Text1 = nullptr;
  HWND Check1 = nullptr;
  HWND Label2 = nullptr;
  // Picture1: the animation frames, decoded once per window; frame n is at index n - 1.
  std::array<ScopedBitmap, kAnimationFrames> Picture1;
  SIZE image = {};
  ScopedFont font;
  int shown = 1;  // the frame `pic` shows: the first, before the first tick
  uint8_t AnimationFrame = 1;

  static void RegisterClasses(HINSTANCE instance);
  static LRESULT CALLBACK FormProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK PicProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
};

void ProgressWindow::Form::RegisterClasses(HINSTANCE instance) {
  static const bool registered = [instance] {
    WNDCLASSEXW form = {};
    form.cbSize = sizeof form;
    form.lpfnWndProc = FormProc;
    form.hInstance = instance;
    form.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    form.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
    form.lpszClassName = kFormClass;
    // The icon is drawn for 48 x 48; the small one is scaled from it.
    form.hIcon = static_cast<HICON>(
        ::LoadImageW(instance, MAKEINTRESOURCEW(IDI_MORVENIT), IMAGE_ICON, 0, 0, LR_SHARED));
    form.hIconSm = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_MORVENIT),
                                                   IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                                   ::GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    if (!::RegisterClassExW(&form)) throw LastFailure();

    WNDCLASSEXW pic = {};
    pic.cbSize = sizeof pic;
    pic.lpfnWndProc = PicProc;
    pic.hInstance = instance;
    pic.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    pic.lpszClassName = kPicClass;
    if (!::RegisterClassExW(&pic)) throw LastFailure();
    return true;
  }();
  (void)registered;
}

LRESULT CALLBACK ProgressWindow::Form::FormProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  Form* form = reinterpret_cast<Form*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!form) return ::DefWindowProcW(hwnd, msg, wparam, lparam);

  switch (msg) {
    case WM_TIMER:
      if (wparam != kTimer1) break;
      form->shown = AnimationStep(form->AnimationFrame);
      ::InvalidateRect(form->pic, nullptr, FALSE);
      return 0;

    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC: {
      const HWND control = reinterpret_cast<HWND>(lparam);
      if (control != form->Text1 && control != form->Label2) break;
      const HDC dc = reinterpret_cast<HDC>(wparam);
      ::SetTextColor(dc, RGB(0, 0, 0));
      ::SetBkColor(dc, RGB(255, 255, 255));
      return reinterpret_cast<LRESULT>(::GetStockObject(WHITE_BRUSH));
    }

    case WM_DESTROY:  // unloaded through the close box: the run goes on without a window
      ::KillTimer(hwnd, kTimer1);
      break;

    case WM_NCDESTROY: {
      const LRESULT result = ::DefWindowProcW(hwnd, msg, wparam, lparam);
      ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      // The frames and the font go with the window; the next access loads a new one.
      std::unique_ptr<Form>& loaded = form->owner->form_;
      if (loaded.get() == form) loaded.reset();
      return result;
    }
  }
  return ::DefWindowProcW(hwnd, msg, wparam, lparam);
}

LRESULT CALLBACK ProgressWindow::Form::PicProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;  // the frame covers all of it

    case WM_PAINT: {
      PaintScope paint(hwnd);
      const auto* form =
          reinterpret_cast<const Form*>(::GetWindowLongPtrW(::GetParent(hwnd), GWLP_USERDATA));
      if (!form) return 0;
      ScopedDc memory(::CreateCompatibleDC(paint.dc()));
      ScopedSelect frame(memory.get(), form->Picture1[form->shown - 1].get());
      ::BitBlt(paint.dc(), 0, 0, form->image.cx, form->image.cy, memory.get(), 0, 0, SRCCOPY);
      return 0;
    }

    // The elements it holds report to the window, which decides their colours.
    case WM_COMMAND:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      return ::SendMessageW(::GetParent(hwnd), msg, wparam, lparam);
  }
  return ::DefWindowProcW(hwnd, msg, wparam, lparam);
}

ProgressWindow::ProgressWindow() = default;

ProgressWindow::~ProgressWindow() {
  if (form_) ::DestroyWindow(form_->hwnd);
}

ProgressWindow::Form& ProgressWindow::Load() {
  if (form_) return *form_;
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  Form::RegisterClasses(instance);
  if (!owner_.valid()) {
    owner_.Reset(::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                   instance, nullptr));
    if (!owner_.valid()) throw LastFailure();
  }

  auto form = std::make_unique<Form>();
  form->owner = this;
  for (int i = 0; i < kAnimationFrames; ++i) {
    form->Picture1[i].Reset(static_cast<HBITMAP>(::LoadImageW(
        instance, MAKEINTRESOURCEW(IDB_FRAME1 + i), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    if (!form->Picture1[i].valid()) throw LastFailure();
  }
  BITMAP bitmap = {};
  ::GetObjectW(form->Picture1[0].get(), sizeof bitmap, &bitmap);
  form->image = {bitmap.bmWidth, bitmap.bmHeight};

  const Scale scale;
  auto place = [&scale](const Twips& twips) {
    const int left = scale.X(twips.left), top = scale.Y(twips.top);
    return RECT{left, top, left + scale.X(twips.width), top + scale.Y(twips.height)};
  };
  form->font.Reset(::CreateFontW(-scale.Y(kFontHeight), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                 DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                 DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"MS Sans Serif"));

  RECT outer = place(kClient);
  ::AdjustWindowRectEx(&outer, kFormStyle, FALSE, kFormExStyle);
  const Text title = Text(L"Morvenit") + Text(19, L' ') + kCopyrightNotice;
  ScopedWindow window(::CreateWindowExW(kFormExStyle, kFormClass, title.c_str(), kFormStyle,
                                        outer.left, outer.top, outer.right - outer.left,
                                        outer.bottom - outer.top, owner_.get(), nullptr, instance,
                                        form.get()));
  if (!window.valid()) throw LastFailure();
  form->hwnd = window.get();

  // `pic` takes the size of its image, border included, wherever it starts.
  RECT pic = {0, 0, form->image.cx, form->image.cy};
  ::AdjustWindowRectEx(&pic, kPicStyle, FALSE, kPicExStyle);
  ::OffsetRect(&pic, scale.X(kPic.left) - pic.left, scale.Y(kPic.top) - pic.top);
  const HFONT font = form->font.get();
  form->pic = CreateChild(kPicExStyle, kPicClass, L"", kPicStyle, pic, form->hwnd, kPicId, font);
  // Created in this order, the label lies beneath the two controls where they meet.
  form->Text1 = CreateChild(WS_EX_CLIENTEDGE, L"EDIT", L"",
                            WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP | ES_AUTOHSCROLL,
                            place(kText1), form->pic, kText1Id, font);
  form->Check1 =
      CreateChild(0, L"BUTTON", L"Cancel",
                  WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP | BS_AUTOCHECKBOX | BS_PUSHLIKE,
                  place(kCheck1), form->pic, kCheck1Id, font);
  form->Label2 = CreateChild(0, L"STATIC", L"", WS_CLIPSIBLINGS | SS_LEFT | SS_NOPREFIX,
                             place(kLabel2), form->pic, kLabel2Id, font);

  // Load: the animation starts, its first tick showing the frame `pic` already shows.
  if (!::SetTimer(form->hwnd, kTimer1, kTimer1Interval, nullptr)) throw LastFailure();

  window.release();
  form_ = std::move(form);
  return *form_;
}

int ProgressWindow::Check1() {
  return ::SendMessageW(Load().Check1, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

void ProgressWindow::SetText1(const Text& text) { ::SetWindowTextW(Load().Text1, text.c_str()); }

void ProgressWindow::SetLabel2(const Text& caption) {
  ::SetWindowTextW(Load().Label2, caption.c_str());
}

void ProgressWindow::ShowLabel2(bool visible) {
  ::ShowWindow(Load().Label2, visible ? SW_SHOW : SW_HIDE);
}

void ProgressWindow::SetCaption(const Text& caption) {
  ::SetWindowTextW(Load().hwnd, caption.c_str());
}

void ProgressWindow::SetVisible(bool visible) {
  ::ShowWindow(Load().hwnd, visible ? SW_SHOW : SW_HIDE);
}

}  // namespace morvenit
