// The behaviour of the list, edit, page, grid and image controls, driven as a
// user drives them.
#include <gtest/gtest.h>

#include "platform/rtl/exceptions.h"
#include "platform/ui/com_ctrls.h"
#include "platform/ui/com_ctrls_pages.h"
#include "platform/ui/ext_ctrls.h"
#include "platform/ui/grids.h"
#include "platform/ui/hint_window.h"
#include "platform/ui/img_list.h"
#include "platform/ui/menus.h"
#include "platform/ui/std_edits.h"
#include "platform/win/shell.h"
#include "ui_test_support.h"

namespace {

using namespace headless;

template <class T> T* Put(TForm* form, int left, int top, int width, int height) {
  auto* c = new T(form);
  c->SetParent(form);
  c->SetBounds(left, top, width, height);
  return c;
}

TEST_F(UiTest, EditTypesSelectsCopiesPastesAndUndoes) {
  TForm* form = MakeForm();
  auto* edit = Put<TEdit>(form, 10, 10, 150, 21);
  int changes = 0;
  edit->OnChange = [&](TObject*) { ++changes; };
  form->Show();
  TypeText("hello wörld");
  ProcessMessages();
  EXPECT_EQ(edit->Text(), "hello wörld");
  PressKey(VK_LEFT, {ssShift});
  PressKey(VK_LEFT, {ssShift});
  ProcessMessages();
  EXPECT_EQ(edit->SelText(), "ld");
  edit->CopyToClipboard();
  PressKey(VK_HOME);
  TypeText("\x16");  // Ctrl+V
  ProcessMessages();
  EXPECT_EQ(edit->Text(), "ldhello wörld");
  TypeText("\x1A");  // Ctrl+Z takes the paste back
  ProcessMessages();
  EXPECT_EQ(edit->Text(), "hello wörld");
  PressKey(VK_END);
  TypeText("\b\b");  // a backspace removes a whole character
  ProcessMessages();
  EXPECT_EQ(edit->Text(), "hello wör");
  int before = changes;
  edit->SetText("code");  // text set in code fires OnChange too
  EXPECT_EQ(changes, before + 1);
}

TEST_F(UiTest, EditHonoursCharCaseMaxLengthAndReadOnly) {
  TForm* form = MakeForm();
  auto* edit = Put<TEdit>(form, 10, 10, 150, 21);
  edit->SetCharCase(ecUpperCase);
  edit->SetMaxLength(4);
  form->Show();
  TypeText("abcdef");
  ProcessMessages();
  EXPECT_EQ(edit->Text(), "ABCD");
  edit->SetReadOnly(true);
  edit->SelectAll();
  TypeText("x");
  PressKey(VK_DELETE);
  ProcessMessages();
  EXPECT_EQ(edit->Text(), "ABCD");
}

TEST_F(UiTest, MemoKeepsLinesAndTextInStep) {
  TForm* form = MakeForm();
  auto* memo = Put<TMemo>(form, 10, 10, 200, 100);
  memo->Lines()->Add("first");
  memo->Lines()->Add("second");
  EXPECT_EQ(memo->Text(), "first\r\nsecond");
  form->Show();
  memo->SetFocus();
  memo->SetSelStart(static_cast<int>(memo->Text().size()));
  TypeText("\rthird");
  ProcessMessages();
  ASSERT_EQ(memo->Lines()->Count(), 3);
  EXPECT_EQ(memo->Lines()->Strings(2), "third");
}

TEST_F(UiTest, ListBoxClickFiresOnClickButItemIndexInCodeDoesNot) {
  TForm* form = MakeForm();
  auto* list = Put<TListBox>(form, 10, 10, 120, 100);
  for (const char* s : {"alpha", "beta", "gamma"}) list->Items()->Add(s);
  list->OnClick = Note("click");
  list->SetItemIndex(2);
  EXPECT_TRUE(log.empty());
  form->Show();
  TRect r = list->ItemRect(1);
  Click(list, r.left + 5, r.top + 2);
  ProcessMessages();
  EXPECT_EQ(list->ItemIndex(), 1);
  PressKey(VK_DOWN);
  ProcessMessages();
  EXPECT_EQ(list->ItemIndex(), 2);
  EXPECT_EQ(log, (std::vector<std::string>{"click", "click"}));
}

TEST_F(UiTest, OwnerDrawListBoxMeasuresAndDrawsEachItem) {
  TForm* form = MakeForm();
  auto* list = Put<TListBox>(form, 10, 10, 120, 150);
  list->SetStyle(lbOwnerDrawVariable);
  for (const char* s : {"a", "b", "c"}) list->Items()->Add(s);
  list->OnMeasureItem = [](TWinControl*, int index, int& height) { height = 10 + index * 5; };
  std::vector<TRect> drawn;
  list->OnDrawItem = [&](TWinControl*, int, const TRect& rect, TOwnerDrawState) { drawn.push_back(rect); };
  form->Show();
  ProcessMessages();
  drawn.clear();
  list->Repaint();
  ASSERT_EQ(drawn.size(), 3u);
  EXPECT_EQ(drawn[0].bottom - drawn[0].top, 10);
  EXPECT_EQ(drawn[1].top, drawn[0].bottom);
  EXPECT_EQ(drawn[2].bottom - drawn[2].top, 20);
  EXPECT_EQ(list->ItemAtPos(Point(5, drawn[2].top + 3), true), 2);
}

TEST_F(UiTest, ComboBoxChoiceFromTheListFiresClickThenSelect) {
  TForm* form = MakeForm();
  auto* combo = Put<TComboBox>(form, 10, 10, 120, 21);
  combo->SetStyle(csOwnerDrawFixed);
  combo->SetItemHeight(18);
  for (const char* s : {"red", "green", "blue"}) combo->Items()->Add(s);
  combo->OnClick = Note("click");
  combo->OnSelect = Note("select");
  combo->OnChange = Note("change");
  combo->OnDropDown = Note("dropdown");
  combo->OnCloseUp = Note("closeup");
  std::vector<std::string> drawn;
  combo->OnDrawItem = [&](TWinControl*, int index, const TRect&, TOwnerDrawState state) {
    drawn.push_back(std::to_string(index) + (state.Contains(odComboBoxEdit) ? " edit" : ""));
  };
  combo->SetItemIndex(0);
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(combo->Text(), "red");
  form->Show();
  Click(combo);
  // The list runs its own loop: the script picks the third entry by keys.
  Headless().Then([] {
    PressKey(VK_DOWN);
    PressKey(VK_DOWN);
    PressKey(VK_RETURN);
  });
  ProcessMessages();
  EXPECT_EQ(log, (std::vector<std::string>{"dropdown", "click", "select", "closeup"}));
  EXPECT_EQ(combo->ItemIndex(), 2);
  EXPECT_EQ(combo->Text(), "blue");
  EXPECT_NE(std::find(drawn.begin(), drawn.end(), "0 edit"), drawn.end());
  EXPECT_NE(std::find(drawn.begin(), drawn.end(), "1"), drawn.end());
}

TEST_F(UiTest, PageControlTabsSkipHiddenPagesAndMayRefuseAChange) {
  TForm* form = MakeForm();
  auto* pages = Put<TPageControl>(form, 0, 0, 300, 200);
  std::vector<TTabSheet*> sheets;
  for (const char* caption : {"General", "Hidden", "Advanced"}) {
    auto* sheet = new TTabSheet(form);
    sheet->SetPageControl(pages);
    sheet->SetCaption(caption);
    sheets.push_back(sheet);
  }
  sheets[1]->SetTabVisible(false);
  bool allow = false;
  pages->OnChanging = [&](TObject*, bool& a) {
    log.push_back("changing");
    a = allow;
  };
  pages->OnChange = Note("change");
  pages->SetActivePage(sheets[1]);  // code: no events, a hidden tab's page may still show
  EXPECT_TRUE(log.empty());
  pages->SetActivePage(sheets[0]);
  form->Show();
  ASSERT_EQ(pages->VisibleTabs().size(), 2u);
  TRect second = pages->TabRect(1);
  Click(pages, second.left + 3, second.top + 3);
  ProcessMessages();
  EXPECT_EQ(pages->ActivePage(), sheets[0]);
  allow = true;
  Click(pages, second.left + 3, second.top + 3);
  ProcessMessages();
  EXPECT_EQ(pages->ActivePage(), sheets[2]);
  EXPECT_TRUE(sheets[2]->Visible());
  EXPECT_FALSE(sheets[0]->Visible());
  EXPECT_EQ(log, (std::vector<std::string>{"changing", "changing", "change"}));
}

TEST_F(UiTest, ListViewSelectsByClickAndKeepsItsSelectionWithoutFocus) {
  TForm* form = MakeForm();
  auto* images = new TImageList(form);
  images->SetWidth(32);
  images->SetHeight(32);
  auto* view = Put<TListView>(form, 0, 0, 280, 180);
  view->SetLargeImages(images);
  view->SetReadOnly(true);
  view->SetHideSelection(false);
  for (int i = 0; i < 6; ++i) view->Items()->Add()->SetCaption("Icon " + std::to_string(i));
  auto* other = Put<TButton>(form, 0, 185, 75, 25);
  view->OnSelectItem = [&](TObject*, TListItem* item, bool selected) {
    log.push_back(item->Caption() + (selected ? " on" : " off"));
  };
  form->Show();
  TRect r = view->ItemRect(4);
  Click(view, r.left + 10, r.top + 10);
  ProcessMessages();
  EXPECT_EQ(view->ItemIndex(), 4);
  Click(other);
  ProcessMessages();
  EXPECT_EQ(view->ItemIndex(), 4);
  view->SetItemIndex(1);  // in code, the framework fires the selection events too
  EXPECT_EQ(log, (std::vector<std::string>{"Icon 4 on", "Icon 4 off", "Icon 1 on"}));
}

TEST_F(UiTest, DrawGridDrawsCellsAndOnSelectCellCanVeto) {
  TForm* form = MakeForm();
  auto* grid = Put<TDrawGrid>(form, 0, 0, 260, 140);
  grid->SetColCount(4);
  grid->SetRowCount(4);
  grid->SetFixedCols(0);
  grid->SetFixedRows(0);
  grid->SetDefaultColWidth(40);
  grid->SetDefaultRowHeight(30);
  grid->SetDefaultDrawing(false);
  int cells = 0;
  grid->OnDrawCell = [&](TObject*, int, int, const TRect&, TGridDrawState) { ++cells; };
  grid->OnSelectCell = [&](TObject*, int col, int row, bool& can) {
    log.push_back(std::to_string(col) + "," + std::to_string(row));
    can = col != 3;
  };
  form->Show();
  ProcessMessages();
  cells = 0;
  grid->Repaint();
  EXPECT_EQ(cells, 16);
  TGridCoord g = grid->MouseCoord(85, 65);
  EXPECT_EQ(g.X, 2);
  EXPECT_EQ(g.Y, 2);
  EXPECT_EQ(grid->MouseCoord(500, 5).X, -1);
  Click(grid, 85, 65);
  ProcessMessages();
  EXPECT_EQ(grid->Col(), 2);
  PressKey(VK_RIGHT);  // vetoed
  ProcessMessages();
  EXPECT_EQ(grid->Col(), 2);
  grid->SetRow(0);  // code asks too
  EXPECT_EQ(grid->Row(), 0);
  EXPECT_EQ(log, (std::vector<std::string>{"2,2", "3,2", "2,0"}));
  grid->SetFixedRows(1);  // the grid starts again below the fixed row
  EXPECT_EQ(grid->Row(), 1);
  EXPECT_EQ(grid->TopRow(), 1);
}

TEST_F(UiTest, ImageListKeepsTransparencyAndDrawsDisabledGrey) {
  TImageList list(nullptr);
  list.SetWidth(4);
  list.SetHeight(4);
  TBitmap strip;
  strip.SetPixelFormat(pf24bit);
  strip.SetSize(8, 4);
  strip.Canvas()->Brush()->SetColor(clFuchsia);
  strip.Canvas()->FillRect(Rect(0, 0, 8, 4));
  strip.Canvas()->Brush()->SetColor(clBlue);
  strip.Canvas()->FillRect(Rect(1, 1, 3, 3));
  strip.Canvas()->Brush()->SetColor(clRed);
  strip.Canvas()->FillRect(Rect(4, 0, 8, 4));
  EXPECT_EQ(list.AddMasked(&strip, clFuchsia), 0);
  EXPECT_EQ(list.Count(), 2);
  TBitmap target;
  target.SetPixelFormat(pf24bit);
  target.SetSize(8, 4);
  target.Canvas()->Brush()->SetColor(clWhite);
  target.Canvas()->FillRect(Rect(0, 0, 8, 4));
  list.Draw(target.Canvas(), 0, 0, 0, true);
  list.Draw(target.Canvas(), 4, 0, 1, false);
  EXPECT_EQ(target.Canvas()->Pixels(0, 0), clWhite);  // the key colour stays see-through
  EXPECT_EQ(target.Canvas()->Pixels(1, 1), clBlue);
  TColor grey = target.Canvas()->Pixels(5, 1);
  EXPECT_EQ(GetRValue(grey), GetGValue(grey));
  EXPECT_EQ(GetGValue(grey), GetBValue(grey));
  EXPECT_THROW(list.Delete(5), EInvalidOperation);
}

TEST_F(UiTest, HintShowsAfterThePauseAndGoesOnClick) {
  TForm* form = MakeForm();
  auto* b = Put<TButton>(form, 10, 10, 75, 25);
  b->SetHint("Save|Saves the icon");
  b->SetShowHint(true);
  std::string statusHint;
  Application->OnHint = [&](TObject*) { statusHint = Application->Hint(); };
  form->Show();
  MouseMove(b, 5, 5);
  ProcessMessages();
  EXPECT_EQ(statusHint, "Saves the icon");
  EXPECT_EQ(ActiveHintWindow(), nullptr);
  // Idle waits move the loop's clock on to the hint pause.
  uint64_t start = Headless().Now();
  for (int i = 0; i < 5 && !ActiveHintWindow(); ++i) Application->HandleMessage();
  ASSERT_NE(ActiveHintWindow(), nullptr);
  EXPECT_EQ(Headless().Now() - start, static_cast<uint64_t>(Application->HintPause()));
  EXPECT_EQ(ActiveHintWindow()->Caption(), "Save");
  MouseDown(b, 5, 5);
  ProcessMessages();
  EXPECT_EQ(ActiveHintWindow(), nullptr);
}

// A picture of three frames that counts what the image asks of it.
class TFramePicture : public TBitmap, public TGraphicAnimation {
public:
  int AnimationFrameCount() override { return 3; }
  int AnimationFrameDelay(int) override { return 100; }
  void SetAnimationFrame(int index) override { frames.push_back(index); }
  std::vector<int> frames;
};

TEST_F(UiTest, ImagePlaysAnAnimatedPictureOnTheTimerClock) {
  TForm* form = MakeForm();
  auto* image = Put<TImage>(form, 0, 0, 50, 50);
  TGraphicClass::Of<TFramePicture>();
  TFramePicture source;
  source.SetSize(10, 10);
  image->Picture()->SetGraphic(&source);
  auto* shown = dynamic_cast<TFramePicture*>(image->Picture()->Graphic());
  ASSERT_NE(shown, nullptr);
  auto* stop = new TTimer(form);
  stop->SetInterval(350);
  stop->OnTimer = [&](TObject*) { form->SetModalResult(mrOk); };
  form->ShowModal();
  EXPECT_EQ(shown->frames, (std::vector<int>{0, 1, 2, 0}));
}

}  // namespace

