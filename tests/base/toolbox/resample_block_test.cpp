#include <gtest/gtest.h>

#include "base/toolbox/pixel_rows.h"
#include "base/toolbox/resample_core.h"

namespace {

TPixelBuffer Uniform(int w, int h, uint32_t pixel) {
  TPixelBuffer b(w, h, 4);
  for (int i = 0; i < w * h; ++i) b.Pixels32()[i] = pixel;
  return b;
}

TEST(BorderAlphaAverages, StripsAndRefusals) {
  TPixelBuffer b = Uniform(64, 8, 0xFF000000);
  // k = 64 div 32 = 2: the left strip is columns 0..2.
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 3; ++x) b.Pixels32()[y * 64 + x] = 0x40000000;
  uint8_t l = 1, t = 1, r = 1, bo = 1;
  ASSERT_TRUE(BorderAlphaAverages(b.Rows(), l, t, r, bo));
  EXPECT_EQ(l, 0x40);
  EXPECT_EQ(r, 255);
  EXPECT_EQ(t, (3 * (61 * 255 + 3 * 0x40)) / (3 * 64));
  TPixelBuffer narrow = Uniform(3, 8, 0), thin = Uniform(164, 4, 0);
  l = 7;
  EXPECT_FALSE(BorderAlphaAverages(narrow.Rows(), l, t, r, bo));
  EXPECT_FALSE(BorderAlphaAverages(thin.Rows(), l, t, r, bo));  // 164 div 4 = 41 > 40
  EXPECT_EQ(l, 7);
}

TEST(ResampleBlock32, HalfTransparentBorderFadesOut) {
  TPixelBuffer src = Uniform(8, 8, 0x80204060);
  TPixelBuffer big(16, 16, 4);
  ResampleBlock32(src.Rows(), big.Rows(), irfBell);
  EXPECT_LT(big.Pixels32()[0] >> 24, 0x80u);             // corner fades toward the frame
  EXPECT_EQ(big.Pixels32()[0] & 0xFFFFFF, 0x204060u);    // without taking the frame's colour
  EXPECT_EQ(big.Pixels32()[8 * 16 + 8] >> 24, 0x80u);    // the middle keeps its alpha
  TPixelBuffer small(3, 3, 4);
  ResampleBlock32(src.Rows(), small.Rows(), irfBell);   // 3 x 3 never takes the frame
  for (int i = 0; i < 9; ++i) EXPECT_EQ(small.Pixels32()[i], 0x80204060u);
}

TEST(ResampleBlock32, OpaqueOrEmptyBordersAreMirrored) {
  for (uint32_t border : {0xFF102030u, 0x00000000u}) {
    TPixelBuffer src = Uniform(8, 8, border);
    for (int y = 2; y < 6; ++y)
      for (int x = 2; x < 6; ++x) src.Pixels32()[y * 8 + x] = 0xFF102030;
    TPixelBuffer big(16, 16, 4);
    ResampleBlock32(src.Rows(), big.Rows(), irfBell);
    EXPECT_EQ(big.Pixels32()[0] >> 24, border >> 24);
  }
}

TEST(ClearTransparentWhiteRows, OnlyExactTransparentWhite) {
  TPixelBuffer b(4, 1, 4);
  const uint32_t px[4] = {0x00FFFFFF, 0x01FFFFFF, 0x00FFFFFE, 0xFFFFFFFF};
  std::copy(px, px + 4, b.Pixels32());
  ClearTransparentWhiteRows(b.Rows());
  EXPECT_EQ(b.Pixels32()[0], 0u);
  for (int i = 1; i < 4; ++i) EXPECT_EQ(b.Pixels32()[i], px[i]);
}

}  // namespace
