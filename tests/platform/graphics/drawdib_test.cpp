// The DrawDib calls: handles, rectangles counted from the top of the picture,
// the default sizes, and what is refused.
#include <gtest/gtest.h>

#include <vector>

#include "gdi_test_helpers.h"
#include "platform/graphics/drawdib.h"

namespace {

// A 4 x 2 24-bit bottom-up DIB whose pixel (x, y) from the top is (x, y, 9).
struct TSmallDib {
  BITMAPINFOHEADER header{};
  std::vector<uint8_t> bits;
  TSmallDib() {
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = 4;
    header.biHeight = 2;
    header.biPlanes = 1;
    header.biBitCount = 24;
    bits.assign(2 * 12, 0);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 4; ++x) {
        uint8_t* p = &bits[size_t((1 - y) * 12 + 3 * x)];
        p[0] = 9, p[1] = uint8_t(y), p[2] = uint8_t(x);  // blue, green, red
      }
  }
};

struct TMemoryTarget {
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = nullptr;
  void* bits = nullptr;
  TMemoryTarget(int w, int h) {
    BITMAPINFO info = gditest::Info32(w, h);
    bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    SelectObject(dc, bitmap);
  }
  ~TMemoryTarget() {
    DeleteDC(dc);
    DeleteObject(bitmap);
  }
  COLORREF At(int x, int y) { return GetPixel(dc, x, y); }
};

TEST(DrawDib, DrawsSourceRectanglesFromTheTop) {
  TSmallDib dib;
  TMemoryTarget target(8, 4);
  HDRAWDIB hdd = DrawDibOpen();
  ASSERT_NE(hdd, nullptr);
  EXPECT_TRUE(DrawDibDraw(hdd, target.dc, 0, 0, -1, -1, &dib.header, dib.bits.data(), 0, 0, -1, -1, 0));
  EXPECT_EQ(target.At(3, 1), RGB(3, 1, 9));
  EXPECT_EQ(target.At(0, 0), RGB(0, 0, 9));
  // Row 1 of the picture, stretched twice over.
  EXPECT_TRUE(DrawDibDraw(hdd, target.dc, 0, 2, 4, 2, &dib.header, dib.bits.data(), 1, 1, 2, 1, 0));
  EXPECT_EQ(target.At(0, 2), RGB(1, 1, 9));
  EXPECT_EQ(target.At(3, 3), RGB(2, 1, 9));
  EXPECT_EQ(DrawDibRealize(hdd, target.dc, FALSE), 0u);
  EXPECT_TRUE(DrawDibClose(hdd));
}

TEST(DrawDib, RefusesWhatItCannotDo) {
  TSmallDib dib;
  TMemoryTarget target(4, 2);
  HDRAWDIB hdd = DrawDibOpen();
  EXPECT_FALSE(DrawDibDraw(hdd, target.dc, 0, 0, 4, 2, &dib.header, dib.bits.data(), 0, 0, 4, 2, DDF_UPDATE));
  EXPECT_TRUE(DrawDibDraw(hdd, target.dc, 0, 0, 4, 2, &dib.header, dib.bits.data(), 0, 0, 4, 2, DDF_DONTDRAW));
  EXPECT_EQ(target.At(1, 1), RGB(0, 0, 0));
  EXPECT_FALSE(DrawDibDraw(hdd, target.dc, 0, 0, 4, 2, nullptr, dib.bits.data(), 0, 0, 4, 2, 0));
  EXPECT_TRUE(DrawDibClose(hdd));
  EXPECT_FALSE(DrawDibClose(hdd));
  EXPECT_FALSE(DrawDibDraw(hdd, target.dc, 0, 0, 4, 2, &dib.header, dib.bits.data(), 0, 0, 4, 2, 0));
  EXPECT_FALSE(DrawDibClose(nullptr));
}

}  // namespace
