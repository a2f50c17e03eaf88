#include <gtest/gtest.h>

#include "base/toolbox/pixel_rows.h"
#include "base/toolbox/resample_core.h"
#include "platform/rtl/rounding.h"

#include <algorithm>
#include <utility>

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


// A picture of noise whose alpha is partial near the borders (so that the
// framed path is taken), with some pixels of transparent white.
TPixelBuffer SoftNoise(int w, int h, uint32_t seed) {
  TPixelBuffer b(w, h, 4);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const bool edge = x < 4 || y < 4 || x >= w - 4 || y >= h - 4;
      const uint32_t alpha = edge ? 40 + (seed >> 28) * 8 : ((seed >> 24) & 7) == 0 ? 0 : 255;
      b.Pixels32()[y * w + x] = (seed & 0xFFFFFF) | (alpha << 24);
      if ((seed >> 20) % 97 == 0) b.Pixels32()[y * w + x] = 0x00FFFFFF;
    }
  return b;
}

struct TWorkerOverride {
  explicit TWorkerOverride(int n) { ResampleWorkerCountOverride = n; }
  ~TWorkerOverride() { ResampleWorkerCountOverride = 0; }
};

// The framed resize is the resize of the picture inside a transparent frame
// of 30 pixels into a target with a frame of its own, cut to the middle.
TEST(ResampleBlock32, FramedPathIsTheFramedPictureCut) {
  const int w = 90, h = 70;
  const TPixelBuffer src = SoftNoise(w, h, 5);
  for (const auto& [W, H] : {std::pair{20, 16}, std::pair{150, 110}})
    for (TIconResampleFilter f : {irfLanczos3, irfMitchell, irfTriangle}) {
      TPixelBuffer got(W, H, 4);
      TPixelBuffer srcCopy = src;
      ResampleBlock32(srcCopy.Rows(), got.Rows(), f);
      TPixelBuffer padded(w + 60, h + 60, 4);
      for (int y = 0; y < h; ++y)
        std::copy_n(srcCopy.Rows().Row(y), w * 4, padded.Rows().Row(y + 30) + 30 * 4);
      const int bx = int(Round(W * 30.0 / w)), by = int(Round(H * 30.0 / h));
      TPixelBuffer whole(W + 2 * bx, H + 2 * by, 4);
      ResampleRowsWithAlpha(padded.Rows(), 4, padded.Rows(), 4, 3, whole.Rows(), f, true);
      // The source holds transparent white, so none is cleared.
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
          ASSERT_EQ(got.Pixels32()[y * W + x], whole.Pixels32()[(y + by) * whole.Width + x + bx])
              << W << "x" << H << " filter " << int(f) << " at " << x << "," << y;
    }
}

// Rows in bands on any number of threads, and the four-tap vector path
// against the pixel-at-a-time one (alpha read from a separate copy), give the
// same bytes.
TEST(ResampleRowsWithAlpha, BandsAndVectorPathsAgree) {
  const TPixelBuffer src = SoftNoise(301, 203, 9);
  TPixelBuffer alpha = src;
  for (const auto& [W, H] : {std::pair{37, 23}, std::pair{403, 250}})
    for (TIconResampleFilter f : {irfLanczos3, irfBell, irfHermite}) {
      TPixelBuffer one(W, H, 4), apart(W, H, 4);
      TPixelBuffer s = src;
      {
        TWorkerOverride single(1);
        ResampleRowsWithAlpha(s.Rows(), 4, s.Rows(), 4, 3, one.Rows(), f, true);
        ResampleRowsWithAlpha(s.Rows(), 4, alpha.Rows(), 4, 3, apart.Rows(), f, true);
      }
      EXPECT_EQ(one.Bytes, apart.Bytes) << W << "x" << H << " filter " << int(f);
      for (int workers : {2, 3, 7}) {
        TWorkerOverride many(workers);
        TPixelBuffer banded(W, H, 4);
        ResampleRowsWithAlpha(s.Rows(), 4, s.Rows(), 4, 3, banded.Rows(), f, true);
        EXPECT_EQ(one.Bytes, banded.Bytes) << W << "x" << H << " filter " << int(f) << " workers " << workers;
      }
    }
}

}  // namespace
