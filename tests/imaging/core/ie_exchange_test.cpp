// Pixels and alpha moving between a library bitmap and framework bitmaps, masks
// and DIB sections, and surviving resize, crop, rotation and flips.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "ie_pixel_table.h"
#include "imaging/core/ie_dib_bitmap.h"
#include "imaging/core/ie_geometry.h"
#include "imaging/core/ie_mask.h"
#include "imaging/core/ie_memory.h"
#include "imaging/core/ie_orientation.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/rtl/exceptions.h"

namespace {

using qvtest::kAllPixelFormats;
using qvtest::NumberPixels;
constexpr auto PixelOf = qvtest::PixelBytes;

void NumberAlpha(TIEBitmap& b) {
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) b.SetAlpha(x, y, uint8_t(1 + x * 20 + y * 3));
}

class EveryFormat : public ::testing::TestWithParam<TIEBitmapFormat> {};

}  // namespace

// ---- framework bitmaps ----

TEST_P(EveryFormat, FrameworkBitmapRoundTrip) {
  const TIEBitmapFormat f = GetParam();
  TIEBitmap b(13, 5, f);
  NumberPixels(b);
  TBitmap t;
  if (f == ieCMYK || f == ieRGB48 || f == ieCIELab) {
    const char* text = f == ieCMYK    ? "CMYK to TBitmap not supported"
                       : f == ieRGB48 ? "RGB48 to TBitmap not supported"
                                      : "CIELab to TBitmap not supported";
    try {
      b.CopyToTBitmap(t);
      FAIL() << "no exception";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), text);
    }
    return;
  }
  b.CopyToTBitmap(t);
  ASSERT_EQ(t.GetWidth(), 13);
  ASSERT_EQ(t.GetHeight(), 5);
  TIEBitmap back;
  back.CopyFromTBitmap(t);
  // Grey formats come back as 8-bit indexes into a grey ramp.
  const bool grey = f == ie8g || f == ie16g || f == ie32f;
  EXPECT_EQ(back.PixelFormat(), grey ? ie8p : f);
  EXPECT_FALSE(back.Full());
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 13; ++x) {
      if (f == ie16g) {
        ASSERT_EQ(back.GetPixel8(x, y), b.GetPixel16(x, y) >> 8);
      } else if (f == ie32f) {
        ASSERT_EQ(back.GetPixel8(x, y), uint8_t(b.GetPixelFloat(x, y) * 255));
      } else {
        ASSERT_EQ(PixelOf(back, x, y), PixelOf(b, x, y)) << x << "," << y;
      }
      if (f == ie8p || grey) {
        ASSERT_EQ(back.GetPixelAsRGB(x, y), b.GetPixelAsRGB(x, y)) << x << "," << y;
      }
    }
}

INSTANTIATE_TEST_SUITE_P(All, EveryFormat, ::testing::ValuesIn(kAllPixelFormats));

TEST(FrameworkExchange, ThirtyTwoBitsKeepTheirAlphaByte) {
  TBitmap t;
  t.SetPixelFormat(pf32bit);
  t.SetSize(2, 1);
  const uint8_t px[8] = {1, 2, 3, 77, 4, 5, 6, 0};
  std::memcpy(t.ScanLine(0), px, 8);
  TIEBitmap b;
  b.Assign(&t);
  ASSERT_EQ(b.PixelFormat(), ie32RGB);
  EXPECT_EQ(std::memcmp(b.ScanLine(0), px, 8), 0);
  TBitmap again;
  b.CopyToTBitmap(again);
  EXPECT_EQ(again.PixelFormat(), pf32bit);
  EXPECT_EQ(std::memcmp(again.ScanLine(0), px, 8), 0);
}

