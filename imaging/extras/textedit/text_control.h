#pragma once
// TIETextControl: the library's own editor of formatted memo text, and the
// layout that draws memos. Every character of its single-byte text has a format
// record of its own (shared between equal formats); the control edits with the
// keyboard, the mouse and the clipboard (CF_TEXT and the private format
// "IMAGELIB TEXTMEMO", which keeps the formats), lays the text out with word
// wrap, margins, alignment, justification, line spacing and zoom, and shows a
// caret and a selection.
//
// Memo painters use it without a window (see text_memo_painter.h): lend the
// text, LoadText, LayoutText onto the drawing canvas, take the text back.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imaging/core/ie_canvas.h"
#include "imaging/extras/textedit/text_format.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/ui/controls.h"

// The text of a memo with its formats. While lent to a control, the control
// owns them (it may grow them); the owner takes them back with TakeMemo. An
// empty index list or format list means none yet: LoadText makes them.
struct TIEMemoText {
  std::string Text;                      // Windows-1252 bytes, LF line breaks
  std::vector<int32_t> CharFormatIndex;  // one record index per character
  TIETextFormats CharFormats;            // the records
};

// The private clipboard format of memo text: the characters, a zero byte, then
// one 280-byte format record per character. Registered by the library's
// start-up (0 before).
UINT TextMemoClipboardFormat();
void RegisterTextMemoClipboardFormat();

// The twelve Ctrl shortcuts of the editor, in the order of their actions:
// align left, centre, align right, justify, copy, cut, paste, font dialog,
// bold, italic, underline, background colour dialog.
extern const TShortCut kTextEditShortcuts[12];

class TIETextControl : public TCustomControl {
public:
  explicit TIETextControl(TComponent* owner);
  ~TIETextControl() override;

  // ---- lending the text ----
  // The owner gives its memo (moved in), then calls LoadText.
  void LendMemo(TIEMemoText memo) { FMemo = std::move(memo); }
  // Gives the memo back (moved out); the control is left without text.
  TIEMemoText TakeMemo();
  const TIEMemoText& Memo() const { return FMemo; }
  // Clears selection and caret, makes the index and format lists when missing
  // (one record from Font, CharBackBrush and DefaultAlignment), recounts every
  // record's RefCount from the index list, sizes the layout caches, rebuilds
  // CurrentFormat and paints the background into BackBitmap.
  void LoadText();

  // ---- layout and painting ----
  // Lays the text out into the box at (x, y), width x height unzoomed pixels,
  // and draws it onto the canvas scaled by Zoom; fills the caches and the caret
  // rectangle; may change the control's height (AutoHeight).
  void LayoutText(TIECanvas* canvas, int x, int y, int width, int height);
  // Clears every layout cache, invalidates and paints now (a shown control), so
  // the caret moves that follow see a fresh layout.
  void Update();
  // Drops records no character uses, renumbering the index list.
  void PackFormats();

  // ---- editing ----
  void InsertChar(char ch);
  // Inserts at the caret as InsertChar would one by one: in CurrentFormat, or
  // with records (one 280-byte record a character) each becoming CurrentFormat.
  void InsertText(const std::string& chars, const uint8_t* records);
  void DeleteChar(int index);
  void DeleteSelection();
  void ClearSelection() { FSelStart = FSelEnd = 0; }
  void SetCharFormat(int index, const TIETextFormat& format) { PutCharFormat(index, format, false); }
  // The record of the character at index (clamped); nullptr for an empty text.
  const TIETextFormat* GetCharFormat(int index) const;
  void CopyToClipboard();
  void PasteFromClipboard();
  void SetParagraphAlignment(uint8_t alignment);
  void ToggleSelectionStyle(int bit);
  void SetSelectionFont(TFont* font);
  void SetSelectionBackColor(TColor color);
  void EnlargeSelectionFont();
  void ReduceSelectionFont();

  // ---- state ----
  int TextLength() const { return static_cast<int>(FMemo.Text.size()); }
  int Caret() const { return FCaret; }
  void SetCaret(int value) { FCaret = std::clamp(value, 0, TextLength()); }
  int SelStart() const { return FSelStart; }
  int SelEnd() const { return FSelEnd; }
  void SetSelection(int start, int end);
  bool InsertMode() const { return FInsertMode; }
  void SetInsertMode(bool value) { FInsertMode = value; }
  const TIETextFormat& CurrentFormat() const { return FCurrentFormat; }
  void SetCurrentFormat(const TIETextFormat& value) { FCurrentFormat = value; }
  // Layout results, per character (TextLength + 1 entries): -1 = not laid out.
  int CharX(int index) const { return FCharX.at(static_cast<size_t>(index)); }
  int CharLineTop(int index) const { return FCharLineTop.at(static_cast<size_t>(index)); }
  int CharWidth(int index) const { return FCharWidth.at(static_cast<size_t>(index)); }
  int CharHeight(int index) const { return FCharHeight.at(static_cast<size_t>(index)); }
  int CaretX() const { return FCaretX; }
  int CaretY() const { return FCaretY; }
  int CaretHeight() const { return FCaretHeight; }

