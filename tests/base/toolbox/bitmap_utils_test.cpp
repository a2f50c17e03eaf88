#include "base/toolbox/bitmap_utils.h"

#include <gtest/gtest.h>

namespace {

std::unique_ptr<TBitmap> Bitmap32(int w, int h, std::initializer_list<uint32_t> px) {
  auto b = NewBitmap32(w, h);
  uint32_t* p = Block32(b.get());
  int i = 0;
  // Values are given top row first; the block is bottom-up.
  for (uint32_t v : px) {
    const int x = i % w, y = i / w;
    p[(h - 1 - y) * w + x] = v;
    ++i;
  }
  return b;
}

TEST(PixelFormatArithmetic, TablesAndRowSizes) {
  EXPECT_EQ(PixelFormatBits(pf15bit), 16);
  EXPECT_EQ(PixelFormatColors(pf4bit), 16);
  EXPECT_EQ(BitsToPixelFormat(15), pf15bit);
  EXPECT_EQ(BitsToPixelFormat(12), pfDevice);
  EXPECT_EQ(BytesPerRow(3, 4, 32), 4);
  EXPECT_EQ(DwordRowSize(3, 24), 12);
  BITMAPINFOHEADER h;
  h.biBitCount = 8;
  EXPECT_EQ(DibHeaderSize(h), 1064);
  h.biClrUsed = 3;
  EXPECT_EQ(DibHeaderSize(h), 52);
  h.biBitCount = 32;
  h.biCompression = BI_BITFIELDS;
  EXPECT_EQ(DibHeaderSize(h), 52);
  h.biCompression = BI_RGB;
  EXPECT_EQ(DibHeaderSize(h), 40);
}

TEST(MonoBitmap, TemplateKeepsBlackAndWhiteWhenSized) {
  auto b = NewMonoBitmap();
  EXPECT_EQ(b->PixelFormat(), pf1bit);
  EXPECT_EQ(b->Canvas()->Pixels(0, 0), clWhite);
  b->SetSize(9, 3);
  EXPECT_EQ(b->PixelFormat(), pf1bit);
  FillBitmap(b.get(), clBlack);
  b->Canvas()->SetPixels(8, 2, clWhite);
  EXPECT_EQ(b->Canvas()->Pixels(8, 2), clWhite);
  EXPECT_EQ(b->Canvas()->Pixels(7, 2), clBlack);
  TMaskPixels m(b.get());
  EXPECT_TRUE(m.IsWhite(8, 2));
  EXPECT_FALSE(m.IsWhite(0, 0));
  m.Set(0, 0, true);
  EXPECT_EQ(b->Canvas()->Pixels(0, 0), clWhite);
}

TEST(NewBitmap, NoColourAndChannelOrder) {
  auto none = NewBitmap(pf32bit, 4, 4, clNone);
  EXPECT_EQ(none->PixelFormat(), pf32bit);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(Block32(none.get())[i], 0u);  // not white at alpha 31
  auto red = NewBitmap(pf32bit, 2, 2, 0x0000FF);
  EXPECT_EQ(Block32(red.get())[0] & 0xFFFFFF, 0xFF0000u);  // red in the pixel's red byte
  auto plain = NewBitmap(pf24bit, 4, 4, clNone);
  EXPECT_EQ(plain->PixelFormat(), pf24bit);
  auto mono = NewBitmap(pf1bit, 5, 5, clBlack);
  EXPECT_EQ(mono->Canvas()->Pixels(4, 4), clBlack);
}

TEST(Blocks32, FillCopyAndClip) {
  auto a = NewBitmap(pf32bit, 4, 3, clNone);
  FillRect32(a.get(), 0x11223344, TRect{2, 1, 10, 10});
  EXPECT_EQ(GetPixel32(a.get(), 3, 2), 0x11223344u);
  EXPECT_EQ(GetPixel32(a.get(), 1, 2), 0u);
  EXPECT_EQ(GetPixel32(a.get(), 4, 0), 0u);  // outside
  auto b = NewBitmap(pf32bit, 3, 3, clNone);
  DrawBitmap32At(a.get(), b.get(), -1, 0);
  EXPECT_EQ(GetPixel32(b.get(), 1, 1), 0x11223344u);
  EXPECT_EQ(GetPixel32(b.get(), 2, 2), 0x11223344u);
  EXPECT_EQ(GetPixel32(b.get(), 0, 1), 0u);
  auto notThirtyTwo = NewBitmap(pf24bit, 3, 3, clWhite);
  FillRect32(notThirtyTwo.get(), 0, TRect{0, 0, 3, 3});  // refused, not written as 32-bit
  EXPECT_EQ(notThirtyTwo->Canvas()->Pixels(2, 2), clWhite);
}

TEST(Blocks32, AlphaQueries) {
  auto zero = Bitmap32(2, 1, {0x00102030, 0x00405060});
  FixZeroAlpha(zero.get());
  EXPECT_EQ(GetPixel32(zero.get(), 0, 0), 0xFF102030u);
  auto some = Bitmap32(2, 1, {0x00102030, 0x80405060});
  FixZeroAlpha(some.get());
  EXPECT_EQ(GetPixel32(some.get(), 0, 0), 0x00102030u);
  EXPECT_TRUE(HasPartialAlpha(some.get()));
  EXPECT_FALSE(HasPartialAlpha(zero.get()));
}

TEST(ReplaceColor32, MatchingRules) {
  auto b = Bitmap32(4, 1, {0x00ABCDEF, 0x00000000, 0x80FF0000, 0x00FF0000});
  ReplaceColor32(b.get(), 0, 0xFF00FF00, false);  // every fully transparent pixel
  EXPECT_EQ(GetPixel32(b.get(), 0, 0), 0xFF00FF00u);
  EXPECT_EQ(GetPixel32(b.get(), 3, 0), 0xFF00FF00u);
  EXPECT_EQ(GetPixel32(b.get(), 2, 0), 0x80FF0000u);
  ReplaceColor32(b.get(), 0xFFFF0000, 0xFF0000FF, true);  // opaque old: colour match, alpha kept
  EXPECT_EQ(GetPixel32(b.get(), 2, 0), 0x800000FFu);
}

TEST(AlphaMasks, ThresholdsKeepTheirComparisons) {
  // Alpha 79, 80, 81 against 80: below / at-or-below / above differ on purpose.
  auto src = Bitmap32(4, 1, {0x4F112233, 0x50112233, 0x51112233, 0x00FFFFFF});
  auto mask = NewMonoBitmap();
  AlphaThresholdMask(src.get(), mask.get(), 80);
  TMaskPixels m(mask.get());
  EXPECT_TRUE(m.IsWhite(0, 0));
  EXPECT_FALSE(m.IsWhite(1, 0));
  AddAlphaToMask(src.get(), mask.get(), 80, false);
  TMaskPixels m2(mask.get());
  EXPECT_TRUE(m2.IsWhite(1, 0));
  EXPECT_FALSE(m2.IsWhite(2, 0));

  TBitmap target;
  AlphaToMask(src.get(), &target, mask.get(), 80, true);
  TMaskPixels m3(mask.get());
  EXPECT_TRUE(m3.IsWhite(1, 0));
  EXPECT_FALSE(m3.IsWhite(2, 0));
  EXPECT_EQ(GetPixel32(&target, 1, 0), 0u);
  EXPECT_EQ(GetPixel32(&target, 2, 0), 0x51112233u);
  EXPECT_EQ(GetPixel32(&target, 3, 0), 0x00FFFFFFu);  // kept white
}

TEST(AlphaMasks, SplitAndApplyWithKeepWhite) {
  auto src = Bitmap32(3, 1, {0x00FFFFFF, 0x10ABCDEF, 0xFF102030});
  TBitmap colour;
  auto mask = NewMonoBitmap();
  SplitAlphaToColorAndMask(src.get(), &colour, mask.get(), 80, true);
  EXPECT_EQ(colour.PixelFormat(), pf24bit);
  EXPECT_EQ(colour.Canvas()->Pixels(0, 0), clWhite);
  EXPECT_EQ(colour.Canvas()->Pixels(1, 0), clBlack);
  EXPECT_EQ(colour.Canvas()->Pixels(2, 0), 0x302010);
  TMaskPixels m(mask.get());
  EXPECT_TRUE(m.IsWhite(0, 0));
  EXPECT_TRUE(m.IsWhite(1, 0));
  EXPECT_FALSE(m.IsWhite(2, 0));
}

TEST(ToBitmap32, MaskedPixelsBecomeTransparent) {
  auto src = NewBitmap(pf24bit, 2, 1, clWhite);
  src->Canvas()->SetPixels(1, 0, 0x0000FF);
  auto mask = NewMonoBitmap();
  mask->SetSize(2, 1);
  FillBitmap(mask.get(), clWhite);
  TBitmap out;
  ToBitmap32(src.get(), mask.get(), &out);
  EXPECT_EQ(GetPixel32(&out, 0, 0), 0x00FFFFFFu);
  EXPECT_EQ(GetPixel32(&out, 1, 0), 0u);
  ToBitmap32(src.get(), nullptr, &out);
  EXPECT_EQ(GetPixel32(&out, 1, 0), 0xFFFF0000u);
}

TEST(SetChannelFromPlane, LettersMapToPixelBytes) {
  auto b = Bitmap32(2, 1, {0x00000000, 0x00FFFFFF});
  auto plane = std::make_unique<TBitmap>();
  plane->SetPixelFormat(pf8bit);
  plane->SetSize(2, 1);
  static_cast<uint8_t*>(plane->ScanLine(0))[0] = 0x7F;
  static_cast<uint8_t*>(plane->ScanLine(0))[1] = 0x00;
  SetChannelFromPlane(b.get(), plane.get(), 'B');
  EXPECT_EQ(GetPixel32(b.get(), 0, 0), 0x0000007Fu);  // blue is the low byte
  SetChannelFromPlane(b.get(), plane.get(), 'R');
  EXPECT_EQ(GetPixel32(b.get(), 0, 0), 0x007F007Fu);
  SetChannelFromPlane(b.get(), plane.get(), 'a');
  EXPECT_EQ(GetPixel32(b.get(), 0, 0), 0x7F7F007Fu);
  EXPECT_EQ(GetPixel32(b.get(), 1, 0), 0x0000FF00u);
  auto white = Bitmap32(2, 1, {0xFFFFFFFF, 0xFFFFFFFF});
  SetChannelFromPlane(white.get(), plane.get(), 'a');
  EXPECT_EQ(GetPixel32(white.get(), 0, 0), 0x7FFFFFFFu);
  EXPECT_EQ(GetPixel32(white.get(), 1, 0), 0u);  // white at alpha 0 becomes 0
}

TEST(BitmapQueries, EqualIgnoresAlphaHasColour) {
  auto a = Bitmap32(2, 1, {0x10123456, 0xFF000000});
  auto b = Bitmap32(2, 1, {0x80123456, 0x00000000});
  EXPECT_TRUE(BitmapsEqual(a.get(), b.get()));
  auto c = Bitmap32(2, 1, {0x10123457, 0xFF000000});
  EXPECT_FALSE(BitmapsEqual(a.get(), c.get()));
  EXPECT_TRUE(BitmapHasColor(a.get(), 0x563412));
  EXPECT_FALSE(BitmapHasColor(a.get(), 0x123456));
  TBitmap empty;
  EXPECT_FALSE(BitmapHasColor(&empty, 0));
}

TEST(ReserveTransparentIndex, FullPaletteMergesClosestAndKeepsBlackWhite) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(pf8bit);
  b->SetSize(16, 16);
  int32_t colours[256];
  for (int i = 0; i < 256; ++i) colours[i] = (i * 0x050301) & 0xFFFFFF;
  colours[0] = 0;
  colours[1] = 0xFFFFFF;
  colours[100] = 0x000001;   // closest pair: black and this one
  colours[200] = 0x808080;
  colours[201] = 0x808082;   // the next closest pair
  WritePaletteColours(b.get(), colours, 256);
  const TPixelRows rows = BitmapRows(b.get());
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) rows.Row(y)[x] = static_cast<uint8_t>(y * 16 + x);
  auto mask = NewMonoBitmap();
  mask->SetSize(16, 16);
  FillBitmap(mask.get(), clBlack);
  mask->Canvas()->SetPixels(0, 0, clWhite);
  int index = -1;
  ReserveTransparentIndex(b.get(), mask.get(), index, 0x00FF00);
  EXPECT_EQ(index, 0);
  int32_t after[256];
  ReadPaletteColours(b.get(), after, 256);
  EXPECT_EQ(after[0], 0x00FF00);
  EXPECT_EQ(after[1], 0);         // black moved up by one, kept
  EXPECT_EQ(after[2], 0xFFFFFF);  // white too
  EXPECT_EQ(BitmapRows(b.get()).Row(0)[0], 0);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      if (x || y) {
        EXPECT_NE(BitmapRows(b.get()).Row(y)[x], 0) << x << "," << y;
      }
  // The pixels of index 100 now show black.
  EXPECT_EQ(after[BitmapRows(b.get()).Row(100 / 16)[100 % 16]], 0);
}

}  // namespace

