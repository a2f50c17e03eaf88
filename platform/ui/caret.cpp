#include "platform/ui/caret.h"

#include <algorithm>

#include "platform/graphics/gdi.h"
#include "platform/ui/forms.h"
#include "platform/ui/ui_backend.h"
#include "platform/ui/windows.h"

namespace {

// How long the caret blinks after its last change before it stays shown.
constexpr uint64_t kBlinkPeriodMs = 5000;

struct TCaretState {
  HWND owner = nullptr;
  int width = 1;
  int height = 0;
  int x = 0;
  int y = 0;
  int hideCount = 1;
  bool phaseOn = true;      // the blink's current half
  bool drawn = false;       // inverted into the form bitmap now
  TCustomForm* drawnForm = nullptr;
  RECT drawnRect{};         // in the form bitmap
  UINT_PTR timer = 0;
  uint64_t lastChange = 0;
  int painting = 0;         // paint passes under way
};

thread_local TCaretState caret;

bool IsEmpty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }
RECT Clip(const RECT& a, const RECT& b) {
  RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
  return IsEmpty(r) ? RECT{} : r;
}
RECT Unite(const RECT& a, const RECT& b) {
  return RECT{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}
UINT blinkTime = 530;

// Where the caret lies in its form's bitmap, clipped to the owner control.
bool CaretPlace(TCustomForm*& form, RECT& r) {
  TWinControl* owner = TWinControl::FindControl(caret.owner);
  if (!owner) return false;
  form = GetParentForm(owner);
  if (!form || !form->HandleAllocated()) return false;
  RECT fr = owner == form ? RECT{0, 0, form->ClientWidth(), form->ClientHeight()} : owner->FormRect();
  const int top = form->ClientTop();
  fr.top += top;
  fr.bottom += top;
  RECT c{fr.left + caret.x, fr.top + caret.y, fr.left + caret.x + caret.width, fr.top + caret.y + caret.height};
  c = Clip(Clip(c, fr), form->WindowClientRect());
  if (IsEmpty(c)) return false;
  r = c;
  return true;
}

void Invert(TCustomForm* form, const RECT& r) {
  HDC dc = form->Backing()->Canvas()->Handle();
  PatBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, DSTINVERT);
}

void Present(TCustomForm* form, const RECT& r) {
  if (form->Visible() && form->HandleAllocated()) UIBackend().Present(form->Handle(), form->Backing(), r);
}

// Takes the caret off the bitmap (restoring the pixels under it).
void Undraw(bool present) {
  if (!caret.drawn) return;
  caret.drawn = false;
  if (!Screen) return;
  // The form may be gone (a destroyed owner): then there is nothing to restore.
  for (int i = 0; i < Screen->FormCount(); ++i)
    if (Screen->Forms(i) == caret.drawnForm) {
      Invert(caret.drawnForm, caret.drawnRect);
      if (present) Present(caret.drawnForm, caret.drawnRect);
      return;
    }
}

void Draw(bool present) {
  if (caret.drawn || caret.painting > 0 || !caret.owner || caret.hideCount > 0 || !caret.phaseOn) return;
  TCustomForm* form = nullptr;
  RECT r{};
  if (!CaretPlace(form, r)) return;
  Invert(form, r);
  caret.drawn = true;
  caret.drawnForm = form;
  caret.drawnRect = r;
  if (present) Present(form, r);
}

void BlinkTick(HWND, UINT, UINT_PTR, DWORD);

void StopTimer() {
  if (caret.timer) KillTimer(nullptr, caret.timer);
  caret.timer = 0;
}

// A change shows the caret at once and starts the blinking again.
void Changed() {
  caret.phaseOn = true;
  caret.lastChange = UIBackend().Now();
  if (caret.owner && caret.hideCount <= 0 && !caret.timer && blinkTime > 0)
    caret.timer = SetTimer(nullptr, 0, blinkTime, BlinkTick);
}

void BlinkTick(HWND, UINT, UINT_PTR, DWORD) {
  if (!caret.owner || caret.hideCount > 0 || UIBackend().Now() - caret.lastChange >= kBlinkPeriodMs) {
    // Blinking ends with the caret shown.
    StopTimer();
    if (!caret.phaseOn) {
      caret.phaseOn = true;
      Draw(true);
    }
    return;
  }
  caret.phaseOn = !caret.phaseOn;
  if (caret.phaseOn) Draw(true);
  else Undraw(true);
}

}  // namespace

BOOL CreateCaret(HWND window, HBITMAP, int width, int height) {
  if (!window) return FALSE;
  DestroyCaret();
  caret.owner = window;
  caret.width = width > 0 ? width : 1;
  caret.height = height > 0 ? height : 1;
  caret.x = caret.y = 0;
  caret.hideCount = 1;
  caret.phaseOn = true;
  return TRUE;
}

BOOL DestroyCaret() {
  if (!caret.owner) return FALSE;
  Undraw(caret.painting == 0);
  StopTimer();
  caret.owner = nullptr;
  caret.hideCount = 1;
  return TRUE;
}

BOOL SetCaretPos(int x, int y) {
  if (!caret.owner) return FALSE;
  if (caret.x == x && caret.y == y) return TRUE;
  Undraw(true);
  caret.x = x;
  caret.y = y;
  Changed();
  Draw(true);
  return TRUE;
}

BOOL GetCaretPos(POINT* point) {
  if (!point) return FALSE;
  point->x = caret.owner ? caret.x : 0;
  point->y = caret.owner ? caret.y : 0;
  return caret.owner ? TRUE : FALSE;
}

BOOL HideCaret(HWND window) {
  if (!caret.owner || (window && window != caret.owner)) return FALSE;
  ++caret.hideCount;
  Undraw(true);
  return TRUE;
}

BOOL ShowCaret(HWND window) {
  if (!caret.owner || (window && window != caret.owner)) return FALSE;
  if (caret.hideCount > 0) --caret.hideCount;
  Changed();
  Draw(true);
  return TRUE;
}

UINT GetCaretBlinkTime() { return blinkTime; }

BOOL SetCaretBlinkTime(UINT milliseconds) {
  blinkTime = milliseconds;
  return TRUE;
}

void CaretBeforePaint(TCustomForm* form) {
  ++caret.painting;
  if (caret.drawn && caret.drawnForm == form) Undraw(false);
}

void CaretAfterPaint(TCustomForm* form, RECT& presented) {
  if (caret.painting > 0) --caret.painting;
  const bool wasDrawn = caret.drawn;
  Draw(false);
  if (!caret.drawn) return;
  if (caret.drawnForm == form) presented = IsEmpty(presented) ? caret.drawnRect : Unite(presented, caret.drawnRect);
  else if (!wasDrawn) Present(caret.drawnForm, caret.drawnRect);
}

HWND CaretOwner() { return caret.owner; }
bool CaretDrawn() { return caret.drawn; }
