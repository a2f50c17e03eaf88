#include "platform/ui/std_edits.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/graphics/font_engine.h"
#include "platform/rtl/exceptions.h"
#include "platform/ui/forms.h"
#include "platform/ui/menus.h"
#include "platform/ui/ui_paint.h"
#include "platform/win/clipboard.h"
#include "platform/win/global_memory.h"
#include "platform/win/system_info.h"

// ---- the clipboard as text ----

std::string ClipboardText() {
  std::string text;
  if (!OpenClipboard(nullptr)) return text;
  if (HANDLE h = GetClipboardData(CF_TEXT)) {
    if (auto* p = static_cast<const char*>(GlobalLock(h))) {
      size_t size = GlobalSize(h);
      text.assign(p, strnlen(p, size));
      GlobalUnlock(h);
    }
  }
  CloseClipboard();
  return text;
}

void SetClipboardText(const std::string& text) {
  if (!OpenClipboard(nullptr)) return;
  EmptyClipboard();
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
  if (h) {
    auto* p = static_cast<char*>(GlobalLock(h));
    std::memcpy(p, text.c_str(), text.size() + 1);
    GlobalUnlock(h);
    if (!SetClipboardData(CF_TEXT, h)) GlobalFree(h);
  }
  CloseClipboard();
}

namespace {

// UTF-8 of one code point, for WM_CHAR beyond ASCII.
std::string Utf8(uint32_t cp) {
  std::string s;
  if (cp < 0x80) s += static_cast<char>(cp);
  else if (cp < 0x800) {
    s += static_cast<char>(0xC0 | (cp >> 6));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    s += static_cast<char>(0xE0 | (cp >> 12));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | (cp >> 18));
    s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return s;
}

int TextWidthOf(TCanvas* c, const std::string& s) { return s.empty() ? 0 : c->TextWidth(s); }

}  // namespace

// ---- TCustomEdit ----

TCustomEdit::TCustomEdit(TComponent* owner) : TWinControl(owner) {
  SetInitialBounds(121, 21);
  SetTabStop(true);
  SetColor(clWindow);
  SetCursor(crIBeam);
  SetControlStyle({csCaptureMouse, csClickEvents, csSetCaption, csDoubleClicks});
}

