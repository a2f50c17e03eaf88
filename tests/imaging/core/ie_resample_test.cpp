#include "imaging/core/ie_resample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "imaging/core/ie_resample_internal.h"
#include "imaging/core/ie_thread_pool.h"

namespace {

// A grey ie24RGB picture of one row.
std::unique_ptr<TIEBitmap> RowOf(const std::vector<uint8_t>& values) {
  auto b = std::make_unique<TIEBitmap>(int(values.size()), 1, ie24RGB);
  for (int x = 0; x < int(values.size()); ++x) b->SetPixelRGB(x, 0, MakeRGB(values[x], values[x], values[x]));
  return b;
}

std::vector<uint8_t> RedsOf(TIEBitmap& b, int y = 0) {
  std::vector<uint8_t> v;
  for (int x = 0; x < b.Width(); ++x) v.push_back(b.GetPixelRGB(x, y).r);
  return v;
}

std::vector<uint8_t> GreyRow(TIEBitmap& b, int y = 0) {
  return std::vector<uint8_t>(b.ScanLine(y), b.ScanLine(y) + b.Width());
}

struct WorkerCount {
  explicit WorkerCount(int n) { IEWorkerCountOverride = n; }
  ~WorkerCount() { IEWorkerCountOverride = 0; }
};

}  // namespace

TEST(ResampleIEBitmap, SameSizeCopiesForEveryFilter) {
  TIEBitmap src(3, 2, ie24RGB);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) src.SetPixelRGB(x, y, MakeRGB(uint8_t(x * 50), uint8_t(y * 90), 7));
  src.AlphaChannel()->SetPixel8(1, 1, 33);
  src.AlphaChannel()->SetFull(false);
  for (int f = 0; f < kResampleFilterCount; ++f) {
    TIEBitmap dst(3, 2, ie24RGB);
    ResampleIEBitmap(&src, &dst, TResampleFilter(f));
    ASSERT_TRUE(dst.HasAlphaChannel()) << f;
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) {
        EXPECT_EQ(dst.GetPixelRGB(x, y), src.GetPixelRGB(x, y)) << f;
        EXPECT_EQ(dst.GetAlpha(x, y), src.GetAlpha(x, y)) << f;
      }
  }
}

TEST(ResampleContributors, CornerAlignedScalesAndMirroredTaps) {
  // 2 -> 3 with the triangle: scale (3 - 1) / (2 - 1) = 2, output 1 sits at 0.5.
  const ieresample::TContributors t = ieresample::BuildContributors(2, 3, rfTriangle);
  ASSERT_EQ(t.First[2] - t.First[1], 2);
  EXPECT_EQ(t.Index[size_t(t.First[1])], 0);
  EXPECT_EQ(t.Weight[size_t(t.First[1])], 128);
  EXPECT_EQ(t.Weight[size_t(t.First[1]) + 1], 128);
  // Lanczos-3 on 7 -> 13 (scale 2): output 1 at 0.5 reads -2 .. 3 with -1 and -2
  // mirrored to 1 and 2; output 11 at 5.5 reads 3 .. 8 with 7 and 8 (n and n + 1)
  // mirrored to 6 and 5; output 12 sits on pixel 6, where every other tap is 0.
  const ieresample::TContributors l = ieresample::BuildContributors(7, 13, rfLanczos3);
  const auto taps = [&](int x) { return std::vector<int>(l.Index.begin() + l.First[x], l.Index.begin() + l.First[x + 1]); };
  EXPECT_EQ(taps(1), (std::vector<int>{2, 1, 0, 1, 2, 3}));
  EXPECT_EQ(taps(11), (std::vector<int>{3, 4, 5, 6, 6, 5}));
  EXPECT_EQ(taps(12), (std::vector<int>{6}));
}

namespace {

// A picture of noise with an alpha channel of noise: every tap weighs in.
std::unique_ptr<TIEBitmap> Noise(int w, int h, uint32_t seed) {
  auto b = std::make_unique<TIEBitmap>(w, h, ie24RGB);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = b->ScanLine(y);
    uint8_t* alpha = b->AlphaChannel()->ScanLine(y);
    for (int x = 0; x < 3 * w; ++x) row[x] = uint8_t((seed = seed * 1103515245u + 12345u) >> 24);
    for (int x = 0; x < w; ++x) alpha[x] = uint8_t((seed = seed * 1103515245u + 12345u) >> 24);
  }
  b->SetFull(false);
  return b;
}

