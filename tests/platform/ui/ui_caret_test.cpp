// The caret drawn into the form's bitmap, the rubber pen (pmNot) on a control's
// canvas, and the character and special-key notifications a control may claim.
#include <gtest/gtest.h>

#include "platform/ui/caret.h"
#include "platform/ui/std_edits.h"
#include "ui_test_support.h"

namespace {

// A control that claims characters through CN_CHAR and the arrows and Tab
// through the special-key query, logging what reaches it.
class TClaimingControl : public TCustomControl {
public:
  explicit TClaimingControl(TComponent* owner) : TCustomControl(owner) { SetTabStop(true); }
  bool FocusOnClick() const override { return true; }
  void WndProc(TMessage& m) override {
    if (m.Msg == CN_CHAR) {
      chars += static_cast<char>(m.WParam);
      m.Result = 1;
      return;
    }
    if (m.Msg == CM_WANTSPECIALKEY) {
      m.Result = m.WParam == VK_TAB ? 1 : 0;
      return;
    }
    TCustomControl::WndProc(m);
  }
  void KeyDown(WORD& key, TShiftState shift) override {
    keys.push_back(key);
    TCustomControl::KeyDown(key, shift);
  }
  void KeyPress(char& key) override { pressed += key; }
  std::string chars, pressed;
  std::vector<WORD> keys;
};

TColor BackingPixel(TForm* form, int x, int y) { return form->Backing()->Canvas()->Pixels(x, y) & 0xFFFFFF; }

TEST_F(UiTest, CaretIsInvertedIntoTheBitmapAndHidingRestoresIt) {
  TForm* form = MakeForm(100, 60);
  form->SetColor(clWhite);
  auto* c = new TClaimingControl(form);
  c->SetParent(form);
  c->SetColor(clWhite);
  c->SetBounds(10, 10, 50, 30);
  form->Show();
  c->SetFocus();
  headless::ProcessMessages();
  ASSERT_TRUE(CreateCaret(c->Handle(), nullptr, 0, 12));
  EXPECT_FALSE(CaretDrawn());  // made hidden
  SetCaretPos(5, 4);
  ShowCaret(c->Handle());
  EXPECT_TRUE(CaretDrawn());
  EXPECT_EQ(BackingPixel(form, 15, 14), 0u);
  EXPECT_EQ(BackingPixel(form, 16, 14), 0xFFFFFFu);  // one pixel wide
  // A repaint of the area keeps it shown once, not inverted twice.
  form->InvalidateRect(Rect(0, 0, 100, 60));
  form->PaintDirty();
  EXPECT_EQ(BackingPixel(form, 15, 14), 0u);
  SetCaretPos(20, 4);
  EXPECT_EQ(BackingPixel(form, 15, 14), 0xFFFFFFu);
  EXPECT_EQ(BackingPixel(form, 30, 14), 0u);
  // Hidden twice needs two shows.
  HideCaret(c->Handle());
  HideCaret(c->Handle());
  ShowCaret(c->Handle());
  EXPECT_EQ(BackingPixel(form, 30, 14), 0xFFFFFFu);
  ShowCaret(c->Handle());
  EXPECT_EQ(BackingPixel(form, 30, 14), 0u);
  POINT p{};
  ASSERT_TRUE(GetCaretPos(&p));
  EXPECT_EQ(p.x, 20);
  EXPECT_FALSE(HideCaret(form->Handle()));  // not its caret
  DestroyCaret();
  EXPECT_EQ(BackingPixel(form, 30, 14), 0xFFFFFFu);
  EXPECT_EQ(CaretOwner(), nullptr);
}

TEST_F(UiTest, CaretBlinksForAWhileThenStaysShown) {
  TForm* form = MakeForm(100, 60);
  auto* c = new TClaimingControl(form);
  c->SetParent(form);
  c->SetBounds(10, 10, 50, 30);
  form->Show();
  headless::ProcessMessages();
  CreateCaret(c->Handle(), nullptr, 2, 10);
  ShowCaret(c->Handle());
  int hidden = 0;
  for (int i = 0; i < 30; ++i) {
    Headless().AdvanceClock(GetCaretBlinkTime());
    DispatchDueTimers();
    if (!CaretDrawn()) ++hidden;
  }
  EXPECT_GT(hidden, 2);
  EXPECT_TRUE(CaretDrawn());
  EXPECT_EQ(NextTimerDue(), 0xFFFFFFFFu);  // the blink timer is gone
  DestroyCaret();
}

TEST_F(UiTest, NotPenDrawnTwiceOnAControlRestoresTheBitmap) {
  TForm* form = MakeForm(100, 60);
  auto* c = new TClaimingControl(form);
  c->SetParent(form);
  c->SetColor(RGB(200, 100, 50));
  c->SetBounds(10, 10, 50, 30);
  form->Show();
  headless::ProcessMessages();
  const TColor before = BackingPixel(form, 20, 20);
  TCanvas* canvas = c->Canvas();
  canvas->Pen()->SetMode(pmNot);
  for (int pass = 0; pass < 2; ++pass) {
    canvas->MoveTo(0, 10);
    canvas->LineTo(40, 10);
    FreeControlCanvases();
    EXPECT_EQ(BackingPixel(form, 20, 20), pass == 0 ? (~before & 0xFFFFFF) : before) << pass;
  }
}

TEST_F(UiTest, ControlsClaimCharactersAndSpecialKeysBeforeTheForm) {
  TForm* form = MakeForm(200, 100);
  auto* c = new TClaimingControl(form);
  c->SetParent(form);
  c->SetBounds(10, 10, 50, 30);
  auto* next = new TEdit(form);
  next->SetParent(form);
  next->SetBounds(10, 50, 80, 21);
  form->Show();
  c->SetFocus();
  headless::ProcessMessages();
  headless::TypeText("h\xC3\xA9");
  headless::PressKey(VK_TAB);
  headless::ProcessMessages();
  EXPECT_EQ(c->chars, std::string("h\xE9"));  // the code point, not '?'
  EXPECT_EQ(c->pressed, "");                   // claimed: no WM_CHAR after
  EXPECT_TRUE(c->Focused());                   // Tab was the control's
  EXPECT_EQ(c->keys, std::vector<WORD>{VK_TAB});
}

}  // namespace