void TCustomEdit::ApplyCase(std::string& text) const {
  if (FCharCase == ecUpperCase)
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  else if (FCharCase == ecLowerCase)
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

void TCustomEdit::SetText(const std::string& value) {
  std::string text = value;
  ApplyCase(text);
  if (text == FText) return;
  FText = text;
  FCaret = FAnchor = 0;
  FScrollX = 0;
  FCanUndo = false;
  Invalidate();
  Change();
}

void TCustomEdit::SetCharCase(TEditCharCase value) {
  FCharCase = value;
  std::string t = FText;
  ApplyCase(t);
  if (t != FText) {
    FText = t;
    Invalidate();
    Change();
  }
}

void TCustomEdit::Change() {
  FModified = true;
  if (OnChange) OnChange(this);
}

int TCustomEdit::PrevChar(int pos) const {
  if (pos <= 0) return 0;
  --pos;
  while (pos > 0 && (static_cast<unsigned char>(FText[pos]) & 0xC0) == 0x80) --pos;
  if (pos > 0 && FText[pos] == '\n' && FText[pos - 1] == '\r') --pos;
  return pos;
}

int TCustomEdit::NextChar(int pos) const {
  int n = static_cast<int>(FText.size());
  if (pos >= n) return n;
  if (FText[pos] == '\r' && pos + 1 < n && FText[pos + 1] == '\n') return pos + 2;
  ++pos;
  while (pos < n && (static_cast<unsigned char>(FText[pos]) & 0xC0) == 0x80) ++pos;
  return pos;
}

void TCustomEdit::SetSelStart(int value) {
  value = std::clamp(value, 0, static_cast<int>(FText.size()));
  FCaret = FAnchor = value;
  Invalidate();
}

void TCustomEdit::SetSelLength(int value) {
  FAnchor = SelStart();
  FCaret = std::clamp(FAnchor + value, 0, static_cast<int>(FText.size()));
  Invalidate();
}

void TCustomEdit::SelectAll() {
  FAnchor = 0;
  FCaret = static_cast<int>(FText.size());
  Invalidate();
}

void TCustomEdit::MoveCaret(int pos, bool extend) {
  FCaret = std::clamp(pos, 0, static_cast<int>(FText.size()));
  if (!extend) FAnchor = FCaret;
  Invalidate();
}

void TCustomEdit::Replace(const std::string& value) {
  std::string text = value;
  ApplyCase(text);
  int start = SelStart(), length = SelLength();
  if (FMaxLength > 0) {
    int room = FMaxLength - (static_cast<int>(FText.size()) - length);
    if (room <= 0) return;
    if (static_cast<int>(text.size()) > room) {
      // Cut at a character boundary.
      size_t cut = static_cast<size_t>(room);
      while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
      text.resize(cut);
    }
  }
  if (text.empty() && length == 0) return;
  FUndoText = FText;
  FUndoCaret = FCaret;
  FCanUndo = true;
  FText.replace(static_cast<size_t>(start), static_cast<size_t>(length), text);
  FCaret = FAnchor = start + static_cast<int>(text.size());
  Invalidate();
  Change();
}

void TCustomEdit::SetSelText(const std::string& value) {
  if (!FReadOnly) Replace(value);
}

void TCustomEdit::ClearSelection() {
  if (!FReadOnly && SelLength() > 0) Replace("");
}

void TCustomEdit::CopyToClipboard() {
  // A password edit never gives its text away.
  if (SelLength() > 0 && !FPasswordChar) SetClipboardText(SelText());
}

void TCustomEdit::CutToClipboard() {
  if (FReadOnly || FPasswordChar) return;
  CopyToClipboard();
  ClearSelection();
}

void TCustomEdit::PasteFromClipboard() {
  if (FReadOnly) return;
  std::string text = ClipboardText();
  if (!Multiline()) {
    auto end = text.find_first_of("\r\n");
    if (end != std::string::npos) text.resize(end);
  }
  Replace(text);
}

void TCustomEdit::Undo() {
  if (!FCanUndo || FReadOnly) return;
  std::string redo = FText;
  int redoCaret = FCaret;
  FText = FUndoText;
  FCaret = FAnchor = std::min<int>(FUndoCaret, static_cast<int>(FText.size()));
  FUndoText = redo;
  FUndoCaret = redoCaret;
  Invalidate();
  Change();
}

void TCustomEdit::DefaultHandler(TMessage& message) {
  switch (message.Msg) {
    case WM_CUT: CutToClipboard(); return;
    case WM_COPY: CopyToClipboard(); return;
    case WM_PASTE: PasteFromClipboard(); return;
    case WM_CLEAR: ClearSelection(); return;
    case WM_UNDO: Undo(); message.Result = TRUE; return;
    case WM_CHAR:
      if (message.WParam >= 0x80) {
        // Characters beyond ASCII skip OnKeyPress (it takes one byte) and go in whole.
        if (!FReadOnly) Replace(Utf8(static_cast<uint32_t>(message.WParam)));
        return;
      }
      break;
    default: break;
  }
  TWinControl::DefaultHandler(message);
}

void TCustomEdit::KeyDown(WORD& key, TShiftState shift) {
  TWinControl::KeyDown(key, shift);
  bool ext = shift.Contains(ssShift);
  bool ctrl = shift.Contains(ssCtrl);
  switch (key) {
    case VK_LEFT: MoveCaret(PrevChar(FCaret), ext); break;
    case VK_RIGHT: MoveCaret(NextChar(FCaret), ext); break;
    case VK_HOME: MoveCaret(0, ext); break;
    case VK_END: MoveCaret(static_cast<int>(FText.size()), ext); break;
    case VK_DELETE:
      if (FReadOnly) break;
      if (ext) CutToClipboard();
      else if (SelLength() > 0) ClearSelection();
      else if (FCaret < static_cast<int>(FText.size())) {
        FAnchor = NextChar(FCaret);
        Replace("");
      }
      break;
    case VK_INSERT:
      if (ctrl) CopyToClipboard();
      else if (ext) PasteFromClipboard();
      break;
    default: return;
  }
  key = 0;
}

void TCustomEdit::KeyPress(char& key) {
  TWinControl::KeyPress(key);
  if (key == 0) return;
  unsigned char c = static_cast<unsigned char>(key);
  switch (c) {
    case 3: CopyToClipboard(); return;   // Ctrl+C
    case 22: PasteFromClipboard(); return;  // Ctrl+V
    case 24: CutToClipboard(); return;   // Ctrl+X
    case 26: Undo(); return;             // Ctrl+Z
    case 1: SelectAll(); return;         // Ctrl+A
    case VK_BACK:
      if (FReadOnly) return;
      if (SelLength() == 0) FAnchor = PrevChar(FCaret);
      Replace("");
      return;
    default: break;
  }
  if (c < 32 || FReadOnly) return;
  Replace(std::string(1, key));
}

std::string TCustomEdit::Shown(const std::string& text) const {
  if (!FPasswordChar) return text;
  return std::string(fontengine::DecodeText(text).size(), FPasswordChar);
}

int TCustomEdit::PosAtX(const std::string& line, int lineStart, int x) {
  TCanvas* c = ControlCanvas();
  int best = 0, bestDist = std::abs(x);
  int pos = 0;
  while (pos < static_cast<int>(line.size())) {
    int next = pos + 1;
    while (next < static_cast<int>(line.size()) && (static_cast<unsigned char>(line[next]) & 0xC0) == 0x80) ++next;
    int w = TextWidthOf(c, Shown(line.substr(0, static_cast<size_t>(next))));
    if (std::abs(x - w) < bestDist) {
      bestDist = std::abs(x - w);
      best = next;
    }
    pos = next;
  }
  return lineStart + best;
}

void TCustomEdit::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  TWinControl::MouseDown(button, shift, x, y);
  if (button != mbLeft) return;
  if (shift.Contains(ssDouble)) {
    SelectAll();
    return;
  }
  MoveCaret(PosAtX(FText, 0, x - 3 + FScrollX), shift.Contains(ssShift));
}

