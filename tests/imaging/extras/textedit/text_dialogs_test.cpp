// The editors' dialogs and keys on a form: Ctrl+F and Ctrl+G through the font
// and colour dialogs, and the one-line edit of text objects keeping Tab.
#include <vector>

#include "imaging/extras/textedit/ie_edit.h"
#include "platform/ui/std_ctrls.h"
#include "platform/ui/std_edits.h"
#include "text_test_support.h"

namespace {

template <class T>
std::vector<T*> ControlsOf(TWinControl* parent) {
  std::vector<T*> out;
  for (int i = 0; i < parent->ControlCount(); ++i)
    if (auto* c = dynamic_cast<T*>(parent->Controls(i))) out.push_back(c);
  return out;
}

void PressButton(const std::string& caption) {
  for (TButton* b : ControlsOf<TButton>(Screen->ActiveForm()))
    if (b->Caption() == caption) headless::Click(b);
}

TEST_F(TextControlTest, CtrlFSetsTheSelectionsFontFromTheFontDialog) {
  Load("abc def");
  control->SetSelection(0, 3);
  Headless().Then([this] {
    TCustomForm* dialog = Screen->ActiveForm();
    ASSERT_NE(dialog, form);
    dialog->SaveToPng(OutputFile("text_font_dialog.png"));
    for (TCheckBox* c : ControlsOf<TCheckBox>(dialog))
      if (c->Caption() == "&Bold" || c->Caption() == "&Underline") c->SetChecked(true);
    for (TSpinEdit* s : ControlsOf<TSpinEdit>(dialog)) s->SetValue(15);
    PressButton("OK");
  });
  Press('F', {ssCtrl});
  ASSERT_TRUE(Headless().ScriptEmpty());
  const TIETextFormat* f = control->GetCharFormat(0);
  EXPECT_EQ(f->FontStyle, 1 | 4);
  EXPECT_EQ(f->FontHeight, -20);  // 15 points at 96 pixels per inch
  EXPECT_EQ(control->GetCharFormat(4)->FontStyle, 0);
  // Ctrl+G: the background colour of the selection.
  control->SetSelection(4, 7);
  Headless().Then([] { PressButton("OK"); });
  Press('G', {ssCtrl});
  EXPECT_EQ(control->GetCharFormat(5)->BackColor, control->CurrentFormat().BackColor);
}

TEST_F(TextControlTest, OneLineEditKeepsTabAndTheArrowsForItself) {
  auto* edit = new TIEEdit(form);
  edit->SetParent(form);
  edit->SetBounds(10, 10, 120, 21);
  auto* next = new TEdit(form);
  next->SetParent(form);
  next->SetTabStop(true);
  next->SetBounds(10, 40, 120, 21);
  control->SetVisible(false);
  int ups = 0;
  edit->OnKeyUp = [&](TObject*, WORD& key, TShiftState) {
    if (key == VK_TAB) ++ups;
  };
  edit->SetFocus();
  headless::ProcessMessages();
  Type("a");
  Press(VK_TAB);
  Type("\tb");
  EXPECT_TRUE(edit->Focused());
  EXPECT_EQ(edit->Text(), "ab");
  EXPECT_GE(ups, 1);
}

}  // namespace
