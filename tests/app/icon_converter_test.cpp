// The image-to-icon converter: placement, the one-time reduction, colour keys,
// alpha thresholds and the standard order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/icon_converter.h"
#include "app_test_util.h"
#include "base/toolbox/image_conversion.h"

using namespace apptest;

namespace {

void Put(TListLongint& l, std::initializer_list<int> v) {
  for (int x : v) l.Add(x);
}

// A picture in which every pixel differs from its neighbours.
uint32_t Distinct(int x, int y) {
  return 0xFF000000u | uint32_t((x * 5) & 0xFF) << 16 | uint32_t((y * 3) & 0xFF) << 8 | uint32_t((x + y) & 0xFF);
}

struct PlacementCase {
  const char* what;
  int W, H, w, h;
  bool shrink, zoom;
  bool asIs;
  TRect src, dest;
};
// How the case reads in the test list and in a failure.
void PrintTo(const PlacementCase& c, std::ostream* os) { *os << c.what; }

class PlacementTest : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(PlacementTest, DecidesScaleCutOrCentre) {
  const auto& c = GetParam();
  bool asIs = !c.asIs;
  TRect src{}, dest{};
  ComputePlacement(c.W, c.H, c.w, c.h, c.shrink, c.zoom, asIs, src, dest);
  EXPECT_EQ(asIs, c.asIs);
  EXPECT_EQ(dest.left, c.dest.left);
  EXPECT_EQ(dest.top, c.dest.top);
  EXPECT_EQ(dest.right, c.dest.right);
  EXPECT_EQ(dest.bottom, c.dest.bottom);
  if (c.asIs) {
    EXPECT_EQ(src.right, c.src.right);
    EXPECT_EQ(src.bottom, c.src.bottom);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlacementTest,
    ::testing::Values(
        PlacementCase{
            "large source cut at top left", 100, 100, 48, 48, false, false, true, {0, 0, 48, 48}, {0, 0, 48, 48}},
        PlacementCase{"small source centred", 20, 20, 48, 48, false, false, true, {0, 0, 20, 20}, {14, 14, 34, 34}},
        PlacementCase{"zoom scales a small source up", 20, 20, 48, 48, false, true, false, {}, {0, 0, 48, 48}},
        PlacementCase{
            "zoom does not scale a wider source", 100, 60, 48, 48, false, true, true, {0, 0, 48, 48}, {0, 0, 48, 48}},
        PlacementCase{
            "shrink scales when one side is as large", 48, 20, 48, 48, true, false, false, {}, {0, 14, 48, 34}},
        PlacementCase{
            "shrink keeps a smaller source", 40, 20, 48, 48, true, false, true, {0, 0, 40, 20}, {4, 14, 44, 34}},
        PlacementCase{"zoom scales the exact size", 48, 48, 48, 48, false, true, false, {}, {0, 0, 48, 48}},
        PlacementCase{"aspect box of a wide picture", 100, 60, 48, 48, true, false, false, {}, {0, 10, 48, 38}},
        PlacementCase{
            "target 0 means the source size", 30, 20, 0, 0, false, false, true, {0, 0, 30, 20}, {0, 0, 30, 20}}),
    [](const ::testing::TestParamInfo<PlacementCase>& p) {
      std::string n = p.param.what;
      for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

TEST(ConverterReduction, TriggersOnlyForLargeSourcesAndSizesThatDivideTheLargestSide) {
  struct Case {
    int W, H, D;
    std::initializer_list<int> depths, sizes;
    bool reduce;
  } cases[] = {
      {1000, 500, 24, {32}, {48, 32, 16}, true}, {1000, 500, 24, {32}, {48, 40}, false},  // 40 does not divide 192
      {1000, 500, 24, {32}, {48}, false},                                                 // one size only
      {384, 384, 24, {32}, {48, 32, 16}, false}, {385, 10, 24, {32}, {48, 32, 16}, true},
      {1000, 500, 8, {0}, {48, 32, 16}, false},  // own depth below 24
      {1000, 500, 8, {32}, {48, 32, 16}, true},  {1000, 500, 32, {0}, {48, 32, 16}, true},
      {1000, 500, 24, {32}, {0, 48}, true},  // 0 counts as 192
  };
  for (const auto& c : cases) {
    TListLongint depths, sizes;
    Put(depths, c.depths);
    Put(sizes, c.sizes);
    EXPECT_EQ(NeedsOneTimeReduction(c.W, c.H, c.D, depths, sizes, sizes), c.reduce)
        << c.W << "x" << c.H << "x" << c.D << " sizes " << sizes.Count();
  }
}

TEST(ConverterReduction, LargeSourceIsMadeFromItsReductionTo192x96) {
  auto stripes = [](int x, int y) { return ((x / 3 + y / 5) % 2) ? 0xFF2060C0u : 0xFFF0E010u; };
  auto source = Bitmap24(1000, 500, stripes);
  TAdvancedIcon icon;
  MakeIconFromBitmap(source.get(), &icon, false, clNone, itmNone, irfLanczos3, true, true);
  ASSERT_EQ(Shapes(icon), (std::vector<std::string>{"48x48x32", "32x32x32", "16x16x32"}));
  // The reduction is the converter's own: the source is only read, so that
  // the window can hand in the picture it shows.
  EXPECT_EQ(source->Width(), 1000);
  EXPECT_EQ(source->Height(), 500);
  const auto* row = static_cast<const uint8_t*>(source->ScanLine(0));
  EXPECT_EQ(row[4 * 3] | row[4 * 3 + 1] << 8 | row[4 * 3 + 2] << 16, 0x2060C0);

  // The same 48 image from an independent reduction to 192 x 96.
  auto again = Bitmap24(1000, 500, stripes);
  TBitmap reduced, r48, m48;
  ConvertImage(again.get(), nullptr, &reduced, nullptr, pf24bit, 192, 96, 1, 80, true, irfLanczos3, nullptr, false);
  ConvertImage(&reduced, nullptr, &r48, &m48, pf32bit, 48, 48, 1, 80, true, irfLanczos3, nullptr, false);
  const Image got = Read(*icon.Images().GetItem(0));
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 48; ++x) ASSERT_EQ(got.at(x, y), Pixel32(r48, x, y)) << x << "," << y;
  // The picture lies in rows 12..35 of the 48 image.
  EXPECT_EQ(got.alpha(20, 11), 0);
  EXPECT_EQ(got.alpha(20, 12), 255);
  EXPECT_EQ(got.alpha(20, 35), 255);
  EXPECT_EQ(got.alpha(20, 36), 0);
}

TEST(ConverterReduction, SizesThatDoNotDivideAreMadeFromTheFullSource) {
  auto source = Bitmap24(1000, 500, Distinct);
  TAdvancedIcon icon;
  TBitmap mask;
  TListLongint depths, sizes;
  Put(depths, {32});
  Put(sizes, {48, 40});
  ConvertBitmapToIcon(source.get(), &mask, &icon, depths, sizes, sizes, clNone, itmNone, irfLanczos3, true, true,
                      false);
  EXPECT_EQ(source->Width(), 1000);
  ASSERT_EQ(Shapes(icon), (std::vector<std::string>{"48x48x32", "40x40x32"}));
}

// Source sizes against the 48 image with Shrink and Zoom off or on.
TEST(ConverterPlacement, LargeSourceIsCutAndSmallOneCentredOnTransparency) {
  {
    auto source = Bitmap24(100, 100, Distinct);
    TAdvancedIcon icon;
    MakeIconFromBitmap(source.get(), &icon, false, clNone, itmNone, irfLanczos3, true, false);
    const Image im = Read(*icon.FindImage(48, 48, 32));
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 48; ++x) {
        ASSERT_EQ(im.at(x, y), Distinct(x, y)) << x << "," << y;
        ASSERT_FALSE(im.isMasked(x, y));
      }
  }
  {
    auto source = Bitmap24(20, 20, Distinct);
    TAdvancedIcon icon;
    MakeIconFromBitmap(source.get(), &icon, false, clNone, itmNone, irfLanczos3, true, false);
    const Image im = Read(*icon.FindImage(48, 48, 32));
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 48; ++x) {
        const bool inside = x >= 14 && x < 34 && y >= 14 && y < 34;
        if (inside) {
          ASSERT_EQ(im.at(x, y), Distinct(x - 14, y - 14)) << x << "," << y;
          ASSERT_FALSE(im.isMasked(x, y));
        } else {
          ASSERT_EQ(im.at(x, y), 0u) << x << "," << y;
          ASSERT_TRUE(im.isMasked(x, y));
        }
      }
  }
}

TEST(ConverterPlacement, ZoomToFitScalesASmallSourceUp) {
  auto source = Bitmap24(20, 20, [](int, int) { return 0xFF3366CCu; });
  TAdvancedIcon icon;
  MakeIconFromBitmap(source.get(), &icon, true, clNone, itmNone, irfBSpline, true, false);
  const Image im = Read(*icon.FindImage(48, 48, 32));
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 48; ++x) ASSERT_EQ(im.alpha(x, y), 255) << x << "," << y;
}

