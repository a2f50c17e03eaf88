// Zoomed drawing of library bitmaps into 24-bit targets: the maps, clipping,
// row reuse, opacity and alpha weighting, display adjustments, every source
// format at the usual zoom ratios, filtered drawing and canvas drawing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "ie_pixel_table.h"
#include "imaging/core/ie_render.h"
#include "imaging/core/ie_startup.h"
#include "imaging/core/ie_thread_pool.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_canvas.h"

namespace {

TRGB At(TIEBitmap& b, int x, int y) { return b.GetPixelRGB(x, y); }

// A 24-bit target filled with one colour.
std::unique_ptr<TIEBitmap> Target(int w, int h, TRGB fill = TRGB{0, 0, 0}) {
  auto t = std::make_unique<TIEBitmap>(w, h, ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) t->SetPixelRGB(x, y, fill);
  return t;
}

// Every pixel of a 24-bit source tells its own coordinates.
std::unique_ptr<TIEBitmap> Numbered(int w, int h) {
  auto s = std::make_unique<TIEBitmap>(w, h, ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) s->SetPixelRGB(x, y, TRGB{uint8_t(x), uint8_t(y), 200});
  return s;
}

void Render(TIEBitmap& src, TIEBitmap& dst, int xd, int yd, int dxd, int dyd, int xs, int ys, int dxs, int dys,
            uint8_t opacity = 255, bool alpha = true, bool reuse = false, const RECT* clip = nullptr,
            TResampleFilter filter = rfNone, TIEBlendMode mode = iebmNormal) {
  src.RenderToTIEBitmapEx(dst, nullptr, nullptr, nullptr, clip, xd, yd, dxd, dyd, xs, ys, dxs, dys, alpha, reuse,
                          opacity, filter, true, mode);
}

TEST(RenderZoomMap, WholeSpansGiveExactQuotients) {
  // 1/49 as a factor would put position 49 at 0.99999...
  EXPECT_EQ(IEZoomSourceIndex(49, 1, 49), 1);
  EXPECT_EQ(IEZoomSourceIndex(3, 100, 300), 1);
  EXPECT_EQ(IEZoomSourceIndex(2, 100, 300), 0);
  std::vector<int32_t> map(6);
  IEBuildZoomMap(map.data(), 6, 10, 20, 7, 10);
  EXPECT_EQ(map, (std::vector<int32_t>{7, 7, 8, 8, 9, 9}));
  IEBuildZoomMap(map.data(), 6, 10, 20, 8, 10);  // past the source: the last column
  EXPECT_EQ(map, (std::vector<int32_t>{8, 8, 9, 9, 9, 9}));
}

TEST(RenderZoomMap, ViewTablesAbove100UseTruncation) {
  std::vector<int32_t> v2b, b2v;
  // 300 %: a 10-pixel image is 30 columns; view 0..2 show 0, 3..5 show 1.
  IEBuildViewZoomTables(300, 30, 10, v2b, b2v);
  ASSERT_EQ(v2b.size(), 32u);
  for (int j = 0; j < 30; ++j) EXPECT_EQ(v2b[size_t(j)], j / 3) << j;
  EXPECT_EQ(b2v[1], 3);
  EXPECT_EQ(b2v[9], 27);
  // 150 %: column 1 shows 0 (trunc 0.67), not 1 (round).
  IEBuildViewZoomTables(150, 15, 10, v2b, b2v);
  EXPECT_EQ(v2b[1], 0);
  EXPECT_EQ(v2b[2], 1);
  EXPECT_EQ(v2b[3], 2);
  EXPECT_EQ(b2v[1], 2);
  // 50 %: bitmap column k lands on round(k / 2), halves to even, and each
  // screen column keeps the first bitmap column that lands there.
  IEBuildViewZoomTables(50, 5, 10, v2b, b2v);
  EXPECT_EQ(std::vector<int32_t>(v2b.begin(), v2b.begin() + 5), (std::vector<int32_t>{0, 2, 3, 6, 7}));
  IEBuildViewZoomTables(0, 5, 10, v2b, b2v);
  EXPECT_TRUE(v2b.empty());
}

// The renderer and the view's tables agree on the pixel at every column.
TEST(RenderZoomMap, RendererPaintsWhatTheViewTableNames) {
  auto src = Numbered(37, 1);
  for (int zoom : {100, 150, 200, 300, 333, 800, 1600}) {
    const int extent = int(std::lround(37 * zoom / 100.0));
    std::vector<int32_t> v2b, b2v;
    IEBuildViewZoomTables(zoom, extent, 37, v2b, b2v);
    auto dst = Target(extent, 1);
    Render(*src, *dst, 0, 0, extent, 1, 0, 0, extent * 100 / zoom, 1);
    // Where the extent is a whole multiple the two agree exactly.
    if (extent * 100 % zoom != 0) continue;
    for (int x = 0; x < extent; ++x) EXPECT_EQ(At(*dst, x, 0).b, v2b[size_t(x)]) << zoom << " " << x;
  }
}

TEST(Render, EnlargingMapsTheLastColumnsToTheLastSourceColumn) {
  auto src = Numbered(10, 10);
  auto dst = Target(20, 20);
  Render(*src, *dst, 0, 0, 20, 20, 0, 0, 10, 10);
  EXPECT_EQ(At(*dst, 19, 19), (TRGB{9, 9, 200}));
  EXPECT_EQ(At(*dst, 0, 0), (TRGB{0, 0, 200}));
  EXPECT_EQ(At(*dst, 3, 5), (TRGB{1, 2, 200}));
}

TEST(Render, RowReuseCopiesOnlyTheDrawnColumns) {
  auto src = Numbered(10, 10);
  auto dst = Target(20, 20, TRGB{1, 2, 3});
  // Columns beside the clip hold a different colour on every row.
  for (int y = 0; y < 20; ++y) {
    dst->SetPixelRGB(0, y, TRGB{uint8_t(y), 77, 77});
    dst->SetPixelRGB(19, y, TRGB{uint8_t(y), 88, 88});
  }
  RECT clip{1, 0, 19, 20};
  Render(*src, *dst, 0, 0, 20, 20, 0, 0, 10, 10, 255, true, true, &clip);
  for (int y = 0; y < 20; ++y) {
    EXPECT_EQ(At(*dst, 0, y), (TRGB{uint8_t(y), 77, 77})) << y;
    EXPECT_EQ(At(*dst, 19, y), (TRGB{uint8_t(y), 88, 88})) << y;
    for (int x = 1; x < 19; ++x) ASSERT_EQ(At(*dst, x, y), (TRGB{uint8_t(x / 2), uint8_t(y / 2), 200})) << x << "," << y;
  }
}

TEST(Render, RowReuseIsNotUsedUnderAlpha) {
  // Over a background that differs per row, reuse would carry row 0's mix into row 1.
  auto src = Numbered(2, 2);
  src->AlphaChannel()->Fill(128);
  src->SetFull(false);
  auto dst = Target(2, 4);
  for (int x = 0; x < 2; ++x) dst->SetPixelRGB(x, 1, TRGB{100, 100, 100});
  Render(*src, *dst, 0, 0, 2, 4, 0, 0, 2, 2, 255, true, true);
  EXPECT_EQ(At(*dst, 0, 0).r, 100);   // 200 x 128 / 256 over 0
  EXPECT_EQ(At(*dst, 0, 1).r, 150);   // over 100
}

TEST(Render, NegativeOriginsSkipSourcePixels) {
  auto src = Numbered(20, 20);
  auto dst = Target(20, 20);
  Render(*src, *dst, -5, -3, 20, 20, 0, 0, 20, 20);
  EXPECT_EQ(At(*dst, 0, 0), (TRGB{5, 3, 200}));
  EXPECT_EQ(At(*dst, 14, 16), (TRGB{19, 19, 200}));
  EXPECT_EQ(At(*dst, 15, 0), (TRGB{0, 0, 0}));  // nothing drawn there
  // Half size from a negative origin: round(5 x 2) source columns skipped.
  auto half = Target(20, 20);
  Render(*src, *half, -5, 0, 10, 10, 0, 0, 20, 20);
  EXPECT_EQ(At(*half, 0, 0), (TRGB{10, 0, 200}));
  EXPECT_EQ(At(*half, 4, 0), (TRGB{18, 0, 200}));
}

TEST(Render, AreasPastTheEdgesAndEmptyAreasDrawNothingOutside) {
  auto src = Numbered(10, 10);
  struct Case {
    int xd, yd, dxd, dyd, xs, ys, dxs, dys;
    bool drawsAny;
  } cases[] = {
      {0, 0, 0, 10, 0, 0, 10, 10, false},    // empty destination
      {0, 0, 10, 10, 0, 0, 10, 0, false},    // empty source
      {10, 0, 10, 10, 0, 0, 10, 10, false},  // origin past the last column
      {0, 10, 10, 10, 0, 0, 10, 10, false},  // past the last row
      {-10, 0, 10, 10, 0, 0, 10, 10, false}, // wholly left of it
      {5, 5, 10, 10, 0, 0, 10, 10, true},    // cut at the right and bottom
      {0, 0, 10, 10, 8, 8, 10, 10, true},    // source rectangle past its bitmap
  };
  for (const Case& c : cases) {
    auto dst = Target(10, 10, TRGB{7, 7, 7});
    Render(*src, *dst, c.xd, c.yd, c.dxd, c.dyd, c.xs, c.ys, c.dxs, c.dys);
    bool any = false;
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 10; ++x) any = any || !(At(*dst, x, y) == TRGB{7, 7, 7});
    EXPECT_EQ(any, c.drawsAny) << c.xd << "," << c.yd;
  }
  auto dst = Target(10, 10);
  Render(*src, *dst, 5, 5, 10, 10, 0, 0, 10, 10);
  EXPECT_EQ(At(*dst, 9, 9), (TRGB{4, 4, 200}));
  auto past = Target(10, 10);
  Render(*src, *past, 0, 0, 10, 10, 8, 8, 10, 10);
  EXPECT_EQ(At(*past, 1, 1), (TRGB{9, 9, 200}));
  EXPECT_EQ(At(*past, 9, 9), (TRGB{9, 9, 200}));  // clamped, not read past the row
}