void TCustomEdit::MouseMove(TShiftState shift, int x, int y) {
  TWinControl::MouseMove(shift, x, y);
  if (ControlState().Contains(csLButtonDown) && !Multiline()) MoveCaret(PosAtX(FText, 0, x - 3 + FScrollX), true);
}

void TCustomEdit::DoEnter() {
  if (FAutoSelect && !Multiline()) SelectAll();
  TWinControl::DoEnter();
}

void TCustomEdit::Paint() {
  TCanvas* c = ControlCanvas();
  TRect r = ClientRect();
  TColor fill = IsEnabledInTree() && !FReadOnly ? Color() : (Color() == clWindow ? clBtnFace : Color());
  if (FBorderStyle == bsSingle) DrawSunkenBox(c, r, fill);
  r = InflateRect(r, -1, -1);
  std::string shown = Shown(FText);
  int caretX = TextWidthOf(c, Shown(FText.substr(0, static_cast<size_t>(FCaret))));
  int width = r.right - r.left;
  if (caretX - FScrollX > width - 2) FScrollX = caretX - width + 2;
  if (caretX < FScrollX) FScrollX = caretX;
  int x0 = r.left + 1 - FScrollX;
  int h = c->TextHeight("Ag");
  int y0 = r.top + std::max(0, (r.bottom - r.top - h) / 2);
  bool showSel = SelLength() > 0 && (Focused() || !FHideSelection);
  int s0 = TextWidthOf(c, Shown(FText.substr(0, static_cast<size_t>(SelStart()))));
  int s1 = TextWidthOf(c, Shown(FText.substr(0, static_cast<size_t>(SelStart() + SelLength()))));
  DrawTextIn(c, shown, Rect(x0, y0, r.right, y0 + h), DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP, IsEnabledInTree());
  if (showSel) {
    c->Brush()->SetColor(clHighlight);
    TRect sel = Rect(x0 + s0, y0, x0 + s1, y0 + h);
    c->FillRect(sel);
    c->Font()->SetColor(clHighlightText);
    std::string part = Shown(FText.substr(static_cast<size_t>(SelStart()), static_cast<size_t>(SelLength())));
    DrawTextIn(c, part, sel, DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP, true);
  }
  if (Focused()) {
    c->Pen()->SetColor(clWindowText);
    c->MoveTo(x0 + caretX, y0);
    c->LineTo(x0 + caretX, y0 + h);
  }
}

// ---- TSpinEdit ----

namespace {
constexpr int kSpinButtonWidth = 15;
}

TSpinEdit::TSpinEdit(TComponent* owner) : TCustomEdit(owner) {
  SetInitialBounds(121, 22);
  FText = "0";
}

int TSpinEdit::Clamp(int value) const {
  if (FMinValue == 0 && FMaxValue == 0) return value;
  return std::clamp(value, FMinValue, std::max(FMinValue, FMaxValue));
}

int TSpinEdit::Value() const {
  char* end = nullptr;
  long v = std::strtol(FText.c_str(), &end, 10);
  if (end == FText.c_str()) return Clamp(FMinValue);
  return Clamp(static_cast<int>(std::clamp<long>(v, INT32_MIN, INT32_MAX)));
}

void TSpinEdit::SetValue(int value) { SetText(std::to_string(Clamp(value))); }

void TSpinEdit::KeyDown(WORD& key, TShiftState shift) {
  if (key == VK_UP || key == VK_DOWN) {
    TWinControl::KeyDown(key, shift);
    if (key == 0 || ReadOnly()) return;
    SetValue(Value() + (key == VK_UP ? FIncrement : -FIncrement));
    key = 0;
    return;
  }
  TCustomEdit::KeyDown(key, shift);
}

void TSpinEdit::KeyPress(char& key) {
  // Digits and a leading minus only, as the framework's spin edit takes them.
  unsigned char c = static_cast<unsigned char>(key);
  if (c >= 32 && !std::isdigit(c) && c != '-') key = 0;
  TCustomEdit::KeyPress(key);
}

void TSpinEdit::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (button == mbLeft && x >= Width() - kSpinButtonWidth - 2 && !ReadOnly()) {
    TWinControl::MouseDown(button, shift, x, y);
    SetValue(Value() + (y < Height() / 2 ? FIncrement : -FIncrement));
    return;
  }
  TCustomEdit::MouseDown(button, shift, x, y);
}

void TSpinEdit::DoExit() {
  int v = Value();
  if (std::to_string(v) != FText) SetText(std::to_string(v));
  TCustomEdit::DoExit();
}

void TSpinEdit::Paint() {
  TCustomEdit::Paint();
  TCanvas* c = ControlCanvas();
  int right = Width() - 2, top = 2, bottom = Height() - 2;
  TRect up = Rect(right - kSpinButtonWidth, top, right, (top + bottom) / 2);
  TRect down = Rect(right - kSpinButtonWidth, (top + bottom) / 2, right, bottom);
  TColor arrow = IsEnabledInTree() ? clBtnText : clGrayText;
  for (auto [r, dir] : {std::pair{up, adUp}, std::pair{down, adDown}}) {
    TRect f = r;
    DrawButtonFace(c, f, false, false);
    DrawArrow(c, r, dir, arrow);
  }
}

