// The Gaussian blur against scipy's convolve1d with the same integer kernel,
// the kernel's reach, and the soft shadows laid from a blurred alpha channel.
#include "imaging/core/ie_proc_blur.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/core/ie_helpers.h"
#include "tests/support/test_support.h"

namespace {

std::unique_ptr<TIEBitmap> Noise(int w, int h, uint32_t seed, TIEBitmapFormat f) {
  auto b = std::make_unique<TIEBitmap>(w, h, f);
  const int bytes = f == ie24RGB ? 3 : 1;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w * bytes; ++x) {
      seed = seed * 1664525u + 1013904223u;
      // Ramps with hard specks, so both smooth sums and edges count.
      b->ScanLine(y)[x] = uint8_t((seed >> 28) < 5 ? (seed >> 20) : (x * 7 + y * 11));
    }
  return b;
}

std::vector<uint8_t> Pixels(TIEBitmap& b) {
  std::vector<uint8_t> out;
  const int n = b.Width() * (b.PixelFormat() == ie24RGB ? 3 : 1);
  for (int y = 0; y < b.Height(); ++y) out.insert(out.end(), b.ScanLine(y), b.ScanLine(y) + n);
  return out;
}

template <class T>
void Put(std::vector<uint8_t>& v, T x) {
  uint64_t bits = 0;
  std::memcpy(&bits, &x, sizeof(T));
  for (size_t i = 0; i < sizeof(T); ++i) v.push_back(uint8_t(bits >> (8 * i)));
}

