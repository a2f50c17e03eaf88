#pragma once
// The hint window: the short part of a control's hint in a small yellow popup
// near the mouse, shown after the application's hint pause.
#include <string>

#include "platform/ui/forms.h"

class THintWindow : public TCustomForm {
public:
  explicit THintWindow(TComponent* owner);
  // The size the text needs, placed with its top-left at the origin.
  TRect CalcHintRect(int maxWidth, const std::string& hint);
  // Shows the text in rect (screen coordinates).
  void ActivateHint(const TRect& rect, const std::string& hint);
  void ReleaseHandle() { Hide(); }

protected:
  void Paint() override;
};

// The hint machinery of the application: the mouse entered a control (nullptr: left all).
void HintMouseEntered(TControl* control);
void CancelHint();
// The hint window shown now, or nullptr.
THintWindow* ActiveHintWindow();
