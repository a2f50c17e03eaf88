#include "imaging/core/ie_pixel_convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>

#include "imaging/core/ie_colorspace.h"
#include "imaging/core/ie_memory.h"
#include "tests/support/test_support.h"

namespace {

constexpr TIEBitmapFormat kFormats[] = {ieNoFormat, ie1g,  ie8p,    ie8g,     ie16g,  ie24RGB,
                                        ie32f,      ieCMYK, ieRGB48, ieCIELab, ie32RGB};

// Writes black (v false) or white into pixel x of row y, as each format stores it.
void PutBW(TIEBitmap& b, int x, int y, bool white) {
  uint8_t* row = b.ScanLine(y);
  switch (b.PixelFormat()) {
    case ie1g:
      if (white) row[x >> 3] |= kIEBitMask[x & 7];
      else row[x >> 3] &= static_cast<uint8_t>(~kIEBitMask[x & 7]);
      break;
    case ie8p:
      b.SetPaletteColor(0, TRGB{0, 0, 0});
      b.SetPaletteColor(1, TRGB{255, 255, 255});
      row[x] = white ? 1 : 0;
      break;
    case ie8g: row[x] = white ? 255 : 0; break;
    case ie16g: reinterpret_cast<uint16_t*>(row)[x] = white ? 65535 : 0; break;
    case ie24RGB: std::memset(row + 3 * x, white ? 255 : 0, 3); break;
    case ie32f: reinterpret_cast<float*>(row)[x] = white ? 1.0f : 0.0f; break;
    // Inverted inks: white is no ink at all, black is full black ink.
    case ieCMYK: {
      const uint8_t v[4] = {255, 255, 255, uint8_t(white ? 255 : 0)};
      std::memcpy(row + 4 * x, v, 4);
      break;
    }
    case ieRGB48: {
      const uint16_t v = white ? 65535 : 0;
      const uint16_t w[3] = {v, v, v};
      std::memcpy(row + 6 * x, w, 6);
      break;
    }
    case ieCIELab: {
      const uint8_t v[3] = {uint8_t(white ? 255 : 0), 0, 0};
      std::memcpy(row + 3 * x, v, 3);
      break;
    }
    case ie32RGB: std::memset(row + 4 * x, white ? 255 : 0, 4); break;
    default: break;
  }
}

std::string Name(TIEBitmapFormat f) { return std::to_string(int(f)); }

TEST(PixelConvert, EveryPairKeepsBlackAndWhiteAndAlpha) {
  for (TIEBitmapFormat from : kFormats)
    for (TIEBitmapFormat to : kFormats) {
      SCOPED_TRACE("from " + Name(from) + " to " + Name(to));
      TIEBitmap b;
      b.SetLocation(ieMemory);
      if (from != ieNoFormat) {
        ASSERT_TRUE(b.Allocate(9, 2, from));
        for (int y = 0; y < 2; ++y)
          for (int x = 0; x < 9; ++x) PutBW(b, x, y, (x + y) % 2 == 1);
        b.AlphaChannel()->SetPixel8(3, 1, 77);
      }
      ASSERT_TRUE(b.ConvertToPixelFormat(to));
      EXPECT_EQ(b.PixelFormat(), to);
      if (from == ieNoFormat || to == ieNoFormat) continue;
      ASSERT_EQ(b.Width(), 9);
      ASSERT_EQ(b.Height(), 2);
      for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 9; ++x) {
          const TRGB p = b.GetPixelAsRGB(x, y);
          const int want = (x + y) % 2 == 1 ? 255 : 0;
          EXPECT_NEAR(p.r, want, 1) << x << "," << y;
          EXPECT_NEAR(p.g, want, 1) << x << "," << y;
          EXPECT_NEAR(p.b, want, 1) << x << "," << y;
        }
      ASSERT_TRUE(b.HasAlphaChannel());
      EXPECT_EQ(b.AlphaChannel()->GetPixel8(3, 1), 77);
      EXPECT_EQ(b.AlphaChannel()->GetPixel8(4, 1), 255);
    }
}

