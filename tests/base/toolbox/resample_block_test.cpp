#include <gtest/gtest.h>

#include "base/toolbox/pixel_rows.h"
#include "base/toolbox/resample_core.h"
#include "platform/rtl/rounding.h"

#include <algorithm>
#include <optional>
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

namespace {

// The alpha-aware resize written out plainly, one tap at a time over whole
// pictures: each tap's colour weighs (alpha x weight) / 255, truncated toward
// zero; each channel is its sum over the sum of those weights (over the
// weight unit where that is 0), truncated and clamped; the alpha byte is the
// plain resampling of alpha. The vector and banded paths must give exactly
// these bytes.
TPixelBuffer ReferenceResize(const TPixelBuffer& src, int W, int H, TIconResampleFilter f) {
  const TContributorList hl = BuildContributors(src.Width, W, f), vl = BuildContributors(src.Height, H, f);
  auto finish = [](int64_t sum, int64_t div, int64_t unit) {
    return uint8_t(std::clamp<int64_t>(div != 0 ? sum / div : sum / unit, 0, 255));
  };
  // Horizontal: blue, green, red, weighted alpha; and the plain alpha.
  TPixelBuffer mid(W, src.Height, 4), midAlpha(W, src.Height, 1);
  for (int y = 0; y < src.Height; ++y)
    for (int x = 0; x < W; ++x) {
      int64_t s[4] = {}, sv = 0, pa = 0;
      for (int t = hl.First[x]; t < hl.First[x] + hl.Count[x]; ++t) {
        const uint8_t* p = &src.Bytes[(size_t(y) * src.Width + hl.Pixel[t]) * 4];
        const int64_t k = hl.Weight[t], v = p[3] * k / 255;
        sv += v;
        for (int c = 0; c < 4; ++c) s[c] += v * p[c];
        pa += k * p[3];
      }
      for (int c = 0; c < 4; ++c) mid.Bytes[(size_t(y) * W + x) * 4 + c] = finish(s[c], sv, hl.WeightUnit);
      midAlpha.Bytes[size_t(y) * W + x] = finish(pa, hl.WeightSum[x], hl.WeightUnit);
    }
  TPixelBuffer out(W, H, 4);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      int64_t s[3] = {}, sv = 0, pa = 0;
      for (int t = vl.First[y]; t < vl.First[y] + vl.Count[y]; ++t) {
        const uint8_t* p = &mid.Bytes[(size_t(vl.Pixel[t]) * W + x) * 4];
        const int64_t k = vl.Weight[t], v = p[3] * k / 255;
        sv += v;
        for (int c = 0; c < 3; ++c) s[c] += v * p[c];
        pa += k * midAlpha.Bytes[size_t(vl.Pixel[t]) * W + x];
      }
      uint8_t* o = &out.Bytes[(size_t(y) * W + x) * 4];
      for (int c = 0; c < 3; ++c) o[c] = finish(s[c], sv, vl.WeightUnit);
      o[3] = finish(pa, vl.WeightSum[y], vl.WeightUnit);
    }
  return out;
}

// ResampleBlock32 written out: the framed resize as the resize of the
// picture inside 30 transparent pixels, cut; then transparent white cleared
// unless the source had some.
TPixelBuffer ReferenceBlock32(TPixelBuffer src, int W, int H, TIconResampleFilter f) {
  const int w = src.Width, h = src.Height;
  uint8_t l = 0, t = 0, r = 0, b = 0;
  const bool border = BorderAlphaAverages(src.Rows(), l, t, r, b) && (l >= 1 || t >= 1 || r >= 1 || b >= 1) &&
                      l <= 230 && t <= 230 && r <= 230 && b <= 230 && W >= 4 && H >= 4;
  TPixelBuffer out;
  if (!border) {
    out = ReferenceResize(src, W, H, f);
  } else {
    TPixelBuffer padded(w + 60, h + 60, 4);
    for (int y = 0; y < h; ++y) std::copy_n(src.Rows().Row(y), w * 4, padded.Rows().Row(y + 30) + 30 * 4);
    const int bx = int(Round(W * 30.0 / w)), by = int(Round(H * 30.0 / h));
    const TPixelBuffer whole = ReferenceResize(padded, W + 2 * bx, H + 2 * by, f);
    out = TPixelBuffer(W, H, 4);
    for (int y = 0; y < H; ++y)
      std::copy_n(&whole.Bytes[(size_t(y + by) * whole.Width + bx) * 4], W * 4, out.Rows().Row(y));
  }
  const auto white = [](TPixelBuffer& p) {
    return std::count(p.Pixels32(), p.Pixels32() + size_t(p.Width) * p.Height, 0x00FFFFFFu) > 0;
  };
  if (white(out) && !white(src)) ClearTransparentWhiteRows(out.Rows());
  return out;
}

