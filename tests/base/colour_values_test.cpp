#include "base/colour_values.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <sstream>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/rounding.h"
#include "test_support.h"

namespace {

TEST(ColourValues, BytesAndRedBlueExchange) {
  uint8_t b[3];
  ColorToRGBBytes(0x00332211, b);
  EXPECT_EQ(b[0], 0x11);
  EXPECT_EQ(b[2], 0x33);
  ColorToBGRBytes(0x00332211, b);
  EXPECT_EQ(b[0], 0x33);
  EXPECT_EQ(b[2], 0x11);
  EXPECT_EQ(SwapRedBlue(0x44332211u), 0x44112233u);
  EXPECT_EQ(ColorToOpaqueARGB(0x000000FFu), 0xFFFF0000u);
  EXPECT_EQ(ColorToOpaqueARGB(0x80000005u), 0xFF050000u) << "system colours are not resolved";
  EXPECT_EQ(ColorLow24(0x7F123456u), 0x00123456u);
  EXPECT_EQ(ClampColorByte(-5), 0);
  EXPECT_EQ(ClampColorByte(256), 255);
  EXPECT_EQ(ClampColorByte(77), 77);
  int32_t lo, hi;
  MaxMin3(5, -2, 9, lo, hi);
  EXPECT_EQ(lo, -2);
  EXPECT_EQ(hi, 9);
}

TEST(ColourValues, HSLWorkedValues) {
  double h, s, l;
  ColorToHSL(h, s, l, 0x0000FF);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(s, 1);
  EXPECT_EQ(l, 0.5);
  ColorToHSL2(0x808080, h, s, l);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(s, 0);
  EXPECT_DOUBLE_EQ(l, 128.0 / 255);
  uint8_t b[3];
  HSLToBytes(b, 1.0 / 3, 1, 0.5);
  EXPECT_EQ(b[0], 0);
  EXPECT_EQ(b[1], 255);
  EXPECT_EQ(b[2], 0);
  uint8_t c[3];
  HSLToBytes(b, 1.2, 0.7, 0.4);
  HSLToBytes(c, 0.2, 0.7, 0.4);
  EXPECT_EQ(std::vector<int>(b, b + 3), std::vector<int>(c, c + 3)) << "a hue of 1.2 is 0.2";
  HSLToBytes(b, 0.5, 3, -1);
  EXPECT_EQ(std::vector<int>(b, b + 3), (std::vector<int>{0, 0, 0})) << "lightness is clamped";
  uint32_t colour = 0xAB000000u;
  HSLToColor(colour, 2.0 / 3, 1, 0.5);
  EXPECT_EQ(colour, 0xABFF0000u) << "blue lands in byte 2; the top byte stays";
  EXPECT_EQ(HueToRGBChannel2(0.1, 1, 0), HueToRGBChannel(0.1, 1, 0));
}

TEST(ColourValues, HSVWorkedValues) {
  int32_t h, s, v;
  ColorToHSV(h, s, v, 0xFFFFFF);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(s, 0);
  EXPECT_EQ(v, 99);
  ColorToHSV(h, s, v, 0xFF0000);
  EXPECT_EQ(h, 240);
  EXPECT_EQ(s, 99);
  EXPECT_EQ(v, 99);
  ColorToHSV(h, s, v, 0x000000);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(s, 0);
  EXPECT_EQ(v, 0);
  ColorToHSV(h, s, v, 0xFF00FF);  // magenta: red is the maximum, hue goes negative and wraps
  EXPECT_EQ(h, 300);
}

std::unique_ptr<TListLongint> LongsPtr(std::initializer_list<int32_t> v) {
  auto l = std::make_unique<TListLongint>();
  for (int32_t x : v) l->Add(x);
  return l;
}
#define Longs(...) (*LongsPtr(__VA_ARGS__))

TEST(ColourValues, GradientWorkedValues) {
  const auto coloursList = LongsPtr({0x0000FF, 0xFF8000});
  const auto positionsList = LongsPtr({0, 255});
  const TListLongint& colours = *coloursList;
  const TListLongint& positions = *positionsList;
  EXPECT_EQ(GradientColorAt(colours, positions, 0), 0x0000FFu);
  EXPECT_EQ(GradientColorAt(colours, positions, 1), 0xFF8000u);
  // t = 128: each byte is b0 + round((b1 - b0) * 128 / 255).
  const uint32_t mid = GradientColorAt(colours, positions, 0.5);
  EXPECT_EQ(mid & 0xFF, static_cast<uint32_t>(255 + Round(-255 * 128 / 255.0)));
  EXPECT_EQ((mid >> 8) & 0xFF, static_cast<uint32_t>(Round(128 * 128 / 255.0)));
  EXPECT_EQ(mid >> 16, static_cast<uint32_t>(Round(255 * 128 / 255.0)));
}

TEST(ColourValues, GradientHonoursTheFirstStopPosition) {
  // Stops at 100, 150 and 200: halfway along the gradient is the middle stop.
  const auto coloursList = LongsPtr({0x000000, 0x0000FF, 0x00FF00});
  const auto positionsList = LongsPtr({100, 150, 200});
  const TListLongint& colours = *coloursList;
  const TListLongint& positions = *positionsList;
  EXPECT_EQ(GradientColorAt(colours, positions, 0.5), 0x0000FFu);
  EXPECT_EQ(GradientColorAt(colours, positions, 0.25), 0x000080u) << "t = 125, halfway to the middle stop";
  // t = 175, halfway between blue and green: 255 - 127.5 and 0 + 127.5 round to even.
  EXPECT_EQ(GradientColorAt(colours, positions, 0.75), 0x00807Fu);
  EXPECT_EQ(GradientColorAt(colours, positions, 0), 0x000000u);
  EXPECT_EQ(GradientColorAt(colours, positions, 1), 0x00FF00u);
}

TEST(ColourValues, GradientWithOneStopOrMissingColours) {
  EXPECT_EQ(GradientColorAt(Longs({0x123456}), Longs({7}), 0.5), 0x123456u);
  EXPECT_THROW(GradientColorAt(Longs({}), Longs({}), 0.5), EListError);
  EXPECT_THROW(GradientColorAt(Longs({1}), Longs({0, 10}), 1), EListError);
}

TEST(ColourNames, Notations) {
  struct {
    const char* text;
    TColor expected;
  } cases[] = {
      {"Default", clDefault},   {"DEFAULT", clDefault},  {"clDefault", clDefault}, {"CLDEFAULT", clDefault},
      {"#00FF80", 0x80FF00},    {"#FF0000", clRed},      {"0x10", 16},             {"0X1f", 31},
      {"$FF0000", clBlue},      {"123", 123},            {"clRed", clRed},         {"red", clRed},
      {"RED", clRed},           {"clBtnFace", clBtnFace}, {"none", clNone},        {"MoneyGreen", clMoneyGreen},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseColorName(c.text), c.expected) << c.text;
}

TEST(ColourNames, BadTextsRaise) {
  try {
    ParseColorName("");
    ADD_FAILURE() << "an empty text must raise";
  } catch (const EConvertError&) {
    ADD_FAILURE() << "an empty text raises the general exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "'''' is not a valid integer value");
  }
  for (const char* text : {"reddish", "clNothing", "#GG0000", "0x", "12ab", "#"})
    EXPECT_THROW(ParseColorName(text), EConvertError) << text;
}

TEST(ColourValues, RGBValueResolvesSystemColours) {
  EXPECT_EQ(ColorToRGBValue(clRed), 0xFF0000u);
  EXPECT_EQ(ColorToRGBValue(clBtnFace), SwapRedBlue(static_cast<uint32_t>(ColorToRGB(clBtnFace))));
  EXPECT_EQ(ColorToRGBValue(clBtnFace) & 0xFF000000u, 0u);
}

// Python's colorsys gives hue, lightness and saturation for a grid of colours;
// ours must agree. Its hls_to_rgb gives the way back.
TEST(ColourValuesOracle, HSLAgreesWithPythonColorsys) {
  if (!qvtest::HaveProgram("/usr/bin/python3")) GTEST_SKIP() << "python3 is not installed";
  std::string out;
  const std::string script =
      "import colorsys\n"
      "for r in range(0, 256, 17):\n"
      "  for g in range(0, 256, 51):\n"
      "    for b in range(3, 256, 36):\n"
      "      h, l, s = colorsys.rgb_to_hls(r / 255, g / 255, b / 255)\n"
      "      x, y, z = colorsys.hls_to_rgb(h, l, s * 0.8)\n"
      "      hv, sv, vv = colorsys.rgb_to_hsv(r / 255, g / 255, b / 255)\n"
      "      print(r, g, b, repr(h), repr(l), repr(s), round(x * 255), round(y * 255), round(z * 255),"
      " repr(hv), repr(sv), repr(vv), repr(x * 255), repr(y * 255), repr(z * 255))\n";
  qvtest::TempDir dir;
  std::ofstream(dir.File("hls.py")) << script;
  ASSERT_EQ(qvtest::RunCommand("/usr/bin/python3 " + dir.File("hls.py"), &out), 0);
  std::istringstream lines(out);
  int rows = 0;
  int r, g, b, x, y, z;
  double h, l, s, hv, sv, vv, rawX, rawY, rawZ;
  // A channel that lands on a half within floating-point noise may round
  // either way; every other one must match exactly.
  const auto expectByte = [](int ours, int theirs, double raw) {
    const bool onHalf = std::fabs(raw - std::floor(raw) - 0.5) < 1e-9;
    return onHalf ? std::abs(ours - theirs) <= 1 : ours == theirs;
  };
  while (lines >> r >> g >> b >> h >> l >> s >> x >> y >> z >> hv >> sv >> vv >> rawX >> rawY >> rawZ) {
    ++rows;
    const uint32_t colour = static_cast<uint32_t>(r | (g << 8) | (b << 16));
    double ourH, ourS, ourL;
    ColorToHSL(ourH, ourS, ourL, colour);
    EXPECT_NEAR(ourH, h, 1e-12) << r << ' ' << g << ' ' << b;
    EXPECT_NEAR(ourS, s, 1e-12) << r << ' ' << g << ' ' << b;
    EXPECT_NEAR(ourL, l, 1e-12) << r << ' ' << g << ' ' << b;
    uint8_t back[3];
    HSLToBytes(back, h, s * 0.8, l);
    EXPECT_TRUE(expectByte(back[0], x, rawX)) << r << ' ' << g << ' ' << b << ": " << int(back[0]) << " vs " << rawX;
    EXPECT_TRUE(expectByte(back[1], y, rawY)) << r << ' ' << g << ' ' << b << ": " << int(back[1]) << " vs " << rawY;
    EXPECT_TRUE(expectByte(back[2], z, rawZ)) << r << ' ' << g << ' ' << b << ": " << int(back[2]) << " vs " << rawZ;
    // HSV works on channels quantised to 0..99 with integer steps, so it agrees
    // within the quantisation.
    int32_t hi, si, vi;
    ColorToHSV(hi, si, vi, colour);
    EXPECT_NEAR(vi, vv * 99, 0.5 + 1e-9);
    if (std::max({r, g, b}) - std::min({r, g, b}) >= 100) {
      EXPECT_NEAR(si, sv * 99, 2.5) << r << ' ' << g << ' ' << b;
      const double dh = std::fabs(hi - hv * 360);
      EXPECT_LE(std::min(dh, 360 - dh), 3.0) << r << ' ' << g << ' ' << b;
    }
  }
  EXPECT_EQ(rows, 16 * 6 * 8);
}

}  // namespace
