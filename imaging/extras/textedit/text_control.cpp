#include "imaging/extras/textedit/text_control.h"

#include <algorithm>
#include <cstring>

#include "imaging/core/ie_utils.h"
#include "imaging/extras/textedit/ie_edit.h"
#include "platform/ui/caret.h"
#include "platform/ui/file_dialogs.h"
#include "platform/ui/font_dialog.h"
#include "platform/ui/forms.h"
#include "platform/win/clipboard.h"
#include "platform/win/global_memory.h"

namespace {
UINT textMemoFormat = 0;
constexpr uint8_t kLF = 10;

bool IsBlank(uint8_t c) { return c <= 32; }
}  // namespace

const TShortCut kTextEditShortcuts[12] = {
    scCtrl | 'L', scCtrl | 'E', scCtrl | 'R', scCtrl | 'J', scCtrl | 'C', scCtrl | 'X',
    scCtrl | 'V', scCtrl | 'F', scCtrl | 'B', scCtrl | 'I', scCtrl | 'U', scCtrl | 'G',
};

UINT TextMemoClipboardFormat() { return textMemoFormat; }
void RegisterTextMemoClipboardFormat() { textMemoFormat = RegisterClipboardFormat("IMAGELIB TEXTMEMO"); }

TIETextControl::TIETextControl(TComponent* owner) : TCustomControl(owner) {
  TControlStyle style = ControlStyle();
  style.Include(csOpaque);
  SetControlStyle(style);
  if (owner) SetCursor(crIBeam);
  SetTabStop(true);
  FBackBitmap.SetPixelFormat(pf24bit);
  LoadText();
}

TIETextControl::~TIETextControl() {
  if (HandleAllocated() && CaretOwner() == Handle()) DestroyCaret();
}

TIEMemoText TIETextControl::TakeMemo() {
  TIEMemoText out = std::move(FMemo);
  FMemo = TIEMemoText{};
  FCaret = FSelStart = FSelEnd = 0;
  GrowCaches();
  ClearCaches(0);
  return out;
}

void TIETextControl::LoadText() {
  ClearSelection();
  FCaret = 0;
  const size_t n = FMemo.Text.size();
  // Lists from a file or a caller may be missing or not match the text: every
  // character gets an index, and every index a record.
  FMemo.CharFormatIndex.resize(n, 0);
  if (FMemo.CharFormats.empty() && n > 0)
    FMemo.CharFormats.push_back(MakeTextFormat(Font(), &FCharBackBrush, FDefaultAlignment));
  const auto count = static_cast<int32_t>(FMemo.CharFormats.size());
  for (int32_t& i : FMemo.CharFormatIndex)
    if (i < 0 || i >= count) i = 0;
  // Stored counts are not trusted: a wrong one would let PackFormats drop a
  // record still in use.
  for (TIETextFormat& f : FMemo.CharFormats) f.RefCount = 0;
  for (int32_t i : FMemo.CharFormatIndex) ++FMemo.CharFormats[static_cast<size_t>(i)].RefCount;
  GrowCaches();
  ClearCaches(0);
  FCurrentFormat = MakeTextFormat(Font(), &FCharBackBrush, FDefaultAlignment);
  PaintBackground();
}

void TIETextControl::GrowCaches() {
  const size_t n = FMemo.Text.size() + 1;
  for (auto* v : {&FCharX, &FCharLineTop}) v->resize(n, -1);
  for (auto* v : {&FCharWidth, &FCharHeight, &FCharLeading, &FCharDescent}) v->resize(n, 0);
}

void TIETextControl::ClearCaches(int from) {
  const size_t n = FCharX.size();
  for (size_t i = static_cast<size_t>(std::max(0, from)); i < n; ++i) {
    FCharX[i] = FCharLineTop[i] = -1;
    FCharWidth[i] = FCharHeight[i] = FCharLeading[i] = FCharDescent[i] = 0;
  }
}

