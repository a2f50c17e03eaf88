// Fills, grey conversion, the grey histogram and mean colour, and the
// reductions to 1 bit by a fixed, mean or maximum-entropy cut.
#include "imaging/core/ie_proc_fill.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imaging/core/ie_helpers.h"

namespace {

// A grey picture of one row per entry of levels, repeated across width columns.
std::unique_ptr<TIEBitmap> GreyRows(const std::vector<int>& levels, int width, TIEBitmapFormat format = ie8g) {
  auto b = std::make_unique<TIEBitmap>(width, int(levels.size()), format);
  for (int y = 0; y < b->Height(); ++y)
    for (int x = 0; x < width; ++x) {
      const int v = levels[size_t(y)];
      switch (format) {
        case ie16g: b->SetPixel16(x, y, uint16_t(v)); break;
        case ie24RGB: b->SetPixelRGB(x, y, MakeRGB(uint8_t(v), uint8_t(v), uint8_t(v))); break;
        default: b->SetPixel8(x, y, uint8_t(v)); break;
      }
    }
  return b;
}

std::vector<int> Bits(TIEBitmap& b, int x) {
  std::vector<int> out;
  for (int y = 0; y < b.Height(); ++y) out.push_back(GetBit(b.ScanLine(y), x) ? 1 : 0);
  return out;
}

TEST(ProcFill, RectanglesByFormatAndTheOneBitGreyRule) {
  struct Case {
    std::string name;
    TIEBitmapFormat format;
    uint32_t color;  // red << 16 | green << 8 | blue
    TRGB want;       // as read back in 24 bits
  };
  const Case cases[] = {
      // A 1-bit fill follows the colour's grey, not its red channel alone.
      {"cyan on 1 bit is white", ie1g, 0x00FFFF, MakeRGB(255, 255, 255)},
      {"dark red on 1 bit is black", ie1g, 0x010000, MakeRGB(0, 0, 0)},
      {"grey 128 on 1 bit is white", ie1g, 0x808080, MakeRGB(255, 255, 255)},
      {"grey 127 on 1 bit is black", ie1g, 0x7F7F7F, MakeRGB(0, 0, 0)},
      {"8-bit grey takes the grey", ie8g, 0xC81E32, MakeRGB(67, 67, 67)},
      {"24 bits take the colour", ie24RGB, 0xC81E32, MakeRGB(200, 30, 50)},
      {"16-bit grey", ie16g, 0xFFFFFF, MakeRGB(255, 255, 255)},
      {"48 bits", ieRGB48, 0xC81E32, MakeRGB(200, 30, 50)},
  };
  for (const Case& c : cases) {
    TIEBitmap b(11, 5, c.format);
    b.Fill(0);
    int last = -1;
    // The rectangle reaches past the right and bottom edges: it is clipped.
    FillBitmapRect(b, 2, 1, nullptr, [&](TObject*, int p) { last = p; }, c.color, 99, 99);
    EXPECT_EQ(b.GetPixelAsRGB(2, 1), c.want) << c.name;
    EXPECT_EQ(b.GetPixelAsRGB(10, 4), c.want) << c.name;
    EXPECT_EQ(b.GetPixelAsRGB(1, 1), MakeRGB(0, 0, 0)) << c.name;
    EXPECT_EQ(b.GetPixelAsRGB(2, 0), MakeRGB(0, 0, 0)) << c.name;
    EXPECT_EQ(last, 88) << c.name;  // after 4 rows: trunc(400 / 4.5)
  }
  // Exclusive ends, and an empty rectangle does nothing.
  TIEBitmap b(4, 4, ie8g);
  b.Fill(0);
  FillBitmapRect(b, 1, 1, nullptr, nullptr, 0xFFFFFF, 2, 2);
  EXPECT_EQ(b.GetPixel8(1, 1), 255);
  EXPECT_EQ(b.GetPixel8(2, 2), 0);
  FillBitmapRect(b, 3, 3, nullptr, nullptr, 0xFFFFFF, 3, 3);
  EXPECT_EQ(b.GetPixel8(3, 3), 0);
}

TEST(ProcGrey, RectangleToGreyHistogramAndMean) {
  TIEBitmap b(3, 2, ie24RGB);
  b.SetPixelRGB(0, 0, MakeRGB(200, 100, 50));
  b.SetPixelRGB(1, 0, MakeRGB(255, 0, 0));
  b.SetPixelRGB(2, 0, MakeRGB(0, 0, 255));
  b.SetPixelRGB(0, 1, MakeRGB(10, 20, 30));
  b.SetPixelRGB(1, 1, MakeRGB(1, 2, 3));
  b.SetPixelRGB(2, 1, MakeRGB(9, 9, 9));
  ConvertRectToGray(b, 0, 0, 1, 2, nullptr, nullptr);
  EXPECT_EQ(b.GetPixelRGB(0, 0), MakeRGB(117, 117, 117));  // (4200 + 7100 + 400) div 100
  EXPECT_EQ(b.GetPixelRGB(1, 0), MakeRGB(53, 53, 53));
  EXPECT_EQ(b.GetPixelRGB(2, 0), MakeRGB(0, 0, 255));  // outside the rectangle
  EXPECT_EQ(b.GetPixelRGB(0, 1), MakeRGB(10, 20, 30));

  // Each row's mean (integer division), then the mean of the rows.
  const TRGB mean = GetAverageColor(b);
  EXPECT_EQ(mean, MakeRGB((170 / 3 + 20 / 3) / 2, (170 / 3 + 31 / 3) / 2, (425 / 3 + 42 / 3) / 2));
  TIEBitmap empty;
  EXPECT_EQ(GetAverageColor(empty), MakeRGB(128, 128, 128));
  // 16-bit samples are scaled, not cut to their high byte.
  auto wide = GreyRows({0xFF00, 0xFF00}, 2, ie16g);
  EXPECT_EQ(GetAverageColor(*wide), MakeRGB(254, 254, 254));

  TIEBitmap bw(10, 3, ie1g);
  bw.Fill(0);
  SetBit(bw.ScanLine(1), 4, true);
  const auto h = GetGrayHistogram(bw);
  EXPECT_EQ(h[0], 29);
  EXPECT_EQ(h[1], 1);
  EXPECT_EQ(h[255], 0);
  const auto g = GetGrayHistogram(*GreyRows({5, 5, 0x1234}, 4, ie16g));
  EXPECT_EQ(g[0], 8);
  EXPECT_EQ(g[0x12], 4);
}

TEST(ProcThreshold, FixedMeanAndEntropyCuts) {
  struct Case {
    std::string name;
    std::vector<int> levels;
    TIEBitmapFormat format;
    int threshold;
    std::vector<int> want;
  };
  const Case cases[] = {
      {"fixed 128 on 8-bit grey", {127, 128, 0, 255}, ie8g, 128, {0, 1, 0, 1}},
      {"16 bits by their high byte", {0x7FFF, 0x8000}, ie16g, 128, {0, 1}},
      {"mean of the colours", {10, 100, 200}, ie24RGB, -1, {0, 0, 1}},
      // Half the pixels at 10: the cut just above them gains most (ln 2
      // against 0.64 above 60), where the mean (70) would darken 60 too.
      {"entropy cut", {10, 10, 60, 200}, ie8g, -2, {0, 0, 1, 1}},
      // Two levels give no cut above 0: the mean decides instead of all white.
      {"two levels fall back to the mean", {0, 200}, ie8g, -2, {0, 1}},
      {"two levels in colour", {40, 45}, ie24RGB, -2, {0, 1}},
      {"one level", {77, 77}, ie8g, -2, {1, 1}},
  };
  for (const Case& c : cases) {
    auto source = GreyRows(c.levels, 3, c.format);
    TIEBitmap bw(3, int(c.levels.size()), ie1g);
    int last = -1;
    ConvertToBWThreshold(*source, bw, c.threshold, nullptr, [&](TObject*, int p) { last = p; });
    EXPECT_EQ(Bits(bw, 2), c.want) << c.name;
    EXPECT_EQ(last, int(c.levels.size() * 100 / (c.levels.size() + 0.5))) << c.name;
  }
  EXPECT_EQ(MaxEntropyThreshold(*GreyRows({0, 200}, 2)), -1);

  // A 1-bit source is copied as it is; a destination of another size is left alone.
  TIEBitmap one(9, 2, ie1g);
  one.Fill(0);
  SetBit(one.ScanLine(1), 8, true);
  TIEBitmap copy(9, 2, ie1g);
  copy.Fill(255);
  ConvertToBWThreshold(one, copy, 200, nullptr, nullptr);
  EXPECT_EQ(Bits(copy, 8), (std::vector<int>{0, 1}));
  TIEBitmap other(8, 2, ie1g);
  other.Fill(0);
  ConvertToBWThreshold(*GreyRows({255, 255}, 9), other, 1, nullptr, nullptr);
  EXPECT_EQ(Bits(other, 0), (std::vector<int>{0, 0}));

  // ThresholdToBW reduces 24-bit pictures in place, keeping their alpha.
  auto rgb = GreyRows({30, 220}, 4, ie24RGB);
  rgb->AlphaChannel()->SetPixel8(1, 1, 9);
  ThresholdToBW(*rgb, -1, nullptr, nullptr);
  ASSERT_EQ(rgb->PixelFormat(), ie1g);
  EXPECT_EQ(Bits(*rgb, 3), (std::vector<int>{0, 1}));
  EXPECT_EQ(rgb->GetAlpha(1, 1), 9);
  auto grey = GreyRows({30, 220}, 4);
  ThresholdToBW(*grey, -1, nullptr, nullptr);
  EXPECT_EQ(grey->PixelFormat(), ie8g);
}

}  // namespace
