#include "base/toolbox/geometry_effects.h"

#include <gtest/gtest.h>

#include "base/toolbox/bitmap_utils.h"
#include "python_oracle.h"

namespace {

std::unique_ptr<TBitmap> Noise(TPixelFormat format, int w, int h, uint32_t seed) {
  auto b = NewBitmap32(w, h);
  uint32_t* p = Block32(b.get());
  for (int i = 0; i < w * h; ++i) p[i] = (seed = seed * 1664525 + 1013904223) | 0xFF000000u;
  if (format != pf32bit) b->SetPixelFormat(format);
  return b;
}

std::vector<uint8_t> Rgb(TBitmap* b) {
  std::vector<uint8_t> out;
  TRows24 rows(b);
  for (int y = 0; y < b->Height(); ++y)
    for (int x = 0; x < b->Width(); ++x) {
      const uint8_t* p = rows.Rows().Row(y) + x * 3;
      out.insert(out.end(), {p[2], p[1], p[0]});
    }
  return out;
}

TEST(Geometry, RoundTripsInEveryFormat) {
  for (auto pf : {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit})
    for (int w : {10, 16}) {
      auto b = Noise(pf, w, 7, 3);
      auto copy = CloneBitmap(b.get());
      FlipVertical(b.get());
      FlipVertical(b.get());
      FlipHorizontal(b.get());
      FlipHorizontal(b.get());
      ShiftHorizontal(b.get(), 3);
      ShiftHorizontal(b.get(), -3);
      ShiftVertical(b.get(), 7 * 3);
      EXPECT_TRUE(BitmapsEqual(b.get(), copy.get())) << "format " << int(pf) << " width " << w;
    }
}

TEST(Geometry, FourBitOddShiftMatchesTwentyFourBit) {
  auto b4 = Noise(pf4bit, 10, 3, 9);
  auto b24 = CopyTo24Bit(b4.get());
  ShiftHorizontal(b4.get(), 3);
  ShiftHorizontal(b24.get(), 3);
  EXPECT_TRUE(BitmapsEqual(b4.get(), b24.get()));
}

TEST(Geometry, FlipsAndShiftsMatchPillowOracle) {
  if (!qvtest::HavePython("PIL,numpy")) GTEST_SKIP() << "python3 with Pillow and numpy is not available";
  const int w = 9, h = 5;
  auto b = Noise(pf24bit, w, h, 5);
  std::vector<uint8_t> in = {w, h};
  const auto rgb = Rgb(b.get());
  in.insert(in.end(), rgb.begin(), rgb.end());
  const auto want = qvtest::RunPython(
      "import sys, numpy as np\nfrom PIL import Image\n"
      "d=open(sys.argv[1],'rb').read(); w,h=d[0],d[1]\n"
      "im=Image.frombytes('RGB',(w,h),d[2:])\n"
      "a=im.transpose(Image.FLIP_LEFT_RIGHT).tobytes()\n"
      "b=im.transpose(Image.FLIP_TOP_BOTTOM).tobytes()\n"
      "arr=np.asarray(im)\n"
      "c=np.roll(arr,3,axis=1).tobytes(); e=np.roll(arr,-2,axis=0).tobytes()\n"
      "open(sys.argv[2],'wb').write(a+b+c+e)\n",
      in);
  const size_t n = static_cast<size_t>(w * h * 3);
  ASSERT_EQ(want.size(), 4 * n);
  auto f = CloneBitmap(b.get());
  FlipHorizontal(f.get());
  EXPECT_EQ(Rgb(f.get()), std::vector<uint8_t>(want.begin(), want.begin() + n));
  auto v = CloneBitmap(b.get());
  FlipVertical(v.get());
  EXPECT_EQ(Rgb(v.get()), std::vector<uint8_t>(want.begin() + n, want.begin() + 2 * n));
  auto s = CloneBitmap(b.get());
  ShiftHorizontal(s.get(), 3);
  EXPECT_EQ(Rgb(s.get()), std::vector<uint8_t>(want.begin() + 2 * n, want.begin() + 3 * n));
  auto t = CloneBitmap(b.get());
  ShiftVertical(t.get(), -2);
  EXPECT_EQ(Rgb(t.get()), std::vector<uint8_t>(want.begin() + 3 * n, want.end()));
}

TEST(GrayscaleRange, BlackWhiteKeyAndWideRanges) {
  auto b = NewBitmap(pf24bit, 3, 1, clBlack);
  b->Canvas()->SetPixels(1, 0, clWhite);
  b->Canvas()->SetPixels(2, 0, 0x0000FF);
  GrayscaleRangeBitmap(b.get(), 0x0000FF);
  EXPECT_EQ(b->Canvas()->Pixels(0, 0), 0x808080);
  EXPECT_EQ(b->Canvas()->Pixels(1, 0), 191 * 0x010101);
  EXPECT_EQ(b->Canvas()->Pixels(2, 0), 0x0000FF);
  // 0..1000: the divisor 768 div 1000 would be 0; white must not wrap to a dark grey.
  auto wide = NewBitmap(pf24bit, 1, 1, clWhite);
  GrayscaleRangeRect(wide.get(), TRect{0, 0, 0, 0}, 200, 1000, clNone);
  EXPECT_EQ(wide->Canvas()->Pixels(0, 0), clWhite);
  auto g = NewBitmap(pf24bit, 2, 1, 0x3060C0);
  GrayscaleRect(g.get(), TRect{0, 0, 0, 0});
  EXPECT_EQ(g->Canvas()->Pixels(1, 0), 0x707070);
}

TEST(InvertColorChannels, TransparentPixelsStay) {
  auto b = NewBitmap32(2, 1);
  Block32(b.get())[0] = 0x00123456;
  Block32(b.get())[1] = 0xFF123456;
  InvertColorChannels(b.get(), nullptr, true, false, true);
  EXPECT_EQ(Block32(b.get())[0], 0x00123456u);
  EXPECT_EQ(Block32(b.get())[1], 0xFFED34A9u);
}

}  // namespace