TEST(Render, ClipThatMissesDrawsNothing) {
  auto src = Numbered(10, 10);
  auto dst = Target(10, 10, TRGB{7, 7, 7});
  RECT clip{20, 20, 30, 30};
  Render(*src, *dst, 0, 0, 10, 10, 0, 0, 10, 10, 255, true, false, &clip);
  EXPECT_EQ(At(*dst, 5, 5), (TRGB{7, 7, 7}));
  RECT part{2, 3, 4, 5};
  Render(*src, *dst, 0, 0, 10, 10, 0, 0, 10, 10, 255, true, false, &part);
  EXPECT_EQ(At(*dst, 2, 3), (TRGB{2, 3, 200}));
  EXPECT_EQ(At(*dst, 3, 4), (TRGB{3, 4, 200}));
  EXPECT_EQ(At(*dst, 4, 4), (TRGB{7, 7, 7}));
  EXPECT_EQ(At(*dst, 2, 5), (TRGB{7, 7, 7}));
}

// White over black: weight 255 writes the colour, 0 keeps the destination,
// and between them the destination moves by weight / 256, rounding down.
TEST(Render, AlphaAndOpacityWeights) {
  struct Case {
    int alpha;  // -1: no alpha channel
    uint8_t opacity;
    uint8_t expected;
  } cases[] = {{255, 255, 255}, {0, 255, 0}, {128, 255, 127}, {-1, 128, 127}, {200, 100, 99}, {1, 255, 0},
               {254, 255, 253}, {255, 0, 0}};
  for (const Case& c : cases) {
    TIEBitmap src(4, 4, ie24RGB);
    src.Fill(0xFFFFFF);
    if (c.alpha >= 0) {
      src.AlphaChannel()->Fill(c.alpha);
      src.SetFull(false);
    }
    auto dst = Target(4, 4);
    Render(src, *dst, 0, 0, 4, 4, 0, 0, 4, 4, c.opacity);
    EXPECT_EQ(At(*dst, 1, 1), (TRGB{c.expected, c.expected, c.expected})) << c.alpha << " " << int(c.opacity);
  }
}

