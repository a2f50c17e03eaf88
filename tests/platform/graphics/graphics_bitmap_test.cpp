// TBitmap over the drawing layer: pixel formats, rows, BMP in and out, palettes,
// conversions and the canvas.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "bmp_builder.h"
#include "pillow_oracle.h"
#include "platform/graphics/graphics.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "platform/win/clipboard.h"
#include "platform/win/global_memory.h"
#include "test_support.h"

using qvtest::BmpSpec;
using qvtest::BuildBmp;
using qvtest::PatternBytes;
using qvtest::TestPalette;

namespace {

struct FormatCase {
  TPixelFormat format;
  int bits;
  DWORD compression;
  const char* name;
};

const FormatCase kFormats[] = {
    {pf1bit, 1, BI_RGB, "pf1bit"},    {pf4bit, 4, BI_RGB, "pf4bit"},   {pf8bit, 8, BI_RGB, "pf8bit"},
    {pf15bit, 16, BI_RGB, "pf15bit"}, {pf16bit, 16, BI_BITFIELDS, "pf16bit"}, {pf24bit, 24, BI_RGB, "pf24bit"},
    {pf32bit, 32, BI_RGB, "pf32bit"},
};

int64_t RowBytes(TBitmap& b) { return DibRowBytes(b.Width(), b.View().bitCount); }

// Fills every row through ScanLine with pattern bytes (keeping 5-5-5 pixels' top bit clear).
void FillPattern(TBitmap& b, uint32_t seed) {
  const auto bytes = PatternBytes(static_cast<size_t>(RowBytes(b) * b.Height()), seed);
  for (int y = 0; y < b.Height(); ++y) {
    auto* row = static_cast<uint8_t*>(b.ScanLine(y));
    std::memcpy(row, bytes.data() + y * RowBytes(b), static_cast<size_t>(RowBytes(b)));
    if (b.PixelFormat() == pf15bit)
      for (int64_t i = 1; i < RowBytes(b); i += 2) row[i] &= 0x7F;
  }
}

// The bytes of every row that hold pixels (not the padding).
std::vector<uint8_t> Rows(TBitmap& b) {
  std::vector<uint8_t> out;
  const int64_t used = (static_cast<int64_t>(b.Width()) * b.View().bitCount + 7) / 8;
  for (int y = 0; y < b.Height(); ++y) {
    auto* row = static_cast<const uint8_t*>(b.ScanLine(y));
    out.insert(out.end(), row, row + used);
  }
  return out;
}

TBitmap* NewBitmap(std::unique_ptr<TBitmap>& holder, TPixelFormat pf, int w, int h) {
  holder = std::make_unique<TBitmap>();
  holder->SetPixelFormat(pf);
  holder->SetSize(w, h);
  return holder.get();
}

bmpcodec::Rgba Pixel(TBitmap& b, int x, int y) { return bmpcodec::PixelAt(b.View(), x, y); }


int Quantise(int v, int bits) { return bits >= 8 ? v : (v * ((1 << bits) - 1) + 127) / 255; }

}  // namespace

TEST(Bitmap, RowsAreOneBottomUpBlockAndScanLineCountsFromTheTop) {
  for (const auto& c : kFormats) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<TBitmap> holder;
    TBitmap& b = *NewBitmap(holder, c.format, 13, 5);
    ASSERT_EQ(b.PixelFormat(), c.format);
    ASSERT_NE(b.Handle(), nullptr);
    const int64_t rowBytes = DibRowBytes(13, c.bits);
    auto* top = static_cast<uint8_t*>(b.ScanLine(0));
    auto* bottom = static_cast<uint8_t*>(b.ScanLine(4));
    EXPECT_EQ(top - bottom, rowBytes * 4);
    EXPECT_EQ(static_cast<uint8_t*>(b.ScanLine(1)), top - rowBytes);
    EXPECT_THROW(b.ScanLine(5), EInvalidGraphicOperation);
    EXPECT_THROW(b.ScanLine(-1), EInvalidGraphicOperation);
    // The handle's DIB section is that block.
    DIBSECTION ds;
    ASSERT_EQ(GetObject(b.Handle(), sizeof ds, &ds), static_cast<int>(sizeof ds));
    EXPECT_EQ(ds.dsBm.bmBits, bottom);
    EXPECT_EQ(ds.dsBmih.biBitCount, c.bits);
  }
}