void TIETextControl::Update() {
  ClearCaches(0);
  Invalidate();
  // Painting now lays the text out again; not from inside a paint.
  if (!FPainting && Showing()) TControl::Update();
}

void TIETextControl::Resize() {
  TCustomControl::Resize();
  ClearCaches(0);
  Invalidate();
}

void TIETextControl::SetFixedFont(bool value) {
  FFixedFont = value;
  Update();
}

void TIETextControl::SetMargins(double left, double top, double right, double bottom) {
  FMargins[0] = left;
  FMargins[1] = top;
  FMargins[2] = right;
  FMargins[3] = bottom;
}

void TIETextControl::SetSelection(int start, int end) {
  FSelStart = std::clamp(std::min(start, end), 0, TextLength());
  FSelEnd = std::clamp(std::max(start, end), 0, TextLength());
}

// ---- the text model ----

void TIETextControl::PutCharFormat(int index, const TIETextFormat& format, bool inserted) {
  TIETextFormats& list = FMemo.CharFormats;
  size_t found = 0;
  while (found < list.size() && !SameTextFormat(list[found], format)) ++found;
  if (found == list.size()) {
    list.push_back(format);
    list.back().RefCount = 0;
  }
  int32_t& slot = FMemo.CharFormatIndex[static_cast<size_t>(index)];
  if (!inserted && slot >= 0 && static_cast<size_t>(slot) < list.size() && list[static_cast<size_t>(slot)].RefCount > 0)
    --list[static_cast<size_t>(slot)].RefCount;
  ++list[found].RefCount;
  slot = static_cast<int32_t>(found);
}

const TIETextFormat* TIETextControl::GetCharFormat(int index) const {
  if (FMemo.Text.empty()) return nullptr;
  index = std::clamp(index, 0, TextLength() - 1);
  return &FMemo.CharFormats[static_cast<size_t>(FMemo.CharFormatIndex[static_cast<size_t>(index)])];
}

void TIETextControl::InsertChar(char ch) {
  FCaret = std::clamp(FCaret, 0, TextLength());
  const auto at = static_cast<size_t>(FCaret);
  FMemo.Text.insert(at, 1, ch);
  FMemo.CharFormatIndex.insert(FMemo.CharFormatIndex.begin() + static_cast<std::ptrdiff_t>(at), 0);
  PutCharFormat(FCaret, FCurrentFormat, true);
  GrowCaches();
  ClearCaches(FCaret);
  ++FCaret;
}

void TIETextControl::InsertText(const std::string& chars, const uint8_t* records) {
  if (chars.empty()) return;
  FCaret = std::clamp(FCaret, 0, TextLength());
  const auto at = static_cast<size_t>(FCaret);
  FMemo.Text.insert(at, chars);
  FMemo.CharFormatIndex.insert(FMemo.CharFormatIndex.begin() + static_cast<std::ptrdiff_t>(at), chars.size(), 0);
  // A run of one format finds its record once.
  int32_t last = -1;
  for (size_t j = 0; j < chars.size(); ++j) {
    if (records) {
      FCurrentFormat = TextFormatFromBytes(records + kTextFormatSize * j);
      FCurrentFormat.RefCount = 0;
    }
    if (last >= 0 && (!records || SameTextFormat(FCurrentFormat, FMemo.CharFormats[static_cast<size_t>(last)]))) {
      ++FMemo.CharFormats[static_cast<size_t>(last)].RefCount;
      FMemo.CharFormatIndex[at + j] = last;
    } else {
      PutCharFormat(static_cast<int>(at + j), FCurrentFormat, true);
      last = FMemo.CharFormatIndex[at + j];
    }
  }
  GrowCaches();
  ClearCaches(FCaret);
  FCaret += static_cast<int>(chars.size());
}

