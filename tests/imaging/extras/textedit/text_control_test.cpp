// The memo text model: formats shared and counted, typing, deleting, format
// changes of the selection, the keys and the clipboard.
#include <cstring>
#include <vector>

#include "imaging/core/ie_utils.h"
#include "platform/win/global_memory.h"
#include "text_test_support.h"

namespace {

std::vector<uint8_t> ClipboardBytes(UINT format) {
  std::vector<uint8_t> out;
  if (!OpenClipboard(nullptr)) return out;
  if (HGLOBAL h = GetClipboardData(format)) {
    const auto* p = static_cast<const uint8_t*>(GlobalLock(h));
    out.assign(p, p + GlobalSize(h));
    GlobalUnlock(h);
  }
  CloseClipboard();
  return out;
}

void PutClipboard(const std::vector<std::pair<UINT, std::vector<uint8_t>>>& items) {
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  for (const auto& [format, bytes] : items) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    if (!bytes.empty()) std::memcpy(GlobalLock(h), bytes.data(), bytes.size()), GlobalUnlock(h);
    SetClipboardData(format, h);
  }
  CloseClipboard();
}

int Refs(const TIETextControl* c, size_t record) { return c->Memo().CharFormats.at(record).RefCount; }

TEST(TextFormat, RecordIsTheStored280BytesAndFormatsIgnoreTheCount) {
  TIETextFormat f;
  f.RefCount = 7;
  f.SetName("Arial");
  f.FontHeight = -13;
  f.FontStyle = 5;
  f.FontColor = 0x123456;
  f.BackColor = 0x00FF00;
  f.BackStyle = bsClear;
  f.Alignment = 3;
  uint8_t b[280];
  TextFormatToBytes(f, b);
  EXPECT_EQ(b[0], 7);
  EXPECT_EQ(b[4], 5);
  EXPECT_EQ(std::memcmp(b + 5, "Arial", 5), 0);
  EXPECT_EQ(b[260], 0xF3);  // -13 little-endian
  EXPECT_EQ(b[263], 0xFF);
  EXPECT_EQ(b[264], 5);
  EXPECT_EQ(b[268], 0x56);
  EXPECT_EQ(b[276], bsClear);
  EXPECT_EQ(b[277], 3);
  TIETextFormat back = TextFormatFromBytes(b);
  back.RefCount = 1;
  EXPECT_TRUE(SameTextFormat(f, back));
  back.Alignment = 0;
  EXPECT_FALSE(SameTextFormat(f, back));
}

TEST(TextFormat, MemoTextConvertsToAndFromUtf8) {
  EXPECT_EQ(MemoTextToUtf8("a\nb\xE9\x80"), "a\r\nb\xC3\xA9\xE2\x82\xAC");
  // CR goes, characters outside Windows-1252 are left out.
  EXPECT_EQ(Utf8ToMemoText("a\r\nb\xC3\xA9\xE2\x82\xAC\xE4\xB8\xAD"), "a\nb\xE9\x80");
}

TEST_F(TextControlTest, TypingIntoAnEmptyControlMakesTheTextAndOneCountedFormat) {
  Type("ab");
  EXPECT_EQ(Text(), "ab");
  ASSERT_EQ(control->Memo().CharFormats.size(), 1u);
  EXPECT_EQ(Refs(control, 0), 2);
  EXPECT_EQ(control->Memo().CharFormatIndex, (std::vector<int32_t>{0, 0}));
  EXPECT_EQ(control->Caret(), 2);
  // Characters below 32 and 127 are not typed; one outside the code page neither.
  Type(std::string("\x7F", 1) + "\xE4\xB8\xAD" + "\xC3\xA9");
  EXPECT_EQ(Text(), "ab\xE9");
}

TEST_F(TextControlTest, DeletingAWholeSelectionLeavesNothingToPack) {
  Load("hello");
  control->SetSelection(0, 5);
  Press(VK_DELETE);
  EXPECT_EQ(Text(), "");
  EXPECT_EQ(control->Caret(), 0);
  control->PackFormats();
  EXPECT_TRUE(control->Memo().CharFormats.empty());
}

