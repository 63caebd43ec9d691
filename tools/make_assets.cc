// make_assets: draws Morvenit's window images and writes them in the formats the windows load.
//
//   make_assets OUTPUT_FOLDER
//
// writes frame1.bmp ... frame8.bmp (the progress window's animation), morvenit.ico (its icon),
// logo.gif (the information window's logo) and hand.cur (its pointing-hand cursor).
//
// Drawing uses integer arithmetic only (fixed-point coordinates and a sine table), so the files
// come out the same byte for byte whatever the compiler and its floating-point settings.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using i64 = std::int64_t;
using Bytes = std::vector<std::uint8_t>;

// ---------------------------------------------------------------------------------------------
// Geometry. Coordinates are integers in 1/64 pixel.

constexpr int U = 64;

consteval int Px(double v) { return static_cast<int>(v * U + (v < 0 ? -0.5 : 0.5)); }

i64 DivRound(i64 a, i64 b) { return a >= 0 ? (a + b / 2) / b : -((-a + b / 2) / b); }
int FloorDiv(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// sin(0..90 degrees) * 65536.
constexpr int kSin[91] = {
    0,     1144,  2287,  3430,  4572,  5712,  6850,  7987,  9121,  10252, 11380, 12505, 13626,
    14742, 15855, 16962, 18064, 19161, 20252, 21336, 22415, 23486, 24550, 25607, 26656, 27697,
    28729, 29753, 30767, 31772, 32768, 33754, 34729, 35693, 36647, 37590, 38521, 39441, 40348,
    41243, 42126, 42995, 43852, 44695, 45525, 46341, 47143, 47930, 48703, 49461, 50203, 50931,
    51643, 52339, 53020, 53684, 54332, 54963, 55578, 56175, 56756, 57319, 57865, 58393, 58903,
    59396, 59870, 60326, 60764, 61183, 61584, 61966, 62328, 62672, 62997, 63303, 63589, 63856,
    64104, 64332, 64540, 64729, 64898, 65048, 65177, 65287, 65376, 65446, 65496, 65526, 65536};

int SinD(int deg) {
  deg = ((deg % 360) + 360) % 360;
  if (deg <= 90) return kSin[deg];
  if (deg <= 180) return kSin[180 - deg];
  if (deg <= 270) return -kSin[deg - 180];
  return -kSin[360 - deg];
}
int CosD(int deg) { return SinD(deg + 90); }

struct Pt {
  int x, y;
};
struct Box {
  int x0, y0, x1, y1;
};

struct Rect {
  int x0, y0, x1, y1;
  Box box() const { return {x0, y0, x1, y1}; }
  bool in(int x, int y) const { return x >= x0 && x < x1 && y >= y0 && y < y1; }
};

struct RoundRect {
  int x0, y0, x1, y1, r;
  Box box() const { return {x0, y0, x1, y1}; }
  bool in(int x, int y) const {
    if (x < x0 || x >= x1 || y < y0 || y >= y1) return false;
    i64 dx = x - std::clamp(x, x0 + r, x1 - r), dy = y - std::clamp(y, y0 + r, y1 - r);
    return dx * dx + dy * dy <= i64{r} * r;
  }
};

struct Ellipse {
  int cx, cy, rx, ry;
  Box box() const { return {cx - rx, cy - ry, cx + rx, cy + ry}; }
  bool in(int x, int y) const {
    i64 a = i64{x - cx} * ry, b = i64{y - cy} * rx, r = i64{rx} * ry;
    return a * a + b * b <= r * r;
  }
};

struct Polygon {
  std::vector<Pt> p;
  Box box() const {
    Box b{p[0].x, p[0].y, p[0].x, p[0].y};
    for (Pt q : p)
      b = {std::min(b.x0, q.x), std::min(b.y0, q.y), std::max(b.x1, q.x), std::max(b.y1, q.y)};
    return b;
  }
  bool in(int x, int y) const {  // non-zero winding
    int winding = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
      Pt a = p[i], b = p[(i + 1) % p.size()];
      i64 side = i64{b.x - a.x} * (y - a.y) - i64{x - a.x} * (b.y - a.y);
      if (a.y <= y) {
        if (b.y > y && side > 0) ++winding;
      } else if (b.y <= y && side < 0) {
        --winding;
      }
    }
    return winding != 0;
  }
};

// Polylines drawn with a round pen of half width `hw`.
struct Strokes {
  std::vector<std::vector<Pt>> lines;
  int hw;
  Box box() const {
    Box b{1 << 30, 1 << 30, -(1 << 30), -(1 << 30)};
    for (const auto& l : lines)
      for (Pt q : l)
        b = {std::min(b.x0, q.x), std::min(b.y0, q.y), std::max(b.x1, q.x), std::max(b.y1, q.y)};
    return {b.x0 - hw, b.y0 - hw, b.x1 + hw, b.y1 + hw};
  }
  bool in(int x, int y) const {
    const i64 r2 = i64{hw} * hw;
    for (const auto& l : lines)
      for (std::size_t i = 0; i < l.size(); ++i) {
        Pt a = l[i], b = l[std::min(i + 1, l.size() - 1)];
        i64 dx = b.x - a.x, dy = b.y - a.y, px = x - a.x, py = y - a.y;
        i64 len2 = dx * dx + dy * dy, t = px * dx + py * dy;
        if (t <= 0 || len2 == 0) {
          if (px * px + py * py <= r2) return true;
        } else if (t >= len2) {
          i64 qx = x - b.x, qy = y - b.y;
          if (qx * qx + qy * qy <= r2) return true;
        } else {
          i64 c = px * dy - py * dx;
          if (c * c <= r2 * len2) return true;
        }
      }
    return false;
  }
};

