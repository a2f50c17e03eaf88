#include "base/toolbox/shadow_core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "platform/rtl/rounding.h"

namespace {

TEST(ShadowKernelWeight, TablesAndFormula) {
  EXPECT_EQ(ShadowKernelWeight(0, 200, 0, 0), 255);
  EXPECT_EQ(ShadowKernelWeight(0, 200, 1, 0), 0);
  EXPECT_EQ(ShadowKernelWeight(1, 200, 0, 0), 95);
  EXPECT_EQ(ShadowKernelWeight(1, 200, -1, -1), 0);
  EXPECT_EQ(ShadowKernelWeight(2, 200, 2, 0), 0);  // radius 2 has a 3 x 3 table
  EXPECT_EQ(ShadowKernelWeight(3, 200, 0, 0), 28);
  EXPECT_EQ(ShadowKernelWeight(4, 200, -3, 0), 3);
  EXPECT_EQ(ShadowKernelWeight(5, 200, 0, 4), 2);
  // r = 6, strength 240: k = 40; distance 0 -> 40, distance 2 -> 10, outside the circle 0.
  EXPECT_EQ(ShadowKernelWeight(6, 240, 0, 0), 40);
  EXPECT_EQ(ShadowKernelWeight(6, 240, 2, 0), 10);
  EXPECT_EQ(ShadowKernelWeight(6, 240, 5, 5), 0);
  // Large radii stay defined: (k x 2^s) div 2^r for r = 40 is k >> round(d).
  EXPECT_EQ(ShadowKernelWeight(40, 255, 0, 0), 6);
  EXPECT_EQ(ShadowKernelWeight(40, 255, 3, 0), 0);
}

TEST(SpreadShadow, HardShadowIsOffsetAndCapped) {
  TPixelBuffer src(6, 6, 4), dst(6, 6, 4);
  src.Pixels32()[1 * 6 + 1] = 0xFF102030;
  src.Pixels32()[4 * 6 + 4] = 0xFF102030;  // its shadow falls outside and is dropped
  SpreadShadow(src.Rows(), dst.Rows(), 0, 2, 2, 150, 0x000000FF);
  EXPECT_EQ(dst.Pixels32()[3 * 6 + 3], 0x960000FFu);  // alpha 150 = strength
  int shadowPixels = 0;
  for (int i = 0; i < 36; ++i) shadowPixels += (dst.Pixels32()[i] >> 24) != 0;
  EXPECT_EQ(shadowPixels, 1);
  CompositeShadowUnder(src.Rows(), dst.Rows());
  EXPECT_EQ(dst.Pixels32()[1 * 6 + 1], 0xFF102030u);
}

TEST(SpreadShadow, OverlapsAddOneAndNeverPassStrength) {
  // Radius 1, strength 100: a centre weight 95 gives round(95 x 100 x 255 / 65025) = 37;
  // the side weight 63 gives 25.
  TPixelBuffer src(3, 1, 4), dst(3, 1, 4);
  src.Pixels32()[0] = 0xFF000000;
  src.Pixels32()[1] = 0xFF000000;
  SpreadShadow(src.Rows(), dst.Rows(), 1, 0, 0, 100, 0);
  // Pixel 1: from pixel 0 (side 25), then pixel 1 (centre 37 + 25 + 1).
  EXPECT_EQ(dst.Pixels32()[1] >> 24, 63u);
  // Pixel 0: centre 37, then side 25 + 37 + 1 = 63.
  EXPECT_EQ(dst.Pixels32()[0] >> 24, 63u);
  TPixelBuffer many(3, 3, 4), out(3, 3, 4);
  for (int i = 0; i < 9; ++i) many.Pixels32()[i] = 0xFF000000;
  SpreadShadow(many.Rows(), out.Rows(), 1, 0, 0, 100, 0);
  for (int i = 0; i < 9; ++i) EXPECT_LE(out.Pixels32()[i] >> 24, 100u);
  EXPECT_EQ(out.Pixels32()[4] >> 24, 100u);
}

// The spread written out cell by cell, as the shadow is defined.
void NaiveSpread(TPixelBuffer& src, TPixelBuffer& dst, int radius, int xOffset, int yOffset, int strength) {
  const int w = src.Rows().Width, h = src.Rows().Height;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t a = src.Pixels32()[y * w + x] >> 24;
      if (a == 0) continue;
      for (int xx = x - radius; xx <= x + radius; ++xx) {
        const int tx = xx + xOffset;
        if (tx < 0 || tx >= w) continue;
        for (int yy = y - radius; yy <= y + radius; ++yy) {
          const int ty = yy + yOffset;
          if (ty < 0 || ty >= h) continue;
          const int weight = ShadowKernelWeight(radius, strength, xx - x, yy - y);
          const int v = static_cast<int>(Round(static_cast<double>(weight) * strength * a / 65025.0));
          uint32_t& t = dst.Pixels32()[ty * w + tx];
          const int e = static_cast<int>(t >> 24);
          t = static_cast<uint32_t>(std::min(v + e + (e > 0 ? 1 : 0), strength)) << 24;
        }
      }
    }
}

