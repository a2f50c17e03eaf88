// Blits, raster operations, stretching, alpha blending and colour matching.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "gdi_test_helpers.h"
#include "platform/graphics/gdi_metafile.h"
#include "platform/rtl/row_bands.h"

using gditest::Argb;
using gditest::Dib;
using gditest::Quad;

namespace {

// With pattern 0xF0, source 0xCC and destination 0xAA in every byte, a ternary
// raster operation yields its own truth-table byte: that is how the codes are defined.
struct RopCase {
  const char* name;
  DWORD rop;
};
// How the case reads in the test list and in a failure.
void PrintTo(const RopCase& c, std::ostream* os) { *os << c.name; }

class GdiRop : public ::testing::TestWithParam<RopCase> {};

TEST_P(GdiRop, ResultIsTheTruthTable) {
  Dib src(4, 2, 32), dest(4, 2, 32);
  src.Fill32(0x00CCCCCC);
  dest.Fill32(0x00AAAAAA);
  HBRUSH brush = CreateSolidBrush(RGB(0xF0, 0xF0, 0xF0));
  HGDIOBJ old = SelectObject(dest.dc(), brush);
  ASSERT_TRUE(BitBlt(dest.dc(), 0, 0, 4, 2, src.dc(), 0, 0, GetParam().rop));
  SelectObject(dest.dc(), old);
  DeleteObject(brush);
  uint32_t want = (GetParam().rop >> 16) & 0xFF;
  EXPECT_EQ(dest.Pixel32(2, 1) & 0xFFFFFF, want * 0x010101u) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Codes, GdiRop,
    ::testing::Values(RopCase{"SRCCOPY", SRCCOPY}, RopCase{"SRCAND", SRCAND}, RopCase{"SRCPAINT", SRCPAINT},
                      RopCase{"SRCINVERT", SRCINVERT}, RopCase{"SRCERASE", SRCERASE},
                      RopCase{"NOTSRCCOPY", NOTSRCCOPY}, RopCase{"NOTSRCERASE", NOTSRCERASE},
                      RopCase{"MERGECOPY", MERGECOPY}, RopCase{"MERGEPAINT", MERGEPAINT},
                      RopCase{"PATCOPY", PATCOPY}, RopCase{"PATPAINT", PATPAINT}, RopCase{"PATINVERT", PATINVERT},
                      RopCase{"DSTINVERT", DSTINVERT}, RopCase{"BLACKNESS", BLACKNESS},
                      RopCase{"WHITENESS", WHITENESS}, RopCase{"DSPDxax", DSPDxax}, RopCase{"PSDPxax", PSDPxax},
                      RopCase{"0x1D0000", 0x001D0000}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(GdiBlit, SrcCopyBetween32BitDibsKeepsAlpha) {
  Dib src(3, 3, 32), dest(3, 3, 32, {}, false);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) src.SetPixel32(x, y, Argb(0x10 * (x + 3 * y), 1, 2, x + 10 * y));
  ASSERT_TRUE(BitBlt(dest.dc(), 0, 0, 3, 3, src.dc(), 0, 0, SRCCOPY));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(dest.Pixel32(x, y), src.Pixel32(x, y)) << x << "," << y;
  // Also at equal sizes through StretchBlt, whatever the stretch mode.
  Dib again(3, 3, 32);
  SetStretchBltMode(again.dc(), HALFTONE);
  ASSERT_TRUE(StretchBlt(again.dc(), 0, 0, 3, 3, src.dc(), 0, 0, 3, 3, SRCCOPY));
  EXPECT_EQ(again.Pixel32(2, 2), src.Pixel32(2, 2));
}

TEST(GdiBlit, SrcCopyFrom24To32BitsLeavesAlphaZero) {
  // A bottom-up 24-bit source (rows padded to 4 bytes) into a 32-bit surface
  // whose pixels had alpha, at an offset and under a clip with a hole: every
  // copied pixel is blue, green, red, 0; the rest keep what they had.
  Dib src(7, 5, 24, {}, false), dest(9, 6, 32);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) {
      uint8_t* p = src.Row(y) + 3 * x;
      p[0] = uint8_t(10 * x + y), p[1] = uint8_t(200 - y), p[2] = uint8_t(x * y + 1);
    }
  dest.Fill32(0xFF123456);
  HRGN clip = CreateRectRgn(0, 0, 9, 6);
  HRGN hole = CreateRectRgn(3, 2, 5, 3);
  CombineRgn(clip, clip, hole, RGN_DIFF);
  SelectClipRgn(dest.dc(), clip);
  ASSERT_TRUE(BitBlt(dest.dc(), 2, 1, 7, 5, src.dc(), 0, 0, SRCCOPY));
  DeleteObject(hole);
  DeleteObject(clip);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 9; ++x) {
      const bool copied = x >= 2 && y >= 1 && !(x >= 3 && x < 5 && y == 2);
      uint32_t want = 0xFF123456;
      if (copied) {
        const int sx = x - 2, sy = y - 1;
        want = uint32_t(10 * sx + sy) | (uint32_t(200 - sy) << 8) | (uint32_t(sx * sy + 1) << 16);
      }
      EXPECT_EQ(dest.Pixel32(x, y), want) << x << "," << y;
    }
}

