#include "imaging/core/ie_geometry.h"

#include <gtest/gtest.h>

namespace {

// Each pixel of an ie8g picture holds its column + 10 x its row.
void Number(TIEBitmap& b) {
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) b.SetPixel8(x, y, uint8_t(x + 10 * y));
}

TEST(Geometry, ResizeGrowsCentredAndShrinksToTheBottomRight) {
  TIEBitmap b(4, 4, ie8g);
  Number(b);
  b.Resize(8, 4, 200, 255, 1, 0);
  ASSERT_EQ(b.Width(), 8);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(b.GetPixel8(x, y), x >= 2 && x <= 5 ? x - 2 + 10 * y : 200) << x << "," << y;
  TIEBitmap c(8, 8, ie8g);
  Number(c);
  c.Resize(4, 4, 0, 255, 2, 2);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(c.GetPixel8(x, y), x + 4 + 10 * (y + 4));
}

TEST(Geometry, SetHeightChangesTheAlphaChannelToo) {
  TIEBitmap b(3, 3, ie24RGB);
  b.AlphaChannel()->SetPixel8(1, 1, 9);
  b.SetHeight(5);
  EXPECT_EQ(b.Height(), 5);
  EXPECT_EQ(b.AlphaChannel()->Height(), 5);
  EXPECT_EQ(b.AlphaChannel()->GetPixel8(1, 1), 9);
}

TEST(Geometry, CopyRectClipsANegativeDestination) {
  TIEBitmap s(6, 1, ie8g), d(6, 1, ie8g);
  Number(s);
  d.Fill(99);
  s.CopyRectTo(d, 1, 0, 4, 1, -2, 0);
  EXPECT_EQ(d.GetPixel8(0, 0), 3);
  EXPECT_EQ(d.GetPixel8(1, 0), 4);
  EXPECT_EQ(d.GetPixel8(2, 0), 99);
}

TEST(Geometry, CopyRectConvertsPairsWithoutARule) {
  TIEBitmap s(2, 1, ie8g), d(2, 1, ie24RGB);
  s.SetPixel8(0, 0, 10);
  s.SetPixel8(1, 0, 250);
  d.Fill(0);
  s.CopyRectTo(d, 0, 0, 2, 1, 0, 0);
  EXPECT_EQ(d.GetPixelRGB(0, 0), MakeRGB(10, 10, 10));
  EXPECT_EQ(d.GetPixelRGB(1, 0), MakeRGB(250, 250, 250));
}

TEST(Geometry, RightAnglesAreExactForEveryFormatIncludingOneBit) {
  for (TIEBitmapFormat f : {ie1g, ie8g, ie24RGB, ieRGB48}) {
    TIEBitmap b(3, 2, f);
    b.Fill(0);
    b.FillRect(2, 0, 2, 0, f == ie8g ? 255 : 0xFFFFFF);  // top-right pixel white
    b.Rotate(true, 0, nullptr, nullptr, 0, 90);
    ASSERT_EQ(b.Width(), 2);
    ASSERT_EQ(b.Height(), 3);
    // Counter-clockwise: the top-right corner goes to the top-left.
    EXPECT_EQ(b.GetPixelAsRGB(0, 0).g, 255) << int(f);
    EXPECT_EQ(b.GetPixelAsRGB(1, 2).g, 0) << int(f);
  }
}

TEST(Geometry, OtherAnglesLeaveTransparentCorners) {
  TIEBitmap b(10, 10, ie24RGB);
  b.Fill(0xFFFFFF);
  b.AlphaChannel();
  b.Rotate(true, 1, nullptr, nullptr, 0x0000FF, 45);
  EXPECT_EQ(b.Width(), 15);
  EXPECT_EQ(b.AlphaChannel()->GetPixel8(0, 0), 0);
  EXPECT_EQ(b.GetPixelRGB(0, 0), MakeRGB(255, 0, 0));
  EXPECT_EQ(b.AlphaChannel()->GetPixel8(7, 7), 255);
  EXPECT_EQ(b.GetPixelRGB(7, 7), MakeRGB(255, 255, 255));
}

}  // namespace