void TIETextControl::DeleteChar(int index) {
  if (index < 0 || index >= TextLength()) return;
  const auto at = static_cast<size_t>(index);
  TIETextFormat& f = FMemo.CharFormats[static_cast<size_t>(FMemo.CharFormatIndex[at])];
  if (f.RefCount > 0) --f.RefCount;
  FMemo.Text.erase(at, 1);
  FMemo.CharFormatIndex.erase(FMemo.CharFormatIndex.begin() + static_cast<std::ptrdiff_t>(at));
  for (auto* v : {&FCharX, &FCharLineTop, &FCharWidth, &FCharHeight, &FCharLeading, &FCharDescent})
    v->erase(v->begin() + static_cast<std::ptrdiff_t>(at));
  ClearCaches(index);
  if (FCaret > TextLength()) FCaret = TextLength();
}

void TIETextControl::DeleteSelection() {
  if (FSelStart >= FSelEnd) return;
  const int end = std::min(FSelEnd, TextLength());
  for (int i = end - 1; i >= FSelStart; --i) DeleteChar(i);
  FCaret = std::min(FSelStart, TextLength());
  ClearSelection();
}

void TIETextControl::PackFormats() {
  TIETextFormats& list = FMemo.CharFormats;
  std::vector<int32_t> newIndex(list.size(), -1);
  TIETextFormats kept;
  for (size_t i = 0; i < list.size(); ++i)
    if (list[i].RefCount > 0) {
      newIndex[i] = static_cast<int32_t>(kept.size());
      kept.push_back(list[i]);
    }
  for (int32_t& i : FMemo.CharFormatIndex) i = std::max(0, newIndex[static_cast<size_t>(i)]);
  list = std::move(kept);
}

// ---- format changes ----

template <class F>
void TIETextControl::ChangeSelection(F change) {
  const int end = std::min(FSelEnd, TextLength());
  for (int i = FSelStart; i < end; ++i) {
    TIETextFormat f = FMemo.CharFormats[static_cast<size_t>(FMemo.CharFormatIndex[static_cast<size_t>(i)])];
    change(f);
    SetCharFormat(i, f);
  }
  if (FSelStart < end) ClearCaches(FSelStart);
  change(FCurrentFormat);
}

void TIETextControl::ToggleSelectionStyle(int bit) {
  const auto mask = static_cast<uint8_t>(1u << (bit & 7));
  if (FSelStart < FSelEnd && FSelStart < TextLength()) {
    // The first selected character decides for all of them.
    const bool on = !(GetCharFormat(FSelStart)->FontStyle & mask);
    ChangeSelection([&](TIETextFormat& f) { f.FontStyle = static_cast<uint8_t>(on ? f.FontStyle | mask : f.FontStyle & ~mask); });
  } else {
    FCurrentFormat.FontStyle ^= mask;
  }
}

void TIETextControl::SetSelectionFont(TFont* font) {
  ChangeSelection([&](TIETextFormat& f) {
    f.SetName(font->Name());
    f.FontHeight = font->Height();
    f.SetStyles(font->Style());
    f.FontColor = font->Color();
  });
}

void TIETextControl::SetSelectionBackColor(TColor color) {
  ChangeSelection([&](TIETextFormat& f) { f.BackColor = color; });
}

void TIETextControl::EnlargeSelectionFont() {
  ChangeSelection([](TIETextFormat& f) {
    int32_t h = f.FontHeight < 0 ? f.FontHeight - 1 : f.FontHeight + 1;
    f.FontHeight = h == 0 ? 1 : std::clamp(h, -kMaxTextFontHeight, kMaxTextFontHeight);
  });
}

void TIETextControl::ReduceSelectionFont() {
  ChangeSelection([](TIETextFormat& f) {
    int32_t h = f.FontHeight < 0 ? f.FontHeight + 1 : f.FontHeight - 1;
    f.FontHeight = h == 0 ? 1 : std::clamp(h, -kMaxTextFontHeight, kMaxTextFontHeight);
  });
}

