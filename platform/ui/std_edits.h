#pragma once
// Controls that hold text or lists: edits, memos, list boxes and combo boxes.
#include <functional>
#include <string>
#include <vector>

#include "platform/rtl/strings.h"
#include "platform/ui/controls.h"

enum TEditCharCase : uint8_t { ecNormal, ecUpperCase, ecLowerCase };

// An edit field: caret, selection, clipboard, one level of undo. Text is UTF-8;
// selection positions count bytes and always fall between characters.
class TCustomEdit : public TWinControl {
public:
  explicit TCustomEdit(TComponent* owner);
  std::string Text() const override { return FText; }
  // Setting the text in code fires OnChange, as the framework does.
  void SetText(const std::string& value) override;
  int MaxLength() const { return FMaxLength; }
  void SetMaxLength(int value) { FMaxLength = std::max(0, value); }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool value) { FReadOnly = value; Invalidate(); }
  TEditCharCase CharCase() const { return FCharCase; }
  void SetCharCase(TEditCharCase value);
  char PasswordChar() const { return FPasswordChar; }
  void SetPasswordChar(char value) { FPasswordChar = value; Invalidate(); }
  TBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TBorderStyle value) { FBorderStyle = value; Invalidate(); }
  bool AutoSelect() const { return FAutoSelect; }
  void SetAutoSelect(bool value) { FAutoSelect = value; }
  bool HideSelection() const { return FHideSelection; }
  void SetHideSelection(bool value) { FHideSelection = value; }
  bool Modified() const { return FModified; }
  void SetModified(bool value) { FModified = value; }

  int SelStart() const { return std::min(FAnchor, FCaret); }
  void SetSelStart(int value);
  int SelLength() const { return std::abs(FCaret - FAnchor); }
  void SetSelLength(int value);
  std::string SelText() const { return FText.substr(static_cast<size_t>(SelStart()), static_cast<size_t>(SelLength())); }
  // Replaces the selection as typing would (no change for a read-only edit).
  void SetSelText(const std::string& value);
  void SelectAll();
  void ClearSelection();
  void Clear() { SetText(""); }
  void CopyToClipboard();
  void CutToClipboard();
  void PasteFromClipboard();
  bool CanUndo() const { return FCanUndo; }
  // Takes back the last change; undoing again redoes it, as edit fields do.
  void Undo();
  void ClearUndo() { FCanUndo = false; }
  bool FocusOnClick() const override { return true; }
  void DefaultHandler(TMessage& message) override;

  TNotifyEvent OnChange;

protected:
  void Paint() override;
  void KeyDown(WORD& key, TShiftState shift) override;
  void KeyPress(char& key) override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseMove(TShiftState shift, int x, int y) override;
  void DoEnter() override;
  virtual void Change();
  // Puts text in place of the selection, keeping what undo needs.
  void Replace(const std::string& text);
  // Byte position of the character boundary before/after pos.
  int PrevChar(int pos) const;
  int NextChar(int pos) const;
  std::string Shown(const std::string& text) const;
  // The caret position nearest to x in a line of text, drawn from left.
  int PosAtX(const std::string& line, int lineStart, int x);
  void MoveCaret(int pos, bool extend);
  void ApplyCase(std::string& text) const;
  virtual bool Multiline() const { return false; }

  std::string FText;
  int FCaret = 0;
  int FAnchor = 0;
  int FScrollX = 0;

private:
  int FMaxLength = 0;
  bool FReadOnly = false;
  TEditCharCase FCharCase = ecNormal;
  char FPasswordChar = 0;
  TBorderStyle FBorderStyle = bsSingle;
  bool FAutoSelect = true;
  bool FHideSelection = true;
  bool FModified = false;
  bool FCanUndo = false;
  std::string FUndoText;
  int FUndoCaret = 0;
};

class TEdit : public TCustomEdit {
public:
  explicit TEdit(TComponent* owner) : TCustomEdit(owner) {}
};