TEST(Bitmap, WidthAndHeightSetOneAfterTheOther) {
  TBitmap b;
  b.SetWidth(6);
  b.SetHeight(4);
  EXPECT_FALSE(b.Empty());
  EXPECT_EQ(b.Width(), 6);
  EXPECT_EQ(b.Height(), 4);
  EXPECT_NE(b.Handle(), nullptr);
}

TEST(Bitmap, SavedBmpHasTheFrameworkLayoutAndReadsBackIdentically) {
  for (const auto& c : kFormats) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<TBitmap> holder;
    TBitmap& b = *NewBitmap(holder, c.format, 11, 6);
    FillPattern(b, 7 + c.bits);
    TMemoryStream s;
    b.SaveToStream(s);
    const uint8_t* p = s.Memory();
    ASSERT_GE(s.Size(), 54);
    EXPECT_EQ(p[0], 'B');
    EXPECT_EQ(ReadLE32(p + 14), 40u);
    EXPECT_EQ(p[28], c.bits);
    EXPECT_EQ(ReadLE32(p + 30), c.compression);
    const int64_t table = c.bits <= 8 ? (int64_t{4} << c.bits) : 0;
    const int64_t masks = c.compression == BI_BITFIELDS ? 12 : 0;
    EXPECT_EQ(ReadLE32(p + 10), 54 + table + masks);
    EXPECT_EQ(s.Size(), 54 + table + masks + DibRowBytes(11, c.bits) * 6);
    if (c.format == pf16bit) {
      EXPECT_EQ(ReadLE32(p + 54), 0xF800u);
      EXPECT_EQ(ReadLE32(p + 58), 0x07E0u);
      EXPECT_EQ(ReadLE32(p + 62), 0x001Fu);
    }
    s.SetPosition(0);
    TBitmap back;
    back.LoadFromStream(s);
    EXPECT_EQ(back.PixelFormat(), c.format);
    EXPECT_EQ(back.Width(), 11);
    EXPECT_EQ(back.Height(), 6);
    EXPECT_EQ(Rows(back), Rows(b));
  }
}

TEST(Bitmap, SavedBmpReadsInPillowOracle) {
  QV_REQUIRE_PILLOW();
  qvtest::TempDir dir;
  std::vector<std::unique_ptr<TBitmap>> bitmaps(std::size(kFormats));
  std::vector<std::string> paths;
  for (size_t k = 0; k < std::size(kFormats); ++k) {
    TBitmap& b = *NewBitmap(bitmaps[k], kFormats[k].format, 9, 4);
    FillPattern(b, 50 + kFormats[k].bits);
    paths.push_back(dir.File(std::string(kFormats[k].name) + ".bmp"));
    b.SaveToFile(paths.back());
  }
  const auto images = qvtest::PillowPixelsOfFiles(paths);
  for (size_t k = 0; k < std::size(kFormats); ++k) {
    const FormatCase& c = kFormats[k];
    SCOPED_TRACE(c.name);
    TBitmap& b = *bitmaps[k];
    const int w = images[k].width, h = images[k].height;
    const auto& pil = images[k].rgba;
    ASSERT_EQ(w, 9);
    ASSERT_EQ(h, 4);
    DWORD m[4];
    b.View().EffectiveMasks(m);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const bmpcodec::Rgba p = Pixel(b, x, y);
        const uint8_t* q = &pil[(static_cast<size_t>(y) * w + x) * 4];
        const int ours[3] = {p.r, p.g, p.b};
        for (int ch = 0; ch < 3; ++ch) {
          const int bits = c.bits == 16 ? bmpcodec::MaskBits(m[ch]) : 8;
          ASSERT_EQ(Quantise(ours[ch], bits), Quantise(q[ch], bits)) << x << "," << y << " channel " << ch;
        }
      }
    }
  }
}