// ---- TMemo ----

TMemo::TMemo(TComponent* owner) : TCustomEdit(owner) {
  SetInitialBounds(185, 89);
  SetAutoSelect(false);
  FLines.OnChange = [this](TObject*) {
    if (FSyncing) return;
    std::string text;
    for (int i = 0; i < FLines.Count(); ++i) {
      if (i) text += "\r\n";
      text += FLines[i];
    }
    FSyncing = true;
    TCustomEdit::SetText(text);
    FSyncing = false;
    UpdateScroll();
  };
}

TMemo::~TMemo() { FLines.OnChange = nullptr; }

void TMemo::SetText(const std::string& value) {
  TCustomEdit::SetText(value);
  SyncLines();
}

void TMemo::SyncLines() {
  if (FSyncing) return;
  FSyncing = true;
  FLines.BeginUpdate();
  FLines.Clear();
  size_t start = 0;
  for (;;) {
    size_t end = FText.find('\n', start);
    std::string line = FText.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (end == std::string::npos) {
      if (!line.empty()) FLines.Add(line);
      break;
    }
    FLines.Add(line);
    start = end + 1;
  }
  FLines.EndUpdate();
  FSyncing = false;
  UpdateScroll();
}

void TMemo::Change() {
  SyncLines();
  TCustomEdit::Change();
}

void TMemo::SetScrollBars(TScrollStyle value) {
  FScrollBars = value;
  UpdateScroll();
}

UINT TMemo::DialogCode() {
  UINT code = DLGC_WANTARROWS;
  if (FWantTabs) code |= DLGC_WANTTAB;
  if (FWantReturns) code |= DLGC_WANTALLKEYS;
  return code;
}

std::vector<int> TMemo::LineStarts() const {
  std::vector<int> starts{0};
  for (int i = 0; i < static_cast<int>(FText.size()); ++i)
    if (FText[i] == '\n') starts.push_back(i + 1);
  return starts;
}

int TMemo::LineHeight() { return std::max(1, ControlCanvas()->TextHeight("Ag")); }

void TMemo::UpdateScroll() {
  if (FScrollBars != ssVertical && FScrollBars != ssBoth) return;
  SCROLLINFO si;
  si.fMask = SIF_ALL;
  si.nMin = 0;
  si.nMax = static_cast<int>(LineStarts().size()) - 1;
  si.nPage = static_cast<UINT>(std::max(1, (Height() - 4) / LineHeight()));
  si.nPos = FTopLine;
  ShowScrollBar(Handle(), SB_VERT, TRUE);
  SetScrollInfo(Handle(), SB_VERT, &si, TRUE);
  Invalidate();
}

void TMemo::KeyDown(WORD& key, TShiftState shift) {
  if (key == VK_UP || key == VK_DOWN || key == VK_HOME || key == VK_END) {
    TWinControl::KeyDown(key, shift);
    if (key == 0) return;
    std::vector<int> starts = LineStarts();
    int line = static_cast<int>(std::upper_bound(starts.begin(), starts.end(), FCaret) - starts.begin()) - 1;
    int lineEnd = line + 1 < static_cast<int>(starts.size()) ? starts[line + 1] - 1 : static_cast<int>(FText.size());
    if (lineEnd > starts[line] && FText[lineEnd - 1] == '\r') --lineEnd;
    bool ext = shift.Contains(ssShift);
    if (key == VK_HOME) MoveCaret(shift.Contains(ssCtrl) ? 0 : starts[line], ext);
    else if (key == VK_END) MoveCaret(shift.Contains(ssCtrl) ? static_cast<int>(FText.size()) : lineEnd, ext);
    else {
      int col = FCaret - starts[line];
      int target = key == VK_UP ? line - 1 : line + 1;
      if (target >= 0 && target < static_cast<int>(starts.size())) {
        int tEnd = target + 1 < static_cast<int>(starts.size()) ? starts[target + 1] - 1 : static_cast<int>(FText.size());
        if (tEnd > starts[target] && FText[tEnd - 1] == '\r') --tEnd;
        MoveCaret(std::min(starts[target] + col, tEnd), ext);
      }
    }
    key = 0;
    return;
  }
  TCustomEdit::KeyDown(key, shift);
}

void TMemo::KeyPress(char& key) {
  if (key == '\r') {
    TWinControl::KeyPress(key);
    if (key && FWantReturns && !ReadOnly()) Replace("\r\n");
    return;
  }
  if (key == '\t') {
    TWinControl::KeyPress(key);
    if (key && FWantTabs && !ReadOnly()) Replace("\t");
    return;
  }
  TCustomEdit::KeyPress(key);
}

