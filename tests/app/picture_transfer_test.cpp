// Pictures between the library bitmap with its alpha channel and 32-bit
// framework bitmaps.
#include <gtest/gtest.h>

#include "app/picture_transfer.h"
#include "app_test_util.h"
#include "base/toolbox/bitmap_fix32.h"
#include "pictures/png/png_image.h"
#include "platform/rtl/streams.h"

using namespace apptest;

namespace {

TEST(PictureTransfer, ColourAndAlphaSurviveTheRoundTrip) {
  auto source = Bitmap32(7, 5, [](int x, int y) {
    return uint32_t(x * 36) << 24 | uint32_t(x * 30) << 16 | uint32_t(y * 50) << 8 | 0x11u;
  });
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

namespace {

TEST(IconIntoView, BestImageBecomesAPngThatKeepsAlpha) {
  TAdvancedIcon icon;
  EXPECT_FALSE([&] {
    TMemoryStream s;
    const bool ok = IconToPngStream(icon, s);
    EXPECT_EQ(s.Size(), 0);
    return ok;
  }());
  for (int size : {16, 48}) {
    auto b = Bitmap32(size, size, [&](int x, int) { return uint32_t(x * 255 / (size - 1)) << 24 | 0x00336699u; });
    icon.Images().AddBitmap(b.get(), nullptr, 0);
  }
  TMemoryStream s;
  ASSERT_TRUE(IconToPngStream(icon, s));
  s.SetPosition(0);
  TPNGImage png;
  png.LoadFromStream(s);
  EXPECT_EQ(png.GetWidth(), 48);
  TBitmap back;
  back.Assign(&png);
  ASSERT_EQ(back.PixelFormat(), pf32bit);
  EXPECT_EQ(Pixel32(back, 47, 3), 0xFF336699u);
  EXPECT_EQ(Pixel32(back, 0, 3) >> 24, 0u);
}

TEST(BitmapIntoView, BmpStreamKeeps32BitAlpha) {
  auto b = Bitmap32(3, 2, [](int x, int) { return uint32_t(x * 100) << 24 | 0x102030u; });
  TMemoryStream s;
  PictureToBmpStream(b.get(), s);
  s.SetPosition(0);
  TBitmapFix32 back;
  back.LoadFromStream(s);
  ASSERT_EQ(back.PixelFormat(), pf32bit);
  EXPECT_EQ(Pixel32(back, 2, 1), 200u << 24 | 0x102030u);
}

}  // namespace
