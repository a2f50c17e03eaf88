#include "base/toolbox/palette_reduction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "base/toolbox/palette_tables.h"

namespace {

// A one-row 32-bit picture of the given 0x00BBGGRR colours, all opaque.
TPixelBuffer Row32(const std::vector<int32_t>& colours, uint8_t alpha = 255) {
  TPixelBuffer b(static_cast<int>(colours.size()), 1, 4);
  for (size_t i = 0; i < colours.size(); ++i) {
    b.Bytes[i * 4] = (colours[i] >> 16) & 0xFF;
    b.Bytes[i * 4 + 1] = (colours[i] >> 8) & 0xFF;
    b.Bytes[i * 4 + 2] = colours[i] & 0xFF;
    b.Bytes[i * 4 + 3] = alpha;
  }
  return b;
}

TEST(ChooseReducedPalette, FewColoursStayExactWithBlackAndWhiteFirst) {
  std::vector<int32_t> colours;
  for (int i = 1; i <= 254; ++i) colours.push_back(i * 0x010203 + 7);
  TPixelBuffer src = Row32(colours);
  TPaletteReductionOptions o{4, 256, 80, true, false};
  const auto p = ChooseReducedPalette(src.Rows(), {}, o);
  ASSERT_EQ(p.size(), 256u);
  EXPECT_EQ(p[0], kBlack);
  EXPECT_EQ(p[1], kWhite);
  std::set<int32_t> have(p.begin(), p.end());
  for (int32_t c : colours) EXPECT_TRUE(have.count(c));
  TPixelBuffer idx(254, 1, 1);
  MapToPalette(src.Rows(), idx.Rows(), p, o);
  for (int i = 0; i < 254; ++i) EXPECT_EQ(p[idx.Bytes[i]], colours[i]);
}

TEST(ChooseReducedPalette, SevenBitReductionToppedUpInScanOrder) {
  // 300 colours in 150 pairs that differ only in the lowest bit of red.
  std::vector<int32_t> colours;
  for (int k = 0; k < 150; ++k) {
    const int32_t base = ((k * 2) & 0xFE) | (((k * 7) & 0xFE) << 8) | ((k & 0x80 ? 0x40 : 0x10) << 16);
    colours.push_back(base);
    colours.push_back(base | 1);
  }
  ASSERT_EQ(std::set<int32_t>(colours.begin(), colours.end()).size(), 300u);
  TPixelBuffer src = Row32(colours);
  const auto p = ChooseReducedPalette(src.Rows(), {}, TPaletteReductionOptions{4, 256, 80, false, false});
  ASSERT_EQ(p.size(), 256u);
  // The bottom-left pixel comes first, then the 149 other reductions, then the
  // exact colours that the reduced list lacks, in scan order.
  std::vector<int32_t> want = {colours[0]};
  for (int32_t c : colours)
    if (std::find(want.begin(), want.end(), c & 0xFEFEFE) == want.end()) want.push_back(c & 0xFEFEFE);
  for (int32_t c : colours)
    if (want.size() < 256 && std::find(want.begin(), want.end(), c) == want.end()) want.push_back(c);
  EXPECT_EQ(p, want);
}

TEST(ChooseReducedPalette, ManyColoursGoThroughTheHistogram) {
  std::vector<int32_t> colours;
  // Channels on multiples of 8: the 7-, 6- and 5-bit lists fill up with the exact one.
  for (int i = 1; i <= 4096; ++i) colours.push_back(((i * 2654435761u) & 0xF8F8F8) | 0x080000);
  TPixelBuffer src = Row32(colours);
  const auto p = ChooseReducedPalette(src.Rows(), {}, TPaletteReductionOptions{4, 16, 80, false, false});
  ASSERT_EQ(p.size(), 16u);
  EXPECT_EQ(p[0], colours[0]);  // the bottom-left pixel is kept first
  // Cells of the lattice give multiples of 8 (or 255) per channel.
  for (size_t i = 1; i < p.size(); ++i)
    for (int s : {0, 8, 16}) {
      const int v = (p[i] >> s) & 0xFF;
      EXPECT_TRUE(v % 8 == 0 || v == 255) << std::hex << p[i];
    }
}

TEST(MapToPalette, TransparentPixelsTakeBlack) {
  TPixelBuffer src = Row32({0x123456, 0xFFFFFF}, 79);
  const std::vector<int32_t> p = {0x123456, 0xFFFFFF, kBlack};
  TPixelBuffer idx(2, 1, 1, 9);
  MapToPalette(src.Rows(), idx.Rows(), p, TPaletteReductionOptions{4, 256, 80});
  EXPECT_EQ(idx.Bytes, (std::vector<uint8_t>{2, 2}));
  MapToPalette(src.Rows(), idx.Rows(), {0x123456, 0xFFFFFF}, TPaletteReductionOptions{4, 256, 80});
  EXPECT_EQ(idx.Bytes, (std::vector<uint8_t>{0, 0}));
  MapToPalette(src.Rows(), idx.Rows(), p, TPaletteReductionOptions{4, 256, 79});
  EXPECT_EQ(idx.Bytes, (std::vector<uint8_t>{0, 1}));
}


}  // namespace
