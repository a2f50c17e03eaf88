// Pictures between the library bitmap with its alpha channel and 32-bit
// framework bitmaps.
#include <gtest/gtest.h>

#include "app/picture_transfer.h"
#include "app_test_util.h"

using namespace apptest;

namespace {

TEST(PictureTransfer, ColourAndAlphaSurviveTheRoundTrip) {
  auto source = Bitmap32(7, 5, [](int x, int y) { return uint32_t(x * 36) << 24 | uint32_t(x * 30) << 16 | uint32_t(y * 50) << 8 | 0x11u; });
  TIEBitmap ie;
  Bitmap32ToIEBitmap(*source, ie);
  ASSERT_EQ(ie.PixelFormat(), ie24RGB);
  ASSERT_TRUE(ie.HasAlphaChannel());
  EXPECT_EQ(ie.GetAlpha(3, 2), 108);
  EXPECT_EQ(ie.PixelAddressRGB(3, 2)[2], 90);  // red
  TBitmap back;
  IEBitmapToBitmap32(ie, back);
  ASSERT_EQ(back.PixelFormat(), pf32bit);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) ASSERT_EQ(Pixel32(back, x, y), Pixel32(*source, x, y)) << x << "," << y;
}

TEST(PictureTransfer, AlphaThatIsZeroEverywhereReadsAsOpaque) {
  auto source = Bitmap32(4, 4, [](int x, int) { return 0x00102030u + uint32_t(x); });
  TIEBitmap ie;
  Bitmap32ToIEBitmap(*source, ie);
  for (int x = 0; x < 4; ++x) EXPECT_EQ(ie.GetAlpha(x, 1), 255);

  // And the other way: a library bitmap whose alpha channel was cleared.
  TIEBitmap zero(3, 3, ie24RGB);
  TIEBitmap* a = zero.AlphaChannel();
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) a->ScanLine(y)[x] = 0;
  TBitmap out;
  IEBitmapToBitmap32(zero, out);
  ASSERT_EQ(out.PixelFormat(), pf32bit);
  EXPECT_EQ(Pixel32(out, 1, 1) >> 24, 255u);
}

TEST(PictureTransfer, PicturesWithoutAlphaStayPlain) {
  auto source = Bitmap24(5, 3, [](int x, int y) { return uint32_t(x * 40 + y); });
  TIEBitmap ie;
  Bitmap32ToIEBitmap(*source, ie);
  EXPECT_FALSE(ie.HasAlphaChannel());
  TBitmap back;
  IEBitmapToBitmap32(ie, back);
  EXPECT_EQ(back.PixelFormat(), pf24bit);
  EXPECT_EQ(static_cast<uint8_t*>(back.ScanLine(2))[4 * 3], 4 * 40 + 2);
}

}  // namespace
