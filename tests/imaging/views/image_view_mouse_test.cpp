// Scripted mouse and keyboard input on a view: selecting, grips, moving,
// scrolling while dragging, zoom clicks and the interaction set.
#include <algorithm>
#include <vector>

#include "platform/ui/headless/headless_backend.h"
#include "view_test_support.h"

namespace {

class MouseTest : public ViewTest {
protected:
  void SetUp() override {
    ViewTest::SetUp();
    MakeView(200, 150);
    view->SetCenter(false);
    view->SetMouseInteract(TIEMouseInteract{miSelect});
    ShowPattern(120, 90);
    view->OnSelectionChange = [this](TObject*) { ++changes; };
  }
  void Drag(int x1, int y1, int x2, int y2, TShiftState shift = {}, int steps = 4) {
    headless::MouseDown(view, x1, y1, mbLeft, shift);
    headless::ProcessMessages();
    for (int i = 1; i <= steps; ++i) {
      headless::MouseMove(view, x1 + (x2 - x1) * i / steps, y1 + (y2 - y1) * i / steps, shift);
      headless::ProcessMessages();
    }
    headless::MouseUp(view, x2, y2, mbLeft, shift);
    headless::ProcessMessages();
  }
  void Box(int& l, int& t, int& r, int& b) { view->SelectedRect(l, t, r, b); }
  int changes = 0;
};

struct DragCase {
  double zoom;
  int x1, y1, x2, y2;
};

TEST_F(MouseTest, DraggedRectangleMatchesTheDragAtEachZoom) {
  const DragCase cases[] = {{50, 10, 8, 40, 30}, {100, 10, 8, 70, 50}, {300, 12, 9, 90, 60}};
  for (const DragCase& c : cases) {
    view->SetZoom(c.zoom);
    view->SetViewXY(0, 0);
    Drag(c.x1, c.y1, c.x2, c.y2);
    SCOPED_TRACE(c.zoom);
    ASSERT_TRUE(view->Selected());
    int l, t, r, b;
    Box(l, t, r, b);
    EXPECT_EQ(l, view->ScreenToBitmapX(c.x1));
    EXPECT_EQ(t, view->ScreenToBitmapY(c.y1));
    EXPECT_EQ(r, view->ScreenToBitmapX(c.x2) - 1);
    EXPECT_EQ(b, view->ScreenToBitmapY(c.y2) - 1);
    // The mask holds exactly the box.
    TIEMask* m = view->SelectionMask();
    EXPECT_EQ(m->X1(), l);
    EXPECT_EQ(m->Y2(), b);
    EXPECT_TRUE(m->IsPointSelected(r, b));
    EXPECT_FALSE(m->IsPointSelected(r + 1, b));
  }
  EXPECT_EQ(changes, 3);
}

TEST_F(MouseTest, ShiftAddsAndAClickDeselects) {
  Drag(10, 10, 30, 30);
  Drag(60, 40, 80, 60, TShiftState{ssShift});
  TIEMask* m = view->SelectionMask();
  EXPECT_TRUE(m->IsPointSelected(15, 15));
  EXPECT_TRUE(m->IsPointSelected(70, 50));
  EXPECT_FALSE(m->IsPointSelected(45, 35));
  headless::Click(view, 100, 70);
  headless::ProcessMessages();
  EXPECT_FALSE(view->Selected());
  // Unless one-click deselection is off.
  Drag(10, 10, 30, 30);
  TIESelectionOptionsSet o = view->SelectionOptions();
  o.Include(iesoDisableOneClickDeselect);
  view->SetSelectionOptions(o);
  headless::Click(view, 100, 70);
  headless::ProcessMessages();
  EXPECT_TRUE(view->Selected());
}

TEST_F(MouseTest, GripsResizeAndShowTheirCursors) {
  Drag(20, 20, 60, 50);
  headless::MouseMove(view, 60, 50);  // bottom-right corner
  headless::ProcessMessages();
  EXPECT_EQ(view->ShownCursor(), 1786);
  headless::MouseMove(view, 60, 35);  // right edge
  headless::ProcessMessages();
  EXPECT_EQ(view->ShownCursor(), 1789);
  headless::MouseMove(view, 40, 20);  // top edge
  headless::ProcessMessages();
  EXPECT_EQ(view->ShownCursor(), 1787);
  headless::MouseMove(view, 60, 20);  // top-right corner
  headless::ProcessMessages();
  EXPECT_EQ(view->ShownCursor(), 1788);
  headless::MouseMove(view, 40, 35);  // inside: movable
  headless::ProcessMessages();
  EXPECT_EQ(view->ShownCursor(), 1790);
  headless::MouseMove(view, 100, 80, TShiftState{ssShift});  // outside with Shift
  headless::ProcessMessages();
  EXPECT_EQ(view->ShownCursor(), 1791);
  Drag(60, 50, 80, 70);  // the bottom-right grip
  int l, t, r, b;
  Box(l, t, r, b);
  EXPECT_EQ(l, 20);
  EXPECT_EQ(t, 20);
  EXPECT_EQ(r, 80);
  EXPECT_EQ(b, 70);
  Drag(40, 40, 50, 45);  // inside: the selection moves
  Box(l, t, r, b);
  EXPECT_EQ(l, 30);
  EXPECT_EQ(t, 25);
}

TEST_F(MouseTest, DragPastTheEdgeScrollsAndTheSelectionFollows) {
  view->SetZoom(300);
  view->SetViewXY(0, 0);
  headless::MouseDown(view, 20, 20);
  headless::ProcessMessages();
  headless::MouseMove(view, 100, 60);
  headless::ProcessMessages();
  const int right = view->OffsetX() + view->DrawWidth() - 1;
  headless::MouseMove(view, right + 30, 60);  // 30 pixels past the right edge
  headless::ProcessMessages();
  EXPECT_GT(view->ViewX(), 0);
  const int scrolled = view->ViewX();
  headless::MouseUp(view, right + 30, 60);
  headless::ProcessMessages();
  int l, t, r, b;
  Box(l, t, r, b);
  EXPECT_EQ(l, (20) / 3);  // the start stays on its bitmap pixel
  EXPECT_GE(r, (scrolled + right) / 3 - 1);
}

TEST_F(MouseTest, EllipsePolygonAndLassoBuildMasks) {
  view->SetMouseInteract(TIEMouseInteract{miSelectCircle});
  Drag(50, 40, 70, 55);
  ASSERT_TRUE(view->Selected());
  TIEMask* m = view->SelectionMask();
  EXPECT_TRUE(m->IsPointSelected(50, 40));
  EXPECT_TRUE(m->IsPointSelected(50, 28));
  EXPECT_FALSE(m->IsPointSelected(66, 56));
  view->Deselect();
  view->SetMouseInteract(TIEMouseInteract{miSelectLasso});
  headless::MouseDown(view, 10, 10);
  headless::ProcessMessages();
  for (auto p : {std::pair{60, 10}, std::pair{60, 60}, std::pair{10, 60}}) {
    headless::MouseMove(view, p.first, p.second);
    headless::ProcessMessages();
  }
  headless::MouseUp(view, 10, 60);
  headless::ProcessMessages();
  ASSERT_TRUE(view->Selected());
  EXPECT_TRUE(view->SelectionMask()->IsPointSelected(30, 30));
  EXPECT_FALSE(view->SelectionMask()->IsPointSelected(70, 30));
  view->Deselect();
  view->SetMouseInteract(TIEMouseInteract{miSelectPolygon});
  for (auto p : {std::pair{10, 10}, std::pair{50, 10}}) {
    headless::Click(view, p.first, p.second);
    headless::ProcessMessages();
  }
  headless::DoubleClick(view, 50, 50);
  headless::ProcessMessages();
  ASSERT_TRUE(view->Selected());
  EXPECT_EQ(view->Polygon().Count(), 3);
  EXPECT_TRUE(view->SelectionMask()->IsPointSelected(45, 15));
  EXPECT_FALSE(view->SelectionMask()->IsPointSelected(15, 45));  // below the diagonal
}

TEST_F(MouseTest, MagicWandClickSelectsTheRegion) {
  TIEBitmap& bm = *view->GetIEBitmap();
  bm.Fill(0xFFFFFF);
  bm.FillRect(20, 10, 39, 29, 0x00FF00);
  view->Update();
  view->SetMouseInteract(TIEMouseInteract{miSelectMagicWand});
  view->SetMagicWandMode(1);
  headless::Click(view, 25, 15);
  headless::ProcessMessages();
  ASSERT_TRUE(view->Selected());
  int l, t, r, b;
  Box(l, t, r, b);
  EXPECT_EQ(l, 20);
  EXPECT_EQ(r, 39);
  EXPECT_EQ(changes, 1);
}

TEST_F(MouseTest, ZoomClicksStepThroughTheTable) {
  view->SetMouseInteract(TIEMouseInteract{miZoom});
  std::vector<double> ins, outs;
  for (int i = 0; i < 3; ++i) {
    headless::Click(view, 10, 10);
    headless::ProcessMessages();
    ins.push_back(view->Zoom());
  }
  EXPECT_EQ(ins, (std::vector<double>{200, 300, 400}));
  view->SetZoom(100);
  for (int i = 0; i < 8; ++i) {
    headless::Click(view, 10, 10, mbRight);
    headless::ProcessMessages();
    outs.push_back(view->Zoom());
  }
  EXPECT_EQ(outs, (std::vector<double>{75, 50, 33, 25, 10, 5, 2, 2}));
}

TEST_F(MouseTest, InteractionSetKeepsWhatTheNewItemAllows) {
  view->SetMouseInteract(TIEMouseInteract{});
  view->SetMouseInteract(TIEMouseInteract{miSelect, miScroll});
  EXPECT_EQ(view->MouseInteract(), TIEMouseInteract{miScroll});
  view->SetMouseInteract(TIEMouseInteract{});
  view->SetMouseInteract(TIEMouseInteract{miScroll});
  view->SetMouseInteract(TIEMouseInteract{miScroll, miSelect});
  EXPECT_EQ(view->MouseInteract(), TIEMouseInteract{miSelect});
  view->SetMouseInteract(TIEMouseInteract{miSelect, miZoom, miMovingScroll});
  EXPECT_EQ(view->MouseInteract(), (TIEMouseInteract{miSelect, miZoom, miMovingScroll}));
  view->SetMouseInteract(TIEMouseInteract{miSelectMagicWand, miZoom});
  EXPECT_EQ(view->MouseInteract(), TIEMouseInteract{miSelectMagicWand});
  view->SetMouseInteract(TIEMouseInteract{miSelect});
  view->SetMouseInteract(TIEMouseInteract{miResizeLayers, miSelect});
  EXPECT_EQ(view->MouseInteract(), TIEMouseInteract{miResizeLayers});
}

TEST_F(MouseTest, ScrollingByDragMovesTheView) {
  view->SetZoom(400);
  view->SetViewXY(100, 100);
  view->SetMouseInteract(TIEMouseInteract{miScroll});
  headless::MouseDown(view, 100, 80);
  headless::ProcessMessages();
  EXPECT_EQ(view->ShownCursor(), 1782);
  headless::MouseMove(view, 70, 60);
  headless::ProcessMessages();
  EXPECT_EQ(view->ViewX(), 130);
  EXPECT_EQ(view->ViewY(), 120);
  headless::MouseUp(view, 70, 60);
  headless::ProcessMessages();
  EXPECT_EQ(view->ShownCursor(), 1785);
}

TEST_F(MouseTest, RotationSnapOfZeroMeansNoSnapping) {
  view->SetRotationSnap(45);
  EXPECT_DOUBLE_EQ(view->SnapRotation(50), 45);
  EXPECT_DOUBLE_EQ(view->SnapRotation(70), 90);
  view->SetRotationSnap(0);
  EXPECT_DOUBLE_EQ(view->SnapRotation(50.5), 50.5);
}

TEST_F(MouseTest, OutlineDashesMoveWithEachTick) {
  // While the rectangle is dragged its sides are dashes of four and four.
  headless::MouseDown(view, 20, 20);
  headless::ProcessMessages();
  headless::MouseMove(view, 60, 50);
  headless::ProcessMessages();
  EXPECT_EQ(Shown(20, 20), clBlack);
  EXPECT_EQ(Shown(23, 20), clBlack);
  EXPECT_EQ(Shown(24, 20), clWhite);
  EXPECT_EQ(Shown(27, 20), clWhite);
  EXPECT_EQ(Shown(28, 20), clBlack);
  headless::MouseUp(view, 60, 50);
  headless::ProcessMessages();
  // Done, the mask's outline is shown, and each 210 ms tick moves it on.
  EXPECT_TRUE(view->OutlineTimerEnabled());
  auto edge = [&] {
    std::vector<TColor> row;
    for (int x = 22; x < 50; ++x) row.push_back(Shown(x, 20));
    return row;
  };
  const std::vector<TColor> before = edge();
  EXPECT_EQ(std::count(before.begin(), before.begin() + 8, clBlack), 4);
  Headless().Then([] {});
  Headless().AdvanceClock(210);
  headless::ProcessMessages();
  EXPECT_NE(edge(), before);
}

}  // namespace