struct VectorKernels {
  explicit VectorKernels(int level) { ieresample::IEResampleVectorKernels = level; }
  ~VectorKernels() { ieresample::IEResampleVectorKernels = 2; }
};

}  // namespace

TEST(ResampleIEBitmap, VectorKernelsGiveThePlainLoopsBytes) {
  // Reductions and enlargements, narrow rows (windows pushed back from the
  // right edge, outputs with mirrored taps), every kernel (Lanczos and
  // Mitchell weigh negative), and a strong reduction whose sums grow.
  struct Case {
    int sw, sh, dw, dh;
  };
  const Case cases[] = {{97, 61, 26, 17}, {40, 30, 111, 77}, {6, 5, 3, 2}, {23, 9, 23, 4}, {1000, 3, 7, 2}, {5, 40, 9, 3}};
  for (const Case& c : cases) {
    auto src = Noise(c.sw, c.sh, uint32_t(c.sw * 31 + c.dh));
    for (int f = rfTriangle; f <= rfLinear; ++f) {
      TIEBitmap plain(c.dw, c.dh, ie24RGB);
      {
        VectorKernels off(0);
        ResampleIEBitmap(src.get(), &plain, TResampleFilter(f));
      }
      for (int level : {1, 2}) {
        TIEBitmap vector(c.dw, c.dh, ie24RGB);
        {
          VectorKernels on(level);
          ResampleIEBitmap(src.get(), &vector, TResampleFilter(f));
        }
        for (int y = 0; y < c.dh; ++y) {
          ASSERT_EQ(0, std::memcmp(plain.ScanLine(y), vector.ScanLine(y), size_t(3 * c.dw)))
              << c.sw << "x" << c.sh << " to " << c.dw << "x" << c.dh << " filter " << f << " level " << level
              << " row " << y;
          ASSERT_EQ(0,
                    std::memcmp(plain.AlphaChannel()->ScanLine(y), vector.AlphaChannel()->ScanLine(y), size_t(c.dw)))
              << c.sw << "x" << c.sh << " to " << c.dw << "x" << c.dh << " filter " << f << " level " << level
              << " alpha row " << y;
        }
      }
    }
  }
}

TEST(ResampleDivide, ReciprocalTruncatesLikeTheIntegerDivision) {
  // Every sum the vector kernels divide by, at the quotient edges where a
  // rounding error would show: q x sum - 1, q x sum, q x sum + sum - 1.
  for (int32_t sum = 1; sum <= 4096; ++sum) {
    const ieresample::TDivide d = ieresample::MakeDivide(sum);
    ASSERT_TRUE(d.vector);
    for (int32_t q = 0; q <= 256; ++q)
      for (int32_t v : {q * sum - 1, q * sum, q * sum + sum - 1}) {
        const int32_t c = std::clamp(v, 0, d.limit);
        const auto got = int32_t(float(c) * d.inverse + d.bias);
        ASSERT_EQ(got, ieresample::Normalise(v, sum)) << v << " / " << sum;
      }
  }
  EXPECT_FALSE(ieresample::MakeDivide(4097).vector);
  EXPECT_FALSE(ieresample::MakeDivide(0).vector);
  EXPECT_FALSE(ieresample::MakeDivide(-256).vector);
}

TEST(ResampleIEBitmap, StrongReductionKeepsItsContributors) {
  // 1/600: every weight round(k * 256 * s) is 0, yet the picture is not black.
  TIEBitmap src(1200, 2, ie24RGB);
  src.Fill(0x00C8C8C8);
  for (int f = rfTriangle; f <= rfLinear; ++f) {
    TIEBitmap dst(2, 1, ie24RGB);
    ResampleIEBitmap(&src, &dst, TResampleFilter(f));
    EXPECT_EQ(RedsOf(dst), (std::vector<uint8_t>{200, 200})) << f;
  }
}