// Noise of one of several kinds: any alpha; opaque; soft edges round an
// opaque middle (the framed path); alpha only 0 or 255 with transparent
// white where it is 0 (cleared, and weighing nothing).
TPixelBuffer NoiseOfKind(int w, int h, uint32_t seed, int kind) {
  TPixelBuffer b(w, h, 4);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const uint32_t colour = (seed * 2654435761u) >> 8;
      const bool edge = x < 3 || y < 3 || x >= w - 3 || y >= h - 3;
      uint32_t alpha = seed >> 24;
      if (kind == 1) alpha = 255;
      if (kind == 2) alpha = edge ? 30 + (seed >> 28) * 9 : 255;
      if (kind == 3) alpha = (seed >> 30) == 0 ? 0 : 255;
      b.Pixels32()[size_t(y) * w + x] = kind == 3 && alpha == 0 ? 0x00FFFFFFu : colour | (alpha << 24);
    }
  return b;
}

struct TWideVectorsOff {
  TWideVectorsOff() { ResampleWideVectors = false; }
  ~TWideVectorsOff() { ResampleWideVectors = true; }
};

// Every path (256- and 128-bit lanes, one thread or bands) against the
// reference, at reductions and enlargements of icon sizes, odd widths that
// leave part of a vector, pictures narrower than a vector, and reductions
// strong enough that the weight unit is raised (the largest of them beyond
// what single-precision quotients hold exactly).
TEST(ResampleBlock32, EveryPathGivesTheReferenceBytes) {
  struct TCase {
    int w, h, W, H;
  };
  const TCase cases[] = {{256, 256, 48, 48}, {256, 256, 16, 16}, {48, 48, 256, 256}, {37, 29, 61, 7},
                         {5, 6, 3, 4},       {3, 3, 19, 21},     {601, 9, 11, 9},    {9, 700, 4, 13},
                         {70000, 2, 3, 2}};
  for (const TCase& c : cases)
    for (int kind = 0; kind < 4; ++kind)
      for (TIconResampleFilter f : {irfLanczos3, irfMitchell, irfBSpline, irfNearest}) {
        if (c.w * c.h > 100000 && (kind == 0 || kind == 3 || f != irfLanczos3)) continue;
        const TPixelBuffer src = NoiseOfKind(c.w, c.h, uint32_t(c.w * 31 + c.h + kind), kind);
        const TPixelBuffer want = ReferenceBlock32(src, c.W, c.H, f);
        for (const bool wide : {true, false})
          for (const int workers : {1, 3}) {
            std::optional<TWideVectorsOff> narrow;
            if (!wide) narrow.emplace();
            TWorkerOverride bands(workers);
            TPixelBuffer s = src, got(c.W, c.H, 4, 0x77);
            ResampleBlock32(s.Rows(), got.Rows(), f);
            ASSERT_EQ(got.Bytes, want.Bytes) << c.w << "x" << c.h << " to " << c.W << "x" << c.H << " kind " << kind
                                             << " filter " << int(f) << (wide ? " wide" : " narrow") << " workers "
                                             << workers;
          }
      }
}

}  // namespace
