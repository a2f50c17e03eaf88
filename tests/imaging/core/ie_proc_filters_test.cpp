// The area sharpener against a numpy account of its rule, its edge cases, and
// the 3x3 grey kernel filter with its presets.
#include "imaging/core/ie_proc_filters.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

std::unique_ptr<TIEBitmap> Noise(int w, int h, uint32_t seed, TIEBitmapFormat f = ie24RGB) {
  auto b = std::make_unique<TIEBitmap>(w, h, f);
  const int bytes = f == ie24RGB ? 3 : 1;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w * bytes; ++x) {
      seed = seed * 1664525u + 1013904223u;
      // Smooth ramps with some hard noise, so means and clamping both matter.
      b->ScanLine(y)[x] = uint8_t((seed >> 28) < 4 ? (seed >> 20) : (x * 9 + y * 5));
    }
  return b;
}

std::vector<uint8_t> Pixels(TIEBitmap& b) {
  std::vector<uint8_t> out;
  const int n = b.Width() * (b.PixelFormat() == ie24RGB ? 3 : 1);
  for (int y = 0; y < b.Height(); ++y) out.insert(out.end(), b.ScanLine(y), b.ScanLine(y) + n);
  return out;
}

void Put32(std::vector<uint8_t>& v, int32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(uint8_t(uint32_t(x) >> (8 * i)));
}

TEST(SharpenAreaOracle, MatchesNumpyOnIconSizesAndPartialRectangles) {
  if (qvtest::RunCommand("/usr/bin/python3 -c 'import numpy' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "numpy is not available";
  struct Case {
    int w, h, size, amount, x1, y1, x2, y2;
  };
  const Case cases[] = {
      {48, 48, 4, 12, 0, 0, 48, 48}, {32, 32, 4, 30, 0, 0, 32, 32}, {16, 16, 4, 48, 0, 0, 16, 16},
      {16, 16, 4, 10, 0, 0, 16, 16}, {9, 7, 3, 25, 0, 0, 9, 7},     {12, 10, 5, -8, 2, 3, 9, 8},
      {20, 6, 4, 20, 0, 0, 99, 99},  {1, 9, 4, 20, 0, 0, 1, 9},     {9, 1, 4, 20, 0, 0, 9, 1},
      {2, 2, 4, 40, 0, 0, 2, 2},
  };
  std::vector<uint8_t> input;
  Put32(input, int32_t(std::size(cases)));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    for (int v : {c.w, c.h, c.size, c.amount, c.x1, c.y1, c.x2, c.y2}) Put32(input, v);
    auto b = Noise(c.w, c.h, uint32_t(i + 1));
    const auto px = Pixels(*b);
    input.insert(input.end(), px.begin(), px.end());
  }
  std::vector<uint8_t> want;
  std::string log;
  ASSERT_EQ(qvtest::RunOracleScript(std::string(QV_SOURCE_DIR) + "/tests/imaging/core/sharpen_oracle.py", input, want, &log), 0) << log;
  size_t pos = 0;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    auto b = Noise(c.w, c.h, uint32_t(i + 1));
    SharpenArea(*b, c.x1, c.y1, nullptr, nullptr, c.size, c.amount, c.y2, c.x2);
    const auto got = Pixels(*b);
    ASSERT_LE(pos + got.size(), want.size());
    EXPECT_EQ(got, std::vector<uint8_t>(want.begin() + int64_t(pos), want.begin() + int64_t(pos + got.size())))
        << "case " << i;
    pos += got.size();
  }
}

TEST(SharpenArea, AmountZeroThinImagesAndOtherFormatsStayUnchanged) {
  struct Case {
    int w, h, amount;
    TIEBitmapFormat format;
  } cases[] = {{8, 8, 0, ie24RGB}, {7, 1, 40, ie24RGB}, {1, 7, 40, ie24RGB}, {8, 8, 40, ie8g}};
  for (const Case& c : cases) {
    auto b = Noise(c.w, c.h, 7, c.format);
    const auto before = Pixels(*b);
    SharpenArea(*b, 0, 0, nullptr, nullptr, 4, c.amount, c.h, c.w);
    EXPECT_EQ(Pixels(*b), before) << c.w << "x" << c.h << " amount " << c.amount;
  }
}

TEST(SharpenArea, AmountTenGivesTwicePMinusMeanAndProgressStaysBelowHundred) {
  // A dark dot in a flat field: the dot's box is all 100, so 2*20 - 100 < 0.
  TIEBitmap b(5, 5, ie24RGB);
  b.Fill(0x646464);
  b.SetPixelRGB(2, 2, MakeRGB(20, 20, 20));
  std::vector<int> percents;
  SharpenArea(b, 0, 0, nullptr, [&](TObject*, int p) { percents.push_back(p); }, 4, 10, 5, 5);
  EXPECT_EQ(b.GetPixelRGB(2, 2), MakeRGB(0, 0, 0));
  // (2,0): columns 0..3 of rows 1 and 2 hold the dot: mean (7*100+20)/8 = 90.
  EXPECT_EQ(b.GetPixelRGB(2, 0).r, 2 * 100 - 90);
  ASSERT_EQ(percents.size(), 5u);
  EXPECT_EQ(percents.back(), 90);  // trunc(5 * 100 / 5.5)
}

TEST(Kernel3x3Gray, PresetsEdgesOnFlatGreyAndArgumentOrder) {
  InitFilterPresets();
  ASSERT_EQ(FilterPresetCount(), 9);
  EXPECT_EQ(GetFilterPresetName(2), "Edges");
  EXPECT_EQ(GetFilterPresetName(8), "Low Pass 2");
  EXPECT_EQ(GetFilterPresetName(9), "");

  TIEBitmap flat(6, 5, ie8g);
  flat.Fill(120);
  ApplyKernel3x3Gray(flat, GetFilterPreset(2), 0, 5, 6, 0);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) ASSERT_EQ(flat.GetPixel8(x, y), 0);

  auto noise = Noise(6, 5, 3, ie8g);
  const auto before = Pixels(*noise);
  ApplyKernel3x3Gray(*noise, GetFilterPreset(0), 0, 5, 6, 0);
  EXPECT_EQ(Pixels(*noise), before);

  // (x1, y2, x2, y1) = (1, 3, 4, 2): only row 2, columns 1..3 change.
  TIEBitmap step(6, 5, ie8g);
  step.Fill(10);
  ApplyKernel3x3Gray(step, GetFilterPreset(2), 1, 3, 4, 2);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x)
      ASSERT_EQ(step.GetPixel8(x, y), (y == 2 && x >= 1 && x <= 3) ? 0 : 10) << x << "," << y;

  // Emboss on a falling step sums to -3 * 200: taken absolute, then capped.
  TIEBitmap edge(3, 1, ie8g);
  edge.SetPixel8(0, 0, 200);
  edge.SetPixel8(1, 0, 0);
  edge.SetPixel8(2, 0, 0);
  ApplyKernel3x3Gray(edge, GetFilterPreset(3), 1, 1, 2, 0);
  EXPECT_EQ(edge.GetPixel8(1, 0), 255);  // |-600| capped
}

}  // namespace
