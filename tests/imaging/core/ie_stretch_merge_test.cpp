// The stretched copy with alpha and the alpha merge: the worked cases, the
// mended faults (wide targets, grey sources, a caller's source left without a
// new alpha channel) and Pillow's compositing and nearest scaling as oracle.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/core/ie_stretch_merge.h"
#include "imaging/core/ie_resample.h"
#include "tests/support/test_support.h"

namespace {

uint32_t gSeed = 12345;
uint8_t Next() { return uint8_t((gSeed = gSeed * 1664525u + 1013904223u) >> 24); }

std::unique_ptr<TIEBitmap> Noise(int w, int h, bool alpha) {
  auto b = std::make_unique<TIEBitmap>(w, h, ie24RGB);
  for (int y = 0; y < h; ++y) {
    uint8_t* p = b->ScanLine(y);
    for (int i = 0; i < 3 * w; ++i) p[i] = Next();
  }
  if (alpha) {
    TIEBitmap* a = b->AlphaChannel();
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) a->SetPixel8(x, y, (x + y) % 5 == 0 ? 0 : (x % 7 == 0 ? 255 : Next()));
    a->SetFull(false);
  }
  return b;
}

void PutRGBA(std::vector<uint8_t>& out, TIEBitmap& b) {
  out.push_back(uint8_t(b.Width()));
  out.push_back(uint8_t(b.Width() >> 8));
  out.push_back(uint8_t(b.Height()));
  out.push_back(uint8_t(b.Height() >> 8));
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      const TRGB p = b.GetPixelRGB(x, y);
      out.insert(out.end(), {p.r, p.g, p.b, b.HasAlphaChannel() ? b.GetAlpha(x, y) : uint8_t(255)});
    }
}

TEST(StretchRectTo, WithoutSourceAlphaFillsTheAlphaValue) {
  auto src = Noise(4, 4, false);
  TIEBitmap dest(10, 10, ie24RGB);
  dest.Fill(0);
  StretchRectTo(*src, dest, 2, 2, 8, 8, 0, 0, 4, 4, rfNone, 200);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) EXPECT_EQ(dest.GetAlpha(x, y), (x >= 2 && y >= 2) ? 200 : 255) << x << "," << y;
  EXPECT_EQ(dest.GetPixelRGB(9, 9).r, src->GetPixelRGB(3, 3).r);
}

TEST(StretchRectTo, GreySourceWritesItsColourThroughA24BitCopy) {
  // The grey pixels reach the destination as grey (the old copy wrote alpha
  // only), and the source's alpha is capped by the value given.
  TIEBitmap src(3, 1, ie8g);
  src.SetPixel8(0, 0, 10);
  src.SetPixel8(1, 0, 128);
  src.SetPixel8(2, 0, 250);
  TIEBitmap* a = src.AlphaChannel();
  a->SetPixel8(0, 0, 0);
  a->SetPixel8(1, 0, 100);
  a->SetPixel8(2, 0, 255);
  a->SetFull(false);
  TIEBitmap dest(3, 1, ie24RGB);
  dest.Fill(0);
  StretchRectTo(src, dest, 0, 0, 3, 1, 0, 0, 3, 1, rfNone, 150);
  const int grey[] = {10, 128, 250}, alpha[] = {0, 100, 150};
  for (int x = 0; x < 3; ++x) {
    const TRGB p = dest.GetPixelRGB(x, 0);
    EXPECT_EQ(p.r, grey[x]);
    EXPECT_EQ(p.g, grey[x]);
    EXPECT_EQ(p.b, grey[x]);
    EXPECT_EQ(dest.GetAlpha(x, 0), alpha[x]);
  }
  EXPECT_EQ(src.PixelFormat(), ie8g);
}

TEST(StretchRectTo, OneBitSourceWritesBlackAndWhite) {
  TIEBitmap src(8, 1, ie1g);
  src.ScanLine(0)[0] = 0xA0;  // columns 0 and 2 white
  TIEBitmap dest(4, 1, ie24RGB);
  StretchRectTo(src, dest, 0, 0, 4, 1, 0, 0, 4, 1, rfNone, 255);
  EXPECT_EQ(dest.GetPixelRGB(0, 0).g, 255);
  EXPECT_EQ(dest.GetPixelRGB(1, 0).g, 0);
  EXPECT_EQ(dest.GetPixelRGB(2, 0).g, 255);
}