// Any region given by a test function.
template <class F>
struct Area {
  Box b;
  F f;
  Box box() const { return b; }
  bool in(int x, int y) const { return f(x, y); }
};
template <class F>
Area<F> MakeArea(Box b, F f) {
  return {b, f};
}

// ---------------------------------------------------------------------------------------------
// Colour and the supersampled canvas.

struct Rgba {
  int r, g, b, a = 255;
  bool operator==(const Rgba&) const = default;
};

Rgba Mix(Rgba p, Rgba q, i64 t, i64 n) {  // p + (q - p) * t / n, t clamped to 0..n
  t = std::clamp<i64>(t, 0, n);
  auto m = [&](int a, int b) { return static_cast<int>(a + DivRound(i64{b - a} * t, n)); };
  return {m(p.r, q.r), m(p.g, q.g), m(p.b, q.b), m(p.a, q.a)};
}
Rgba WithAlpha(Rgba c, int a) { return {c.r, c.g, c.b, a}; }

auto Solid(Rgba c) {
  return [c](int, int) { return c; };
}
auto VGrad(Rgba top, Rgba bottom, int y0, int y1) {
  return [=](int, int y) { return Mix(top, bottom, y - y0, y1 - y0); };
}
auto HGrad(Rgba left, Rgba right, int x0, int x1) {
  return [=](int x, int) { return Mix(left, right, x - x0, x1 - x0); };
}

// An RGBA image drawn with ss x ss samples per pixel; each sample holds premultiplied colour
// with alpha in 0..4096.
class Canvas {
 public:
  Canvas(int w, int h, int ss)
      : w_(w), h_(h), ss_(ss), step_(U / ss), s_(static_cast<std::size_t>(w * ss) * h * ss) {}

  template <class Shape, class Shade>
  void Fill(const Shape& shape, Shade shade) {
    const Box b = shape.box();
    const int half = step_ / 2;
    const int i0 = std::max(0, FloorDiv(b.x0 - half, step_));
    const int i1 = std::min(w_ * ss_ - 1, FloorDiv(b.x1 - half, step_) + 1);
    const int j0 = std::max(0, FloorDiv(b.y0 - half, step_));
    const int j1 = std::min(h_ * ss_ - 1, FloorDiv(b.y1 - half, step_) + 1);
    for (int j = j0; j <= j1; ++j) {
      const int y = j * step_ + half;
      for (int i = i0; i <= i1; ++i) {
        const int x = i * step_ + half;
        if (!shape.in(x, y)) continue;
        const Rgba c = shade(x, y);
        Sample& s = s_[static_cast<std::size_t>(j) * w_ * ss_ + i];
        const int sa = (c.a * 4096 + 127) / 255, keep = 4096 - sa;
        auto over = [&](int src, int dst) {
          return static_cast<int>(src + (i64{dst} * keep + 2048) / 4096);
        };
        s.r = over(c.r * sa, s.r);
        s.g = over(c.g * sa, s.g);
        s.b = over(c.b * sa, s.b);
        s.a = over(sa, s.a);
      }
    }
  }

  // Averages the samples of each pixel; colours come back unpremultiplied.
  std::vector<Rgba> Resolve() const {
    std::vector<Rgba> out(static_cast<std::size_t>(w_) * h_);
    for (int y = 0; y < h_; ++y)
      for (int x = 0; x < w_; ++x) {
        i64 r = 0, g = 0, b = 0, a = 0;
        for (int j = 0; j < ss_; ++j)
          for (int i = 0; i < ss_; ++i) {
            const Sample& s = s_[static_cast<std::size_t>(y * ss_ + j) * w_ * ss_ + x * ss_ + i];
            r += s.r, g += s.g, b += s.b, a += s.a;
          }
        Rgba& o = out[static_cast<std::size_t>(y) * w_ + x];
        o.a = static_cast<int>(DivRound(a * 255, i64{4096} * ss_ * ss_));
        if (a > 0) {
          o.r = static_cast<int>(std::min<i64>(255, DivRound(r, a)));
          o.g = static_cast<int>(std::min<i64>(255, DivRound(g, a)));
          o.b = static_cast<int>(std::min<i64>(255, DivRound(b, a)));
        } else {
          o.r = o.g = o.b = 0;
        }
      }
    return out;
  }

 private:
  struct Sample {
    int r = 0, g = 0, b = 0, a = 0;
  };
  int w_, h_, ss_, step_;
  std::vector<Sample> s_;
};

// ---------------------------------------------------------------------------------------------
// Lettering: a rounded geometric monoline alphabet of our own, drawn as centre lines in font units
// (x-height 100, ascender 140, y up) and stroked with a round pen.

class Pen {
 public:
  Pen(int x, int baseline, int x_height) : x_(x), y_(baseline), xh_(x_height) {}

  void Line(std::initializer_list<Pt> pts) {
    std::vector<Pt> l;
    for (Pt p : pts) l.push_back(Map(i64{p.x + at_} * 65536, i64{p.y} * 65536));
    lines_.push_back(std::move(l));
  }
  // Elliptic arc from angle a0 to a1 in degrees (counter-clockwise when a1 > a0).
  void Arc(int cx, int cy, int rx, int ry, int a0, int a1) {
    std::vector<Pt> l;
    const int step = a1 > a0 ? 3 : -3;
    for (int a = a0;; a += step) {
      if ((step > 0 && a > a1) || (step < 0 && a < a1)) a = a1;
      l.push_back(
          Map(i64{cx + at_} * 65536 + i64{rx} * CosD(a), i64{cy} * 65536 + i64{ry} * SinD(a)));
      if (a == a1) break;
    }
    lines_.push_back(std::move(l));
  }
  void Dot(int x, int y) { Line({{x, y}}); }

