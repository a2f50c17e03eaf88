// The data files the generators make at build time, read through the
// program's own readers.
#include <gtest/gtest.h>

#include <string>

#include "icons/icon_library.h"

namespace {

std::string DataFile(const std::string& name) { return std::string(QV_BINARY_DIR) + "/" + name; }

TEST(StyleLibraryFile, EveryStyleHoldsShapeAndOverlayPairsAt48_32_16) {
  TIconLibrary library;
  ASSERT_TRUE(library.LoadFromFile(DataFile("data/styles.icl")));
  ASSERT_GE(library.Icons().Count(), 12);
  EXPECT_EQ(library.Icons().Strings(0), "Rounded Tile");
  EXPECT_EQ(library.Icons().Strings(10), "Glass Disc");
  for (int k = 0; k < library.Icons().Count(); ++k) {
    TAdvancedIcon* style = library.GetIcon(k);
    ASSERT_NE(style, nullptr) << k;
    EXPECT_EQ(style->Count(), 12) << library.Icons().Strings(k);
    for (int s : {48, 32, 16}) {
      const int d = style->Images().IndexOfImage(s, s, 32);
      ASSERT_GE(d, 0) << library.Icons().Strings(k) << " " << s;
      for (int j = 1; j < 4; ++j) {
        TSubIcon* im = style->Images().GetItem(d + j);
        ASSERT_NE(im, nullptr);
        EXPECT_EQ(im->GetWidth(), s);
        EXPECT_EQ(im->GetHeight(), s);
        EXPECT_EQ(im->GetBitsPerPixel(), 32);
      }
    }
  }
}

}  // namespace
