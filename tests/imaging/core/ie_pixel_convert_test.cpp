#include "imaging/core/ie_pixel_convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>

#include "imaging/core/ie_colorspace.h"
#include "imaging/core/ie_icc.h"
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
    if (c.a != ie8p && c.a != ie1g) {
      for (int y = 0; y < 3; ++y) EXPECT_EQ(std::memcmp(b.ScanLine(y), original.ScanLine(y), size_t(used)), 0);
    }
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

// The system interpreter carries Debian's scikit-image and Pillow.
const char* const kPython = "/usr/bin/python3";
bool PythonHas(const std::string& module) {
  return qvtest::RunCommand(std::string(kPython) + " -c 'import " + module + "' 2>/dev/null") == 0;
}
// Runs a script with one argument; false when it fails.
bool RunPython(const std::string& script, const std::string& argument, std::string* out) {
  qvtest::TempDir dir;
  const std::string py = dir.File("oracle.py");
  qvtest::WriteFileBytes(py, std::vector<uint8_t>(script.begin(), script.end()));
  return qvtest::RunCommand(std::string(kPython) + " " + py + " '" + argument + "'", out) == 0;
}

TEST(PixelConvertOracle, CIELabMatchesScikitImage) {
  if (!PythonHas("skimage.color")) GTEST_SKIP() << "scikit-image missing";
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
  std::string out;
  ASSERT_TRUE(RunPython(script, colours.str(), &out));
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

// Four pixels of known value in each format, with the colour each stands for
// (worked out by hand from the format's definition).
struct KnownPicture {
  TIEBitmapFormat format;
  TRGB colour[4];
};

void FillKnown(TIEBitmap& b) {
  uint8_t* row = b.ScanLine(0);
  switch (b.PixelFormat()) {
    case ie1g: row[0] = 0xB0; break;  // white, black, white, white
    case ie8p:
      b.SetPaletteColor(0, MakeRGB(10, 20, 30));
      b.SetPaletteColor(1, MakeRGB(200, 100, 50));
      b.SetPaletteColor(2, MakeRGB(0, 0, 0));
      b.SetPaletteColor(3, MakeRGB(255, 255, 255));
      for (int x = 0; x < 4; ++x) row[x] = uint8_t(x);
      break;
    case ie8g: {
      const uint8_t v[4] = {0, 77, 128, 255};
      std::memcpy(row, v, 4);
      break;
    }
    case ie16g: {
      const uint16_t v[4] = {0, 19789, 32896, 65535};
      std::memcpy(row, v, 8);
      break;
    }
    case ie24RGB: {
      const TRGB v[4] = {MakeRGB(0, 0, 0), MakeRGB(255, 0, 0), MakeRGB(12, 34, 56), MakeRGB(200, 150, 100)};
      std::memcpy(row, v, 12);
      break;
    }
    case ie32f: {
      const float v[4] = {0.0f, 0.25f, 0.5f, 1.0f};
      std::memcpy(row, v, 16);
      break;
    }
    case ieCMYK: {
      const TCMYK v[4] = {{255, 255, 255, 255}, {255, 255, 255, 0}, {200, 100, 50, 128}, {0, 255, 255, 255}};
      std::memcpy(row, v, 16);
      break;
    }
    case ieRGB48: {
      const TRGB48 v[4] = {{0, 0, 0}, {65535, 0, 0}, {1000, 30000, 60000}, {51400, 38550, 25700}};
      std::memcpy(row, v, 24);
      break;
    }
    case ieCIELab: {
      const TCIELab v[4] = {{0, 0, 0}, {255, 0, 0}, {128, 20, -30}, {200, -10, 40}};
      std::memcpy(row, v, 12);
      break;
    }
    case ie32RGB: {
      const uint8_t v[16] = {56, 34, 12, 0, 0, 0, 255, 7, 100, 150, 200, 9, 255, 255, 255, 0};
      std::memcpy(row, v, 16);
      break;
    }
    default: break;
  }
}

const KnownPicture kKnown[] = {
    {ie1g, {MakeRGB(255, 255, 255), MakeRGB(0, 0, 0), MakeRGB(255, 255, 255), MakeRGB(255, 255, 255)}},
    {ie8p, {MakeRGB(10, 20, 30), MakeRGB(200, 100, 50), MakeRGB(0, 0, 0), MakeRGB(255, 255, 255)}},
    {ie8g, {MakeRGB(0, 0, 0), MakeRGB(77, 77, 77), MakeRGB(128, 128, 128), MakeRGB(255, 255, 255)}},
    {ie16g, {MakeRGB(0, 0, 0), MakeRGB(77, 77, 77), MakeRGB(128, 128, 128), MakeRGB(255, 255, 255)}},
    {ie24RGB, {MakeRGB(0, 0, 0), MakeRGB(255, 0, 0), MakeRGB(12, 34, 56), MakeRGB(200, 150, 100)}},
    {ie32f, {MakeRGB(0, 0, 0), MakeRGB(63, 63, 63), MakeRGB(127, 127, 127), MakeRGB(255, 255, 255)}},
    // Inverted inks by the plain formula: red = C x K / 255 and so on.
    {ieCMYK, {MakeRGB(255, 255, 255), MakeRGB(0, 0, 0), MakeRGB(100, 50, 25), MakeRGB(0, 255, 255)}},
    {ieRGB48, {MakeRGB(0, 0, 0), MakeRGB(255, 0, 0), MakeRGB(3, 117, 234), MakeRGB(200, 150, 100)}},
    {ieCIELab, {MakeRGB(0, 0, 0), MakeRGB(255, 255, 255), ConvertCIELabToRGB(128, 20, -30), ConvertCIELabToRGB(200, -10, 40)}},
    {ie32RGB, {MakeRGB(12, 34, 56), MakeRGB(255, 0, 0), MakeRGB(200, 150, 100), MakeRGB(255, 255, 255)}},
};

int Grey8Of(TRGB p) { return (p.r * 21 + p.g * 71 + p.b * 8) / 100; }

// Every pair of formats on the known pictures: what the target keeps of each
// colour, read back as 8-bit colour, and the source left as it was.
TEST(PixelConvert, EveryPairGivesTheKnownValues) {
  ASSERT_FALSE(EnsureCMYKProfiles());  // the CMYK formulas, not a printer profile
  for (const KnownPicture& k : kKnown)
    for (int t = 1; t < kIEFormatCount; ++t) {
      const TIEBitmapFormat to = TIEBitmapFormat(t);
      SCOPED_TRACE("from " + Name(k.format) + " to " + Name(to));
      TIEBitmap src(4, 1, k.format);
      FillKnown(src);
      const std::vector<uint8_t> before(src.ScanLine(0), src.ScanLine(0) + src.RowLen());
      TIEBitmap dst(4, 1, to);
      dst.ConvertFrom(src);
      EXPECT_EQ(std::vector<uint8_t>(src.ScanLine(0), src.ScanLine(0) + src.RowLen()), before);
      // Threshold of black and white: the grey of the mean colour.
      int sr = 0, sg = 0, sb = 0;
      for (const TRGB& c : k.colour) {
        sr += c.r;
        sg += c.g;
        sb += c.b;
      }
      const int threshold = Grey8Of(MakeRGB(uint8_t(sr / 4), uint8_t(sg / 4), uint8_t(sb / 4)));
      for (int x = 0; x < 4; ++x) {
        const TRGB want = k.colour[x], got = dst.GetPixelAsRGB(x, 0);
        const int grey = Grey8Of(want);
        switch (to) {
          case ie1g: {
            const uint8_t v = grey >= threshold ? 255 : 0;
            EXPECT_EQ(got, MakeRGB(v, v, v)) << x;
            break;
          }
          case ie8g: EXPECT_EQ(got, MakeRGB(uint8_t(grey), uint8_t(grey), uint8_t(grey))) << x; break;
          // Finer greys weigh the channels 0.2126, 0.7152, 0.0722.
          case ie16g:
          case ie32f:
            EXPECT_NEAR(got.g, grey, 1) << x;
            EXPECT_EQ(got.r, got.g);
            break;
          // The stored inks are exactly the formula's (a CMYK source is copied
          // as it is), and read back by the formula. Both divisions round
          // down, so a channel comes back at most one step darker.
          case ieCMYK: {
            const TCMYK inks = k.format == ieCMYK ? src.GetPixelCMYK(x, 0) : RGBToCMYKPlain(want);
            EXPECT_EQ(dst.GetPixelCMYK(x, 0), inks) << x;
            TRGB back;
            CMYKToRGBRowPlain(&inks, &back, 1);
            EXPECT_EQ(got, back) << x;
            EXPECT_LE(want.r - got.r, 1) << x;
            EXPECT_LE(want.g - got.g, 1) << x;
            EXPECT_LE(want.b - got.b, 1) << x;
            EXPECT_GE(want.r - got.r, 0) << x;
            EXPECT_GE(want.g - got.g, 0) << x;
            EXPECT_GE(want.b - got.b, 0) << x;
            break;
          }
          // The stored L, a, b are exactly the formula's and read back by the
          // formula; a and b kept in whole units move these colours by up to 4
          // steps (cyan the most).
          case ieCIELab: {
            const TCIELab lab = k.format == ieCIELab ? *reinterpret_cast<TCIELab*>(src.PixelAddress(0, x)) : CIELabOf(want);
            EXPECT_EQ(*reinterpret_cast<TCIELab*>(dst.PixelAddress(0, x)), lab) << x;
            EXPECT_EQ(got, ConvertCIELabToRGB(lab.l, lab.a, lab.b)) << x;
            EXPECT_NEAR(got.r, want.r, 4) << x;
            EXPECT_NEAR(got.g, want.g, 4) << x;
            EXPECT_NEAR(got.b, want.b, 4) << x;
            break;
          }
          default: EXPECT_EQ(got, want) << x; break;  // 8p, 24RGB, RGB48, 32RGB keep every colour
        }
      }
    }
}

// The raw samples of one colour in each target, worked out by hand.
TEST(PixelConvert, ColourToEveryFormatByHand) {
  TIEBitmap src(1, 1, ie24RGB);
  src.SetPixelRGB(0, 0, MakeRGB(200, 150, 100));
  TIEBitmap g8(1, 1, ie8g), g16(1, 1, ie16g), f(1, 1, ie32f), c(1, 1, ieCMYK), w(1, 1, ieRGB48), q(1, 1, ie32RGB);
  for (TIEBitmap* d : {&g8, &g16, &f, &c, &w, &q}) d->ConvertFrom(src);
  EXPECT_EQ(g8.GetPixel8(0, 0), 156);       // (4200 + 10650 + 800) div 100
  EXPECT_EQ(g16.GetPixel16(0, 0), 40310);   // (10896800 + 27486150 + 1927500) div 1000
  EXPECT_NEAR(f.GetPixelFloat(0, 0), 157.02 / 255, 1e-6);
  EXPECT_EQ(c.GetPixelCMYK(0, 0), (TCMYK{255, 191, 127, 200}));  // K = 200, C M Y = channel x 255 / 200
  EXPECT_EQ(w.GetPixelRGB48(0, 0), (TRGB48{51400, 38550, 25700}));
  const uint8_t want32[4] = {100, 150, 200, 255};
  EXPECT_EQ(std::memcmp(q.ScanLine(0), want32, 4), 0);
}

TEST(PixelConvertOracle, CIELabToRGBMatchesScikitImage) {
  if (!PythonHas("skimage.color")) GTEST_SKIP() << "scikit-image missing";
  std::vector<TCIELab> list;
  std::ostringstream values;
  // Lightness and chroma that keep X, Y and Z positive: scikit-image clips
  // negative ones to 0 before going on, where the formula carries them through.
  for (int l = 102; l < 256; l += 51)
    for (int a = -40; a <= 40; a += 20)
      for (int b = -40; b <= 40; b += 20) {
        list.push_back(TCIELab{uint8_t(l), int8_t(a), int8_t(b)});
        values << l / 2.55 << "," << a << "," << b << ";";
      }
  const std::string script =
      "import sys,warnings,numpy as n,skimage.color as c\n"
      "warnings.simplefilter('ignore')\n"
      "v=[[float(t) for t in s.split(',')] for s in sys.argv[1].split(';') if s]\n"
      "a=c.lab2rgb(n.array([v],dtype=float),illuminant='D65')[0]\n"
      "print(' '.join('%.6f,%.6f,%.6f'%tuple(x*255) for x in a))\n";
  std::string out;
  ASSERT_TRUE(RunPython(script, values.str(), &out));
  std::istringstream in(out);
  for (const TCIELab& l : list) {
    double r, g, b;
    char comma;
    ASSERT_TRUE(in >> r >> comma >> g >> comma >> b);
    const TRGB p = ConvertCIELabToRGB(l.l, l.a, l.b);
    EXPECT_NEAR(p.r, r, 1) << int(l.l) << " " << int(l.a) << " " << int(l.b);
    EXPECT_NEAR(p.g, g, 1) << int(l.l) << " " << int(l.a) << " " << int(l.b);
    EXPECT_NEAR(p.b, b, 1) << int(l.l) << " " << int(l.a) << " " << int(l.b);
  }
}

// Pillow's full-range YCbCr is the JFIF one; it rounds where the library truncates.
TEST(PixelConvertOracle, YCbCrMatchesPillow) {
  if (!PythonHas("PIL.Image")) GTEST_SKIP() << "Pillow missing";
  std::vector<TRGB> list;
  std::ostringstream values;
  for (int r = 0; r < 256; r += 51)
    for (int g = 0; g < 256; g += 51)
      for (int b = 0; b < 256; b += 85) {
        list.push_back(MakeRGB(uint8_t(r), uint8_t(g), uint8_t(b)));
        values << r << "," << g << "," << b << ";";
      }
  const std::string script =
      "import sys\nfrom PIL import Image\n"
      "v=[tuple(int(t) for t in s.split(',')) for s in sys.argv[1].split(';') if s]\n"
      "i=Image.new('RGB',(len(v),1)); i.putdata(v)\n"
      "y=list(i.convert('YCbCr').getdata())\n"
      "j=Image.new('YCbCr',(len(v),1)); j.putdata(v)\n"
      "r=list(j.convert('RGB').getdata())\n"
      "print(' '.join('%d,%d,%d,%d,%d,%d'%(a+b) for a,b in zip(y,r)))\n";
  std::string out;
  ASSERT_TRUE(RunPython(script, values.str(), &out));
  std::istringstream in(out);
  for (const TRGB& p : list) {
    int y, cb, cr, r, g, b;
    char c;
    ASSERT_TRUE(in >> y >> c >> cb >> c >> cr >> c >> r >> c >> g >> c >> b);
    uint8_t my, mcb, mcr;
    RGBToYCbCr(my, mcb, mcr, p);
    EXPECT_NEAR(my, y, 1) << int(p.r) << " " << int(p.g) << " " << int(p.b);
    EXPECT_NEAR(mcb, cb, 1) << int(p.r) << " " << int(p.g) << " " << int(p.b);
    EXPECT_NEAR(mcr, cr, 1) << int(p.r) << " " << int(p.g) << " " << int(p.b);
    // The same triple read as Y, Cb, Cr back to colour.
    TRGB back;
    YCbCrToRGB(back, p.r, p.g, p.b);
    EXPECT_NEAR(back.r, r, 1) << int(p.r) << " " << int(p.g) << " " << int(p.b);
    EXPECT_NEAR(back.g, g, 1) << int(p.r) << " " << int(p.g) << " " << int(p.b);
    EXPECT_NEAR(back.b, b, 1) << int(p.r) << " " << int(p.g) << " " << int(p.b);
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