TEST(ResampleIEBitmap, OnePixelSourceFillsTheDestination) {
  TIEBitmap src(1, 1, ie24RGB);
  src.SetPixelRGB(0, 0, MakeRGB(10, 200, 30));
  src.AlphaChannel()->SetPixel8(0, 0, 77);
  for (int f : {int(rfTriangle), int(rfLanczos3), int(rfFastLinear), int(rfBilinear), int(rfBicubic)}) {
    TIEBitmap dst(4, 3, ie24RGB);
    dst.Fill(0);
    ResampleIEBitmap(&src, &dst, TResampleFilter(f));
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(dst.GetPixelRGB(x, y), MakeRGB(10, 200, 30)) << f;
        EXPECT_EQ(dst.GetAlpha(x, y), 77) << f;
      }
  }
}

TEST(ResampleIEBitmap, NearestIsTheBoxKernelNotThePixelCopy) {
  auto src = RowOf({0, 100, 200, 50});
  TIEBitmap box(3, 1, ie24RGB), pixel(3, 1, ie24RGB);
  ResampleIEBitmap(src.get(), &box, rfNearest);
  ResampleIEBitmap(src.get(), &pixel, rfNone);
  EXPECT_EQ(RedsOf(pixel), (std::vector<uint8_t>{0, 100, 200}));  // columns trunc(4/3 x)
  EXPECT_NE(RedsOf(box), RedsOf(pixel));
}

TEST(ResampleIEBitmap, BilinearOnAPaletteSourceGoesThroughTwentyFourBits) {
  TIEBitmap src(2, 2, ie8p);
  src.SetPaletteColor(0, MakeRGB(255, 0, 0));
  src.SetPaletteColor(1, MakeRGB(0, 0, 255));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) src.SetPixel8(x, y, uint8_t(x));
  TIEBitmap dst(3, 2, ie8p);
  ResampleIEBitmap(&src, &dst, rfBilinear);
  ASSERT_EQ(dst.PixelFormat(), ie24RGB);
  EXPECT_EQ(dst.GetPixelRGB(1, 0), MakeRGB(127, 0, 127));  // the triangle halfway
}

TEST(IERunRowBands, BandsFollowTheWorkerCount) {
  WorkerCount four(4);
  std::mutex lock;
  std::vector<std::pair<int, int>> bands(4);
  IERunRowBands(10, false, [&](int first, int last, int worker) {
    std::lock_guard<std::mutex> g(lock);
    bands[size_t(worker)] = {first, last};
  });
  EXPECT_EQ(bands, (std::vector<std::pair<int, int>>{{0, 1}, {2, 3}, {4, 5}, {6, 9}}));
  EXPECT_EQ(IERowBandWorkers(10, true), 1);
  EXPECT_EQ(IERowBandWorkers(3, false), 3);
}

TEST(ResampleIEBitmap, ProgressStaysWithinAHundredAndRises) {
  TIEBitmap src(40, 300, ie24RGB);
  src.Fill(0x00406080);
  for (auto size : {std::pair{7, 900}, std::pair{500, 3}, std::pair{13, 17}}) {
    for (int f : {int(rfLanczos3), int(rfFastLinear), int(rfBilinear), int(rfNone), int(rfProjectBW)}) {
      WorkerCount three(3);
      TIEBitmap dst(size.first, size.second, ie24RGB);
      std::vector<int> seen;
      std::mutex lock;
      ResampleIEBitmap(&src, &dst, TResampleFilter(f), nullptr, [&](TObject*, int p) {
        std::lock_guard<std::mutex> g(lock);
        seen.push_back(p);
      });
      ASSERT_FALSE(seen.empty()) << f;
      for (size_t i = 0; i < seen.size(); ++i) {
        EXPECT_GE(seen[i], 0);
        EXPECT_LE(seen[i], 100) << f;
        if (i > 0) {
          EXPECT_GE(seen[i], seen[i - 1]) << f;
        }
      }
    }
  }
}

TEST(ResampleFastLinear, ReducedOutputsCoverTheirOwnSpans) {
  // Halving 4 pixels: 0+1 and 2+3 (pixel 3 counts).
  auto src = RowOf({0, 100, 50, 250});
  TIEBitmap half(2, 1, ie24RGB);
  ResampleIEBitmap(src.get(), &half, rfFastLinear);
  EXPECT_EQ(RedsOf(half), (std::vector<uint8_t>{50, 150}));
  // Only the height changes: every column stays itself.
  TIEBitmap tall(4, 3, ie24RGB);
  ResampleIEBitmap(src.get(), &tall, rfFastLinear);
  for (int y = 0; y < 3; ++y) EXPECT_EQ(RedsOf(tall, y), (std::vector<uint8_t>{0, 100, 50, 250}));
}