void TMemo::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  TWinControl::MouseDown(button, shift, x, y);
  if (button != mbLeft) return;
  std::vector<int> starts = LineStarts();
  int line = std::clamp(FTopLine + (y - 2) / LineHeight(), 0, static_cast<int>(starts.size()) - 1);
  int end = line + 1 < static_cast<int>(starts.size()) ? starts[line + 1] - 1 : static_cast<int>(FText.size());
  if (end > starts[line] && FText[end - 1] == '\r') --end;
  std::string text = FText.substr(static_cast<size_t>(starts[line]), static_cast<size_t>(end - starts[line]));
  MoveCaret(PosAtX(text, starts[line], x - 3), shift.Contains(ssShift));
}

void TMemo::Paint() {
  TCanvas* c = ControlCanvas();
  TRect r = ClientRect();
  TColor fill = IsEnabledInTree() && !ReadOnly() ? Color() : (Color() == clWindow ? clBtnFace : Color());
  if (BorderStyle() == bsSingle) DrawSunkenBox(c, r, fill);
  r = InflateRect(r, -2, -1);
  int h = LineHeight();
  std::vector<int> starts = LineStarts();
  int selA = SelStart(), selB = SelStart() + SelLength();
  bool showSel = SelLength() > 0 && (Focused() || !HideSelection());
  for (int line = FTopLine, y = r.top; line < static_cast<int>(starts.size()) && y < r.bottom; ++line, y += h) {
    int a = starts[line];
    int b = line + 1 < static_cast<int>(starts.size()) ? starts[line + 1] - 1 : static_cast<int>(FText.size());
    if (b > a && FText[b - 1] == '\r') --b;
    std::string text = FText.substr(static_cast<size_t>(a), static_cast<size_t>(b - a));
    DrawTextIn(c, text, Rect(r.left, y, r.right, y + h), DT_SINGLELINE | DT_NOPREFIX | DT_EXPANDTABS, IsEnabledInTree());
    if (showSel && selA <= b && selB >= a) {
      int s0 = std::max(selA, a) - a, s1 = std::min(selB, b) - a;
      int x0 = r.left + TextWidthOf(c, text.substr(0, static_cast<size_t>(s0)));
      int x1 = r.left + TextWidthOf(c, text.substr(0, static_cast<size_t>(s1)));
      c->Brush()->SetColor(clHighlight);
      c->FillRect(Rect(x0, y, x1, y + h));
      c->Font()->SetColor(clHighlightText);
      DrawTextIn(c, text.substr(static_cast<size_t>(s0), static_cast<size_t>(s1 - s0)), Rect(x0, y, x1 + 1, y + h),
                 DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP, true);
      c->Font()->SetColor(Font()->Color());
    }
    if (Focused() && FCaret >= a && FCaret <= b) {
      int cx = r.left + TextWidthOf(c, text.substr(0, static_cast<size_t>(FCaret - a)));
      c->Pen()->SetColor(clWindowText);
      c->MoveTo(cx, y);
      c->LineTo(cx, y + h);
    }
  }
}

// ---- TCustomListBox ----

TCustomListBox::TCustomListBox(TComponent* owner) : TWinControl(owner) {
  SetInitialBounds(121, 97);
  // Clicks come from the selection, not from the button going up.
  SetControlStyle({csCaptureMouse, csDoubleClicks});
  SetTabStop(true);
  SetColor(clWindow);
  FItems.OnChange = [this](TObject*) { ItemsChanged(); };
}

TCustomListBox::~TCustomListBox() { FItems.OnChange = nullptr; }

void TCustomListBox::ItemsChanged() {
  FSelected.resize(static_cast<size_t>(Count()), false);
  if (FItemIndex >= Count() || Count() == 0) FItemIndex = -1;
  FTopIndex = std::clamp(FTopIndex, 0, std::max(0, Count() - 1));
  UpdateScroll();
  Invalidate();
}

void TCustomListBox::SetItemIndex(int value) {
  if (value < -1 || value >= Count()) value = -1;
  if (FMultiSelect) {
    std::fill(FSelected.begin(), FSelected.end(), false);
    if (value >= 0) FSelected[value] = true;
  }
  FItemIndex = value;
  if (value >= 0) MakeVisible(value);
  Invalidate();
}

bool TCustomListBox::Selected(int index) const {
  if (index < 0 || index >= Count()) throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  return FMultiSelect ? FSelected[index] : index == FItemIndex;
}

void TCustomListBox::SetSelected(int index, bool value) {
  if (index < 0 || index >= Count()) throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  if (FMultiSelect) FSelected[index] = value;
  else if (value) FItemIndex = index;
  else if (FItemIndex == index) FItemIndex = -1;
  Invalidate();
}

int TCustomListBox::SelCount() const {
  if (!FMultiSelect) return -1;
  return static_cast<int>(std::count(FSelected.begin(), FSelected.end(), true));
}

int TCustomListBox::HeightOf(int index) {
  int h = FItemHeight;
  if (FStyle == lbStandard) h = std::max(ControlCanvas()->TextHeight("Ag"), 1);
  if (FStyle == lbOwnerDrawVariable && OnMeasureItem) OnMeasureItem(this, index, h);
  return std::max(h, 1);
}

