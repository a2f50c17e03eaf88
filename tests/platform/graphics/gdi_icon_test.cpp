// Icon handles: made from icon-resource images (DIB with AND mask, 32-bit DIB
// with alpha, PNG) and bitmaps, and drawn with DrawIconEx.
#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <vector>

#include "gdi_test_helpers.h"

using gditest::Argb;
using gditest::Dib;

namespace {

void Put(std::vector<uint8_t>& out, const void* p, size_t n) {
  const auto* b = static_cast<const uint8_t*>(p);
  out.insert(out.end(), b, b + n);
}

// The image of an icon resource: header with doubled height, colour table, XOR
// rows and AND rows, both bottom-up. Pixels are given top row first.
std::vector<uint8_t> IconImage(int w, int h, int bitCount, const std::vector<RGBQUAD>& table,
                               const std::vector<uint32_t>& pixels, const std::vector<int>& andBits) {
  std::vector<uint8_t> out;
  BITMAPINFOHEADER hd;
  hd.biWidth = w;
  hd.biHeight = 2 * h;
  hd.biBitCount = static_cast<WORD>(bitCount);
  hd.biClrUsed = static_cast<DWORD>(table.size());
  Put(out, &hd, sizeof(hd));
  if (!table.empty()) Put(out, table.data(), table.size() * 4);
  size_t xorStride = static_cast<size_t>(DibRowBytes(w, bitCount)), andStride = static_cast<size_t>(DibRowBytes(w, 1));
  for (int y = h - 1; y >= 0; --y) {
    std::vector<uint8_t> row(xorStride, 0);
    for (int x = 0; x < w; ++x) {
      uint32_t v = pixels[static_cast<size_t>(y * w + x)];
      if (bitCount == 8) row[static_cast<size_t>(x)] = static_cast<uint8_t>(v);
      else std::memcpy(&row[static_cast<size_t>(4 * x)], &v, 4);
    }
    Put(out, row.data(), row.size());
  }
  for (int y = h - 1; y >= 0; --y) {
    std::vector<uint8_t> row(andStride, 0);
    for (int x = 0; x < w; ++x)
      if (andBits[static_cast<size_t>(y * w + x)]) row[static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
    Put(out, row.data(), row.size());
  }
  return out;
}

std::vector<uint8_t> PngImage(int w, int h, const std::vector<uint8_t>& rgba) {
  png_image image;
  std::memset(&image, 0, sizeof(image));
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(w);
  image.height = static_cast<png_uint_32>(h);
  image.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  EXPECT_TRUE(png_image_write_to_memory(&image, nullptr, &size, 0, rgba.data(), 0, nullptr));
  std::vector<uint8_t> out(size);
  EXPECT_TRUE(png_image_write_to_memory(&image, out.data(), &size, 0, rgba.data(), 0, nullptr));
  out.resize(size);
  return out;
}

constexpr uint32_t kBackground = Argb(0xFF, 0, 0, 200);

TEST(GdiIcon, ThirtyTwoBitAlphaImageBlendsOverTheBackground) {
  // Not premultiplied, as icon files store them.
  std::vector<uint32_t> px{Argb(255, 255, 0, 0), Argb(128, 0, 255, 0), Argb(0, 0, 0, 255), Argb(64, 255, 255, 255)};
  auto data = IconImage(2, 2, 32, {}, px, {0, 0, 0, 0});
  HICON icon = CreateIconFromResourceEx(data.data(), static_cast<DWORD>(data.size()), TRUE, 0x00030000, 0, 0, 0);
  ASSERT_NE(icon, nullptr);
  Dib d(3, 3, 32);
  d.Fill32(kBackground);
  ASSERT_TRUE(DrawIconEx(d.dc(), 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL));
  // dest = src * a + dest * (1 - a), channel by channel, rounded.
  EXPECT_EQ(d.Pixel32(0, 0), Argb(255, 255, 0, 0));
  EXPECT_EQ(d.Pixel32(1, 0), Argb(255, 0, 128, 100));
  EXPECT_EQ(d.Pixel32(0, 1), kBackground);
  EXPECT_EQ(d.Pixel32(1, 1), Argb(255, 64, 64, 214));
  EXPECT_EQ(d.Pixel32(2, 2), kBackground);  // own size: 2x2
  DestroyIcon(icon);
}

TEST(GdiIcon, EightBitImageUsesItsAndMask) {
  std::vector<RGBQUAD> table{gditest::Quad(0, 0, 0), gditest::Quad(255, 0, 0), gditest::Quad(0, 255, 0)};
  auto data = IconImage(2, 2, 8, table, {1, 0, 2, 1}, {0, 1, 0, 1});
  HICON icon = CreateIconFromResourceEx(data.data(), static_cast<DWORD>(data.size()), TRUE, 0x00030000, 0, 0, 0);
  ASSERT_NE(icon, nullptr);
  Dib d(2, 2, 32);
  d.Fill32(Argb(0, 0, 0, 200));
  ASSERT_TRUE(DrawIconEx(d.dc(), 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL));
  EXPECT_EQ(d.Pixel32(0, 0), Argb(0, 255, 0, 0));      // opaque: the colour
  EXPECT_EQ(d.Pixel32(1, 0), Argb(0, 0, 0, 200));      // transparent black: the background
  EXPECT_EQ(d.Pixel32(0, 1), Argb(0, 0, 255, 0));
  EXPECT_EQ(d.Pixel32(1, 1), Argb(0, 255, 0, 200));    // transparent colour: background XOR colour

  // The parts alone: the mask as black and white, the image as it is.
  Dib m(2, 2, 32), i(2, 2, 32);
  m.Fill32(0x00123456);
  ASSERT_TRUE(DrawIconEx(m.dc(), 0, 0, icon, 0, 0, 0, nullptr, DI_MASK));
  EXPECT_EQ(m.Pixel32(0, 0), 0x00000000u);
  EXPECT_EQ(m.Pixel32(1, 0), 0x00FFFFFFu);
  ASSERT_TRUE(DrawIconEx(i.dc(), 0, 0, icon, 0, 0, 0, nullptr, DI_IMAGE));
  EXPECT_EQ(i.Pixel32(1, 1), Argb(0, 255, 0, 0));
  DestroyIcon(icon);
}

TEST(GdiIcon, PngImageDrawsWithItsAlpha) {
  auto png = PngImage(2, 1, {255, 0, 0, 255, 0, 0, 255, 0});
  HICON icon = CreateIconFromResourceEx(png.data(), static_cast<DWORD>(png.size()), TRUE, 0x00030000, 0, 0, 0);
  ASSERT_NE(icon, nullptr);
  Dib d(2, 1, 32);
  d.Fill32(kBackground);
  ASSERT_TRUE(DrawIconEx(d.dc(), 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL));
  EXPECT_EQ(d.Pixel32(0, 0), Argb(255, 255, 0, 0));
  EXPECT_EQ(d.Pixel32(1, 0), kBackground);
  ICONINFO info;
  ASSERT_TRUE(GetIconInfo(icon, &info));
  BITMAP bm;
  ASSERT_TRUE(GetObject(info.hbmColor, sizeof(bm), &bm));
  EXPECT_EQ(bm.bmWidth, 2);
  EXPECT_EQ(bm.bmBitsPixel, 32);
  ASSERT_TRUE(GetObject(info.hbmMask, sizeof(bm), &bm));
  EXPECT_EQ(bm.bmBitsPixel, 1);
  EXPECT_EQ(info.xHotspot, 1u);  // an icon's hot spot is its centre
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  DestroyIcon(icon);
}

TEST(GdiIcon, SizeZeroMeansOwnSizeUnlessDefaultSizeIsAsked) {
  std::vector<uint32_t> px(4, Argb(255, 9, 9, 9));
  auto data = IconImage(2, 2, 32, {}, px, {0, 0, 0, 0});
  HICON icon = CreateIconFromResourceEx(data.data(), static_cast<DWORD>(data.size()), TRUE, 0x00030000, 0, 0, 0);
  ASSERT_NE(icon, nullptr);
  Dib d(40, 40, 32);
  d.Fill32(kBackground);
  ASSERT_TRUE(DrawIconEx(d.dc(), 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL | DI_DEFAULTSIZE));
  EXPECT_EQ(d.Pixel32(31, 31), Argb(255, 9, 9, 9));
  EXPECT_EQ(d.Pixel32(32, 32), kBackground);
  Dib e(4, 4, 32);
  ASSERT_TRUE(DrawIconEx(e.dc(), 1, 1, icon, 0, 0, 0, nullptr, DI_NORMAL));
  EXPECT_EQ(e.Pixel32(2, 2), Argb(255, 9, 9, 9));
  EXPECT_EQ(e.Pixel32(3, 3), 0u);
  // Asked sizes stretch; a copy draws the same.
  HICON copy = CopyIcon(icon);
  ASSERT_TRUE(DrawIconEx(e.dc(), 0, 0, copy, 4, 4, 0, nullptr, DI_NORMAL));
  EXPECT_EQ(e.Pixel32(3, 3), Argb(255, 9, 9, 9));
  DestroyIcon(copy);
  DestroyIcon(icon);
  EXPECT_FALSE(DestroyIcon(icon));
}

TEST(GdiIcon, IconFromBitmapsAndCursorHotSpot) {
  Dib color(2, 1, 24), mask(2, 1, 1);
  SetPixel(color.dc(), 0, 0, RGB(1, 2, 3));
  SetPixel(mask.dc(), 1, 0, RGB(255, 255, 255));
  ICONINFO ii;
  ii.fIcon = FALSE;
  ii.xHotspot = 1;
  ii.yHotspot = 0;
  ii.hbmMask = mask.bitmap();
  ii.hbmColor = color.bitmap();
  HICON cursor = CreateIconIndirect(&ii);
  ASSERT_NE(cursor, nullptr);
  ICONINFO out;
  ASSERT_TRUE(GetIconInfo(cursor, &out));
  EXPECT_EQ(out.fIcon, FALSE);
  EXPECT_EQ(out.xHotspot, 1u);
  Dib d(2, 1, 32);
  d.Fill32(0x00777777);
  ASSERT_TRUE(DrawIcon(d.dc(), 0, 0, cursor));  // default size 32x32, stretched
  EXPECT_EQ(d.Pixel32(0, 0), Argb(0, 1, 2, 3));
  DeleteObject(out.hbmMask);
  DeleteObject(out.hbmColor);
  DestroyCursor(cursor);
}

// Malformed images give no icon.
TEST(GdiIcon, BadResourceImagesAreRefused) {
  std::vector<uint32_t> px(4, 0);
  auto good = IconImage(2, 2, 8, {gditest::Quad(0, 0, 0)}, px, {0, 0, 0, 0});
  struct Case {
    const char* name;
    std::vector<uint8_t> data;
  };
  std::vector<Case> cases;
  cases.push_back({"empty", {}});
  cases.push_back({"truncated_header", std::vector<uint8_t>(good.begin(), good.begin() + 20)});
  cases.push_back({"truncated_bits", std::vector<uint8_t>(good.begin(), good.begin() + 46)});
  auto bad = good;
  bad[0] = 0;  // header size 0
  cases.push_back({"header_size_zero", bad});
  bad = good;
  bad[8] = 3;  // odd doubled height
  cases.push_back({"odd_height", bad});
  bad = good;
  bad[4] = 0xFF;
  bad[5] = 0xFF;
  bad[6] = 0xFF;
  bad[7] = 0x7F;  // huge width
  cases.push_back({"huge_width", bad});
  bad = good;
  bad[14] = 7;  // 7 bits per pixel
  cases.push_back({"bit_count", bad});
  auto png = PngImage(1, 1, {1, 2, 3, 4});
  cases.push_back({"truncated_png", std::vector<uint8_t>(png.begin(), png.begin() + 30)});
  for (const Case& c : cases) {
    HICON icon = CreateIconFromResourceEx(c.data.data(), static_cast<DWORD>(c.data.size()), TRUE, 0x00030000, 0, 0, 0);
    EXPECT_EQ(icon, nullptr) << c.name;
  }
  HICON ok = CreateIconFromResourceEx(good.data(), static_cast<DWORD>(good.size()), TRUE, 0x00030000, 0, 0, 0);
  EXPECT_NE(ok, nullptr);
  DestroyIcon(ok);
}

TEST(GdiIcon, OneBitImageMakesAMonochromeIcon) {
  // AND 1 with XOR 1 inverts the background; AND 0 with XOR 0 paints black.
  std::vector<RGBQUAD> table{gditest::Quad(0, 0, 0), gditest::Quad(255, 255, 255)};
  std::vector<uint8_t> data;
  BITMAPINFOHEADER hd;
  hd.biWidth = 2;
  hd.biHeight = 2;
  hd.biBitCount = 1;
  Put(data, &hd, sizeof(hd));
  Put(data, table.data(), 8);
  uint8_t xorRow[4] = {0x40, 0, 0, 0};  // pixel 1 white
  uint8_t andRow[4] = {0x40, 0, 0, 0};  // pixel 1 transparent
  Put(data, xorRow, 4);
  Put(data, andRow, 4);
  HICON icon = CreateIconFromResourceEx(data.data(), static_cast<DWORD>(data.size()), TRUE, 0x00030000, 0, 0, 0);
  ASSERT_NE(icon, nullptr);
  ICONINFO info;
  ASSERT_TRUE(GetIconInfo(icon, &info));
  EXPECT_EQ(info.hbmColor, nullptr);
  BITMAP bm;
  ASSERT_TRUE(GetObject(info.hbmMask, sizeof(bm), &bm));
  EXPECT_EQ(bm.bmWidth, 2);
  EXPECT_EQ(bm.bmHeight, 2);  // AND above XOR
  DeleteObject(info.hbmMask);
  Dib d(2, 1, 32);
  d.Fill32(0x00102030);
  ASSERT_TRUE(DrawIconEx(d.dc(), 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL));
  EXPECT_EQ(d.Pixel32(0, 0), 0u);
  EXPECT_EQ(d.Pixel32(1, 0), 0x00EFDFCFu);
  DestroyIcon(icon);
}

}  // namespace
