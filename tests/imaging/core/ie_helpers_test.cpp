#include "imaging/core/ie_helpers.h"

#include <gtest/gtest.h>

#include <clocale>

#include "imaging/core/ie_colorspace.h"
#include "imaging/core/ie_memory.h"
#include "imaging/core/ie_version.h"

TEST(IEHelpers, BitCounts) {
  EXPECT_EQ(CeilLog2(0), -1);
  EXPECT_EQ(CeilLog2(2), 1);
  EXPECT_EQ(CeilLog2(3), 2);
  EXPECT_EQ(CeilLog2(16), 4);
  EXPECT_EQ(CeilLog2(17), 5);
  EXPECT_EQ(ColorCountForBits(8, 3), 16777216);
  EXPECT_EQ(ColorCountForBits(1, 1), 2);
  EXPECT_EQ(ColorCountForBits(8, 0), 1);
  EXPECT_EQ(MaskBitWidth(0x7C00), 5);
  EXPECT_EQ(MaskBitWidth(0x07E0), 6);
  EXPECT_EQ(MaskBitWidth(0), 0);
}

TEST(IEHelpers, ByteAndBitOrder) {
  EXPECT_EQ(SwapWord(0x1234), 0x3412);
  EXPECT_EQ(SwapDWord(0x12345678u), 0x78563412u);
  uint8_t b = 0x01;
  ReverseByteBits(b);
  EXPECT_EQ(b, 0x80);
  uint32_t d = 0x00000001u;
  ReverseDWordBits(d);
  EXPECT_EQ(d, 0x80000000u);
  d = 0x12345678u;
  ReverseDWordBits(d);
  EXPECT_EQ(d, 0x1E6A2C48u);
  EXPECT_EQ(PackBytes(1, 2, 3, 4), 0x04030201u);
  uint8_t rgb[6] = {1, 2, 3, 4, 5, 6};
  SwapRedBlue24(rgb, 2);
  EXPECT_EQ(rgb[0], 3);
  EXPECT_EQ(rgb[5], 4);
  SwapRedBlue24(rgb, 0);
  uint8_t out[6];
  CopyRGBSwapped(rgb, out, 2);
  EXPECT_EQ(out[0], 1);
  const uint8_t bits[2] = {0x80, 0x01};
  EXPECT_TRUE(GetBit(bits, 0));
  EXPECT_FALSE(GetBit(bits, 1));
  EXPECT_TRUE(GetBit(bits, 15));
  uint8_t row[2] = {0x00, 0xFF};
  SetBit(row, 0, true);
  SetBit(row, 14, false);
  SetBit(row, 9, true);  // already set: stays
  EXPECT_EQ(row[0], 0x80);
  EXPECT_EQ(row[1], 0xFD);
}

TEST(IEHelpers, BitRunsKeepTheirNeighbours) {
  const uint8_t src[3] = {0b10110011, 0b01010101, 0xFF};
  uint8_t dst[3] = {0, 0, 0};
  CopyBitRun(dst, src, 3, 1, 6, 3);  // bits 1..6 of src (011001) into bits 3..8
  EXPECT_EQ(dst[0], 0b00001100);
  EXPECT_EQ(dst[1], 0b10000000);
  uint8_t keep[2] = {0xFF, 0xFF};
  CopyBitRun(keep, dst, 2, 0, 3, 3);  // 000 into bits 2..4
  EXPECT_EQ(keep[0], 0b11000111);
  CopyBitRun(keep, src, -1, 0, 3, 3);  // negative offset: nothing
  EXPECT_EQ(keep[0], 0b11000111);
  uint8_t one[1] = {0};
  CopyBitsOneByOne(one, src, 4, 0, 4, 0);
  EXPECT_EQ(one[0], 0b00001011);
}

TEST(IEHelpers, Palettes) {
  const TRGB pal[3] = {MakeRGB(0, 0, 0), MakeRGB(200, 10, 10), MakeRGB(10, 200, 10)};
  EXPECT_EQ(FindNearestPaletteEntry(pal, 3, MakeRGB(190, 0, 30)), 1);
  EXPECT_EQ(FindNearestPaletteEntry(pal, 0, MakeRGB(190, 0, 30)), 0);
  TRGB p;
  ColorToRGBPixel(0x00112233, p);
  EXPECT_EQ(p, MakeRGB(0x33, 0x22, 0x11));
  EXPECT_EQ(RGBToGray(0xFFFFFF), 255);
  EXPECT_EQ(RGBToGray(0x640000), 21);  // red 100 only
}