void TIETextControl::SetParagraphAlignment(uint8_t alignment) {
  const std::string& t = FMemo.Text;
  const int n = TextLength();
  int start = std::min(FCaret, n) - 1;
  while (start >= 0 && static_cast<uint8_t>(t[static_cast<size_t>(start)]) != kLF) --start;
  ++start;
  int end = std::min(FCaret, n);
  while (end < n && static_cast<uint8_t>(t[static_cast<size_t>(end)]) != kLF) ++end;
  // The line break ends the paragraph and carries its alignment too.
  if (end < n) ++end;
  for (int i = start; i < end; ++i) {
    TIETextFormat f = *GetCharFormat(i);
    f.Alignment = alignment;
    SetCharFormat(i, f);
  }
  ClearCaches(start);
  FCurrentFormat.Alignment = alignment;
}

// ---- caret movement ----

bool TIETextControl::MoveLeft() {
  if (FCaret <= 0) return false;
  --FCaret;
  return true;
}

bool TIETextControl::MoveRight() {
  if (FCaret >= TextLength()) return false;
  ++FCaret;
  return true;
}

bool TIETextControl::MoveWordLeft() {
  const auto* t = reinterpret_cast<const uint8_t*>(FMemo.Text.c_str());
  const int n = TextLength();
  int p = FCaret - 1;
  while (p >= 1 && IsBlank(t[p])) --p;
  while (p > 0 && !IsBlank(t[p])) --p;
  if (p < 0) p = 0;
  if (p < n && IsBlank(t[p])) ++p;
  p = std::clamp(p, 0, std::max(0, n - 1));
  const int old = FCaret;
  FCaret = p;
  return p != old;
}

bool TIETextControl::MoveWordRight() {
  const auto* t = reinterpret_cast<const uint8_t*>(FMemo.Text.c_str());
  const int n = TextLength();
  int p = FCaret + 1;
  while (p < n && IsBlank(t[p])) ++p;
  while (p < n && !IsBlank(t[p])) ++p;
  // The end of the text is a place the caret may reach.
  p = std::clamp(p, 0, n);
  const int old = FCaret;
  FCaret = p;
  return p != old;
}

bool TIETextControl::MoveLineStart() {
  int p = std::min(FCaret, TextLength());
  while (p > 0 && FCharLineTop[static_cast<size_t>(p - 1)] >= FCaretY) --p;
  const int old = FCaret;
  FCaret = p;
  return p != old;
}

bool TIETextControl::MoveLineEnd() {
  const int n = TextLength();
  int p = std::min(FCaret, n);
  while (p < n && FCharLineTop[static_cast<size_t>(p)] == FCaretY) ++p;
  if (p < n) --p;
  if (p < FCaret) p = FCaret;
  const int old = FCaret;
  FCaret = p;
  return p != old;
}

bool TIETextControl::MoveLineUp() {
  int p = std::min(FCaret, TextLength());
  while (p >= 0 && !(FCharLineTop[static_cast<size_t>(p)] >= 0 && FCharLineTop[static_cast<size_t>(p)] < FCaretY)) --p;
  if (p < 0) return false;
  const int found = p;
  const int top = FCharLineTop[static_cast<size_t>(found)];
  while (p > 0 && FCharX[static_cast<size_t>(p)] > FCaretX) --p;
  if (FCharLineTop[static_cast<size_t>(p + 1)] == FCharLineTop[static_cast<size_t>(p)] &&
      std::abs(FCharX[static_cast<size_t>(p + 1)] - FCaretX) < std::abs(FCharX[static_cast<size_t>(p)] - FCaretX))
    ++p;
  if (FCharLineTop[static_cast<size_t>(p)] != top) p = found;
  FCaret = p;
  return true;
}