TEST(FrameworkExchange, NarrowDepthsAreWidened) {
  TBitmap s16;
  s16.SetPixelFormat(pf16bit);
  s16.SetSize(2, 1);
  const uint16_t p16[2] = {0xFFFF, 0x07E0};
  std::memcpy(s16.ScanLine(0), p16, 4);
  TIEBitmap b;
  b.CopyFromTBitmap(s16);
  ASSERT_EQ(b.PixelFormat(), ie24RGB);
  EXPECT_EQ(b.GetPixelRGB(0, 0), MakeRGB(248, 252, 248));
  EXPECT_EQ(b.GetPixelRGB(1, 0), MakeRGB(0, 252, 0));

  TBitmap s15;
  s15.SetPixelFormat(pf15bit);
  s15.SetSize(1, 1);
  const uint16_t p15 = 0x7C00;  // full red
  std::memcpy(s15.ScanLine(0), &p15, 2);
  b.CopyFromTBitmap(s15);
  EXPECT_EQ(b.GetPixelRGB(0, 0), MakeRGB(248, 0, 0));

  TBitmap s4;
  s4.SetPixelFormat(pf4bit);
  s4.SetSize(3, 1);
  static_cast<uint8_t*>(s4.ScanLine(0))[0] = 0x9C;
  static_cast<uint8_t*>(s4.ScanLine(0))[1] = 0x50;
  b.CopyFromTBitmap(s4);
  ASSERT_EQ(b.PixelFormat(), ie8p);
  EXPECT_EQ(b.GetPixel8(0, 0), 9);
  EXPECT_EQ(b.GetPixel8(1, 0), 12);
  EXPECT_EQ(b.GetPixel8(2, 0), 5);
  const RGBQUAD c9 = s4.View().colors[9];
  EXPECT_EQ(b.GetPixelAsRGB(0, 0), MakeRGB(c9.rgbRed, c9.rgbGreen, c9.rgbBlue));
}

TEST(FrameworkExchange, FrameworkLocationLeavesTheCallersBitmapAlone) {
  TBitmap s16;
  s16.SetPixelFormat(pf16bit);
  s16.SetSize(2, 2);
  std::memset(s16.ScanLine(1), 0xFF, 4);
  TIEBitmap b(1, 1, ie24RGB);
  ASSERT_TRUE(b.SetLocation(ieTBitmap));
  b.CopyFromTBitmap(s16);
  EXPECT_EQ(s16.PixelFormat(), pf16bit);
  EXPECT_EQ(b.Location(), ieTBitmap);
  EXPECT_EQ(b.PixelFormat(), ie24RGB);
  EXPECT_EQ(b.Width(), 2);
  EXPECT_EQ(b.GetPixelRGB(1, 1), MakeRGB(255, 255, 255));
}

// ---- masks ----

TEST(MaskExchange, MasksBecomeAlphaChannelsAndBack) {
  for (int bits : {1, 8}) {
    TIEMask m;
    m.Allocate(10, 4, bits);
    const std::vector<POINT> r = {{2, 1}, {7, 1}, {7, 3}, {2, 3}};
    m.FillPolygon(bits == 1 ? 1 : 200, r.data(), int(r.size()));
    TIEBitmap a;
    a.CopyFromMask(&m);
    ASSERT_EQ(a.PixelFormat(), bits == 1 ? ie1g : ie8g);
    TIEMask back;
    CopyBitmapToMask(a, back);
    ASSERT_EQ(back.BitsPerPixel(), bits);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 10; ++x) {
        ASSERT_EQ(bits == 1 ? PixelOf(a, x, y)[0] : a.GetPixel8(x, y), m.GetPixel(x, y));
        ASSERT_EQ(back.GetPixel(x, y), m.GetPixel(x, y));
      }
    EXPECT_EQ(back.X1(), 2);
    EXPECT_EQ(back.Y2(), 2);
  }
  TIEBitmap opaque(3, 3, ie8g);
  opaque.Fill(0);
  opaque.CopyFromMask(nullptr);
  EXPECT_TRUE(opaque.Full());
  EXPECT_EQ(opaque.GetPixel8(2, 2), 255);
}

TEST(MaskExchange, ColourPicturesGiveAQuarterOfTheirGrey) {
  TIEBitmap white(3, 2, ie24RGB);
  white.Fill(0xFFFFFF);
  white.SetPixelRGB(0, 0, MakeRGB(0, 0, 0));
  TIEMask m;
  CopyBitmapToMask(white, m);
  EXPECT_EQ(m.BitsPerPixel(), 8);
  EXPECT_EQ(m.GetPixel(2, 1), 63);
  EXPECT_EQ(m.GetPixel(0, 0), 0);
}