TEST(GdiBlit, BlitIsClippedToBothSurfaces) {
  Dib src(2, 2, 32), dest(4, 4, 32);
  src.Fill32(0x00112233);
  dest.Fill32(0x00FFFFFF);
  ASSERT_TRUE(BitBlt(dest.dc(), 1, 1, 3, 3, src.dc(), 0, 0, SRCCOPY));
  EXPECT_EQ(dest.Pixel32(1, 1), 0x00112233u);
  EXPECT_EQ(dest.Pixel32(2, 2), 0x00112233u);
  EXPECT_EQ(dest.Pixel32(3, 3), 0x00FFFFFFu);  // beyond the 2x2 source: untouched
  EXPECT_TRUE(BitBlt(dest.dc(), -10, -10, 2, 2, src.dc(), 0, 0, SRCCOPY));
}

// Colour into 1, 4 and 8-bit surfaces: the nearest colour-table entry, whatever
// the table holds.
struct NearestCase {
  const char* name;
  int bitCount;
  std::vector<RGBQUAD> table;  // empty: the default table of the depth
  COLORREF drawn;
  uint32_t index;
};
// How the case reads in the test list and in a failure.
void PrintTo(const NearestCase& c, std::ostream* os) { *os << c.name; }

class GdiNearest : public ::testing::TestWithParam<NearestCase> {};

TEST_P(GdiNearest, FillAndSetPixelPickTheNearestEntry) {
  const NearestCase& c = GetParam();
  std::vector<RGBQUAD> table = c.table;
  if (table.empty()) {
    // The documented default palettes: black/white, the 16 VGA colours.
    if (c.bitCount == 1) table = {Quad(0, 0, 0), Quad(255, 255, 255)};
    if (c.bitCount == 4)
      table = {Quad(0, 0, 0),       Quad(128, 0, 0),   Quad(0, 128, 0),   Quad(128, 128, 0),
               Quad(0, 0, 128),     Quad(128, 0, 128), Quad(0, 128, 128), Quad(192, 192, 192),
               Quad(128, 128, 128), Quad(255, 0, 0),   Quad(0, 255, 0),   Quad(255, 255, 0),
               Quad(0, 0, 255),     Quad(255, 0, 255), Quad(0, 255, 255), Quad(255, 255, 255)};
    if (c.bitCount == 8) table = Dib::GreyTable(8);
  }
  Dib d(9, 2, c.bitCount, table);
  HBRUSH brush = CreateSolidBrush(c.drawn);
  RECT r{0, 0, 9, 1};
  FillRect(d.dc(), &r, brush);
  DeleteObject(brush);
  SetPixel(d.dc(), 4, 1, c.drawn);
  for (int x = 0; x < 9; ++x) EXPECT_EQ(d.Index(x, 0), c.index) << c.name << " x=" << x;
  EXPECT_EQ(d.Index(4, 1), c.index);
  const RGBQUAD& q = table[c.index];
  EXPECT_EQ(GetPixel(d.dc(), 4, 1), RGB(q.rgbRed, q.rgbGreen, q.rgbBlue));
  EXPECT_EQ(GetNearestColor(d.dc(), c.drawn), RGB(q.rgbRed, q.rgbGreen, q.rgbBlue));
}

