#include "imaging/extras/textedit/ie_edit.h"

#include "platform/ui/windows.h"

bool IsEditorSpecialKey(WORD key) { return key == VK_TAB || (key >= VK_PRIOR && key <= VK_DOWN); }

TShiftState KeyDataShiftState(LPARAM keyData) {
  TShiftState shift = KeyboardShiftState();
  // Bit 29 of the key data: Alt was down.
  if (keyData & 0x20000000) shift.Include(ssAlt);
  return shift;
}

void TIEEdit::WndProc(TMessage& message) {
  if (message.Msg == CM_WANTSPECIALKEY) {
    WORD key = static_cast<WORD>(message.WParam);
    if (IsEditorSpecialKey(key)) {
      KeyUp(key, KeyDataShiftState(message.LParam));
      message.Result = 1;
      return;
    }
  }
  TEdit::WndProc(message);
}

void TIEEdit::KeyPress(char& key) {
  if (key == '\t') key = 0;
  TEdit::KeyPress(key);
}