TEST_F(TextControlTest, CtrlBFollowsTheFirstSelectedCharacter) {
  Load("abc");
  control->SetSelection(0, 1);
  Press('B', {ssCtrl});
  ASSERT_TRUE(control->GetCharFormat(0)->FontStyle & 1);
  ASSERT_FALSE(control->GetCharFormat(1)->FontStyle & 1);
  control->SetSelection(0, 3);
  Press('B', {ssCtrl});
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(control->GetCharFormat(i)->FontStyle & 1) << i;
  EXPECT_FALSE(control->CurrentFormat().FontStyle & 1);
  control->PackFormats();
  EXPECT_EQ(control->Memo().CharFormats.size(), 1u);
  EXPECT_EQ(Refs(control, 0), 3);
}

TEST_F(TextControlTest, CopyWritesCrLfTextAndTheFormatsOfEachCharacter) {
  Load("a\nb");
  control->SetSelection(0, 3);
  Press('C', {ssCtrl});
  const std::vector<uint8_t> text = ClipboardBytes(CF_TEXT);
  ASSERT_GE(text.size(), 5u);
  EXPECT_EQ(std::string(text.begin(), text.begin() + 5), std::string("a\r\nb\0", 5));
  const std::vector<uint8_t> memo = ClipboardBytes(TextMemoClipboardFormat());
  ASSERT_EQ(memo.size(), 844u);
  EXPECT_EQ(std::string(memo.begin(), memo.begin() + 4), std::string("a\nb\0", 4));
  // Each record as stored, its count included.
  EXPECT_EQ(memo[4], 3);
  EXPECT_TRUE(SameTextFormat(TextFormatFromBytes(&memo[4 + 560]), *control->GetCharFormat(2)));
  // Pasting it back keeps the formats.
  control->SetCaret(3);
  control->ClearSelection();
  Press('V', {ssCtrl});
  EXPECT_EQ(Text(), "a\nba\nb");
  EXPECT_EQ(control->Memo().CharFormats.size(), 1u);
  EXPECT_EQ(Refs(control, 0), 6);
}

TEST_F(TextControlTest, CutAndPasteGoThroughTheMessagesToo) {
  Load("one two");
  control->SetSelection(0, 4);
  control->Perform(WM_CUT, 0, 0);
  EXPECT_EQ(Text(), "two");
  control->SetCaret(3);
  control->Perform(WM_PASTE, 0, 0);
  EXPECT_EQ(Text(), "twoone ");
}

TEST_F(TextControlTest, FixedFontModeOpensNoDialog) {
  Load("abc");
  control->SetFixedFont(true);
  // A dialog would run this step; none opens, so it stays queued.
  Headless().Then([] {
    if (Screen->ActiveForm()) Screen->ActiveForm()->ModalResult();
  });
  Press('F', {ssCtrl});
  Press('G', {ssCtrl});
  EXPECT_FALSE(Headless().ScriptEmpty());
  Headless().ClearScript();
}

TEST_F(TextControlTest, ShiftF1AndShiftF2StepTheFontHeightPastZero) {
  struct Case {
    int height;
    WORD key;
    int expected;
  };
  const Case cases[] = {{-11, VK_F2, -12}, {-1, VK_F1, 1}, {2, VK_F1, 1}, {1, VK_F1, 1}, {5, VK_F2, 6}};
  for (const Case& c : cases) {
    Load("x");
    TIETextFormat f = *control->GetCharFormat(0);
    f.FontHeight = c.height;
    control->SetCharFormat(0, f);
    control->SetSelection(0, 1);
    Press(c.key, {ssShift});
    EXPECT_EQ(control->GetCharFormat(0)->FontHeight, c.expected) << c.height;
  }
}