  void MoveBy(int font_units) { at_ += font_units; }
  int ToCanvas(int fu) const { return static_cast<int>(DivRound(i64{fu} * xh_, 100)); }
  std::vector<std::vector<Pt>> Take() { return std::exchange(lines_, {}); }

 private:
  Pt Map(i64 fx, i64 fy) const {  // font units * 65536 to canvas units
    return {x_ + static_cast<int>(DivRound(fx * xh_, i64{100} * 65536)),
            y_ - static_cast<int>(DivRound(fy * xh_, i64{100} * 65536))};
  }
  int x_, y_, xh_, at_ = 0;
  std::vector<std::vector<Pt>> lines_;
};

// Draws one glyph at the pen's position and returns its width in font units.
int Glyph(Pen& p, char c) {
  switch (c) {
    case 'M':
      p.Line({{0, 0}, {0, 140}, {60, 30}, {120, 140}, {120, 0}});
      return 120;
    case 'o':
      p.Arc(48, 50, 48, 50, 0, 360);
      return 96;
    case 'e':
      p.Line({{0, 50}, {96, 50}});
      p.Arc(48, 50, 48, 50, 0, 318);
      return 96;
    case 'c':
      p.Arc(48, 50, 48, 50, 42, 318);
      return 88;
    case 'n':
    case 'h':
      p.Line({{0, 0}, {0, c == 'h' ? 140 : 100}});
      p.Arc(44, 56, 44, 44, 180, 0);
      p.Line({{88, 56}, {88, 0}});
      return 88;
    case 'u':
      p.Line({{0, 100}, {0, 44}});
      p.Arc(44, 44, 44, 44, 180, 360);
      p.Line({{88, 100}, {88, 0}});
      return 88;
    case 'r':
      p.Line({{0, 0}, {0, 100}});
      p.Arc(40, 56, 40, 44, 180, 66);
      return 56;
    case 'v':
      p.Line({{0, 100}, {42, 0}, {84, 100}});
      return 84;
    case 'i':
      p.Line({{0, 0}, {0, 100}});
      p.Dot(0, 134);
      return 0;
    case 'l':
      p.Line({{0, 0}, {0, 140}});
      return 0;
    case 't':
      p.Line({{18, 132}, {18, 24}});
      p.Arc(42, 24, 24, 24, 180, 290);
      p.Line({{0, 100}, {50, 100}});
      return 50;
    case 'f':
      p.Line({{20, 0}, {20, 106}});
      p.Arc(48, 106, 28, 28, 180, 45);
      p.Line({{0, 100}, {54, 100}});
      return 62;
    case 'd':
      p.Arc(48, 50, 48, 50, 0, 360);
      p.Line({{96, 0}, {96, 140}});
      return 96;
    case 's':
      p.Arc(38, 75, 38, 25, 32, 270);
      p.Arc(38, 25, 38, 25, 90, -148);
      return 76;
    default:  // space
      return 26;
  }
}

struct Type {
  int x_height;  // canvas units
  int weight;    // stroke width, font units
  int tracking;  // extra space between letters, font units
};

int TextWidthFu(std::string_view s, const Type& t) {
  Pen pen(0, 0, 100);
  int w = 0;
  for (std::size_t i = 0; i < s.size(); ++i)
    w += Glyph(pen, s[i]) + (i + 1 < s.size() ? t.weight + t.tracking : 0);
  return w + t.weight;
}
int TextWidth(std::string_view s, const Type& t) {
  return static_cast<int>(DivRound(i64{TextWidthFu(s, t)} * t.x_height, 100));
}

// Draws `s` with its left ink edge at x and its baseline at y.
template <class Shade>
void DrawText(Canvas& c, std::string_view s, int x, int y, const Type& t, Shade shade) {
  Pen pen(x, y, t.x_height);
  pen.MoveBy(t.weight / 2);
  for (char ch : s) {
    const int w = Glyph(pen, ch);
    Strokes glyph{pen.Take(), pen.ToCanvas(t.weight) / 2};
    if (!glyph.lines.empty()) c.Fill(glyph, shade);
    pen.MoveBy(w + t.weight + t.tracking);
  }
}

// A small deterministic hash for the fake text on the paper.
unsigned Hash(unsigned a, unsigned b) {
  unsigned h = a * 2654435761u ^ (b + 0x9e3779b9u) * 2246822519u;
  h ^= h >> 15;
  h *= 2246822519u;
  return h ^ (h >> 13);
}

// A printed page: is there ink at (u, t), u across from the left edge, t down from the top?
struct Page {
  int width, margin, title_top, title_height, first_line, line_gap, line_height, lines;
  bool Ink(int u, int t) const {
    if (u < margin || u >= width - margin) return false;
    u -= margin;
    const int column = width - 2 * margin;
    if (t >= title_top && t < title_top + title_height) return u < column * 55 / 100;
    if (t < first_line) return false;
    const int k = (t - first_line) / line_gap;
    if (k >= lines || t - first_line - k * line_gap >= line_height) return false;
    const int end = k == lines - 1 ? column * 45 / 100 : column;
    for (int w = 0, x = 0; x < end; ++w) {  // words of 2..6 px
      const int len = Px(2) + static_cast<int>(Hash(k, w) % 5) * U;
      if (u >= x && u < std::min(x + len, end)) return true;
      x += len + Px(1.2);
    }
    return false;
  }
};

