// The picture class: building PNGs from bitmaps, turning them into bitmaps and
// icon masks, drawing, and the clipboard.
#include <gtest/gtest.h>

#include <cstring>

#include "base/rus_clipboard.h"
#include "png_test_util.h"
#include "platform/win/clipboard.h"
#include "platform/win/global_memory.h"

using namespace pngtest;

namespace {

uint8_t* Px(TBitmap& b, int x, int y, int bytes) { return static_cast<uint8_t*>(b.ScanLine(y)) + x * bytes; }

// A pf32bit bitmap whose pixel (x, y) is blue x*20, green y*30, red 200 and the given alpha.
void Make32(TBitmap& b, int w, int h, std::function<uint8_t(int, int)> alpha) {
  b.SetPixelFormat(pf32bit);
  b.SetSize(w, h);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      uint8_t* p = Px(b, x, y, 4);
      p[0] = uint8_t(x * 20);
      p[1] = uint8_t(y * 30);
      p[2] = 200;
      p[3] = alpha(x, y);
    }
}

bool MaskWhite(TBitmap& mask, int x, int y) {
  EXPECT_EQ(mask.PixelFormat(), pf1bit);
  RGBQUAD table[2];
  GetDIBColorTable(mask.Canvas()->Handle(), 0, 2, table);
  const int index = (static_cast<uint8_t*>(mask.ScanLine(y))[x / 8] >> (7 - x % 8)) & 1;
  return table[index].rgbRed == 255;
}

RGBQUAD TableEntry(TBitmap& b, int index) {
  RGBQUAD c{};
  GetDIBColorTable(b.Canvas()->Handle(), UINT(index), 1, &c);
  return c;
}

// The red, green and blue a bitmap shows at a pixel, through its colour table when it has one.
std::array<int, 3> Rgb(TBitmap& b, int x, int y) {
  const auto* row = static_cast<const uint8_t*>(b.ScanLine(y));
  switch (b.PixelFormat()) {
    case pf24bit: return {row[x * 3 + 2], row[x * 3 + 1], row[x * 3]};
    case pf32bit: return {row[x * 4 + 2], row[x * 4 + 1], row[x * 4]};
    default: break;
  }
  const int bits = b.PixelFormat() == pf1bit ? 1 : b.PixelFormat() == pf4bit ? 4 : 8;
  const int i = bits == 8 ? row[x] : bits == 4 ? (row[x / 2] >> ((x & 1) ? 0 : 4)) & 15 : (row[x / 8] >> (7 - x % 8)) & 1;
  const RGBQUAD c = TableEntry(b, i);
  return {c.rgbRed, c.rgbGreen, c.rgbBlue};
}

Bytes PaletteFile(const Bytes& trns) {
  // 4 x 1 palette image at 8 bits: indices 0, 1, 2, 3; entry 3 is black.
  Bytes plte = {10, 20, 30, 40, 50, 60, 70, 80, 90, 0, 0, 0};
  std::initializer_list<Bytes> none = {Chunk("PLTE", plte)};
  if (trns.empty()) return SimplePng(4, 1, 8, 3, {0, 0, 1, 2, 3}, none);
  return SimplePng(4, 1, 8, 3, {0, 0, 1, 2, 3}, {Chunk("PLTE", plte), Chunk("tRNS", trns)});
}

// ------------------------------------------------------------ from bitmaps

TEST(PngPicture, TransparentBitmapBecomesSubFilteredRgba) {
  TBitmap bitmap;
  Make32(bitmap, 5, 3, [](int, int) { return uint8_t(0); });
  TPNGImage png;
  png.Assign(&bitmap);
  const Bytes file = SaveBytes(png);
  EXPECT_EQ(ListChunks(file)[0].data[9], 6);
  const Bytes data = Inflate(IdatData(file));
  ASSERT_EQ(data.size(), 3u * (1 + 5 * 4));
  for (int y = 0; y < 3; y++) {
    EXPECT_EQ(data[y * 21], 1);
    for (int x = 0; x < 5; x++) EXPECT_EQ(ReadWithLibpng(file).data[(y * 5 + x) * 4 + 3], 0);
  }
}

