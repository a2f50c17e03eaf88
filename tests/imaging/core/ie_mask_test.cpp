#include "imaging/core/ie_mask.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "ie_pixel_table.h"
#include "platform/graphics/graphics_bitmap.h"

namespace {

std::vector<POINT> Square(int x1, int y1, int x2, int y2) { return {{x1, y1}, {x2, y1}, {x2, y2}, {x1, y2}}; }

// A polygon of n points around an ellipse, as the view builds ellipse selections.
std::vector<POINT> Ellipse(int cx, int cy, int rx, int ry, int n = 48) {
  std::vector<POINT> p;
  for (int i = 0; i < n; ++i) {
    const double t = 2 * M_PI * i / n;
    p.push_back({LONG(std::lround(cx + rx * std::cos(t))), LONG(std::lround(cy + ry * std::sin(t)))});
  }
  return p;
}

std::vector<int> Box(const TIEMask& m) { return {m.X1(), m.Y1(), m.X2(), m.Y2()}; }

class MaskDepth : public ::testing::TestWithParam<int> {};

}  // namespace

TEST_P(MaskDepth, NewMaskAndSinglePixels) {
  TIEMask m;
  m.Allocate(8, 6, GetParam());
  EXPECT_TRUE(m.IsEmpty());
  EXPECT_FALSE(m.HasBits());
  EXPECT_EQ(m.GetPixel(3, 3), 0);
  EXPECT_FALSE(m.IsPointSelected(3, 3));
  m.SetPixel(5, 2, 255);
  EXPECT_EQ(Box(m), (std::vector<int>{5, 2, 5, 2}));
  m.SetPixel(1, 4, 255);
  m.SetPixel(5, 2, 0);  // clearing never shrinks the box by itself
  EXPECT_EQ(Box(m), (std::vector<int>{1, 2, 5, 4}));
  EXPECT_EQ(m.GetPixel(5, 2), 0);
  m.SetPixel(-1, 0, 255);
  m.SetPixel(8, 0, 255);
  EXPECT_EQ(Box(m), (std::vector<int>{1, 2, 5, 4}));
  m.UpdateBoundingBox();
  EXPECT_EQ(Box(m), (std::vector<int>{1, 4, 1, 4}));
  EXPECT_EQ(m.GetPixel(1, 4), GetParam() == 1 ? 1 : 255);
}

TEST_P(MaskDepth, FillClearAndTheFullFlag) {
  TIEMask m;
  m.Allocate(11, 3, GetParam());
  m.Fill(255);
  EXPECT_TRUE(m.Full());
  EXPECT_EQ(Box(m), (std::vector<int>{0, 0, 10, 2}));
  m.SetPixel(10, 2, 0);
  EXPECT_FALSE(m.Full());
  m.SetPixel(10, 2, 255);
  m.CheckFull();
  EXPECT_TRUE(m.Full());
  m.Clear();
  EXPECT_FALSE(m.Full());
  EXPECT_TRUE(m.IsEmpty());
  EXPECT_EQ(m.GetPixel(4, 1), 0);
}

TEST_P(MaskDepth, FillSpanClipsRowsAndColumns) {
  TIEMask m;
  m.Allocate(10, 4, GetParam());
  EXPECT_EQ(m.FillSpan(1, -3, 20, -1), 0);
  EXPECT_EQ(m.FillSpan(1, -3, 20, 4), 0);
  EXPECT_EQ(m.FillSpan(1, 5, 4, 1), 0);
  EXPECT_EQ(m.FillSpan(1, -3, 2, 1), 3);
  EXPECT_EQ(m.FillSpan(1, 7, 20, 1), 3);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 10; ++x) EXPECT_EQ(m.GetPixel(x, y) != 0, y == 1 && (x <= 2 || x >= 7)) << x << "," << y;
}

TEST_P(MaskDepth, RectanglePolygonCoversItsLeftAndTopEdgesOnly) {
  TIEMask m;
  m.Allocate(30, 30, GetParam());
  const auto r = Square(10, 10, 20, 20);
  m.FillPolygon(1, r.data(), int(r.size()));
  EXPECT_EQ(Box(m), (std::vector<int>{10, 10, 19, 19}));
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 30; ++x)
      ASSERT_EQ(m.GetPixel(x, y) != 0, x >= 10 && x <= 19 && y >= 10 && y <= 19) << x << "," << y;
}