TRect TCustomListBox::ItemRect(int index) {
  TRect cr = ClientRect();
  int border = FBorderStyle == bsSingle ? 2 : 0;
  int y = border;
  for (int i = FTopIndex; i < index && i < Count(); ++i) y += HeightOf(i);
  if (index < FTopIndex) return TRect{};
  return Rect(border, y, cr.right - border, y + HeightOf(index));
}

int TCustomListBox::ItemAtPos(TPoint pos, bool existing) {
  int border = FBorderStyle == bsSingle ? 2 : 0;
  int y = border;
  for (int i = FTopIndex; i < Count(); ++i) {
    int h = HeightOf(i);
    if (pos.y >= y && pos.y < y + h) return i;
    y += h;
  }
  return existing ? -1 : Count();
}

void TCustomListBox::SetTopIndex(int value) {
  FTopIndex = std::clamp(value, 0, std::max(0, Count() - 1));
  UpdateScroll();
  Invalidate();
}

void TCustomListBox::MakeVisible(int index) {
  if (index < FTopIndex) {
    SetTopIndex(index);
    return;
  }
  int visible = ClientHeight() - (FBorderStyle == bsSingle ? 4 : 0);
  for (;;) {
    int y = 0;
    for (int i = FTopIndex; i <= index; ++i) y += HeightOf(i);
    if (y <= visible || FTopIndex >= index) break;
    ++FTopIndex;
  }
  UpdateScroll();
}

void TCustomListBox::UpdateScroll() {
  int total = 0;
  for (int i = 0; i < Count(); ++i) total += HeightOf(i);
  int visible = Height() - (FBorderStyle == bsSingle ? 4 : 0);
  bool need = total > visible && Count() > 0;
  ShowScrollBar(Handle(), SB_VERT, need);
  if (need) {
    SCROLLINFO si;
    si.fMask = SIF_ALL;
    si.nMax = Count() - 1;
    si.nPage = static_cast<UINT>(std::max(1, visible / std::max(HeightOf(0), 1)));
    si.nPos = FTopIndex;
    SetScrollInfo(Handle(), SB_VERT, &si, TRUE);
  }
}

void TCustomListBox::Resize() {
  TWinControl::Resize();
  UpdateScroll();
}

void TCustomListBox::DrawItem(int index, const TRect& rect, TOwnerDrawState state) {
  TCanvas* c = ControlCanvas();
  if (FStyle != lbStandard && OnDrawItem) {
    c->Brush()->SetColor(state.Contains(odSelected) ? clHighlight : Color());
    c->Font()->SetColor(state.Contains(odSelected) ? clHighlightText : Font()->Color());
    OnDrawItem(this, index, rect, state);
    return;
  }
  c->Brush()->SetColor(state.Contains(odSelected) ? clHighlight : Color());
  c->FillRect(rect);
  c->Font()->SetColor(state.Contains(odSelected) ? clHighlightText : Font()->Color());
  TRect tr = rect;
  tr.left += 2;
  DrawTextIn(c, FItems[index], tr, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX, IsEnabledInTree());
}

void TCustomListBox::Paint() {
  TCanvas* c = ControlCanvas();
  TRect r = ClientRect();
  if (FBorderStyle == bsSingle) DrawSunkenBox(c, r, Color());
  for (int i = FTopIndex; i < Count(); ++i) {
    TRect ir = ItemRect(i);
    if (ir.top >= r.bottom) break;
    TOwnerDrawState state;
    if (Selected(i)) state += odSelected;
    if (Focused() && i == FItemIndex) state += odFocused;
    if (!IsEnabledInTree()) state += odDisabled;
    DrawItem(i, ir, state);
    c->Font()->Assign(Font());
    if (state.Contains(odFocused)) c->DrawFocusRect(ir);
  }
}

void TCustomListBox::UserSelect(int index) {
  if (index < 0 || index >= Count()) return;
  bool changed = index != FItemIndex;
  SetItemIndex(index);
  if (changed) Click();
}

void TCustomListBox::KeyDown(WORD& key, TShiftState shift) {
  TWinControl::KeyDown(key, shift);
  int page = std::max(1, (ClientHeight() - 4) / std::max(HeightOf(0), 1));
  int target = FItemIndex;
  switch (key) {
    case VK_UP: target = std::max(0, FItemIndex - 1); break;
    case VK_DOWN: target = std::min(Count() - 1, FItemIndex + 1); break;
    case VK_HOME: target = 0; break;
    case VK_END: target = Count() - 1; break;
    case VK_PRIOR: target = std::max(0, FItemIndex - page); break;
    case VK_NEXT: target = std::min(Count() - 1, FItemIndex + page); break;
    default: return;
  }
  UserSelect(target);
  key = 0;
}

void TCustomListBox::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (button == mbLeft && shift.Contains(ssDouble)) {
    DblClick();
  } else if (button == mbLeft) {
    int i = ItemAtPos(Point(x, y), true);
    if (i >= 0) {
      if (FMultiSelect && shift.Contains(ssCtrl)) {
        FSelected[i] = !FSelected[i];
        FItemIndex = i;
        Invalidate();
        Click();
      } else {
        UserSelect(i);
      }
    }
  }
  TWinControl::MouseDown(button, shift, x, y);
}

