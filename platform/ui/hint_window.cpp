#include "platform/ui/hint_window.h"

#include <algorithm>

#include "platform/ui/ui_paint.h"

namespace {
struct HintState {
  TControl* control = nullptr;
  HWND timerWindow = nullptr;
  THintWindow* window = nullptr;
  bool showing = false;
};
HintState& State() {
  static HintState s;
  return s;
}
constexpr UINT_PTR kShowTimer = 1;
constexpr UINT_PTR kHideTimer = 2;

bool WantsHint(TControl* c) {
  return c && Application && Application->ShowHint() && c->ShowHint() && !GetShortHint(c->Hint()).empty();
}

void ShowNow() {
  HintState& s = State();
  if (!WantsHint(s.control) || !s.control->Showing()) return;
  if (!s.window) s.window = new THintWindow(Application);
  std::string text = GetShortHint(s.control->Hint());
  TRect r = s.window->CalcHintRect(300, text);
  POINT p;
  GetCursorPos(&p);
  int x = p.x, y = p.y + 20;
  s.window->ActivateHint(Rect(x, y, x + r.right, y + r.bottom), text);
  s.showing = true;
  SetTimer(s.timerWindow, kHideTimer, static_cast<UINT>(std::max(Application->HintHidePause(), 10)), nullptr);
}

void TimerMessage(TMessage& m) {
  if (m.Msg != WM_TIMER) return;
  KillTimer(State().timerWindow, m.WParam);
  if (m.WParam == kShowTimer) ShowNow();
  else CancelHint();
}
}  // namespace

THintWindow::THintWindow(TComponent* owner) : TCustomForm(owner) {
  SetWindowKind(wkPopup);
  SetBorderStyle(bsNone);
  SetColor(clInfoBk);
  Font()->Assign(Screen->HintFont());
}

TRect THintWindow::CalcHintRect(int maxWidth, const std::string& hint) {
  TCanvas* c = Backing()->Canvas();
  c->Font()->Assign(Font());
  TRect r = Rect(0, 0, maxWidth, 0);
  DrawText(c->Handle(), hint.c_str(), static_cast<int>(hint.size()), &r, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  return Rect(0, 0, r.right + 8, r.bottom + 4);
}

void THintWindow::ActivateHint(const TRect& rect, const std::string& hint) {
  SetCaption(hint);
  TRect work = Screen->WorkAreaRect();
  int w = rect.right - rect.left, h = rect.bottom - rect.top;
  int x = std::clamp<int>(rect.left, work.left, std::max<int>(work.left, work.right - w));
  int y = std::clamp<int>(rect.top, work.top, std::max<int>(work.top, work.bottom - h));
  SetBounds(x, y, w, h);
  Invalidate();
  Show();
}

void THintWindow::Paint() {
  TCanvas* c = Canvas();
  TRect r = ClientRect();
  c->Brush()->SetColor(clInfoText);
  c->FrameRect(r);
  c->Font()->SetColor(clInfoText);
  DrawTextIn(c, Caption(), Rect(4, 2, r.right - 2, r.bottom), DT_WORDBREAK | DT_NOPREFIX, true);
}

void HintMouseEntered(TControl* control) {
  HintState& s = State();
  if (control == s.control) return;
  CancelHint();
  s.control = control;
  if (!WantsHint(control)) return;
  if (!s.timerWindow) s.timerWindow = AllocateHWnd(TimerMessage);
  SetTimer(s.timerWindow, kShowTimer, static_cast<UINT>(std::max(Application->HintPause(), 10)), nullptr);
}

void CancelHint() {
  HintState& s = State();
  if (s.timerWindow) {
    KillTimer(s.timerWindow, kShowTimer);
    KillTimer(s.timerWindow, kHideTimer);
  }
  if (s.window && s.showing && Screen) {
    for (int i = 0; i < Screen->FormCount(); ++i)
      if (Screen->Forms(i) == s.window) s.window->Hide();
  }
  s.showing = false;
  s.control = nullptr;
}

THintWindow* ActiveHintWindow() { return State().showing ? State().window : nullptr; }

// The application ends: the hint window went with it.
void ForgetHintWindow() {
  HintState& s = State();
  if (s.timerWindow) {
    KillTimer(s.timerWindow, kShowTimer);
    KillTimer(s.timerWindow, kHideTimer);
  }
  s.window = nullptr;
  s.showing = false;
  s.control = nullptr;
}
