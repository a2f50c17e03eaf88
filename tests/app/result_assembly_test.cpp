// Result assembly: effects, shadows, colorize and background, style overlay
// and the final icon of 8-bit and 32-bit images.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/icon_converter.h"
#include "app/result_assembly.h"
#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_proc_filters.h"
#include "app_test_util.h"
#include "platform/rtl/rounding.h"

using namespace apptest;

namespace {

// A disc of opaque colour on transparency, in every base size.
uint32_t Disc(int x, int y, int size, uint32_t colour) {
  const double c = (size - 1) / 2.0, dx = x - c, dy = y - c, r = size * 0.35;
  return dx * dx + dy * dy <= r * r ? (0xFF000000u | colour) : 0u;
}

void MakeBase(TAdvancedIcon& base, uint32_t colour = 0xC04020, const std::vector<int>& sizes = {48, 32, 16}) {
  for (int s : sizes) {
    auto b = Bitmap32(s, s, [&](int x, int y) { return Disc(x, y, s, colour); });
    base.Images().AddBitmap(b.get(), nullptr, 80);
  }
}

Image ImageOf(TAdvancedIcon& icon, int size, int bits) {
  TSubIcon* im = icon.FindImage(size, size, bits);
  EXPECT_NE(im, nullptr) << size << "x" << bits;
  return im ? Read(*im) : Image{};
}

const std::vector<std::string> kSix = {"48x48x8", "32x32x8", "16x16x8", "48x48x32", "32x32x32", "16x16x32"};

TEST(ResultIcon, WithoutOptionsDisplayEqualsBaseAndSavedIconHoldsSixImages) {
  TAdvancedIcon base, display, result, thumb;
  MakeBase(base);
  UpdateResultIcon(base, TResultOptions{}, display, result, thumb);
  EXPECT_EQ(Shapes(result), kSix);
  for (int s : {48, 32, 16}) {
    const Image b = ImageOf(base, s, 32), d = ImageOf(display, s, 32), r32 = ImageOf(result, s, 32);
    EXPECT_EQ(d.px, b.px) << s;
    EXPECT_EQ(r32.px, b.px) << s;
    // The 8-bit copy masks exactly the pixels below alpha 80 and keeps the colour.
    const Image r8 = ImageOf(result, s, 8);
    for (int y = 0; y < s; ++y)
      for (int x = 0; x < s; ++x) {
        ASSERT_EQ(r8.isMasked(x, y), b.alpha(x, y) < 80) << s << " " << x << "," << y;
        if (!r8.isMasked(x, y)) {
          ASSERT_EQ(r8.at(x, y) & 0xFFFFFF, b.at(x, y) & 0xFFFFFF);
        }
      }
  }
  EXPECT_EQ(ImageOf(thumb, 48, 32).px, ImageOf(base, 48, 32).px);
}

TEST(ResultIcon, OpacityReachesTheResultOnlyWithBackground) {
  TAdvancedIcon base, display, result, thumb;
  MakeBase(base);
  TResultOptions o;
  o.Opacity = -100;  // every alpha to 0
  UpdateResultIcon(base, o, display, result, thumb);
  const Image d = ImageOf(display, 48, 32);
  for (uint32_t p : d.px) ASSERT_EQ(p >> 24, 0u);
  // The 8-bit images come from the result icon, which kept its alpha.
  const Image r8 = ImageOf(result, 48, 8), b = ImageOf(base, 48, 32);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 48; ++x) ASSERT_EQ(r8.isMasked(x, y), b.alpha(x, y) < 80);

  // With Background ticked the result is faded first and then merged.
  o.Opacity = -50;
  o.MergeBackground = true;
  o.BackgroundColor = 0xFFFFFF;
  UpdateResultIcon(base, o, display, result, thumb);
  const Image merged = ImageOf(result, 48, 8);
  const uint32_t centre = merged.at(24, 24) & 0xFFFFFF;
  EXPECT_NE(centre, 0xC04020u);  // half way to white
  EXPECT_NE(centre, 0xFFFFFFu);
}

