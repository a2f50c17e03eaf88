// Rotation: the shear sizes by their formula with background corners and
// transparent alpha, exact right angles on every path, the mapped 1-bit
// rotation, and the sampling of the antialiased rotation.
#include "imaging/core/ie_proc_rotate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/core/ie_helpers.h"
#include "platform/rtl/rounding.h"
#include "tests/support/test_support.h"

namespace {

std::unique_ptr<TIEBitmap> Painted(int w, int h, uint32_t seed) {
  auto b = std::make_unique<TIEBitmap>(w, h, ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int i = 0; i < w * 3; ++i) {
      seed = seed * 1664525u + 1013904223u;
      b->ScanLine(y)[i] = uint8_t(seed >> 24);
    }
  b->AlphaChannel()->Fill(255);
  return b;
}

std::vector<uint8_t> Rows(TIEBitmap& b) {
  std::vector<uint8_t> out;
  const int n = b.Width() * (b.PixelFormat() == ie24RGB ? 3 : 1);
  for (int y = 0; y < b.Height(); ++y) out.insert(out.end(), b.ScanLine(y), b.ScanLine(y) + n);
  return out;
}

TEST(Rotate, ShearSizesByTheFormulaWithBackgroundCornersAndClearAlpha) {
  for (double angle : {30.0, -30.0, 12.5, 44.0, 120.0, -100.0}) {
    auto b = Painted(20, 11, 3);
    // The quarter turns first, then the three shears of what is left.
    int w = 20, h = 11;
    double theta = int64_t(std::trunc(angle * 1000)) % 360000 / 1000.0;
    while (theta > 45) theta -= 90, std::swap(w, h);
    while (theta < -45) theta += 90, std::swap(w, h);
    const double t = std::fabs(std::tan(theta * M_PI / 360)), s = std::fabs(std::sin(theta * M_PI / 180));
    const int w1 = int(Round(h * t + w + 1)), f = int(Round((w1 - w) * s));
    int h2 = int(Round(s * w1 + h + 1));
    const int m = int(Round(t * (h2 - h - f)));
    h2 -= 2 * f;
    const int w3 = int(Round(t * h2 + w1 + 1 - 2 * m));
    int last = -1;
    b->Rotate(true, 0, nullptr, [&](TObject*, int p) { last = p; }, 0x00FF0000, angle);  // blue
    ASSERT_EQ(b->Width(), w3) << angle;
    ASSERT_EQ(b->Height(), h2) << angle;
    ASSERT_EQ(b->AlphaChannel()->Width(), w3) << angle;
    EXPECT_EQ(last, 100) << angle;
    for (auto [x, y] : {std::pair{0, 0}, {w3 - 1, 0}, {0, h2 - 1}, {w3 - 1, h2 - 1}}) {
      EXPECT_EQ(b->GetPixelRGB(x, y), MakeRGB(0, 0, 255)) << angle << " at " << x << "," << y;
      EXPECT_EQ(b->GetAlpha(x, y), 0) << angle;
    }
    EXPECT_EQ(b->GetAlpha(w3 / 2, h2 / 2), 255) << angle;
  }
}

TEST(Rotate, RightAnglesAreExactOnEveryPath) {
  auto original = Painted(10, 4, 7);
  struct Case {
    bool antiAlias;
    int quality;
    double angle;
  } cases[] = {{true, 0, 90}, {true, 0, 90.0005}, {false, 0, 90}, {true, 2, 90}, {true, 1, -270}};
  for (const Case& c : cases) {
    auto b = Painted(10, 4, 7);
    b->Rotate(c.antiAlias, c.quality, nullptr, nullptr, 0, c.angle);
    ASSERT_EQ(b->Width(), 4) << c.angle;
    ASSERT_EQ(b->Height(), 10) << c.angle;
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 4; ++x) ASSERT_EQ(b->GetPixelRGB(x, y), original->GetPixelRGB(9 - y, x)) << c.angle;
  }
  // The image routines turn pixels only; the alpha channel is TIEBitmap::Rotate's.
  auto b = Painted(30, 30, 9);
  RotateRGBByShears(*b, false, nullptr, nullptr, MakeRGB(0, 0, 0), 10);
  EXPECT_GT(b->Width(), 30);
  EXPECT_FALSE(b->HasAlphaChannel());
}

TEST(Rotate, OneBitPicturesTakeTheMappedRotationAndAWhiteBackgroundOnlyWithoutZeroChannels) {
  for (uint32_t background : {0xFFFFFFu, 0xFFFF00u}) {
    TIEBitmap b(10, 10, ie1g);
    b.Fill(0);
    b.AlphaChannel()->Fill(255);
    b.Rotate(true, 2, nullptr, nullptr, background, 45);
    // Mapped at four decimals: trunc(|10 c| + |10 s|).
    ASSERT_EQ(b.Width(), 14);
    EXPECT_EQ(GetBit(b.ScanLine(0), 0), background == 0xFFFFFF) << background;
    EXPECT_FALSE(GetBit(b.ScanLine(7), 7));
    EXPECT_EQ(b.GetAlpha(0, 0), 0);
    EXPECT_EQ(b.GetAlpha(7, 7), 255);
  }
}

