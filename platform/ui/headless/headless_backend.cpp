#include "platform/ui/headless/headless_backend.h"

#include <chrono>

#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/font_engine.h"
#include "platform/rtl/exceptions.h"
#include "platform/ui/forms.h"
#include "platform/ui/menus.h"
#include "platform/win/shell.h"
#include "platform/win/system_info.h"

void THeadlessBackend::CreateWindow(HWND window, TWindowKind kind, HWND owner) {
  Window& w = FWindows[window];
  w.kind = kind;
  w.owner = owner;
}

void THeadlessBackend::DestroyWindow(HWND window) {
  FWindows.erase(window);
  FTaskbarButtons.erase(window);
  if (FActive == window) FActive = nullptr;
  if (FCapture == window) FCapture = nullptr;
}

void THeadlessBackend::SetWindowBounds(HWND window, const TRect& client) { FWindows[window].bounds = client; }

void THeadlessBackend::SetWindowCaption(HWND window, const std::string& caption) {
  FWindows[window].caption = caption;
}

void THeadlessBackend::ShowWindow(HWND window, int showCommand) {
  FWindows[window].showCommand = showCommand;
  if (showCommand != SW_HIDE && showCommand != SW_SHOWMINIMIZED && FWindows[window].kind == wkForm) FActive = window;
}

void THeadlessBackend::EnableWindow(HWND window, bool enabled) { FWindows[window].enabled = enabled; }

void THeadlessBackend::Present(HWND window, TBitmap*, const TRect& dirty) {
  Window& w = FWindows[window];
  ++w.presents;
  w.lastPresent = dirty;
}

void THeadlessBackend::SetCursor(HWND window, int standardCursor, HCURSOR) { FWindows[window].cursor = standardCursor; }

TPoint THeadlessBackend::CursorPos() {
  POINT p;
  ::GetCursorPos(&p);
  return p;
}

void THeadlessBackend::WaitForEvents(uint32_t timeoutMs) {
  ++FWaits;
  std::function<void()> step;
  {
    std::unique_lock<std::mutex> guard(FLock);
    if (FWoken) {
      FWoken = false;
      return;
    }
    if (!FScript.empty()) {
      step = std::move(FScript.front());
      FScript.pop_front();
    }
  }
  if (step) {
    step();
    return;
  }
  if (timeoutMs != 0xFFFFFFFFu) {
    // Nothing scripted: time jumps to the next timer instead of passing.
    FClock += timeoutMs;
    return;
  }
  std::unique_lock<std::mutex> guard(FLock);
  if (!FCond.wait_for(guard, std::chrono::milliseconds(FStallLimitMs), [&] { return FWoken; }))
    throw EInvalidOperation("The headless loop waits for input that no script gives");
  FWoken = false;
}

void THeadlessBackend::Wake() {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FWoken = true;
  }
  FCond.notify_all();
}

uint64_t THeadlessBackend::Now() { return FClock; }

TRect THeadlessBackend::ScreenRect() {
  TVirtualScreen s = VirtualScreen();
  return Rect(0, 0, s.Width, s.Height);
}

TRect THeadlessBackend::WorkArea() {
  TVirtualScreen s = VirtualScreen();
  return Rect(0, 0, s.Width, s.Height - 30);  // a task bar along the bottom
}

bool THeadlessBackend::CaptureScreen(const TRect& area, TBitmap* bitmap) {
  // The screen is the desktop colour with the visible forms on it, bottom to top.
  if (!bitmap || area.right <= area.left || area.bottom <= area.top) return false;
  bitmap->SetPixelFormat(pf32bit);
  bitmap->SetSize(area.right - area.left, area.bottom - area.top);
  TCanvas* c = bitmap->Canvas();
  c->Brush()->SetColor(clBackground);
  c->FillRect(Rect(0, 0, bitmap->Width(), bitmap->Height()));
  if (!Screen) return true;
  for (int i = 0; i < Screen->FormCount(); ++i) {
    TCustomForm* f = Screen->Forms(i);
    auto it = FWindows.find(f->Handle());
    if (it == FWindows.end() || it->second.showCommand == SW_HIDE || it->second.showCommand == SW_SHOWMINIMIZED) continue;
    f->PaintDirty();
    const TRect& b = it->second.bounds;
    c->CopyRect(Rect(b.left - area.left, b.top - area.top, b.right - area.left, b.bottom - area.top), f->Backing()->Canvas(),
                Rect(0, 0, f->Backing()->Width(), f->Backing()->Height()));
  }
  return true;
}

void THeadlessBackend::Then(std::function<void()> step) {
  std::lock_guard<std::mutex> guard(FLock);
  FScript.push_back(std::move(step));
}

bool THeadlessBackend::ScriptEmpty() {
  std::lock_guard<std::mutex> guard(FLock);
  return FScript.empty();
}

void THeadlessBackend::ClearScript() {
  std::lock_guard<std::mutex> guard(FLock);
  FScript.clear();
}

const THeadlessBackend::Window* THeadlessBackend::FindWindow(HWND window) const {
  auto it = FWindows.find(window);
  return it == FWindows.end() ? nullptr : &it->second;
}

THeadlessBackend& Headless() {
  if (auto* h = dynamic_cast<THeadlessBackend*>(&UIBackend())) return *h;
  SetUIBackend(std::make_unique<THeadlessBackend>());
  return dynamic_cast<THeadlessBackend&>(UIBackend());
}

// ---- scripted input ----