TEST(ResultIcon, HueTurnsRedIntoBlueAndLightnessMakesWhite) {
  TAdvancedIcon base, display, result, thumb;
  MakeBase(base, 0xFF0000);
  TResultOptions o;
  o.Hue = 120;
  UpdateResultIcon(base, o, display, result, thumb);
  EXPECT_EQ(ImageOf(display, 32, 32).at(16, 16), 0xFF0000FFu);
  o.Hue = 0;
  o.Lightness = 100;
  UpdateResultIcon(base, o, display, result, thumb);
  EXPECT_EQ(ImageOf(display, 32, 32).at(16, 16), 0xFFFFFFFFu);
  // Transparent pixels keep their alpha.
  EXPECT_EQ(ImageOf(display, 32, 32).alpha(0, 0), 0);
}

TEST(ResultIcon, EffectsSkipUntickedSizesAndOtherSizes) {
  TAdvancedIcon base, display, result, thumb;
  MakeBase(base, 0xFF0000, {48, 32, 16, 24});
  TResultOptions o;
  o.Hue = 120;
  o.Effects.Size32 = false;
  UpdateResultIcon(base, o, display, result, thumb);
  EXPECT_EQ(ImageOf(display, 48, 32).at(24, 24), 0xFF0000FFu);
  EXPECT_EQ(ImageOf(display, 32, 32).at(16, 16), 0xFFFF0000u);
  EXPECT_EQ(ImageOf(display, 24, 32).at(12, 12), 0xFFFF0000u);
}

TEST(HueSaturationLightness, TwentyFourBitPicturesSkipMaskedPixels) {
  auto b = Bitmap24(2, 1, [](int, int) { return 0xFF0000u; });
  TBitmap mask;
  mask.SetPixelFormat(pf1bit);
  mask.SetSize(2, 1);
  mask.Canvas()->SetPixels(0, 0, clBlack);
  mask.Canvas()->SetPixels(1, 0, clWhite);
  AdjustHueSaturationLightness(b.get(), &mask, 120, 0, 0);
  const auto* row = static_cast<const uint8_t*>(b->ScanLine(0));
  EXPECT_EQ(row[0], 255);  // blue
  EXPECT_EQ(row[2], 0);
  EXPECT_EQ(row[3 + 2], 255);  // masked: still red
}

TEST(Sharpness, PlanesGoThroughTheSharpenerAndAlphaOnlyWhenPartlyTransparent) {
  std::vector<int> calls;
  TPlaneSharpener count = [&](TBitmap* plane, int amount, int boxSize) {
    calls.push_back(amount);
    EXPECT_EQ(boxSize, 4);
    EXPECT_EQ(plane->PixelFormat(), pf24bit);
  };
  auto opaque = Bitmap32(8, 8, [](int, int) { return 0xFF102030u; });
  SharpenBitmap(opaque.get(), 6, 4, count);
  EXPECT_EQ(calls.size(), 1u);
  EXPECT_EQ(Pixel32(*opaque, 3, 3) >> 24, 255u);
  calls.clear();
  auto partly = Bitmap32(8, 8, [](int x, int) { return x < 4 ? 0u : 0xFF102030u; });
  SharpenBitmap(partly.get(), 6, 4, count);
  EXPECT_EQ(calls.size(), 2u);
  calls.clear();
  auto empty = Bitmap32(8, 8, [](int, int) { return 0x00102030u; });
  SharpenBitmap(empty.get(), 6, 4, count);
  EXPECT_TRUE(calls.empty());
  // Without a sharpener the picture stays as it is.
  SharpenBitmap(partly.get(), 6, 4, nullptr);
  EXPECT_EQ(Pixel32(*partly, 5, 5), 0xFF102030u);
}