TEST(StretchRectTo, WideTargetOfAnEightTimesWiderSource) {
  // 30,000 target columns read every eighth source column: a 32-bit column
  // map overflows past 16,384 columns.
  const int tw = 30000, sw = tw * 8;
  TIEBitmap src(sw, 1, ie24RGB);
  uint8_t* s = src.ScanLine(0);
  for (int x = 0; x < sw; ++x) {
    s[3 * x] = uint8_t(x / 8);
    s[3 * x + 1] = uint8_t(x / 2048);
    s[3 * x + 2] = uint8_t(x % 8);
  }
  TIEBitmap dest(tw, 1, ie24RGB);
  StretchRectTo(src, dest, 0, 0, tw, 1, 0, 0, sw, 1, rfNone, 255);
  for (int x = 0; x < tw; ++x) {
    const uint8_t* d = dest.ScanLine(0) + 3 * x;
    ASSERT_EQ(d[0], uint8_t(x)) << x;
    ASSERT_EQ(d[1], uint8_t(x * 8 / 2048)) << x;
    ASSERT_EQ(d[2], 0) << x;
  }
}

TEST(StretchRectTo, FilteredScalingCarriesAlpha) {
  auto src = Noise(20, 20, true);
  TIEBitmap dest(10, 10, ie24RGB);
  dest.Fill(0);
  StretchRectTo(*src, dest, 0, 0, 10, 10, 0, 0, 20, 20, rfTriangle, 255);
  TIEBitmap direct(10, 10, ie24RGB);
  ResampleIEBitmap(src.get(), &direct, rfTriangle);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) {
      ASSERT_EQ(dest.GetPixelRGB(x, y).g, direct.GetPixelRGB(x, y).g);
      ASSERT_EQ(dest.GetAlpha(x, y), direct.GetAlpha(x, y));
    }
}

TEST(MergeWithAlpha, WorkedCases) {
  TIEBitmap dest(4, 1, ie24RGB);
  for (int x = 0; x < 4; ++x) dest.SetPixelRGB(x, 0, MakeRGB(10, 20, 30));
  TIEBitmap* da = dest.AlphaChannel();
  da->SetPixel8(0, 0, 200);
  da->SetPixel8(1, 0, 0);
  da->SetPixel8(2, 0, 90);
  da->SetPixel8(3, 0, 255);
  TIEBitmap src(4, 1, ie24RGB);
  for (int x = 0; x < 4; ++x) src.SetPixelRGB(x, 0, MakeRGB(200, 100, 50));
  TIEBitmap* sa = src.AlphaChannel();
  sa->SetPixel8(0, 0, 0);    // transparent: destination unchanged
  sa->SetPixel8(1, 0, 0);    // ... over a transparent one: the blended pixel, alpha 0
  sa->SetPixel8(2, 0, 255);  // opaque: replaces, alpha 255
  sa->SetPixel8(3, 0, 128);
  sa->SetFull(false);
  MergeWithAlpha(dest, src, 0, 0);
  EXPECT_EQ(dest.GetPixelRGB(0, 0).r, 10);
  EXPECT_EQ(dest.GetAlpha(0, 0), 200);
  EXPECT_EQ(dest.GetPixelRGB(1, 0).r, 200);
  EXPECT_EQ(dest.GetAlpha(1, 0), 0);
  EXPECT_EQ(dest.GetPixelRGB(2, 0).r, 200);
  EXPECT_EQ(dest.GetAlpha(2, 0), 255);
  // c = 128/255: 200c + 10(1 - c) = 105.4
  EXPECT_EQ(dest.GetPixelRGB(3, 0).r, 105);
  EXPECT_EQ(dest.GetAlpha(3, 0), 255);
}

TEST(MergeWithAlpha, NegativePositionTakesColumnsFromTheSource) {
  TIEBitmap dest(4, 2, ie24RGB);
  dest.Fill(0);
  TIEBitmap src(6, 2, ie24RGB);
  for (int x = 0; x < 6; ++x)
    for (int y = 0; y < 2; ++y) src.SetPixelRGB(x, y, MakeRGB(uint8_t(x * 10), 0, 0));
  MergeWithAlpha(dest, src, -3, 0);
  EXPECT_EQ(dest.GetPixelRGB(0, 0).r, 30);
  EXPECT_EQ(dest.GetPixelRGB(2, 1).r, 50);
  EXPECT_EQ(dest.GetPixelRGB(3, 0).r, 0);  // past the source's end
  // The caller's source gains no alpha channel.
  EXPECT_FALSE(src.HasAlphaChannel());
}

