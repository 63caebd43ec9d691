// The committed window images in assets/: their file formats as the windows load them, and that
// tools/make_assets still writes them byte for byte (so they can never go stale).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#ifndef MORVENIT_MAKE_ASSETS
#error "the build must define MORVENIT_MAKE_ASSETS as the path of the make_assets executable"
#endif

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const fs::path kAssets = fs::path(MORVENIT_SOURCE_DIR) / "assets";

std::vector<std::string> AssetNames() {
  std::vector<std::string> names = {"morvenit.ico", "logo.gif", "hand.cur"};
  for (int i = 1; i <= 8; ++i) names.push_back("frame" + std::to_string(i) + ".bmp");
  return names;
}

Bytes Read(const fs::path& path) {
  std::ifstream f(path, std::ios::binary);
  EXPECT_TRUE(f) << path;
  return Bytes(std::istreambuf_iterator<char>(f), {});
}

unsigned U16(const Bytes& b, std::size_t at) { return b.at(at) | b.at(at + 1) << 8; }
unsigned U32(const Bytes& b, std::size_t at) { return U16(b, at) | U16(b, at + 2) << 16; }

// Checks the BITMAPINFOHEADER at `at`: uncompressed, one plane, the given size and depth.
void ExpectInfoHeader(const Bytes& b, std::size_t at, unsigned w, unsigned h, unsigned bpp) {
  EXPECT_EQ(U32(b, at), 40u);
  EXPECT_EQ(U32(b, at + 4), w);
  EXPECT_EQ(U32(b, at + 8), h);  // positive: rows stored bottom-up
  EXPECT_EQ(U16(b, at + 12), 1u);
  EXPECT_EQ(U16(b, at + 14), bpp);
  EXPECT_EQ(U32(b, at + 16), 0u);  // BI_RGB
}

// An ICO (type 1) or CUR (type 2) with one palettised w x w image and its AND mask. Returns the
// offset of the AND mask.
std::size_t ExpectIconFile(const Bytes& b, unsigned type, unsigned w, unsigned bpp) {
  const std::size_t xor_size = (w * bpp + 31) / 32 * 4 * w, and_size = (w + 31) / 32 * 4 * w;
  const std::size_t dib = 40 + (std::size_t{4} << bpp) + xor_size + and_size;
  EXPECT_EQ(U16(b, 0), 0u);
  EXPECT_EQ(U16(b, 2), type);
  EXPECT_EQ(U16(b, 4), 1u);  // one image
  EXPECT_EQ(b.at(6), w);
  EXPECT_EQ(b.at(7), w);
  EXPECT_EQ(b.at(8), bpp == 8 ? 0u : 1u << bpp);
  EXPECT_EQ(U32(b, 14), dib);
  EXPECT_EQ(U32(b, 18), 22u);
  EXPECT_EQ(b.size(), 22 + dib);
  ExpectInfoHeader(b, 22, w, 2 * w, bpp);
  return b.size() - and_size;
}

// Is pixel (x, y) of a w-wide icon transparent in the AND mask at `mask`?
bool Clear(const Bytes& b, std::size_t mask, unsigned w, unsigned x, unsigned y) {
  const std::size_t row = mask + (w - 1 - y) * ((w + 31) / 32 * 4);
  return b.at(row + x / 8) & (0x80 >> x % 8);
}

// Decodes GIF LZW data into colour indices.
std::vector<int> Unlzw(const Bytes& data, int min_size) {
  const int clear = 1 << min_size, end = clear + 1;
  std::vector<std::vector<int>> table;
  std::vector<int> out, prev;
  int size = min_size + 1;
  for (std::size_t bit = 0; bit + size <= data.size() * 8;) {
    int code = 0;
    for (int i = 0; i < size; ++i, ++bit) code |= (data[bit / 8] >> bit % 8 & 1) << i;
    if (code == clear || table.empty()) {
      EXPECT_EQ(code, clear) << "the data must start with a clear code";
      table.assign(clear + 2, {});
      for (int i = 0; i < clear; ++i) table[i] = {i};
      size = min_size + 1;
      prev.clear();
      continue;
    }
    if (code == end) return out;
    std::vector<int> entry;
    if (code < static_cast<int>(table.size())) {
      entry = table[code];
    } else if (code == static_cast<int>(table.size()) && !prev.empty()) {
      entry = prev;
      entry.push_back(prev[0]);
    } else {
      ADD_FAILURE() << "invalid LZW code " << code;
      return out;
    }
    if (!prev.empty() && table.size() < 4096) {
      prev.push_back(entry[0]);
      table.push_back(prev);
      if (table.size() == 1u << size && size < 12) ++size;
    }
    out.insert(out.end(), entry.begin(), entry.end());
    prev = entry;
  }
  ADD_FAILURE() << "LZW data without an end code";
  return out;
}

