// Bitmaps and DIBs: row layout, formats, conversions between them and hostile headers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "gdi_test_helpers.h"

using gditest::Argb;
using gditest::Dib;
using gditest::Quad;

namespace {

struct StrideCase {
  int bitCount;
  int width;
  LONG stride;
};
// How the case reads in the test list and in a failure.
void PrintTo(const StrideCase& c, std::ostream* os) { *os << c.bitCount << " bits, " << c.width << " wide"; }

class GdiStride : public ::testing::TestWithParam<StrideCase> {};

// Rows of a DIB are padded to whole DWORDs.
TEST_P(GdiStride, RowsAreDwordAligned) {
  const StrideCase& c = GetParam();
  Dib d(c.width, 3, c.bitCount);
  DIBSECTION ds;
  ASSERT_EQ(GetObject(d.bitmap(), sizeof(ds), &ds), static_cast<int>(sizeof(DIBSECTION)));
  EXPECT_EQ(ds.dsBm.bmWidthBytes, c.stride);
  EXPECT_EQ(ds.dsBmih.biSizeImage, static_cast<DWORD>(3 * c.stride));
  EXPECT_EQ(ds.dsBm.bmBitsPixel, c.bitCount);
  BITMAPINFO info{};
  info.bmiHeader.biBitCount = 0;
  ASSERT_NE(GetDIBits(d.dc(), d.bitmap(), 0, 3, nullptr, &info, DIB_RGB_COLORS), 0);
  EXPECT_EQ(info.bmiHeader.biSizeImage, static_cast<DWORD>(3 * c.stride));
  EXPECT_EQ(info.bmiHeader.biBitCount, c.bitCount);
}

INSTANTIATE_TEST_SUITE_P(Formats, GdiStride,
                         ::testing::Values(StrideCase{1, 5, 4}, StrideCase{1, 33, 8}, StrideCase{4, 9, 8},
                                           StrideCase{8, 5, 8}, StrideCase{16, 5, 12}, StrideCase{24, 5, 16},
                                           StrideCase{24, 3, 12}, StrideCase{32, 5, 20}),
                         [](const auto& p) {
                           return std::to_string(p.param.bitCount) + "bit_w" + std::to_string(p.param.width);
                         });

// A colour drawn into each format reads back as that format keeps it.
struct FormatCase {
  const char* name;
  int bitCount;
  COLORREF drawn;
  COLORREF read;
};
// How the case reads in the test list and in a failure.
void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

class GdiFormat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(GdiFormat, PixelRoundTripAndConversionTo32Bits) {
  const FormatCase& c = GetParam();
  std::vector<RGBQUAD> table;
  if (c.bitCount <= 8) table = {Quad(0, 0, 0), Quad(255, 255, 255), Quad(200, 40, 40), Quad(0, 0, 90)};
  if (c.bitCount == 1) table.resize(2);
  Dib d(3, 2, c.bitCount, table, false);
  SetPixel(d.dc(), 1, 1, c.drawn);
  EXPECT_EQ(GetPixel(d.dc(), 1, 1), c.read) << c.name;
  // GetDIBits into a top-down 32-bit buffer gives the colour with alpha 0.
  BITMAPINFO info{};
  info.bmiHeader.biWidth = 3;
  info.bmiHeader.biHeight = -2;
  info.bmiHeader.biBitCount = 32;
  uint32_t out[6];
  std::memset(out, 0xEE, sizeof(out));
  ASSERT_EQ(GetDIBits(d.dc(), d.bitmap(), 0, 2, out, &info, DIB_RGB_COLORS), 2);
  EXPECT_EQ(out[4], Argb(0, GetRValue(c.read), GetGValue(c.read), GetBValue(c.read))) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Formats, GdiFormat,
    ::testing::Values(FormatCase{"mono", 1, RGB(250, 240, 230), RGB(255, 255, 255)},
                      FormatCase{"four", 4, RGB(190, 50, 30), RGB(200, 40, 40)},
                      FormatCase{"eight", 8, RGB(0, 0, 100), RGB(0, 0, 90)},
                      FormatCase{"rgb555", 16, RGB(255, 128, 8), RGB(255, 132, 8)},
                      FormatCase{"rgb24", 24, RGB(1, 2, 3), RGB(1, 2, 3)},
                      FormatCase{"rgb32", 32, RGB(4, 5, 6), RGB(4, 5, 6)}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(GdiBitmap, BitfieldsSixteenBitUsesItsMasks) {
  std::vector<uint8_t> buf(sizeof(BITMAPINFOHEADER) + 12);
  auto* h = reinterpret_cast<BITMAPINFOHEADER*>(buf.data());
  *h = BITMAPINFOHEADER();
  h->biWidth = 2;
  h->biHeight = 1;
  h->biBitCount = 16;
  h->biCompression = BI_BITFIELDS;
  DWORD masks[3] = {0xF800, 0x07E0, 0x001F};
  std::memcpy(buf.data() + sizeof(BITMAPINFOHEADER), masks, 12);
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(buf.data()), DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(bmp, nullptr);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, bmp);
  SetPixel(dc, 0, 0, RGB(255, 0, 0));
  SetPixel(dc, 1, 0, RGB(0, 255, 0));
  const auto* px = static_cast<const uint16_t*>(bits);
  EXPECT_EQ(px[0], 0xF800);
  EXPECT_EQ(px[1], 0x07E0);
  DIBSECTION ds;
  GetObject(bmp, sizeof(ds), &ds);
  EXPECT_EQ(ds.dsBitfields[1], 0x07E0u);
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(bmp);
}

TEST(GdiBitmap, BottomUpAndTopDownRowsAndColourTables) {
  Dib d(1, 3, 8, {Quad(0, 0, 0), Quad(10, 20, 30), Quad(40, 50, 60)}, false);
  SetPixel(d.dc(), 0, 0, RGB(10, 20, 30));  // top row
  SetPixel(d.dc(), 0, 2, RGB(40, 50, 60));  // bottom row
  // Bottom-up 8-bit copy: the first row in memory is the bottom one; the table comes along.
  std::vector<uint8_t> infoBuf(sizeof(BITMAPINFOHEADER) + 256 * 4);
  auto* info = reinterpret_cast<BITMAPINFO*>(infoBuf.data());
  info->bmiHeader = BITMAPINFOHEADER();
  info->bmiHeader.biWidth = 1;
  info->bmiHeader.biHeight = 3;
  info->bmiHeader.biBitCount = 8;
  uint8_t rows[12] = {};
  ASSERT_EQ(GetDIBits(d.dc(), d.bitmap(), 0, 3, rows, info, DIB_RGB_COLORS), 3);
  EXPECT_EQ(rows[0], 2);
  EXPECT_EQ(rows[8], 1);
  EXPECT_EQ(info->bmiColors[1].rgbRed, 10);
  // The DC's colour table can be read and changed; pixels keep their indexes.
  RGBQUAD t[3];
  EXPECT_EQ(GetDIBColorTable(d.dc(), 0, 3, t), 3u);
  EXPECT_EQ(t[2].rgbBlue, 60);
  RGBQUAD yellow = Quad(255, 255, 0);
  EXPECT_EQ(SetDIBColorTable(d.dc(), 1, 1, &yellow), 1u);
  EXPECT_EQ(GetPixel(d.dc(), 0, 0), RGB(255, 255, 0));
  EXPECT_EQ(GetDIBColorTable(d.dc(), 300, 1, t), 0u);
  // SetDIBits takes a bottom-up 24-bit image into the 8-bit bitmap through nearest colours.
  BITMAPINFO in{};
  in.bmiHeader.biWidth = 1;
  in.bmiHeader.biHeight = 3;
  in.bmiHeader.biBitCount = 24;
  uint8_t src[12] = {60, 50, 40, 0, 0, 0, 0, 0, 1, 2, 250, 250};  // B,G,R bottom row first
  src[8] = 1;
  ASSERT_EQ(SetDIBits(nullptr, d.bitmap(), 0, 3, src, &in, DIB_RGB_COLORS), 3);
  EXPECT_EQ(d.Index(0, 2), 2u);
  EXPECT_EQ(d.Index(0, 1), 0u);
}

TEST(GdiBitmap, DeviceBitmapsHaveWordAlignedBits) {
  BYTE bits[4] = {0xF0, 0x00, 0x0F, 0x00};  // 4x2, rows of two bytes
  HBITMAP mono = CreateBitmap(4, 2, 1, 1, bits);
  BITMAP bm;
  ASSERT_TRUE(GetObject(mono, sizeof(bm), &bm));
  EXPECT_EQ(bm.bmWidthBytes, 2);
  BYTE back[4] = {};
  EXPECT_EQ(GetBitmapBits(mono, 4, back), 4);
  EXPECT_EQ(std::memcmp(back, bits, 4), 0);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, mono);
  EXPECT_EQ(GetPixel(dc, 0, 0), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(dc, 0, 1), RGB(0, 0, 0));
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(mono);
  // CreateDIBitmap on a DC holding a 32-bit bitmap makes a 32-bit device bitmap.
  Dib host(1, 1, 32);
  BITMAPINFO info{};
  info.bmiHeader.biWidth = 1;
  info.bmiHeader.biHeight = 1;
  info.bmiHeader.biBitCount = 24;
  uint8_t px[4] = {3, 2, 1, 0};
  HBITMAP ddb = CreateDIBitmap(host.dc(), &info.bmiHeader, CBM_INIT, px, &info, DIB_RGB_COLORS);
  ASSERT_NE(ddb, nullptr);
  ASSERT_TRUE(GetObject(ddb, sizeof(bm), &bm));
  EXPECT_EQ(bm.bmBitsPixel, 32);
  uint32_t v = 0;
  info.bmiHeader.biBitCount = 32;
  ASSERT_EQ(GetDIBits(host.dc(), ddb, 0, 1, &v, &info, DIB_RGB_COLORS), 1);
  EXPECT_EQ(v, Argb(0, 1, 2, 3));
  DeleteObject(ddb);
}

// Headers that do not describe a DIB we can hold give no bitmap and no crash.
TEST(GdiBitmap, BadHeadersAreRefused) {
  struct Case {
    const char* name;
    BITMAPINFOHEADER h;
  };
  auto make = [](LONG w, LONG h, WORD bits, DWORD size = 40, DWORD comp = BI_RGB, WORD planes = 1) {
    BITMAPINFOHEADER hd;
    hd.biSize = size;
    hd.biWidth = w;
    hd.biHeight = h;
    hd.biBitCount = bits;
    hd.biCompression = comp;
    hd.biPlanes = planes;
    return hd;
  };
  std::vector<Case> cases{{"size_zero", make(4, 4, 24, 0)},          {"size_huge", make(4, 4, 24, 5000)},
                          {"width_zero", make(0, 4, 24)},             {"height_zero", make(4, 0, 24)},
                          {"negative_width", make(-4, 4, 24)},        {"bit_count_7", make(4, 4, 7)},
                          {"too_many_bytes", make(60000, 60000, 32)}, {"height_min", make(4, INT32_MIN, 24)},
                          {"rle", make(4, 4, 8, 40, BI_RLE8)},        {"planes", make(4, 4, 24, 40, BI_RGB, 2)},
                          {"bitfields_8", make(4, 4, 8, 40, BI_BITFIELDS)}};
  std::vector<uint8_t> buf(sizeof(BITMAPINFOHEADER) + 1024, 0);
  Dib d(2, 2, 32);
  for (const Case& c : cases) {
    std::memcpy(buf.data(), &c.h, sizeof(c.h));
    auto* info = reinterpret_cast<BITMAPINFO*>(buf.data());
    void* bits = reinterpret_cast<void*>(1);
    EXPECT_EQ(CreateDIBSection(nullptr, info, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr) << c.name;
    EXPECT_EQ(bits, nullptr) << c.name;
    uint8_t px[64] = {};
    EXPECT_EQ(StretchDIBits(d.dc(), 0, 0, 2, 2, 0, 0, 2, 2, px, info, DIB_RGB_COLORS, SRCCOPY), 0) << c.name;
    EXPECT_EQ(SetDIBits(nullptr, d.bitmap(), 0, 2, px, info, DIB_RGB_COLORS), 0) << c.name;
  }
  EXPECT_EQ(CreateBitmap(1 << 20, 1 << 20, 1, 32, nullptr), nullptr);
  EXPECT_EQ(CreateBitmap(4, 4, 1, 3, nullptr), nullptr);
  EXPECT_EQ(CreateCompatibleBitmap(nullptr, 4, 4), nullptr);
}

}  // namespace

namespace {

// A bottom-up 32-bit DIB section whose pixel at (x, y) is x + 16 * y.
HBITMAP Numbered(int w, int h, uint32_t*& bits) {
  BITMAPINFO info = gditest::Info32(w, h);
  info.bmiHeader.biHeight = h;
  void* p = nullptr;
  HBITMAP b = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &p, nullptr, 0);
  bits = static_cast<uint32_t*>(p);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) bits[size_t(h - 1 - y) * size_t(w) + size_t(x)] = uint32_t(x + 16 * y);
  return b;
}