bool TIETextControl::MoveLineDown() {
  const int n = TextLength();
  int p = std::min(FCaret, n);
  while (p <= n && !(FCharLineTop[static_cast<size_t>(p)] >= 0 && FCharLineTop[static_cast<size_t>(p)] > FCaretY)) ++p;
  if (p > n) return false;
  const int found = p;
  const int top = FCharLineTop[static_cast<size_t>(found)];
  while (p < n && FCharLineTop[static_cast<size_t>(p + 1)] == top && FCharX[static_cast<size_t>(p)] < FCaretX) ++p;
  if (p > found && FCharLineTop[static_cast<size_t>(p - 1)] == FCharLineTop[static_cast<size_t>(p)] &&
      std::abs(FCharX[static_cast<size_t>(p - 1)] - FCaretX) < std::abs(FCharX[static_cast<size_t>(p)] - FCaretX))
    --p;
  if (FCharLineTop[static_cast<size_t>(p)] != top) p = found;
  FCaret = p;
  return true;
}

void TIETextControl::MoveToPoint(int x, int y) {
  const int n = TextLength();
  // The first character of a line below the point; the one before it ends the
  // point's line.
  int p = 0;
  while (p < n && FCharLineTop[static_cast<size_t>(p)] <= y) ++p;
  if (p < n && p > 0) --p;
  while (p > 0 && FCharLineTop[static_cast<size_t>(p - 1)] == FCharLineTop[static_cast<size_t>(p)] &&
         x < FCharX[static_cast<size_t>(p)] - 1)
    --p;
  FCaret = std::max(0, p);
  FormatBeforeCaret();
}

void TIETextControl::FormatBeforeCaret() {
  if (const TIETextFormat* f = GetCharFormat(FCaret - 1)) FCurrentFormat = *f;
}

void TIETextControl::FollowSelection(int old, bool shift) {
  const int c = FCaret;
  if (!shift) {
    ClearSelection();
    return;
  }
  if (FSelStart >= FSelEnd) {
    FSelStart = old;
    FSelEnd = c;
  } else if (c > old) {
    if (FSelEnd < c) FSelEnd = c;
    else FSelStart = c;
  } else {
    if (c < FSelStart) FSelStart = c;
    else FSelEnd = c;
  }
  if (FSelStart > FSelEnd) std::swap(FSelStart, FSelEnd);
}

// ---- keys ----

void TIETextControl::KeyDown(WORD& key, TShiftState shift) {
  const int old = FCaret;
  bool movement = false;
  switch (key) {
    case VK_BACK:
      if (FSelStart < FSelEnd) DeleteSelection();
      else if (MoveLeft()) DeleteChar(FCaret);
      Update();
      break;
    case VK_RETURN:
      InsertChar(static_cast<char>(kLF));
      Update();
      break;
    case VK_END:
      movement = true;
      if (shift.Contains(ssCtrl)) FCaret = TextLength();
      else MoveLineEnd();
      break;
    case VK_HOME:
      movement = true;
      if (shift.Contains(ssCtrl)) FCaret = 0;
      else MoveLineStart();
      break;
    case VK_LEFT:
      movement = true;
      if (shift.Contains(ssCtrl)) MoveWordLeft();
      else MoveLeft();
      break;
    case VK_UP:
      movement = true;
      MoveLineUp();
      break;
    case VK_RIGHT:
      movement = true;
      if (shift.Contains(ssCtrl)) MoveWordRight();
      else MoveRight();
      break;
    case VK_DOWN:
      movement = true;
      MoveLineDown();
      break;
    case VK_INSERT:
      FInsertMode = !FInsertMode;
      break;
    case VK_DELETE:
      if (FSelStart < FSelEnd) DeleteSelection();
      else DeleteChar(FCaret);
      Update();
      break;
    case VK_F1:
      if (shift.Contains(ssShift)) {
        ReduceSelectionFont();
        Update();
      }
      break;
    case VK_F2:
      if (shift.Contains(ssShift)) {
        EnlargeSelectionFont();
        Update();
      }
      break;
    default:
      break;
  }
  if (movement && FCaret != old) {
    FormatBeforeCaret();
    FollowSelection(old, shift.Contains(ssShift));
    Update();
  }
  ShortcutAction(ShortCut(key, shift));
  TCustomControl::KeyDown(key, shift);
}