INSTANTIATE_TEST_SUITE_P(
    Formats, GdiNearest,
    ::testing::Values(NearestCase{"mono_dark", 1, {}, RGB(100, 100, 100), 0},
                      NearestCase{"mono_light", 1, {}, RGB(130, 130, 130), 1},
                      NearestCase{"mono_own_table", 1, {Quad(255, 0, 0), Quad(0, 0, 255)}, RGB(40, 0, 200), 1},
                      NearestCase{"mono_inverted_table", 1, {Quad(255, 255, 255), Quad(0, 0, 0)}, RGB(0, 0, 0), 1},
                      NearestCase{"vga_red", 4, {}, RGB(200, 10, 10), 9},
                      NearestCase{"vga_silver", 4, {}, RGB(180, 190, 200), 7},
                      NearestCase{"grey8", 8, {}, RGB(100, 110, 120), 110},
                      NearestCase{"pal8", 8, {Quad(0, 0, 0), Quad(10, 200, 30), Quad(250, 250, 250)},
                                  RGB(0, 180, 0), 1}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(GdiBlit, ColourToMonochromeMapsTheBackgroundColourToOne) {
  Dib src(3, 1, 24);
  SetPixel(src.dc(), 0, 0, RGB(10, 20, 30));
  SetPixel(src.dc(), 1, 0, RGB(255, 255, 255));
  SetPixel(src.dc(), 2, 0, RGB(0, 0, 0));
  SetBkColor(src.dc(), RGB(10, 20, 30));
  HDC memDC = CreateCompatibleDC(nullptr);
  HBITMAP mono = CreateBitmap(3, 1, 1, 1, nullptr);
  HGDIOBJ old = SelectObject(memDC, mono);
  ASSERT_TRUE(BitBlt(memDC, 0, 0, 3, 1, src.dc(), 0, 0, SRCCOPY));
  // Read back as black (0) and white (1).
  EXPECT_EQ(GetPixel(memDC, 0, 0), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(memDC, 1, 0), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(memDC, 2, 0), RGB(0, 0, 0));

  // And back: 0 bits take the destination's text colour, 1 bits its background.
  Dib dest(3, 1, 32);
  SetTextColor(dest.dc(), RGB(200, 0, 0));
  SetBkColor(dest.dc(), RGB(0, 0, 200));
  ASSERT_TRUE(BitBlt(dest.dc(), 0, 0, 3, 1, memDC, 0, 0, SRCCOPY));
  EXPECT_EQ(dest.Pixel32(0, 0), Argb(0, 0, 0, 200));
  EXPECT_EQ(dest.Pixel32(1, 0), Argb(0, 200, 0, 0));
  SelectObject(memDC, old);
  DeleteObject(mono);
  DeleteDC(memDC);
}

TEST(GdiBlit, CompatibleBitmapOfAFreshMemoryDCIsMonochrome) {
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAP bm;
  HBITMAP a = CreateCompatibleBitmap(mem, 5, 5);
  ASSERT_EQ(GetObject(a, sizeof(bm), &bm), static_cast<int>(sizeof(BITMAP)));
  EXPECT_EQ(bm.bmBitsPixel, 1);
  HBITMAP b = CreateCompatibleBitmap(screen, 5, 5);
  ASSERT_EQ(GetObject(b, sizeof(bm), &bm), static_cast<int>(sizeof(BITMAP)));
  EXPECT_EQ(bm.bmBitsPixel, 32);
  EXPECT_EQ(bm.bmBits, nullptr);
  EXPECT_EQ(GetDeviceCaps(screen, BITSPIXEL), 32);
  DeleteObject(a);
  DeleteObject(b);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
}

TEST(GdiStretch, ColorOnColorTakesTheNearestPixel) {
  Dib src(3, 3, 32), up(4, 2, 32), down(1, 1, 32);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) src.SetPixel32(x, y, Argb(0, 10 * x, 10 * y, 7));
  SetStretchBltMode(down.dc(), COLORONCOLOR);
  ASSERT_TRUE(StretchBlt(down.dc(), 0, 0, 1, 1, src.dc(), 0, 0, 3, 3, SRCCOPY));
  EXPECT_EQ(down.Pixel32(0, 0), Argb(0, 10, 10, 7));  // the centre pixel
  // Doubling a 2x1 strip repeats each pixel.
  SetStretchBltMode(up.dc(), COLORONCOLOR);
  ASSERT_TRUE(StretchBlt(up.dc(), 0, 0, 4, 2, src.dc(), 0, 0, 2, 1, SRCCOPY));
  EXPECT_EQ(up.Pixel32(0, 0), src.Pixel32(0, 0));
  EXPECT_EQ(up.Pixel32(1, 1), src.Pixel32(0, 0));
  EXPECT_EQ(up.Pixel32(2, 0), src.Pixel32(1, 0));
  EXPECT_EQ(up.Pixel32(3, 1), src.Pixel32(1, 0));
}

TEST(GdiStretch, HalftoneAveragesTheSourceArea) {
  Dib src(3, 3, 24), down(1, 1, 24);
  int values[9] = {0, 90, 30, 60, 120, 10, 50, 80, 100};  // sum 540, mean 60
  for (int i = 0; i < 9; ++i) SetPixel(src.dc(), i % 3, i / 3, RGB(values[i], 255 - values[i], 9));
  SetStretchBltMode(down.dc(), HALFTONE);
  ASSERT_TRUE(StretchBlt(down.dc(), 0, 0, 1, 1, src.dc(), 0, 0, 3, 3, SRCCOPY));
  EXPECT_EQ(GetPixel(down.dc(), 0, 0), RGB(60, 195, 9));
  // 4 to 2 across: each destination pixel is the mean of two.
  Dib strip(4, 1, 24), half(2, 1, 24);
  int s[4] = {10, 30, 200, 100};
  for (int i = 0; i < 4; ++i) SetPixel(strip.dc(), i, 0, RGB(s[i], 0, 0));
  SetStretchBltMode(half.dc(), HALFTONE);
  ASSERT_TRUE(StretchBlt(half.dc(), 0, 0, 2, 1, strip.dc(), 0, 0, 4, 1, SRCCOPY));
  EXPECT_EQ(GetPixel(half.dc(), 0, 0), RGB(20, 0, 0));
  EXPECT_EQ(GetPixel(half.dc(), 1, 0), RGB(150, 0, 0));
}

TEST(GdiStretch, NegativeExtentMirrors) {
  Dib src(3, 1, 32), dest(3, 1, 32);
  for (int x = 0; x < 3; ++x) src.SetPixel32(x, 0, 0x10u * (x + 1));
  ASSERT_TRUE(StretchBlt(dest.dc(), 3, 0, -3, 1, src.dc(), 0, 0, 3, 1, SRCCOPY));
  EXPECT_EQ(dest.Pixel32(0, 0), 0x30u);
  EXPECT_EQ(dest.Pixel32(2, 0), 0x10u);
}

TEST(GdiBlit, AlphaBlendExpectsPremultipliedSource) {
  Dib src(1, 1, 32), dest(1, 1, 32);
  src.SetPixel32(0, 0, Argb(0x80, 0x80, 0x40, 0x00));  // premultiplied: half-opaque (255, 128, 0)
  dest.Fill32(Argb(0xFF, 0xFF, 0xFF, 0xFF));
  BLENDFUNCTION bf{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  ASSERT_TRUE(AlphaBlend(dest.dc(), 0, 0, 1, 1, src.dc(), 0, 0, 1, 1, bf));
  // dest = src + dest * (255 - 128) / 255: 0x80 + 127, 0x40 + 127, 0 + 127, alpha 0x80 + 127.
  EXPECT_EQ(dest.Pixel32(0, 0), Argb(0xFF, 0xFF, 0xBF, 0x7F));
  // Constant alpha alone mixes the two: 0 * 0.5 + 255 * 0.5.
  Dib black(1, 1, 32), white(1, 1, 32);
  white.Fill32(0x00FFFFFF);
  BLENDFUNCTION half{AC_SRC_OVER, 0, 128, 0};
  ASSERT_TRUE(AlphaBlend(white.dc(), 0, 0, 1, 1, black.dc(), 0, 0, 1, 1, half));
  EXPECT_EQ(white.Pixel32(0, 0) & 0xFFFFFF, 0x7F7F7Fu);
  // A source rectangle outside the source fails.
  EXPECT_FALSE(AlphaBlend(dest.dc(), 0, 0, 1, 1, src.dc(), 0, 0, 2, 1, bf));
}

TEST(GdiBlit, TransparentBltSkipsTheKeyColour) {
  Dib src(2, 1, 24), dest(4, 2, 32);
  SetPixel(src.dc(), 0, 0, RGB(255, 0, 255));
  SetPixel(src.dc(), 1, 0, RGB(1, 2, 3));
  dest.Fill32(0x00445566);
  ASSERT_TRUE(TransparentBlt(dest.dc(), 0, 0, 4, 2, src.dc(), 0, 0, 2, 1, RGB(255, 0, 255)));
  EXPECT_EQ(dest.Pixel32(0, 0), 0x00445566u);
  EXPECT_EQ(dest.Pixel32(1, 1), 0x00445566u);
  EXPECT_EQ(dest.Pixel32(2, 0), Argb(0, 1, 2, 3));
  EXPECT_EQ(dest.Pixel32(3, 1), Argb(0, 1, 2, 3));
}

TEST(GdiBlit, MaskBltCopiesWhereTheMaskIsZero) {
  Dib src(4, 1, 32), dest(4, 1, 32);
  src.Fill32(0x00010203);
  dest.Fill32(0x00AABBCC);
  BYTE maskBits[2] = {0x50, 0};  // 0101: pixels 1 and 3 set
  HBITMAP mask = CreateBitmap(4, 1, 1, 1, maskBits);
  ASSERT_TRUE(MaskBlt(dest.dc(), 0, 0, 4, 1, src.dc(), 0, 0, mask, 0, 0, MAKEROP4(0x00AA0029, SRCCOPY)));
  EXPECT_EQ(dest.Pixel32(0, 0), 0x00010203u);
  EXPECT_EQ(dest.Pixel32(1, 0), 0x00AABBCCu);
  EXPECT_EQ(dest.Pixel32(2, 0), 0x00010203u);
  EXPECT_EQ(dest.Pixel32(3, 0), 0x00AABBCCu);
  DeleteObject(mask);
}

TEST(GdiBlit, StretchDIBitsCountsSourceRowsFromTheBottom) {
  // A bottom-up 1x3 DIB: rows in memory bottom first: 0x01, 0x02, 0x03.
  BITMAPINFO info{};
  info.bmiHeader.biWidth = 1;
  info.bmiHeader.biHeight = 3;
  info.bmiHeader.biBitCount = 32;
  uint32_t bits[3] = {1, 2, 3};
  Dib dest(1, 1, 32);
  // ySrc 0 with one row is the bottom row.
  ASSERT_EQ(StretchDIBits(dest.dc(), 0, 0, 1, 1, 0, 0, 1, 1, bits, &info, DIB_RGB_COLORS, SRCCOPY), 1);
  EXPECT_EQ(dest.Pixel32(0, 0), 1u);
  ASSERT_EQ(StretchDIBits(dest.dc(), 0, 0, 1, 1, 0, 2, 1, 1, bits, &info, DIB_RGB_COLORS, SRCCOPY), 1);
  EXPECT_EQ(dest.Pixel32(0, 0), 3u);
  Dib whole(1, 3, 32);
  ASSERT_EQ(SetDIBitsToDevice(whole.dc(), 0, 0, 1, 3, 0, 0, 0, 3, bits, &info, DIB_RGB_COLORS), 3);
  EXPECT_EQ(whole.Pixel32(0, 0), 3u);
  EXPECT_EQ(whole.Pixel32(0, 2), 1u);
}

TEST(GdiBlit, GradientFillRunsFromVertexToVertex) {
  Dib d(256, 2, 32);
  TRIVERTEX v[2];
  v[0] = TRIVERTEX{0, 0, 0, 0x8000, 0xFF00, 0xFF00};
  v[1] = TRIVERTEX{256, 2, 0xFF00, 0x8000, 0, 0};
  GRADIENT_RECT r{0, 1};
  ASSERT_TRUE(GradientFill(d.dc(), v, 2, &r, 1, GRADIENT_FILL_RECT_H));
  EXPECT_EQ(d.Pixel32(0, 0), Argb(0xFF, 0, 0x80, 0xFF));
  uint32_t last = d.Pixel32(255, 1);
  EXPECT_GE((last >> 16) & 0xFF, 0xFEu);
  EXPECT_EQ((last >> 8) & 0xFF, 0x80u);
  for (int x = 1; x < 256; ++x) EXPECT_GE((d.Pixel32(x, 0) >> 16) & 0xFF, (d.Pixel32(x - 1, 0) >> 16) & 0xFF);
  // Vertex indexes beyond the array fail.
  GRADIENT_RECT bad{0, 2};
  EXPECT_FALSE(GradientFill(d.dc(), v, 2, &bad, 1, GRADIENT_FILL_RECT_H));
}

TEST(GdiBlit, PatBltWithHatchLeavesTheBackgroundInTransparentMode) {
  Dib d(8, 8, 32);
  d.Fill32(0x00123456);
  HBRUSH hatch = CreateHatchBrush(HS_CROSS, RGB(255, 0, 0));
  HGDIOBJ old = SelectObject(d.dc(), hatch);
  SetBkMode(d.dc(), TRANSPARENT);
  ASSERT_TRUE(PatBlt(d.dc(), 0, 0, 8, 8, PATCOPY));
  int red = 0, kept = 0;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      uint32_t v = d.Pixel32(x, y);
      red += v == 0x00FF0000u;
      kept += v == 0x00123456u;
    }
  EXPECT_EQ(red, 15);  // one row and one column of the 8x8 cell
  EXPECT_EQ(kept, 49);
  SelectObject(d.dc(), old);
  DeleteObject(hatch);
}

TEST(GdiStretch, BlackOnWhiteKeepsBlackWhenShrinking) {
  // The default stretch mode ANDs the pixels a destination pixel covers.
  Dib src(2, 1, 32), dest(1, 1, 32);
  src.SetPixel32(0, 0, 0x00FFFFFF);
  src.SetPixel32(1, 0, 0x00000000);
  EXPECT_EQ(GetStretchBltMode(dest.dc()), BLACKONWHITE);
  ASSERT_TRUE(StretchBlt(dest.dc(), 0, 0, 1, 1, src.dc(), 0, 0, 2, 1, SRCCOPY));
  EXPECT_EQ(dest.Pixel32(0, 0), 0u);
  SetStretchBltMode(dest.dc(), WHITEONBLACK);
  ASSERT_TRUE(StretchBlt(dest.dc(), 0, 0, 1, 1, src.dc(), 0, 0, 2, 1, SRCCOPY));
  EXPECT_EQ(dest.Pixel32(0, 0), 0x00FFFFFFu);
}

TEST(GdiBlit, PlgBltMapsOntoTheParallelogram) {
  Dib src(2, 2, 32), dest(2, 2, 32);
  src.SetPixel32(0, 0, 1);
  src.SetPixel32(1, 0, 2);
  src.SetPixel32(0, 1, 3);
  src.SetPixel32(1, 1, 4);
  // Upper left at (2,0), upper right at (2,2), lower left at (0,0): a quarter turn clockwise.
  POINT turn[3] = {{2, 0}, {2, 2}, {0, 0}};
  ASSERT_TRUE(PlgBlt(dest.dc(), turn, src.dc(), 0, 0, 2, 2, nullptr, 0, 0));
  EXPECT_EQ(dest.Pixel32(1, 0), 1u);
  EXPECT_EQ(dest.Pixel32(1, 1), 2u);
  EXPECT_EQ(dest.Pixel32(0, 0), 3u);
  EXPECT_EQ(dest.Pixel32(0, 1), 4u);
  POINT flat[3] = {{0, 0}, {2, 0}, {4, 0}};
  EXPECT_FALSE(PlgBlt(dest.dc(), flat, src.dc(), 0, 0, 2, 2, nullptr, 0, 0));
}

TEST(GdiBlit, PixelsOutsideTheClipOrSurfaceAreInvalid) {
  Dib d(4, 4, 32);
  EXPECT_EQ(GetPixel(d.dc(), 4, 0), CLR_INVALID);
  EXPECT_EQ(SetPixel(d.dc(), -1, 0, 0), CLR_INVALID);
  IntersectClipRect(d.dc(), 0, 0, 2, 2);
  EXPECT_EQ(GetPixel(d.dc(), 3, 3), CLR_INVALID);
  EXPECT_EQ(GetPixel(d.dc(), 1, 1), 0u);
  EXPECT_EQ(GetPixel(nullptr, 0, 0), CLR_INVALID);
}

// A window-sized copy runs in row bands on several threads; the bytes must be
// those of the copy on one thread, whatever the size, offset and clip (bands
// that start inside a region band, spans cut by holes, rows outside the
// source, bottom-up sources).
struct BandedCopyCase {
  const char* name;
  int srcBits, destBits;
  int width, height;  // of both surfaces
  int x, y;           // destination origin of the copy
  bool hole;          // a clip with an ellipse cut out
  bool bottomUpSource;
};
// How the case reads in the test list and in a failure.
void PrintTo(const BandedCopyCase& c, std::ostream* os) { *os << c.name; }

class GdiBandedCopy : public ::testing::TestWithParam<BandedCopyCase> {};

TEST_P(GdiBandedCopy, ThreadsGiveTheBytesOfOneThread) {
  const BandedCopyCase& c = GetParam();
  Dib src(c.width, c.height, c.srcBits, {}, !c.bottomUpSource);
  const int rowBytes = c.width * c.srcBits / 8;
  for (int y = 0; y < c.height; ++y)
    for (int i = 0; i < rowBytes; ++i) src.Row(y)[i] = uint8_t(i * 7 + y * 13 + (i * y >> 3));
  auto copy = [&](int processors) {
    auto dest = std::make_unique<Dib>(c.width, c.height, c.destBits);
    const int destRowBytes = c.width * c.destBits / 8;
    for (int y = 0; y < c.height; ++y) std::memset(dest->Row(y), 0xA5, size_t(destRowBytes));
    if (c.hole) {
      HRGN clip = CreateRectRgn(0, 0, c.width, c.height);
      HRGN hole = CreateEllipticRgn(c.width / 5, c.height / 7, c.width * 3 / 5 + 1, c.height * 5 / 7 + 1);
      CombineRgn(clip, clip, hole, RGN_DIFF);
      SelectClipRgn(dest->dc(), clip);
      DeleteObject(hole);
      DeleteObject(clip);
    }
    RowBandProcessorOverride = processors;
    const BOOL done = BitBlt(dest->dc(), c.x, c.y, c.width, c.height, src.dc(), 0, 0, SRCCOPY);
    RowBandProcessorOverride = 0;
    EXPECT_TRUE(done);
    std::vector<uint8_t> bytes;
    for (int y = 0; y < c.height; ++y) bytes.insert(bytes.end(), dest->Row(y), dest->Row(y) + destRowBytes);
    return bytes;
  };
  const std::vector<uint8_t> one = copy(1);
  for (int processors : {2, 3, 7}) EXPECT_TRUE(copy(processors) == one) << processors << " threads";
  // The copy did something: the source's first pixel landed at the origin.
  EXPECT_NE(std::count(one.begin(), one.end(), uint8_t(0xA5)), std::ptrdiff_t(one.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, GdiBandedCopy,
    ::testing::Values(BandedCopyCase{"Widen24To32", 24, 32, 1001, 613, 0, 0, false, false},
                      BandedCopyCase{"Widen24To32OffsetWithHole", 24, 32, 999, 701, 3, -5, true, true},
                      BandedCopyCase{"Copy32", 32, 32, 777, 555, -7, 11, true, false},
                      BandedCopyCase{"Copy24BottomUp", 24, 24, 1023, 511, 1, 1, false, true},
                      BandedCopyCase{"Copy8", 8, 8, 2049, 700, 0, 2, true, false}),
    [](const ::testing::TestParamInfo<BandedCopyCase>& p) { return std::string(p.param.name); });

TEST(GdiBlit, CopyWithinOneSurfaceMovesTheOriginalPixels) {
  // Scrolling a window's contents copies a surface onto itself; Windows copies
  // as if through a spare buffer, so overlapping source and destination never
  // smear, in either direction and at any size (a large one included, which
  // would otherwise be shared among threads).
  for (int size : {9, 700}) {
    for (POINT shift : {POINT{0, 1}, POINT{0, -1}, POINT{1, 0}, POINT{-2, 3}}) {
      Dib d(size, size, 32);
      for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) d.SetPixel32(x, y, uint32_t(y * 1000 + x));
      ASSERT_TRUE(BitBlt(d.dc(), shift.x, shift.y, size, size, d.dc(), 0, 0, SRCCOPY));
      bool same = true;
      for (int y = 0; y < size && same; ++y)
        for (int x = 0; x < size && same; ++x) {
          const int sx = x - shift.x, sy = y - shift.y;
          const bool moved = sx >= 0 && sy >= 0 && sx < size && sy < size;
          const uint32_t want = moved ? uint32_t(sy * 1000 + sx) : uint32_t(y * 1000 + x);
          same = d.Pixel32(x, y) == want;
          EXPECT_EQ(d.Pixel32(x, y), want) << size << " moved by " << shift.x << "," << shift.y << " at " << x << "," << y;
        }
    }
  }
}

}  // namespace

// Every transfer of a surface onto itself, with source and destination
// overlapping, must give what the same transfer gives from a separate copy of
// the surface: the source is read whole before anything is written. Each case
// runs in every direction, on a small odd surface and on one big enough for
// the copies shared among threads.
namespace selfblit {

struct Surfaces {
  const gditest::Dib& dest;
  const gditest::Dib& src;  // the destination itself, or a copy of it
  int width, height;
  POINT shift;  // where the destination lies from the source
};

constexpr COLORREF kKey = RGB(0x12, 0x34, 0x56);

// Three points of a parallelogram: the source rectangle leaned to the right by
// a quarter of its height, at the shifted place.
void Leaned(const Surfaces& s, POINT pts[3]) {
  pts[0] = POINT{s.shift.x, s.shift.y};
  pts[1] = POINT{s.shift.x + s.width, s.shift.y};
  pts[2] = POINT{s.shift.x + s.height / 4, s.shift.y + s.height};
}

struct Case {
  const char* name;
  int bitCount;
  bool leanedMap;  // both DCs under a world transform that shears
  bool (*run)(const Surfaces& s);
};
// How the case reads in the test list and in a failure.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

const int kMaskW = 4096, kMaskH = 1024;

// A 1-bit checker of odd-sized cells, shared by the masked cases.
HBITMAP Checker() {
  static HBITMAP bitmap = [] {
    std::vector<uint8_t> bits(static_cast<size_t>(kMaskW / 8) * kMaskH);
    for (int y = 0; y < kMaskH; ++y)
      for (int x = 0; x < kMaskW; ++x)
        if (((x / 3) + (y / 5)) & 1) bits[static_cast<size_t>(y) * (kMaskW / 8) + x / 8] |= uint8_t(0x80 >> (x & 7));
    return CreateBitmap(kMaskW, kMaskH, 1, 1, bits.data());
  }();
  return bitmap;
}

const Case kCases[] = {
    {"BitBltCopy", 32, false,
     [](const Surfaces& s) {
       return BitBlt(s.dest.dc(), s.shift.x, s.shift.y, s.width, s.height, s.src.dc(), 0, 0, SRCCOPY) != 0;
     }},
    {"BitBltInvert", 32, false,
     [](const Surfaces& s) {
       return BitBlt(s.dest.dc(), s.shift.x, s.shift.y, s.width, s.height, s.src.dc(), 0, 0, SRCINVERT) != 0;
     }},
    {"BitBltInto24", 24, false,
     [](const Surfaces& s) {
       return BitBlt(s.dest.dc(), s.shift.x, s.shift.y, s.width, s.height, s.src.dc(), 0, 0, SRCCOPY) != 0;
     }},
    {"StretchBltGrow", 32, false,
     [](const Surfaces& s) {
       return StretchBlt(s.dest.dc(), s.shift.x, s.shift.y, s.width, s.height, s.src.dc(), 1, 1, s.width * 3 / 4,
                         s.height * 3 / 4, SRCCOPY) != 0;
     }},
    {"StretchBltShrinkHalftone", 32, false,
     [](const Surfaces& s) {
       SetStretchBltMode(s.dest.dc(), HALFTONE);
       return StretchBlt(s.dest.dc(), s.shift.x, s.shift.y, s.width * 2 / 3, s.height * 2 / 3, s.src.dc(), 0, 0,
                         s.width, s.height, SRCCOPY) != 0;
     }},
    {"StretchBltMirrored", 32, false,
     [](const Surfaces& s) {
       return StretchBlt(s.dest.dc(), s.shift.x + s.width, s.shift.y, -s.width, s.height, s.src.dc(), 0, 0, s.width,
                         s.height, SRCCOPY) != 0;
     }},
    {"StretchDIBits", 32, false,
     [](const Surfaces& s) {
       BITMAPINFO info = gditest::Info32(s.width, s.height);
       return StretchDIBits(s.dest.dc(), s.shift.x, s.shift.y, s.width - 1, s.height + 2, 0, 0, s.width, s.height,
                            s.src.Row(0), &info, DIB_RGB_COLORS, SRCCOPY) != 0;
     }},
    {"SetDIBitsToDevice", 32, false,
     [](const Surfaces& s) {
       BITMAPINFO info = gditest::Info32(s.width, s.height);
       return SetDIBitsToDevice(s.dest.dc(), s.shift.x, s.shift.y, s.width, s.height, 0, 0, 0, s.height,
                                s.src.Row(0), &info, DIB_RGB_COLORS) != 0;
     }},
    {"MaskBlt", 32, false,
     [](const Surfaces& s) {
       return MaskBlt(s.dest.dc(), s.shift.x, s.shift.y, s.width, s.height, s.src.dc(), 0, 0, Checker(), 0, 0,
                      MAKEROP4(SRCCOPY, SRCINVERT)) != 0;
     }},
    {"MaskBltOwnMask", 1, false,
     [](const Surfaces& s) {
       // The mask is the source's own bitmap: the destination's, when they are one.
       return MaskBlt(s.dest.dc(), s.shift.x, s.shift.y, s.width, s.height, s.src.dc(), 0, 0, s.src.bitmap(), 0, 0,
                      MAKEROP4(SRCINVERT, NOTSRCCOPY)) != 0;
     }},
    {"PlgBlt", 32, false,
     [](const Surfaces& s) {
       POINT pts[3];
       Leaned(s, pts);
       return PlgBlt(s.dest.dc(), pts, s.src.dc(), 0, 0, s.width, s.height, nullptr, 0, 0) != 0;
     }},
    {"PlgBltMasked", 32, false,
     [](const Surfaces& s) {
       POINT pts[3];
       Leaned(s, pts);
       return PlgBlt(s.dest.dc(), pts, s.src.dc(), 0, 0, s.width, s.height, Checker(), 0, 0) != 0;
     }},
    {"PlgBltOwnMask", 1, false,
     [](const Surfaces& s) {
       POINT pts[3];
       Leaned(s, pts);
       return PlgBlt(s.dest.dc(), pts, s.src.dc(), 0, 0, s.width, s.height, s.src.bitmap(), 0, 0) != 0;
     }},
    {"AlphaBlendConstant", 32, false,
     [](const Surfaces& s) {
       return AlphaBlend(s.dest.dc(), s.shift.x, s.shift.y, s.width, s.height, s.src.dc(), 0, 0, s.width, s.height,
                         BLENDFUNCTION{AC_SRC_OVER, 0, 128, 0}) != 0;
     }},
    {"AlphaBlendPerPixelStretched", 32, false,
     [](const Surfaces& s) {
       return AlphaBlend(s.dest.dc(), s.shift.x, s.shift.y, s.width, s.height, s.src.dc(), 0, 0, s.width - 3,
                         s.height - 2, BLENDFUNCTION{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA}) != 0;
     }},
    {"TransparentBlt", 32, false,
     [](const Surfaces& s) {
       return TransparentBlt(s.dest.dc(), s.shift.x, s.shift.y, s.width, s.height, s.src.dc(), 0, 0, s.width,
                             s.height, kKey) != 0;
     }},
    {"BitBltLeanedMap", 32, true,
     [](const Surfaces& s) {
       return BitBlt(s.dest.dc(), s.shift.x, s.shift.y, s.width, s.height, s.src.dc(), 0, 0, SRCCOPY) != 0;
     }},
    {"StretchBltLeanedMap", 32, true,
     [](const Surfaces& s) {
       return StretchBlt(s.dest.dc(), s.shift.x, s.shift.y, s.width, s.height, s.src.dc(), 0, 0, s.width / 2,
                         s.height, SRCINVERT) != 0;
     }},
    {"StretchDIBitsLeanedMap", 32, true,
     [](const Surfaces& s) {
       BITMAPINFO info = gditest::Info32(s.width, s.height);
       return StretchDIBits(s.dest.dc(), s.shift.x, s.shift.y, s.width, s.height, 0, 0, s.width, s.height,
                            s.src.Row(0), &info, DIB_RGB_COLORS, SRCCOPY) != 0;
     }},
    {"AlphaBlendLeanedMap", 32, true,
     [](const Surfaces& s) {
       return AlphaBlend(s.dest.dc(), s.shift.x, s.shift.y, s.width, s.height, s.src.dc(), 0, 0, s.width, s.height,
                         BLENDFUNCTION{AC_SRC_OVER, 0, 200, 0}) != 0;
     }},
};

struct Direction {
  const char* name;
  POINT shift;
};
// How the case reads in the test list and in a failure.
void PrintTo(const Direction& c, std::ostream* os) { *os << c.name; }

const Direction kDirections[] = {{"Up", {0, -1}},   {"Down", {0, 1}},       {"Left", {-1, 0}},
                                 {"Right", {1, 0}}, {"DownRight", {2, 3}}, {"UpLeft", {-3, -2}}};

struct Size {
  const char* name;
  int width, height;
};
// How the case reads in the test list and in a failure.
void PrintTo(const Size& c, std::ostream* os) { *os << c.name; }

const Size kSizes[] = {{"Small", 13, 11}, {"Large", 700, 700}};

// Pixels every case can tell apart: no two neighbours alike, and some of the
// transparent colour.
void Paint(const gditest::Dib& d, int bitCount, int width, int height) {
  uint32_t h = 0x9E3779B9u;
  for (int y = 0; y < height; ++y) {
    uint8_t* row = d.Row(y);
    for (int i = 0; i < d.Stride(); ++i) {
      h ^= h << 13, h ^= h >> 17, h ^= h << 5;
      row[i] = static_cast<uint8_t>(h >> 7);
    }
    if (bitCount == 32)
      for (int x = (y * 7) % 5; x < width; x += 5) d.SetPixel32(x, y, kKey);
  }
}

void Lean(const gditest::Dib& d) {
  SetGraphicsMode(d.dc(), GM_ADVANCED);
  const XFORM lean{1, 0, 0.25f, 1, 0, 0};
  SetWorldTransform(d.dc(), &lean);
}

using Param = std::tuple<Case, Direction, Size>;

class GdiSelfTransfer : public ::testing::TestWithParam<Param> {};

TEST_P(GdiSelfTransfer, ReadsTheSourceAsItWasBeforeWriting) {
  const auto& [c, dir, size] = GetParam();
  const int w = size.width, h = size.height;
  gditest::Dib self(w, h, c.bitCount), want(w, h, c.bitCount), copy(w, h, c.bitCount);
  for (const gditest::Dib* d : {&self, &want, &copy}) {
    Paint(*d, c.bitCount, w, h);
    if (c.leanedMap) Lean(*d);
  }
  ASSERT_TRUE(c.run(Surfaces{want, copy, w, h, dir.shift}));
  ASSERT_TRUE(c.run(Surfaces{self, self, w, h, dir.shift}));
  int wrong = 0, firstX = -1, firstY = -1;
  for (int y = 0; y < h; ++y)
    if (std::memcmp(self.Row(y), want.Row(y), static_cast<size_t>(self.Stride())) != 0) {
      ++wrong;
      if (firstY < 0) {
        firstY = y;
        for (firstX = 0; firstX < self.Stride() && self.Row(y)[firstX] == want.Row(y)[firstX];) ++firstX;
      }
    }
  EXPECT_EQ(wrong, 0) << "rows differing from the copy's result, the first " << firstY << " at byte " << firstX;
  // The transfer did something: the result is not the untouched surface.
  bool changed = false;
  for (int y = 0; y < h && !changed; ++y)
    changed = std::memcmp(want.Row(y), copy.Row(y), static_cast<size_t>(want.Stride())) != 0;
  EXPECT_TRUE(changed);
}

INSTANTIATE_TEST_SUITE_P(Transfers, GdiSelfTransfer,
                         ::testing::Combine(::testing::ValuesIn(kCases), ::testing::ValuesIn(kDirections),
                                            ::testing::ValuesIn(kSizes)),
                         [](const ::testing::TestParamInfo<Param>& p) {
                           return std::string(std::get<0>(p.param).name) + "_" + std::get<1>(p.param).name + "_" +
                                  std::get<2>(p.param).name;
                         });

}  // namespace selfblit
