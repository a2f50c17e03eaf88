#include "base/toolbox/median_cut.h"

#include <gtest/gtest.h>

#include <array>
#include <set>

namespace {

TPixelBuffer Picture(const std::vector<std::array<uint8_t, 3>>& rgb, int w, int h) {
  TPixelBuffer b(w, h, 3);
  for (int i = 0; i < w * h; ++i) {
    const auto& c = rgb[i % rgb.size()];
    b.Bytes[i * 3] = c[2], b.Bytes[i * 3 + 1] = c[1], b.Bytes[i * 3 + 2] = c[0];
  }
  return b;
}

TEST(MedianCutQuantize, BoxesFollowOccupiedCells) {
  struct Case {
    std::vector<std::array<uint8_t, 3>> colours;
    int boxes;
  } cases[] = {
      {{{200, 10, 90}}, 1},
      {{{0, 0, 0}, {16, 0, 0}}, 2},            // cells 0 and 2: extent 2 splits
      {{{0, 0, 0}, {8, 0, 0}}, 1},             // neighbouring cells share a box
      {{{64, 64, 64}, {71, 70, 69}}, 1},       // same cell: low three bits differ only
      {{{0, 0, 0}, {255, 255, 255}, {0, 255, 0}}, 3},
  };
  for (int mode : {1, 2})
    for (const auto& c : cases) {
      TPixelBuffer src = Picture(c.colours, 6, 4), dst(6, 4, 1, 99);
      RGBQUAD table[256] = {};
      EXPECT_EQ(MedianCutQuantize(src.Rows(), dst.Rows(), table, mode, 256), c.boxes);
      std::set<int> used(dst.Bytes.begin(), dst.Bytes.end());
      EXPECT_EQ(static_cast<int>(used.size()), c.boxes) << "mode " << mode;
      // Same colour, same index; pixels of different boxes differ.
      for (int i = 0; i < 24; ++i)
        for (int j = 0; j < 24; ++j)
          if (src.Bytes[i * 3] == src.Bytes[j * 3] && src.Bytes[i * 3 + 1] == src.Bytes[j * 3 + 1] &&
              src.Bytes[i * 3 + 2] == src.Bytes[j * 3 + 2]) {
            EXPECT_EQ(dst.Bytes[i], dst.Bytes[j]);
          }
    }
}

TEST(MedianCutQuantize, PaletteIsTheBoxMiddle) {
  TPixelBuffer src = Picture({{200, 10, 90}}, 2, 2), dst(2, 2, 1);
  RGBQUAD table[256];
  table[1] = RGBQUAD{1, 2, 3, 4};
  MedianCutQuantize(src.Rows(), dst.Rows(), table, 1, 256);
  EXPECT_EQ(table[0].rgbRed, 200 / 8 * 8);
  EXPECT_EQ(table[0].rgbGreen, 8);
  EXPECT_EQ(table[0].rgbBlue, 88);
  EXPECT_EQ(table[1].rgbBlue, 1);  // beyond the boxes: untouched
  // Reds 32 and 40 lie in cells 4 and 5, an extent of 1 that is never split:
  // the one box's middle is (4 + 5) x 4 = 36.
  TPixelBuffer two = Picture({{32, 0, 0}, {40, 0, 0}}, 2, 1), out(2, 1, 1);
  EXPECT_EQ(MedianCutQuantize(two.Rows(), out.Rows(), table, 1, 256), 1);
  EXPECT_EQ(table[0].rgbRed, 36);
}

TEST(MedianCutQuantize, ColourCountLimitsBoxes) {
  std::vector<std::array<uint8_t, 3>> ramp;
  for (int i = 0; i < 64; ++i) ramp.push_back({uint8_t(i * 4), uint8_t(255 - i * 4), uint8_t(i * 2)});
  TPixelBuffer src = Picture(ramp, 64, 1), dst(64, 1, 1);
  RGBQUAD table[256] = {};
  EXPECT_EQ(MedianCutQuantize(src.Rows(), dst.Rows(), table, 2, 5), 5);
  for (uint8_t i : dst.Bytes) EXPECT_LT(i, 5);
}

TEST(GrayQuantize, AverageAndRamp) {
  TPixelBuffer src = Picture({{30, 60, 91}}, 1, 1), dst(1, 1, 1);
  RGBQUAD table[256];
  GrayQuantize(src.Rows(), dst.Rows(), table);
  EXPECT_EQ(dst.Bytes[0], 60);
  EXPECT_EQ(table[77].rgbGreen, 77);
}

}  // namespace