TEST(MaskExchange, MaskedAreaGetsTheBackgroundAndACutOutAlpha) {
  TIEBitmap src(10, 10, ie24RGB);
  src.Fill(0x00FF00);
  TIEMask m;
  m.Allocate(10, 10, 1);
  const std::vector<POINT> tri = {{2, 2}, {8, 2}, {2, 8}};
  m.FillPolygon(1, tri.data(), int(tri.size()));
  TIEBitmap area;
  CopyMaskedArea(src, area, m, 0x0000FF);
  ASSERT_EQ(area.Width(), m.X2() - m.X1() + 1);
  for (int y = 0; y < area.Height(); ++y)
    for (int x = 0; x < area.Width(); ++x) {
      const bool on = m.GetPixel(x + m.X1(), y + m.Y1()) != 0;
      ASSERT_EQ(area.GetPixelRGB(x, y), on ? MakeRGB(0, 255, 0) : MakeRGB(255, 0, 0)) << x << "," << y;
      ASSERT_EQ(area.GetAlpha(x, y), on ? 255 : 0);
    }
  TIEMask empty;
  empty.Allocate(10, 10, 1);
  TIEBitmap untouched(2, 2, ie8g);
  CopyMaskedArea(src, untouched, empty, 0);
  EXPECT_EQ(untouched.Width(), 2);
}

TEST(AlphaExchange, MaxAlphaKeepsTheLargerValue) {
  TIEBitmap frame(3, 1, ie24RGB), canvas(4, 1, ie24RGB);
  frame.SetAlpha(0, 0, 10);
  frame.SetAlpha(1, 0, 200);
  frame.SetAlpha(2, 0, 90);
  canvas.AlphaChannel()->Fill(100);
  frame.MaxAlphaRectTo(canvas, 0, 0, 3, 1, 1, 0);
  EXPECT_EQ(canvas.GetAlpha(0, 0), 100);
  EXPECT_EQ(canvas.GetAlpha(1, 0), 100);
  EXPECT_EQ(canvas.GetAlpha(2, 0), 200);
  EXPECT_EQ(canvas.GetAlpha(3, 0), 100);
}

// ---- DIB sections and work bitmaps ----

TEST(DibBitmap, GeometryAndRefusals) {
  TIEDibbitmap d;
  ASSERT_TRUE(d.Allocate(3, 2, ie24RGB));
  EXPECT_EQ(d.RowLen(), 12);
  EXPECT_EQ(d.ScanLine(0) - d.ScanLine(1), 12);  // bottom-up
  EXPECT_EQ(d.PixelFormat(), ie24RGB);
  EXPECT_FALSE(d.Allocate(3, 2, ie8g));
  EXPECT_FALSE(d.AllocateDIB(0, 5, 24));
  TIEDibbitmap copy;
  d.ScanLine(1)[4] = 99;
  copy.Assign(&d);
  EXPECT_EQ(copy.Width(), 3);
  EXPECT_EQ(copy.ScanLine(1)[4], 99);
}

TEST(DibBitmap, GdiDrawingReachesTheLibraryBitmap) {
  for (TIEBitmapFormat f : {ie24RGB, ie1g}) {
    TIEDibbitmap d;
    ASSERT_TRUE(d.Allocate(9, 4, f));
    RECT all{0, 0, 9, 4}, part{2, 1, 5, 3};
    HBRUSH black = CreateSolidBrush(RGB(0, 0, 0));
    HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
    FillRect(d.DC(), &all, black);
    FillRect(d.DC(), &part, white);
    DeleteObject(black);
    DeleteObject(white);
    for (TIEStorageLocation where : {ieMemory, ieTBitmap}) {
      TIEBitmap b;
      if (where == ieTBitmap) {
        ASSERT_TRUE(b.VclBitmap());
      }
      b.CopyFromDibbitmap(&d);
      ASSERT_EQ(b.PixelFormat(), f);
      ASSERT_EQ(b.Width(), 9);
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 9; ++x) {
          const bool lit = x >= 2 && x < 5 && y >= 1 && y < 3;
          ASSERT_EQ(b.GetPixelAsRGB(x, y).g, lit ? 255 : 0) << int(f) << " " << x << "," << y;
        }
    }
  }
}

