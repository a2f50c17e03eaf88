#include "base/toolbox/resampler.h"

#include <gtest/gtest.h>

#include "base/toolbox/bitmap_utils.h"

namespace {

std::unique_ptr<TBitmap> Random32(int w, int h, uint32_t seed, bool opaque = false) {
  auto b = NewBitmap32(w, h);
  uint32_t* p = Block32(b.get());
  for (int i = 0; i < w * h; ++i) {
    seed = seed * 1664525 + 1013904223;
    p[i] = opaque ? (seed | 0xFF000000u) : seed;
  }
  return b;
}

TEST(ResampleBitmap, SameSizeCopiesInTheSourceFormat) {
  auto src = NewBitmap(pf24bit, 5, 4, 0x123456);
  auto target = NewBitmap32(5, 4);
  ResampleBitmap(src.get(), target.get(), irfLanczos3);
  EXPECT_EQ(target->PixelFormat(), pf24bit);
  EXPECT_TRUE(BitmapsEqual(src.get(), target.get()));
}

TEST(ResampleBitmap, EmptySourceGivesTransparentTarget) {
  TBitmap empty;
  auto target = NewBitmap(pf32bit, 3, 2, clWhite);
  ResampleBitmap(&empty, target.get(), irfTriangle);
  ASSERT_EQ(target->Width(), 3);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(Block32(target.get())[i], 0u);
}

TEST(ResampleBitmap, OneColumnGoesThroughTwoColumns) {
  auto column = Random32(1, 7, 5, true);
  auto two = NewBitmap32(2, 7);
  CopyRect32(column.get(), two.get(), TRect{0, 0, 1, 7}, 0, 0);
  CopyRect32(column.get(), two.get(), TRect{0, 0, 1, 7}, 1, 0);
  auto want = NewBitmap32(2, 12);
  ResampleBitmap(two.get(), want.get(), irfMitchell);
  auto got = NewBitmap32(1, 12);
  ResampleBitmap(column.get(), got.get(), irfMitchell);
  ASSERT_EQ(got->Width(), 1);
  for (int y = 0; y < 12; ++y) EXPECT_EQ(GetPixel32(got.get(), 0, y), GetPixel32(want.get(), 0, y)) << y;
}

TEST(ResampleBitmap, EnlargingKeepsCornerPixelsWithInterpolatingKernels) {
  auto src = Random32(4, 3, 9, true);
  for (auto f : {irfTriangle, irfHermite, irfLanczos3, irfNearest, irfLinear}) {
    auto t = NewBitmap32(10, 7);
    ResampleBitmap(src.get(), t.get(), f);
    EXPECT_EQ(GetPixel32(t.get(), 0, 0), GetPixel32(src.get(), 0, 0)) << int(f);
    EXPECT_EQ(GetPixel32(t.get(), 9, 6), GetPixel32(src.get(), 3, 2)) << int(f);
  }
}

TEST(ResampleBitmap24, PlainPathAndRefusals) {
  auto src = NewBitmap(pf24bit, 4, 4, 0x204080);
  auto t = NewBitmap(pf24bit, 9, 9, clBlack);
  ResampleBitmap24(src.get(), t.get(), irfBSpline);
  EXPECT_EQ(t->Canvas()->Pixels(4, 4), 0x204080);
  auto src32 = NewBitmap32(4, 4);
  auto t2 = NewBitmap(pf24bit, 9, 9, clWhite);
  ResampleBitmap24(src32.get(), t2.get(), irfBSpline);  // not pf24bit: nothing
  EXPECT_EQ(t2->Canvas()->Pixels(4, 4), clWhite);
}

TEST(ResampleColorWithAlpha, HalvesMatchTheWholePath) {
  auto src = Random32(9, 6, 3);
  TBitmap colour, alpha;
  bool white = false;
  SplitToColor24(src.get(), &colour, white);
  ExtractAlphaPlane(src.get(), &alpha);
  auto viaHalves = NewBitmap32(5, 4);
  ResampleColorWithAlpha(&colour, &alpha, viaHalves.get(), irfBell);
  ResampleAlphaPlane(&alpha, viaHalves.get(), irfBell);
  auto whole = NewBitmap32(5, 4);
  ResampleRowsWithAlpha(BitmapRows(src.get()), 4, BitmapRows(src.get()), 4, 3, BitmapRows(whole.get()), irfBell);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(GetPixel32(viaHalves.get(), x, y), GetPixel32(whole.get(), x, y));
}

}  // namespace