namespace headless {
namespace {

struct Target {
  TCustomForm* form = nullptr;
  TPoint window;  // in the form window's client area
  TPoint screen;
};

Target Locate(TControl* control, int x, int y) {
  InitializeUI();
  Target t;
  t.form = GetParentForm(control);
  if (!t.form) throw EInvalidOperation("The control is on no form");
  TRect fr = control->FormRect();
  t.window = Point(fr.left + x, fr.top + y + t.form->ClientTop());
  t.screen = control->ClientToScreen(Point(x, y));
  return t;
}

WPARAM Keys(TShiftState shift, TMouseButton held, bool down) {
  WPARAM k = 0;
  if (shift.Contains(ssShift)) k |= MK_SHIFT;
  if (shift.Contains(ssCtrl)) k |= MK_CONTROL;
  if (shift.Contains(ssLeft) || (down && held == mbLeft)) k |= MK_LBUTTON;
  if (shift.Contains(ssRight) || (down && held == mbRight)) k |= MK_RBUTTON;
  if (shift.Contains(ssMiddle) || (down && held == mbMiddle)) k |= MK_MBUTTON;
  return k;
}

void PostMouse(TControl* control, int x, int y, UINT msg, WPARAM keys) {
  Target t = Locate(control, x, y);
  SetCursorPos(t.screen.x, t.screen.y);
  PostMessage(t.form->Handle(), msg, keys, MAKELPARAM(t.window.x, t.window.y));
}

UINT ButtonMessage(TMouseButton b, int kind) {
  UINT base = b == mbLeft ? WM_LBUTTONDOWN : b == mbRight ? WM_RBUTTONDOWN : WM_MBUTTONDOWN;
  return base + static_cast<UINT>(kind);
}

HWND KeyTarget() {
  HWND w = GetActiveWindow();
  if (TCustomForm* popup = ActivePopupForm()) w = popup->Handle();
  if (!w) throw EInvalidOperation("No form is active to take keys");
  return w;
}

void ShiftKeys(TShiftState shift, bool down) {
  HWND w = KeyTarget();
  UINT msg = down ? WM_KEYDOWN : WM_KEYUP;
  if (shift.Contains(ssShift)) PostMessage(w, msg, VK_SHIFT, 0);
  if (shift.Contains(ssCtrl)) PostMessage(w, msg, VK_CONTROL, 0);
  if (shift.Contains(ssAlt)) PostMessage(w, down ? WM_SYSKEYDOWN : WM_SYSKEYUP, VK_MENU, 0);
}

}  // namespace

void MouseDown(TControl* control, int x, int y, TMouseButton button, TShiftState shift) {
  PostMouse(control, x, y, ButtonMessage(button, 0), Keys(shift, button, true));
}

void MouseMove(TControl* control, int x, int y, TShiftState shift) {
  PostMouse(control, x, y, WM_MOUSEMOVE, Keys(shift, mbLeft, false));
}

void MouseUp(TControl* control, int x, int y, TMouseButton button, TShiftState shift) {
  PostMouse(control, x, y, ButtonMessage(button, 1), Keys(shift, button, false));
}

void Click(TControl* control, int x, int y, TMouseButton button, TShiftState shift) {
  MouseMove(control, x, y, shift);
  MouseDown(control, x, y, button, shift);
  MouseUp(control, x, y, button, shift);
}

void Click(TControl* control) { Click(control, control->Width() / 2, control->Height() / 2); }

void DoubleClick(TControl* control, int x, int y) {
  MouseDown(control, x, y);
  MouseUp(control, x, y);
  PostMouse(control, x, y, WM_LBUTTONDBLCLK, MK_LBUTTON);
  MouseUp(control, x, y);
}

void Wheel(TControl* control, int delta, TShiftState shift) {
  Target t = Locate(control, control->Width() / 2, control->Height() / 2);
  SetCursorPos(t.screen.x, t.screen.y);
  WPARAM w = MAKELONG(static_cast<WORD>(Keys(shift, mbLeft, false)), static_cast<WORD>(static_cast<SHORT>(delta)));
  PostMessage(t.form->Handle(), WM_MOUSEWHEEL, w, MAKELPARAM(t.screen.x, t.screen.y));
}

void KeyDown(WORD key, TShiftState shift) {
  ShiftKeys(shift, true);
  PostMessage(KeyTarget(), shift.Contains(ssAlt) ? WM_SYSKEYDOWN : WM_KEYDOWN, key, 1);
}

void KeyUp(WORD key, TShiftState shift) {
  PostMessage(KeyTarget(), shift.Contains(ssAlt) ? WM_SYSKEYUP : WM_KEYUP, key, 1);
  ShiftKeys(shift, false);
}

void PressKey(WORD key, TShiftState shift) {
  KeyDown(key, shift);
  KeyUp(key, shift);
}

void TypeText(const std::string& text) {
  HWND w = KeyTarget();
  for (uint32_t cp : fontengine::DecodeText(text)) PostMessage(w, WM_CHAR, cp, 1);
}

void DropFiles(TControl* control, const std::vector<std::string>& files, int x, int y) {
  Target t = Locate(control, x, y);
  HDROP drop = MakeDropFiles(files, t.window, true);
  PostMessage(t.form->Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
}

void CloseWindow(TWinControl* form) { PostMessage(form->Handle(), WM_CLOSE, 0, 0); }

void ProcessMessages() {
  InitializeUI();
  Application->ProcessMessages();
}

}  // namespace headless