// ---------------------------------------------------------------------------------------------
// The progress window's animation: a shredder on the left eats one page a second; its strips fall
// out of the bottom. Frames 1-3 feed the first page in, frames 4-8 loop.

constexpr int kFrameW = 390, kFrameH = 80;

constexpr Rgba kSkyTop{14, 31, 56}, kSkyBottom{38, 78, 122};
constexpr Rgba kPaper{252, 252, 249}, kInk{146, 156, 170}, kTitleInk{52, 86, 130};
constexpr Rgba kTeal{38, 178, 196}, kWhite{255, 255, 255}, kBlack{0, 0, 0};

// Paper path, all in canvas units: the page slides down at kFeed per frame; it is visible above
// the slot, passes through the head and leaves as strips at kExit.
constexpr int kSlotY = Px(40), kExit = Px(54), kFeed = Px(16), kPageLen = Px(48);
constexpr int kPageX = Px(20), kPageW = Px(36), kStrips = 9;
constexpr int kPagePeriod = 5 * kFeed;  // one page per loop of five frames
// Lines 3.6 px apart: a 16 px step then reads as the text sliding down, not standing still.
constexpr Page kBigPage{kPageW, Px(4), Px(4), Px(2.4), Px(10), Px(3.6), Px(1.2), 10};

Rgba PageColour(const Page& page, int u, int t) {
  return page.Ink(u, t) ? (t < page.first_line ? kTitleInk : kInk) : kPaper;
}

void DrawStrips(Canvas& c, int lead) {
  // Strip k of the page, u in [k*w, (k+1)*w), hangs from the exit, fans out and waves a little.
  const int strip_w = kPageW / kStrips;
  const int top = std::max(kExit, lead - kPageLen), bottom = std::min(lead, kFrameH * U);
  if (top >= bottom) return;
  auto centre = [&](int k, int y, int t) {
    const int fan = static_cast<int>(i64{k * 2 - (kStrips - 1)} * (y - kExit) * 6 / 100);
    const int wave = static_cast<int>(i64{Px(0.7)} * SinD(t * 360 / Px(36) + k * 67) / 65536);
    return kPageX + k * strip_w + strip_w / 2 + fan + wave;
  };
  for (int k = 0; k < kStrips; ++k) {
    const int hw = Px(1.55);
    auto in = [&, k](int x, int y) {
      const int t = y - (lead - kPageLen);
      const int cx = centre(k, y, t);
      return x >= cx - hw && x < cx + hw;
    };
    auto shade = [&, k](int x, int y) {
      const int t = y - (lead - kPageLen);
      const int cx = centre(k, y, t);
      const int u = x - cx + k * strip_w + strip_w / 2;
      Rgba base = PageColour(kBigPage, u, t);
      const int light =
          200 + static_cast<int>(i64{55} * (CosD(t * 360 / Px(36) + k * 67) + 65536) / 131072);
      return Rgba{base.r * light / 255, base.g * light / 255, base.b * light / 255, 255};
    };
    c.Fill(MakeArea(Box{0, top, Px(76), bottom}, in), shade);
  }
}

void DrawPageAboveSlot(Canvas& c, int lead) {
  const int top = std::max(0, lead - kPageLen), bottom = std::min(lead, kSlotY);
  if (top >= bottom) return;
  c.Fill(Rect{kPageX, top, kPageX + kPageW, bottom},
         [&](int x, int y) { return PageColour(kBigPage, x - kPageX, y - (lead - kPageLen)); });
  // The page darkens as it goes into the slot.
  c.Fill(Rect{kPageX, std::max(top, kSlotY - Px(4)), kPageX + kPageW, bottom},
         [&](int, int y) { return WithAlpha(kBlack, (y - (kSlotY - Px(4))) * 70 / Px(4)); });
}

void DrawShredderHead(Canvas& c) {
  // Top surface in slight perspective, with the feed slot.
  c.Fill(Polygon{{{Px(11), Px(36.5)}, {Px(65), Px(36.5)}, {Px(68.5), Px(42)}, {Px(7.5), Px(42)}}},
         VGrad({214, 222, 232}, {168, 178, 192}, Px(36.5), Px(42)));
  c.Fill(RoundRect{Px(17), Px(38.6), Px(59), Px(41), Px(1)}, Solid({18, 22, 30}));
}

void DrawShredderFront(Canvas& c) {
  // Front face.
  c.Fill(RoundRect{Px(7.5), Px(41.5), Px(68.5), Px(55.5), Px(2)},
         VGrad({188, 197, 210}, {118, 128, 144}, Px(41.5), Px(55.5)));
  c.Fill(Rect{Px(7.5), Px(41.5), Px(68.5), Px(42.3)}, Solid(WithAlpha(kWhite, 150)));
  // Accent line and the power light.
  c.Fill(Rect{Px(10), Px(45.5), Px(66), Px(46.4)},
         HGrad(WithAlpha(kTeal, 0), kTeal, Px(10), Px(66)));
  c.Fill(Ellipse{Px(62.5), Px(49.5), Px(2.6), Px(2.6)}, [](int x, int y) {
    i64 dx = x - Px(62.5), dy = y - Px(49.5);
    return WithAlpha({90, 255, 140},
                     static_cast<int>(120 - (dx * dx + dy * dy) * 120 / (i64{Px(2.6)} * Px(2.6))));
  });
  c.Fill(Ellipse{Px(62.5), Px(49.5), Px(1.2), Px(1.2)}, Solid({120, 255, 160}));
  // Vents.
  for (int i = 0; i < 3; ++i)
    c.Fill(RoundRect{Px(11), Px(48) + i * Px(2), Px(21), Px(48.9) + i * Px(2), Px(0.45)},
           Solid({96, 106, 122}));
  // Exit slot.
  c.Fill(RoundRect{Px(16), Px(53.2), Px(60), Px(55), Px(0.8)}, Solid({24, 28, 36}));
}