  // ---- settings ----
  double Zoom() const { return FZoom; }
  void SetZoom(double value) { FZoom = value > 0 ? value : 1.0; }
  // Left, top, right, bottom, percent of the box.
  double Margin(int side) const { return FMargins[side & 3]; }
  void SetMargins(double left, double top, double right, double bottom);
  TBrush* CharBackBrush() { return &FCharBackBrush; }
  TBrush* BoxBrush() { return &FBoxBrush; }
  TPen* BorderPen() { return &FBorderPen; }
  uint8_t DefaultAlignment() const { return FDefaultAlignment; }
  void SetDefaultAlignment(uint8_t value) { FDefaultAlignment = value & 3; }
  bool DrawingAlpha() const { return FDrawingAlpha; }
  void SetDrawingAlpha(bool value) { FDrawingAlpha = value; }
  bool FixedFont() const { return FFixedFont; }
  void SetFixedFont(bool value);
  bool AutoHeight() const { return FAutoHeight; }
  void SetAutoHeight(bool value) { FAutoHeight = value; }
  int LineSpacing() const { return FLineSpacing; }
  void SetLineSpacing(int value) { FLineSpacing = value; }
  int FixedLineHeight() const { return FFixedLineHeight; }
  void SetFixedLineHeight(int value) { FFixedLineHeight = value; }
  TBitmap* BackBitmap() { return &FBackBitmap; }
  // The owner's back buffer shown through a box brush that is not solid (not owned).
  TBitmap* BackgroundBitmap() const { return FBackgroundBitmap; }
  void SetBackgroundBitmap(TBitmap* value) { FBackgroundBitmap = value; }

  TNotifyEvent OnCursorMoved;

  // Keys the framework would use for navigation are the editor's own.
  UINT DialogCode() override { return DLGC_WANTARROWS | DLGC_WANTTAB | DLGC_WANTALLKEYS | DLGC_WANTCHARS; }
  bool FocusOnClick() const override { return true; }
  void WndProc(TMessage& message) override;

protected:
  void Paint() override;
  void KeyDown(WORD& key, TShiftState shift) override;
  void KeyPress(char& key) override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseMove(TShiftState shift, int x, int y) override;
  void Resize() override;
  void EraseBackground(TCanvas*) override {}

private:
  // Caret movement; each returns whether the caret moved.
  bool MoveLeft();
  bool MoveRight();
  bool MoveWordLeft();
  bool MoveWordRight();
  bool MoveLineStart();
  bool MoveLineEnd();
  bool MoveLineUp();
  bool MoveLineDown();
  void MoveToPoint(int x, int y);
  void SelectWord();
  // The selection after the caret moved from old (with Shift or not).
  void FollowSelection(int old, bool shift);
  void FormatBeforeCaret();
  // Runs a change over each selected character and over CurrentFormat.
  template <class F> void ChangeSelection(F change);
  void ClearCaches(int from);
  void GrowCaches();
  void PaintBackground();
  void Cut();
  void Paste();
  bool ShortcutAction(TShortCut sc);

  // Points the character at the record of that format (adding it when new);
  // a character just inserted has no old record to release.
  void PutCharFormat(int index, const TIETextFormat& format, bool inserted);
  // Layout steps.
  void ApplyCharFormat(int index, TIECanvas* canvas);
  void MeasureChar(int index, TIECanvas* canvas);

  TIEMemoText FMemo;
  TIETextFormat FCurrentFormat;
  int FCaret = 0;
  int FSelStart = 0;
  int FSelEnd = 0;
  bool FInsertMode = true;
  std::vector<int32_t> FCharX, FCharLineTop, FCharWidth, FCharHeight, FCharLeading, FCharDescent;
  int FCaretX = 0;
  int FCaretY = 0;
  int FCaretHeight = 0;
  int FLastClickX = 0;
  int FLastClickY = 0;
  double FZoom = 1.0;
  double FMargins[4] = {0, 0, 0, 0};
  TBrush FCharBackBrush;
  TBrush FBoxBrush;
  TPen FBorderPen;
  uint8_t FDefaultAlignment = 0;
  bool FDrawingAlpha = false;
  bool FFixedFont = false;
  bool FAutoHeight = false;
  int FLineSpacing = 0;
  int FFixedLineHeight = 0;
  TBitmap FBackBitmap;
  TBitmap* FBackgroundBitmap = nullptr;
  bool FPainting = false;
  // The layout stopped early (AutoHeight grew the control).
  bool FLayoutStopped = false;
  // The format whose font metrics FMetrics holds during one layout (-2 none, -1 the fixed font).
  int32_t FMetricsFormat = -2;
  int FMetrics[3] = {0, 0, 0};
};