TEST_P(MaskDepth, PolygonListsAndPolygonsThatMissThePlane) {
  TIEMask m;
  m.Allocate(20, 10, GetParam());
  std::vector<POINT> list = Square(1, 1, 4, 3);
  list.push_back({kIEPolygonSeparator, 0});
  for (const POINT& p : Square(10, 5, 12, 8)) list.push_back(p);
  m.FillPolygons(1, list.data(), int(list.size()));
  EXPECT_EQ(Box(m), (std::vector<int>{1, 1, 11, 7}));
  EXPECT_NE(m.GetPixel(3, 2), 0);
  EXPECT_NE(m.GetPixel(11, 7), 0);
  EXPECT_EQ(m.GetPixel(7, 4), 0);
  // A polygon that covers no pixel of the plane leaves the selection as it was.
  const auto outside = Square(30, 2, 40, 6);
  m.FillPolygon(1, outside.data(), int(outside.size()));
  EXPECT_EQ(Box(m), (std::vector<int>{1, 1, 11, 7}));
  TIEMask fresh;
  fresh.Allocate(20, 10, GetParam());
  fresh.FillPolygon(1, outside.data(), int(outside.size()));
  EXPECT_TRUE(fresh.IsEmpty());
}

// Shapes that reach past the picture are filled as if the plane were larger and
// then cut: nothing smears onto the first or last row.
TEST_P(MaskDepth, ShapesReachingPastTheEdgesAreClipped) {
  const int w = 40, h = 30, margin = 400;
  const std::vector<std::vector<POINT>> shapes = {
      Ellipse(20, 2, 30, 12),                 // over the top edge
      Ellipse(5, 28, 25, 9),                  // over the bottom and left edges
      {{-300, -350}, {60, 15}, {-20, 370}},   // a triangle with far vertices
      {{5, -100}, {35, -90}, {30, -2}},       // wholly above: nothing at all
      {{3, 40}, {30, 33}, {20, 300}},         // wholly below
      {{0, -50}, {40, 80}, {40, -50}, {0, 80}},  // self-crossing bow tie
  };
  for (size_t i = 0; i < shapes.size(); ++i) {
    TIEMask clipped, big;
    clipped.Allocate(w, h, GetParam());
    clipped.FillPolygon(1, shapes[i].data(), int(shapes[i].size()));
    big.Allocate(w + 2 * margin, h + 2 * margin, GetParam());
    std::vector<POINT> moved = shapes[i];
    for (POINT& p : moved) p = {p.x + margin, p.y + margin};
    big.FillPolygon(1, moved.data(), int(moved.size()));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        ASSERT_EQ(clipped.GetPixel(x, y), big.GetPixel(x + margin, y + margin)) << "shape " << i << " at " << x
                                                                                 << "," << y;
  }
}

TEST(Mask, FarOutVerticesNeedNoTableOfTheirSize) {
  TIEMask m;
  m.Allocate(16, 8, 1);
  // Billions of rows apart: only the plane's eight rows are scanned.
  const std::vector<POINT> tall = {{2, -2000000000}, {7, -2000000000}, {7, 2000000000}, {2, 2000000000}};
  m.FillPolygon(1, tall.data(), int(tall.size()));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) ASSERT_EQ(m.GetPixel(x, y), x >= 2 && x <= 6 ? 1 : 0) << x << "," << y;
  EXPECT_EQ(Box(m), (std::vector<int>{2, 0, 6, 7}));
  // Slanted edges across the plane land where a row-by-row walk puts them: x = y
  // for the first, x = y / 2 (halves rounded down) for the second.
  const std::vector<POINT> diagonal = {{-1000000000, -1000000000}, {1000000016, 1000000016}, {-1000000000, 1000000016}};
  const std::vector<POINT> half = {{-1000000000, -2000000000}, {1000000000, 2000000000}, {-1000000000, 2000000000}};
  for (const auto* shape : {&diagonal, &half}) {
    TIEMask s;
    s.Allocate(16, 8, 8);
    s.FillPolygon(255, shape->data(), int(shape->size()));
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 16; ++x)
        ASSERT_EQ(s.GetPixel(x, y) != 0, x < (shape == &diagonal ? y : y / 2)) << x << "," << y;
  }
}