TEST(ConverterPlacement, WidePictureLiesInTheAspectBoxOfEachSize) {
  auto source = Bitmap24(100, 60, [](int, int) { return 0xFF808080u; });
  TAdvancedIcon icon;
  MakeIconFromBitmap(source.get(), &icon, false, clNone, itmNone, irfLanczos3, true, true);
  struct {
    int size, top, bottom;
  } boxes[] = {{48, 10, 37}, {32, 6, 25}, {16, 3, 12}};
  for (const auto& b : boxes) {
    const Image im = Read(*icon.FindImage(b.size, b.size, 32));
    for (int y = 0; y < b.size; ++y) {
      const bool inside = y >= b.top && y <= b.bottom;
      EXPECT_EQ(im.isMasked(b.size / 2, y), !inside) << b.size << " row " << y;
    }
  }
}

// Corners of distinct colours on grey; each mode keys one colour out.
TEST(ConverterTransparency, EachModeKeysItsColour) {
  constexpr uint32_t kGrey = 0xFF808080, kTL = 0xFFFF0000, kBL = 0xFF00FF00, kTR = 0xFF0000FF, kBR = 0xFFFFFF00;
  auto picture = [](int x, int y) {
    if (x == 0 && y == 0) return kTL;
    if (x == 0 && y == 15) return kBL;
    if (x == 15 && y == 0) return kTR;
    if (x == 15 && y == 15) return kBR;
    return kGrey;
  };
  struct Case {
    int mode;
    TColor colour;
    std::vector<std::pair<int, int>> keyed;  // corners expected transparent
    bool greyKeyed;
  } cases[] = {
      {itmNone, clNone, {}, false},
      {itmColor, TColor(0x808080), {}, true},
      {itmColor, clNone, {}, false},
      {itmTopLeft, clNone, {{0, 0}}, false},
      {itmBottomLeft, clNone, {{0, 15}}, false},
      {itmTopRight, clNone, {{15, 0}}, false},
      {itmBottomRight, clNone, {{15, 15}}, false},
      {7, TColor(0x808080), {}, true},  // unknown mode keeps the colour for a 24-bit source
  };
  for (const auto& c : cases) {
    for (bool is32 : {false, true}) {
      auto source = is32 ? Bitmap32(16, 16, picture) : Bitmap24(16, 16, picture);
      TAdvancedIcon icon;
      MakeIconFromBitmap(source.get(), &icon, false, c.colour, c.mode, irfLanczos3, true, true);
      const Image im = Read(*icon.FindImage(16, 16, 32));
      const bool unknownOn32 = c.mode > 5 && is32;
      for (auto [x, y] : std::vector<std::pair<int, int>>{{0, 0}, {0, 15}, {15, 0}, {15, 15}}) {
        bool keyed = false;
        for (auto k : c.keyed) keyed = keyed || (k.first == x && k.second == y);
        EXPECT_EQ(im.alpha(x, y) == 0, keyed) << "mode " << c.mode << " 32-bit " << is32 << " at " << x << "," << y;
        EXPECT_EQ(im.isMasked(x, y), keyed) << "mode " << c.mode << " 32-bit " << is32 << " at " << x << "," << y;
      }
      const bool greyKeyed = c.greyKeyed && !unknownOn32;
      EXPECT_EQ(im.alpha(5, 5) == 0, greyKeyed) << "mode " << c.mode << " 32-bit " << is32;
    }
  }
}