TEST(Render, DarkerColourOverLighterRoundsDown) {
  TIEBitmap src(1, 1, ie24RGB);
  src.Fill(0);
  auto dst = Target(1, 1, TRGB{255, 255, 255});
  Render(src, *dst, 0, 0, 1, 1, 0, 0, 1, 1, 128);
  EXPECT_EQ(At(*dst, 0, 0).r, 127);  // 255 + floor(-255 x 128 / 256)
}

TEST(Render, EveryColourOverEveryBackgroundAtEveryWeight) {
  // Colour x over background y with weights that run through 0..255 along
  // both: each channel is y + floor((x - y) w / 256), 255 giving x and 0
  // leaving y; wide rows, so the drawers take their long runs as well, read
  // in place at 1:1 and through the column map at 2:1.
  TIEBitmap src(256, 256, ie24RGB);
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) {
      src.SetPixelRGB(x, y, TRGB{uint8_t(x), uint8_t(255 - x), uint8_t(x ^ 0x5A)});
      src.SetAlpha(x, y, uint8_t(x * 7 + y * 13));
    }
  src.SetFull(false);
  for (int scale : {1, 2})
    for (uint8_t opacity : {uint8_t(255), uint8_t(160)}) {
      const int w = 256 * scale;
      auto dst = Target(w, 256);
      auto background = [](int y) { return TRGB{uint8_t(y), uint8_t(y ^ 0xC3), uint8_t(255 - y)}; };
      for (int y = 0; y < 256; ++y)
        for (int x = 0; x < w; ++x) dst->SetPixelRGB(x, y, background(y));
      Render(src, *dst, 0, 0, w, 256, 0, 0, 256, 256, opacity);
      int wrong = 0;
      for (int y = 0; y < 256; ++y)
        for (int x = 0; x < w; ++x) {
          const int sx = x / scale;
          const int weight = std::min<int>(opacity, uint8_t(sx * 7 + y * 13));
          const TRGB n = src.GetPixelRGB(sx, y), d = background(y);
          auto weigh = [weight](int back, int fore) {
            if (weight == 255) return fore;
            return back + int(std::floor((fore - back) * weight / 256.0));
          };
          const TRGB want{uint8_t(weigh(d.b, n.b)), uint8_t(weigh(d.g, n.g)), uint8_t(weigh(d.r, n.r))};
          if (!(At(*dst, x, y) == want) && ++wrong < 5)
            ADD_FAILURE() << x << "," << y << " scale " << scale << " opacity " << int(opacity);
        }
      EXPECT_EQ(wrong, 0);
    }
}