TEST(PngPicture, IconImageWithAlphaRoundTripsThroughAFile) {
  TBitmap bitmap;
  Make32(bitmap, 7, 6, [](int x, int y) { return uint8_t((x * 40 + y * 7) % 256); });
  TPNGImage png;
  png.Assign(&bitmap);
  TPNGImage loaded;
  LoadBytes(loaded, SaveBytes(png));
  TBitmap back;
  back.Assign(&loaded);
  ASSERT_EQ(back.PixelFormat(), pf32bit);
  for (int y = 0; y < 6; y++) EXPECT_EQ(std::memcmp(back.ScanLine(y), bitmap.ScanLine(y), 7 * 4), 0) << y;
  // The samples libpng reads are the bitmap's, red first.
  const TSamples s = ReadWithLibpng(SaveBytes(loaded));
  EXPECT_EQ(s.data[(2 * 7 + 3) * 4 + 0], 200);
  EXPECT_EQ(s.data[(2 * 7 + 3) * 4 + 2], 60);
}

TEST(PngPicture, PaletteBitmapWithTransparentIndex) {
  for (int t : {0, 255}) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf8bit);
    bitmap.SetSize(3, 2);
    TPNGImage png;
    png.SetFromPaletteBitmap(&bitmap, t);
    const auto chunks = ListChunks(SaveBytes(png));
    std::vector<std::string> names;
    for (const auto& c : chunks) names.push_back(c.name);
    EXPECT_EQ(names, (std::vector<std::string>{"IHDR", "PLTE", "tRNS", "IDAT", "IEND"}));
    EXPECT_EQ(chunks[0].data[8], 8);
    EXPECT_EQ(chunks[0].data[9], 3);
    EXPECT_EQ(chunks[1].data.size(), 768u);
    ASSERT_EQ(chunks[2].data.size(), size_t(t + 1));
    EXPECT_EQ(chunks[2].data.back(), 0);
    EXPECT_TRUE(ReadWithLibpng(SaveBytes(png)).ok);
  }
}

TEST(PngPicture, BitmapFormatsBecomeTheirPngKinds) {
  struct TCase {
    TPixelFormat format;
    int depth, colorType;
  } cases[] = {{pf1bit, 1, 3}, {pf4bit, 4, 3}, {pf8bit, 8, 3}, {pf16bit, 8, 2}, {pf24bit, 8, 2}, {pf32bit, 8, 6}};
  for (const TCase& c : cases) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(c.format);
    bitmap.SetSize(9, 4);
    bitmap.Canvas()->Brush()->SetColor(RGB(255, 255, 255));
    bitmap.Canvas()->FillRect(Rect(0, 0, 4, 4));
    TPNGImage png;
    png.Assign(&bitmap);
    const Bytes file = SaveBytes(png);
    SCOPED_TRACE(int(c.format));
    EXPECT_EQ(ListChunks(file)[0].data[8], c.depth);
    EXPECT_EQ(ListChunks(file)[0].data[9], c.colorType);
    TBitmap back, original;
    back.Assign(&png);
    original.Assign(&bitmap);
    if (c.format == pf16bit) original.SetPixelFormat(pf24bit);
    for (int x : {0, 3, 4, 8}) EXPECT_EQ(Rgb(back, x, 2), Rgb(original, x, 2)) << x;
  }
}

// ------------------------------------------------------------ to bitmaps