TEST(ConverterTransparency, TransparentCornerOfA32BitSourceGivesNoKey) {
  // Bottom-left is fully transparent red; another red pixel is opaque.
  auto source = Bitmap32(16, 16, [](int x, int y) {
    if (x == 0 && y == 15) return 0x00FF0000u;
    if (x == 8 && y == 8) return 0xFFFF0000u;
    return 0xFF808080u;
  });
  TAdvancedIcon icon;
  MakeIconFromBitmap(source.get(), &icon, false, clNone, itmBottomLeft, irfLanczos3, true, true);
  const Image im = Read(*icon.FindImage(16, 16, 32));
  EXPECT_EQ(im.at(8, 8), 0xFFFF0000u);
  EXPECT_EQ(im.alpha(0, 15), 0);

  // An opaque bottom-left of the same colour keys every pixel of it.
  auto keyed = Bitmap32(
      16, 16, [](int x, int y) { return (x == 8 && y == 8) || (x == 0 && y == 15) ? 0xFFFF0000u : 0xFF808080u; });
  TAdvancedIcon icon2;
  MakeIconFromBitmap(keyed.get(), &icon2, false, clNone, itmBottomLeft, irfLanczos3, true, true);
  EXPECT_EQ(Read(*icon2.FindImage(16, 16, 32)).at(8, 8), 0u);
}