TEST_F(TextControlTest, CaretMovesAndShiftSelection) {
  Load("one two  three");
  struct Step {
    WORD key;
    TShiftState shift;
    int caret;
    int selStart;
    int selEnd;
  };
  const Step steps[] = {
      {VK_RIGHT, {ssCtrl}, 3, 0, 0},           // end of the word
      {VK_RIGHT, {ssCtrl, ssShift}, 7, 3, 7},  // over the space and the next word
      {VK_RIGHT, {ssCtrl}, 14, 0, 0},          // the end of the text is reachable
      {VK_RIGHT, {}, 14, 0, 0},
      {VK_LEFT, {ssCtrl}, 9, 0, 0},            // start of the last word
      {VK_LEFT, {ssShift}, 8, 8, 9},
      {VK_LEFT, {ssShift}, 7, 7, 9},
      {VK_RIGHT, {ssShift}, 8, 8, 9},
      {VK_HOME, {ssCtrl}, 0, 0, 0},
      {VK_END, {}, 14, 0, 0},                   // one line: its end
      {VK_HOME, {ssShift}, 0, 0, 14},
      {VK_LEFT, {ssCtrl}, 0, 0, 14},           // no move: the selection stays
  };
  for (const Step& s : steps) {
    Press(s.key, s.shift);
    EXPECT_EQ(control->Caret(), s.caret) << s.key;
    const bool selection = control->SelStart() < control->SelEnd();
    if (s.selStart == s.selEnd) {
      EXPECT_FALSE(selection) << s.key;
    } else {
      EXPECT_EQ(control->SelStart(), s.selStart) << s.key;
      EXPECT_EQ(control->SelEnd(), s.selEnd) << s.key;
    }
  }
}

TEST_F(TextControlTest, LinesUpDownHomeAndEndFollowTheLayout) {
  control->SetFixedLineHeight(20);
  Load("abc\ndefgh\nij");
  control->SetCaret(6);  // "de|fgh"
  control->Update();
  Press(VK_UP);
  EXPECT_EQ(control->Caret(), 2);
  Press(VK_DOWN);
  EXPECT_EQ(control->Caret(), 6);
  Press(VK_DOWN);
  EXPECT_EQ(control->Caret(), 12);  // the short last line: its end
  Press(VK_HOME);
  EXPECT_EQ(control->Caret(), 10);
  Press(VK_UP);
  Press(VK_END);
  EXPECT_EQ(control->Caret(), 9);  // before the line break
}

TEST_F(TextControlTest, OverwriteModeReplacesTheCharacterAtTheCaret) {
  Load("abcd");
  control->SetCaret(1);
  Press(VK_INSERT);
  EXPECT_FALSE(control->InsertMode());
  Type("XY");
  EXPECT_EQ(Text(), "aXYd");
  Press(VK_INSERT);
  Type("Z");
  EXPECT_EQ(Text(), "aXYZd");
  Press(VK_BACK);
  Press(VK_BACK);
  EXPECT_EQ(Text(), "aXd");
}

TEST_F(TextControlTest, ABusyClipboardMakesCopyAndPasteDoNothing) {
  Load("abc");
  PutClipboard({{CF_TEXT, {'z', 0}}});
  SetClipboardHeldByOtherWindow(true);
  control->SetSelection(0, 3);
  Press('X', {ssCtrl});
  EXPECT_EQ(Text(), "");  // cut deletes even when the copy could not be made
  Press('V', {ssCtrl});
  EXPECT_EQ(Text(), "");
  SetClipboardHeldByOtherWindow(false);
  EXPECT_EQ(ClipboardBytes(CF_TEXT), (std::vector<uint8_t>{'z', 0}));
  Press('V', {ssCtrl});
  EXPECT_EQ(Text(), "z");
}

TEST_F(TextControlTest, HostilePrivateBlocksPasteNothingUnsafe) {
  TIETextFormat f;
  f.SetName("DejaVu Sans");
  f.FontHeight = -12;
  uint8_t rec[280];
  TextFormatToBytes(f, rec);
  auto block = [&](const std::string& chars, size_t records, size_t extra) {
    std::vector<uint8_t> b(chars.begin(), chars.end());
    b.push_back(0);
    for (size_t i = 0; i < records; ++i) b.insert(b.end(), rec, rec + 280);
    b.resize(b.size() + extra, 0xEE);
    return b;
  };
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    std::string expected;
  };
  std::vector<uint8_t> noTerminator(600, 'q');
  std::vector<uint8_t> huge(70000, 'h');
  huge[65000] = 0;
  const Case cases[] = {
      {"short by a byte", [&] { auto b = block("ab", 2, 0); b.pop_back(); return b; }(), "text"},
      {"one record for two characters", block("ab", 1, 0), "text"},
      {"no terminator", noTerminator, "text"},
      {"huge count", huge, "text"},
      {"empty", {}, "text"},
      {"exact", block("ab", 2, 0), "ab"},
      {"longer than needed", block("ab", 2, 100), "ab"},
  };
  for (const Case& c : cases) {
    Load("");
    PutClipboard({{TextMemoClipboardFormat(), c.bytes}, {CF_TEXT, {'t', 'e', 'x', 't', 0}}});
    control->PasteFromClipboard();
    EXPECT_EQ(Text(), c.expected) << c.name;
  }
}