namespace {

// Row access writes and reads what the canvas's single-pixel calls would, in
// every format it takes on itself and in one it leaves to the canvas.
TEST(ColourPixels, MatchTheCanvasInEveryFormat) {
  const TColor colours[] = {clBlack, clWhite, TColor(0x00123456), TColor(0x0080FF00), TColor(0x00C0C0C0),
                            TColor(0x000000FF), clBtnFace};
  for (TPixelFormat pf : {pf1bit, pf4bit, pf8bit, pf15bit, pf24bit, pf32bit}) {
    TBitmap viaRows, viaCanvas;
    for (TBitmap* b : {&viaRows, &viaCanvas}) {
      b->SetPixelFormat(pf);
      b->SetSize(13, 3);
    }
    TColourPixels rows(&viaRows);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 13; ++x) {
        const TColor c = colours[(x + 3 * y) % 7];
        rows.Set(x, y, c);
        viaCanvas.Canvas()->SetPixels(x, y, c);
      }
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 13; ++x) {
        EXPECT_EQ(rows.Get(x, y), viaCanvas.Canvas()->Pixels(x, y)) << pf << " " << x << "," << y;
        EXPECT_EQ(viaRows.Canvas()->Pixels(x, y), viaCanvas.Canvas()->Pixels(x, y)) << pf << " " << x << "," << y;
      }
  }
}

// The colour-to-index cache belongs to the surface and follows its colour table.
TEST(ColourPixels, SetPixelFollowsAChangedColourTable) {
  TBitmap b;
  b.SetPixelFormat(pf8bit);
  b.SetSize(2, 1);
  HDC dc = b.Canvas()->Handle();
  SetPixel(dc, 0, 0, RGB(200, 10, 10));
  RGBQUAD table[256] = {};
  ASSERT_GT(GetDIBColorTable(dc, 0, 256, table), 0u);
  table[77] = RGBQUAD{10, 10, 200, 0};  // exactly the colour written next
  ASSERT_EQ(SetDIBColorTable(dc, 77, 1, &table[77]), 1u);
  SetPixel(dc, 1, 0, RGB(200, 10, 10));
  EXPECT_EQ(BitmapRows(&b).Row(0)[1], 77);
}

}  // namespace