// An edit for a whole number with up and down buttons at its right edge.
class TSpinEdit : public TCustomEdit {
public:
  explicit TSpinEdit(TComponent* owner);
  // The number in the text, kept within MinValue..MaxValue (no limit when both are 0).
  int Value() const;
  // Sets the text, which fires OnChange.
  void SetValue(int value);
  int MinValue() const { return FMinValue; }
  void SetMinValue(int value) { FMinValue = value; SetValue(Value()); }
  int MaxValue() const { return FMaxValue; }
  void SetMaxValue(int value) { FMaxValue = value; SetValue(Value()); }
  int Increment() const { return FIncrement; }
  void SetIncrement(int value) { FIncrement = value; }
  UINT DialogCode() override { return DLGC_WANTARROWS; }

protected:
  void Paint() override;
  void KeyDown(WORD& key, TShiftState shift) override;
  void KeyPress(char& key) override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void DoExit() override;

private:
  int Clamp(int value) const;
  int FMinValue = 0;
  int FMaxValue = 0;
  int FIncrement = 1;
};

enum TScrollStyle : uint8_t { ssNone, ssHorizontal, ssVertical, ssBoth };

class TMemo : public TCustomEdit {
public:
  explicit TMemo(TComponent* owner);
  ~TMemo() override;
  // The lines, kept in step with the text both ways.
  TStrings* Lines() { return &FLines; }
  void SetText(const std::string& value) override;
  bool WordWrap() const { return FWordWrap; }
  void SetWordWrap(bool value) { FWordWrap = value; Invalidate(); }
  bool WantReturns() const { return FWantReturns; }
  void SetWantReturns(bool value) { FWantReturns = value; }
  bool WantTabs() const { return FWantTabs; }
  void SetWantTabs(bool value) { FWantTabs = value; }
  TScrollStyle ScrollBars() const { return FScrollBars; }
  void SetScrollBars(TScrollStyle value);
  UINT DialogCode() override;
  // The first line shown.
  int TopLine() const { return FTopLine; }

protected:
  void Paint() override;
  void KeyDown(WORD& key, TShiftState shift) override;
  void KeyPress(char& key) override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void Change() override;
  bool Multiline() const override { return true; }

private:
  // Start offsets of the lines of the text.
  std::vector<int> LineStarts() const;
  int LineHeight();
  void SyncLines();
  void UpdateScroll();
  TStringList FLines;
  bool FSyncing = false;
  bool FWordWrap = true;
  bool FWantReturns = true;
  bool FWantTabs = false;
  TScrollStyle FScrollBars = ssNone;
  int FTopLine = 0;
};

enum TOwnerDrawStateItem : uint8_t {
  odSelected, odGrayed, odDisabled, odChecked, odFocused, odDefault, odHotLight, odInactive, odNoAccel,
  odNoFocusRect, odReserved1, odReserved2, odComboBoxEdit
};
using TOwnerDrawState = TSet<TOwnerDrawStateItem>;
using TDrawItemEvent = std::function<void(TWinControl* control, int index, const TRect& rect, TOwnerDrawState state)>;
using TMeasureItemEvent = std::function<void(TWinControl* control, int index, int& height)>;

enum TListBoxStyle : uint8_t { lbStandard, lbOwnerDrawFixed, lbOwnerDrawVariable, lbVirtual, lbVirtualOwnerDraw };

class TCustomListBox : public TWinControl {
public:
  explicit TCustomListBox(TComponent* owner);
  ~TCustomListBox() override;
  TStrings* Items() { return &FItems; }
  int Count() const { return FItems.Count(); }
  int ItemIndex() const { return FItemIndex; }
  // Selects the item in code: no OnClick, as the framework does.
  void SetItemIndex(int value);
  bool MultiSelect() const { return FMultiSelect; }
  void SetMultiSelect(bool value) { FMultiSelect = value; FSelected.assign(static_cast<size_t>(Count()), false); Invalidate(); }
  bool Selected(int index) const;
  void SetSelected(int index, bool value);
  int SelCount() const;
  TListBoxStyle Style() const { return FStyle; }
  void SetStyle(TListBoxStyle value) { FStyle = value; Invalidate(); }
  int ItemHeight() const { return FItemHeight; }
  void SetItemHeight(int value) { FItemHeight = std::max(1, value); Invalidate(); }
  int TopIndex() const { return FTopIndex; }
  void SetTopIndex(int value);
  bool Sorted() const { return FItems.Sorted(); }
  void SetSorted(bool value) { FItems.SetSorted(value); }
  TBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TBorderStyle value) { FBorderStyle = value; Invalidate(); }
  // The index of the item at a client point; -1 (or the one past the last, when
  // existing is false) where there is none.
  int ItemAtPos(TPoint pos, bool existing);
  TRect ItemRect(int index);
  TCanvas* Canvas() { return ControlCanvas(); }
  void Clear() {
    FItems.Clear();
    SetItemIndex(-1);
  }
  bool FocusOnClick() const override { return true; }
  UINT DialogCode() override { return DLGC_WANTARROWS; }

  TDrawItemEvent OnDrawItem;
  TMeasureItemEvent OnMeasureItem;