TEST(PngPicture, EveryKindBecomesABitmapWithLibpngsColours) {
  struct TCase {
    int colorType, depth;
    TPixelFormat format;
  } cases[] = {{0, 1, pf1bit}, {0, 2, pf4bit}, {0, 4, pf4bit}, {0, 8, pf8bit}, {0, 16, pf8bit}, {2, 8, pf24bit},
               {2, 16, pf24bit}, {3, 1, pf1bit}, {3, 2, pf4bit}, {3, 4, pf4bit}, {3, 8, pf8bit}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.colorType) + "/" + std::to_string(c.depth));
    TLibpngImage img;
    img.width = 11;
    img.height = 5;
    img.colorType = c.colorType;
    img.bitDepth = c.depth;
    FillRandomRows(img, 17);
    const Bytes file = WriteWithLibpng(img);
    TPNGImage png;
    LoadBytes(png, file);
    TBitmap bitmap;
    bitmap.Assign(&png);
    EXPECT_EQ(bitmap.PixelFormat(), c.format);
    // libpng's colours: palette entries, or greys scaled to 8 bits.
    const TSamples s = ReadWithLibpng(file);
    for (int y = 0; y < 5; y++)
      for (int x = 0; x < 11; x++) {
        std::array<int, 3> want;
        if (c.colorType == 2) {
          want = {s.data[(y * 11 + x) * 3], s.data[(y * 11 + x) * 3 + 1], s.data[(y * 11 + x) * 3 + 2]};
        } else if (c.colorType == 3) {
          const int i = s.data[y * 11 + x];
          want = {i * 37 % 256, 255 - i, i * 91 % 256};
        } else {
          const int levels = (1 << std::min(c.depth, 8)) - 1;
          const int g = s.data[y * 11 + x] * 255 / levels;
          want = {g, g, g};
        }
        EXPECT_EQ(Rgb(bitmap, x, y), want) << x << "," << y;
      }
  }
}

// A bitmap assigned from a picture without alpha holds the picture's rows
// rather than a copy; whichever side changes them then has its own, and the
// bitmap outlives the picture.
TEST(PngPicture, AssignedBitmapAndPictureChangeOnlyTheirOwnPixels) {
  for (const int colorType : {2, 3, 0}) {
    SCOPED_TRACE(colorType);
    TLibpngImage img;
    img.width = 9;
    img.height = 4;
    img.colorType = colorType;
    img.bitDepth = colorType == 0 ? 4 : 8;
    FillRandomRows(img, 5);
    const Bytes file = WriteWithLibpng(img);
    const TSamples want = ReadWithLibpng(file);
    TBitmap kept, changed;
    {
      TPNGImage png;
      LoadBytes(png, file);
      changed.Assign(&png);
      kept.Assign(&png);
      // The bitmap's change stays in the bitmap...
      std::memset(changed.ScanLine(0), 0xFF, 3);
      EXPECT_EQ(ReadWithLibpng(SaveBytes(png)).data, want.data);
      // ...and the picture's in the picture (read through the view, which
      // leaves the rows shared).
      const uint8_t* top = kept.View().Row(0);
      const Bytes keptTop(top, top + kept.View().RowBytes());
      png.Header()->DibRow(0)[0] ^= 0x11;
      EXPECT_EQ(Bytes(kept.View().Row(0), kept.View().Row(0) + keptTop.size()), keptTop);
    }
    for (int y = 0; y < img.height; y++)
      for (int x = 0; x < img.width; x++) {
        std::array<int, 3> wantRgb;
        const uint8_t v = want.data[size_t(y * img.width + x) * size_t(want.channels)];
        if (colorType == 2) {
          const uint8_t* p = &want.data[size_t(y * img.width + x) * 3];
          wantRgb = {p[0], p[1], p[2]};
        } else if (colorType == 3) {
          wantRgb = {v * 37 % 256, 255 - v, v * 91 % 256};
        } else {
          wantRgb = {v * 17, v * 17, v * 17};
        }
        EXPECT_EQ(Rgb(kept, x, y), wantRgb) << x << "," << y;
      }
  }
}

// The colour table a palette picture gives its bitmap is the bitmap's own as
// well as its section's, so a BMP file written from the bitmap has the PNG's
// colours rather than the default table.
TEST(PngPicture, PaletteBitmapWritesThePicturesColoursToBmp) {
  TLibpngImage img;
  img.width = 4;
  img.height = 2;
  img.colorType = 3;
  FillRandomRows(img, 3);
  TPNGImage png;
  LoadBytes(png, WriteWithLibpng(img));
  TBitmap bitmap;
  bitmap.Assign(&png);
  TMemoryStream bmp;
  bitmap.SaveToStream(bmp);
  ASSERT_GT(bmp.Size(), 14 + 40 + 256 * 4);
  for (int i = 0; i < 256; i++) {
    const uint8_t* q = bmp.Memory() + 14 + 40 + i * 4;
    EXPECT_EQ((std::array<int, 3>{q[2], q[1], q[0]}), (std::array<int, 3>{i * 37 % 256, 255 - i, i * 91 % 256}))
        << i;
  }
}