// Pairs whose second format holds every value of the first: there and back
// gives the same bytes.
TEST(PixelConvert, LosslessRoundTrips) {
  struct Case {
    TIEBitmapFormat a, b;
    bool grey;
  };
  const Case cases[] = {{ie24RGB, ie32RGB, false}, {ie24RGB, ieRGB48, false}, {ie8g, ie16g, true},
                        {ie8g, ie24RGB, true},     {ie8g, ie32f, true},       {ie8g, ieRGB48, true},
                        {ie16g, ie32f, true},      {ie16g, ieRGB48, true},    {ie8g, ie32RGB, true},
                        {ie1g, ie8g, true},        {ie1g, ie24RGB, true},     {ie8p, ie24RGB, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(Name(c.a) + " <-> " + Name(c.b));
    TIEBitmap b(17, 3, c.a);
    TIEBitmap original;
    const int64_t used = (int64_t(b.Width()) * b.BitCount() + 7) / 8;
    uint32_t seed = 12345;
    for (int y = 0; y < 3; ++y) {
      uint8_t* row = b.ScanLine(y);
      for (int64_t i = 0; i < used; ++i) {
        seed = seed * 1103515245 + 12345;
        row[i] = uint8_t(seed >> 16);
      }
      if (c.a == ie1g && b.Width() % 8) row[used - 1] &= uint8_t(0xFF << (8 - b.Width() % 8));
    }
    if (c.a == ie8p) {
      // Few distinct colours, so the palette comes back exactly.
      for (int i = 0; i < 256; ++i) b.SetPaletteColor(i, MakeRGB(uint8_t(i % 7 * 30), uint8_t(i % 5 * 50), 9));
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 17; ++x) b.ScanLine(y)[x] = uint8_t(x % 4);
    }
    original.Assign(&b);
    ASSERT_TRUE(b.ConvertToPixelFormat(c.b));
    ASSERT_TRUE(b.ConvertToPixelFormat(c.a));
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 17; ++x) {
        const TRGB p = b.GetPixelAsRGB(x, y), q = original.GetPixelAsRGB(x, y);
        ASSERT_EQ(p, q) << x << "," << y;
      }
    // Padding bits of a 1-bit row are not part of the picture.
    if (c.a != ie8p && c.a != ie1g)
      for (int y = 0; y < 3; ++y) EXPECT_EQ(std::memcmp(b.ScanLine(y), original.ScanLine(y), size_t(used)), 0);
  }
}

TEST(PixelConvert, WorkedValues) {
  // White to 16-bit grey and float.
  TIEBitmap w(1, 1, ie24RGB);
  w.Fill(0xFFFFFF);
  TIEBitmap g16(1, 1, ie16g), f(1, 1, ie32f);
  g16.ConvertFrom(w);
  f.ConvertFrom(w);
  EXPECT_EQ(g16.GetPixel16(0, 0), 65535);
  EXPECT_NEAR(f.GetPixelFloat(0, 0), 1.0, 1e-6);
  // 8-bit grey stretched by a range of 100..200 into colour.
  TIEBitmap g(4, 1, ie8g);
  const uint8_t v[4] = {50, 100, 150, 250};
  std::memcpy(g.ScanLine(0), v, 4);
  g.SetRange(100, 200);
  ASSERT_TRUE(g.ConvertToPixelFormat(ie24RGB));
  EXPECT_EQ(g.GetPixelRGB(0, 0).r, 0);
  EXPECT_EQ(g.GetPixelRGB(1, 0).r, 0);
  EXPECT_EQ(g.GetPixelRGB(2, 0).r, 127);
  EXPECT_EQ(g.GetPixelRGB(3, 0).r, 255);
  EXPECT_EQ(g.RangeMin(), 0);
  EXPECT_EQ(g.RangeMax(), 0);
  // Plain CMYK formula on stored bytes: (255,255,255,255) white, (255,255,255,0) black.
  TIEBitmap c(2, 1, ieCMYK);
  c.SetPixelCMYK(0, 0, TCMYK{255, 255, 255, 255});
  c.SetPixelCMYK(1, 0, TCMYK{255, 255, 255, 0});
  EXPECT_EQ(c.GetPixelAsRGB(0, 0), MakeRGB(255, 255, 255));
  EXPECT_EQ(c.GetPixelAsRGB(1, 0), MakeRGB(0, 0, 0));
  // Pure red to CMYK without profiles: C 255, M 0, Y 0, K 255 stored.
  TIEBitmap red(1, 1, ie24RGB);
  red.SetPixelRGB(0, 0, MakeRGB(255, 0, 0));
  ASSERT_TRUE(red.ConvertToPixelFormat(ieCMYK));
  EXPECT_EQ(red.GetPixelCMYK(0, 0), (TCMYK{255, 0, 0, 255}));
}

