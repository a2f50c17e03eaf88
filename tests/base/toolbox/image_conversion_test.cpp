#include "base/toolbox/image_conversion.h"

#include <gtest/gtest.h>

#include <set>

#include "base/toolbox/bitmap_utils.h"
#include "base/toolbox/palettes.h"
#include "base/toolbox/resampler.h"

namespace {

// A picture with a gradient and a few flat areas, in any format.
std::unique_ptr<TBitmap> Source(TPixelFormat format, int w, int h, bool transparentCorner = false) {
  auto b = NewBitmap32(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint32_t v = 0xFF000000u | ((x * 255 / std::max(w - 1, 1)) << 16) | ((y * 255 / std::max(h - 1, 1)) << 8) | 0x40;
      if (transparentCorner && x < w / 4 && y < h / 4) v = 0x10000000u;
      reinterpret_cast<uint32_t*>(BitmapRows(b.get()).Row(y))[x] = v;
    }
  if (format != pf32bit) b->SetPixelFormat(format);
  return b;
}

int WhiteCount(TBitmap* mask) {
  TMaskPixels m(mask);
  int n = 0;
  for (int y = 0; y < mask->Height(); ++y)
    for (int x = 0; x < mask->Width(); ++x) n += m.IsWhite(x, y);
  return n;
}

struct Case {
  TPixelFormat from, to;
  int method;
  TIconResampleFilter filter;
  int w, h;
};

TEST(ConvertImage, EveryFormatMethodAndSize) {
  const TPixelFormat formats[] = {pf1bit, pf4bit, pf8bit, pf24bit, pf32bit};
  const int methods[] = {0, 1, 2, 3};
  const TIconResampleFilter filters[] = {irfNone, irfLanczos3, irfTriangle};
  const int sizes[][2] = {{12, 10}, {6, 5}, {20, 9}};
  for (auto from : formats)
    for (auto to : formats)
      for (int method : methods)
        for (auto filter : filters)
          for (const auto& size : sizes)
            for (bool keep : {false, true}) {
              auto src = Source(from, 12, 10);
              TBitmap target;
              auto mask = std::make_unique<TBitmap>();
              ConvertImage(src.get(), nullptr, &target, mask.get(), to, size[0], size[1], method, 80, keep, filter,
                           nullptr, false);
              SCOPED_TRACE(testing::Message() << "from " << int(from) << " to " << int(to) << " method " << method
                                              << " filter " << int(filter) << " size " << size[0] << "x"
                                              << size[1] << " keep " << keep);
              ASSERT_EQ(target.PixelFormat(), to);
              ASSERT_EQ(target.Width(), size[0]);
              ASSERT_EQ(target.Height(), size[1]);
              ASSERT_EQ(mask->PixelFormat(), pf1bit);
              ASSERT_EQ(mask->Width(), size[0]);
              ASSERT_EQ(mask->Height(), size[1]);
              // An opaque source leaves only the bands outside its proportions transparent.
              if (!keep) {
                EXPECT_EQ(WhiteCount(mask.get()), 0);
              }
            }
}

TEST(ConvertImage, IconMakerSizesKeepProportions) {
  auto src = Source(pf32bit, 100, 60);
  struct Want {
    int size, top, bottom;
  } wants[] = {{48, 10, 37}, {32, 6, 25}, {16, 3, 12}};
  for (const auto& w : wants) {
    TBitmap target;
    auto mask = std::make_unique<TBitmap>();
    ConvertImage(src.get(), nullptr, &target, mask.get(), pf32bit, w.size, w.size, 1, 80, true, irfLanczos3, nullptr,
                 false);
    TMaskPixels m(mask.get());
    for (int y = 0; y < w.size; ++y) {
      const bool inside = y >= w.top && y <= w.bottom;
      EXPECT_EQ(m.IsWhite(w.size / 2, y), !inside) << w.size << " row " << y;
      EXPECT_EQ(GetPixel32(&target, w.size / 2, y) >> 24 != 0, inside) << w.size << " row " << y;
    }
  }
}

TEST(ConvertImage, LargeSourceReducedOnce) {
  auto src = Source(pf32bit, 1000, 500);
  TBitmap target;
  auto mask = std::make_unique<TBitmap>();
  ConvertImage(src.get(), nullptr, &target, mask.get(), pf32bit, 192, 96, 1, 80, true, irfLanczos3, nullptr, false);
  ASSERT_EQ(target.Width(), 192);
  EXPECT_EQ(WhiteCount(mask.get()), 0);
  // The gradient survives: red grows to the right, green downward.
  EXPECT_LT((GetPixel32(&target, 10, 48) >> 16) & 0xFF, (GetPixel32(&target, 180, 48) >> 16) & 0xFF);
  EXPECT_LT((GetPixel32(&target, 96, 5) >> 8) & 0xFF, (GetPixel32(&target, 96, 90) >> 8) & 0xFF);
}

// An opaque 24-bit picture resampled to 24 bits takes no 32-bit detour, and
// gives what the 32-bit road gives for the same opaque picture.
TEST(ConvertImage, Opaque24BitResampleMatchesThe32BitRoad) {
  for (bool proportions : {false, true})
    for (TIconResampleFilter f : {irfTriangle, irfLanczos3, irfMitchell}) {
      auto s24 = Source(pf24bit, 301, 117);
      auto s32 = Source(pf32bit, 301, 117);
      TBitmap t24, m24, t32, m32;
      ConvertImage(s24.get(), nullptr, &t24, &m24, pf24bit, 48, 40, 1, 80, proportions, f, nullptr, false);
      ConvertImage(s32.get(), nullptr, &t32, &m32, pf32bit, 48, 40, 1, 80, proportions, f, nullptr, false);
      ASSERT_EQ(t24.PixelFormat(), pf24bit);
      TMaskPixels a(&m24), b(&m32);
      for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 48; ++x) {
          const uint32_t v = reinterpret_cast<uint32_t*>(BitmapRows(&t32).Row(y))[x];
          const uint8_t* p = BitmapRows(&t24).Row(y) + x * 3;
          ASSERT_EQ(a.IsWhite(x, y), b.IsWhite(x, y)) << x << "," << y;
          if (!a.IsWhite(x, y)) {
            ASSERT_EQ(p[0] | p[1] << 8 | p[2] << 16, int(v & 0xFFFFFF)) << x << "," << y << " filter " << int(f);
          }
        }
    }
}