void DrawWordmark(Canvas& c) {
  const Type big{Px(14), 21, 9};
  DrawText(c, "Morvenit", Px(84), Px(28), big,
           HGrad(kWhite, {170, 230, 240}, Px(84), Px(84) + TextWidth("Morvenit", big)));
  const Type small{Px(5.6), 17, 26};
  const int w = TextWidth("secure file shredder", small);
  DrawText(c, "secure file shredder", Px(364) - w, Px(28), small, Solid({130, 196, 214}));
  // A hairline under the name band, fading out at both ends.
  c.Fill(Rect{Px(84), Px(35), Px(364), Px(35.8)}, [](int x, int) {
    const int d = std::min(x - Px(84), Px(364) - x);
    return WithAlpha({120, 190, 220}, static_cast<int>(std::min<i64>(90, i64{d} * 90 / Px(60))));
  });
}

// What stays still in every frame: the sky, a soft light behind the shredder and the name.
Canvas FrameBackground() {
  Canvas c(kFrameW, kFrameH, 8);
  c.Fill(Rect{0, 0, kFrameW * U, kFrameH * U}, VGrad(kSkyTop, kSkyBottom, 0, kFrameH * U));
  c.Fill(Ellipse{Px(38), Px(44), Px(46), Px(46)}, [](int x, int y) {
    i64 dx = x - Px(38), dy = y - Px(44), r = Px(46);
    return WithAlpha({90, 150, 200},
                     static_cast<int>(std::max<i64>(0, 70 - (dx * dx + dy * dy) * 70 / (r * r))));
  });
  DrawWordmark(c);
  return c;
}

std::vector<Rgba> RenderFrame(const Canvas& background, int frame) {
  Canvas c = background;
  const int lead = kExit + (frame - 4) * kFeed;  // leading edge of the first page
  DrawShredderHead(c);
  for (int page = 0; page < 2; ++page) DrawPageAboveSlot(c, lead - page * kPagePeriod);
  DrawShredderFront(c);
  for (int page = 0; page < 2; ++page) DrawStrips(c, lead - page * kPagePeriod);
  return c.Resolve();
}

// ---------------------------------------------------------------------------------------------
// The progress window's icon: the shredder with a page going in and strips coming out, outlined so
// it reads on any background.

constexpr int kIconSize = 48;
constexpr Rgba kOutline{34, 46, 66};

std::vector<Rgba> RenderIcon() {
  Canvas c(kIconSize, kIconSize, 8);
  // Page.
  const Page page{Px(22), Px(3.5), Px(3.5), Px(2), Px(7.5), Px(3), Px(1.2), 4};
  c.Fill(Rect{Px(12), Px(1), Px(36), Px(21)}, Solid(kOutline));
  c.Fill(Rect{Px(13), Px(2), Px(35), Px(21)}, [&](int x, int y) {
    return page.Ink(x - Px(13), y - Px(2)) ? Rgba{120, 134, 156} : kPaper;
  });
  // Strips, fanning out below the head.
  const int ends[6] = {Px(44), Px(46.5), Px(43), Px(47), Px(45), Px(46)};
  for (int k = 0; k < 6; ++k) {
    const int top = Px(31), x = Px(13) + k * Px(22) / 6 + Px(22) / 12;
    const int spread = (k * 2 - 5) * Px(1.1);
    auto strip = [&](int grow) {
      return Polygon{{{x - Px(1.35) - grow, top},
                      {x + Px(1.35) + grow, top},
                      {x + spread + Px(1.35) + grow, ends[k] + grow},
                      {x + spread - Px(1.35) - grow, ends[k] + grow}}};
    };
    c.Fill(strip(Px(1)), Solid(kOutline));
    c.Fill(strip(0), VGrad(kPaper, {206, 216, 228}, top, ends[k]));
  }
  // Head: outline, top surface with the slot, front face.
  c.Fill(RoundRect{Px(2), Px(16), Px(46), Px(35), Px(3)}, Solid(kOutline));
  c.Fill(Polygon{{{Px(6), Px(17)}, {Px(42), Px(17)}, {Px(45), Px(22.5)}, {Px(3), Px(22.5)}}},
         VGrad({222, 229, 238}, {176, 186, 200}, Px(17), Px(22.5)));
  c.Fill(RoundRect{Px(10), Px(18.6), Px(38), Px(21), Px(1)}, Solid({18, 22, 30}));
  c.Fill(RoundRect{Px(3), Px(22), Px(45), Px(34), Px(2)},
         VGrad({196, 205, 218}, {122, 132, 148}, Px(22), Px(34)));
  c.Fill(Rect{Px(3), Px(22), Px(45), Px(22.8)}, Solid(WithAlpha(kWhite, 160)));
  c.Fill(Rect{Px(6), Px(25.5), Px(42), Px(26.7)},
         HGrad(WithAlpha(kTeal, 40), kTeal, Px(6), Px(42)));
  c.Fill(Ellipse{Px(39.5), Px(29.7), Px(1.6), Px(1.6)}, Solid({70, 230, 120}));
  c.Fill(RoundRect{Px(9), Px(31.4), Px(39), Px(33), Px(0.8)}, Solid({24, 28, 36}));
  return c.Resolve();
}