TEST(PixelConvert, OutOfRangeFloatsClampInsteadOfWrapping) {
  TIEBitmap f(3, 1, ie32f);
  f.SetPixelFloat(0, 0, 1.2f);
  f.SetPixelFloat(1, 0, -0.5f);
  f.SetPixelFloat(2, 0, 0.5f);
  for (TIEBitmapFormat to : {ie8g, ie16g, ie24RGB, ieRGB48}) {
    SCOPED_TRACE(Name(to));
    TIEBitmap c;
    c.Assign(&f);
    ASSERT_TRUE(c.ConvertToPixelFormat(to));
    EXPECT_EQ(c.GetPixelAsRGB(0, 0).g, 255);
    EXPECT_EQ(c.GetPixelAsRGB(1, 0).g, 0);
    EXPECT_EQ(c.GetPixelAsRGB(2, 0).g, 127);
  }
}

TEST(PixelConvert, OrderedDitherOfMidGreySetsHalfThePixels) {
  TIEBitmap b(8, 8, ie24RGB);
  b.Fill(0x808080);
  b.SetBWConversion(0);
  ASSERT_TRUE(b.ConvertToPixelFormat(ie1g));
  int set = 0;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const bool white = b.ScanLine(y)[x >> 3] & kIEBitMask[x & 7];
      EXPECT_EQ(white, kIEDitherMatrix[x][y] < 32);
      set += white;
    }
  EXPECT_EQ(set, 32);
}

TEST(PixelConvert, ThresholdSplitsAtTheMeanGrey) {
  TIEBitmap b(4, 1, ie8g);
  const uint8_t v[4] = {10, 20, 200, 210};  // mean 110
  std::memcpy(b.ScanLine(0), v, 4);
  ASSERT_TRUE(b.ConvertToPixelFormat(ie1g));
  EXPECT_EQ(b.ScanLine(0)[0] & 0xF0, 0x30);
}

TEST(PixelConvert, PaletteReductionMapsEveryPixelToItsColour) {
  TIEBitmap b(16, 16, ie24RGB);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) b.SetPixelRGB(x, y, MakeRGB(uint8_t(x * 16), uint8_t(y * 16), 128));
  TIEBitmap exact;
  exact.Assign(&b);
  ASSERT_TRUE(exact.ConvertToPixelFormat(ie8p));  // 256 colours: exact
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) ASSERT_EQ(exact.GetPixelAsRGB(x, y), b.GetPixelRGB(x, y));
  b.SetPaletteColorCount(16);
  ASSERT_TRUE(b.ConvertToPixelFormat(ie8p));
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      EXPECT_LT(b.ScanLine(y)[x], 16);
      EXPECT_NEAR(b.GetPixelAsRGB(x, y).r, x * 16, 40);
    }
}

TEST(PixelConvert, FailedAllocationKeepsThePicture) {
  TIEBitmap b(5, 5, ie24RGB);
  b.SetLocation(ieMemory);
  b.Fill(0x123456);
  IEAllocationFaultHook = [](int64_t) { return true; };
  const bool ok = b.ConvertToPixelFormat(ieRGB48);
  IEAllocationFaultHook = nullptr;
  EXPECT_FALSE(ok);
  EXPECT_EQ(b.PixelFormat(), ie24RGB);
  ASSERT_EQ(b.Width(), 5);
  EXPECT_EQ(b.GetPixelRGB(4, 4), MakeRGB(0x56, 0x34, 0x12));
}

TEST(PixelConvert, SourceIsNotChangedByPairsThroughColour) {
  TIEBitmap g(3, 1, ie16g);
  g.SetPixel16(0, 0, 1000);
  g.SetPixel16(1, 0, 40000);
  TIEBitmap lab(3, 1, ieCIELab);
  lab.ConvertFrom(g);
  EXPECT_EQ(g.PixelFormat(), ie16g);
  EXPECT_EQ(g.GetPixel16(1, 0), 40000);
}

TEST(PixelConvert, GreyToPaletteGivesTheRamp) {
  TIEBitmap b(3, 1, ie8g);
  const uint8_t v[3] = {0, 77, 255};
  std::memcpy(b.ScanLine(0), v, 3);
  ASSERT_TRUE(b.ConvertToPixelFormat(ie8p));
  EXPECT_EQ(std::memcmp(b.ScanLine(0), v, 3), 0);
  for (int i = 0; i < 256; i += 51) EXPECT_EQ(b.Palette()[i], MakeRGB(uint8_t(i), uint8_t(i), uint8_t(i)));
}

