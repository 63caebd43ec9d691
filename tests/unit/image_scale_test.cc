// The smooth enlargement of the windows' images: exact at the same size, no colour invented or
// mixed between channels, a ramp between neighbours, edges kept.
#include "windows/image_scale.h"

#include <gtest/gtest.h>

#include <random>

namespace morvenit {
namespace {

Pixels Filled(int width, int height, uint32_t argb) {
  return {width, height, std::vector<uint32_t>(static_cast<size_t>(width) * height, argb)};
}

TEST(ImageScale, SameSizeIsAnExactCopy) {
  Pixels noise{37, 11, {}};
  std::mt19937 random(12);
  for (int i = 0; i < 37 * 11; ++i) noise.argb.push_back(static_cast<uint32_t>(random()));
  const Pixels copy = ScaleBilinear(noise, 37, 11);
  EXPECT_EQ(copy.width, 37);
  EXPECT_EQ(copy.height, 11);
  EXPECT_EQ(copy.argb, noise.argb);
}

TEST(ImageScale, AUniformImageStaysUniformAtEveryDensity) {
  const uint32_t colour = 0x80C0FFEE;
  const Pixels source = Filled(390, 80, colour);
  // The progress window's frames at 120, 144 and 192 dpi.
  for (const auto& [width, height] : {std::pair{488, 100}, {585, 120}, {780, 160}}) {
    const Pixels scaled = ScaleBilinear(source, width, height);
    ASSERT_EQ(scaled.argb.size(), static_cast<size_t>(width) * height);
    EXPECT_EQ(scaled.argb, Filled(width, height, colour).argb) << width << "x" << height;
  }
}

TEST(ImageScale, DoublingTwoPixelsRampsBetweenThemAndKeepsTheEnds) {
  const Pixels scaled = ScaleBilinear({2, 1, {0xFF000000, 0xFFFFFFFF}}, 4, 2);
  // Pixel centres at -0.25, 0.25, 0.75 and 1.25 source pixels: the outer two clamp to the ends,
  // the inner two are a quarter of the way from one neighbour to the other.
  const std::vector<uint32_t> row = {0xFF000000, 0xFF404040, 0xFFBFBFBF, 0xFFFFFFFF};
  EXPECT_EQ(std::vector<uint32_t>(scaled.argb.begin(), scaled.argb.begin() + 4), row);
  EXPECT_EQ(std::vector<uint32_t>(scaled.argb.begin() + 4, scaled.argb.end()), row);
}

TEST(ImageScale, ChannelsAreInterpolatedApart) {
  // Opaque red beside transparent blue: red and alpha fall together, blue rises, green stays 0.
  const Pixels scaled = ScaleBilinear({2, 1, {0xFFFF0000, 0x000000FF}}, 6, 1);
  uint32_t previous_red = 256, previous_blue = 0;
  for (const uint32_t pixel : scaled.argb) {
    const uint32_t alpha = pixel >> 24, red = (pixel >> 16) & 0xFF, green = (pixel >> 8) & 0xFF,
                   blue = pixel & 0xFF;
    EXPECT_EQ(alpha, red);
    EXPECT_EQ(green, 0u);
    EXPECT_EQ(red + blue, 255u);
    EXPECT_LE(red, previous_red);
    EXPECT_GE(blue, previous_blue);
    previous_red = red;
    previous_blue = blue;
  }
  EXPECT_EQ(scaled.argb.front(), 0xFFFF0000u);
  EXPECT_EQ(scaled.argb.back(), 0x000000FFu);
}

TEST(ImageScale, CornersKeepTheirColoursAndNothingIsOutOfRange) {
  Pixels source = Filled(4, 4, 0xFF808080);
  source.argb.front() = 0xFF112233;
  source.argb.back() = 0xFFDDEEFF;
  const Pixels scaled = ScaleBilinear(source, 6, 6);  // 144 dpi: one and a half times
  EXPECT_EQ(scaled.argb.front(), 0xFF112233u);
  EXPECT_EQ(scaled.argb.back(), 0xFFDDEEFFu);
  for (const uint32_t pixel : scaled.argb) {
    EXPECT_GE((pixel >> 16) & 0xFF, 0x11u);
    EXPECT_LE((pixel >> 16) & 0xFF, 0xDDu);
  }
}

TEST(ImageScale, NothingInNothingOut) {
  EXPECT_TRUE(ScaleBilinear({}, 10, 10).argb.empty());
  EXPECT_TRUE(ScaleBilinear(Filled(2, 2, 1), 0, 3).argb.empty());
}

}  // namespace
}  // namespace morvenit
