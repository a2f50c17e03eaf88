#include "imaging/core/ie_dib_exchange.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "imaging/core/ie_bitmap.h"
#include "platform/win/global_memory.h"
#include "test_support.h"

namespace {

uint32_t Le32(const std::vector<uint8_t>& v, size_t at) {
  return uint32_t(v[at]) | uint32_t(v[at + 1]) << 8 | uint32_t(v[at + 2]) << 16 | uint32_t(v[at + 3]) << 24;
}

TEST(DIBExchange, HeaderPaletteAndDepthByFormat) {
  const struct {
    TIEBitmapFormat format;
    int bits;
    size_t colors;
  } cases[] = {{ie1g, 1, 2}, {ie8g, 8, 256}, {ie8p, 8, 256}, {ie24RGB, 24, 0}, {ie32RGB, 24, 0}, {ie16g, 24, 0},
               {ieCMYK, 24, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.format));
    TIEBitmap b(5, 3, c.format);
    b.Fill(0);
    const std::vector<uint8_t> dib = CopyBitmapToPackedDIB(b, 0, 0, 0, 0, 200, 96);
    ASSERT_GE(dib.size(), 40u);
    EXPECT_EQ(Le32(dib, 0), 40u);
    EXPECT_EQ(Le32(dib, 4), 5u);
    EXPECT_EQ(Le32(dib, 8), 3u);
    EXPECT_EQ(dib[12] | dib[13] << 8, 1);
    EXPECT_EQ(dib[14] | dib[15] << 8, c.bits);
    EXPECT_EQ(Le32(dib, 16), 0u);
    EXPECT_EQ(Le32(dib, 24), 7874u);  // 200 DPI, cut toward zero
    EXPECT_EQ(Le32(dib, 28), 3779u);
    const size_t row = ((5 * size_t(c.bits) + 31) / 32) * 4;
    EXPECT_EQ(dib.size(), 40 + 4 * c.colors + 3 * row);
  }
}

TEST(DIBExchange, RectangleRoundTripsThroughTheReader) {
  TIEBitmap b(6, 4, ie24RGB);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) b.SetPixelRGB(x, y, MakeRGB(uint8_t(10 * x), uint8_t(20 * y), 7));
  const std::vector<uint8_t> dib = CopyBitmapToPackedDIB(b, 1, 2, 4, 0, 72, 72);
  TIEBitmap back;
  ASSERT_EQ(DIBToIEBitmap(dib.data(), dib.size(), back), 24);
  ASSERT_EQ(back.Width(), 3);
  ASSERT_EQ(back.Height(), 2);
  EXPECT_EQ(back.PixelFormat(), ie24RGB);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(back.GetPixelRGB(x, y), b.GetPixelRGB(x + 1, y + 2));
  EXPECT_TRUE(CopyBitmapToPackedDIB(b, 4, 0, 2, 0, 72, 72).empty());
}

TEST(DIBExchange, OneBitKeepsWhiteAsOneWhateverThePaletteOrder) {
  TIEBitmap b(9, 2, ie1g);
  b.Fill(0);
  b.ScanLine(0)[0] = 0x80;
  std::vector<uint8_t> dib = CopyBitmapToPackedDIB(b, 0, 0, 0, 0, 72, 72);
  TIEBitmap back;
  ASSERT_EQ(DIBToIEBitmap(dib.data(), dib.size(), back), 1);
  EXPECT_EQ(back.PixelFormat(), ie1g);
  EXPECT_TRUE(back.ScanLine(0)[0] & 0x80);
  EXPECT_FALSE(back.ScanLine(1)[0] & 0x80);
  // Swap the two palette entries and every bit: the same picture.
  std::swap_ranges(dib.begin() + 40, dib.begin() + 44, dib.begin() + 44);
  for (size_t i = 48; i < dib.size(); ++i) dib[i] = uint8_t(~dib[i]);
  TIEBitmap swapped;
  ASSERT_EQ(DIBToIEBitmap(dib.data(), dib.size(), swapped), 1);
  EXPECT_TRUE(swapped.ScanLine(0)[0] & 0x80);
  EXPECT_FALSE(swapped.ScanLine(0)[0] & 0x40);
}