TEST(SpreadShadow, MatchesTheCellByCellSpread) {
  // Alphas vary pixel to pixel; radii cover the tables, the formula and a
  // reach beyond the picture; offsets push the shadow partly out.
  struct Case {
    int radius, dx, dy, strength;
  } cases[] = {{0, 1, 1, 200}, {2, -1, 0, 120}, {5, 0, 3, 255}, {7, 2, -2, 180}, {20, -5, 4, 255}, {3, 30, 0, 90}};
  TPixelBuffer src(13, 9, 4);
  uint32_t seed = 12345;
  for (int i = 0; i < 13 * 9; ++i) {
    seed = seed * 1103515245u + 12345u;
    const uint32_t a = (seed >> 16) % 3 == 0 ? 0 : (seed >> 8) & 0xFF;
    src.Pixels32()[i] = a << 24;
  }
  for (const Case& c : cases) {
    TPixelBuffer fast(13, 9, 4), slow(13, 9, 4);
    SpreadShadow(src.Rows(), fast.Rows(), c.radius, c.dx, c.dy, c.strength, 0);
    NaiveSpread(src, slow, c.radius, c.dx, c.dy, c.strength);
    for (int i = 0; i < 13 * 9; ++i)
      ASSERT_EQ(fast.Pixels32()[i], slow.Pixels32()[i]) << "radius " << c.radius << " pixel " << i;
  }
}

TEST(SpreadShadow, HugeRadiusOrOffsetOnlyTouchesThePicture) {
  TPixelBuffer src(4, 4, 4), dst(4, 4, 4), far(4, 4, 4);
  src.Pixels32()[5] = 0xFF000000;
  // A radius of a billion reaches every pixel of a small picture at once; its
  // weights (strength / radius) are all 0, so nothing shows.
  SpreadShadow(src.Rows(), dst.Rows(), 1000000000, 0, 0, 255, 0);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(dst.Pixels32()[i] >> 24, 0u) << i;
  SpreadShadow(src.Rows(), far.Rows(), 3, 2000000000, -2000000000, 255, 0);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(far.Pixels32()[i], 0u) << i;
}

TEST(CombineBlackWhiteBlocks, CoverageGivesAlpha) {
  TPixelBuffer black(16, 8, 3, 0), white(16, 8, 3, 255), out(2, 1, 4);
  // Left block: the upper half drawn in one colour on both; the rest shows the backgrounds.
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x)
      for (auto* b : {&black, &white}) {
        uint8_t* p = b->Bytes.data() + (y * 16 + x) * 3;
        p[0] = 10, p[1] = 20, p[2] = 30;
      }
  CombineBlackWhiteBlocks(black.Rows(), white.Rows(), out.Rows());
  EXPECT_EQ(out.Pixels32()[0], 0x801E140Au);  // alpha 4 x 32 = 128, red 30, green 20, blue 10
  EXPECT_EQ(out.Pixels32()[1], 0u);           // empty area: transparent
  for (auto* b : {&black, &white})
    for (int y = 0; y < 8; ++y)
      for (int x = 8; x < 16; ++x)
        for (int c = 0; c < 3; ++c) b->Bytes[(y * 16 + x) * 3 + c] = 77;
  CombineBlackWhiteBlocks(black.Rows(), white.Rows(), out.Rows());
  EXPECT_EQ(out.Pixels32()[1] >> 24, 255u);
}

}  // namespace

TEST(ShadowKernel, LargeRadiiWeighInSixtyFourBits) {
  // 46341 squared no longer fits 32 bits; a near cell must still weigh
  // strength / radius shifted by its distance, and far cells nothing.
  const int radius = 46341, strength = 46341 * 40000;
  EXPECT_EQ(ShadowKernelWeight(radius, strength, 10, 0), 40000 >> 10);
  EXPECT_EQ(ShadowKernelWeight(radius, strength, 3, 4), 40000 >> 5);
  EXPECT_EQ(ShadowKernelWeight(radius, strength, 40000, 40000), 0);
  EXPECT_EQ(ShadowKernelWeight(radius, strength, radius, 1), 0);
}
