// frmMain: a looping animation in `pic`, with the file display `Text1`, the status line `Label2`
// and the "Cancel" toggle `Check1` laid over it. Apart from the animation it has no behaviour of
// its own; the engine drives it through the progress contract.
#include "windows/progress_window.h"

#include <array>
#include <cstdint>

#include "windows/about.h"
#include "windows/animation.h"
#include "windows/dpi.h"
#include "windows/image_scale.h"
#include "windows/resource.h"
#include "windows/summary_window.h"
#include "windows/visible_text.h"

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
constexpr UINT kShowText1 = WM_APP + 1;  // the file display's latest text is due
constexpr UINT_PTR kText1Timer = 2;      // the same, once the text shown has stood its time
// A new file name at most twenty times a second: more is more than anyone reads, and each costs
// Wine the better part of a millisecond.
constexpr DWORD kText1Interval = 50;
constexpr UINT kTimer1Interval = 200;  // five frames a second: the loop of five repeats each second
// Clear of IDOK and IDCANCEL, which Enter and Escape send to the window.
enum : int { kPicId = 100, kText1Id, kCheck1Id, kLabel2Id };

static_assert(IDB_FRAME8 == IDB_FRAME1 + kAnimationFrames - 1, "frames are numbered in a row");

// The layout is in twips, 1440 to the inch: 15 to the pixel at 96 dpi, fewer on denser screens.
// The frames are drawn for 96 dpi and enlarged to the same scale, so they always fill `pic`.
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

// Twips in pixels of a screen of `dpi`, rounded to the nearest.
int TwipsToPixels(int twips, int dpi) { return ::MulDiv(twips, dpi, kTwipsPerInch); }
RECT Place(const Twips& twips, int dpi) {
  const int left = TwipsToPixels(twips.left, dpi), top = TwipsToPixels(twips.top, dpi);
  return RECT{left, top, left + TwipsToPixels(twips.width, dpi),
              top + TwipsToPixels(twips.height, dpi)};
}

// Children are created empty; the layout places them and gives them their font.
HWND CreateChild(DWORD ex_style, const wchar_t* class_name, const wchar_t* text, DWORD style,
                 HWND parent, int id) {
  const HWND child = ::CreateWindowExW(ex_style, class_name, text, WS_CHILD | style, 0, 0, 0, 0,
                                       parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                       ::GetModuleHandleW(nullptr), nullptr);
  if (!child) throw LastFailure();
  return child;
}