TEST(Bitmap, LoadedVariantsGetTheirPixelFormats) {
  auto uncompressed = [](int header, int bits, uint32_t seed) {
    BmpSpec s;
    s.headerSize = header;
    s.width = 5;
    s.height = 3;
    s.bitCount = bits;
    if (bits <= 8) s.palette = TestPalette(1 << bits);
    s.data = PatternBytes(static_cast<size_t>(DibRowBytes(5, bits) * 3), seed);
    return s;
  };
  auto masked = [&](int header, int bits, DWORD r, DWORD g, DWORD b, DWORD a) {
    BmpSpec s = uncompressed(header, bits, 3);
    s.compression = BI_BITFIELDS;
    s.masks[0] = r, s.masks[1] = g, s.masks[2] = b, s.masks[3] = a;
    return s;
  };
  BmpSpec rle;
  rle.width = 4, rle.height = 2, rle.bitCount = 8, rle.compression = BI_RLE8, rle.palette = TestPalette(256);
  rle.data = {4, 9, 0, 0, 2, 1, 0, 1};
  struct Case {
    const char* name;
    BmpSpec spec;
    TPixelFormat format;
  } cases[] = {
      {"core 1 bit", uncompressed(12, 1, 1), pf1bit},
      {"4 bit", uncompressed(40, 4, 2), pf4bit},
      {"8 bit", uncompressed(40, 8, 3), pf8bit},
      {"RLE8", rle, pf8bit},
      {"16 bit", uncompressed(40, 16, 4), pf15bit},
      {"16 bit 5-6-5", masked(40, 16, 0xF800, 0x7E0, 0x1F, 0), pf16bit},
      {"16 bit 5-5-5 fields", masked(124, 16, 0x7C00, 0x3E0, 0x1F, 0), pf15bit},
      {"24 bit", uncompressed(40, 24, 5), pf24bit},
      {"32 bit", uncompressed(40, 32, 6), pf32bit},
      {"V4 BGRA", masked(108, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000), pf32bit},
      {"V5 RGBA order", masked(124, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000), pfCustom},
      {"16 bit 4-4-4-4", masked(108, 16, 0xF00, 0xF0, 0xF, 0xF000), pfCustom},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto bytes = BuildBmp(c.spec);
    TCustomMemoryStream s(bytes.data(), static_cast<int64_t>(bytes.size()));
    TBitmap b;
    b.LoadFromStream(s);
    EXPECT_EQ(b.PixelFormat(), c.format);
    TCustomMemoryStream again(bytes.data(), static_cast<int64_t>(bytes.size()));
    const bmpcodec::Dib dib = bmpcodec::ReadBmp(again);
    for (int y = 0; y < b.Height(); ++y)
      for (int x = 0; x < b.Width(); ++x) {
        const auto p = Pixel(b, x, y), q = bmpcodec::PixelAt(dib, x, y);
        ASSERT_TRUE(p.r == q.r && p.g == q.g && p.b == q.b && p.a == q.a) << x << "," << y;
      }
  }
}

TEST(Bitmap, ThirtyTwoBitAlphaSurvivesLoadAndSave) {
  std::unique_ptr<TBitmap> holder;
  TBitmap& b = *NewBitmap(holder, pf32bit, 2, 2);
  auto* row = static_cast<uint8_t*>(b.ScanLine(0));
  const uint8_t px[8] = {1, 2, 3, 4, 5, 6, 7, 128};
  std::memcpy(row, px, 8);
  TMemoryStream s;
  b.SaveToStream(s);
  EXPECT_EQ(s.Size(), 70);  // 54 + 2 x 2 x 4
  s.SetPosition(0);
  TBitmap back;
  back.LoadFromStream(s);
  EXPECT_EQ(std::memcmp(back.ScanLine(0), px, 8), 0);
}

TEST(Bitmap, ResizeKeepsTheTopLeftAndFillsWithTheBrush) {
  for (const auto& c : kFormats) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<TBitmap> holder;
    TBitmap& b = *NewBitmap(holder, c.format, 3, 2);
    b.Canvas()->Brush()->SetColor(clBlack);
    b.Canvas()->FillRect(Rect(0, 0, 3, 2));
    b.Canvas()->Brush()->SetColor(clWhite);
    b.SetSize(5, 4);
    EXPECT_EQ(b.PixelFormat(), c.format);
    const auto old = Pixel(b, 2, 1), added = Pixel(b, 4, 3), below = Pixel(b, 0, 3);
    EXPECT_EQ(old.r + old.g + old.b, 0);
    EXPECT_EQ(added.r, 255);
    EXPECT_EQ(added.b, 255);
    EXPECT_EQ(below.g, 255);
    if (c.format == pf32bit) {
      EXPECT_EQ(added.a, 0);  // a GDI fill leaves alpha 0
    }
  }
}