TEST(Render, FullAlphaChannelAndDisabledAlphaAreIgnored) {
  TIEBitmap src(2, 2, ie24RGB);
  src.Fill(0xFFFFFF);
  src.AlphaChannel()->Fill(0);
  src.SetFull(true);
  auto dst = Target(2, 2);
  Render(src, *dst, 0, 0, 2, 2, 0, 0, 2, 2);
  EXPECT_EQ(At(*dst, 0, 0).r, 255);
  src.SetFull(false);
  auto off = Target(2, 2);
  Render(src, *off, 0, 0, 2, 2, 0, 0, 2, 2, 255, false);
  EXPECT_EQ(At(*off, 0, 0).r, 255);
  auto on = Target(2, 2);
  Render(src, *on, 0, 0, 2, 2, 0, 0, 2, 2, 255, true);
  EXPECT_EQ(At(*on, 0, 0).r, 0);
}

TEST(Render, AlphaIsReadAtTheMappedPixel) {
  TIEBitmap src(2, 1, ie24RGB);
  src.Fill(0xFFFFFF);
  src.AlphaChannel()->SetPixel8(0, 0, 0);
  src.AlphaChannel()->SetPixel8(1, 0, 255);
  src.SetFull(false);
  auto dst = Target(6, 3);
  Render(src, *dst, 0, 0, 6, 3, 0, 0, 2, 1);
  for (int x = 0; x < 6; ++x) EXPECT_EQ(At(*dst, x, 2).r, x < 3 ? 0 : 255) << x;
}