TEST(WorkBitmap, KeepsItsBlockAndReportsAFailedAllocation) {
  TIEWorkBitmap w(5, 24, 3);  // width, bits per pixel, height
  ASSERT_TRUE(w.IsAllocated());
  EXPECT_EQ(w.Width(), 5);
  EXPECT_EQ(w.Height(), 3);
  EXPECT_EQ(w.RowLen(), 16);
  uint8_t* row = w.ScanLine(0);
  EXPECT_EQ(row - w.ScanLine(2), 32);  // bottom-up
  EXPECT_TRUE(w.Allocate(5, 3, 24));
  EXPECT_EQ(w.ScanLine(0), row);
  IEAllocationFaultHook = [](int64_t) { return true; };
  const bool had = w.Allocate(7, 3, 24);
  IEAllocationFaultHook = nullptr;
  EXPECT_FALSE(had);
  EXPECT_FALSE(w.IsAllocated());
  EXPECT_EQ(w.ScanLine(0), nullptr);
  EXPECT_EQ(w.Width(), 0);
}

// ---- geometry keeps pixels and alpha ----

TEST_P(EveryFormat, ResizeKeepsPixelsAndAlpha) {
  const TIEBitmapFormat f = GetParam();
  TIEBitmap src(6, 4, f);
  NumberPixels(src);
  NumberAlpha(src);
  auto b = TIEBitmap::CreateCopy(src);
  b->Resize(10, 6, 0, 7, 1, 2);  // centred across, at the bottom
  ASSERT_EQ(b->Width(), 10);
  ASSERT_EQ(b->Height(), 6);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 10; ++x) {
      const int sx = x - 2, sy = y - 2;
      if (sx >= 0 && sx < 6 && sy >= 0) {
        ASSERT_EQ(PixelOf(*b, x, y), PixelOf(src, sx, sy)) << x << "," << y;
        ASSERT_EQ(b->GetAlpha(x, y), src.GetAlpha(sx, sy));
      } else {
        ASSERT_EQ(b->GetAlpha(x, y), 7) << x << "," << y;
      }
    }
}

TEST_P(EveryFormat, CropBySelectionKeepsPixelsAndAlpha) {
  const TIEBitmapFormat f = GetParam();
  TIEBitmap src(9, 7, f);
  NumberPixels(src);
  NumberAlpha(src);
  TIEMask m;
  m.Allocate(9, 7, 1);
  const std::vector<POINT> r = {{2, 1}, {8, 1}, {8, 5}, {2, 5}};
  m.FillPolygon(1, r.data(), int(r.size()));
  TIEBitmap crop;
  src.CopySelection(crop, m);
  ASSERT_EQ(crop.Width(), 6);
  ASSERT_EQ(crop.Height(), 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) {
      ASSERT_EQ(PixelOf(crop, x, y), PixelOf(src, x + 2, y + 1)) << x << "," << y;
      ASSERT_EQ(crop.GetAlpha(x, y), src.GetAlpha(x + 2, y + 1));
    }
}

TEST_P(EveryFormat, RightAngleRotationsAndFlipsAreExact) {
  const TIEBitmapFormat f = GetParam();
  TIEBitmap src(7, 3, f);
  NumberPixels(src);
  NumberAlpha(src);
  struct Case {
    double angle;
    int flip;  // -1: rotate only
    int w, h;
  };
  for (const Case c : {Case{90, -1, 3, 7}, Case{180, -1, 7, 3}, Case{-90, -1, 3, 7}, Case{0, 0, 7, 3},
                       Case{0, 1, 7, 3}}) {
    auto b = TIEBitmap::CreateCopy(src);
    if (c.flip < 0) {
      b->Rotate(true, 0, nullptr, nullptr, 0, c.angle);
    } else {
      FlipBitmap(*b, c.flip);
    }
    ASSERT_EQ(b->Width(), c.w);
    ASSERT_EQ(b->Height(), c.h);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) {
        // Counter-clockwise turns: where each result pixel comes from.
        int sx = x, sy = y;
        if (c.flip == 0) sx = 6 - x;
        if (c.flip == 1) sy = 2 - y;
        if (c.angle == 90) sx = 6 - y, sy = x;
        if (c.angle == 180) sx = 6 - x, sy = 2 - y;
        if (c.angle == -90) sx = y, sy = 2 - x;
        ASSERT_EQ(PixelOf(*b, x, y), PixelOf(src, sx, sy)) << c.angle << "/" << c.flip << " " << x << "," << y;
        ASSERT_EQ(b->GetAlpha(x, y), src.GetAlpha(sx, sy));
      }
  }
}

