#include "icons/sub_icon_render.h"

#include <gtest/gtest.h>

#include <cstring>

#include "icon_test_util.h"
#include "icons/advanced_icon.h"
#include "platform/graphics/graphics_picture.h"

using namespace icontest;

namespace {

std::unique_ptr<TSubIcon> FromBits(const std::vector<uint8_t>& bits) {
  TCustomMemoryStream s(bits.data(), int64_t(bits.size()));
  return TSubIcon::CreateFromBitsStream<TFileIconImage>(s);
}

// Sets the AND bit of pixel (x, y from the top) of a DIB icon image.
void SetAndBit(std::vector<uint8_t>& dib, int w, int h, int bpp, int x, int y) {
  const size_t colours = bpp <= 8 ? (size_t(1) << bpp) : 0;
  const size_t at = 40 + colours * 4 + RowBytes(w, bpp) * size_t(h) + RowBytes(w, 1) * size_t(h - 1 - y) + size_t(x / 8);
  dib[at] |= uint8_t(0x80 >> (x % 8));
}

TEST(ExtractBitmaps, EmptyImagesGiveEmptyBitmaps) {
  TSubIcon empty;
  TBitmap raw, mask, comp;
  raw.SetSize(3, 3);
  ExtractBitmaps(empty, &comp, &raw, clWhite, &mask);
  EXPECT_EQ(raw.GetWidth(), 0);
  EXPECT_EQ(mask.GetHeight(), 0);
  EXPECT_EQ(comp.GetWidth(), 0);

  TSubIcon zeroWidth;
  auto bits = DibImage(4, 4, 8);
  Put32(bits, 4, 0);
  zeroWidth.SetBits(bits);
  TBitmap raw2;
  raw2.SetSize(2, 2);
  ExtractBitmaps(zeroWidth, nullptr, &raw2, clWhite, nullptr);
  EXPECT_EQ(raw2.GetWidth(), 0);
  EXPECT_EQ(raw2.PixelFormat(), pf24bit);
}

TEST(ExtractBitmaps, MaskAndComposite) {
  // 32-bit, opaque: the mask is all black; one AND bit set shows white.
  auto dib = DibImage(8, 4, 32, 0xFF);
  SetAndBit(dib, 8, 4, 32, 3, 1);
  auto im = FromBits(dib);
  TBitmap mask;
  ExtractBitmaps(*im, nullptr, nullptr, 0, &mask);
  ASSERT_EQ(mask.GetWidth(), 8);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x)
      EXPECT_EQ(mask.Canvas()->Pixels(x, y), (x == 3 && y == 1) ? clWhite : clBlack) << x << "," << y;

  // A 1-bit image on any background but 0 shows its transparent pixels white;
  // a white pixel under a set AND bit shows the background inverted.
  auto mono = DibImage(8, 2, 1, 0x00);  // all black (index 0)
  SetAndBit(mono, 8, 2, 1, 0, 0);
  mono[40 + 8 + 4] = 0x40;  // top row (stored second), pixel 1 white
  SetAndBit(mono, 8, 2, 1, 1, 0);
  auto m = FromBits(mono);
  struct Case {
    TColor background, transparent, inverted;
  };
  for (const Case c : {Case{0x0000FF, clWhite, clBlack}, Case{0, clBlack, clWhite}}) {
    TBitmap comp;
    ExtractBitmaps(*m, &comp, nullptr, c.background, nullptr);
    EXPECT_EQ(comp.Canvas()->Pixels(0, 0), c.transparent);
    EXPECT_EQ(comp.Canvas()->Pixels(1, 0), c.inverted);
    EXPECT_EQ(comp.Canvas()->Pixels(2, 0), clBlack);
  }

  // A 32-bit pixel of alpha 0 composites to the background.
  auto clear = DibImage(2, 2, 32, 0x00);
  auto c32 = FromBits(clear);
  TBitmap comp;
  ExtractBitmaps(*c32, &comp, nullptr, 0x00FF00, nullptr);
  EXPECT_EQ(static_cast<uint32_t*>(comp.ScanLine(0))[0] & 0xFFFFFF, 0x00FF00u);  // BGRA green
}

TEST(ExtractBitmaps, RowsTheBitsDoNotHoldAreRefused) {
  TSubIcon im;
  auto bits = DibImage(16, 16, 24);
  bits.resize(200);
  im.SetBits(bits);  // kept without a parse, as a project record keeps it
  TBitmap raw;
  EXPECT_THROW(ExtractBitmaps(im, nullptr, &raw, 0, nullptr), Exception);
  // A missing AND mask reads as opaque.
  auto noMask = DibImage(8, 8, 24);
  noMask.resize(40 + RowBytes(8, 24) * 8);
  TSubIcon opaque;
  opaque.SetBits(noMask);
  TBitmap mask;
  ExtractBitmaps(opaque, nullptr, nullptr, 0, &mask);
  EXPECT_EQ(mask.Canvas()->Pixels(7, 7), clBlack);
}