TEST_P(MaskDepth, MoveLimitsCutsOrClears) {
  {
    TIEMask m;
    m.Allocate(12, 8, GetParam());
    const auto r = Square(2, 2, 6, 5);
    m.FillPolygon(1, r.data(), int(r.size()));
    int dx = -5, dy = 1;
    m.MoveBy(dx, dy, false);
    EXPECT_EQ(dx, -2);  // stopped at the left edge
    EXPECT_EQ(dy, 1);
    EXPECT_EQ(Box(m), (std::vector<int>{0, 3, 3, 5}));
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 12; ++x) ASSERT_EQ(m.GetPixel(x, y) != 0, x <= 3 && y >= 3 && y <= 5) << x << "," << y;
  }
  {
    TIEMask m;
    m.Allocate(12, 8, GetParam());
    const auto r = Square(2, 2, 6, 5);
    m.FillPolygon(1, r.data(), int(r.size()));
    int dx = 8, dy = 0;
    m.MoveBy(dx, dy, true);
    EXPECT_EQ(dx, 8);
    EXPECT_EQ(Box(m), (std::vector<int>{10, 2, 11, 4}));
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 12; ++x) ASSERT_EQ(m.GetPixel(x, y) != 0, x >= 10 && y >= 2 && y <= 4) << x << "," << y;
  }
  {
    TIEMask m;
    m.Allocate(12, 8, GetParam());
    const auto r = Square(2, 2, 6, 5);
    m.FillPolygon(1, r.data(), int(r.size()));
    int dx = 0, dy = -9;
    m.MoveBy(dx, dy, true);
    EXPECT_TRUE(m.IsEmpty());
    EXPECT_EQ(m.GetPixel(3, 3), 0);
  }
  for (bool cut : {false, true}) {
    // Offsets at the ends of the int range are limited or clear, never overflow.
    TIEMask m;
    m.Allocate(12, 8, GetParam());
    m.SetPixel(4, 4, 255);
    int dx = INT_MIN, dy = INT_MAX;
    m.MoveBy(dx, dy, cut);
    EXPECT_EQ(m.IsEmpty(), cut);
    if (!cut) {
      EXPECT_EQ(dx, -4);
      EXPECT_EQ(dy, 3);
      EXPECT_NE(m.GetPixel(0, 7), 0);
    }
  }
}

TEST_P(MaskDepth, ShrinkingKeepsTheTopLeftAndClipsTheBox) {
  TIEMask m;
  m.Allocate(10, 10, GetParam());
  m.SetPixel(1, 1, 255);
  m.SetPixel(8, 8, 255);
  m.Resize(5, 4);
  EXPECT_EQ(m.Width(), 5);
  EXPECT_EQ(m.GetPixel(1, 1), GetParam() == 1 ? 1 : 255);
  EXPECT_EQ(Box(m), (std::vector<int>{1, 1, 4, 3}));
  TIEMask thin;
  thin.Allocate(10, 10, GetParam());
  thin.SetPixel(7, 2, 255);
  thin.SetPixel(7, 6, 255);
  thin.Resize(4, 4);
  EXPECT_EQ(Box(thin), (std::vector<int>{3, 2, 3, 3}));
}

INSTANTIATE_TEST_SUITE_P(OneAndEightBits, MaskDepth, ::testing::Values(1, 8));

// ---- copying through the mask ----

namespace {

using qvtest::kAllPixelFormats;
using qvtest::NumberPixels;
constexpr auto PixelOf = qvtest::PixelBytes;

class MaskedCopy : public ::testing::TestWithParam<TIEBitmapFormat> {};

}  // namespace

