// The screen density a window is laid out for, and its images made to match it. The windows are
// per-monitor aware (see the manifest): each lays itself out at its own screen's dots per inch,
// and again when it is moved to a screen of another density.
#ifndef MORVENIT_WINDOWS_DPI_H_
#define MORVENIT_WINDOWS_DPI_H_

#include "platform/win32.h"

namespace morvenit {

// The primary screen's dots per inch: where a window is placed before it exists.
int SystemDpi();

// The dots per inch of the screen `window` is on; the system's where Windows cannot tell
// (before Windows 10 version 1607).
int WindowDpi(HWND window);

// AdjustWindowRectEx with the frame metrics of a screen of `dpi`.
void AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD ex_style, int dpi);

// Moves `window` to where WM_DPICHANGED suggests (`suggested`, its lParam), keeping the size the
// window gave itself when it laid itself out again for the new density.
void MoveToSuggested(HWND window, LPARAM suggested);

// A 32-bit copy of `bitmap`, drawn for 96 dpi, enlarged smoothly to `dpi`. Empty when the
// system cannot make one; the caller then shows the original.
ScopedBitmap ScaleBitmapForDpi(HBITMAP bitmap, int dpi);

// The same for a cursor drawn for 96 dpi, its hot spot moved with it. Transparent and opaque
// parts become an alpha channel, so the edges are smoothed too. Empty on failure.
ScopedCursor ScaleCursorForDpi(HCURSOR cursor, int dpi);

}  // namespace morvenit

#endif  // MORVENIT_WINDOWS_DPI_H_