TEST(ExtractBitmaps, DepthsWithoutPixelsAreRefused) {
  // A 40-byte header claiming thousands of pixels at a depth that has no
  // pixel data (0, or planes times bit count off the list) draws nothing.
  struct Case {
    int planes, bitCount;
  } cases[] = {{1, 0}, {58, 0}, {2, 4}, {1, 2}, {3, 8}, {65362, 65535}};
  for (const Case& c : cases) {
    auto bits = DibImage(16, 16, 24);
    BITMAPINFOHEADER h;
    std::memcpy(&h, bits.data(), sizeof h);
    h.biWidth = 5000;
    h.biHeight = 2 * 700;
    h.biPlanes = WORD(c.planes);
    h.biBitCount = WORD(c.bitCount);
    std::memcpy(bits.data(), &h, sizeof h);
    bits.resize(58);
    TSubIcon im;
    im.SetBits(bits);
    TBitmap raw;
    EXPECT_THROW(ExtractBitmaps(im, nullptr, &raw, 0, nullptr), Exception) << c.planes << "x" << c.bitCount;
    // The depth is the product, however large the two fields are.
    im.Head().dwBytesInRes = uint32_t(bits.size());
    EXPECT_EQ(im.GetBitsPerPixel(), int(std::min<int64_t>(int64_t(c.planes) * c.bitCount, INT32_MAX)));
  }
}

// The colour rows of every header layout come out as the BMP file with the
// same header, masks, table and rows reads; a colour count at a depth above 8
// bits names no table in an icon (the rows follow the header), and what no BMP
// file may hold draws as the background.
TEST(ExtractBitmaps, ColourRowsReadAsTheirBmpFile) {
  struct Case {
    const char* name;
    uint32_t headerSize;
    int bpp;
    uint32_t compression;
    uint32_t clrUsed;
    std::vector<uint32_t> masks;
  };
  const Case cases[] = {
      {"1 bit", 40, 1, BI_RGB, 0, {}},
      {"4 bits, 3 colours", 40, 4, BI_RGB, 3, {}},
      {"4 bits, 20 colours", 40, 4, BI_RGB, 20, {}},
      {"8 bits", 40, 8, BI_RGB, 0, {}},
      {"16 bits", 40, 16, BI_RGB, 0, {}},
      {"16 bits 5-6-5", 40, 16, BI_BITFIELDS, 0, {0xF800, 0x07E0, 0x001F}},
      {"24 bits", 40, 24, BI_RGB, 0, {}},
      {"32 bits", 40, 32, BI_RGB, 0, {}},
      {"32 bits, 5 colours named", 40, 32, BI_RGB, 5, {}},
      {"32 bits, fields", 40, 32, BI_BITFIELDS, 0, {0xFF00, 0xFF0000, 0xFF000000}},
      {"32 bits, V5 header", 124, 32, BI_RGB, 0, {}},
      {"8 bits, V4 header", 108, 8, BI_RGB, 0, {}},
      {"8 bits, 300 colours", 40, 8, BI_RGB, 300, {}},
      {"16 bits, broken fields", 40, 16, BI_BITFIELDS, 0, {0xF0F0, 0x0F0F, 0}},
  };
  const int w = 5, h = 3;
  for (const Case& c : cases) {
    // Header (masks inside it from 52 bytes on, else after it), table, rows.
    std::vector<uint8_t> head(c.headerSize, 0);
    Put32(head, 0, c.headerSize);
    Put32(head, 4, w);
    Put32(head, 8, 2 * h);
    Put16(head, 12, 1);
    Put16(head, 14, uint32_t(c.bpp));
    Put32(head, 16, c.compression);
    Put32(head, 32, c.clrUsed);
    std::vector<uint8_t> extra;
    for (size_t k = 0; k < c.masks.size(); ++k) {
      if (c.headerSize >= 52) {
        Put32(head, 40 + 4 * k, c.masks[k]);
      } else {
        extra.resize(extra.size() + 4);
        Put32(extra, extra.size() - 4, c.masks[k]);
      }
    }
    uint32_t seed = uint32_t(c.bpp * 977 + c.clrUsed);
    auto next = [&seed] { return uint8_t((seed = seed * 1103515245u + 12345u) >> 24); };
    const size_t entries = c.bpp <= 8 ? (c.clrUsed ? c.clrUsed : size_t(1) << c.bpp) : 0;
    std::vector<uint8_t> table(entries * 4);
    for (size_t i = 0; i < table.size(); ++i) table[i] = i % 4 == 3 ? 0 : next();
    std::vector<uint8_t> rows(RowBytes(w, c.bpp) * h);
    for (uint8_t& b : rows) b = next();

    std::vector<uint8_t> dib = head;
    dib.insert(dib.end(), extra.begin(), extra.end());
    dib.insert(dib.end(), table.begin(), table.end());
    dib.insert(dib.end(), rows.begin(), rows.end());
    dib.resize(dib.size() + RowBytes(w, 1) * h, 0);
    TSubIcon image;
    image.SetBits(dib);
    TBitmap raw;
    ExtractBitmaps(image, nullptr, &raw, kNoBackground, nullptr);
    ASSERT_EQ(raw.GetWidth(), w) << c.name;
    ASSERT_EQ(raw.GetHeight(), h) << c.name;
    const bool refused = (c.bpp <= 8 && c.clrUsed > 256) || (c.masks.size() == 3 && c.masks[2] == 0);
    if (refused) {
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) EXPECT_EQ(raw.Canvas()->Pixels(x, y), clBlack) << c.name;
      continue;
    }
    // The same picture as a BMP file; at more than 8 bits it holds no table.
    std::vector<uint8_t> bmpHead = head;
    Put32(bmpHead, 8, h);
    if (c.bpp > 8) Put32(bmpHead, 32, 0);
    std::vector<uint8_t> file(14, 0);
    file[0] = 'B', file[1] = 'M';
    Put32(file, 10, uint32_t(14 + bmpHead.size() + extra.size() + table.size()));
    file.insert(file.end(), bmpHead.begin(), bmpHead.end());
    file.insert(file.end(), extra.begin(), extra.end());
    file.insert(file.end(), table.begin(), table.end());
    file.insert(file.end(), rows.begin(), rows.end());
    Put32(file, 2, uint32_t(file.size()));
    TCustomMemoryStream s(file.data(), int64_t(file.size()));
    TBitmap expected;
    expected.LoadFromStream(s);
    if (expected.PixelFormat() == pfCustom) expected.SetPixelFormat(pf24bit);
    ASSERT_EQ(raw.PixelFormat(), expected.PixelFormat()) << c.name;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) EXPECT_EQ(raw.Canvas()->Pixels(x, y), expected.Canvas()->Pixels(x, y)) << c.name;
    EXPECT_EQ(std::memcmp(raw.ScanLine(0), expected.ScanLine(0), RowBytes(w, raw.View().bitCount)), 0) << c.name;
  }
}

