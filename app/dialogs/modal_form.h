#pragma once
// Small helpers of the program's hand-built forms: placing a new control, and
// showing a form modally while a pointer to it is kept for tests.
#include "platform/ui/forms.h"

// A new control owned and parented by parent, at the given bounds.
template <class T>
T* PlaceControl(TWinControl* parent, int left, int top, int width, int height) {
  auto* c = new T(parent);
  c->SetParent(parent);
  c->SetBounds(left, top, width, height);
  return c;
}

// Shows the form modally; open points at it while it is shown, also when the
// loop ends by an exception.
template <class F>
TModalResult ShowModalTracked(F& form, F*& open) {
  open = &form;
  try {
    const TModalResult result = form.ShowModal();
    open = nullptr;
    return result;
  } catch (...) {
    open = nullptr;
    throw;
  }
}