TEST(Rotate, BicubicClampsOvershootsAndBilinearFloorsNearTheEdge) {
  // A hard black-to-white edge: cubic weights undershoot below black beside
  // it; those pixels stay black instead of turning into a grey halo.
  TIEBitmap b(16, 16, ie8g);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) b.SetPixel8(x, y, x < 8 ? 0 : 255);
  TIEBitmap cubic;
  cubic.Assign(&b);
  RotateGrayAntialiased(cubic, 0, 2, 10);
  TIEBitmap above;
  above.Assign(&b);
  RotateGrayAntialiased(above, 0, 7, 10);  // quality above 2 acts as 2
  EXPECT_EQ(Rows(above), Rows(cubic));
  // Frame of 3 taken off again: the size of the grown canvas turned, less 6.
  EXPECT_EQ(cubic.Width(), int(Round(std::sin(10 * M_PI / 180) * 21 + std::cos(10 * M_PI / 180) * 21)) - 6);
  int darkBesideEdge = 0;
  for (int y = 4; y < cubic.Height() - 4; ++y)
    for (int x = 1; x < cubic.Width() / 2; ++x) darkBesideEdge += cubic.GetPixel8(x, y) == 0;
  EXPECT_GT(darkBesideEdge, 10);
  for (int y = 4; y < cubic.Height() - 4; ++y)
    for (int x = 2; x < 6; ++x) ASSERT_LE(cubic.GetPixel8(x, y), 2) << x << "," << y;
  // Bilinear: a white picture stays white inside, the corners take the background.
  TIEBitmap white(12, 12, ie24RGB);
  white.Fill(0xFFFFFF);
  RotateRGBAntialiased(white, 0x000000FF, 1, nullptr, nullptr, 30);
  EXPECT_EQ(white.GetPixelRGB(white.Width() / 2, white.Height() / 2), MakeRGB(255, 255, 255));
  EXPECT_EQ(white.GetPixelRGB(0, 0), MakeRGB(255, 0, 0));
  // Quality 0 does nothing here.
  TIEBitmap same(5, 5, ie8g);
  same.Fill(9);
  RotateGrayAntialiased(same, 0, 0, 30);
  EXPECT_EQ(same.Width(), 5);
}

// Other angles against rotate_oracle.py, which writes the shear, bilinear,
// bicubic and plain rotations out with numpy from their rules.
TEST(RotateOracle, OtherAnglesEqualANumpyTranscription) {
  if (qvtest::RunCommand("/usr/bin/python3 -c 'import numpy' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "numpy is not available";
  enum Kind { kShears, kBilinear, kBicubic, kPlain };
  struct Case {
    Kind kind;
    int w, h;
    double angle;
    uint8_t r, g, b;
    int tolerance;  // the sampled paths sum in another order than numpy
  };
  const Case cases[] = {
      {kShears, 21, 13, 30, 0, 0, 255, 0},       {kShears, 21, 13, -12.5, 10, 200, 30, 0},
      {kShears, 9, 16, 100.25, 255, 255, 255, 0}, {kShears, 16, 16, -44, 0, 0, 0, 0},
      {kBilinear, 17, 11, 30, 0, 0, 255, 1},     {kBilinear, 12, 12, -17, 255, 255, 255, 1},
      {kBicubic, 17, 11, 30, 0, 0, 0, 1},        {kBicubic, 12, 9, 63, 255, 128, 0, 1},
      {kPlain, 17, 11, 30, 0, 255, 0, 0},        {kPlain, 10, 14, -71.5, 0, 0, 0, 0},
  };
  auto put32 = [](std::vector<uint8_t>& v, int32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(uint8_t(uint32_t(x) >> (8 * i)));
  };
  std::vector<uint8_t> input;
  put32(input, int32_t(std::size(cases)));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    for (int v : {int(c.kind), c.w, c.h, int(Round(c.angle * 1000)), int(c.b), int(c.g), int(c.r)}) put32(input, v);
    auto b = Painted(c.w, c.h, uint32_t(i + 11));
    const auto px = Rows(*b);
    input.insert(input.end(), px.begin(), px.end());
  }
  std::vector<uint8_t> want;
  std::string log;
  ASSERT_EQ(qvtest::RunOracleScript(std::string(QV_SOURCE_DIR) + "/tests/imaging/core/rotate_oracle.py", input, want, &log), 0) << log;
  size_t pos = 0;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    auto b = Painted(c.w, c.h, uint32_t(i + 11));
    b->RemoveAlphaChannel();
    const uint32_t color = uint32_t(c.r) | uint32_t(c.g) << 8 | uint32_t(c.b) << 16;
    switch (c.kind) {
      case kShears: RotateRGBByShears(*b, true, nullptr, nullptr, MakeRGB(c.r, c.g, c.b), c.angle); break;
      case kBilinear: RotateRGBAntialiased(*b, color, 1, nullptr, nullptr, c.angle); break;
      case kBicubic: RotateRGBAntialiased(*b, color, 2, nullptr, nullptr, c.angle); break;
      case kPlain: RotateBitmapPlain(*b, color, nullptr, nullptr, c.angle); break;
    }
    ASSERT_LE(pos + 8, want.size());
    int32_t w = 0, h = 0;
    std::memcpy(&w, &want[pos], 4);
    std::memcpy(&h, &want[pos + 4], 4);
    pos += 8;
    ASSERT_EQ(b->Width(), w) << "case " << i;
    ASSERT_EQ(b->Height(), h) << "case " << i;
    const auto got = Rows(*b);
    ASSERT_LE(pos + got.size(), want.size());
    int worst = 0;
    for (size_t k = 0; k < got.size(); ++k) worst = std::max(worst, std::abs(int(got[k]) - int(want[pos + k])));
    EXPECT_LE(worst, c.tolerance) << "case " << i;
    pos += got.size();
  }
}

}  // namespace