namespace {

using namespace headless;

TEST_F(UiTest, SpinEditStepsWithinItsLimitsAndTakesOnlyNumbers) {
  TForm* form = MakeForm();
  auto* spin = new TSpinEdit(form);
  spin->SetParent(form);
  spin->SetBounds(10, 10, 80, 22);
  spin->SetMinValue(1);
  spin->SetMaxValue(5);
  spin->SetValue(4);
  int changes = 0;
  spin->OnChange = [&](TObject*) { ++changes; };
  form->Show();
  spin->SetFocus();
  PressKey(VK_UP);
  PressKey(VK_UP);  // stays at the top
  ProcessMessages();
  EXPECT_EQ(spin->Value(), 5);
  Click(spin, spin->Width() - 6, spin->Height() - 4);  // the lower button
  ProcessMessages();
  EXPECT_EQ(spin->Value(), 4);
  spin->SelectAll();
  TypeText("x9");
  ProcessMessages();
  EXPECT_EQ(spin->Text(), "9");
  EXPECT_EQ(spin->Value(), 5);
  EXPECT_EQ(changes, 3);  // one step (the second changed nothing), the click, the typed digit
}

TEST_F(UiTest, DroppedFilesReachTheControlThatTakesThem) {
  TForm* form = MakeForm();
  auto* target = new TPanel(form);
  target->SetParent(form);
  target->SetBounds(50, 50, 100, 100);
  auto* elsewhere = new TPanel(form);
  elsewhere->SetParent(form);
  elsewhere->SetBounds(160, 50, 100, 100);
  DragAcceptFiles(target->Handle(), TRUE);
  std::vector<std::string> names;
  target->SetMessageHandler(WM_DROPFILES, [&](TMessage& m) {
    auto drop = reinterpret_cast<HDROP>(m.WParam);
    UINT n = DragQueryFile(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < n; ++i) {
      char name[260];
      DragQueryFile(drop, i, name, sizeof name);
      names.push_back(name);
    }
    DragFinish(drop);
  });
  int formDrops = 0;
  form->SetMessageHandler(WM_DROPFILES, [&](TMessage& m) {
    ++formDrops;
    DragFinish(reinterpret_cast<HDROP>(m.WParam));
  });
  form->Show();
  DropFiles(target, {"/tmp/a.ico", "/tmp/b.cur"}, 10, 10);
  DropFiles(elsewhere, {"/tmp/c.ico"}, 10, 10);
  ProcessMessages();
  EXPECT_EQ(names, (std::vector<std::string>{"/tmp/a.ico", "/tmp/b.cur"}));
  EXPECT_EQ(formDrops, 1);  // no control under the point takes files: the form hears it
}

}  // namespace