TEST(Bitmap, FormatConversionsKeepColoursAsGdiWould) {
  std::unique_ptr<TBitmap> holder;
  TBitmap& b = *NewBitmap(holder, pf24bit, 4, 1);
  auto* row = static_cast<uint8_t*>(b.ScanLine(0));
  const uint8_t bgr[12] = {0, 0, 255, 0, 255, 0, 250, 5, 5, 200, 200, 200};  // red, green, near-blue, light grey
  std::memcpy(row, bgr, 12);
  TBitmap b32;
  b32.Assign(&b);
  b32.SetPixelFormat(pf32bit);
  EXPECT_EQ(Pixel(b32, 0, 0).r, 255);
  EXPECT_EQ(Pixel(b32, 0, 0).a, 0);  // drawn by GDI: no alpha
  b.SetPixelFormat(pf4bit);
  EXPECT_EQ(b.PixelFormat(), pf4bit);
  const auto near = Pixel(b, 2, 0);
  EXPECT_EQ(near.b, 255);  // nearest VGA colour of (5,5,250) is blue
  EXPECT_EQ(near.r, 0);
  EXPECT_EQ(Pixel(b, 3, 0).r, 192);  // light grey goes to silver
  b.SetPixelFormat(pf24bit);
  EXPECT_EQ(Pixel(b, 1, 0).g, 255);
  b.SetPixelFormat(pf1bit);
  EXPECT_TRUE(b.Monochrome());
  EXPECT_EQ(Pixel(b, 3, 0).r, 255);  // silver is nearer white than black
  EXPECT_EQ(Pixel(b, 0, 0).r, 0);
}