TEST(RenderAdjust, ContrastAndBrightness) {
  struct Case {
    int contrast, brightness;
    bool adjust;
    uint8_t in, out;
  } cases[] = {
      {-100, 0, false, 10, 128},   // factor 0
      {-100, 0, false, 250, 128},
      {10, 0, false, 138, 148},    // the distance from 128 doubles
      {10, 0, false, 118, 108},
      {10, 0, false, 250, 255},    // clamped
      {0, 20, true, 100, 120},     // brightness with AdjustDisplay
      {0, 20, false, 100, 100},    // not without it
      {-25, 0, false, 228, 178},   // 1 - sqrt(25) / 10 = 0.5
  };
  for (const Case& c : cases) {
    for (TIEBitmapFormat f : {ie24RGB, ie32RGB}) {
      TIEBitmap src(3, 3, f);
      for (int y = 0; y < 3; ++y) {
        uint8_t* row = src.ScanLine(y);
        for (int i = 0; i < 3 * (f == ie32RGB ? 4 : 3); ++i) row[i] = c.in;
      }
      src.SetContrast(c.contrast);
      src.SetBrightness(c.brightness, c.brightness, c.brightness);
      src.SetAdjustDisplay(c.adjust);
      auto dst = Target(6, 6);
      Render(src, *dst, 0, 0, 6, 6, 0, 0, 3, 3);
      EXPECT_EQ(At(*dst, 5, 5), (TRGB{c.out, c.out, c.out})) << c.contrast << " " << c.brightness << " " << int(f);
    }
  }
}

TEST(RenderAdjust, Rgb48UsesWordArithmetic) {
  TIEBitmap src(1, 1, ieRGB48);
  src.SetPixelRGB48(0, 0, TRGB48{40000, 30000, 32768});
  src.SetContrast(10);
  auto dst = Target(1, 1);
  Render(src, *dst, 0, 0, 1, 1, 0, 0, 1, 1);
  // (v - 32768) x 2 + 32768, div 256.
  EXPECT_EQ(At(*dst, 0, 0), (TRGB{128, 106, 184}));
  src.SetContrast(0);
  auto plain = Target(1, 1);
  Render(src, *plain, 0, 0, 1, 1, 0, 0, 1, 1);
  EXPECT_EQ(At(*plain, 0, 0), (TRGB{128, 117, 156}));
}