TEST(PngPicture, GreyAlphaMaskUsesTheThreshold) {
  TPNGImage png;
  // 3 x 1 grey with alpha: (100, 79), (150, 80), (200, 255).
  LoadBytes(png, SimplePng(3, 1, 8, 4, {0, 100, 79, 150, 80, 200, 255}));
  TBitmap picture, mask;
  png.ExtractBitmapAndMask(&picture, &mask, 80);
  ASSERT_EQ(picture.PixelFormat(), pf8bit);
  EXPECT_EQ(Px(picture, 0, 0, 1)[0], 0);
  EXPECT_EQ(Px(picture, 1, 0, 1)[0], 150);
  EXPECT_EQ(TableEntry(picture, 150).rgbGreen, 150);
  EXPECT_TRUE(MaskWhite(mask, 0, 0));
  EXPECT_FALSE(MaskWhite(mask, 1, 0));
  EXPECT_FALSE(MaskWhite(mask, 2, 0));
}

TEST(PngPicture, PaletteTransparencyPicksTheBitmapKind) {
  TBitmap picture, mask;
  TPNGImage onOff;
  LoadBytes(onOff, PaletteFile({255, 0, 255, 255}));
  onOff.ExtractBitmapAndMask(&picture, &mask, 80);
  ASSERT_EQ(picture.PixelFormat(), pf8bit);
  EXPECT_EQ(Px(picture, 1, 0, 1)[0], 3);  // the transparent pixel shows the black entry
  EXPECT_EQ(Px(picture, 2, 0, 1)[0], 2);
  EXPECT_TRUE(MaskWhite(mask, 1, 0));
  EXPECT_FALSE(MaskWhite(mask, 0, 0));

  TPNGImage partial;
  LoadBytes(partial, PaletteFile({255, 0, 128}));
  partial.ExtractBitmapAndMask(&picture, &mask, 80);
  ASSERT_EQ(picture.PixelFormat(), pf32bit);
  const uint8_t* p = Px(picture, 2, 0, 4);
  EXPECT_EQ(p[0], 90);  // blue of entry 2
  EXPECT_EQ(p[2], 70);  // red
  EXPECT_EQ(p[3], 128);
  EXPECT_FALSE(MaskWhite(mask, 2, 0));
  EXPECT_TRUE(MaskWhite(mask, 1, 0));
}

TEST(PngPicture, RgbaMaskIsWhereAlphaIsZero) {
  TBitmap bitmap;
  Make32(bitmap, 3, 1, [](int x, int) { return uint8_t(x); });  // alpha 0, 1, 2
  TPNGImage png;
  png.Assign(&bitmap);
  TBitmap picture, mask;
  png.ExtractBitmapAndMask(&picture, &mask, 200);
  ASSERT_EQ(picture.PixelFormat(), pf32bit);
  EXPECT_EQ(std::memcmp(Px(picture, 0, 0, 4), "\0\0\0\0", 4), 0);
  EXPECT_EQ(Px(picture, 1, 0, 4)[2], 200);
  EXPECT_TRUE(MaskWhite(mask, 0, 0));
  EXPECT_FALSE(MaskWhite(mask, 1, 0));
}

TEST(PngPicture, OpaqueImagesGiveAnAllBlackMask) {
  TPNGImage png;
  LoadBytes(png, SimplePng(2, 2, 8, 0, {0, 255, 255, 0, 255, 255}));
  TBitmap picture, mask;
  png.ExtractBitmapAndMask(&picture, &mask, 80);
  for (int y = 0; y < 2; y++)
    for (int x = 0; x < 2; x++) EXPECT_FALSE(MaskWhite(mask, x, y));
  png.ExtractBitmapAndMask(&picture, nullptr, 80);  // no mask asked for
  EXPECT_EQ(picture.Width(), 2);
}

// ------------------------------------------------------------ drawing