protected:
  void Paint() override;
  void KeyDown(WORD& key, TShiftState shift) override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseMove(TShiftState shift, int x, int y) override;
  bool DoMouseWheel(TShiftState shift, int wheelDelta, TPoint mousePos) override;
  void Resize() override;
  virtual void DrawItem(int index, const TRect& rect, TOwnerDrawState state);
  int HeightOf(int index);
  // Selects by the user: OnClick follows.
  void UserSelect(int index);
  void MakeVisible(int index);
  void UpdateScroll();

private:
  void ItemsChanged();
  TStringList FItems;
  std::vector<bool> FSelected;
  int FItemIndex = -1;
  bool FMultiSelect = false;
  TListBoxStyle FStyle = lbStandard;
  int FItemHeight = 16;
  int FTopIndex = 0;
  TBorderStyle FBorderStyle = bsSingle;
};

class TListBox : public TCustomListBox {
public:
  explicit TListBox(TComponent* owner) : TCustomListBox(owner) {}
};

enum TComboBoxStyle : uint8_t { csDropDown, csSimple, csDropDownList, csOwnerDrawFixed, csOwnerDrawVariable };

class TComboBox : public TWinControl {
public:
  explicit TComboBox(TComponent* owner);
  ~TComboBox() override;
  TStrings* Items() { return &FItems; }
  int ItemIndex() const { return FItemIndex; }
  // Selects in code: the text follows, no OnChange or OnClick.
  void SetItemIndex(int value);
  std::string Text() const override;
  void SetText(const std::string& value) override;
  TComboBoxStyle Style() const { return FStyle; }
  void SetStyle(TComboBoxStyle value) { FStyle = value; Invalidate(); }
  int DropDownCount() const { return FDropDownCount; }
  void SetDropDownCount(int value) { FDropDownCount = std::max(1, value); }
  int ItemHeight() const { return FItemHeight; }
  void SetItemHeight(int value) { FItemHeight = std::max(1, value); }
  bool Sorted() const { return FItems.Sorted(); }
  void SetSorted(bool value) { FItems.SetSorted(value); }
  bool DroppedDown() const { return FDroppedDown; }
  // Shows the list and runs it until an item is chosen or the list is dismissed.
  void DropDown();
  void CloseUp();
  TCanvas* Canvas() { return ControlCanvas(); }
  bool FocusOnClick() const override { return true; }
  UINT DialogCode() override { return DLGC_WANTARROWS; }

  TNotifyEvent OnChange;
  TNotifyEvent OnSelect;
  TNotifyEvent OnDropDown;
  TNotifyEvent OnCloseUp;
  TDrawItemEvent OnDrawItem;
  TMeasureItemEvent OnMeasureItem;

protected:
  void Paint() override;
  void KeyDown(WORD& key, TShiftState shift) override;
  void KeyPress(char& key) override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  bool DoMouseWheel(TShiftState shift, int wheelDelta, TPoint mousePos) override;
  // The user picked an item: text, OnClick, then OnSelect (or OnChange without one).
  void UserSelect(int index);
  void DrawItem(TCanvas* canvas, int index, const TRect& rect, TOwnerDrawState state);
  bool IsOwnerDraw() const { return FStyle == csOwnerDrawFixed || FStyle == csOwnerDrawVariable; }
  bool Editable() const { return FStyle == csDropDown || FStyle == csSimple; }

private:
  friend class TComboListForm;
  TStringList FItems;
  int FItemIndex = -1;
  std::string FEditText;
  TComboBoxStyle FStyle = csDropDown;
  int FDropDownCount = 8;
  int FItemHeight = 16;
  bool FDroppedDown = false;
};

// Text on the clipboard as CF_TEXT, and putting text there.
std::string ClipboardText();
void SetClipboardText(const std::string& text);