TEST(MergeWithAlpha, NonRGBDestinationIsLeftAlone) {
  TIEBitmap dest(3, 3, ie8g);
  dest.Fill(7);
  TIEBitmap src(3, 3, ie24RGB);
  src.Fill(200);
  MergeWithAlpha(dest, src, 0, 0);
  EXPECT_EQ(dest.GetPixel8(1, 1), 7);
  EXPECT_FALSE(dest.HasAlphaChannel());
}

TEST(MergeWithAlpha, ResizeScalesTheSourceFirst) {
  TIEBitmap dest(8, 8, ie24RGB);
  dest.Fill(0);
  TIEBitmap src(2, 2, ie24RGB);
  src.Fill(255);
  MergeWithAlpha(dest, src, 0, 0, 4, 4, 0, 0, true, rfNone);
  EXPECT_EQ(dest.GetPixelRGB(3, 3).r, 255);
  EXPECT_EQ(dest.GetPixelRGB(4, 4).r, 0);
}

TEST(StretchMergeOracle, MergeEqualsPillowAlphaCompositeAndStretchItsNearest) {
  if (qvtest::RunCommand("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") != 0) GTEST_SKIP() << "no Pillow";
  std::vector<uint8_t> in;
  const int cases = 5;
  in.insert(in.end(), {uint8_t(cases), 0, 0, 0});
  // Alpha composite: two pictures of 37 x 23, with and without alpha.
  std::vector<std::unique_ptr<TIEBitmap>> bases, layers;
  for (int k = 0; k < 3; ++k) {
    bases.push_back(Noise(37, 23, k != 1));
    layers.push_back(Noise(37, 23, k != 2));
    in.push_back(0);
    PutRGBA(in, *bases.back());
    PutRGBA(in, *layers.back());
  }
  // Nearest at 2 and 3 times.
  auto small = Noise(13, 7, false);
  for (int f : {2, 3}) {
    in.push_back(1);
    PutRGBA(in, *small);
    in.insert(in.end(), {uint8_t(13 * f), 0, uint8_t(7 * f), 0});
  }
  std::vector<uint8_t> out;
  std::string log;
  ASSERT_EQ(qvtest::RunOracleScript(std::string(QV_SOURCE_DIR) + "/tests/imaging/core/stretch_merge_oracle.py", in,
                                    out, &log),
            0)
      << log;
  size_t pos = 0;
  auto check = [&](TIEBitmap& got, int tolerance, const char* what) {
    const int w = out[pos] | out[pos + 1] << 8, h = out[pos + 2] | out[pos + 3] << 8;
    pos += 4;
    ASSERT_EQ(w, got.Width());
    ASSERT_EQ(h, got.Height());
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x, pos += 4) {
        const TRGB p = got.GetPixelRGB(x, y);
        const uint8_t a = got.HasAlphaChannel() ? got.GetAlpha(x, y) : 255;
        ASSERT_LE(std::abs(int(a) - out[pos + 3]), tolerance) << what << " alpha " << x << "," << y;
        if (out[pos + 3] == 0) continue;  // Pillow leaves colour undefined under alpha 0
        ASSERT_LE(std::abs(int(p.r) - out[pos]), tolerance) << what << " " << x << "," << y;
        ASSERT_LE(std::abs(int(p.g) - out[pos + 1]), tolerance) << what << " " << x << "," << y;
        ASSERT_LE(std::abs(int(p.b) - out[pos + 2]), tolerance) << what << " " << x << "," << y;
      }
  };
  for (int k = 0; k < 3; ++k) {
    MergeWithAlpha(*bases[size_t(k)], *layers[size_t(k)], 0, 0);
    check(*bases[size_t(k)], 1, "merge");
  }
  for (int f : {2, 3}) {
    TIEBitmap dest(13 * f, 7 * f, ie24RGB);
    StretchRectTo(*small, dest, 0, 0, 13 * f, 7 * f, 0, 0, 13, 7, rfNone, 255);
    check(dest, 0, "stretch");
  }
}

}  // namespace
