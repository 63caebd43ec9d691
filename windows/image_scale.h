// Enlarging the windows' images for screens denser than 96 dpi, smoothly (bilinear), once per
// window. Free of <windows.h>, so the arithmetic is tested on any host.
#ifndef MORVENIT_WINDOWS_IMAGE_SCALE_H_
#define MORVENIT_WINDOWS_IMAGE_SCALE_H_

#include <algorithm>
#include <cstdint>
#include <vector>

namespace morvenit {

// The images are drawn for this density.
inline constexpr int kDesignDpi = 96;

// Top-down rows of 0xAARRGGBB pixels, as a 32-bit DIB section holds them.
struct Pixels {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> argb;
};

namespace image_scale_detail {

// Where each target column (or row) samples the source: the pixel to the left (above), and the
// weight of the one after it in 1/256ths. Pixel centres line up, so a same-size copy is exact.
struct Sample {
  int first;
  int second;
  uint32_t weight;
};

inline std::vector<Sample> Samples(int source, int target) {
  std::vector<Sample> samples(static_cast<size_t>(target));
  for (int i = 0; i < target; ++i) {
    // The centre of target pixel i in source pixels, times 256: ((i + 0.5) * s / t - 0.5) * 256.
    const int64_t at = ((2 * int64_t{i} + 1) * source - target) * 256 / (2 * int64_t{target});
    const int64_t clamped = std::clamp<int64_t>(at, 0, (int64_t{source} - 1) * 256);
    const int first = static_cast<int>(clamped / 256);
    samples[static_cast<size_t>(i)] = {first, std::min(first + 1, source - 1),
                                       static_cast<uint32_t>(clamped % 256)};
  }
  return samples;
}

constexpr uint32_t Channel(uint32_t pixel, int shift) { return (pixel >> shift) & 0xFF; }

}  // namespace image_scale_detail

// `source` resized to width x height, each channel (alpha too) interpolated between the four
// nearest source pixels. An empty source or size gives an empty image.
inline Pixels ScaleBilinear(const Pixels& source, int width, int height) {
  using namespace image_scale_detail;
  if (source.width <= 0 || source.height <= 0 || width <= 0 || height <= 0) return {};
  Pixels target{width, height, std::vector<uint32_t>(static_cast<size_t>(width) * height)};
  const std::vector<Sample> columns = Samples(source.width, width);
  const std::vector<Sample> rows = Samples(source.height, height);
  auto at = [&source](int x, int y) {
    return source.argb[static_cast<size_t>(y) * source.width + x];
  };
  for (int y = 0; y < height; ++y) {
    const Sample& row = rows[static_cast<size_t>(y)];
    for (int x = 0; x < width; ++x) {
      const Sample& column = columns[static_cast<size_t>(x)];
      const uint32_t p00 = at(column.first, row.first), p01 = at(column.second, row.first);
      const uint32_t p10 = at(column.first, row.second), p11 = at(column.second, row.second);
      uint32_t pixel = 0;
      for (int shift = 0; shift < 32; shift += 8) {
        const uint32_t top =
            Channel(p00, shift) * (256 - column.weight) + Channel(p01, shift) * column.weight;
        const uint32_t bottom =
            Channel(p10, shift) * (256 - column.weight) + Channel(p11, shift) * column.weight;
        const uint32_t value = (top * (256 - row.weight) + bottom * row.weight + 32768) >> 16;
        pixel |= value << shift;
      }
      target.argb[static_cast<size_t>(y) * width + x] = pixel;
    }
  }
  return target;
}

}  // namespace morvenit

#endif  // MORVENIT_WINDOWS_IMAGE_SCALE_H_