bool TIETextControl::ShortcutAction(TShortCut sc) {
  int action = -1;
  for (int i = 0; i < 12; ++i)
    if (kTextEditShortcuts[i] == sc) action = i;
  switch (action) {
    case 0: SetParagraphAlignment(0); break;
    case 1: SetParagraphAlignment(2); break;
    case 2: SetParagraphAlignment(1); break;
    case 3: SetParagraphAlignment(3); break;
    case 4: CopyToClipboard(); return true;
    case 5: Cut(); break;
    case 6: Paste(); break;
    case 7: {
      if (FFixedFont) return true;
      TFontDialog dialog(nullptr);
      dialog.Font()->SetName(FCurrentFormat.Name());
      dialog.Font()->SetHeight(FCurrentFormat.SafeFontHeight());
      dialog.Font()->SetStyle(FCurrentFormat.Styles());
      dialog.Font()->SetColor(FCurrentFormat.FontColor);
      if (dialog.Execute()) SetSelectionFont(dialog.Font());
      break;
    }
    case 8: ToggleSelectionStyle(0); break;
    case 9: ToggleSelectionStyle(1); break;
    case 10: ToggleSelectionStyle(2); break;
    case 11: {
      if (FFixedFont) return true;
      TColorDialog dialog(nullptr);
      dialog.SetColor(FCurrentFormat.BackColor);
      if (dialog.Execute()) SetSelectionBackColor(dialog.Color());
      break;
    }
    default: return false;
  }
  Update();
  return true;
}

void TIETextControl::Cut() {
  CopyToClipboard();
  DeleteSelection();
}

void TIETextControl::Paste() {
  DeleteSelection();
  PasteFromClipboard();
}

void TIETextControl::KeyPress(char& key) {
  TCustomControl::KeyPress(key);
  const auto c = static_cast<uint8_t>(key);
  if (c >= 32 && c != 127) {
    DeleteSelection();
    if (!FInsertMode) DeleteChar(FCaret);
    InsertChar(key);
  }
  if (Showing()) Repaint();
}

void TIETextControl::WndProc(TMessage& message) {
  switch (message.Msg) {
    case CN_CHAR: {
      // The character as a byte of the memo's code page; one it lacks is not typed.
      const int b = Windows1252Byte(static_cast<uint32_t>(message.WParam));
      if (b > 0) {
        char c = static_cast<char>(b);
        DoKeyPress(c);
      }
      message.Result = 1;
      return;
    }
    case CM_WANTSPECIALKEY: {
      WORD key = static_cast<WORD>(message.WParam);
      if (IsEditorSpecialKey(key)) {
        KeyUp(key, KeyDataShiftState(message.LParam));
        message.Result = 1;
      } else {
        message.Result = 0;
      }
      return;
    }
    case WM_CUT:
      Cut();
      Update();
      return;
    case WM_COPY:
      CopyToClipboard();
      return;
    case WM_PASTE:
      Paste();
      Update();
      return;
    case WM_LBUTTONDBLCLK:
      // The word under the caret (the press before put it there); no second press.
      SelectWord();
      DblClick();
      return;
    case WM_ERASEBKGND:
      message.Result = 0;
      return;
    case WM_KILLFOCUS:
      TCustomControl::WndProc(message);
      if (HandleAllocated() && CaretOwner() == Handle()) {
        HideCaret(Handle());
        DestroyCaret();
      }
      return;
    default:
      TCustomControl::WndProc(message);
  }
}

// ---- mouse ----

void TIETextControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (!Focused() && CanFocus()) SetFocus();
  if (shift.Contains(ssShift)) {
    MoveToPoint(FLastClickX, FLastClickY);
    const int old = FCaret;
    MoveToPoint(x, y);
    if (FCaret != old) {
      FollowSelection(old, true);
      Update();
    }
  } else {
    ClearSelection();
    MoveToPoint(x, y);
  }
  FLastClickX = x;
  FLastClickY = y;
  Update();
  if (OnCursorMoved) OnCursorMoved(this);
  TCustomControl::MouseDown(button, shift, x, y);
}