// ---------------------------------------------------------------------------------------------
// The information window's logo: a badge with the shredder mark, the name and a tagline, on white.
// The top-left corner stays plain: the window writes its version label there.

constexpr int kLogoW = 150, kLogoH = 100;
constexpr Rgba kNavy{22, 44, 82}, kDeepTeal{0, 138, 160};

std::vector<Rgba> RenderLogo() {
  Canvas c(kLogoW, kLogoH, 8);
  c.Fill(Rect{0, 0, kLogoW * U, kLogoH * U}, Solid(kWhite));
  // Soft shadow and badge.
  c.Fill(Ellipse{Px(75), Px(51.5), Px(19), Px(2.2)}, [](int x, int y) {
    i64 dx = x - Px(75), dy = i64{y - Px(51.5)} * 190 / 22, r = Px(19);
    return WithAlpha(kNavy,
                     static_cast<int>(std::max<i64>(0, 50 - (dx * dx + dy * dy) * 50 / (r * r))));
  });
  c.Fill(RoundRect{Px(55), Px(9), Px(95), Px(49), Px(9)},
         [](int x, int y) { return Mix(kNavy, kDeepTeal, (x - Px(55)) + (y - Px(9)), Px(80)); });
  c.Fill(RoundRect{Px(55), Px(9), Px(95), Px(29), Px(9)},
         VGrad(WithAlpha(kWhite, 40), WithAlpha(kWhite, 0), Px(9), Px(29)));
  // The mark: a page going into a bar, strips coming out.
  const Page page{Px(18), Px(3), Px(3), Px(1.6), Px(6.5), Px(2.6), Px(1), 4};
  c.Fill(Rect{Px(66), Px(15), Px(84), Px(28)}, [&](int x, int y) {
    return page.Ink(x - Px(66), y - Px(15)) ? Rgba{120, 160, 196} : kWhite;
  });
  c.Fill(RoundRect{Px(61), Px(27.5), Px(89), Px(33.5), Px(1.5)}, Solid(kWhite));
  const int ends[5] = {Px(44), Px(42), Px(45.5), Px(41.5), Px(43.5)};
  for (int k = 0; k < 5; ++k)
    c.Fill(RoundRect{Px(66.3) + k * Px(3.6), Px(35), Px(69.1) + k * Px(3.6), ends[k], Px(0.6)},
           Solid(kWhite));
  // Name and tagline.
  const Type big{Px(12.5), 21, 9};
  const int w = TextWidth("Morvenit", big);
  DrawText(c, "Morvenit", Px(75) - w / 2, Px(75), big,
           HGrad(kNavy, kDeepTeal, Px(75) - w / 2, Px(75) + w / 2));
  const Type small{Px(5.2), 18, 24};
  const int ws = TextWidth("secure file shredder", small);
  DrawText(c, "secure file shredder", Px(75) - ws / 2, Px(90), small, Solid({92, 108, 130}));
  return c.Resolve();
}

// ---------------------------------------------------------------------------------------------
// The pointing-hand cursor, drawn pixel by pixel like the classic link cursor: white hand, black
// outline, index finger up with its tip at the hot spot (column 12, row 1).

constexpr int kCursorSize = 32, kHotX = 12, kHotY = 1;
// clang-format off
constexpr const char* kHand[kCursorSize] = {
    "................................",
    "...........XXX..................",
    "..........XoooX.................",
    "..........XoooX.................",
    "..........XoooX.................",
    "..........XoooX.................",
    "..........XoooX.................",
    "..........XoooXXXX..............",
    "..........XoooXoooX.............",
    "..........XoooXoooXXXX..........",
    "..........XoooXoooXoooX.........",
    "..........XoooXoooXoooXXX.......",
    "..XX......XoooXoooXoooXooX......",
    ".XooX.....XoooXoooXoooXooX......",
    ".XoooX....XoooXoooXoooXooX......",
    "..XoooX...XooooooooooooooX......",
    "..XooooX..XooooooooooooooX......",
    "...XooooX.XooooooooooooooX......",
    "...XoooooXoooooooooooooooX......",
    "....XooooooooooooooooooooX......",
    "....XooooooooooooooooooooX......",
    ".....XoooooooooooooooooooX......",
    ".....XoooooooooooooooooooX......",
    "......XooooooooooooooooooX......",
    ".......XooooooooooooooooX.......",
    "........XoooooooooooooooX.......",
    ".........XooooooooooooooX.......",
    ".........XXXXXXXXXXXXXXXX.......",
    "................................",
    "................................",
    "................................",
    "................................",
};
// clang-format on

// ---------------------------------------------------------------------------------------------
// File formats.

void Put16(Bytes& b, unsigned v) {
  b.push_back(v & 255);
  b.push_back((v >> 8) & 255);
}
void Put32(Bytes& b, unsigned v) {
  Put16(b, v & 0xffff);
  Put16(b, v >> 16);
}

void PutInfoHeader(Bytes& b, int w, int h, int bpp, unsigned image_size) {
  Put32(b, 40);
  Put32(b, w);
  Put32(b, h);
  Put16(b, 1);
  Put16(b, bpp);
  Put32(b, 0);  // BI_RGB
  Put32(b, image_size);
  Put32(b, 0);
  Put32(b, 0);
  Put32(b, 0);
  Put32(b, 0);
}