TEST(ConverterTransparency, SourceWithEmptyAlphaIsOpaque) {
  auto source = Bitmap32(16, 16, [](int x, int y) { return uint32_t(x * 16) << 16 | uint32_t(y * 16); });
  TAdvancedIcon icon;
  MakeIconFromBitmap(source.get(), &icon, false, clNone, itmNone, irfLanczos3, true, true);
  EXPECT_EQ(source->PixelFormat(), pf24bit);
  const Image im = Read(*icon.FindImage(16, 16, 32));
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      ASSERT_EQ(im.at(x, y), 0xFF000000u | uint32_t(x * 16) << 16 | uint32_t(y * 16)) << x << "," << y;
      ASSERT_FALSE(im.isMasked(x, y));
    }
}

// Alpha exactly 80: the unscaled and same-size paths count it as transparent
// (at or below 80), the scaling path only below 80.
TEST(ConverterAlphaThreshold, EightyIsTransparentUnscaledAndOpaqueScaled) {
  auto columns = [](int x, int) { return uint32_t(79 + (x / 4) % 3) << 24 | 0x00406080u; };  // 79, 80, 81
  {
    auto source = Bitmap32(24, 24, columns);
    TAdvancedIcon icon;
    MakeIconFromBitmap(source.get(), &icon, false, clNone, itmNone, irfNearest, true, false);
    // 48: centred unscaled; 16: cut unscaled.
    for (int size : {48, 16}) {
      const Image im = Read(*icon.FindImage(size, size, 32));
      const int off = size == 48 ? 12 : 0;
      for (int x = 0; x < 12; ++x) {
        const int a = 79 + (x / 4) % 3;
        EXPECT_EQ(im.alpha(off + x, off), a);
        EXPECT_EQ(im.isMasked(off + x, off), a <= 80) << "unscaled " << size << " alpha " << a;
      }
    }
  }
  {
    auto source = Bitmap32(96, 96, [&](int x, int y) { return columns(x / 2, y); });
    TAdvancedIcon icon;
    MakeIconFromBitmap(source.get(), &icon, false, clNone, itmNone, irfNearest, true, true);
    const Image im = Read(*icon.FindImage(48, 48, 32));
    for (int x = 0; x < 12; ++x) {
      const int a = 79 + (x / 4) % 3;
      EXPECT_EQ(im.alpha(x, 5), a);
      EXPECT_EQ(im.isMasked(x, 5), a < 80) << "scaled alpha " << a;
    }
  }
  {
    // The source's own size and depth goes in as it is: at or below 80.
    TAdvancedIcon icon;
    TBitmap mask;
    auto source = Bitmap32(12, 12, columns);
    TListLongint depths, sizes;
    Put(depths, {0});
    Put(sizes, {0});
    ConvertBitmapToIcon(source.get(), &mask, &icon, depths, sizes, sizes, clNone, itmNone, irfNone, true, true, false);
    const Image im = Read(*icon.Images().GetItem(0));
    for (int x = 0; x < 12; ++x) EXPECT_EQ(im.isMasked(x, 0), 79 + (x / 4) % 3 <= 80) << x;
  }
}

TEST(ConverterDepths, EverySizeAtEveryDepthWithoutDuplicates) {
  auto source = Bitmap24(64, 64, Distinct);
  TAdvancedIcon icon;
  TBitmap mask;
  TListLongint depths, widths, heights;
  Put(depths, {8, 32, 8});
  Put(widths, {48, 16, 48, 20});
  Put(heights, {48, 16, 48, 10});
  ConvertBitmapToIcon(source.get(), &mask, &icon, depths, heights, widths, clNone, itmNone, irfLanczos3, true, true,
                      false);
  EXPECT_EQ(Shapes(icon),
            (std::vector<std::string>{"48x48x8", "16x16x8", "48x48x32", "16x16x32", "20x10x8", "20x10x32"}));
}

