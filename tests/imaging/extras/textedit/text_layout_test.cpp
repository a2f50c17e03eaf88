// The layout: lines, wrap, alignment, justification, spacing, zoom, growth,
// the caret; and pictures of the control for a person to look at.
#include <string>

#include "platform/graphics/gdi.h"
#include "platform/ui/caret.h"
#include "platform/ui/std_ctrls.h"
#include "text_test_support.h"

namespace {

// Types text in a format (the selection's format changes go to CurrentFormat).
void TypeIn(TIETextControl* c, const std::string& text, const char* face, int height, uint8_t style, TColor color,
            TColor back = clWhite, TBrushStyle backStyle = bsClear) {
  TIETextFormat f = c->CurrentFormat();
  f.SetName(face);
  f.FontHeight = height;
  f.FontStyle = style;
  f.FontColor = color;
  f.BackColor = back;
  f.BackStyle = backStyle;
  c->SetCurrentFormat(f);
  for (char ch : text) {
    if (ch == '\n') {
      WORD k = VK_RETURN;
      c->Perform(WM_KEYDOWN, k, 0);
    } else {
      c->Perform(CN_CHAR, static_cast<uint8_t>(ch), 0);
    }
  }
}

TEST_F(TextControlTest, FixedLineHeightAndSpacingSetTheLineTops) {
  control->SetFixedLineHeight(20);
  control->SetLineSpacing(4);
  Load("a\nb\nc");
  EXPECT_EQ(control->CharLineTop(0), 1);  // the inner box starts one pixel in
  EXPECT_EQ(control->CharLineTop(2), 25);
  EXPECT_EQ(control->CharLineTop(4), 49);
  EXPECT_EQ(control->CharX(4), 1);
}

TEST_F(TextControlTest, RightAlignedLineEndsOnePixelBeforeTheInnerWidth) {
  Load("right");
  control->SetCaret(0);
  Press('R', {ssCtrl});
  const int W = control->Width() - 2;  // no margins
  const int last = 4;
  EXPECT_EQ(control->CharX(last) - 1 + control->CharWidth(last), W - 1);
}

TEST_F(TextControlTest, JustifiedParagraphStretchesAllButItsLastLine) {
  control->SetBounds(10, 10, 150, 180);
  Load("aaa bbb ccc ddd eee fff ggg hhh iii");
  control->SetCaret(0);
  Press('J', {ssCtrl});
  // The first line's last character (before its trailing space) reaches the inner width.
  int endFirst = -1;
  for (int i = 1; i < control->TextLength(); ++i)
    if (control->CharLineTop(i) != control->CharLineTop(0)) {
      endFirst = i - 2;  // skip the space the line breaks after
      break;
    }
  ASSERT_GT(endFirst, 0);
  const int W = control->Width() - 2;
  // Stretched, the end of the line's last character (where its trailing space
  // starts) lies at the inner width.
  EXPECT_NEAR(control->CharX(endFirst + 1) - 1, W, 2);
  EXPECT_LT(control->CharX(endFirst) - 1 + control->CharWidth(endFirst), W);
  // The last line is not stretched: its characters follow their widths.
  const int n = control->TextLength();
  EXPECT_EQ(control->CharX(n - 1) - control->CharX(n - 2), control->CharWidth(n - 2));
}

TEST_F(TextControlTest, AWordLongerThanTheLineBreaksBeforeTheCharacterThatDoesNotFit) {
  control->SetBounds(10, 10, 60, 180);
  Load("abcdefghijklmnop");
  const int W = control->Width() - 2;
  int firstOfLine2 = -1;
  for (int i = 1; i < control->TextLength(); ++i)
    if (control->CharLineTop(i) > control->CharLineTop(0)) {
      firstOfLine2 = i;
      break;
    }
  ASSERT_GT(firstOfLine2, 0);
  const int edge = control->CharX(firstOfLine2 - 1) - 1 + control->CharWidth(firstOfLine2 - 1);
  EXPECT_LT(edge + 2, W);
  EXPECT_GE(edge + control->CharWidth(firstOfLine2) + 2, W);
  // A first character wider than the line stops the layout: nothing is placed.
  control->SetBounds(10, 10, 8, 180);
  Load("WW");
  EXPECT_EQ(control->CharX(1), -1);
  EXPECT_EQ(control->CharLineTop(1), -1);
}

TEST_F(TextControlTest, ZoomTwoDoublesPositionsAndTheCaret) {
  control->SetFixedLineHeight(20);
  Load("abcdef");
  control->SetCaret(3);
  control->Update();
  const int x3 = control->CharX(3), caretX = control->CaretX();
  control->SetZoom(2.0);
  control->Update();
  EXPECT_EQ(control->CharX(3), 2 * x3);
  EXPECT_EQ(control->CaretX(), 2 * caretX);
  EXPECT_EQ(control->CaretHeight(), 40);
}

TEST_F(TextControlTest, AutoHeightGrowsTheControlForTheNewLine) {
  control->SetFixedLineHeight(20);
  control->SetAutoHeight(true);
  control->SetBounds(10, 10, 200, 30);
  Load("one");
  const int before = control->Height();
  Press(VK_END, {ssCtrl});
  Press(VK_RETURN);
  Type("two");
  headless::ProcessMessages();
  EXPECT_GT(control->Height(), before);
  EXPECT_GE(control->Height(), control->CharLineTop(5) + 20);
}

TEST_F(TextControlTest, TheCaretIsDrawnIntoTheFormAndFollowsFocus) {
  control->SetFixedLineHeight(20);
  Load("caret");
  control->SetCaret(2);
  control->Update();
  headless::ProcessMessages();
  ASSERT_EQ(CaretOwner(), control->Handle());
  EXPECT_TRUE(CaretDrawn());
  POINT p{};
  GetCaretPos(&p);
  EXPECT_EQ(p.x, control->CaretX());
  // The caret column is inverted: dark on the white box.
  const TColor under = form->Backing()->Canvas()->Pixels(control->Left() + p.x, control->Top() + p.y + 10);
  EXPECT_EQ(under & 0xFFFFFF, 0);
  // Hiding restores the pixels; losing the focus destroys the caret.
  HideCaret(control->Handle());
  EXPECT_EQ(form->Backing()->Canvas()->Pixels(control->Left() + p.x, control->Top() + p.y + 10) & 0xFFFFFF, 0xFFFFFF);
  ShowCaret(control->Handle());
  auto* other = new TButton(form);
  other->SetParent(form);
  other->SetBounds(0, 0, 5, 5);
  other->SetFocus();
  headless::ProcessMessages();
  EXPECT_EQ(CaretOwner(), nullptr);
}

TEST_F(TextControlTest, FontHeightsFromRecordsAreClampedBeforeMeasuring) {
  control->SetBounds(10, 10, 300, 180);
  TIEMemoText memo;
  memo.Text = "ab";
  TIETextFormat f;
  f.SetName("DejaVu Sans");
  f.FontHeight = -1000000000;  // a damaged record
  memo.CharFormats = {f};
  memo.CharFormatIndex = {0, 0};
  control->LendMemo(std::move(memo));
  control->LoadText();
  control->Update();
  headless::ProcessMessages();
  // Measured at 2,048 pixels: far wider than the box, so nothing is placed.
  EXPECT_GT(control->CharWidth(0), 300);
  EXPECT_LT(control->CharHeight(0), 3 * 2048);
  EXPECT_EQ(control->CharLineTop(1), -1);
  // Growing the font stops at the clamp too.
  control->SetSelection(0, 2);
  control->EnlargeSelectionFont();
  EXPECT_EQ(control->GetCharFormat(0)->FontHeight, -2048);
}

TEST_F(TextControlTest, PictureOfAMemoBeingEdited) {
  form->SetClientWidth(420);
  form->SetClientHeight(260);
  control->SetBounds(10, 10, 400, 240);
  control->SetMargins(3, 3, 3, 3);
  control->SetLineSpacing(2);
  control->BoxBrush()->SetColor(RGB(255, 255, 240));
  control->BorderPen()->SetColor(RGB(90, 90, 160));
  Load("");
  TypeIn(control, "Memo ", "DejaVu Sans", -22, 1, RGB(20, 40, 140));
  TypeIn(control, "with ", "DejaVu Serif", -18, 2, RGB(160, 20, 20));
  TypeIn(control, "mixed", "DejaVu Sans Mono", -16, 4, RGB(0, 110, 0), RGB(255, 230, 150), bsSolid);
  TypeIn(control, " fonts\n", "DejaVu Sans", -16, 0, clBlack);
  const int paragraph = control->Caret();
  TypeIn(control,
         "A justified paragraph stretches every line but its last one to the inner width of the box, "
         "so the right edge runs straight.\n",
         "DejaVu Sans", -14, 0, RGB(40, 40, 40));
  control->SetCaret(paragraph + 3);
  control->Perform(WM_KEYDOWN, 'J', 0);  // no Ctrl: nothing
  control->SetParagraphAlignment(3);
  TypeIn(control, "", "DejaVu Sans", -14, 0, clBlack);
  control->SetCaret(control->TextLength());
  TypeIn(control, "Centred, underlined", "DejaVu Sans", -15, 4, RGB(120, 0, 120));
  control->SetParagraphAlignment(2);
  control->SetSelection(5, 9);  // "with"
  control->SetCaret(9);
  control->Update();
  headless::ProcessMessages();
  form->SaveToPng(OutputFile("text_control_memo.png"));
  EXPECT_TRUE(CaretDrawn());
  // Zoomed twice, as a memo on a view at 200 %.
  control->ClearSelection();
  control->SetZoom(2.0);
  control->SetCaret(3);
  control->Update();
  form->SaveToPng(OutputFile("text_control_memo_zoom2.png"));
}

}  // namespace