TEST(Bitmap, PaletteIsHandleAndColourTable) {
  std::unique_ptr<TBitmap> holder;
  TBitmap& b = *NewBitmap(holder, pf8bit, 4, 4);
  HPALETTE pal = b.Palette();
  ASSERT_NE(pal, nullptr);
  PALETTEENTRY e[256];
  ASSERT_EQ(GetPaletteEntries(pal, 0, 256, e), 256u);
  EXPECT_EQ(e[15].peRed, b.View().colors[15].rgbRed);
  static_cast<uint8_t*>(b.ScanLine(0))[0] = 7;
  // A new palette rewrites the colour table; the pixel keeps its index.
  std::vector<uint8_t> buf(sizeof(LOGPALETTE) + 255 * sizeof(PALETTEENTRY));
  auto* lp = reinterpret_cast<LOGPALETTE*>(buf.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = 256;
  for (int i = 0; i < 256; ++i) lp->palPalEntry[i] = PALETTEENTRY{static_cast<BYTE>(i), 0, static_cast<BYTE>(255 - i), 0};
  b.SetPalette(CreatePalette(lp));
  EXPECT_EQ(static_cast<uint8_t*>(b.ScanLine(0))[0], 7);
  EXPECT_EQ(Pixel(b, 0, 0).r, 7);
  EXPECT_EQ(Pixel(b, 0, 0).b, 248);
  RGBQUAD table[256];
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP released = b.ReleaseHandle();
  HGDIOBJ old = SelectObject(dc, released);
  ASSERT_EQ(GetDIBColorTable(dc, 0, 256, table), 256u);
  EXPECT_EQ(table[7].rgbRed, 7);
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(released);
  EXPECT_TRUE(b.Empty());
}

TEST(Bitmap, CanvasDrawsIntoTheRowsAndReportsChanges) {
  std::unique_ptr<TBitmap> holder;
  TBitmap& b = *NewBitmap(holder, pf32bit, 8, 8);
  int changes = 0;
  b.OnChange = [&](TObject*) { ++changes; };
  auto* row = static_cast<uint32_t*>(b.ScanLine(2));
  b.Canvas()->Brush()->SetColor(clRed);
  b.Canvas()->FillRect(Rect(1, 1, 4, 4));
  EXPECT_EQ(row[1], 0x00FF0000u);  // B G R A in memory: red with alpha left at 0
  EXPECT_EQ(row[4], 0x00FFFFFFu);  // the white the new bitmap was filled with
  EXPECT_GT(changes, 0);
  b.Canvas()->SetPixels(6, 6, clBlue);
  EXPECT_EQ(b.Canvas()->Pixels(6, 6), clBlue);
  EXPECT_EQ(static_cast<uint32_t*>(b.ScanLine(6))[6], 0x000000FFu);
  b.Canvas()->Pen()->SetColor(clLime);
  b.Canvas()->MoveTo(0, 7);
  b.Canvas()->LineTo(8, 7);
  EXPECT_EQ(b.Canvas()->Pixels(3, 7), clLime);
  EXPECT_EQ(b.Canvas()->PenPos().x, 8);
}

TEST(Bitmap, TransparentColourAndMask) {
  std::unique_ptr<TBitmap> holder;
  TBitmap& b = *NewBitmap(holder, pf24bit, 4, 3);
  b.Canvas()->Brush()->SetColor(clFuchsia);
  b.Canvas()->FillRect(Rect(0, 0, 4, 3));
  b.Canvas()->SetPixels(1, 1, clBlack);
  EXPECT_EQ(b.TransparentColor(), clFuchsia);  // the bottom-left pixel
  EXPECT_EQ(b.TransparentMode(), tmAuto);
  b.SetTransparentColor(clBlack);
  EXPECT_EQ(b.TransparentMode(), tmFixed);
  TBitmap mask;
  mask.SetHandle(b.ReleaseMaskHandle());
  EXPECT_TRUE(mask.Monochrome());
  EXPECT_EQ(Pixel(mask, 1, 1).r, 255);
  EXPECT_EQ(Pixel(mask, 0, 0).r, 0);
  b.Mask(clFuchsia);
  EXPECT_EQ(b.PixelFormat(), pf1bit);
  EXPECT_EQ(Pixel(b, 0, 0).r, 255);
  EXPECT_EQ(Pixel(b, 1, 1).r, 0);
}

TEST(Bitmap, AssignCopiesAndDrawCopiesPixels) {
  std::unique_ptr<TBitmap> holder;
  TBitmap& src = *NewBitmap(holder, pf24bit, 3, 3);
  FillPattern(src, 99);
  TBitmap copy;
  copy.Assign(&src);
  EXPECT_EQ(Rows(copy), Rows(src));
  EXPECT_NE(copy.ScanLine(0), src.ScanLine(0));
  copy.Assign(nullptr);
  EXPECT_TRUE(copy.Empty());

  std::unique_ptr<TBitmap> destHolder;
  TBitmap& dest = *NewBitmap(destHolder, pf24bit, 6, 6);
  dest.Canvas()->Draw(2, 1, &src);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) {
      const auto a = Pixel(dest, x + 2, y + 1), e = Pixel(src, x, y);
      EXPECT_TRUE(a.r == e.r && a.g == e.g && a.b == e.b) << x << "," << y;
    }
  dest.Canvas()->StretchDraw(Rect(0, 0, 6, 6), &src);
  EXPECT_EQ(Pixel(dest, 5, 5).g, Pixel(src, 2, 2).g);
  dest.Canvas()->SetCopyMode(DSTINVERT);
  const auto before = Pixel(dest, 0, 0);
  dest.Canvas()->CopyRect(Rect(0, 0, 1, 1), src.Canvas(), Rect(0, 0, 1, 1));
  EXPECT_EQ(Pixel(dest, 0, 0).r, 255 - before.r);
}

