// The view's selection: rectangles and their edge cases, the mask behind them,
// moving, the selection stream and stack, and copying the selected area.
#include <cstring>
#include <functional>
#include <vector>

#include "imaging/core/ie_mask.h"
#include "platform/rtl/rounding.h"
#include "platform/rtl/streams.h"
#include "view_test_support.h"

namespace {

class SelectionTest : public ViewTest {
protected:
  void SetUp() override {
    ViewTest::SetUp();
    MakeView(200, 150);
    view->SetCenter(false);
    ShowPattern(100, 80);
    view->SetSelectionBase(iesbBitmap);
  }
  void ExpectBox(int l, int t, int r, int b) {
    int left = 0, top = 0, right = 0, bottom = 0;
    view->SelectedRect(left, top, right, bottom);
    EXPECT_EQ(left, l);
    EXPECT_EQ(top, t);
    EXPECT_EQ(right, r);
    EXPECT_EQ(bottom, b);
  }
  std::vector<uint8_t> Saved() {
    TMemoryStream s;
    view->SaveSelectionToStream(s);
    std::vector<uint8_t> bytes(size_t(s.Size()));
    std::memcpy(bytes.data(), s.Memory(), bytes.size());
    return bytes;
  }
};

TEST_F(SelectionTest, RectanglesAreOrderedClampedAndRightBottomExclusive) {
  view->Select(10, 10, 10, 50);  // no width: nothing
  EXPECT_FALSE(view->Selected());
  view->Select(50, 40, 10, 10);
  EXPECT_TRUE(view->Selected());
  ExpectBox(10, 10, 49, 39);
  EXPECT_TRUE(view->SelectionMask()->IsPointSelected(49, 39));
  EXPECT_FALSE(view->SelectionMask()->IsPointSelected(50, 39));
  view->Select(-20, -5, 500, 500);  // past the picture: clamped to it
  ExpectBox(0, 0, 99, 79);
  view->Deselect();
  EXPECT_FALSE(view->Selected());
  EXPECT_TRUE(view->SelectionMask()->IsEmpty());
}

TEST_F(SelectionTest, ARatioGivesTheHeightEvenFromAFlatDrag) {
  view->SetSelectionAspectRatio(0.5);
  ASSERT_TRUE(view->SelectRect(0, 0, 100, 0, 0, false, false));
  view->EndSelect();
  ExpectBox(0, 0, 99, 49);
  // Constrained without a ratio: a square.
  view->SetSelectionAspectRatio(-1);
  ASSERT_TRUE(view->SelectRect(5, 5, 35, 5, 0, true, false));
  view->EndSelect();
  ExpectBox(5, 5, 34, 34);
  // A ratio that runs past the bottom shortens the width to match.
  view->SetSelectionAspectRatio(2);
  ASSERT_TRUE(view->SelectRect(0, 20, 50, 21, 0, false, false));
  view->EndSelect();
  int l, t, r, b;
  view->SelectedRect(l, t, r, b);
  EXPECT_EQ(b, 79);
  EXPECT_EQ(r + 1, int(Round((80 - 20 - 1 + 0 * 2) / 2.0)));
}

TEST_F(SelectionTest, SecondRectangleIsAddedAsASubPolygon) {
  view->Select(0, 0, 10, 10, 0);
  view->Select(50, 50, 60, 60, 1);
  EXPECT_EQ(view->Polygon().Count(), 9);  // two rectangles and the break between them
  EXPECT_TRUE(view->SelectionMask()->IsPointSelected(5, 5));
  EXPECT_TRUE(view->SelectionMask()->IsPointSelected(55, 55));
  EXPECT_FALSE(view->SelectionMask()->IsPointSelected(30, 30));
}

TEST_F(SelectionTest, ClientAreaCoordinatesGoThroughTheZoom) {
  view->SetSelectionBase(iesbClientArea);
  view->SetZoom(200);
  view->SetViewXY(0, 0);
  view->Select(20, 20, 60, 40);
  ExpectBox(10, 10, 29, 19);
}

TEST_F(SelectionTest, SaveDeselectRestoreGivesTheSelectionBack) {
  view->Select(10, 20, 40, 60);
  const std::vector<uint8_t> before = Saved();
  view->SaveSelection();
  view->Deselect();
  EXPECT_TRUE(view->RestoreSelection(true, 1));
  EXPECT_EQ(view->SelectionStackCount(), 0);
  EXPECT_TRUE(view->Selected());
  ExpectBox(10, 20, 39, 59);
  EXPECT_EQ(Saved(), before);
  EXPECT_FALSE(view->RestoreSelection(true, 1));  // an empty stack: nothing
}

TEST_F(SelectionTest, RestoringIntoAShrunkPictureMovesTheSelectionInside) {
  view->Select(70, 50, 100, 80);  // touches the right and bottom edges
  view->SaveSelection();
  view->GetIEBitmap()->Allocate(80, 70, ie24RGB);
  view->Update();
  EXPECT_TRUE(view->RestoreSelection(true, 1));
  EXPECT_TRUE(view->Selected());
  EXPECT_EQ(view->SelectionMask()->Width(), 80);
  ExpectBox(50, 40, 79, 69);  // the same 30 x 30 area, moved left and up
}

TEST_F(SelectionTest, StreamOfAMaskOfDepthEightRoundTrips) {
  view->Select(3, 4, 20, 30);
  TMemoryStream s;
  view->SaveSelectionToStream(s);
  view->Deselect();
  s.SetPosition(0);
  EXPECT_TRUE(view->LoadSelectionFromStream(s, 1));
  EXPECT_EQ(s.Position(), s.Size());
  ExpectBox(3, 4, 19, 29);
}

// Each case spoils a good stream; none may change the selection or read beyond it.
struct HostileCase {
  const char* what;
  std::function<void(std::vector<uint8_t>&)> spoil;
};

void Put32(std::vector<uint8_t>& b, size_t at, int32_t v) { std::memcpy(b.data() + at, &v, 4); }

TEST_F(SelectionTest, HostileStreamsChangeNothing) {
  view->Select(10, 10, 30, 30);
  TMemoryStream good;
  view->SaveSelectionToStream(good);
  std::vector<uint8_t> base(size_t(good.Size()));
  std::memcpy(base.data(), good.Memory(), base.size());
  const size_t afterPoints = 12 + 4 * 8;
  const size_t depthAt = afterPoints + 16 + 1 + 8;
  const HostileCase cases[] = {
      {"empty", [](std::vector<uint8_t>& b) { b.clear(); }},
      {"cut in the header", [](std::vector<uint8_t>& b) { b.resize(7); }},
      {"negative width", [](std::vector<uint8_t>& b) { Put32(b, 0, -1); }},
      {"huge height", [](std::vector<uint8_t>& b) { Put32(b, 4, 0x7FFFFFFF); }},
      {"huge width", [](std::vector<uint8_t>& b) { Put32(b, 0, 0x7FFFFFF0); }},
      {"negative point count", [](std::vector<uint8_t>& b) { Put32(b, 8, -4); }},
      {"point count past the end", [](std::vector<uint8_t>& b) { Put32(b, 8, 0x10000000); }},
      {"depth 4", [depthAt](std::vector<uint8_t>& b) { Put32(b, depthAt, 4); }},
      {"depth 32", [depthAt](std::vector<uint8_t>& b) { Put32(b, depthAt, 32); }},
      {"mask bits cut short", [](std::vector<uint8_t>& b) { b.resize(b.size() - 3); }},
      {"cut before the flags", [afterPoints](std::vector<uint8_t>& b) { b.resize(afterPoints + 5); }},
  };
  const std::vector<uint8_t> before = Saved();
  for (const HostileCase& c : cases) {
    std::vector<uint8_t> bytes = base;
    c.spoil(bytes);
    TMemoryStream s;
    if (!bytes.empty()) s.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    s.SetPosition(0);
    EXPECT_FALSE(view->LoadSelectionFromStream(s, 1)) << c.what;
    EXPECT_EQ(s.Position(), 0) << c.what;
    EXPECT_EQ(Saved(), before) << c.what;
    EXPECT_TRUE(view->Selected()) << c.what;
  }
}

TEST_F(SelectionTest, PointsBeyondTheStoredPlaneAreClamped) {
  view->Select(10, 10, 30, 30);
  std::vector<uint8_t> bytes = Saved();
  Put32(bytes, 12, 2000000000);  // x of the first point
  TMemoryStream s;
  s.WriteBuffer(bytes.data(), int64_t(bytes.size()));
  s.SetPosition(0);
  ASSERT_TRUE(view->LoadSelectionFromStream(s, 1));
  for (const POINT& p : view->Polygon().Points) EXPECT_LE(p.x, 100);
  Paint();  // and drawing its outline takes no time
}

TEST_F(SelectionTest, CopyWithFillTakesTheBoxOnBackground) {
  view->SetBackground(0x0000FF);
  view->SetSelectionBase(iesbBitmap);
  view->Select(5, 6, 15, 12);
  TIEBitmap out;
  view->CopySelectionToIEBitmap(out, true);
  ASSERT_EQ(out.Width(), 10);
  ASSERT_EQ(out.Height(), 6);
  EXPECT_EQ(ColorOf(out.GetPixelRGB(0, 0)), ColorOf(PatternPixel(5, 6)));
  EXPECT_EQ(ColorOf(out.GetPixelRGB(9, 5)), ColorOf(PatternPixel(14, 11)));
  TBitmap framework;
  view->CopySelectionToBitmap(framework);
  EXPECT_EQ(framework.GetWidth(), 10);
  EXPECT_EQ(framework.Canvas()->Pixels(9, 5), ColorOf(PatternPixel(14, 11)));
}

TEST_F(SelectionTest, MovingARectangleKeepsItInsideThePicture) {
  view->Select(10, 10, 30, 20);
  view->MoveSelectionAndEnd(500, 0);
  ExpectBox(80, 10, 99, 19);
  view->MoveSelectionAndEnd(-5, -3);
  ExpectBox(75, 7, 94, 16);
}

TEST_F(SelectionTest, MagicWandOutsideThePictureChangesNothing) {
  view->Select(10, 10, 30, 20);
  const std::vector<uint8_t> before = Saved();
  view->MagicWand(-1, 5, false);
  view->MagicWand(100, 5, false);
  EXPECT_EQ(Saved(), before);
}

TEST_F(SelectionTest, MagicWandSelectsTheRegionOfTheSeed) {
  TIEBitmap& b = *view->GetIEBitmap();
  b.Fill(0xFFFFFF);
  b.FillRect(20, 10, 39, 29, 0x0000FF);  // a red square 20 x 20
  view->Update();
  for (int mode : {0, 1, 2}) {
    view->SetMagicWandMode(mode);
    view->MagicWand(25, 15, false);
    EXPECT_TRUE(view->Selected()) << mode;
    ExpectBox(20, 10, 39, 29);
  }
}

TEST_F(SelectionTest, OutlineTimerIntervalFollowsSlowDrawing) {
  EXPECT_EQ(view->OutlineTimerInterval(), 210);
  view->NoteOutlineDrawTime(10);
  EXPECT_EQ(view->OutlineTimerInterval(), 210);
  view->NoteOutlineDrawTime(100);
  EXPECT_EQ(view->OutlineTimerInterval(), 500);
}

}  // namespace