Bytes Bmp24(const std::vector<Rgba>& px, int w, int h) {
  const int stride = (w * 3 + 3) / 4 * 4;
  Bytes b{'B', 'M'};
  Put32(b, 54 + stride * h);
  Put32(b, 0);
  Put32(b, 54);
  PutInfoHeader(b, w, h, 24, stride * h);
  for (int y = h - 1; y >= 0; --y) {
    for (int x = 0; x < w; ++x) {
      const Rgba& p = px[y * w + x];
      b.insert(b.end(), {static_cast<std::uint8_t>(p.b), static_cast<std::uint8_t>(p.g),
                         static_cast<std::uint8_t>(p.r)});
    }
    b.resize(b.size() + stride - w * 3, 0);
  }
  return b;
}

// An ICO (hot_x < 0) or CUR file with one palettised image and its AND mask.
Bytes IconFile(int w, int h, int bpp, const std::vector<Rgba>& palette,
               const std::vector<std::uint8_t>& index, const std::vector<bool>& clear, int hot_x,
               int hot_y) {
  const int xor_stride = (w * bpp + 31) / 32 * 4, and_stride = (w + 31) / 32 * 4;
  const int colours = 1 << bpp;
  const unsigned dib = 40 + colours * 4 + (xor_stride + and_stride) * h;
  Bytes b;
  Put16(b, 0);
  Put16(b, hot_x < 0 ? 1 : 2);
  Put16(b, 1);
  b.push_back(w);
  b.push_back(h);
  b.push_back(colours >= 256 ? 0 : colours);
  b.push_back(0);
  Put16(b, hot_x < 0 ? 1 : hot_x);    // planes, or the hot spot's column
  Put16(b, hot_x < 0 ? bpp : hot_y);  // bit count, or the hot spot's row
  Put32(b, dib);
  Put32(b, 22);
  PutInfoHeader(b, w, 2 * h, bpp, (xor_stride + and_stride) * h);
  for (int i = 0; i < colours; ++i) {
    const Rgba c = i < static_cast<int>(palette.size()) ? palette[i] : Rgba{0, 0, 0};
    b.insert(b.end(), {static_cast<std::uint8_t>(c.b), static_cast<std::uint8_t>(c.g),
                       static_cast<std::uint8_t>(c.r), 0});
  }
  for (int y = h - 1; y >= 0; --y) {
    Bytes row(xor_stride, 0);
    for (int x = 0; x < w; ++x) {
      const int v = index[y * w + x], bit = x * bpp;
      row[bit / 8] |= v << (8 - bpp - bit % 8);
    }
    b.insert(b.end(), row.begin(), row.end());
  }
  for (int y = h - 1; y >= 0; --y) {
    Bytes row(and_stride, 0);
    for (int x = 0; x < w; ++x)
      if (clear[y * w + x]) row[x / 8] |= 0x80 >> (x % 8);
    b.insert(b.end(), row.begin(), row.end());
  }
  return b;
}

// GIF's variable-length LZW, in the same manner as giflib's encoder.
Bytes Lzw(const std::vector<std::uint8_t>& index) {
  constexpr int kClear = 256, kEnd = 257;
  Bytes out;
  unsigned acc = 0;
  int bits = 0, size = 9, next = kEnd + 1;
  auto put = [&](int code) {
    acc |= static_cast<unsigned>(code) << bits;
    for (bits += size; bits >= 8; bits -= 8, acc >>= 8) out.push_back(acc & 255);
  };
  std::vector<int> table(4096 * 256, -1);
  put(kClear);
  int prefix = index[0];
  for (std::size_t i = 1; i < index.size(); ++i) {
    const int key = prefix * 256 + index[i];
    if (table[key] >= 0) {
      prefix = table[key];
      continue;
    }
    put(prefix);
    if (next >= 4095) {
      put(kClear);
      std::fill(table.begin(), table.end(), -1);
      size = 9;
      next = kEnd + 1;
    } else {
      table[key] = next++;
      if (next > (1 << size) && size < 12) ++size;
    }
    prefix = index[i];
  }
  put(prefix);
  put(kEnd);
  if (bits > 0) out.push_back(acc & 255);
  return out;
}

Bytes Gif(int w, int h, const std::vector<Rgba>& palette, const std::vector<std::uint8_t>& index,
          int background) {
  Bytes b{'G', 'I', 'F', '8', '9', 'a'};
  Put16(b, w);
  Put16(b, h);
  b.push_back(0xF7);  // global colour table of 256 entries, 8 bits per primary
  b.push_back(background);
  b.push_back(0);
  for (int i = 0; i < 256; ++i) {
    const Rgba c = i < static_cast<int>(palette.size()) ? palette[i] : Rgba{0, 0, 0};
    b.insert(b.end(), {static_cast<std::uint8_t>(c.r), static_cast<std::uint8_t>(c.g),
                       static_cast<std::uint8_t>(c.b)});
  }
  b.push_back(0x2C);
  Put16(b, 0);
  Put16(b, 0);
  Put16(b, w);
  Put16(b, h);
  b.push_back(0);
  b.push_back(8);
  const Bytes data = Lzw(index);
  for (std::size_t at = 0; at < data.size(); at += 255) {
    const std::size_t n = std::min<std::size_t>(255, data.size() - at);
    b.push_back(n);
    b.insert(b.end(), data.begin() + at, data.begin() + at + n);
  }
  b.push_back(0);
  b.push_back(0x3B);
  return b;
}