TEST(ConverterDepths, EmptyRequestLeavesTheIconEmpty) {
  auto source = Bitmap24(8, 8, Distinct);
  TAdvancedIcon icon;
  TBitmap mask;
  MakeIconFromBitmap(source.get(), &icon, false, clNone, itmNone, irfNone, true, true);
  ASSERT_EQ(icon.Count(), 3);
  TListLongint none, sizes;
  Put(sizes, {16});
  ConvertBitmapToIcon(source.get(), &mask, &icon, none, sizes, sizes, clNone, itmNone, irfNone, true, true, false);
  EXPECT_EQ(icon.Count(), 0);
}

// The standard order: 4, 8, 32 bits, each from the largest square down; the rest after.
TEST(SortSubIconsTest, OrdersByDepthThenLargestSquareFirst) {
  struct Case {
    std::vector<std::pair<int, int>> images;  // size (square unless negative: 2:1), depth
    std::vector<std::string> sorted;
    bool changed;
  } cases[] = {
      {{{16, 32}, {48, 8}, {48, 32}}, {"48x48x8", "48x48x32", "16x16x32"}, true},
      {{{48, 8}, {32, 8}, {48, 32}, {32, 32}}, {"48x48x8", "32x32x8", "48x48x32", "32x32x32"}, false},
      {{{16, 32}, {48, 32}, {16, 32}, {48, 24}}, {"48x48x32", "16x16x32", "16x16x32", "48x48x24"}, true},
      {{{32, 32}, {-32, 32}, {48, 32}}, {"48x48x32", "32x32x32", "32x16x32"}, true},
      {{{16, 4}, {32, 32}, {16, 8}}, {"16x16x4", "16x16x8", "32x32x32"}, true},
      // No image as high as the first (non-square) one is wide: left alone.
      {{{-32, 32}, {48, 32}}, {"32x16x32", "48x48x32"}, false},
  };
  for (const auto& c : cases) {
    TAdvancedIcon icon;
    for (auto [size, depth] : c.images) {
      const int w = size < 0 ? -size : size, h = size < 0 ? -size / 2 : size;
      auto b = Bitmap32(w, h, Distinct);
      if (depth != 32) {
        TBitmap conv, m;
        ConvertImage(b.get(), nullptr, &conv, &m,
                     depth == 8   ? pf8bit
                     : depth == 4 ? pf4bit
                                  : pf24bit,
                     w, h, 1, 80, false, irfNone, nullptr, false);
        icon.Images().AddBitmap(&conv, &m, 0);
      } else {
        icon.Images().AddBitmap(b.get(), nullptr, 80);
      }
    }
    EXPECT_EQ(SortSubIcons(&icon), c.changed);
    EXPECT_EQ(Shapes(icon), c.sorted);
  }
}

}  // namespace

namespace {

// Degenerate sources give images of the requested sizes and nothing worse.
TEST(ConverterEdges, EmptyThinAndTinySourcesAreConverted) {
  struct {
    int w, h;
    bool zoom, shrink;
  } cases[] = {{0, 0, false, true},    {0, 0, true, false},   {1, 1, false, true}, {1, 1, true, false},
               {1, 1000, false, true}, {1000, 1, true, true}, {3, 2, false, false}};
  for (const auto& c : cases) {
    for (bool is32 : {false, true}) {
      auto source = is32 ? Bitmap32(c.w, c.h, [](int, int) { return 0xFF808080u; })
                         : Bitmap24(c.w, c.h, [](int, int) { return 0x808080u; });
      TAdvancedIcon icon;
      EXPECT_NO_THROW(
          MakeIconFromBitmap(source.get(), &icon, c.zoom, clNone, itmBottomRight, irfLanczos3, true, c.shrink))
          << c.w << "x" << c.h;
      if (c.w > 0 && c.h > 0) {
        EXPECT_EQ(Shapes(icon), (std::vector<std::string>{"48x48x32", "32x32x32", "16x16x32"})) << c.w << "x" << c.h;
      }
    }
  }
}

}  // namespace
