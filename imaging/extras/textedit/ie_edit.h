#pragma once
// TIEEdit: the one-line edit laid over a text object while it is edited in
// place. It keeps Tab and the navigation keys for itself (the form does not
// move the focus with them) and drops the Tab character.
#include "platform/ui/std_edits.h"

// The keys both in-place editors claim in the framework's special-key query:
// Tab and Page Up to Down (33 to 40); the shift state as the key data gives it.
bool IsEditorSpecialKey(WORD key);
TShiftState KeyDataShiftState(LPARAM keyData);

class TIEEdit : public TEdit {
public:
  explicit TIEEdit(TComponent* owner) : TEdit(owner) {}
  UINT DialogCode() override { return TEdit::DialogCode() | DLGC_WANTTAB | DLGC_WANTARROWS; }
  void WndProc(TMessage& message) override;

protected:
  void KeyPress(char& key) override;
};
