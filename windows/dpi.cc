#include "windows/dpi.h"

#include <cstring>

#include "windows/image_scale.h"

namespace morvenit {

namespace {

// A function of the system's that older Windows lacks: null there. Looked up rather than linked,
// so that the program still starts on those.
template <typename Function>
Function Optional(const wchar_t* module, const char* name) {
  const HMODULE loaded = ::GetModuleHandleW(module);
  if (!loaded) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(loaded, name)));
}

BITMAPINFO TopDown32(int width, int height) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return info;
}

// The pixels of any bitmap as 32-bit top-down rows; empty on failure.
Pixels ReadPixels(HBITMAP bitmap) {
  BITMAP header = {};
  if (!bitmap || !::GetObjectW(bitmap, sizeof header, &header)) return {};
  Pixels pixels{header.bmWidth, header.bmHeight,
                std::vector<uint32_t>(static_cast<size_t>(header.bmWidth) * header.bmHeight)};
  BITMAPINFO info = TopDown32(pixels.width, pixels.height);
  ScopedDc dc(::CreateCompatibleDC(nullptr));
  if (::GetDIBits(dc.get(), bitmap, 0, static_cast<UINT>(pixels.height), pixels.argb.data(), &info,
                  DIB_RGB_COLORS) != pixels.height) {
    return {};
  }
  return pixels;
}

ScopedBitmap MakeBitmap(const Pixels& pixels) {
  if (pixels.argb.empty()) return {};
  const BITMAPINFO info = TopDown32(pixels.width, pixels.height);
  void* bits = nullptr;
  ScopedBitmap bitmap(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap.valid() || !bits) return {};
  std::memcpy(bits, pixels.argb.data(), pixels.argb.size() * sizeof pixels.argb[0]);
  ::GdiFlush();
  return bitmap;
}

Pixels ScaleForDpi(const Pixels& pixels, int dpi) {
  return ScaleBilinear(pixels, ::MulDiv(pixels.width, dpi, kDesignDpi),
                       ::MulDiv(pixels.height, dpi, kDesignDpi));
}

}  // namespace

int SystemDpi() {
  ScopedScreenDc screen(::GetDC(nullptr));
  return ::GetDeviceCaps(screen.get(), LOGPIXELSY);
}

int WindowDpi(HWND window) {
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  static const auto get_dpi = Optional<GetDpiForWindowFunction>(L"user32.dll", "GetDpiForWindow");
  const UINT dpi = get_dpi ? get_dpi(window) : 0;
  return dpi ? static_cast<int>(dpi) : SystemDpi();
}

void AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD ex_style, int dpi) {
  using AdjustFunction = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  static const auto adjust = Optional<AdjustFunction>(L"user32.dll", "AdjustWindowRectExForDpi");
  if (!adjust || !adjust(&rect, style, FALSE, ex_style, static_cast<UINT>(dpi))) {
    ::AdjustWindowRectEx(&rect, style, FALSE, ex_style);
  }
}

void MoveToSuggested(HWND window, LPARAM suggested) {
  const auto* place = reinterpret_cast<const RECT*>(suggested);
  ::SetWindowPos(window, nullptr, place->left, place->top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

ScopedBitmap ScaleBitmapForDpi(HBITMAP bitmap, int dpi) {
  return MakeBitmap(ScaleForDpi(ReadPixels(bitmap), dpi));
}

ScopedCursor ScaleCursorForDpi(HCURSOR cursor, int dpi) {
  ICONINFO icon = {};
  if (!::GetIconInfo(cursor, &icon)) return {};
  const ScopedBitmap color(icon.hbmColor), mask(icon.hbmMask);
  // A cursor without colours keeps its AND mask above its XOR mask in one bitmap.
  const Pixels and_mask = ReadPixels(mask.get());
  const Pixels xor_mask = color.valid() ? ReadPixels(color.get()) : and_mask;
  const int height = color.valid() ? and_mask.height : and_mask.height / 2;
  const size_t xor_offset = color.valid() ? 0 : static_cast<size_t>(and_mask.width) * height;
  const size_t count = static_cast<size_t>(and_mask.width) * height;
  if (and_mask.argb.empty() || xor_mask.argb.size() < xor_offset + count) {
    return {};
  }
  // Where the AND mask is set the screen shows through; elsewhere the cursor's colour, opaque.
  Pixels argb{and_mask.width, height, std::vector<uint32_t>(count)};
  for (size_t i = 0; i < argb.argb.size(); ++i) {
    const bool clear = (and_mask.argb[i] & 0xFFFFFF) != 0;
    argb.argb[i] = clear ? 0 : 0xFF000000 | (xor_mask.argb[xor_offset + i] & 0xFFFFFF);
  }
  const Pixels scaled = ScaleForDpi(argb, dpi);
  ScopedBitmap scaled_color = MakeBitmap(scaled);
  // The alpha channel decides; the mask, all clear, only has to be there. Rows are whole words.
  const std::vector<uint8_t> clear_mask(static_cast<size_t>((scaled.width + 15) / 16 * 2) *
                                        scaled.height);
  ScopedBitmap scaled_mask(::CreateBitmap(scaled.width, scaled.height, 1, 1, clear_mask.data()));
  if (!scaled_color.valid() || !scaled_mask.valid()) return {};
  ICONINFO made = {FALSE,
                   static_cast<DWORD>(::MulDiv(static_cast<int>(icon.xHotspot), dpi, kDesignDpi)),
                   static_cast<DWORD>(::MulDiv(static_cast<int>(icon.yHotspot), dpi, kDesignDpi)),
                   scaled_mask.get(), scaled_color.get()};
  return ScopedCursor(::CreateIconIndirect(&made));
}

}  // namespace morvenit