TEST(AssetsTest, FramesAreEightDifferent390x80TrueColourBitmaps) {
  std::vector<Bytes> pixels;
  for (int i = 1; i <= 8; ++i) {
    SCOPED_TRACE("frame" + std::to_string(i));
    const Bytes b = Read(kAssets / ("frame" + std::to_string(i) + ".bmp"));
    ASSERT_GE(b.size(), 54u);
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(U32(b, 2), b.size());
    EXPECT_EQ(U32(b, 10), 54u);
    ExpectInfoHeader(b, 14, 390, 80, 24);
    EXPECT_EQ(b.size(), 54u + 1172 * 80);  // rows of 390 * 3 bytes padded to 1172
    pixels.emplace_back(b.begin() + 54, b.end());
  }
  for (int i = 0; i < 8; ++i)
    for (int j = i + 1; j < 8; ++j)
      EXPECT_TRUE(pixels[i] != pixels[j]) << "frames " << i + 1 << " and " << j + 1 << " are equal";
}

TEST(AssetsTest, IconIsOne48x48ImageOf256ColoursOnATransparentBackground) {
  const Bytes b = Read(kAssets / "morvenit.ico");
  ASSERT_EQ(b.size(), 22u + 40 + 1024 + 48 * 48 + 8 * 48);
  EXPECT_EQ(U16(b, 10), 1u);  // planes
  EXPECT_EQ(U16(b, 12), 8u);  // bits per pixel
  const std::size_t mask = ExpectIconFile(b, 1, 48, 8);
  EXPECT_TRUE(Clear(b, mask, 48, 0, 0));
  EXPECT_TRUE(Clear(b, mask, 48, 47, 47));
  EXPECT_FALSE(Clear(b, mask, 48, 24, 24));
}

TEST(AssetsTest, LogoIsOne150x100GifFrameWith256ColoursAndNoTransparency) {
  const Bytes b = Read(kAssets / "logo.gif");
  ASSERT_GE(b.size(), 13u + 768);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 6), "GIF89a");
  EXPECT_EQ(U16(b, 6), 150u);
  EXPECT_EQ(U16(b, 8), 100u);
  ASSERT_EQ(b[10] & 0x87, 0x87);  // a global colour table of 2^(7+1) entries
  std::size_t at = 13 + 768;
  int frames = 0;
  std::vector<int> index;
  auto sub_blocks = [&] {
    Bytes data;
    for (std::size_t n; (n = b.at(at++)) != 0; at += n)
      data.insert(data.end(), &b.at(at), &b.at(at) + n);
    return data;
  };
  for (std::uint8_t kind; (kind = b.at(at++)) != 0x3B;) {
    if (kind == 0x21) {  // extension
      const std::uint8_t label = b.at(at++);
      const Bytes data = sub_blocks();
      EXPECT_FALSE(label == 0xF9 && !data.empty() && (data[0] & 1)) << "transparent colour";
    } else {
      ASSERT_EQ(kind, 0x2C) << "unknown block at " << at - 1;
      ++frames;
      EXPECT_EQ(U32(b, at), 0u);  // at 0,0
      EXPECT_EQ(U16(b, at + 4), 150u);
      EXPECT_EQ(U16(b, at + 6), 100u);
      EXPECT_EQ(b.at(at + 8), 0u);  // no local colour table, not interlaced
      at += 9;
      const int min_size = b.at(at++);
      EXPECT_EQ(min_size, 8);
      index = Unlzw(sub_blocks(), min_size);
    }
  }
  EXPECT_EQ(at, b.size());
  EXPECT_EQ(frames, 1);
  ASSERT_EQ(index.size(), 150u * 100);
  // The version label is written over the top-left corner: it must stay plain white there.
  for (int y = 0; y < 17; ++y)
    for (int x = 0; x < 49; ++x) {
      const std::size_t c = 13 + 3 * index[y * 150 + x];
      ASSERT_EQ(b[c] & b[c + 1] & b[c + 2], 255) << x << "," << y;
    }
}

TEST(AssetsTest, CursorIs32x32With16ColoursAndItsHotSpotOnTheFingertip) {
  const Bytes b = Read(kAssets / "hand.cur");
  ASSERT_EQ(b.size(), 22u + 40 + 64 + 16 * 32 + 4 * 32);
  EXPECT_EQ(U16(b, 10), 12u);  // hot spot column
  EXPECT_EQ(U16(b, 12), 1u);   // hot spot row
  const std::size_t mask = ExpectIconFile(b, 2, 32, 4);
  EXPECT_FALSE(Clear(b, mask, 32, 12, 1));  // the fingertip is drawn at the hot spot
  EXPECT_TRUE(Clear(b, mask, 32, 12, 0));   // and nothing above it
  EXPECT_TRUE(Clear(b, mask, 32, 0, 0));
}

TEST(AssetsTest, GeneratorReproducesTheCommittedFiles) {
  const fs::path out =
      fs::temp_directory_path() / ("morvenit-assets-" + std::to_string(std::random_device{}()));
  const std::string command =
      std::string("\"") + MORVENIT_MAKE_ASSETS + "\" \"" + out.string() + "\"";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()),
            static_cast<std::ptrdiff_t>(AssetNames().size()));
  for (const std::string& name : AssetNames())
    EXPECT_TRUE(Read(out / name) == Read(kAssets / name))
        << "assets/" << name << " is stale: run make_assets assets/ and commit the result";
  fs::remove_all(out);
}

}  // namespace