TEST_P(MaskedCopy, SelectedPixelsAndAlphaGoThroughTheMask) {
  const TIEBitmapFormat f = GetParam();
  TIEBitmap src(9, 7, f), dst(9, 7, f);
  NumberPixels(src, 3);
  NumberPixels(dst, 100);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 9; ++x) src.SetAlpha(x, y, uint8_t(10 + x + 20 * y));
  auto before = TIEBitmap::CreateCopy(dst);
  TIEMask m;
  m.Allocate(9, 7, 1);
  const auto tri = std::vector<POINT>{{1, 1}, {8, 2}, {3, 7}};
  m.FillPolygon(1, tri.data(), int(tri.size()));
  m.CopyBitmapMasked(dst, src, false, false, true);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 9; ++x) {
      const bool on = m.GetPixel(x, y) != 0;
      ASSERT_EQ(PixelOf(dst, x, y), on ? PixelOf(src, x, y) : PixelOf(*before, x, y)) << int(f) << ":" << x << "," << y;
      // Written back in image coordinates: unselected alpha stays as it was.
      ASSERT_EQ(dst.GetAlpha(x, y), on ? src.GetAlpha(x, y) : 255) << x << "," << y;
    }
  EXPECT_FALSE(dst.AlphaChannel()->Full());
}

TEST_P(MaskedCopy, CutOutIntoABoxSizedBitmap) {
  const TIEBitmapFormat f = GetParam();
  TIEBitmap src(12, 10, f);
  NumberPixels(src, 9);
  TIEMask m;
  m.Allocate(12, 10, 1);
  const auto shape = Ellipse(6, 5, 4, 3, 24);
  m.FillPolygon(1, shape.data(), int(shape.size()));
  TIEBitmap cut;
  src.CopySelection(cut, m);
  ASSERT_EQ(cut.Width(), m.X2() - m.X1() + 1);
  ASSERT_EQ(cut.Height(), m.Y2() - m.Y1() + 1);
  ASSERT_EQ(cut.PixelFormat(), f);
  for (int y = 0; y < cut.Height(); ++y)
    for (int x = 0; x < cut.Width(); ++x) {
      const bool on = m.GetPixel(x + m.X1(), y + m.Y1()) != 0;
      ASSERT_EQ(PixelOf(cut, x, y), PixelOf(src, x + m.X1(), y + m.Y1())) << x << "," << y;
      ASSERT_EQ(cut.GetAlpha(x, y), on ? 255 : 0) << x << "," << y;
    }
}

INSTANTIATE_TEST_SUITE_P(AllFormats, MaskedCopy, ::testing::ValuesIn(kAllPixelFormats));

TEST(MaskedCopyWeights, EightBitMaskBlendsAndFullSelectionCopies) {
  TIEBitmap src(3, 1, ie24RGB), dst(3, 1, ie24RGB);
  src.Fill(0xFFFFFF);
  dst.Fill(0);
  TIEMask m;
  m.Allocate(3, 1, 8);
  m.SetPixel(0, 0, 255);
  m.SetPixel(1, 0, 128);
  m.CopyBitmapMasked(dst, src, false, false, false);
  EXPECT_EQ(dst.GetPixelRGB(0, 0), MakeRGB(255, 255, 255));
  EXPECT_EQ(dst.GetPixelRGB(1, 0), MakeRGB(127, 127, 127));
  EXPECT_EQ(dst.GetPixelRGB(2, 0), MakeRGB(0, 0, 0));
  // Alpha of a cut-out is at most the mask's weight.
  TIEBitmap cut(3, 1, ie24RGB);
  m.CopyAlphaMasked(cut, src, true, false);
  EXPECT_EQ(cut.GetAlpha(0, 0), 255);
  EXPECT_EQ(cut.GetAlpha(1, 0), 128);
}

TEST(MaskedCopyWeights, OtherFormatsAreConverted) {
  TIEBitmap src(4, 1, ie8g), dst(4, 1, ie24RGB);
  for (int x = 0; x < 4; ++x) src.SetPixel8(x, 0, uint8_t(50 * x));
  dst.Fill(0x0000FF);
  TIEMask m;
  m.Allocate(4, 1, 1);
  m.SetPixel(1, 0, 1);
  m.SetPixel(3, 0, 1);
  m.CopyBitmapMasked(dst, src, false, false, false);
  EXPECT_EQ(dst.GetPixelRGB(0, 0), MakeRGB(255, 0, 0));
  EXPECT_EQ(dst.GetPixelRGB(1, 0), MakeRGB(50, 50, 50));
  EXPECT_EQ(dst.GetPixelRGB(2, 0), MakeRGB(255, 0, 0));
  EXPECT_EQ(dst.GetPixelRGB(3, 0), MakeRGB(150, 150, 150));
}