TEST(ConvertImage, SameSize32BitMaskComesFromAlpha) {
  auto src = Source(pf32bit, 8, 8, true);
  TBitmap target;
  auto mask = std::make_unique<TBitmap>();
  ConvertImage(src.get(), nullptr, &target, mask.get(), pf32bit, 8, 8, 1, 80, false, irfLanczos3, nullptr, false);
  EXPECT_TRUE(BitmapsEqual(src.get(), &target));
  EXPECT_EQ(WhiteCount(mask.get()), 4);  // the 2 x 2 corner of alpha 16
}

TEST(ConvertImage, SameSizeTo24BitBlackensTransparentAndKeepsWhite) {
  auto src = Source(pf32bit, 8, 8, true);
  reinterpret_cast<uint32_t*>(BitmapRows(src.get()).Row(0))[0] = 0x00FFFFFF;
  for (bool keepWhite : {false, true}) {
    TBitmap target;
    auto mask = std::make_unique<TBitmap>();
    ConvertImage(src.get(), nullptr, &target, mask.get(), pf24bit, 8, 8, 1, 80, false, irfLanczos3, nullptr,
                 keepWhite);
    EXPECT_EQ(target.Canvas()->Pixels(0, 0), keepWhite ? clWhite : clBlack);
    EXPECT_EQ(target.Canvas()->Pixels(1, 1), clBlack);
    EXPECT_EQ(WhiteCount(mask.get()), 4);
    EXPECT_TRUE(TMaskPixels(mask.get()).IsWhite(0, 0));
  }
}

TEST(ConvertImage, IconImage8BitBlackFirstWhiteSecond) {
  auto src = Source(pf32bit, 48, 48, true);
  TBitmap target;
  auto mask = std::make_unique<TBitmap>();
  ConvertImage(src.get(), nullptr, &target, mask.get(), pf8bit, 16, 16, 1, 80, false, irfLanczos3, nullptr, false);
  ASSERT_EQ(target.PixelFormat(), pf8bit);
  int32_t colours[256];
  ReadPaletteColours(&target, colours, 256);
  EXPECT_EQ(colours[0], 0);
  EXPECT_EQ(colours[1], 0xFFFFFF);
  // Resampled to 16 x 16 in 32 bits first: the transparent corner is where alpha fell below 80.
  TBitmap small;
  small.SetPixelFormat(pf32bit);
  small.SetSize(16, 16);
  ResampleBitmap(src.get(), &small, irfLanczos3);
  TMaskPixels m(mask.get());
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const bool transparent = (GetPixel32(&small, x, y) >> 24) < 80;
      EXPECT_EQ(m.IsWhite(x, y), transparent);
      if (transparent) {
        EXPECT_EQ(BitmapRows(&target).Row(y)[x], 0);
      }
    }
}