TEST(RenderAdjust, ValueRanges) {
  TIEBitmap grey(2, 1, ie8g);
  grey.SetPixel8(0, 0, 100);
  grey.SetPixel8(1, 0, 200);
  grey.SetRange(50, 150);
  auto dst = Target(2, 1);
  Render(grey, *dst, 0, 0, 2, 1, 0, 0, 2, 1);
  EXPECT_EQ(At(*dst, 0, 0).g, 127);
  EXPECT_EQ(At(*dst, 1, 0).g, 255);

  TIEBitmap words(2, 1, ie16g);
  words.SetPixel16(0, 0, 1000);
  words.SetPixel16(1, 0, 3000);
  words.SetRange(0, 2000);
  Render(words, *dst, 0, 0, 2, 1, 0, 0, 2, 1);
  EXPECT_EQ(At(*dst, 0, 0).g, 127);
  EXPECT_EQ(At(*dst, 1, 0).g, 255);

  TIEBitmap reals(2, 1, ie32f);
  reals.SetPixelFloat(0, 0, 5.0f);
  reals.SetPixelFloat(1, 0, -1.0f);
  reals.SetRange(0, 10);
  Render(reals, *dst, 0, 0, 2, 1, 0, 0, 2, 1);
  EXPECT_EQ(At(*dst, 0, 0).g, 127);
  EXPECT_EQ(At(*dst, 1, 0).g, 0);
  // Out of 0..1 without a range: kept to a byte, not wrapped.
  reals.SetRange(0, 0);
  reals.SetPixelFloat(0, 0, 1.5f);
  Render(reals, *dst, 0, 0, 2, 1, 0, 0, 2, 1);
  EXPECT_EQ(At(*dst, 0, 0).g, 255);
  EXPECT_EQ(At(*dst, 1, 0).g, 0);

  // A range whose low end has a fraction would reach 256: kept to 255.
  grey.SetRange(50.5, 150);
  grey.SetPixel8(0, 0, 150);
  Render(grey, *dst, 0, 0, 2, 1, 0, 0, 2, 1);
  EXPECT_EQ(At(*dst, 0, 0).g, 255);

  TIEBitmap colour(1, 1, ie24RGB);
  colour.SetPixelRGB(0, 0, TRGB{100, 150, 250});
  colour.SetRange(100, 200);
  Render(colour, *dst, 0, 0, 1, 1, 0, 0, 1, 1);
  EXPECT_EQ(At(*dst, 0, 0), (TRGB{0, 127, 255}));
  // The alpha drawer of 24-bit colour leaves the range out.
  Render(colour, *dst, 0, 0, 1, 1, 0, 0, 1, 1, 254);
  EXPECT_EQ(At(*dst, 0, 0), (TRGB{99, 149, 250}));
}

// Every source format at 1:1, 2:1, 1:2 and 3:1, plainly and at opacity 255
// with an alpha channel, against the library's own pixel reader at the
// nearest-lower source pixel.
struct FormatCase {
  TIEBitmapFormat format;
  int num, den;  // destination = source x num / den
};
// How the case reads in the test list and in a failure.
void PrintTo(const FormatCase& c, std::ostream* os) { *os << "format " << int(c.format) << " x" << c.num << "/" << c.den; }

class RenderFormats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(RenderFormats, NearestLowerSourcePixel) {
  const FormatCase c = GetParam();
  const int sw = 12, sh = 9;
  TIEBitmap src(sw, sh, c.format);
  qvtest::NumberPixels(src, 5);
  const int dw = sw * c.num / c.den, dh = sh * c.num / c.den;
  for (bool withAlpha : {false, true}) {
    if (withAlpha) {
      for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x) src.SetAlpha(x, y, (x + y) % 2 ? 255 : 0);
    }
    auto dst = Target(dw, dh, TRGB{9, 8, 7});
    Render(src, *dst, 0, 0, dw, dh, 0, 0, sw, sh);
    for (int y = 0; y < dh; ++y)
      for (int x = 0; x < dw; ++x) {
        const int sx = x * sw / dw, sy = y * sh / dh;
        const bool shown = !withAlpha || (sx + sy) % 2;
        const TRGB want = shown ? src.GetPixelAsRGB(sx, sy) : TRGB{9, 8, 7};
        ASSERT_EQ(At(*dst, x, y), want) << "format " << int(c.format) << " at " << x << "," << y << " alpha "
                                        << withAlpha;
      }
  }
}

std::vector<FormatCase> AllFormatCases() {
  std::vector<FormatCase> v;
  for (TIEBitmapFormat f : qvtest::kAllPixelFormats)
    for (auto r : {std::pair{1, 1}, {2, 1}, {1, 2}, {3, 1}}) v.push_back({f, r.first, r.second});
  return v;
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, RenderFormats, ::testing::ValuesIn(AllFormatCases()));