// ---- drawing ----

namespace {

std::unique_ptr<TBitmap> WhiteBitmap(int w, int h) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(pf24bit);
  b->SetSize(w, h);
  for (int y = 0; y < h; ++y) std::memset(b->ScanLine(y), 255, size_t(w) * 3);
  return b;
}

TRGB At(TBitmap& b, int x, int y) { return static_cast<TRGB*>(b.ScanLine(y))[x]; }

}  // namespace

TEST(MaskDrawing, InvertedSelectionInvertsTheCanvas) {
  TIEMask m;
  m.Allocate(10, 8, 1);
  const auto r = Square(2, 1, 6, 4);
  m.FillPolygon(1, r.data(), int(r.size()));
  auto b = WhiteBitmap(20, 16);
  // Shown at twice the size.
  m.DrawInverted(b->Canvas(), 0, 0, 20, 16, 0, 0, 10, 8);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 20; ++x) {
      const bool on = m.GetPixel(x / 2, y / 2) != 0;
      ASSERT_EQ(At(*b, x, y), on ? MakeRGB(0, 0, 0) : MakeRGB(255, 255, 255)) << x << "," << y;
    }
}

TEST(MaskDrawing, OutlineStampsTheBorderInDashes) {
  TIEMask m;
  m.Allocate(12, 12, 1);
  const auto r = Square(3, 3, 9, 8);  // x 3..8, y 3..7
  m.FillPolygon(1, r.data(), int(r.size()));
  auto b = WhiteBitmap(12, 12);
  RECT drawn{};
  m.DrawOutline(b->Canvas(), 0, 0, 12, 12, 0, 0, 12, 12, 0, TColorOf(0x0000FF), TColorOf(0xFF0000), &drawn);
  const TRGB white = MakeRGB(255, 255, 255), red = MakeRGB(255, 0, 0), blue = MakeRGB(0, 0, 255);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 12; ++x) {
      const bool border = m.GetPixel(x, y) && (x == 3 || x == 8 || y == 3 || y == 7);
      const TRGB want = !border ? white : ((x + y) % 8 < 4 ? blue : red);
      ASSERT_EQ(At(*b, x, y), want) << x << "," << y;
    }
  // The next phase moves the dashes along.
  auto c = WhiteBitmap(12, 12);
  m.DrawOutline(c->Canvas(), 0, 0, 12, 12, 0, 0, 12, 12, 1, TColorOf(0x0000FF), TColorOf(0xFF0000), nullptr);
  EXPECT_EQ(At(*b, 3, 4), red);
  EXPECT_EQ(At(*c, 3, 4), blue);
}

TEST(MaskDrawing, ShadingLeavesTheSelectionAlone) {
  TIEMask m;
  m.Allocate(8, 8, 8);
  const auto r = Square(2, 2, 6, 6);
  m.FillPolygon(255, r.data(), int(r.size()));
  auto checker = WhiteBitmap(8, 8);
  m.ShadeUnselected(checker.get(), 0, 0, 8, 8, 0, 0, 8, 8, -1, TColorOf(0xFFFFFF));
  auto tinted = WhiteBitmap(8, 8);
  m.ShadeUnselected(tinted.get(), 0, 0, 8, 8, 0, 0, 8, 8, 255, TColorOf(0x000080));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const bool on = m.GetPixel(x, y) != 0;
      const TRGB grey = MakeRGB(97, 97, 97), white = MakeRGB(255, 255, 255);
      ASSERT_EQ(At(*checker, x, y), on || (x + y) % 2 ? white : grey) << x << "," << y;
      ASSERT_EQ(At(*tinted, x, y), on ? white : MakeRGB(128, 0, 0)) << x << "," << y;
    }
}