void TCustomListBox::MouseMove(TShiftState shift, int x, int y) {
  TWinControl::MouseMove(shift, x, y);
  if (ControlState().Contains(csLButtonDown) && !FMultiSelect) {
    int i = ItemAtPos(Point(x, y), true);
    if (i >= 0 && i != FItemIndex) UserSelect(i);
  }
}

bool TCustomListBox::DoMouseWheel(TShiftState shift, int wheelDelta, TPoint mousePos) {
  if (TWinControl::DoMouseWheel(shift, wheelDelta, mousePos)) return true;
  SetTopIndex(FTopIndex - wheelDelta / WHEEL_DELTA * 3);
  return true;
}

// ---- TComboBox ----

// The drop-down list of a combo box: a popup form with a list box in it.
class TComboListForm : public TCustomForm {
public:
  explicit TComboListForm(TComboBox* combo) : TCustomForm(nullptr), FCombo(combo) {
    SetWindowKind(wkPopup);
    SetTakesKeys(true);
    SetBorderStyle(bsNone);
    FList = new TListBox(this);
    FList->SetParent(this);
    FList->SetAlign(alClient);
    FList->SetBorderStyle(bsSingle);
    FList->Font()->Assign(combo->Font());
    FList->Items()->Assign(combo->Items());
    if (combo->IsOwnerDraw()) {
      FList->SetStyle(combo->Style() == csOwnerDrawFixed ? lbOwnerDrawFixed : lbOwnerDrawVariable);
      FList->SetItemHeight(combo->ItemHeight());
      FList->OnDrawItem = [this](TWinControl*, int index, const TRect& rect, TOwnerDrawState state) {
        FCombo->DrawItem(FList->Canvas(), index, rect, state);
      };
      FList->OnMeasureItem = [this](TWinControl*, int index, int& h) {
        if (FCombo->OnMeasureItem) FCombo->OnMeasureItem(FCombo, index, h);
      };
    }
    FList->SetItemIndex(combo->ItemIndex());
    FList->OnClick = [this](TObject*) {
      if (!FKeying) Finish(FList->ItemIndex());
    };
    FList->OnKeyDown = [this](TObject*, WORD& key, TShiftState) {
      if (key == VK_RETURN) Finish(FList->ItemIndex());
      else if (key == VK_ESCAPE) Finish(-2);
      else if (key == VK_UP || key == VK_DOWN) {
        // Keys move the selection without closing the list.
        FKeying = true;
        int i = std::clamp(FList->ItemIndex() + (key == VK_UP ? -1 : 1), 0, FList->Count() - 1);
        FList->SetItemIndex(i);
        FKeying = false;
        key = 0;
      }
    };
    int rows = std::max(1, std::min(combo->DropDownCount(), combo->Items()->Count()));
    int h = combo->IsOwnerDraw() ? combo->ItemHeight() : combo->Canvas()->TextHeight("Ag");
    SetBounds(0, 0, combo->Width(), rows * h + 4);
    SetActiveControl(FList);
  }
  void Finish(int index) {
    FChosen = index;
    FDone = true;
  }
  void DismissPopup() override { Finish(-2); }
  bool Done() const { return FDone; }
  int Chosen() const { return FChosen; }
  TListBox* List() const { return FList; }

private:
  TComboBox* FCombo;
  TListBox* FList;
  bool FKeying = false;
  bool FDone = false;
  int FChosen = -2;
};

TComboBox::TComboBox(TComponent* owner) : TWinControl(owner) {
  SetInitialBounds(145, 21);
  SetControlStyle({csCaptureMouse, csDoubleClicks});
  SetTabStop(true);
  SetColor(clWindow);
  FItems.OnChange = [this](TObject*) {
    if (FItemIndex >= FItems.Count()) FItemIndex = -1;
    Invalidate();
  };
}

TComboBox::~TComboBox() { FItems.OnChange = nullptr; }

std::string TComboBox::Text() const {
  if (!Editable()) return FItemIndex >= 0 ? FItems[FItemIndex] : std::string();
  return FEditText;
}

void TComboBox::SetText(const std::string& value) {
  if (!Editable()) {
    // A list-only combo shows an item: the text picks it.
    SetItemIndex(FItems.IndexOf(value));
    return;
  }
  if (value == FEditText) return;
  FEditText = value;
  FItemIndex = FItems.IndexOf(value);
  Invalidate();
}

void TComboBox::SetItemIndex(int value) {
  if (value < -1 || value >= FItems.Count()) value = -1;
  FItemIndex = value;
  FEditText = value >= 0 ? FItems[value] : std::string();
  Invalidate();
}

void TComboBox::UserSelect(int index) {
  if (index < 0 || index >= FItems.Count()) return;
  FItemIndex = index;
  FEditText = FItems[index];
  Invalidate();
  Click();
  if (OnSelect) OnSelect(this);
  else if (OnChange) OnChange(this);
}