TEST_F(TextControlTest, LoadTextRecountsStoredCountsAndMendsIndices) {
  TIEMemoText memo;
  memo.Text = "abcd";
  TIETextFormat a, b;
  a.SetName("DejaVu Sans");
  a.FontHeight = -12;
  b = a;
  b.FontStyle = 1;
  a.RefCount = 0;   // a file said nobody uses it
  b.RefCount = 99;
  memo.CharFormats = {a, b};
  memo.CharFormatIndex = {0, 1, 7, -3};  // two point nowhere
  control->LendMemo(std::move(memo));
  control->LoadText();
  EXPECT_EQ(control->Memo().CharFormatIndex, (std::vector<int32_t>{0, 1, 0, 0}));
  EXPECT_EQ(Refs(control, 0), 3);
  EXPECT_EQ(Refs(control, 1), 1);
  control->PackFormats();
  EXPECT_EQ(control->Memo().CharFormats.size(), 2u);
  // A missing index list is made, all pointing at the first record.
  TIEMemoText bare;
  bare.Text = "xyz";
  control->LendMemo(std::move(bare));
  control->LoadText();
  ASSERT_EQ(control->Memo().CharFormats.size(), 1u);
  EXPECT_EQ(Refs(control, 0), 3);
  const TIEMemoText back = control->TakeMemo();
  EXPECT_EQ(back.Text, "xyz");
  EXPECT_EQ(control->TextLength(), 0);
}

TEST_F(TextControlTest, ParagraphAlignmentCoversTheCaretsParagraph) {
  Load("ab\ncd\nef");
  control->SetCaret(4);
  Press('R', {ssCtrl});
  for (int i = 0; i < 8; ++i) EXPECT_EQ(control->GetCharFormat(i)->Alignment, i >= 3 && i <= 5 ? 1 : 0) << i;
  EXPECT_EQ(control->CurrentFormat().Alignment, 1);
}

TEST_F(TextControlTest, MousePlacesTheCaretSelectsAndDoubleClickTakesAWord) {
  control->SetFixedLineHeight(20);
  Load("alpha beta gamma");
  const int xBeta = control->CharX(6);
  headless::MouseDown(control, xBeta + 1, 5);
  headless::MouseUp(control, xBeta + 1, 5);
  headless::ProcessMessages();
  EXPECT_EQ(control->Caret(), 6);
  // A drag selects from the press point.
  const int xGamma = control->CharX(11);
  headless::MouseDown(control, xBeta + 1, 5);
  headless::MouseMove(control, xGamma + 1, 5);
  headless::MouseUp(control, xGamma + 1, 5);
  headless::ProcessMessages();
  EXPECT_EQ(control->SelStart(), 6);
  EXPECT_EQ(control->SelEnd(), 11);
  // Shift+click extends from the last press.
  headless::MouseDown(control, xBeta + 1, 5);
  headless::MouseUp(control, xBeta + 1, 5);
  headless::MouseDown(control, control->CharX(15) + 1, 5, mbLeft, {ssShift});
  headless::MouseUp(control, control->CharX(15) + 1, 5, mbLeft, {ssShift});
  headless::ProcessMessages();
  EXPECT_EQ(control->SelStart(), 6);
  EXPECT_EQ(control->SelEnd(), 15);
  headless::DoubleClick(control, control->CharX(13), 5);
  headless::ProcessMessages();
  EXPECT_EQ(control->SelStart(), 11);
  EXPECT_EQ(control->SelEnd(), 16);  // the last word, to the end of the text
}

TEST_F(TextControlTest, ShortcutTableIsCtrlWithTheTwelveLetters) {
  const TShortCut expected[12] = {0x404C, 0x4045, 0x4052, 0x404A, 0x4043, 0x4058,
                                  0x4056, 0x4046, 0x4042, 0x4049, 0x4055, 0x4047};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(kTextEditShortcuts[i], expected[i]) << i;
}

}  // namespace