TEST(ConvertImage, GreyFromSixteenBitSource) {
  auto src = Source(pf24bit, 6, 6);
  src->SetPixelFormat(pf16bit);
  TBitmap target;
  ConvertImage(src.get(), nullptr, &target, nullptr, pf8bit, 6, 6, 0, 80, false, irfLanczos3, nullptr, false);
  int32_t colours[256];
  ReadPaletteColours(&target, colours, 256);
  EXPECT_EQ(colours[77], 0x4D4D4D);
  std::set<int> levels;
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) levels.insert(BitmapRows(&target).Row(y)[x]);
  EXPECT_GT(levels.size(), 3u);  // the picture shows, not a blank
}

TEST(ConvertImage, PaletteListWithHalftone) {
  // Method 2 with a list: the list is the palette and each flat colour lands on its entry.
  TListLongint list;
  for (int32_t c : {0x000000, 0x0000FF, 0x00FF00, 0xFF0000, 0xFFFFFF}) list.Add(c);
  auto src = NewBitmap(pf24bit, 8, 4, clWhite);
  src->Canvas()->Brush()->SetColor(0x0000FF);
  src->Canvas()->FillRect(TRect{0, 0, 4, 4});
  TBitmap target;
  auto mask = std::make_unique<TBitmap>();
  ConvertImage(src.get(), nullptr, &target, mask.get(), pf8bit, 8, 4, 2, 80, false, irfLanczos3, &list, false);
  int32_t colours[256];
  const int n = ReadPaletteColours(&target, colours, 256);
  ASSERT_GE(n, 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(colours[i], list[i]);
  EXPECT_EQ(BitmapRows(&target).Row(1)[1], 1);
  EXPECT_EQ(BitmapRows(&target).Row(1)[6], 4);
}

TEST(ReduceToPalette, ZeroWidthAndExactColours) {
  TBitmap empty, target;
  ReduceToPalette(&empty, &target, true, false, nullptr, 256, 80);
  EXPECT_EQ(target.PixelFormat(), pf8bit);
  EXPECT_EQ(target.Width(), 0);
  auto src = Source(pf24bit, 10, 10);
  ReduceToPalette(src.get(), &target, true, false, nullptr, 256, 80);
  int32_t colours[256];
  ReadPaletteColours(&target, colours, 256);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) {
      const int32_t want = src->Canvas()->Pixels(x, y);
      EXPECT_EQ(colours[BitmapRows(&target).Row(y)[x]], want);
    }
}

TEST(ForceBlackWhiteEntries, DarkestByLightnessNotByRedAndBlue) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(pf8bit);
  b->SetSize(2, 2);
  int32_t colours[4] = {0x00FF00, 0x202020, 0x0000C0, 0xE0E0E0};  // pure green first
  WritePaletteColours(b.get(), colours, 4);
  ForceBlackWhiteEntries(b.get(), nullptr);
  int32_t after[256];
  ReadPaletteColours(b.get(), after, 256);
  EXPECT_EQ(after[0], 0x00FF00);
  EXPECT_EQ(after[1], 0);
  EXPECT_EQ(after[3], 0xFFFFFF);
  // A palette with both already is left alone.
  ForceBlackWhiteEntries(b.get(), nullptr);
  int32_t again[256];
  ReadPaletteColours(b.get(), again, 256);
  EXPECT_EQ(std::vector<int32_t>(after, after + 4), std::vector<int32_t>(again, again + 4));
}

TEST(ConvertExactTo8Bit, TwoHundredFiftySixFitsOneMoreFails) {
  for (int count : {256, 257}) {
    TBitmap src;
    src.SetPixelFormat(pf24bit);
    src.SetSize(count, 1);
    uint8_t* row = static_cast<uint8_t*>(src.ScanLine(0));
    for (int i = 0; i < count; ++i) {
      row[i * 3] = static_cast<uint8_t>(i);
      row[i * 3 + 1] = static_cast<uint8_t>(i >> 8);
    }
    TBitmap target;
    EXPECT_EQ(ConvertExactTo8Bit(&src, &target, false, false), count == 256);
  }
}

TEST(CompletePalette, FourBitFromTwoEntries) {
  TBitmap b;
  b.SetPixelFormat(pf4bit);
  b.SetSize(2, 2);
  int32_t two[2] = {0x123456, 0xFFFFFF};
  TBitmap holder;
  holder.SetPixelFormat(pf8bit);
  holder.SetSize(1, 1);
  WritePaletteColours(&holder, two, 2);
  CompletePalette(&b, holder.GetPalette(), false);
  int32_t colours[256];
  ASSERT_EQ(ReadPaletteColours(&b, colours, 256), 16);
  EXPECT_EQ(colours[0], 0x123456);
  EXPECT_EQ(colours[2], 0x000080);  // black counts as present in the unfilled slots
}

}  // namespace