TEST(PixelConvert, CIELabRoundTripKeepsColours) {
  for (int r = 0; r < 256; r += 17)
    for (int g = 0; g < 256; g += 51)
      for (int bl = 0; bl < 256; bl += 85) {
        const TCIELab l = CIELabOf(MakeRGB(uint8_t(r), uint8_t(g), uint8_t(bl)));
        const TRGB back = ConvertCIELabToRGB(l.l, l.a, l.b);
        // The bytes truncate a and b to whole units, so colours near the edge of
        // the gamut move in RGB; in Lab both ways agree to about a unit when
        // they share one white point.
        const TCIELab again = CIELabOf(back);
        EXPECT_NEAR(again.l, l.l, 2) << r << " " << g << " " << bl;
        EXPECT_NEAR(again.a, l.a, 2) << r << " " << g << " " << bl;
        EXPECT_NEAR(again.b, l.b, 2) << r << " " << g << " " << bl;
      }
  // Grey stays grey: a white point that differs one way tints it.
  const TCIELab grey = CIELabOf(MakeRGB(128, 128, 128));
  EXPECT_EQ(grey.a, 0);
  EXPECT_EQ(grey.b, 0);
  const TRGB back = ConvertCIELabToRGB(grey.l, 0, 0);
  EXPECT_NEAR(back.r, 128, 1);
  EXPECT_EQ(back.r, back.b);
}

TEST(PixelConvertOracle, CIELabMatchesScikitImage) {
  // Debian's scikit-image lives with the system interpreter.
  const std::string python = std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
  if (qvtest::RunCommand(python + " -c 'import skimage.color' 2>/dev/null") != 0)
    GTEST_SKIP() << "scikit-image missing";
  std::ostringstream colours;
  std::vector<TRGB> list;
  for (int r = 0; r < 256; r += 51)
    for (int g = 0; g < 256; g += 85)
      for (int b = 0; b < 256; b += 85) {
        list.push_back(MakeRGB(uint8_t(r), uint8_t(g), uint8_t(b)));
        colours << r << "," << g << "," << b << ";";
      }
  const std::string script =
      "import sys,numpy as n,skimage.color as c\n"
      "v=[[int(t) for t in s.split(',')] for s in sys.argv[1].split(';') if s]\n"
      "a=c.rgb2lab(n.array([v],dtype=float)/255.0)[0]\n"
      "print(' '.join('%.6f,%.6f,%.6f'%tuple(x) for x in a))\n";
  qvtest::TempDir dir;
  const std::string py = dir.File("lab.py");
  qvtest::WriteFileBytes(py, std::vector<uint8_t>(script.begin(), script.end()));
  std::string out;
  ASSERT_EQ(qvtest::RunCommand(python + " " + py + " '" + colours.str() + "'", &out), 0);
  std::istringstream in(out);
  for (const TRGB& p : list) {
    double L, A, B;
    char comma;
    ASSERT_TRUE(in >> L >> comma >> A >> comma >> B);
    const TCIELab l = CIELabOf(p);
    EXPECT_NEAR(l.l, L * 2.55, 1) << int(p.r) << " " << int(p.g) << " " << int(p.b);
    EXPECT_NEAR(l.a, A, 1) << int(p.r) << " " << int(p.g) << " " << int(p.b);
    EXPECT_NEAR(l.b, B, 1) << int(p.r) << " " << int(p.g) << " " << int(p.b);
  }
}

TEST(PixelConvert, FileBackedPicturesConvertRowByRow) {
  TIEBitmap b;
  b.SetMemoryLimit(0);
  b.SetLocation(ieFile);
  ASSERT_TRUE(b.Allocate(7, 5, ie24RGB));
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) b.SetPixelRGB(x, y, MakeRGB(uint8_t(x * 30), uint8_t(y * 40), 5));
  ASSERT_TRUE(b.ConvertToPixelFormat(ieRGB48));
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) {
      const TRGB48 p = b.GetPixelRGB48(x, y);
      EXPECT_EQ(p.r, x * 30 * 257);
      EXPECT_EQ(p.g, y * 40 * 257);
    }
}

}  // namespace