void MoveChild(HWND child, const RECT& rect) {
  ::SetWindowPos(child, nullptr, rect.left, rect.top, rect.right - rect.left,
                 rect.bottom - rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

struct ProgressWindow::Form {
  ProgressWindow* owner = nullptr;
  HWND hwnd = nullptr;
  HWND pic = nullptr;
  HWND Text1 = nullptr;
  HWND Check1 = nullptr;
  HWND Label2 = nullptr;
  // The file display's text, set when the window next takes its messages: under Wine each text
  // set costs as much as shredding a small file, and the engine sets one for every file.
  Text text1;
  bool text1_due = false;
  DWORD text1_shown = 0;  // GetTickCount() when it was last set
  // The status line's caption as last set: the engine clears it for every file, and under Wine
  // each text set costs as much as shredding a small file.
  Text label2;
  // Picture1: the animation frames, decoded once per window; frame n is at index n - 1.
  std::array<ScopedBitmap, kAnimationFrames> Picture1;
  // The frames at the window's density when it is not 96 dpi (or they could not be made).
  std::array<ScopedBitmap, kAnimationFrames> scaled;
  SIZE image = {};
  ScopedFont font;
  int shown = 1;  // the frame `pic` shows: the first, before the first tick
  uint8_t AnimationFrame = 1;

  HBITMAP Frame(int n) const {
    return scaled[n - 1].valid() ? scaled[n - 1].get() : Picture1[n - 1].get();
  }
  void LayOut(int dpi);
  void ShowText1() {
    text1_due = false;
    ::SetWindowTextW(Text1, text1.c_str());
    // Its end in view: a name that holds characters written out as code points may not fit.
    ::SendMessageW(Text1, EM_SETSEL, text1.size(), text1.size());
    ::SendMessageW(Text1, EM_SCROLLCARET, 0, 0);
    text1_shown = ::GetTickCount();
  }

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
    case kShowText1:
      form->ShowText1();
      return 0;
    case WM_TIMER:
      if (wparam == kText1Timer) {
        ::KillTimer(hwnd, kText1Timer);
        form->ShowText1();
        return 0;
      }
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

    case WM_DPICHANGED: {  // moved to a screen of another density
      form->LayOut(HIWORD(wparam));
      MoveToSuggested(hwnd, lparam);
      return 0;
    }

    case WM_DESTROY:  // unloaded through the close box: the run goes on without a window
      ::KillTimer(hwnd, kTimer1);
      ::KillTimer(hwnd, kText1Timer);
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
      ScopedSelect frame(memory.get(), form->Frame(form->shown));
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

  // Placed at the primary screen's density, then laid out at that of the screen it is on.
  const int system_dpi = SystemDpi();
  RECT outer = Place(kClient, system_dpi);
  AdjustWindowRectForDpi(outer, kFormStyle, kFormExStyle, system_dpi);
  const Text title = Text(L"Morvenit") + Text(19, L' ') + kCopyrightNotice;
  ScopedWindow window(::CreateWindowExW(kFormExStyle, kFormClass, title.c_str(), kFormStyle,
                                        outer.left, outer.top, outer.right - outer.left,
                                        outer.bottom - outer.top, owner_.get(), nullptr, instance,
                                        form.get()));
  if (!window.valid()) throw LastFailure();
  form->hwnd = window.get();

  form->pic = CreateChild(kPicExStyle, kPicClass, L"", kPicStyle, form->hwnd, kPicId);
  // Created in this order, the label lies beneath the two controls where they meet.
  form->Text1 =
      CreateChild(WS_EX_CLIENTEDGE, L"EDIT", L"",
                  WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP | ES_AUTOHSCROLL, form->pic, kText1Id);
  form->Check1 =
      CreateChild(0, L"BUTTON", L"Cancel",
                  WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP | BS_AUTOCHECKBOX | BS_PUSHLIKE,
                  form->pic, kCheck1Id);
  form->Label2 =
      CreateChild(0, L"STATIC", L"", WS_CLIPSIBLINGS | SS_LEFT | SS_NOPREFIX, form->pic, kLabel2Id);
  form->LayOut(WindowDpi(form->hwnd));

  // Load: the animation starts, its first tick showing the frame `pic` already shows.
  if (!::SetTimer(form->hwnd, kTimer1, kTimer1Interval, nullptr)) throw LastFailure();

  window.release();
  form_ = std::move(form);
  return *form_;
}

// Sizes the window, its elements, its font and its frames for a screen of `dpi`, keeping the
// window's top-left corner. At 96 dpi the frames are shown as they are.
void ProgressWindow::Form::LayOut(int dpi) {
  for (int i = 0; i < kAnimationFrames; ++i) {
    scaled[i] = dpi == kDesignDpi ? ScopedBitmap() : ScaleBitmapForDpi(Picture1[i].get(), dpi);
  }
  BITMAP bitmap = {};
  ::GetObjectW(Frame(1), sizeof bitmap, &bitmap);
  image = {bitmap.bmWidth, bitmap.bmHeight};

  ScopedFont new_font(::CreateFontW(-TwipsToPixels(kFontHeight, dpi), 0, 0, 0, FW_NORMAL, FALSE,
                                    FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                    DEFAULT_PITCH | FF_DONTCARE, L"MS Sans Serif"));
  for (const HWND child : {pic, Text1, Check1, Label2}) {
    ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(new_font.get()), TRUE);
  }
  font = std::move(new_font);  // the old one only now, when nothing uses it any more

  RECT outer = Place({0, 0, kClient.width, kClient.height}, dpi);
  AdjustWindowRectForDpi(outer, kFormStyle, kFormExStyle, dpi);
  ::SetWindowPos(hwnd, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  // `pic` takes the size of its image, border included, wherever it starts.
  RECT picture = {0, 0, image.cx, image.cy};
  AdjustWindowRectForDpi(picture, kPicStyle, kPicExStyle, dpi);
  ::OffsetRect(&picture, TwipsToPixels(kPic.left, dpi) - picture.left,
               TwipsToPixels(kPic.top, dpi) - picture.top);
  MoveChild(pic, picture);
  MoveChild(Text1, Place(kText1, dpi));
  MoveChild(Check1, Place(kCheck1, dpi));
  MoveChild(Label2, Place(kLabel2, dpi));
  ::InvalidateRect(hwnd, nullptr, TRUE);
}

int ProgressWindow::Check1() {
  return ::SendMessageW(Load().Check1, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

void ProgressWindow::SetText1(const Text& text) {
  Form& form = Load();
  // A name that holds a line break or a direction override must not show as something else.
  form.text1 = VisibleText(text);
  if (form.text1_due) return;
  const DWORD shown_for = ::GetTickCount() - form.text1_shown;
  form.text1_due =
      shown_for >= kText1Interval
          ? ::PostMessageW(form.hwnd, kShowText1, 0, 0) != FALSE
          : ::SetTimer(form.hwnd, kText1Timer, kText1Interval - shown_for, nullptr) != 0;
  if (!form.text1_due) form.ShowText1();
}

void ProgressWindow::SetLabel2(const Text& caption) {
  Form& form = Load();
  if (caption == form.label2) return;
  ::SetWindowTextW(form.Label2, caption.c_str());
  form.label2 = caption;
}

void ProgressWindow::ShowLabel2(bool visible) {
  ::ShowWindow(Load().Label2, visible ? SW_SHOW : SW_HIDE);
}

void ProgressWindow::SetCaption(const Text& caption) {
  ::SetWindowTextW(Load().hwnd, caption.c_str());
}

void ProgressWindow::SetVisible(bool visible) {
  const HWND hwnd = Load().hwnd;
  ::ShowWindow(hwnd, visible ? SW_SHOW : SW_HIDE);
  // To the front, as far as the system lets this program: the shell lets a program it starts, and
  // lets the verb's server it hands a selection to (CoAllowSetForegroundWindow), which COM starts.
  if (visible) ::SetForegroundWindow(hwnd);
}

void ProgressWindow::ShowSummary(const Text& counts, const std::vector<Text>& lines) {
  ShowSummaryModal(Load().hwnd, counts, lines);
}

}  // namespace morvenit