TEST(GaussianBlurOracle, EqualsScipyConvolve1dWithTheIntegerKernel) {
  if (qvtest::RunCommand("/usr/bin/python3 -c 'import scipy.ndimage' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "scipy is not available";
  struct Case {
    TIEBitmapFormat format;
    int w, h;
    double sigma;
    bool rect;
    int x1, y1, x2, y2;  // GaussianBlurRect's rectangle, inclusive
  };
  const Case cases[] = {
      {ie24RGB, 40, 30, 1.5, false, 0, 0, 0, 0}, {ie8g, 33, 17, 0.3, false, 0, 0, 0, 0},
      {ie8g, 50, 4, 6, false, 0, 0, 0, 0},       {ie24RGB, 7, 60, 40, false, 0, 0, 0, 0},
      {ie8g, 1, 9, 2, false, 0, 0, 0, 0},        {ie8g, 30, 20, 2.5, true, 5, 3, 20, 15},
      {ie8g, 12, 10, 1, true, -3, -3, 99, 99},
  };
  std::vector<uint8_t> input;
  std::vector<std::vector<uint8_t>> got;
  Put<int32_t>(input, int32_t(std::size(cases)));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    auto b = Noise(c.w, c.h, uint32_t(i + 1), c.format);
    const int n = c.format == ie24RGB ? 3 : 1;
    const int x1 = c.rect ? std::max(c.x1, 0) : 0, y1 = c.rect ? std::max(c.y1, 0) : 0;
    const int x2 = c.rect ? std::min(c.x2, c.w - 1) : c.w - 1, y2 = c.rect ? std::min(c.y2, c.h - 1) : c.h - 1;
    for (int v : {c.w, c.h, n, x1, y1, x2, y2}) Put<int32_t>(input, v);
    Put<double>(input, c.sigma);
    const auto px = Pixels(*b);
    input.insert(input.end(), px.begin(), px.end());
    if (c.rect)
      GaussianBlurRect(*b, c.x1, c.y1, c.sigma, c.y2, c.x2);
    else
      GaussianBlur(*b, nullptr, nullptr, c.sigma);
    got.push_back(Pixels(*b));
  }
  std::vector<uint8_t> want;
  std::string log;
  ASSERT_EQ(qvtest::RunOracleScript(std::string(QV_SOURCE_DIR) + "/tests/imaging/core/blur_oracle.py", input, want, &log), 0) << log;
  size_t pos = 0;
  for (size_t i = 0; i < std::size(cases); ++i) {
    ASSERT_LE(pos + got[i].size(), want.size());
    EXPECT_TRUE(std::equal(got[i].begin(), got[i].end(), want.begin() + long(pos))) << "case " << i;
    pos += got[i].size();
  }
}

TEST(GaussianBlur, KernelReachAndWhatItLeavesAlone) {
  TIEGaussianKernel k;
  BuildGaussianKernel(k, 0.3);
  EXPECT_EQ(k.Radius, 1);
  EXPECT_NE(k.Weights[101], 0);
  EXPECT_EQ(k.Weights[102], 0);
  BuildGaussianKernel(k, 40);
  EXPECT_EQ(k.Radius, 100);
  BuildGaussianKernel(k, 0);
  EXPECT_EQ(k.Weights[100], 65536);

  std::vector<uint8_t> row = {0, 0, 255, 0, 0}, out(5);
  BuildGaussianKernel(k, 0);
  BlurRowGray(k, row.data(), out.data(), 5);
  EXPECT_EQ(out, row);

  for (TIEBitmapFormat f : {ie16g, ie1g, ieRGB48}) {
    TIEBitmap b(6, 5, f);
    b.Fill(0);
    b.FillRect(2, 2, 2, 2, 0xFFFFFF);
    const auto before = Pixels(b);
    GaussianBlur(b, nullptr, nullptr, 2);
    EXPECT_EQ(Pixels(b), before) << int(f);
  }
  auto b = Noise(9, 9, 5, ie8g);
  const auto before = Pixels(*b);
  int reports = 0;
  GaussianBlur(*b, nullptr, [&](TObject*, int) { ++reports; }, -1);
  GaussianBlurRect(*b, 0, 0, 0, 8, 8);
  EXPECT_EQ(Pixels(*b), before);
  EXPECT_EQ(reports, 0);
}

// A 14 x 12 picture of (10, 20, 30) with alpha 0 but for an opaque 4 x 4
// block at (4, 3), whose corner is half transparent.
std::unique_ptr<TIEBitmap> Object(TIEBitmapFormat format) {
  auto b = std::make_unique<TIEBitmap>(14, 12, format);
  if (format == ie24RGB)
    b->Fill(0x1E140A);
  else
    b->Fill(format == ie1g ? 1 : 77);
  TIEBitmap& a = *b->AlphaChannel();
  a.Fill(0);
  a.FillRect(4, 3, 7, 6, 255);
  a.SetPixel8(4, 3, 128);
  return b;
}

TEST(SoftShadow, ObjectOverItsBlurredMovedShadowByTable) {
  const uint32_t shadow = 0x00C86432;  // a TColor: red 50, green 100, blue 200
  struct Case {
    TIEBitmapFormat format;
    int intensity;
    double divisor;  // applied to the shadow's alpha outside the object
  };
  const Case cases[] = {
      {ie24RGB, 100, 1}, {ie24RGB, 0, 3}, {ie24RGB, 50, 2}, {ie24RGB, 150, 1},
      {ie1g, 0, 3},      {ie1g, 100, 1},  {ie8g, 0, 1},
  };
  for (const Case& c : cases) {
    auto b = Object(c.format);
    TIEBitmap s;
    s.Assign(b->AlphaChannel());
    GaussianBlur(s, nullptr, nullptr, 1.5);
    int last = -1;
    AddSoftShadow(*b, 2, 1, nullptr, [&](TObject*, int p) { last = p; }, shadow, false, c.intensity, 1.5);
    ASSERT_EQ(b->Width(), 14);
    EXPECT_GT(last, 90);
    const std::string name = std::to_string(int(c.format)) + " at " + std::to_string(c.intensity);
    int shaded = 0;
    for (int y = 0; y < 12; ++y)
      for (int x = 0; x < 14; ++x) {
        const bool inObject = x >= 4 && x <= 7 && y >= 3 && y <= 6;
        const int sv = (x >= 2 && y >= 1) ? s.GetPixel8(x - 2, y - 1) : 0;
        const int alpha = b->GetAlpha(x, y);
        const TRGB p = b->GetPixelAsRGB(x, y);
        // Pictures of other formats only take the shadow's alpha, object included.
        if (c.format == ie8g) {
          EXPECT_EQ(alpha, sv) << name;
          EXPECT_EQ(p, MakeRGB(77, 77, 77)) << name;
          shaded += sv > 0 && !inObject;
          continue;
        }
        if (inObject && !(x == 4 && y == 3)) {
          EXPECT_EQ(alpha, 255) << name;
          EXPECT_EQ(p, Object(c.format)->GetPixelAsRGB(x, y)) << name;
        } else if (!inObject && sv > 0) {
          ++shaded;
          EXPECT_EQ(alpha, int(sv / c.divisor)) << name << " at " << x << "," << y;
          EXPECT_EQ(p, c.format == ie24RGB ? MakeRGB(50, 100, 200) : MakeRGB(0, 0, 0)) << name;
        } else if (!inObject) {
          EXPECT_EQ(alpha, 0) << name;
        }
      }
    EXPECT_GT(shaded, 20) << name;
    // The half transparent corner lies over the shadow: both are mixed.
    const int sv = s.GetPixel8(2, 2);
    const double v = sv / 255.0, o = 128 / 255.0;
    if (c.format == ie24RGB) {
      const int under = int(200 * v + (1 - v) * 30);  // blue
      EXPECT_EQ(b->GetPixelRGB(4, 3).b, int(o * 30 + (1 - o) * under)) << name;
      EXPECT_EQ(b->GetAlpha(4, 3), int((o + v * (1 - o)) * 255)) << name;
    } else {
      EXPECT_EQ(b->GetAlpha(4, 3), c.format == ie1g ? 128 : sv) << name;
    }
  }
}

TEST(SoftShadow, EnlargedCanvasAndObjectShadows) {
  // The canvas grows by 2 x max(|dx|, |dy|) + trunc(5 x radius), the picture centred.
  auto b = Object(ie24RGB);
  b->SetPixelRGB(5, 4, MakeRGB(1, 2, 3));
  AddSoftShadow(*b, 2, -1, nullptr, nullptr, 0, true, 100, 1.5);
  EXPECT_EQ(b->Width(), 14 + 11);
  EXPECT_EQ(b->Height(), 12 + 11);
  EXPECT_EQ(b->GetPixelRGB(5 + 5, 4 + 5), MakeRGB(1, 2, 3));
  EXPECT_EQ(b->GetAlpha(5 + 5, 4 + 5), 255);
  EXPECT_EQ(b->AlphaChannel()->Width(), 25);

  // A 3 x 3 object: with radius 0 a 3 x 3 box blurs it, so the pixel beside
  // the middle of an edge has 3 of its 9 neighbours opaque.
  for (TIEBitmapFormat f : {ie24RGB, ie1g}) {
    TIEBitmap o(40, 40, f);
    o.Fill(f == ie1g ? 1 : 0xFFFFFF);
    o.AlphaChannel()->Fill(0);
    o.AlphaChannel()->FillRect(14, 14, 16, 16, 255);
    EXPECT_EQ(AddObjectSoftShadow(o, 0, 0, RECT{14, 14, 17, 17}, 0, 100, 0), 10);
    EXPECT_EQ(o.GetAlpha(13, 15), 85) << int(f);
    EXPECT_EQ(o.GetPixelAsRGB(13, 15), MakeRGB(0, 0, 0)) << int(f);
    EXPECT_EQ(o.GetAlpha(15, 15), 255) << int(f);
    // Intensity 0 weakens the colour picture's shadow; a 1-bit one keeps it.
    o.AlphaChannel()->Fill(0);
    o.AlphaChannel()->FillRect(14, 14, 16, 16, 255);
    AddObjectSoftShadow(o, 0, 0, RECT{14, 14, 17, 17}, 0, 0, 0);
    EXPECT_EQ(o.GetAlpha(13, 15), f == ie1g ? 85 : 28) << int(f);
  }

  // An offset Gaussian shadow reaches no further than the margin around the object.
  TIEBitmap o(60, 60, ie24RGB);
  o.Fill(0xFFFFFF);
  o.AlphaChannel()->Fill(0);
  o.AlphaChannel()->FillRect(28, 28, 31, 31, 255);
  const int m = AddObjectSoftShadow(o, 3, -2, RECT{28, 28, 32, 32}, 0x0000FF, 100, 1);
  EXPECT_EQ(m, 2 * 3 + 5);
  EXPECT_GT(o.GetAlpha(33, 27), 0);
  EXPECT_EQ(o.GetPixelRGB(33, 27), MakeRGB(255, 0, 0));
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 60; ++x)
      if (x < 28 - m || x > 31 + m || y < 28 - m || y > 31 + m) {
        ASSERT_EQ(o.GetAlpha(x, y), 0) << x << "," << y;
        ASSERT_EQ(o.GetPixelRGB(x, y), MakeRGB(255, 255, 255)) << x << "," << y;
      }
}

}  // namespace