void TIETextControl::MouseMove(TShiftState shift, int x, int y) {
  if (MouseCapture()) {
    ClearSelection();
    MoveToPoint(FLastClickX, FLastClickY);
    const int old = FCaret;
    MoveToPoint(x, y);
    if (FCaret != old) {
      FollowSelection(old, true);
      Update();
    }
    if (OnCursorMoved) OnCursorMoved(this);
  }
  TCustomControl::MouseMove(shift, x, y);
}

void TIETextControl::SelectWord() {
  if (!FMemo.Text.empty()) {
    ClearSelection();
    MoveWordLeft();
    const int s = FCaret;
    MoveWordRight();
    const auto* t = reinterpret_cast<const uint8_t*>(FMemo.Text.c_str());
    int p = FCaret;
    while (p > 0 && IsBlank(t[p])) --p;
    FCaret = std::min(p + 1, TextLength());
    FormatBeforeCaret();
    SetSelection(s, FCaret);
    Update();
  }
}

// ---- clipboard ----

void TIETextControl::CopyToClipboard() {
  const int end = std::min(FSelEnd, TextLength());
  const int n = end - FSelStart;
  if (n <= 0 || !OpenClipboardRetry()) return;
  EmptyClipboard();
  const std::string selected = FMemo.Text.substr(static_cast<size_t>(FSelStart), static_cast<size_t>(n));
  const std::string text = MemoTextToUtf8(selected);
  if (HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1)) {
    auto* p = static_cast<char*>(GlobalLock(h));
    std::memcpy(p, text.c_str(), text.size() + 1);
    GlobalUnlock(h);
    if (!SetClipboardData(CF_TEXT, h)) GlobalFree(h);
  }
  const size_t size = static_cast<size_t>(n) * (1 + kTextFormatSize) + 1;
  if (textMemoFormat)
    if (HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, size)) {
      auto* p = static_cast<uint8_t*>(GlobalLock(h));
      std::memcpy(p, selected.data(), selected.size());
      p[n] = 0;
      for (int i = 0; i < n; ++i) TextFormatToBytes(*GetCharFormat(FSelStart + i), p + n + 1 + kTextFormatSize * static_cast<size_t>(i));
      GlobalUnlock(h);
      if (!SetClipboardData(textMemoFormat, h)) GlobalFree(h);
    }
  CloseClipboard();
}

void TIETextControl::PasteFromClipboard() {
  if (!OpenClipboardRetry()) return;
  bool pasted = false;
  if (textMemoFormat && IsClipboardFormatAvailable(textMemoFormat)) {
    HGLOBAL h = GetClipboardData(textMemoFormat);
    const size_t size = h ? GlobalSize(h) : 0;
    const auto* p = h ? static_cast<const uint8_t*>(GlobalLock(h)) : nullptr;
    if (p) {
      // The block must hold its characters, their terminator and one record per
      // character; anything shorter is not ours and falls back to CF_TEXT.
      const auto* zero = static_cast<const uint8_t*>(std::memchr(p, 0, size));
      const size_t m = zero ? static_cast<size_t>(zero - p) : 0;
      if (zero && (size - m - 1) / kTextFormatSize >= m) {
        InsertText(std::string(reinterpret_cast<const char*>(p), m), p + m + 1);
        pasted = true;
      }
      GlobalUnlock(h);
    }
  }
  if (!pasted && IsClipboardFormatAvailable(CF_TEXT)) {
    HGLOBAL h = GetClipboardData(CF_TEXT);
    const size_t size = h ? GlobalSize(h) : 0;
    if (const auto* p = h ? static_cast<const char*>(GlobalLock(h)) : nullptr) {
      const auto* zero = static_cast<const char*>(std::memchr(p, 0, size));
      const std::string text = Utf8ToMemoText(std::string(p, zero ? static_cast<size_t>(zero - p) : size));
      InsertText(text, nullptr);
      GlobalUnlock(h);
    }
  }
  CloseClipboard();
}