TEST(ResampleProject, WindowsReachTheRightEdge) {
  // 10 -> 3 with black wins: a black pixel in column 9 reaches the last output.
  TIEBitmap src(10, 1, ie1g);
  src.Fill(1);
  src.ScanLine(0)[1] &= uint8_t(~0x40);  // column 9
  TIEBitmap dst(3, 1, ie1g);
  ResampleIEBitmap(&src, &dst, rfProjectBW);
  EXPECT_EQ(dst.ScanLine(0)[0] & 0xE0, 0xC0);
  // White wins on 24 bits: a channel of exactly 128 is not white.
  TIEBitmap rgb(2, 1, ie24RGB);
  rgb.SetPixelRGB(0, 0, MakeRGB(128, 200, 200));
  rgb.SetPixelRGB(1, 0, MakeRGB(0, 0, 0));
  TIEBitmap one(1, 1, ie24RGB);
  ResampleIEBitmap(&rgb, &one, rfProjectWB);
  ASSERT_EQ(one.PixelFormat(), ie1g);
  EXPECT_EQ(one.ScanLine(0)[0] & 0x80, 0);
}

TEST(ResampleBilinear, AreaCoverageCases) {
  // Enlarging 2 -> 4 samples each output at its right end: (s0 + s1) / 2, s1, s1, s1.
  TIEBitmap g(2, 1, ie8g);
  g.SetPixel8(0, 0, 10);
  g.SetPixel8(1, 0, 51);
  TIEBitmap wide(4, 1, ie8g);
  ResampleIEBitmap(&g, &wide, rfBilinear);
  EXPECT_EQ(GreyRow(wide), (std::vector<uint8_t>{30, 51, 51, 51}));  // 30.5 to even
  // Halving is the 2 x 2 box average, halves to even.
  TIEBitmap square(2, 2, ie8g);
  const uint8_t v[4] = {1, 2, 2, 2};  // 7 / 4 = 1.75
  for (int i = 0; i < 4; ++i) square.SetPixel8(i % 2, i / 2, v[i]);
  TIEBitmap one(1, 1, ie8g);
  ResampleIEBitmap(&square, &one, rfBilinear);
  EXPECT_EQ(one.GetPixel8(0, 0), 2);
  square.SetPixel8(0, 0, 0);  // 6 / 4 = 1.5 -> 2; 2 (1.5 + 0.5) stays
  ResampleIEBitmap(&square, &one, rfBilinear);
  EXPECT_EQ(one.GetPixel8(0, 0), 2);
  // Bicubic overshoot is clamped.
  TIEBitmap edge(4, 1, ie8g);
  const uint8_t e[4] = {0, 0, 255, 255};
  std::memcpy(edge.ScanLine(0), e, 4);
  TIEBitmap big(16, 1, ie8g);
  ResampleIEBitmap(&edge, &big, rfBicubic);
  for (uint8_t x : GreyRow(big)) EXPECT_TRUE(x == 0 || x == 255 || (x > 0 && x < 255));
}

TEST(ResampleBilinear, TransparentNeighboursLendNoColour) {
  // Red opaque on the left, blue transparent on the right: enlarged with
  // rfBilinear the colour stays red where the two meet.
  TIEBitmap src(2, 2, ie24RGB);
  for (int y = 0; y < 2; ++y) {
    src.SetPixelRGB(0, y, MakeRGB(255, 0, 0));
    src.SetPixelRGB(1, y, MakeRGB(0, 0, 255));
    src.AlphaChannel()->SetPixel8(1, y, 0);
  }
  src.AlphaChannel()->SetFull(false);
  TIEBitmap dst(5, 5, ie24RGB);
  ResampleIEBitmap(&src, &dst, rfBilinear);
  // Output 1 lies inside the red pixel, three quarters towards the blue one.
  for (int x = 0; x < 2; ++x) EXPECT_EQ(dst.GetPixelRGB(x, 0), MakeRGB(255, 0, 0)) << x;
  EXPECT_EQ(dst.GetPixelRGB(4, 0), MakeRGB(0, 0, 255));
  EXPECT_FALSE(dst.AlphaChannel()->Full());
  EXPECT_LT(dst.GetAlpha(4, 0), 255);
}