TEST(IEHelpers, Rectangles) {
  int x1 = 5, y1 = 9, x2 = 1, y2 = 2;
  OrderRectCorners(x1, y1, x2, y2);
  EXPECT_EQ(x1, 1);
  EXPECT_EQ(y2, 9);
  EXPECT_TRUE(PointInRect(5, 9, 1, 2, 5, 9));
  EXPECT_EQ(RectVisibility(RECT{2, 2, 4, 4}, RECT{0, 0, 10, 10}), 2);
  EXPECT_EQ(RectVisibility(RECT{8, 8, 14, 14}, RECT{0, 0, 10, 10}), 1);
  EXPECT_EQ(RectVisibility(RECT{20, 20, 24, 24}, RECT{0, 0, 10, 10}), 0);
  EXPECT_DOUBLE_EQ(DistanceToSegment(0, 5, -10, 0, 10, 0), 5.0);
  EXPECT_DOUBLE_EQ(DistanceToSegment(13, 4, 0, 0, 10, 0), 5.0);
  // A nearest end point 45,001 or more away on an axis counts as far; a point on
  // a long segment does not.
  EXPECT_EQ(DistanceToSegment(0, 0, 50000, 0, 60000, 0), 1000000.0);
  EXPECT_EQ(DistanceToSegment(0, 0, 0, 0, 50000, 0), 0.0);
}

// Golden values: the JFIF equations, and the CIE L*a*b* of sRGB primaries as
// published (white 100/0/0, green 87.73/-86.18/83.18).
TEST(IEColorSpace, Formulas) {
  uint8_t y, cb, cr;
  RGBToYCbCr(y, cb, cr, MakeRGB(0, 0, 0));
  EXPECT_EQ(y, 0);
  EXPECT_EQ(cb, 128);
  EXPECT_EQ(cr, 128);
  TRGB p;
  YCbCrToRGB(p, 0, 128, 128);
  EXPECT_EQ(p, MakeRGB(0, 0, 0));
  RGBToYCbCr(y, cb, cr, MakeRGB(255, 255, 255));
  EXPECT_EQ(y, 255);
  const TCIELab white = CIELabOf(MakeRGB(255, 255, 255));
  EXPECT_GE(white.l, 254);  // trunc(100 * 2.55) in binary floating point
  EXPECT_EQ(white.a, 0);
  const TCIELab green = CIELabOf(MakeRGB(0, 255, 0));
  EXPECT_EQ(green.l, 223);  // trunc(87.73 * 2.55)
  EXPECT_EQ(green.a, -86);
  EXPECT_EQ(green.b, 83);
  // Back to RGB within one step of rounding.
  const TRGB back = ConvertCIELabToRGB(green.l, green.a, green.b);
  EXPECT_NEAR(back.g, 255, 3);
  EXPECT_NEAR(back.r, 0, 12);
  EXPECT_EQ(RGBToCMYKPlain(MakeRGB(255, 0, 0)), (TCMYK{255, 0, 0, 255}));
  EXPECT_EQ(RGBToCMYKPlain(MakeRGB(0, 0, 0)), (TCMYK{255, 255, 255, 0}));
}

TEST(IEVersion, CodesByPlatformAndVersion) {
  struct Case {
    uint32_t platform, major, minor;
    uint8_t code;
  };
  const Case cases[] = {{1, 4, 0, 0},  {1, 4, 10, 1}, {1, 4, 90, 2}, {1, 4, 20, 10}, {2, 4, 0, 3},
                        {2, 5, 0, 4},  {2, 5, 1, 5},  {2, 5, 2, 6},  {2, 6, 0, 7},   {2, 6, 1, 8},
                        {2, 6, 2, 9},  {2, 6, 3, 10}, {2, 10, 0, 10}, {0, 3, 1, 10}};
  for (const auto& c : cases)
    EXPECT_EQ(WindowsVersionCodeFor(c.platform, c.major, c.minor), c.code) << c.major << "." << c.minor;
}

TEST(IEVersion, NumbersWithEitherSeparator) {
  EXPECT_DOUBLE_EQ(double(StrToFloatAnySeparator("1,5", -1)), 1.5);
  EXPECT_DOUBLE_EQ(double(StrToFloatAnySeparator("1.5", -1)), 1.5);
  EXPECT_DOUBLE_EQ(double(StrToFloatAnySeparator("1,000.5", -1)), -1);
  EXPECT_DOUBLE_EQ(double(StrToFloatAnySeparator("abc", 7)), 7);
  EXPECT_DOUBLE_EQ(double(StrToFloatAnySeparator("", 7)), 7);
  EXPECT_DOUBLE_EQ(double(StrToFloatAnySeparator("nan", 7)), 7);
  EXPECT_DOUBLE_EQ(double(StrToFloatAnySeparator(" -2.25e1 ", 7)), -22.5);
}

TEST(IEMemory, LargeBlocksAreAlignedAndTagged) {
  for (int64_t size : {int64_t(1), int64_t(1000), int64_t(1048575), int64_t(2 * 1048576)}) {
    void* p = AllocLargeBlock(size);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % kIEBlockAlignment, 0u) << size;
    EXPECT_EQ(static_cast<uint8_t*>(p)[-1], size >= 1048576 ? 1 : 0);
    static_cast<uint8_t*>(p)[size - 1] = 1;
    FreeLargeBlock(p);
    EXPECT_EQ(p, nullptr);
  }
  EXPECT_EQ(AllocLargeBlock(-1), nullptr);
  EXPECT_EQ(AllocLargeBlock(INT64_MAX), nullptr);
  EXPECT_GT(GetPhysicalMemory(false), 0);
}