TEST(Sharpness, TheLibrarySharpenerWorksOnThePlaneInPlace) {
  // A 16-pixel plane with a lone dark pixel: the library's rule, applied to a
  // copy of the same pixels, gives the same plane; the dot gets darker.
  auto plane = std::make_unique<TBitmap>();
  plane->SetPixelFormat(pf24bit);
  plane->SetSize(16, 16);
  TIEBitmap expected(16, 16, ie24RGB);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const uint8_t v = (x == 7 && y == 5) ? 40 : uint8_t(100 + x * 3 + y);
      auto* p = static_cast<uint8_t*>(plane->ScanLine(y)) + 3 * x;
      p[0] = p[1] = p[2] = v;
      expected.SetPixelRGB(x, y, MakeRGB(v, v, v));
    }
  SharpenArea(expected, 0, 0, nullptr, nullptr, 4, 20, 16, 16);
  TResultOptions o;
  ASSERT_TRUE(o.SharpenPlane);
  o.SharpenPlane(plane.get(), 20, 4);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      ASSERT_EQ(static_cast<uint8_t*>(plane->ScanLine(y))[3 * x], expected.GetPixelRGB(x, y).b) << x << "," << y;
  EXPECT_LT(static_cast<uint8_t*>(plane->ScanLine(5))[3 * 7], 40);
}

TEST(Shadows, OnlyTickedSizeOfTheDisplayAndTheResultWithBackground) {
  TAdvancedIcon base, display, result, thumb;
  MakeBase(base);
  TResultOptions o;
  o.Shadow = {false, true, false};
  UpdateResultIcon(base, o, display, result, thumb);
  const Image b32 = ImageOf(base, 32, 32), d32 = ImageOf(display, 32, 32);
  int grown = 0;
  for (int i = 0; i < 32 * 32; ++i) grown += (d32.px[size_t(i)] >> 24) > (b32.px[size_t(i)] >> 24);
  EXPECT_GT(grown, 10);
  EXPECT_EQ(ImageOf(display, 48, 32).px, ImageOf(base, 48, 32).px);
  EXPECT_EQ(ImageOf(display, 16, 32).px, ImageOf(base, 16, 32).px);
  // Without Background the 8-bit copy of 32 is the unshadowed picture.
  const Image r8 = ImageOf(result, 32, 8);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) ASSERT_EQ(r8.isMasked(x, y), b32.alpha(x, y) < 80);
}

TEST(MakeRoomForShadowTest, ShiftsOnlyWhenNothingIsLost) {
  struct Case {
    const char* what;
    std::function<uint32_t(int, int)> px;
    bool shifted;
  } cases[] = {
      {"clear border", [](int x, int y) { return x >= 2 && x < 6 && y >= 2 && y < 6 ? 0xFF112233u : 0u; }, true},
      {"opaque to the edges", [](int, int) { return 0xFF112233u; }, false},
      {"nearly opaque bottom row",
       [](int x, int y) { return y == 7 ? 0xFA112233u : (x >= 2 && x < 6 && y >= 2 && y < 6 ? 0xFF112233u : 0u); },
       false},
      {"touches the top", [](int x, int y) { return x >= 2 && x < 6 && y < 4 ? 0xFF112233u : 0u; }, false},
      {"touches the left", [](int x, int y) { return x < 3 && y >= 2 && y < 5 ? 0xFF112233u : 0u; }, false},
      {"faint pixel in the right columns", [](int x, int y) { return x == 6 && y == 3 ? 0x01000000u : 0u; }, false},
  };
  for (const auto& c : cases) {
    auto b = Bitmap32(8, 8, c.px);
    MakeRoomForShadow(b.get());
    bool same = true, moved = true;
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) {
        same = same && Pixel32(*b, x, y) == c.px(x, y);
        const uint32_t expect = (x < 6 && y < 6) ? c.px(x + 1, y + 1) : 0u;
        moved = moved && Pixel32(*b, x, y) == expect;
      }
    EXPECT_EQ(moved, c.shifted) << c.what;
    EXPECT_EQ(same, !c.shifted) << c.what;
  }
}