// GetDIBits and SetDIBits handed the bitmap's own pixels as their buffer, with
// the rows in the opposite order: the result is that of a separate buffer.
TEST(GdiBitmap, OwnPixelsAsTheBufferReadAsTheyWere) {
  const int w = 5, h = 7;
  const BITMAPINFO topDown = gditest::Info32(w, h);
  uint32_t* bits = nullptr;
  HBITMAP b = Numbered(w, h, bits);
  std::vector<uint32_t> expected(size_t(w) * h);
  ASSERT_EQ(GetDIBits(nullptr, b, 0, h, expected.data(), const_cast<BITMAPINFO*>(&topDown), DIB_RGB_COLORS), h);
  BITMAPINFO info = topDown;
  ASSERT_EQ(GetDIBits(nullptr, b, 0, h, bits, &info, DIB_RGB_COLORS), h);
  EXPECT_EQ(std::vector<uint32_t>(bits, bits + expected.size()), expected);
  DeleteObject(b);

  // Its bottom-up rows taken as top-down ones turn the picture upside down.
  b = Numbered(w, h, bits);
  const std::vector<uint32_t> before(bits, bits + size_t(w) * h);
  ASSERT_EQ(SetDIBits(nullptr, b, 0, h, bits, &topDown, DIB_RGB_COLORS), h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      EXPECT_EQ(bits[size_t(h - 1 - y) * size_t(w) + size_t(x)], before[size_t(y) * size_t(w) + size_t(x)])
          << x << "," << y;
  DeleteObject(b);
}

}  // namespace