TEST(PngPicture, DrawingWithAlphaBlendsAtOwnSizeWithoutStretching) {
  TBitmap rgba;
  Make32(rgba, 2, 2, [](int, int) { return uint8_t(255); });
  TPNGImage png;
  png.Assign(&rgba);
  TBitmap target;
  target.SetPixelFormat(pf24bit);
  target.SetSize(6, 6);
  target.Canvas()->Brush()->SetColor(RGB(0, 0, 255));
  target.Canvas()->FillRect(Rect(0, 0, 6, 6));
  target.Canvas()->StretchDraw(Rect(1, 1, 5, 5), &png);
  EXPECT_EQ(Rgb(target, 1, 1), (std::array<int, 3>{200, 0, 0}));
  EXPECT_EQ(Rgb(target, 2, 2), (std::array<int, 3>{200, 30, 20}));
  EXPECT_EQ(Rgb(target, 3, 3), (std::array<int, 3>{0, 0, 255}));  // outside the image's own size

  // Half transparent: (s * a + (255 - a) * d + 255) div 256 per channel.
  TBitmap half;
  Make32(half, 1, 1, [](int, int) { return uint8_t(128); });
  TPNGImage halfPng;
  halfPng.Assign(&half);
  target.Canvas()->Draw(0, 0, &halfPng);
  EXPECT_EQ(Rgb(target, 0, 0), (std::array<int, 3>{(200 * 128 + 255) / 256, 0, (127 * 255 + 255) / 256}));

  // Without alpha the picture is stretched over the rectangle.
  TPNGImage opaque;
  LoadBytes(opaque, SimplePng(1, 1, 8, 2, {0, 9, 8, 7}));
  target.Canvas()->StretchDraw(Rect(0, 0, 6, 6), &opaque);
  EXPECT_EQ(Rgb(target, 5, 5), (std::array<int, 3>{9, 8, 7}));
}

// ------------------------------------------------------------ clipboard

class PngClipboard : public testing::Test {
protected:
  void SetUp() override { SharedClipboard().Clear(); }
  void TearDown() override { SharedClipboard().Clear(); }
};

TEST_F(PngClipboard, PictureGoesOutAsPngDataAndADib) {
  TBitmap bitmap;
  Make32(bitmap, 4, 3, [](int x, int) { return uint8_t(x * 80); });
  TPNGImage png;
  png.Assign(&bitmap);
  SharedClipboard().Assign(&png);
  EXPECT_TRUE(IsClipboardFormatAvailable(CF_DIB));
  const UINT format = FindClipboardPNGFormat();
  ASSERT_NE(format, 0u);
  EXPECT_EQ(format, RegisterClipboardFormat("PNG"));
  TPNGImage back;
  ASSERT_TRUE(LoadPNGFromClipboard(back));
  EXPECT_EQ(SaveBytes(back), SaveBytes(png));

  // The DIB is 32 bits with the alpha in the fourth byte, bottom row first.
  SharedClipboard().OpenWithRetries(5);
  HANDLE dib = GetClipboardData(CF_DIB);
  ASSERT_NE(dib, nullptr);
  const auto* p = static_cast<const uint8_t*>(GlobalLock(dib));
  BITMAPINFOHEADER h;
  std::memcpy(&h, p, sizeof(h));
  EXPECT_EQ(h.biBitCount, 32);
  EXPECT_EQ(h.biWidth, 4);
  EXPECT_EQ(p[40 + 2 * 16 + 4 * 3 + 3], 240);  // top row, last pixel
  GlobalUnlock(dib);
  SharedClipboard().Close();
}

TEST_F(PngClipboard, SixteenBytesOfSignatureAreNotTaken) {
  Bytes data = Signature();
  data.resize(16, 0);
  const UINT format = RegisterClipboardFormat("Short PNG test data");
  SharedClipboard().OpenWithRetries(5);
  EmptyClipboard();
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, data.size());
  std::memcpy(GlobalLock(block), data.data(), data.size());
  GlobalUnlock(block);
  SetClipboardData(format, block);
  SharedClipboard().Close();
  EXPECT_EQ(FindClipboardPNGFormat(), 0u);
  TPNGImage png;
  EXPECT_FALSE(LoadPNGFromClipboard(png));
}

}  // namespace
