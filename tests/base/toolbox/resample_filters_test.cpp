#include "base/toolbox/resample_filters.h"

#include <algorithm>
#include <gtest/gtest.h>

#include <numeric>

#include "base/toolbox/pixel_rows.h"
#include "base/toolbox/resample_core.h"
#include "python_oracle.h"

namespace {

struct KernelCase {
  TIconResampleFilter filter;
  double x, value;
};

TEST(ResampleFilterTable, KernelValues) {
  const KernelCase cases[] = {
      {irfTriangle, 0, 1},      {irfTriangle, 1, 0},       {irfTriangle, 0.25, 0.75},
      {irfHermite, 0, 1},       {irfHermite, 0.5, 0.5},    {irfHermite, 1, 0},
      {irfBell, 0, 0.75},       {irfBell, 1, 0.125},       {irfBell, -1, 0.125},
      {irfBell, 1.5, 0},        {irfBSpline, 0, 2.0 / 3},  {irfBSpline, 1, 1.0 / 6},
      {irfBSpline, 2, 0},       {irfLanczos3, 0, 1},       {irfLanczos3, 1, 0},
      {irfLanczos3, -2, 0},     {irfLanczos3, 3, 0},       {irfMitchell, 0, 8.0 / 9},
      {irfMitchell, 1, 1.0 / 18}, {irfMitchell, -1, 1.0 / 18}, {irfMitchell, 2, 0},
      {irfNearest, 0.5, 1},     {irfNearest, -0.5, 0},     {irfNearest, 0, 1},
      {irfLinear, -1, 0},       {irfLinear, -0.25, 0.75},  {irfLinear, 1, 0},
  };
  for (const auto& c : cases)
    EXPECT_NEAR(ResampleFilterTable[c.filter].Kernel(c.x), c.value, 1e-12)
        << "filter " << int(c.filter) << " at " << c.x;
  // Lanczos3 between the zeros: sin(pi/2) sin(pi/6) / (pi/2 * pi/6).
  EXPECT_NEAR(Lanczos3Filter(0.5), 0.5 / (3.14159265358979 * 3.14159265358979 / 12), 1e-9);
  const double supports[9] = {0, 1, 1, 1.5, 2, 3, 2, 1, 1};
  for (int f = 1; f <= 8; ++f) EXPECT_EQ(ResampleFilterTable[f].Support, supports[f]);
}

TEST(BuildContributors, EnlargingPutsEndsOnSourceEnds) {
  // Scale (9 - 1) / (3 - 1) = 4: output 0 is centred on source 0, output 8 on source 2.
  for (auto f : {irfTriangle, irfHermite, irfLanczos3, irfNearest, irfLinear}) {
    const TContributorList list = BuildContributors(3, 9, f);
    for (int i : {0, 8}) {
      ASSERT_EQ(list.Count[i], 1) << int(f);
      EXPECT_EQ(list.Pixel[list.First[i]], i / 4);
      EXPECT_EQ(list.Weight[list.First[i]], 256);
    }
  }
  // Bell blends output 0 with its mirrored neighbour: source -1 is source 1.
  const TContributorList bell = BuildContributors(3, 9, irfBell);
  ASSERT_EQ(bell.Count[0], 3);
  EXPECT_EQ(bell.Pixel[bell.First[0]], 1);
  EXPECT_EQ(bell.Weight[bell.First[0]], 32);
  EXPECT_EQ(bell.Weight[bell.First[0] + 1], 192);
}

TEST(BuildContributors, ReductionWeightsFollowTheScale) {
  // 11 -> 6: scale 0.5, triangle weights round(f(d * 0.5) * 128) over a window of 2.
  const TContributorList list = BuildContributors(11, 6, irfTriangle);
  const int first = list.First[2];
  ASSERT_EQ(list.Count[2], 3);
  EXPECT_EQ(list.Pixel[first], 3);
  EXPECT_EQ(list.Weight[first], 64);
  EXPECT_EQ(list.Weight[first + 1], 128);
  EXPECT_EQ(list.WeightSum[2], 256);
  EXPECT_EQ(list.WeightUnit, 256);
}

TEST(BuildContributors, ExtremeReductionKeepsContributors) {
  // At 1/1000 every f x 256 x scale rounds to 0; each output still needs sources.
  for (auto f : {irfTriangle, irfLanczos3, irfMitchell, irfNearest}) {
    const TContributorList list = BuildContributors(3001, 4, f);
    for (int i = 0; i < 4; ++i) {
      EXPECT_GT(list.Count[i], 10) << int(f);
      EXPECT_GT(list.WeightSum[i], 0);
    }
  }
}

TEST(ResampleRowsWithAlpha, ExtremeReductionIsNotBlack) {
  TPixelBuffer src(3000, 2, 4);
  for (size_t i = 0; i < src.Bytes.size(); i += 4) {
    src.Bytes[i] = 40;
    src.Bytes[i + 1] = 120;
    src.Bytes[i + 2] = 200;
    src.Bytes[i + 3] = 255;
  }
  TPixelBuffer dst(3, 2, 4);
  ResampleRowsWithAlpha(src.Rows(), 4, src.Rows(), 4, 3, dst.Rows(), irfLanczos3);
  for (size_t i = 0; i < dst.Bytes.size(); i += 4) {
    EXPECT_NEAR(dst.Bytes[i], 40, 1);
    EXPECT_NEAR(dst.Bytes[i + 1], 120, 1);
    EXPECT_NEAR(dst.Bytes[i + 2], 200, 1);
    EXPECT_EQ(dst.Bytes[i + 3], 255);
  }
}

TEST(ResampleRowsWithAlpha, TransparentNeighboursDoNotTint) {
  // An opaque red pixel amid transparent white ones stays pure red wherever it shows.
  TPixelBuffer src(5, 5, 4);
  for (size_t i = 0; i < src.Bytes.size(); i += 4) src.Pixels32()[i / 4] = 0x00FFFFFF;
  src.Pixels32()[12] = 0xFFFF0000;
  for (auto f : {irfTriangle, irfBell, irfLanczos3, irfMitchell}) {
    TPixelBuffer dst(9, 9, 4);
    ResampleRowsWithAlpha(src.Rows(), 4, src.Rows(), 4, 3, dst.Rows(), f);
    for (int i = 0; i < 81; ++i) {
      const uint32_t p = dst.Pixels32()[i];
      if (p >> 24 == 0) continue;
      EXPECT_EQ(p & 0xFFFFFF, 0xFF0000u) << "filter " << int(f) << " pixel " << i;
    }
  }
}

// The linear enlargement transcribed plainly in numpy: weights per output,
// mirrored indexes, integer sums divided with truncation, clamped per pass.
const char* kNumpyLinearResample = R"PY(
import sys, numpy as np
d = open(sys.argv[1], 'rb').read()
w, h, W, H = d[0], d[1], d[2], d[3]
src = np.frombuffer(d[4:], dtype=np.uint8).reshape(h, w, 3).astype(np.int64)
def lin(x):
    return 1 + x if -1 <= x < 0 else (1 - x if 0 <= x < 1 else 0.0)
def weights(n, m):
    scale = m / n if (n == 1 or m == 1) else (m - 1) / (n - 1)
    out = []
    for i in range(m):
        c = i / scale
        lst = []
        for j in range(int(np.floor(c - 1)), int(np.ceil(c + 1)) + 1):
            k = int(np.round(lin(c - j) * 256))
            if k == 0: continue
            jj = -j if j < 0 else j
            jj = 2 * n - jj - 1 if jj >= n else jj
            lst.append((min(max(jj, 0), n - 1), k))
        out.append(lst)
    return out
def tdiv(a, b):
    q = np.abs(a) // abs(b)
    return np.sign(a) * np.sign(b) * q
def apply(img, lists, axis):
    res = []
    for lst in lists:
        s = sum(k * np.take(img, j, axis=axis) for j, k in lst)
        tot = sum(k for _, k in lst)
        res.append(np.clip(tdiv(s, tot) if tot else tdiv(s, 256), 0, 255))
    return np.stack(res, axis=axis)
mid = apply(src, weights(w, W), 1)
out = apply(mid, weights(h, H), 0)
open(sys.argv[2], 'wb').write(out.astype(np.uint8).tobytes())
)PY";

TEST(ResampleRowsPlain, LinearEnlargementMatchesNumpyOracle) {
  if (!qvtest::HavePython("numpy")) GTEST_SKIP() << "python3 with numpy is not available";
  const int w = 7, h = 5, W = 19, H = 12;
  TPixelBuffer src(w, h, 3);
  uint32_t seed = 12345;
  for (auto& b : src.Bytes) b = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
  std::vector<uint8_t> in(4 + src.Bytes.size());
  in[0] = w, in[1] = h, in[2] = W, in[3] = H;
  std::copy(src.Bytes.begin(), src.Bytes.end(), in.begin() + 4);
  const auto want = qvtest::RunPython(kNumpyLinearResample, in);
  ASSERT_EQ(want.size(), static_cast<size_t>(W * H * 3));
  TPixelBuffer dst(W, H, 3);
  ResampleRowsPlain(src.Rows(), 3, dst.Rows(), 3, 3, irfLinear);
  EXPECT_EQ(dst.Bytes, want);
}

}  // namespace