void TComboBox::DrawItem(TCanvas* canvas, int index, const TRect& rect, TOwnerDrawState state) {
  canvas->Brush()->SetColor(state.Contains(odSelected) ? clHighlight : Color());
  canvas->Font()->SetColor(state.Contains(odSelected) ? clHighlightText : Font()->Color());
  if (IsOwnerDraw() && OnDrawItem) {
    // The handler draws on the combo's canvas in the framework; here the canvas
    // being painted is lent to it for the call.
    TCanvas* own = ControlCanvas();
    if (canvas != own) {
      own->SetHandle(canvas->Handle());
      own->Brush()->Assign(canvas->Brush());
      own->Font()->Assign(canvas->Font());
      OnDrawItem(this, index, rect, state);
      own->SetHandle(nullptr);
    } else {
      OnDrawItem(this, index, rect, state);
    }
    return;
  }
  canvas->FillRect(rect);
  TRect tr = rect;
  tr.left += 2;
  if (index >= 0 && index < FItems.Count())
    DrawTextIn(canvas, FItems[index], tr, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX, IsEnabledInTree());
}

void TComboBox::Paint() {
  TCanvas* c = ControlCanvas();
  TRect r = ClientRect();
  DrawSunkenBox(c, r, IsEnabledInTree() ? Color() : clBtnFace);
  int bw = GetSystemMetrics(SM_CXVSCROLL);
  TRect button = Rect(r.right - bw, r.top, r.right, r.bottom);
  TRect face = button;
  DrawButtonFace(c, face, FDroppedDown, false);
  DrawArrow(c, button, adDown, IsEnabledInTree() ? clBtnText : clGrayText);
  TRect text = Rect(r.left + 1, r.top + 1, button.left - 1, r.bottom - 1);
  TOwnerDrawState state{odComboBoxEdit};
  if (Focused() && !Editable()) state += odSelected;
  if (Focused()) state += odFocused;
  if (IsOwnerDraw() && FItemIndex >= 0) {
    DrawItem(c, FItemIndex, text, state);
  } else {
    c->Brush()->SetColor(state.Contains(odSelected) ? clHighlight : Color());
    c->FillRect(text);
    c->Font()->SetColor(state.Contains(odSelected) ? clHighlightText : Font()->Color());
    TRect tr = text;
    tr.left += 2;
    DrawTextIn(c, Text(), tr, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX, IsEnabledInTree());
  }
  c->Font()->Assign(Font());
  if (Focused() && !Editable()) c->DrawFocusRect(text);
}

void TComboBox::DropDown() {
  if (FDroppedDown || FItems.Count() == 0) return;
  if (OnDropDown) OnDropDown(this);
  TComboListForm list(this);
  TPoint at = ClientToScreen(Point(0, Height()));
  list.SetBounds(at.x, at.y, list.Width(), list.Height());
  FDroppedDown = true;
  Invalidate();
  list.Show();
  try {
    while (!list.Done() && !Application->Terminated()) {
      Application->HandleMessage();
      if (ActivePopupForm() && ActivePopupForm() != &list) break;
    }
  } catch (...) {
    FDroppedDown = false;
    throw;
  }
  list.Hide();
  FDroppedDown = false;
  Invalidate();
  if (list.Chosen() >= 0 && list.Chosen() != FItemIndex) UserSelect(list.Chosen());
  if (OnCloseUp) OnCloseUp(this);
}

void TComboBox::CloseUp() {}

void TComboBox::KeyDown(WORD& key, TShiftState shift) {
  TWinControl::KeyDown(key, shift);
  switch (key) {
    case VK_UP:
    case VK_DOWN:
      if (shift.Contains(ssAlt)) {
        DropDown();
      } else {
        int i = std::clamp(FItemIndex + (key == VK_UP ? -1 : 1), 0, FItems.Count() - 1);
        if (i != FItemIndex) UserSelect(i);
      }
      break;
    case VK_F4: DropDown(); break;
    default: return;
  }
  key = 0;
}

void TComboBox::KeyPress(char& key) {
  TWinControl::KeyPress(key);
  if (key == 0 || !Editable()) return;
  unsigned char c = static_cast<unsigned char>(key);
  if (c == VK_BACK) {
    if (!FEditText.empty()) {
      size_t cut = FEditText.size() - 1;
      while (cut > 0 && (static_cast<unsigned char>(FEditText[cut]) & 0xC0) == 0x80) --cut;
      FEditText.resize(cut);
    }
  } else if (c >= 32) {
    FEditText += key;
  } else {
    return;
  }
  FItemIndex = FItems.IndexOf(FEditText);
  Invalidate();
  if (OnChange) OnChange(this);
}

void TComboBox::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  TWinControl::MouseDown(button, shift, x, y);
  int bw = GetSystemMetrics(SM_CXVSCROLL);
  if (button == mbLeft && (!Editable() || x >= Width() - bw - 2)) {
    SetMouseCapture(false);
    DropDown();
  }
}

bool TComboBox::DoMouseWheel(TShiftState shift, int wheelDelta, TPoint mousePos) {
  if (TWinControl::DoMouseWheel(shift, wheelDelta, mousePos)) return true;
  int i = std::clamp(FItemIndex - wheelDelta / WHEEL_DELTA, 0, FItems.Count() - 1);
  if (i != FItemIndex) UserSelect(i);
  return true;
}
