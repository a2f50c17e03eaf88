#include "base/ui_helpers.h"

#include <gtest/gtest.h>

namespace {

TEST(FilterPatterns, ExtensionOfTheNthEntry) {
  const std::string filter = "Icons|*.ico|Cursors|*.cur";
  EXPECT_EQ(GetFilterExt(filter, 1), "ico");
  EXPECT_EQ(GetFilterExt(filter, 2), "cur");
  EXPECT_EQ(GetFilterExt(filter, 0), "");
  EXPECT_EQ(GetFilterExt(filter, -1), "");
  EXPECT_EQ(GetFilterExt(filter, 3), "") << "beyond the filter's entries";
  EXPECT_EQ(GetFilterExt("Pictures|*.png;*.bmp", 1), "png;*.bmp");
  EXPECT_EQ(GetFilterExt("All files|*", 1), "");
  EXPECT_EQ(GetFilterExt("Broken", 1), "");
}

TEST(FilterPatterns, IndexOfAnExtension) {
  const std::string filter = "Icons|*.ico|Cursors|*.cur";
  EXPECT_EQ(FindFilterIndex(filter, "CUR"), 2);
  EXPECT_EQ(FindFilterIndex(filter, "ico"), 1);
  EXPECT_EQ(FindFilterIndex(filter, "png"), 0);
  EXPECT_EQ(FindFilterIndex("Both|*.ico;*.cur|Cursors|*.cur", "cur"), 2) << "a pattern list matches only as a whole";
  EXPECT_EQ(FindFilterIndex("", "ico"), 0);
}

TEST(FormPlacement, KeptThirtyPixelsInsideTheScreen) {
  const TSize screen{1024, 768};
  struct {
    TPoint mouse;
    bool left;
    TPoint expected;
  } cases[] = {
      {{0, 0}, false, {30, 30}},
      {{500, 400}, false, {450, 350}},
      {{1024, 768}, false, {894, 638}},
      {{500, 400}, true, {400, 350}},
      {{50, 10}, true, {30, 30}},
      {{1020, 760}, true, {894, 638}},
  };
  for (const auto& c : cases) {
    const TPoint p = c.left ? FormPositionLeftOfCursor(c.mouse, 100, 100, screen)
                            : FormPositionAtCursor(c.mouse, 100, 100, screen);
    EXPECT_EQ(p.x, c.expected.x) << c.mouse.x << "," << c.mouse.y << (c.left ? " left" : "");
    EXPECT_EQ(p.y, c.expected.y) << c.mouse.x << "," << c.mouse.y << (c.left ? " left" : "");
  }
}

TEST(FitPicture, LargePicturesShrinkSmallOnesCentre) {
  TRect r;
  bool stretch = false;
  FitPictureInArea(Rect(0, 0, 120, 120), 400, 200, 10, r, stretch);
  EXPECT_TRUE(stretch);
  EXPECT_EQ(r.left, 10);
  EXPECT_EQ(r.right, 110);
  EXPECT_EQ(r.top, 35);
  EXPECT_EQ(r.bottom, 85);
  FitPictureInArea(Rect(0, 0, 120, 120), 32, 16, 10, r, stretch);
  EXPECT_FALSE(stretch);
  EXPECT_EQ(r.left, 44);
  EXPECT_EQ(r.top, 52);
  EXPECT_EQ(r.right, 76);
  EXPECT_EQ(r.bottom, 68);
}

}  // namespace