TEST(DIBExchange, GlobalBlocks) {
  TIEBitmap b(2, 2, ie8g);
  b.Fill(0x80);
  HGLOBAL block = CopyBitmaptoDIBEx(b, 0, 0, 0, 0, 200, 200);
  ASSERT_NE(block, nullptr);
  TIEBitmap back;
  EXPECT_EQ(DIBToIEBitmap(block, back), 8);
  EXPECT_EQ(back.GetPixelRGB(1, 1), MakeRGB(0x80, 0x80, 0x80));
  GlobalFree(block);
  EXPECT_EQ(DIBToIEBitmap(HGLOBAL(nullptr), back), 0);
}

TEST(DIBExchange, MalformedBlocksLeaveTheBitmapAlone) {
  TIEBitmap good(2, 2, ie24RGB);
  std::vector<uint8_t> dib = CopyBitmapToPackedDIB(good, 0, 0, 0, 0, 72, 72);
  std::vector<uint8_t> huge = dib;
  huge[4] = 0xFF, huge[5] = 0xFF, huge[6] = 0xFF, huge[7] = 0x7F;  // width far beyond the data
  std::vector<uint8_t> cut = dib;
  cut.resize(dib.size() - 5);
  std::vector<uint8_t> badDepth = dib;
  badDepth[14] = 7;
  const std::vector<std::vector<uint8_t>> cases = {huge, cut, badDepth, std::vector<uint8_t>(dib.begin(), dib.begin() + 20)};
  for (size_t i = 0; i < cases.size(); ++i) {
    TIEBitmap target(1, 1, ie8g);
    EXPECT_EQ(DIBToIEBitmap(cases[i].data(), cases[i].size(), target), 0) << i;
    EXPECT_EQ(target.Width(), 1) << i;
    EXPECT_EQ(target.PixelFormat(), ie8g) << i;
  }
  TIEBitmap target;
  EXPECT_EQ(DIBToIEBitmap(nullptr, 100, target), 0);
}

// Pillow reads the packed DIB behind a file header as the same picture.
TEST(DIBExchangeOracle, PillowReadsThePackedDIB) {
  if (!std::filesystem::exists("/usr/bin/python3") ||
      qvtest::RunCommand("/usr/bin/python3 -c 'import PIL.Image' 2>/dev/null") != 0)
    GTEST_SKIP() << "Pillow is not installed";
  TIEBitmap b(5, 3, ie8p);
  for (int i = 0; i < 256; ++i) b.SetPaletteColor(i, MakeRGB(uint8_t(i), uint8_t(255 - i), uint8_t(i / 2)));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) b.SetPixel8(x, y, uint8_t(40 * y + 7 * x));
  const std::vector<uint8_t> dib = CopyBitmapToPackedDIB(b, 0, 0, 0, 0, 96, 96);
  std::vector<uint8_t> file = {'B', 'M'};
  auto put32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) file.push_back(uint8_t(v >> (8 * i)));
  };
  put32(uint32_t(14 + dib.size()));
  put32(0);
  put32(14 + 40 + 1024);
  file.insert(file.end(), dib.begin(), dib.end());
  qvtest::TempDir dir;
  qvtest::WriteFileBytes(dir.File("p.bmp"), file);
  std::string out;
  ASSERT_EQ(qvtest::RunCommand("/usr/bin/python3 -c \"import PIL.Image as I; im=I.open('" + dir.File("p.bmp") +
                                   "').convert('RGB'); print(' '.join('%d,%d,%d' % im.getpixel((x,y)) for y in "
                                   "range(3) for x in range(5)))\"",
                               &out),
            0);
  std::string expect;
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) {
      const int i = 40 * y + 7 * x;
      expect += (expect.empty() ? "" : " ") + std::to_string(i) + "," + std::to_string(255 - i) + "," + std::to_string(i / 2);
    }
  EXPECT_EQ(out.substr(0, out.find_last_not_of("\n") + 1), expect);
}

}  // namespace