TEST(Render, MapsAreReturnedAndReused) {
  auto src = Numbered(10, 10);
  auto dst = Target(20, 20);
  std::vector<uint8_t*> rows;
  std::vector<int32_t> xmap, ymap;
  src->RenderToTIEBitmapEx(*dst, &rows, &xmap, &ymap, nullptr, 0, 0, 20, 20, 0, 0, 10, 10, true, false, 255, rfNone,
                           false, iebmNormal);
  EXPECT_EQ(rows.size(), 20u);
  ASSERT_EQ(xmap.size(), 20u);
  EXPECT_EQ(xmap[19], 9);
  // A passed-in map is used as it is; trailing entries outside the source are dropped.
  std::vector<int32_t> mirrored(20), ident(20);
  for (int i = 0; i < 20; ++i) mirrored[size_t(i)] = 9 - i / 2;
  for (int i = 0; i < 20; ++i) ident[size_t(i)] = i < 15 ? i / 2 : 99;
  auto again = Target(20, 20, TRGB{1, 1, 1});
  src->RenderToTIEBitmapEx(*again, nullptr, &mirrored, &ident, nullptr, 0, 0, 20, 20, 0, 0, 10, 10, true, false, 255,
                           rfNone, false, iebmNormal);
  EXPECT_EQ(At(*again, 0, 0), (TRGB{9, 0, 200}));
  EXPECT_EQ(At(*again, 19, 14), (TRGB{0, 7, 200}));
  EXPECT_EQ(At(*again, 5, 15), (TRGB{1, 1, 1}));
  // With free maps set nothing comes back.
  std::vector<int32_t> none;
  src->RenderToTIEBitmapEx(*again, nullptr, &none, nullptr, nullptr, 0, 0, 20, 20, 0, 0, 10, 10, true, false, 255,
                           rfNone, true, iebmNormal);
  EXPECT_TRUE(none.empty());
}

TEST(Render, OnlyIntoTwentyFourBitTargets) {
  auto src = Numbered(4, 4);
  TIEBitmap grey(4, 4, ie8g);
  grey.Fill(3);
  Render(*src, grey, 0, 0, 4, 4, 0, 0, 4, 4);
  EXPECT_EQ(grey.GetPixel8(1, 1), 3);
}

TEST(Render, FrameworkBitmapTarget) {
  auto src = Numbered(8, 8);
  TBitmap bmp;
  bmp.SetPixelFormat(pf24bit);
  bmp.SetSize(16, 16);
  src->RenderToTBitmap(bmp, 0, 0, 16, 16, 0, 0, 8, 8, rfNone);
  TIEBitmap back;
  back.CopyFromTBitmap(bmp);
  EXPECT_EQ(back.GetPixelRGB(15, 15), (TRGB{7, 7, 200}));
  EXPECT_EQ(back.GetPixelRGB(2, 4), (TRGB{1, 2, 200}));
}

TEST(Render, LargeAreasDrawTheSameOnEveryWorkerCount) {
  auto src = Numbered(250, 250);
  src->AlphaChannel()->Fill(100);
  src->SetFull(false);
  std::vector<std::unique_ptr<TIEBitmap>> results;
  for (int workers : {1, 3, 8}) {
    IEWorkerCountOverride = workers;
    auto dst = Target(700, 600, TRGB{10, 20, 30});
    Render(*src, *dst, 0, 0, 700, 600, 0, 0, 250, 250);
    results.push_back(std::move(dst));
  }
  IEWorkerCountOverride = 0;
  for (int y = 0; y < 600; y += 7)
    for (int x = 0; x < 700; x += 5) {
      ASSERT_EQ(At(*results[0], x, y), At(*results[1], x, y));
      ASSERT_EQ(At(*results[0], x, y), At(*results[2], x, y));
    }
  EXPECT_EQ(At(*results[0], 699, 599), (TRGB{uint8_t(10 + ((249 - 10) * 100 >> 8)), uint8_t(20 + ((249 - 20) * 100 >> 8)),
                                             uint8_t(30 + ((200 - 30) * 100 >> 8))}));
}

}  // namespace
