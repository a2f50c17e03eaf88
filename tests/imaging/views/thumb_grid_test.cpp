// The thumbnail grid on a headless form: layout, hit tests, scrolling,
// selection by mouse and keys, playback, entries, storing and painting.
#include "imaging/views/thumb_grid.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_proc.h"
#include "imaging/io/io_params.h"
#include "imaging/views/multi_image_io.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/ui/picture_file.h"
#include "platform/ui/ui_test_support.h"
#include "platform/ui/windows.h"
#include "view_test_support.h"

namespace {

class GridTest : public UiTest {
protected:
  TForm* form = nullptr;
  TImageLibMView* grid = nullptr;

  void MakeGrid(int width, int height, int entries, bool loadInBackground = false) {
    form = MakeForm(width + 20, height + 20);
    grid = new TImageLibMView(form);
    grid->SetParent(form);
    grid->SetBorderStyle(bsNone);
    grid->SetBounds(0, 0, width, height);
    if (!loadInBackground) grid->SetThreadPoolSize(0);
    form->Show();
    headless::ProcessMessages();
    for (int i = 0; i < entries; ++i) grid->AppendEntry();
  }
  void Paint() {
    grid->Invalidate();
    headless::ProcessMessages();
  }
  TColor Shown(int x, int y) { return form->Backing()->Canvas()->Pixels(grid->Left() + x, grid->Top() + y); }
  // A solid picture of one colour (0x00BBGGRR).
  static void Solid(TIEBitmap& b, int w, int h, TColor c) {
    b.Allocate(w, h, ie24RGB);
    b.Fill(double(c));
  }
};

TEST_F(GridTest, ThreeHundredThirtyPixelsHoldThreeColumnsOfHundredPixelCells) {
  MakeGrid(330, 200, 10);
  grid->SetScrollBars(ssNone);
  grid->SetGridWidth(-1);
  EXPECT_EQ(grid->ColumnCount(), 3);
  EXPECT_EQ(grid->RowCount(), 4);
  EXPECT_EQ(grid->ImageX(4), 108);
  EXPECT_EQ(grid->ImageY(4), 108);
  EXPECT_EQ(grid->ImageCol(4), 1);
  EXPECT_EQ(grid->ImageRow(4), 1);
  // Content: the last row's bottom plus a border.
  EXPECT_EQ(grid->ContentHeight(), 3 * 104 + 4 + 100 + 4);
  // Hit tests: inside the cells, on a border, below the last entry.
  EXPECT_EQ(grid->ImageAtPos(110, 110), 4);
  EXPECT_EQ(grid->ImageAtPos(2, 2), -1);         // the border before the first cell
  EXPECT_EQ(grid->ImageAtPos(2, 2, false), 0);   // not exact: the slot it lies in
  grid->SetScrollY(300);
  EXPECT_EQ(grid->ImageAtPos(120, 150, false), -1);  // row 3 holds only entry 9, column 1 is empty
  grid->MultiSelectionOptions = TIEMultiSelectionOptions{iemoRegion};
  EXPECT_EQ(grid->ImageAtPos(120, 150, false), 9);   // with regions: the last entry
  EXPECT_EQ(grid->ImageAtPos(120, 150, true), -1);   // but not inside its cell
}

TEST_F(GridTest, GridWidthZeroIsOneRowAndUpDownMoveByOne) {
  MakeGrid(300, 150, 6);
  grid->SetGridWidth(0);
  EXPECT_EQ(grid->ColumnCount(), 6);
  EXPECT_EQ(grid->RowCount(), 1);
  EXPECT_EQ(grid->ImageY(5), 4);
  grid->SelectIndex(2);
  grid->Navigate(iedDown);
  EXPECT_EQ(grid->SelectedImage(), 3);
  grid->Navigate(iedUp);
  grid->Navigate(iedUp);
  EXPECT_EQ(grid->SelectedImage(), 1);
  grid->SetGridWidth(2);
  EXPECT_EQ(grid->RowCount(), 3);
  EXPECT_EQ(grid->ImageX(3), 108);
  grid->Navigate(iedDown);
  EXPECT_EQ(grid->SelectedImage(), 3);
  grid->Navigate(iedDown);
  EXPECT_EQ(grid->SelectedImage(), 5);
  grid->Navigate(iedDown);  // no entry below: stays
  EXPECT_EQ(grid->SelectedImage(), 5);
  grid->Navigate(iedHome);
  EXPECT_EQ(grid->SelectedImage(), 0);
  grid->Navigate(iedEnd);
  EXPECT_EQ(grid->SelectedImage(), 5);
}

TEST_F(GridTest, ScrollBarsFollowTheContentAndTheirMessagesScroll) {
  MakeGrid(230, 230, 20);
  grid->SetGridWidth(-1);
  grid->Relayout();
  const HWND h = grid->Handle();
  EXPECT_TRUE(ScrollBarVisible(h, SB_VERT));
  EXPECT_FALSE(ScrollBarVisible(h, SB_HORZ));
  const int step = 104;
  SendMessage(h, WM_VSCROLL, SB_LINEDOWN, 0);
  EXPECT_EQ(grid->ScrollY(), step);
  SendMessage(h, WM_VSCROLL, SB_PAGEDOWN, 0);
  EXPECT_EQ(grid->ScrollY(), step + grid->ClientHeight());
  SendMessage(h, WM_VSCROLL, SB_BOTTOM, 0);
  const int bottom = grid->ScrollY();
  EXPECT_EQ(bottom, grid->ContentHeight() - grid->ClientHeight());
  SendMessage(h, WM_VSCROLL, SB_LINEDOWN, 0);
  EXPECT_EQ(grid->ScrollY(), bottom);  // clamped
  SendMessage(h, WM_VSCROLL, SB_TOP, 0);
  EXPECT_EQ(grid->ScrollY(), 0);
  grid->VScrollBarParams().LineStep = 7;
  SendMessage(h, WM_VSCROLL, SB_LINEDOWN, 0);
  EXPECT_EQ(grid->ScrollY(), 7);
  headless::Wheel(grid, -120);
  headless::ProcessMessages();
  EXPECT_EQ(grid->ScrollY(), 7 + step);
  // The content shrinks: the bar goes and the position comes back into range.
  grid->ClearEntries();
  EXPECT_EQ(grid->ScrollY(), 0);
  EXPECT_FALSE(ScrollBarVisible(h, SB_VERT));
}

TEST_F(GridTest, ClicksSelectWithShiftAndCtrlAndEventsFireOnlyForTheUser) {
  MakeGrid(330, 330, 9);
  grid->SetGridWidth(3);
  grid->EnableMultiSelect = true;
  std::vector<int> selected;
  grid->OnImageSelect = [&](TObject*, int i) { selected.push_back(i); };
  grid->SelectIndex(0);  // by code: no event
  EXPECT_TRUE(selected.empty());
  auto centre = [&](int i, int& x, int& y) {
    x = grid->ImageX(i) + 50 - grid->ScrollX();
    y = grid->ImageY(i) + 50 - grid->ScrollY();
  };
  int x, y;
  centre(1, x, y);
  headless::Click(grid, x, y);
  headless::ProcessMessages();
  EXPECT_EQ(grid->SelectedImage(), 1);
  EXPECT_EQ(grid->MultiSelectedCount(), 1);
  EXPECT_EQ(selected, std::vector<int>{1});
  centre(4, x, y);
  headless::Click(grid, x, y, mbLeft, TShiftState{ssShift});
  headless::ProcessMessages();
  // 1 to 4: every entry between them too.
  EXPECT_TRUE(grid->IsSelected(1) && grid->IsSelected(2) && grid->IsSelected(3) && grid->IsSelected(4));
  EXPECT_FALSE(grid->IsSelected(5));
  centre(2, x, y);
  headless::Click(grid, x, y, mbLeft, TShiftState{ssCtrl});
  headless::ProcessMessages();
  EXPECT_FALSE(grid->IsSelected(2));  // Ctrl on a selected entry deselects it
  EXPECT_TRUE(grid->IsSelected(3));
  centre(8, x, y);
  headless::Click(grid, x, y);
  headless::ProcessMessages();
  EXPECT_EQ(grid->MultiSelectedCount(), 1);
  EXPECT_EQ(grid->SelectedImage(), 8);
}

TEST_F(GridTest, RegionRangeAndRubberBandSelectRectangles) {
  MakeGrid(330, 330, 9);
  grid->SetGridWidth(3);
  grid->EnableMultiSelect = true;
  grid->MultiSelectionOptions = TIEMultiSelectionOptions{iemoRegion};
  grid->SelectIndex(0);
  headless::Click(grid, grid->ImageX(4) + 50, grid->ImageY(4) + 50, mbLeft, TShiftState{ssShift});
  headless::ProcessMessages();
  // Rows 0..1 and columns 0..1: 0, 1, 3, 4.
  std::vector<int> got;
  for (int i = 0; i < 9; ++i)
    if (grid->IsSelected(i)) got.push_back(i);
  EXPECT_EQ(got, (std::vector<int>{0, 1, 3, 4}));
  // A drag from empty border space across entries 4, 5, 7 and 8.
  grid->Deselect();
  headless::MouseDown(grid, 106, 106);
  headless::MouseMove(grid, 250, 250);
  headless::MouseUp(grid, 250, 250);
  headless::ProcessMessages();
  got.clear();
  for (int i = 0; i < 9; ++i)
    if (grid->IsSelected(i)) got.push_back(i);
  EXPECT_EQ(got, (std::vector<int>{4, 5, 7, 8}));
}

TEST_F(GridTest, DraggingNearTheBottomEdgeScrollsUntilTheEndWhileTheButtonIsHeld) {
  MakeGrid(330, 230, 30);
  grid->SetGridWidth(3);
  grid->EnableMultiSelect = true;
  headless::MouseDown(grid, 50, 50);
  headless::MouseMove(grid, 150, 225);  // within 20 pixels of the bottom edge
  headless::ProcessMessages();
  // Each step posts the grid message 8029, which moves again: on to the end.
  EXPECT_EQ(grid->ScrollY(), grid->ContentHeight() - grid->ClientHeight());
  const int under = grid->ImageAtPos(150, 225, false);
  EXPECT_TRUE(grid->IsSelected(0));
  EXPECT_TRUE(grid->IsSelected(under));
  EXPECT_TRUE(grid->IsSelected(15));
  headless::MouseUp(grid, 150, 225);
  headless::ProcessMessages();
  // With mmiScroll instead, a drag scrolls by the distance moved.
  grid->SetScrollY(0);
  grid->SetMouseInteract(TIEMMouseInteract{mmiScroll});
  headless::MouseDown(grid, 100, 200);
  headless::MouseMove(grid, 100, 120);
  headless::MouseUp(grid, 100, 120);
  headless::ProcessMessages();
  EXPECT_EQ(grid->ScrollY(), 80);
}

TEST_F(GridTest, KeysNavigateAndShiftExtendsFromTheAnchor) {
  MakeGrid(330, 230, 12);
  grid->SetGridWidth(3);
  grid->EnableMultiSelect = true;
  grid->SetFocus();
  grid->SelectIndex(4);
  headless::PressKey(VK_RIGHT);
  headless::ProcessMessages();
  EXPECT_EQ(grid->SelectedImage(), 5);
  headless::PressKey(VK_DOWN);
  headless::ProcessMessages();
  EXPECT_EQ(grid->SelectedImage(), 8);
  EXPECT_EQ(grid->EntryVisibility(8), 2);  // scrolled into view
  headless::PressKey(VK_LEFT, TShiftState{ssShift});
  headless::ProcessMessages();
  EXPECT_EQ(grid->SelectedImage(), 7);
  EXPECT_TRUE(grid->IsSelected(8));
  EXPECT_TRUE(grid->IsSelected(7));
  headless::PressKey(VK_HOME);
  headless::ProcessMessages();
  EXPECT_EQ(grid->SelectedImage(), 0);
  EXPECT_EQ(grid->MultiSelectedCount(), 1);
  EXPECT_EQ(grid->ScrollY(), 0);
  headless::PressKey(VK_NEXT);  // a page: columns x whole rows that fit (2)
  headless::ProcessMessages();
  EXPECT_EQ(grid->SelectedImage(), 6);
  headless::PressKey(VK_END);
  headless::ProcessMessages();
  EXPECT_EQ(grid->SelectedImage(), 11);
}

TEST_F(GridTest, DeleteAndInsertKeepTheSelection) {
  MakeGrid(330, 230, 5);
  grid->SelectIndex(4);
  EXPECT_TRUE(grid->DeleteEntry(4));  // the current one, and the last: the new last is selected
  EXPECT_EQ(grid->SelectedImage(), 3);
  grid->SelectIndex(2);
  grid->DeleteEntry(0);  // before the current one: it moves down by one
  EXPECT_EQ(grid->SelectedImage(), 1);
  grid->InsertEntry(0);  // before it: it moves up
  EXPECT_EQ(grid->SelectedImage(), 2);
  grid->DeleteEntry(2);  // the current one in the middle: the entry now at its place
  EXPECT_EQ(grid->SelectedImage(), 2);
  EXPECT_FALSE(grid->DeleteEntry(10));
}

TEST_F(GridTest, PlaybackUsesEachFrameDisplayTimeAtLeastTenMilliseconds) {
  MakeGrid(200, 200, 3);
  grid->SetImageDelayTime(0, 0);
  grid->SetImageDelayTime(1, 50);
  grid->SetImageDelayTime(2, 200);
  std::vector<int> frames;
  grid->OnPlayFrame = [&](TObject*, int f) { frames.push_back(f); };
  grid->SelectIndex(1);
  grid->SetPlaying(true);
  EXPECT_EQ(grid->DisplayMode(), mdGrid);  // the mode to restore
  std::vector<uint32_t> intervals;
  for (int i = 0; i < 4; ++i) {
    intervals.push_back(NextTimerDue());
    Headless().AdvanceClock(intervals.back());
    DispatchDueTimers();
  }
  EXPECT_EQ(intervals, (std::vector<uint32_t>{10, 50, 200, 10}));
  EXPECT_EQ(frames, (std::vector<int>{0, 1, 2, 0, 1}));
  grid->SetPlaying(false);
  EXPECT_EQ(grid->SelectedImage(), 1);
}

TEST_F(GridTest, CorruptFilesShowThePlaceholderOrGoWithRemoveCorrupted) {
  MakeGrid(330, 230, 3);
  grid->IconWhenWrong = false;
  grid->SetGridWidth(-1);
  TIEBitmap red;
  Solid(red, 50, 50, clRed);
  grid->SetImage(0, &red);
  grid->SetImageFileName(1, "/nonexistent/picture.png");
  grid->SetImage(2, &red);
  Paint();
  ASSERT_TRUE(grid->HasImage(1));
  EXPECT_EQ(grid->StoredImageWidth(1), 100);  // the "?" placeholder of the cell's size
  EXPECT_EQ(Shown(108 + 3, 4 + 3), clWhite);
  EXPECT_EQ(Shown(108 + 3, 4 + 3 + 100), TColor(ColorToRGB(clBtnFace)));  // below the cell
  grid->DeleteEntry(1);
  grid->InsertEntry(1);
  grid->SetImageFileName(1, "/nonexistent/picture.png");
  grid->RemoveCorrupted = true;
  Paint();
  EXPECT_EQ(grid->ImageCount(), 2);
  // In single mode too.
  grid->AppendEntry();
  grid->SetImageFileName(2, "/nonexistent/other.png");
  grid->SelectIndex(2);
  grid->SetDisplayMode(mdSingle);
  Paint();
  EXPECT_EQ(grid->ImageCount(), 2);
}

TEST_F(GridTest, AllDisplayedFiresOncePerCompletion) {
  MakeGrid(330, 230, 3);
  int fired = 0;
  grid->OnAllDisplayed = [&](TObject*) { ++fired; };
  TIEBitmap b;
  Solid(b, 20, 20, clBlue);
  int asked = 0;
  grid->OnImageIDRequestEx = [&](TObject*, int, TIEBitmap*& out) {
    ++asked;
    out = &b;
  };
  for (int i = 0; i < 3; ++i) grid->SetImageID(i, i);
  Paint();  // the three were loaded: complete now
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(fired, 1);
  Paint();
  EXPECT_EQ(fired, 1);  // nothing new
  grid->AppendEntry();
  grid->SetImageID(3, 7);
  Paint();  // it had to load one
  EXPECT_EQ(fired, 2);
}

TEST_F(GridTest, ThumbStoreKeepsTheOriginalSize) {
  MakeGrid(330, 230, 2);
  grid->SetStoreType(ietThumb);
  TIEBitmap big;
  Solid(big, 1000, 500, clGreen);
  grid->SetImage(0, &big);
  EXPECT_EQ(grid->StoredImageWidth(0), 100);
  EXPECT_EQ(grid->StoredImageHeight(0), 50);
  EXPECT_EQ(grid->ImageOriginalWidth(0), 1000);
  EXPECT_EQ(grid->ImageOriginalHeight(0), 500);
  grid->SetStoreType(ietNormal);
  grid->SetImage(1, &big);
  EXPECT_EQ(grid->StoredImageWidth(1), 1000);
}

TEST_F(GridTest, MultiImageComponentFollowsTheEntries) {
  MakeGrid(330, 230, 5);
  TImageLibMIO* mio = grid->GetMIO();
  ASSERT_EQ(mio->ParamsCount(), 5);
  for (int i = 0; i < 5; ++i) mio->ParamsAt(i)->JpegQuality = 10 + i;
  grid->InsertEntry(2);  // takes the save options of the set that was at 2
  ASSERT_EQ(mio->ParamsCount(), 6);
  EXPECT_EQ(mio->ParamsAt(2)->JpegQuality, 12);
  EXPECT_EQ(mio->ParamsAt(3)->JpegQuality, 12);
  grid->DeleteEntry(5);  // the last
  EXPECT_EQ(mio->ParamsCount(), 5);
  EXPECT_EQ(mio->ParamsAt(4)->JpegQuality, 13);
  grid->MoveEntry(0, 10);  // beyond the end: to the end
  EXPECT_EQ(mio->ParamsAt(4)->JpegQuality, 10);
  grid->ExchangeEntries(0, 4);
  EXPECT_EQ(mio->ParamsAt(0)->JpegQuality, 10);
  EXPECT_EQ(mio->ParamsAt(4)->JpegQuality, 11);
  EXPECT_EQ(mio->ParamsAt(9), nullptr);
}

TEST_F(GridTest, AcquiredPicturesLandInOrderUnlessHandled) {
  MakeGrid(330, 230, 0);
  TImageLibMIO* mio = grid->GetMIO();
  TIEBitmap b;
  Solid(b, 30, 20, clRed);
  std::vector<int> after;
  mio->OnAfterAcquireBitmap = [&](TObject*, int i) { after.push_back(i); };
  for (int i = 0; i < 3; ++i) {
    TIOParamsVals* p = nullptr;
    mio->DoAcquireBitmap(&b, p, 300, 300);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->DpiX, 300);
  }
  EXPECT_EQ(after, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(grid->ImageCount(), 3);
  EXPECT_EQ(grid->ImageDelayTime(2), 100);
  EXPECT_EQ(mio->ParamsCount(), 3);
  mio->OnAcquireBitmap = [](TObject*, TIEBitmap*, bool& handled) { handled = true; };
  TIOParamsVals* p = nullptr;
  mio->DoAcquireBitmap(&b, p, 0, 0);
  EXPECT_EQ(grid->ImageCount(), 3);
  bool closed = false;
  mio->OnAcquireClose = [&](TObject*) { closed = true; };
  mio->SetAcquiring(true);
  mio->DoAcquireClose();
  EXPECT_TRUE(closed);
  EXPECT_FALSE(mio->Acquiring());
  std::vector<int> progress;
  mio->OnProgress = [&](TObject*, int per) { progress.push_back(per); };
  TIEWia* wia = mio->GetWIAParams();
  ASSERT_NE(wia, nullptr);
  EXPECT_EQ(mio->GetWIAParams(), wia);
  EXPECT_TRUE(wia->OnProgress(nullptr, 40));
  mio->Aborting = true;
  EXPECT_FALSE(wia->OnProgress(nullptr, 60));
  EXPECT_EQ(progress, (std::vector<int>{40, 60}));
}

TEST_F(GridTest, ProcessingWorksOnTheCurrentEntryAndIsWrittenBack) {
  MakeGrid(330, 230, 2);
  TIEBitmap b;
  Solid(b, 30, 20, clRed);
  grid->SetImage(0, &b);
  grid->SetImage(1, &b);
  TImageLibProc* proc = grid->GetProc();  // selects entry 0
  EXPECT_EQ(grid->SelectedImage(), 0);
  ASSERT_NE(proc->GetIEBitmap(), nullptr);
  proc->Fill(0x00FF00);
  grid->SelectIndex(1);  // leaving the entry stores what was done to it
  TIEBitmap* stored = grid->GetEntryBitmap(0);
  ASSERT_NE(stored, nullptr);
  const TRGB p = stored->GetPixelRGB(3, 3);
  EXPECT_EQ(p.g, 255);
  EXPECT_EQ(p.r, 0);
  grid->ReleaseEntryBitmap(0, false);
}

TEST_F(GridTest, FrameReferencesNeedANumberAfterTheLastColons) {
  std::string file;
  int frame = -1;
  EXPECT_TRUE(SplitFrameReference("/a/b.dcx::2", file, frame));
  EXPECT_EQ(file, "/a/b.dcx");
  EXPECT_EQ(frame, 2);
  EXPECT_TRUE(SplitFrameReference("/a::b/c.avi::10", file, frame));
  EXPECT_EQ(file, "/a::b/c.avi");
  EXPECT_FALSE(SplitFrameReference("/a::b/c.png", file, frame));
  EXPECT_FALSE(SplitFrameReference("/a/c.png::", file, frame));
  EXPECT_FALSE(SplitFrameReference("/a/c.png::x1", file, frame));
}

}  // namespace