// Other angles map every pixel back to its source: the centre keeps its pixel,
// the uncovered corners take the background and are transparent.
TEST_P(EveryFormat, OtherAnglesMapPixelsBack) {
  const TIEBitmapFormat f = GetParam();
  struct Case {
    double angle;
    int w, h;
  };
  // Nearest pixel for every format: round(|cos| W + |sin| H) wide.
  for (const Case c : {Case{45, 13, 13}, Case{-45, 13, 13}, Case{135, 13, 13}, Case{30, 12, 12}}) {
    TIEBitmap b(9, 9, f);
    NumberPixels(b);
    NumberAlpha(b);
    const std::vector<uint8_t> centre = PixelOf(b, 4, 4);
    const uint8_t centreAlpha = b.GetAlpha(4, 4);
    b.Rotate(false, 0, nullptr, nullptr, 0, c.angle);
    ASSERT_EQ(b.Width(), c.w) << c.angle;
    ASSERT_EQ(b.Height(), c.h) << c.angle;
    ASSERT_EQ(b.PixelFormat(), f);
    if (c.w % 2) {
      EXPECT_EQ(PixelOf(b, c.w / 2, c.h / 2), centre) << c.angle;
      EXPECT_EQ(b.GetAlpha(c.w / 2, c.h / 2), centreAlpha) << c.angle;
    }
    EXPECT_EQ(b.GetAlpha(0, 0), 0) << c.angle;
    EXPECT_EQ(b.GetAlpha(c.w - 1, c.h - 1), 0) << c.angle;
  }
}

// ---- rectangles between any two formats ----

namespace {

// A black and white checker in the format, so that every format holds it.
std::unique_ptr<TIEBitmap> Checker(TIEBitmapFormat f, int w, int h) {
  auto b = std::make_unique<TIEBitmap>(w, h, ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b->SetPixelRGB(x, y, (x + y) % 2 ? MakeRGB(255, 255, 255) : MakeRGB(0, 0, 0));
  EXPECT_TRUE(b->ConvertToPixelFormat(f));
  return b;
}

// A mid-grey picture; an indexed one gets a grey ramp to match into.
std::unique_ptr<TIEBitmap> Grey(TIEBitmapFormat f, int w, int h) {
  if (f == ie8p) {
    auto b = std::make_unique<TIEBitmap>(w, h, ie8p);
    for (int i = 0; i < 256; ++i) b->SetPaletteColor(i, MakeRGB(uint8_t(i), uint8_t(i), uint8_t(i)));
    b->Fill(128);
    return b;
  }
  auto b = std::make_unique<TIEBitmap>(w, h, ie24RGB);
  b->Fill(0x808080);
  EXPECT_TRUE(b->ConvertToPixelFormat(f));
  return b;
}

class FormatPair : public ::testing::TestWithParam<std::tuple<TIEBitmapFormat, TIEBitmapFormat>> {};

}  // namespace

TEST_P(FormatPair, CopyRectConvertsEveryPair) {
  const auto [sf, df] = GetParam();
  auto s = Checker(sf, 6, 5);
  auto d = Grey(df, 7, 6);
  // Indexes copy as they are between indexed pictures: the caller gives both one palette.
  if (sf == ie8p && df == ie8p) s->CopyPaletteTo(d.get());
  auto before = TIEBitmap::CreateCopy(*d);
  s->CopyRectTo(*d, 1, 1, 4, 3, 2, 2);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 7; ++x) {
      const TRGB got = d->GetPixelAsRGB(x, y);
      if (x >= 2 && x < 6 && y >= 2 && y < 5) {
        const TRGB want = s->GetPixelAsRGB(x - 1, y - 1);
        ASSERT_NEAR(got.g, want.g, 3) << int(sf) << "->" << int(df) << " " << x << "," << y;
        ASSERT_NEAR(got.r, want.r, 3) << int(sf) << "->" << int(df) << " " << x << "," << y;
      } else {
        ASSERT_EQ(got, before->GetPixelAsRGB(x, y)) << int(sf) << "->" << int(df) << " " << x << "," << y;
      }
    }
}

INSTANTIATE_TEST_SUITE_P(All, FormatPair,
                         ::testing::Combine(::testing::ValuesIn(kAllPixelFormats),
                                            ::testing::ValuesIn(kAllPixelFormats)));