TEST(Background, WhiteMakesEveryImageOpaque) {
  TAdvancedIcon base, display, result, thumb;
  MakeBase(base);
  TResultOptions o;
  o.MergeBackground = true;
  o.BackgroundColor = 0xFFFFFF;
  UpdateResultIcon(base, o, display, result, thumb);
  EXPECT_EQ(Shapes(result), kSix);
  for (int s : {48, 32, 16}) {
    const Image im32 = ImageOf(result, s, 32), im8 = ImageOf(result, s, 8);
    for (int y = 0; y < s; ++y)
      for (int x = 0; x < s; ++x) {
        ASSERT_EQ(im32.alpha(x, y), 255);
        ASSERT_FALSE(im32.isMasked(x, y));
        ASSERT_FALSE(im8.isMasked(x, y)) << s << " " << x << "," << y;
      }
    EXPECT_EQ(im32.at(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(im32.at(s / 2, s / 2), 0xFFC04020u);
  }
}

TEST(Colorize, BlackGradientMapsDarkHalfToBlackAndBrightHalfToGreys) {
  // Sums 300 and 600 and 765, in a 32-bit and a 24-bit picture.
  const uint32_t in[] = {0xFF646464u, 0xFFC8C8C8u, 0xFFFFFFFFu};
  for (bool is32 : {true, false}) {
    auto b =
        is32 ? Bitmap32(3, 1, [&](int x, int) { return in[x]; }) : Bitmap24(3, 1, [&](int x, int) { return in[x]; });
    ColorizeBitmap(b.get(), 0x000000);
    const auto* row = static_cast<const uint8_t*>(b->ScanLine(0));
    const int step = is32 ? 4 : 3;
    EXPECT_EQ(row[0], 0);
    const int expect = int(Round(255.0 * (600 - 382) / (765 - 382)));
    EXPECT_NEAR(row[step], expect, 1);
    EXPECT_EQ(row[step + 1], row[step]);
    EXPECT_EQ(row[2 * step], 255);
    if (is32) {
      EXPECT_EQ(row[3], 255);
    }
  }
  // A colour lands at the middle of the range in its own channels.
  auto mid = Bitmap32(1, 1, [](int, int) { return 0xFF7F7F80u; });  // sum 382
  ColorizeBitmap(mid.get(), 0x0000FF);                              // red
  EXPECT_EQ(Pixel32(*mid, 0, 0), 0xFFFF0000u);
}

TEST(MaskByAlphaTest, MultipliesAlphasAndKeepsTheImageColour) {
  auto image = Bitmap32(4, 4, [](int, int) { return 0xC8123456u; });  // alpha 200
  auto shape = Bitmap32(3, 3, [](int x, int) { return uint32_t(x * 100 + 28) << 24 | 0xABCDEFu; });
  TBitmap target;
  MaskByAlpha(image.get(), shape.get(), &target);
  ASSERT_EQ(target.Width(), 3);
  EXPECT_EQ(Pixel32(target, 0, 0), uint32_t(28 * 200 / 255) << 24 | 0x123456u);
  EXPECT_EQ(Pixel32(target, 2, 1), uint32_t(228 * 200 / 255) << 24 | 0x123456u);
}

// A style icon in the library's layout: per size a display shape, a display
// overlay, a result shape and a result overlay.
void MakeStyle(TAdvancedIcon& style, bool withResult = true) {
  for (int s : {48, 32, 16}) {
    auto leftHalf = Bitmap32(s, s, [&](int x, int) { return x < s / 2 ? 0xFF000000u : 0u; });
    auto topDot = Bitmap32(s, s, [&](int x, int y) { return x == s / 2 + 1 && y == 1 ? 0xFF00FF00u : 0u; });
    auto topHalf = Bitmap32(s, s, [&](int, int y) { return y < s / 2 ? 0xFF000000u : 0u; });
    auto bottomDot = Bitmap32(s, s, [&](int x, int y) { return x == 1 && y == s - 2 ? 0xFF0000FFu : 0u; });
    style.Images().AddBitmap(leftHalf.get(), nullptr, 0);
    style.Images().AddBitmap(topDot.get(), nullptr, 0);
    if (!withResult) continue;
    style.Images().AddBitmap(topHalf.get(), nullptr, 0);
    style.Images().AddBitmap(bottomDot.get(), nullptr, 0);
  }
}

TEST(Style, DisplayAndResultTakeTheirOwnShapesAndOverlays) {
  TAdvancedIcon base, display, result, thumb, style;
  for (int s : {48, 32, 16}) {
    auto b = Bitmap32(s, s, [](int, int) { return 0xFF804020u; });
    base.Images().AddBitmap(b.get(), nullptr, 80);
  }
  MakeStyle(style);
  TResultOptions o;
  o.StyleIcon = &style;
  o.Style.Size16 = false;
  UpdateResultIcon(base, o, display, result, thumb);
  EXPECT_EQ(Shapes(result), kSix);
  const Image d48 = ImageOf(result, 48, 32);  // the display images
  EXPECT_EQ(d48.at(5, 40), 0xFF804020u);
  EXPECT_EQ(d48.at(25, 1), 0xFF00FF00u);
  EXPECT_EQ(d48.alpha(30, 40), 0);
  const Image r48 = ImageOf(result, 48, 8);  // the result images
  EXPECT_FALSE(r48.isMasked(30, 5));
  EXPECT_TRUE(r48.isMasked(30, 40));
  EXPECT_FALSE(r48.isMasked(1, 46));
  EXPECT_EQ(r48.at(1, 46) & 0xFFFFFF, 0x0000FFu);
  // 16 unticked: unstyled in both.
  EXPECT_FALSE(ImageOf(result, 16, 8).isMasked(12, 12));
  EXPECT_EQ(ImageOf(result, 16, 32).alpha(12, 12), 255);
  // The thumbnail copy is taken before the style.
  EXPECT_EQ(ImageOf(thumb, 48, 32).alpha(30, 40), 255);
}

TEST(Style, StyleWithoutResultImagesLeavesTheResultUnstyled) {
  TAdvancedIcon base, display, result, thumb, style;
  MakeBase(base);
  MakeStyle(style, false);
  TResultOptions o;
  o.StyleIcon = &style;
  UpdateResultIcon(base, o, display, result, thumb);
  const Image b = ImageOf(base, 32, 32), r8 = ImageOf(result, 32, 8);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) ASSERT_EQ(r8.isMasked(x, y), b.alpha(x, y) < 80);
  EXPECT_EQ(ImageOf(result, 32, 32).alpha(20, 16), 0);  // display: right half cut
}

TEST(StyleStrip, RowsAreDrawnOnlyWhenTheStripHoldsThemWhole) {
  EXPECT_FALSE(StyleStripHoldsRow(0, 0));
  EXPECT_TRUE(StyleStripHoldsRow(0, 48));
  EXPECT_FALSE(StyleStripHoldsRow(1, 48));
  EXPECT_FALSE(StyleStripHoldsRow(1, 95));
  EXPECT_TRUE(StyleStripHoldsRow(1, 96));
  EXPECT_FALSE(StyleStripHoldsRow(-1, 96));
}

TEST(Previews, PictureCentredUnlessTheMarginIsBelowTwo) {
  EXPECT_EQ(PreviewOffset(48, 48), 0);
  EXPECT_EQ(PreviewOffset(48, 44), 2);
  EXPECT_EQ(PreviewOffset(48, 45), 0);  // 3 div 2 = 1
  EXPECT_EQ(PreviewOffset(48, 16), 16);
  EXPECT_EQ(PreviewOffset(16, 48), 0);
}

TEST(StyleStrip, ThumbnailsWithoutLibraryOrPictureStillFillTheStrip) {
  TAdvancedIcon empty;
  TBitmap strip;
  RenderStyleThumbnails(empty, nullptr, clRed, &strip);
  ASSERT_EQ(strip.Width(), 48);
  ASSERT_EQ(strip.Height(), 48);
  // An empty icon shows a white square.
  const auto* row = static_cast<const uint8_t*>(strip.ScanLine(10));
  EXPECT_EQ(row[30], 255);
  EXPECT_EQ(row[31], 255);
  EXPECT_EQ(row[32], 255);
}

}  // namespace
