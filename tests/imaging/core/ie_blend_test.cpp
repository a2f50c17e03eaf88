// Blend modes: the edge cases of the integer formulas, the modes that mix
// channels, the row-interleaving stereo modes, the modes through the zoomed
// drawing, and the common modes beside ImageMagick's composition.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "imaging/core/ie_blend.h"
#include "imaging/core/ie_render.h"
#include "imaging/core/ie_startup.h"
#include "test_support.h"

namespace {

TRGB Grey(uint8_t v) { return TRGB{v, v, v}; }

TRGB Blend(TRGB s, TRGB d, TIEBlendMode mode, int row = 0) {
  BlendPixelByMode(s, d, mode, row);
  return d;
}

uint8_t Channel(int s, int d, TIEBlendMode mode) { return Blend(Grey(uint8_t(s)), Grey(uint8_t(d)), mode).g; }

struct ChannelCase {
  TIEBlendMode mode;
  int s, d, expected;
};

TEST(BlendPixelByMode, IntegerFormulasAtTheirEdges) {
  const ChannelCase cases[] = {
      {iebmNormal, 10, 200, 10},
      {iebmAdd, 200, 100, 255},
      {iebmDifference, 10, 200, 190},
      {iebmDivide, 0, 200, 200},   // s taken as 1
      {iebmDivide, 3, 200, 66},
      {iebmMultiply, 255, 255, 254},  // a shift by 8, not a division by 255
      {iebmOr, 0x0F, 0xF0, 0xFF},
      {iebmAnd, 0x3C, 0xF0, 0x30},
      {iebmXor, 0xFF, 0x0F, 0xF0},
      {iebmLighten, 10, 200, 200},
      {iebmDarken, 10, 200, 10},
      {iebmAverage, 255, 0, 127},
      {iebmScreen, 128, 128, 191},  // 191.75 truncated
      {iebmNegation, 200, 200, 110},
      {iebmExclusion, 255, 255, 2},  // 510 - 508
      {iebmOverlay, 200, 100, 156},  // d < 128: s x d shr 7
      {iebmOverlay, 200, 200, 232},  // 255 - (55 x 55 shr 7)
      {iebmHardLight, 100, 200, 156},
      {iebmSoftLightAlt, 255, 255, 254},
      {iebmColorDodge, 255, 3, 255},
      {iebmColorDodge, 128, 100, 201},
      {iebmColorBurn, 0, 200, 0},
      {iebmColorBurn, 128, 100, 0},
      {iebmInverseColorDodge, 3, 255, 255},
      {iebmInverseColorBurn, 200, 0, 0},
      {iebmSoftDodge, 100, 100, 82},   // s + d < 256: d x 128 div (255 - s)
      {iebmSoftDodge, 200, 200, 220},  // else 255 - (55 shl 7) div d
      {iebmSoftBurn, 100, 100, 82},
      {iebmReflect, 255, 0, 255},
      {iebmReflect, 155, 100, 100},
      {iebmGlow, 100, 155, 100},
      {iebmFreeze, 0, 100, 0},
      {iebmFreeze, 200, 155, 205},
      {iebmHeat, 155, 200, 205},
      {iebmSubtractive, 100, 100, 0},
      {iebmSubtractive, 200, 200, 144},
      {iebmStamp, 200, 100, 244},
      {iebmStamp, 10, 10, 0},
  };
  for (const ChannelCase& c : cases) EXPECT_EQ(Channel(c.s, c.d, c.mode), c.expected) << int(c.mode) << " " << c.s;
}

TEST(BlendPixelByMode, SoftLightUsesEachChannelsOwnSource) {
  const TRGB r = Blend(MakeRGB(255, 0, 0), Grey(128), iebmSoftLight);
  EXPECT_GT(r.r, 128);
  EXPECT_LT(r.g, 128);
  EXPECT_LT(r.b, 128);
  // a = 1, b = 128 / 255: sqrt(b) + 0, truncated.
  EXPECT_EQ(r.r, int(std::sqrt(128 / 255.0) * 255));
}

TEST(BlendPixelByMode, InterpolationReadsTheCosineTable) {
  LibraryStaticInit();
  auto t = [](int i) { return int(std::nearbyint(64 - 64 * std::cos(i * M_PI / 255))); };
  for (auto [s, d] : {std::pair{0, 0}, {255, 255}, {100, 200}, {255, 0}})
    EXPECT_EQ(Channel(s, d, iebmInterpolation), std::min(255, t(s) + t(d))) << s << "," << d;
  LibraryStaticDone();
}

TEST(BlendPixelByMode, ChannelPickingAndStereoModes) {
  const TRGB s = MakeRGB(10, 20, 30), d = MakeRGB(200, 150, 100);
  EXPECT_EQ(Blend(s, d, iebmRedOnly), MakeRGB(10, 150, 100));
  EXPECT_EQ(Blend(s, d, iebmGreenOnly), MakeRGB(200, 20, 100));
  EXPECT_EQ(Blend(s, d, iebmBlueOnly), MakeRGB(200, 150, 30));
  EXPECT_EQ(Blend(s, d, iebmStereoColor), MakeRGB(200, 20, 30));
  // Grey by 21, 71, 8 per cent.
  EXPECT_EQ(Blend(s, d, iebmStereoGray), MakeRGB((200 * 21 + 150 * 71 + 100 * 8) / 100, (10 * 21 + 20 * 71 + 30 * 8) / 100,
                                                 (10 * 21 + 20 * 71 + 30 * 8) / 100));
  EXPECT_EQ(Blend(s, d, iebmStereoEven, 3), d);
  EXPECT_EQ(Blend(s, d, iebmStereoEven, 4), s);
  EXPECT_EQ(Blend(s, d, iebmStereoOdd, 4), d);
  EXPECT_EQ(Blend(s, d, iebmStereoOdd, 3), s);
  // Dubois: white left and black right give the left eye's red row sum.
  const TRGB anaglyph = Blend(Grey(0), Grey(255), iebmStereoDubois);
  EXPECT_EQ(anaglyph.r, 255);  // 1.13 x 255, clamped
  EXPECT_EQ(anaglyph.g, 0);    // negative, clamped
  EXPECT_EQ(anaglyph.b, 0);
  const TRGB right = Blend(Grey(100), Grey(0), iebmStereoDubois);
  EXPECT_EQ(right.r, 0);
  EXPECT_EQ(right.g, 109);  // (0.378476 + 0.73364 - 0.0184503) x 100
  EXPECT_EQ(right.b, 104);  // (-0.0721527 - 0.112961 + 1.2264) x 100
  for (int mode : {44, 100, 255}) EXPECT_EQ(Blend(s, d, TIEBlendMode(mode)), d) << mode;
}

TEST(BlendPixelByMode, ColourModesKeepTheRightParts) {
  // Luminosity of white onto any colour is white; of black, black.
  EXPECT_EQ(Blend(Grey(255), MakeRGB(200, 20, 20), iebmLuminosity), Grey(255));
  EXPECT_EQ(Blend(Grey(0), MakeRGB(200, 20, 20), iebmLuminosity), Grey(0));
  // A grey source has no hue or saturation to give: colour turns the destination grey.
  const TRGB c = Blend(Grey(90), MakeRGB(200, 20, 20), iebmColor);
  EXPECT_EQ(c.r, c.g);
  EXPECT_EQ(c.g, c.b);
  // Hue of pure blue onto red keeps red's saturation and lightness.
  EXPECT_EQ(Blend(MakeRGB(0, 0, 255), MakeRGB(255, 0, 0), iebmHue), MakeRGB(0, 0, 255));
  const TRGB unsaturated = Blend(Grey(128), MakeRGB(255, 0, 0), iebmSaturation);
  EXPECT_EQ(unsaturated.r, unsaturated.g);
  EXPECT_EQ(unsaturated.g, unsaturated.b);
  // Y of the source with Cb and Cr of the destination: white's Y on a grey stays near white.
  const TRGB y = Blend(MakeRGB(255, 255, 255), Grey(20), iebmLuminosityYCbCr);
  EXPECT_NEAR(y.r, 255, 2);
  EXPECT_NEAR(y.g, 255, 2);
  EXPECT_NEAR(y.b, 255, 2);
  // A colour keeps its chroma when only its brightness comes from the source.
  const TRGB red = Blend(Grey(50), MakeRGB(200, 30, 30), iebmLuminosityYCbCr);
  EXPECT_GT(red.r, red.g + 100);
}

TEST(BlendThroughRenderer, ModesMixWithTheTargetThenOpacityWeighs) {
  TIEBitmap src(2, 2, ie24RGB);
  src.Fill(0x808080);
  TIEBitmap dst(4, 4, ie24RGB);
  dst.Fill(0xC8C8C8);  // 200
  src.RenderToTIEBitmapEx(dst, nullptr, nullptr, nullptr, nullptr, 0, 0, 4, 4, 0, 0, 2, 2, true, false, 255, rfNone,
                          true, iebmMultiply);
  EXPECT_EQ(dst.GetPixelRGB(3, 3), Grey(100));  // 128 x 200 shr 8
  dst.Fill(0xC8C8C8);
  src.RenderToTIEBitmapEx(dst, nullptr, nullptr, nullptr, nullptr, 0, 0, 4, 4, 0, 0, 2, 2, true, true, 128, rfNone,
                          true, iebmMultiply);
  EXPECT_EQ(dst.GetPixelRGB(1, 2), Grey(200 - 50));  // 200 + (100 - 200) x 128 / 256
  // Interleaving modes see the destination row, also with row reuse asked for.
  dst.Fill(0);
  src.RenderToTIEBitmapEx(dst, nullptr, nullptr, nullptr, nullptr, 0, 0, 4, 4, 0, 0, 2, 2, true, true, 255, rfNone,
                          true, iebmStereoOdd);
  for (int y = 0; y < 4; ++y) EXPECT_EQ(dst.GetPixelRGB(0, y), Grey(y % 2 ? 128 : 0)) << y;
  // Grey sources take no blend mode: they are copied.
  TIEBitmap grey(2, 2, ie8g);
  grey.Fill(128);
  dst.Fill(0xC8C8C8);
  grey.RenderToTIEBitmapEx(dst, nullptr, nullptr, nullptr, nullptr, 0, 0, 4, 4, 0, 0, 2, 2, true, false, 255, rfNone,
                           true, iebmMultiply);
  EXPECT_EQ(dst.GetPixelRGB(0, 0), Grey(128));
}

// s runs along x and d along y over 0..255; ImageMagick composes the source
// over the destination with each operator, and we stay within a few levels.
TEST(BlendOracle, CommonModesMatchImageMagickCompose) {
  if (!qvtest::HaveProgram("convert")) GTEST_SKIP() << "ImageMagick is not available";
  qvtest::TempDir dir;
  const int n = 52;  // steps of 5
  std::vector<uint8_t> src(size_t(n) * n * 3), dst(src.size());
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      uint8_t* s = &src[size_t(y * n + x) * 3];
      uint8_t* d = &dst[size_t(y * n + x) * 3];
      s[0] = uint8_t(x * 5), s[1] = uint8_t(255 - x * 5), s[2] = uint8_t((x * 37) % 256);  // r, g, b
      d[0] = uint8_t(y * 5), d[1] = uint8_t((y * 53) % 256), d[2] = uint8_t(255 - y * 5);
    }
  qvtest::WriteFileBytes(dir.File("s.rgb"), src);
  qvtest::WriteFileBytes(dir.File("d.rgb"), dst);
  const std::string size = std::to_string(n) + "x" + std::to_string(n);
  struct Case {
    TIEBlendMode mode;
    const char* magick;
    int tolerance;
  } cases[] = {{iebmMultiply, "Multiply", 2}, {iebmScreen, "Screen", 1},   {iebmDifference, "Difference", 0},
               {iebmLighten, "Lighten", 0},   {iebmDarken, "Darken", 0},   {iebmOverlay, "Overlay", 3}};
  for (const Case& c : cases) {
    const std::string out = dir.File(std::string(c.magick) + ".rgb");
    ASSERT_EQ(qvtest::RunCommand("/usr/bin/convert -size " + size + " -depth 8 rgb:" + dir.File("d.rgb") +
                                 " -size " + size + " -depth 8 rgb:" + dir.File("s.rgb") + " -compose " + c.magick +
                                 " -composite -depth 8 rgb:" + out + " 2>/dev/null"),
              0)
        << c.magick;
    const std::vector<uint8_t> theirs = qvtest::ReadFileBytes(out);
    ASSERT_EQ(theirs.size(), src.size()) << c.magick;
    int worst = 0;
    for (size_t i = 0; i < src.size(); i += 3) {
      const TRGB ours = Blend(MakeRGB(src[i], src[i + 1], src[i + 2]), MakeRGB(dst[i], dst[i + 1], dst[i + 2]), c.mode);
      worst = std::max({worst, std::abs(ours.r - theirs[i]), std::abs(ours.g - theirs[i + 1]),
                        std::abs(ours.b - theirs[i + 2])});
    }
    EXPECT_LE(worst, c.tolerance) << c.magick;
  }
}

}  // namespace
