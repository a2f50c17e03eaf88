#pragma once
// The back end without a display: windows are records, time is a clock that
// moves only when the loop would wait for a timer, and input comes from a script
// of steps that run whenever the loop has nothing else to do. Tests drive forms
// with it (modal loops included) and save what the forms show as pictures.
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ui/controls.h"
#include "platform/ui/ui_backend.h"

class THeadlessBackend : public TUIBackend {
public:
  struct Window {
    TWindowKind kind = wkForm;
    HWND owner = nullptr;
    TRect bounds{};
    std::string caption;
    int showCommand = SW_HIDE;
    bool enabled = true;
    int presents = 0;
    TRect lastPresent{};
    int cursor = 0;
  };

  std::string Name() const override { return "headless"; }
  void CreateWindow(HWND window, TWindowKind kind, HWND owner) override;
  void DestroyWindow(HWND window) override;
  void SetWindowBounds(HWND window, const TRect& client) override;
  void SetWindowCaption(HWND window, const std::string& caption) override;
  void SetWindowIcon(HWND window, HICON icon) override {}
  void ShowWindow(HWND window, int showCommand) override;
  void EnableWindow(HWND window, bool enabled) override;
  void ActivateWindow(HWND window) override { FActive = window; }
  void SetWindowTaskbarButton(HWND window, bool own) override { FTaskbarButtons[window] = own; }
  void Present(HWND window, TBitmap* backing, const TRect& dirty) override;
  void SetCapture(HWND window) override { FCapture = window; }
  void SetCursor(HWND window, int standardCursor, HCURSOR cursor) override;
  TPoint CursorPos() override;
  void WaitForEvents(uint32_t timeoutMs) override;
  void Wake() override;
  uint64_t Now() override;
  TRect ScreenRect() override;
  TRect WorkArea() override;
  bool CaptureScreen(const TRect& area, TBitmap* bitmap) override;

  // ---- for tests ----
  // A step the loop runs the next time it would wait.
  void Then(std::function<void()> step);
  bool ScriptEmpty();
  void ClearScript();
  void AdvanceClock(uint64_t ms) { FClock += ms; }
  // How long (real time) a wait with nothing scripted may last before the loop
  // gives up with EInvalidOperation, so a test that forgot a step fails rather than hangs.
  void SetStallLimit(uint32_t ms) { FStallLimitMs = ms; }
  const Window* FindWindow(HWND window) const;
  HWND ActiveWindow() const { return FActive; }
  // What the desktop would show: a taskbar button for unowned forms and for
  // owned ones that asked for their own.
  bool HasTaskbarButton(HWND window) const {
    auto w = FWindows.find(window);
    if (w == FWindows.end() || w->second.kind != wkForm) return false;
    auto own = FTaskbarButtons.find(window);
    return !w->second.owner || (own != FTaskbarButtons.end() && own->second);
  }
  HWND CaptureWindow() const { return FCapture; }
  int WaitCount() const { return FWaits; }

private:
  std::map<HWND, Window> FWindows;
  HWND FActive = nullptr;
  std::map<HWND, bool> FTaskbarButtons;
  HWND FCapture = nullptr;
  uint64_t FClock = 0;
  std::mutex FLock;
  std::condition_variable FCond;
  bool FWoken = false;
  std::deque<std::function<void()>> FScript;
  uint32_t FStallLimitMs = 20000;
  int FWaits = 0;
};

// The headless back end in use (installed on first call when another one is).
THeadlessBackend& Headless();

// Scripted input: each posts the messages a desktop would send to the control's
// form, with the pointer at the point (client coordinates of the control).
namespace headless {
void MouseDown(TControl* control, int x, int y, TMouseButton button = mbLeft, TShiftState shift = {});
void MouseMove(TControl* control, int x, int y, TShiftState shift = {});
void MouseUp(TControl* control, int x, int y, TMouseButton button = mbLeft, TShiftState shift = {});
// Down and up at the point; the centre of the control without a point.
void Click(TControl* control, int x, int y, TMouseButton button = mbLeft, TShiftState shift = {});
void Click(TControl* control);
void DoubleClick(TControl* control, int x, int y);
void Wheel(TControl* control, int delta, TShiftState shift = {});
// Key down and up of a virtual key, with the shift keys pressed around it; keys
// go to the form that is active.
void KeyDown(WORD key, TShiftState shift = {});
void KeyUp(WORD key, TShiftState shift = {});
void PressKey(WORD key, TShiftState shift = {});
// WM_CHAR for each character (UTF-8 decoded).
void TypeText(const std::string& text);
void DropFiles(TControl* control, const std::vector<std::string>& files, int x, int y);
// Asks the form's window to close, as its close button does.
void CloseWindow(TWinControl* form);
// Handles everything queued (and the paint that follows).
void ProcessMessages();
}  // namespace headless
