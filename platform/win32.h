// <windows.h> as the program includes it, and the move-only owners of its handles.
#ifndef MORVENIT_PLATFORM_WIN32_H_
#define MORVENIT_PLATFORM_WIN32_H_

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <utility>

#include "platform/env.h"

namespace morvenit {

// Maps a Win32 error code to a failure: 53 for a missing file or path, 75 for refused access
// (busy for a sharing or lock violation), and HRESULT_FROM_WIN32(code) with the system's own
// description for anything else.
Failure FailureFromWin32(DWORD code);
// The same for GetLastError().
Failure LastFailure();

// Owns one Win32 object and closes it with `Close`. Move-only; moving into an owner closes what
// it held first.
template <typename T, auto Close, auto kInvalid>
class Scoped {
 public:
  Scoped() = default;
  explicit Scoped(T value) : value_(value) {}
  Scoped(const Scoped&) = delete;
  Scoped& operator=(const Scoped&) = delete;
  Scoped(Scoped&& other) noexcept : value_(std::exchange(other.value_, Invalid())) {}
  Scoped& operator=(Scoped&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.value_, Invalid()));
    return *this;
  }
  ~Scoped() { Reset(); }

  T get() const { return value_; }
  bool valid() const { return value_ != Invalid(); }
  T release() { return std::exchange(value_, Invalid()); }
  void Reset(T value = Invalid()) {
    if (valid()) Close(value_);
    value_ = value;
  }

 private:
  static T Invalid() { return reinterpret_cast<T>(kInvalid); }
  T value_ = Invalid();
};

inline void CloseHandleIgnoringErrors(HANDLE h) { ::CloseHandle(h); }
inline void CloseFind(HANDLE h) { ::FindClose(h); }
inline void DeleteGdiObject(HGDIOBJ h) { ::DeleteObject(h); }
inline void DeleteMemoryDc(HDC h) { ::DeleteDC(h); }
inline void DestroyWindowHandle(HWND h) { ::DestroyWindow(h); }
inline void DestroyIconHandle(HICON h) { ::DestroyIcon(h); }
inline void DestroyCursorHandle(HCURSOR h) { ::DestroyCursor(h); }
inline void ReleaseScreenDc(HDC h) { ::ReleaseDC(nullptr, h); }

using ScopedHandle = Scoped<HANDLE, CloseHandleIgnoringErrors, intptr_t{-1}>;  // files
using ScopedFind = Scoped<HANDLE, CloseFind, intptr_t{-1}>;
using ScopedBitmap = Scoped<HBITMAP, DeleteGdiObject, intptr_t{0}>;
using ScopedFont = Scoped<HFONT, DeleteGdiObject, intptr_t{0}>;
using ScopedBrush = Scoped<HBRUSH, DeleteGdiObject, intptr_t{0}>;
using ScopedDc = Scoped<HDC, DeleteMemoryDc, intptr_t{0}>;
using ScopedWindow = Scoped<HWND, DestroyWindowHandle, intptr_t{0}>;
using ScopedIcon = Scoped<HICON, DestroyIconHandle, intptr_t{0}>;
using ScopedCursor = Scoped<HCURSOR, DestroyCursorHandle, intptr_t{0}>;  // CreateIconIndirect's
using ScopedScreenDc = Scoped<HDC, ReleaseScreenDc, intptr_t{0}>;        // GetDC(nullptr)

template <typename T>
void ReleaseComObject(T* object) {
  object->Release();
}
template <typename T>
using ScopedCom = Scoped<T*, ReleaseComObject<T>, intptr_t{0}>;

// Selects a GDI object into a DC for one scope and puts back what was there before, so the
// object can be deleted and the DC released safely afterwards.
class ScopedSelect {
 public:
  ScopedSelect(HDC dc, HGDIOBJ object) : dc_(dc), old_(::SelectObject(dc, object)) {}
  ScopedSelect(const ScopedSelect&) = delete;
  ScopedSelect& operator=(const ScopedSelect&) = delete;
  ~ScopedSelect() { ::SelectObject(dc_, old_); }

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// BeginPaint/EndPaint for one WM_PAINT.
class PaintScope {
 public:
  explicit PaintScope(HWND hwnd) : hwnd_(hwnd) { ::BeginPaint(hwnd, &ps_); }
  PaintScope(const PaintScope&) = delete;
  PaintScope& operator=(const PaintScope&) = delete;
  ~PaintScope() { ::EndPaint(hwnd_, &ps_); }
  HDC dc() const { return ps_.hdc; }

 private:
  HWND hwnd_;
  PAINTSTRUCT ps_{};
};

}  // namespace morvenit

#endif  // MORVENIT_PLATFORM_WIN32_H_