TEST(SetFrom32BitBitmap, SizesAndMaskBelow96) {
  TBitmap b;
  b.SetPixelFormat(pf32bit);
  b.SetSize(256, 256);
  for (int y = 0; y < 256; ++y) {
    auto* px = static_cast<uint8_t*>(b.ScanLine(y));
    for (int x = 0; x < 256; ++x) px[x * 4 + 3] = uint8_t(x);
  }
  TSubIcon im;
  SetFrom32BitBitmap(im, b);
  EXPECT_EQ(im.BytesInRes(), 40u + 262144u + 8192u);
  EXPECT_EQ(im.Head().bWidth, 0);
  EXPECT_EQ(im.Head().wBitCount, 32);
  TBitmap mask;
  ExtractBitmaps(im, nullptr, nullptr, 0, &mask);
  EXPECT_EQ(mask.Canvas()->Pixels(95, 10), clWhite);
  EXPECT_EQ(mask.Canvas()->Pixels(96, 10), clBlack);
}

TEST(DrawBestIconImage, DrawsLikeDrawIconEx) {
  TPicture picture;
  TAdvancedIcon empty;
  DrawBestIconImage(&picture, &empty, 32, 32, 32, clWhite);
  EXPECT_EQ(picture.Width(), 0);

  // A 24-bit image with its left column transparent, on red.
  auto dib = DibImage(16, 16, 24, 0x20);
  for (int y = 0; y < 16; ++y) {
    SetAndBit(dib, 16, 16, 24, 0, y);
    for (int k = 0; k < 3; ++k) dib[40 + RowBytes(16, 24) * size_t(y) + size_t(k)] = 0;
  }
  TAdvancedIcon icon;
  icon.Images().Add(FromBits(dib));
  auto alpha = DibImage(16, 16, 32, 0xFF);
  for (int y = 0; y < 16; ++y) alpha[40 + 64 * size_t(y) + 3] = 0;  // pixel 0 of each row: alpha 0
  icon.Images().Add(FromBits(alpha));
  struct Case {
    int depth;
    TColor left, inside;
  };
  for (const Case c : {Case{24, 0x0000FF, 0x202020}, Case{32, 0x0000FF, 0xFFFFFF}}) {
    DrawBestIconImage(&picture, &icon, 16, 16, c.depth, 0x0000FF);
    ASSERT_EQ(picture.Width(), 16);
    TBitmap* drawn = picture.Bitmap();
    EXPECT_EQ(drawn->Canvas()->Pixels(0, 5), c.left) << c.depth;
    EXPECT_EQ(drawn->Canvas()->Pixels(8, 5), c.inside) << c.depth;
  }
}

}  // namespace
