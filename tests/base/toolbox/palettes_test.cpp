#include "base/toolbox/palettes.h"

#include <gtest/gtest.h>

namespace {

std::vector<int32_t> Items(const TListLongint& l) { return {l.Items(), l.Items() + l.Count()}; }

TEST(StandardPalettes, EntriesSevenAndEightChangePlaces) {
  EXPECT_EQ(TableColour(StandardPalette256[7]), 0xC0C0C0);
  EXPECT_EQ(TableColour(StandardPalette256[8]), 0x808080);
  EXPECT_EQ(TableColour(StandardPalette16[7]), 0x808080);
  EXPECT_EQ(TableColour(StandardPalette16[8]), 0xC0C0C0);
  // 0x00BBGGRR: FFFBF0 (red FF, green FB, blue F0) at 36, FFB4CD last.
  EXPECT_EQ(TableColour(StandardPalette256[36]), 0xF0FBFF);
  EXPECT_EQ(TableColour(StandardPalette256[255]), 0xCDB4FF);
  EXPECT_EQ(TableColour(StandardPalette256[16]), 0x090909);
}

TEST(PaletteLists, LoadAddGrayAndPad) {
  TListLongint l;
  LoadPaletteTable(StandardPalette16, 15, l);
  EXPECT_EQ(l.Count(), 16);
  AddPaletteTable(StandardPalette2, 1, l, false);
  EXPECT_EQ(l.Count(), 16);
  AddPaletteTable(StandardPalette2, 1, l, true);
  EXPECT_EQ(l.Count(), 18);
  MakeGrayPaletteList(l);
  EXPECT_EQ(l.Count(), 256);
  EXPECT_EQ(l[200], 0xC8C8C8);
  // Two colours padded to 16: black counts as present (the new slots are 0),
  // so 14 standard entries from 800000 on follow.
  TListLongint p;
  p.Add(0x123456);
  p.Add(0xFFFFFF);
  PadPaletteWithStandard(p, 16);
  ASSERT_EQ(p.Count(), 16);
  EXPECT_EQ(p[2], 0x000080);
  EXPECT_EQ(Items(p).back(), TableColour(StandardPalette256[14]));
}

TEST(EnsureBlackAndWhite, ReplacesNearestAndCopesWithShortLists) {
  TListLongint l;
  for (int32_t c : {0x101010, 0x00FF00, 0xEEEEEE, 0x0000FF}) l.Add(c);
  EXPECT_TRUE(EnsureBlackAndWhite(l));
  EXPECT_EQ(Items(l), (std::vector<int32_t>{kBlack, 0x00FF00, kWhite, 0x0000FF}));
  EXPECT_FALSE(EnsureBlackAndWhite(l));
  TListLongint empty, one;
  EXPECT_TRUE(EnsureBlackAndWhite(empty));
  EXPECT_EQ(Items(empty), (std::vector<int32_t>{kBlack, kWhite}));
  one.Add(0x808080);
  EXPECT_TRUE(EnsureBlackAndWhite(one));
  EXPECT_NE(one.IndexOf(kBlack), -1);
  EXPECT_NE(one.IndexOf(kWhite), -1);
}

TEST(NearestPaletteIndex, FirstOnTiesAndEmpty) {
  TListLongint l;
  EXPECT_EQ(NearestPaletteIndex(l, 0x123456), -1);
  for (int32_t c : {0x000010, 0x000030, 0x000010}) l.Add(c);
  EXPECT_EQ(NearestPaletteIndex(l, 0x000020), 0);
  EXPECT_EQ(NearestPaletteIndex(l, 0x000031), 1);
}

TEST(SwapRedBlueArray, BothDirections) {
  uint32_t v[2] = {0xFF123456, 0x00ABCDEF};
  SwapRedBlueArray(v, 2);
  EXPECT_EQ(v[0], 0x00563412u);
  EXPECT_EQ(v[1], 0x00EFCDABu);
}

}  // namespace