// Rows a picture keeps are taken over without a copy; each side then changes
// only its own pixels.
TEST(Bitmap, SharedRowsAreCopiedOnlyWhenOneSideChangesThem) {
  const int w = 3, h = 2;
  const size_t rowBytes = size_t(DibRowBytes(w, 24)), size = rowBytes * h;
  TSharedBits block = NewSharedBits(size);
  for (size_t i = 0; i < size; ++i) block[i] = uint8_t(i * 7 + 1);
  const std::vector<uint8_t> original(block.get(), block.get() + size);

  TBitmap bitmap;
  ASSERT_TRUE(bitmap.TakeSharedBits(pf24bit, w, h, nullptr, 0, block, size));
  EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
  EXPECT_EQ(bitmap.View().bits, block.get());  // reading takes no copy
  // Bottom-up: the first row in the block is the bottom one.
  EXPECT_EQ(std::memcmp(bitmap.ScanLine(h - 1), original.data(), rowBytes), 0);
  static_cast<uint8_t*>(bitmap.ScanLine(0))[0] = 0xEE;
  bitmap.Canvas()->SetPixels(2, 1, clRed);
  EXPECT_EQ(std::vector<uint8_t>(block.get(), block.get() + size), original);
  EXPECT_EQ(static_cast<uint8_t*>(bitmap.ScanLine(0))[0], 0xEE);
  EXPECT_EQ(bitmap.Canvas()->Pixels(2, 1), clRed);

  // Once the other holder has let go, the rows are the bitmap's own.
  TBitmap sole;
  ASSERT_TRUE(sole.TakeSharedBits(pf24bit, w, h, nullptr, 0, block, size));
  uint8_t* const rows = block.get();
  block.reset();
  EXPECT_EQ(static_cast<uint8_t*>(sole.ScanLine(h - 1)), rows);

  // A canvas got before the rows were taken does not draw on the holder's rows;
  // a handle given out is a section of the bitmap's own.
  TSharedBits other = NewSharedBits(size);
  TCanvas* canvas = bitmap.Canvas();
  ASSERT_TRUE(bitmap.TakeSharedBits(pf24bit, w, h, nullptr, 0, other, size));
  canvas->Brush()->SetColor(clWhite);
  canvas->FillRect(Rect(0, 0, w, h));
  EXPECT_TRUE(std::all_of(other.get(), other.get() + size, [](uint8_t b) { return b == 0; }));
  TBitmap drawn;
  ASSERT_TRUE(drawn.TakeSharedBits(pf24bit, w, h, nullptr, 0, other, size));
  DIBSECTION ds{};
  ASSERT_EQ(GetObject(drawn.Handle(), sizeof ds, &ds), int(sizeof ds));
  EXPECT_NE(ds.dsBm.bmBits, other.get());
}

TEST(Bitmap, SharedRowsOfAPaletteFormatCarryTheirColours) {
  const size_t size = size_t(DibRowBytes(4, 8)) * 2;
  TSharedBits block = NewSharedBits(size);
  const RGBQUAD table[2] = {{10, 20, 30, 0}, {40, 50, 60, 0}};
  TBitmap bitmap;
  ASSERT_TRUE(bitmap.TakeSharedBits(pf8bit, 4, 2, table, 2, block, size));
  EXPECT_EQ(bitmap.PixelFormat(), pf8bit);
  // The table is the bitmap's own and its section's: BMP files and drawing agree.
  TMemoryStream bmp;
  bitmap.SaveToStream(bmp);
  RGBQUAD saved[2];
  std::memcpy(saved, bmp.Memory() + 14 + 40, sizeof saved);
  RGBQUAD section[2];
  GetDIBColorTable(bitmap.Canvas()->Handle(), 0, 2, section);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(saved[i].rgbRed, table[i].rgbRed);
    EXPECT_EQ(section[i].rgbGreen, table[i].rgbGreen);
  }
  EXPECT_EQ(bitmap.Canvas()->Pixels(0, 0), RGB(30, 20, 10));

  // A block short of the rows, or a format with alpha, is refused and changes nothing.
  EXPECT_FALSE(bitmap.TakeSharedBits(pf8bit, 4, 3, table, 2, block, size));
  EXPECT_FALSE(bitmap.TakeSharedBits(pf32bit, 1, 1, nullptr, 0, block, size));
  EXPECT_EQ(bitmap.Height(), 2);
}

TEST(Bitmap, ClipboardRoundTripCopiesTheImage) {
  std::unique_ptr<TBitmap> holder;
  TBitmap& b = *NewBitmap(holder, pf8bit, 5, 2);
  FillPattern(b, 3);
  WORD format = 0;
  HANDLE data = nullptr;
  HPALETTE palette = nullptr;
  b.SaveToClipboardFormat(format, data, palette);
  EXPECT_EQ(format, 2);
  ASSERT_NE(data, nullptr);
  TBitmap back;
  back.LoadFromClipboardFormat(format, data, palette);
  EXPECT_EQ(back.PixelFormat(), pf8bit);
  EXPECT_EQ(Rows(back), Rows(b));
  DeleteObject(data);
  if (palette) DeleteObject(palette);
  EXPECT_THROW(back.LoadFromClipboardFormat(CF_DIB, nullptr, nullptr), EInvalidGraphic);
  EXPECT_THROW(back.LoadFromClipboardFormat(CF_TEXT, data, nullptr), EInvalidGraphic);
}