// Median cut. Pixels equal to a colour of `palette` (the reserved entries) keep it; pixels marked
// in `skip` get entry 0; the others share the remaining entries up to `size`.
struct Indexed {
  std::vector<Rgba> palette;
  std::vector<std::uint8_t> index;
};

Indexed Quantise(const std::vector<Rgba>& px, std::vector<Rgba> palette, int size,
                 const std::vector<bool>& skip) {
  auto key = [](const Rgba& c) { return (c.r << 16) | (c.g << 8) | c.b; };
  std::map<int, int> reserved, counts;
  for (std::size_t i = 0; i < palette.size(); ++i) reserved.emplace(key(palette[i]), i);
  for (std::size_t i = 0; i < px.size(); ++i)
    if (!skip[i] && !reserved.count(key(px[i]))) ++counts[key(px[i])];
  struct Colour {
    int rgb, n, c[3];
  };
  std::vector<Colour> colours;
  for (auto [k, n] : counts) colours.push_back({k, n, {k >> 16, (k >> 8) & 255, k & 255}});
  std::vector<std::vector<Colour>> boxes;
  if (!colours.empty()) boxes.push_back(colours);
  auto widest = [](const std::vector<Colour>& box, int& channel) {
    int best = -1;
    for (int ch = 0; ch < 3; ++ch) {
      int lo = 255, hi = 0;
      for (const Colour& c : box) lo = std::min(lo, c.c[ch]), hi = std::max(hi, c.c[ch]);
      if (hi - lo > best) best = hi - lo, channel = ch;
    }
    return best;
  };
  while (static_cast<int>(palette.size() + boxes.size()) < size) {
    int pick = -1, pick_range = 0, channel = 0;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
      int ch = 0;
      const int range = boxes[i].size() > 1 ? widest(boxes[i], ch) : 0;
      if (range > pick_range) pick = i, pick_range = range, channel = ch;
    }
    if (pick < 0) break;
    std::vector<Colour>& box = boxes[pick];
    std::sort(box.begin(), box.end(), [&](const Colour& a, const Colour& b) {
      if (a.c[channel] != b.c[channel]) return a.c[channel] < b.c[channel];
      return a.rgb < b.rgb;
    });
    i64 total = 0, run = 0;
    for (const Colour& c : box) total += c.n;
    std::size_t cut = 1;
    while (cut < box.size() - 1 && (run += box[cut - 1].n) * 2 < total) ++cut;
    boxes.emplace_back(box.begin() + cut, box.end());
    boxes[pick].resize(cut);
  }
  std::map<int, int> entry = reserved;
  for (const auto& box : boxes) {
    i64 sum[3] = {0, 0, 0}, n = 0;
    for (const Colour& c : box) {
      for (int ch = 0; ch < 3; ++ch) sum[ch] += i64{c.c[ch]} * c.n;
      n += c.n;
    }
    for (const Colour& c : box) entry[c.rgb] = palette.size();
    palette.push_back({static_cast<int>(DivRound(sum[0], n)), static_cast<int>(DivRound(sum[1], n)),
                       static_cast<int>(DivRound(sum[2], n))});
  }
  Indexed out{palette, std::vector<std::uint8_t>(px.size(), 0)};
  for (std::size_t i = 0; i < px.size(); ++i)
    if (!skip[i]) out.index[i] = entry.at(key(px[i]));
  return out;
}

bool WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  f.close();
  if (!f) std::fprintf(stderr, "make_assets: cannot write %s\n", path.string().c_str());
  return static_cast<bool>(f);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_assets OUTPUT_FOLDER\n");
    return 2;
  }
  const std::filesystem::path out = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(out, ec);
  bool ok = true;
  const Canvas background = FrameBackground();
  for (int f = 1; f <= 8; ++f)
    ok &= WriteFile(out / ("frame" + std::to_string(f) + ".bmp"),
                    Bmp24(RenderFrame(background, f), kFrameW, kFrameH));

  // Icon: entry 0 is black for the transparent pixels (the AND mask shows the screen through).
  const std::vector<Rgba> icon = RenderIcon();
  std::vector<bool> clear(icon.size());
  for (std::size_t i = 0; i < icon.size(); ++i) clear[i] = icon[i].a < 128;
  const Indexed icon8 = Quantise(icon, {kBlack}, 256, clear);
  ok &= WriteFile(out / "morvenit.ico",
                  IconFile(kIconSize, kIconSize, 8, icon8.palette, icon8.index, clear, -1, 0));

  // Logo: white keeps an entry of its own so the background matches the window exactly.
  const std::vector<Rgba> logo = RenderLogo();
  const Indexed logo8 = Quantise(logo, {kWhite}, 256, std::vector<bool>(logo.size(), false));
  ok &= WriteFile(out / "logo.gif", Gif(kLogoW, kLogoH, logo8.palette, logo8.index, 0));

  // Cursor: the 16-colour palette; the hand uses black (0) and white (15).
  const std::vector<Rgba> vga = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                 {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                                 {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                 {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
  std::vector<std::uint8_t> hand(kCursorSize * kCursorSize, 0);
  std::vector<bool> hand_clear(hand.size(), true);
  for (int y = 0; y < kCursorSize; ++y)
    for (int x = 0; x < kCursorSize; ++x) {
      const char p = kHand[y][x];
      hand_clear[y * kCursorSize + x] = p == '.';
      hand[y * kCursorSize + x] = p == 'o' ? 15 : 0;
    }
  ok &= WriteFile(out / "hand.cur",
                  IconFile(kCursorSize, kCursorSize, 4, vga, hand, hand_clear, kHotX, kHotY));
  return ok ? 0 : 1;
}