// The clipboard owns the bitmap and palette handles put on it: emptying it
// frees them, where they used to stay allocated for good.
TEST(Bitmap, ClipboardFreesTheBitmapAndPaletteItHolds) {
  std::unique_ptr<TBitmap> holder;
  TBitmap& b = *NewBitmap(holder, pf8bit, 5, 2);
  FillPattern(b, 3);
  WORD format = 0;
  HANDLE data = nullptr;
  HPALETTE palette = nullptr;
  b.SaveToClipboardFormat(format, data, palette);
  ASSERT_NE(data, nullptr);
  if (palette) DeleteObject(palette);
  palette = CreateHalftonePalette(nullptr);
  ASSERT_NE(palette, nullptr);
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  ASSERT_NE(SetClipboardData(format, data), nullptr);
  ASSERT_NE(SetClipboardData(CF_PALETTE, palette), nullptr);
  CloseClipboard();
  EXPECT_EQ(GetObjectType(data), static_cast<DWORD>(OBJ_BITMAP));
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  CloseClipboard();
  EXPECT_EQ(GetObjectType(data), 0u);
  EXPECT_EQ(GetObjectType(palette), 0u);
}

TEST(Bitmap, PackedDibFromTheClipboardLoads) {
  BmpSpec spec;
  spec.width = 3, spec.height = -2, spec.bitCount = 24;  // top-down, as some programs paste
  spec.data = PatternBytes(static_cast<size_t>(DibRowBytes(3, 24) * 2), 5);
  const auto file = BuildBmp(spec);
  HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, file.size() - 14);
  std::memcpy(GlobalLock(mem), file.data() + 14, file.size() - 14);
  GlobalUnlock(mem);
  TBitmap b;
  b.LoadFromClipboardFormat(CF_DIB, mem, nullptr);
  EXPECT_EQ(b.PixelFormat(), pf24bit);
  EXPECT_EQ(std::memcmp(b.ScanLine(0), spec.data.data(), 9), 0);  // the first stored row is the top
  // A block too short for its header is refused, not read past.
  HGLOBAL shortMem = GlobalAlloc(GMEM_MOVEABLE, 20);
  std::memcpy(GlobalLock(shortMem), file.data() + 14, 20);
  GlobalUnlock(shortMem);
  EXPECT_THROW(b.LoadFromClipboardFormat(CF_DIB, shortMem, nullptr), EInvalidGraphic);
  GlobalFree(mem);
  GlobalFree(shortMem);
}

TEST(Bitmap, TextDrawnWithTheDefaultFaceStaysInsideItsReportedExtent) {
  std::unique_ptr<TBitmap> holder;
  TBitmap& b = *NewBitmap(holder, pf24bit, 200, 40);
  TCanvas& c = *b.Canvas();
  const std::string text = "Quorvane Wg";
  SIZE size;
  ASSERT_TRUE(GetTextExtentPoint32(c.Handle(), text.data(), static_cast<int>(text.size()), &size));
  EXPECT_EQ(c.TextWidth(text), size.cx);
  EXPECT_EQ(c.TextHeight(text), size.cy);
  c.Brush()->SetStyle(bsClear);
  c.Font()->SetColor(clBlack);
  c.TextOut(5, 5, text);
  int minX = 1000, maxX = -1, minY = 1000, maxY = -1;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x)
      if (Pixel(b, x, y).r < 128) {
        minX = std::min(minX, x), maxX = std::max(maxX, x);
        minY = std::min(minY, y), maxY = std::max(maxY, y);
      }
  ASSERT_GE(maxX, 0) << "no ink";
  EXPECT_GE(minX, 5);
  EXPECT_LT(maxX, 5 + size.cx);
  EXPECT_GE(minY, 5);
  EXPECT_LT(maxY, 5 + size.cy);
  EXPECT_GT(maxX, 5 + size.cx - 6);  // the last glyph ends near the advance
  EXPECT_EQ(c.PenPos().x, 5 + size.cx);
}
