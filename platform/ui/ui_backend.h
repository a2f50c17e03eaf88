#pragma once
// The seam between the component layer and a windowing system. The component
// layer keeps every control's state and paints each form into a backing bitmap;
// a back end only gives forms and popups a top-level window, shows the bitmap,
// feeds input back as posted window messages (mouse and key messages to the
// top-level HWND, in client coordinates; WM_CLOSE for a close request;
// WM_DROPFILES with a block from MakeDropFiles), and lets the loop sleep until
// something happens. Two back ends exist: headless (tests) and Qt (the desktop).
#include <cstdint>
#include <memory>
#include <string>

#include "platform/graphics/gdi.h"
#include "platform/win/win_types.h"

class TBitmap;

enum TWindowKind : uint8_t {
  wkForm,   // a form: caption, frame, its own taskbar button when it is the main form
  wkPopup,  // a menu, a drop-down list or a hint: no frame, no taskbar entry
};

class TUIBackend {
public:
  virtual ~TUIBackend() = default;
  virtual std::string Name() const = 0;

  // ---- top-level windows (bounds are the client area in screen coordinates) ----
  virtual void CreateWindow(HWND window, TWindowKind kind, HWND owner) = 0;
  virtual void DestroyWindow(HWND window) = 0;
  virtual void SetWindowBounds(HWND window, const TRect& client) = 0;
  virtual void SetWindowCaption(HWND window, const std::string& caption) = 0;
  // The window's icon; nullptr for the program's. The handle stays the caller's.
  virtual void SetWindowIcon(HWND window, HICON icon) = 0;
  // SW_HIDE, SW_SHOWNORMAL, SW_SHOWMINIMIZED, SW_SHOWMAXIMIZED or SW_RESTORE.
  virtual void ShowWindow(HWND window, int showCommand) = 0;
  // A disabled window takes no input (the others while a modal form runs).
  virtual void EnableWindow(HWND window, bool enabled) = 0;
  virtual void ActivateWindow(HWND window) = 0;
  // An owned form stays above its owner and shares its taskbar button, unless
  // it asks for one of its own (WS_EX_APPWINDOW). Known before or after the
  // window is made.
  virtual void SetWindowTaskbarButton(HWND window, bool own) = 0;
  // Shows the dirty part (client coordinates) of the window's backing bitmap.
  virtual void Present(HWND window, TBitmap* backing, const TRect& dirty) = 0;

  // ---- input ----
  // Sends all mouse input to the window until released with nullptr.
  virtual void SetCapture(HWND window) = 0;
  // standardCursor is a crXXX number (crDefault and below); cursor is set for
  // a cursor made from an image (a resource cursor), null otherwise.
  virtual void SetCursor(HWND window, int standardCursor, HCURSOR cursor) = 0;
  virtual TPoint CursorPos() = 0;

  // ---- the loop ----
  // Returns when input arrived, Wake was called or timeoutMs passed
  // (0xFFFFFFFF: no time limit).
  virtual void WaitForEvents(uint32_t timeoutMs) = 0;
  // Called from any thread: makes a waiting WaitForEvents return.
  virtual void Wake() = 0;
  // Milliseconds on the clock that timers run by.
  virtual uint64_t Now() = 0;

  // ---- desktop services ----
  // The screen's size; the work area leaves out task bars.
  virtual TRect ScreenRect() = 0;
  virtual TRect WorkArea() = 0;
  // Copies the screen area into bitmap (pf32bit); false when the desktop refuses.
  virtual bool CaptureScreen(const TRect& area, TBitmap* bitmap) = 0;
};

// The back end the program runs on. Made on first use: the one set by
// SetUIBackend, else the headless one.
TUIBackend& UIBackend();
// Installs a back end (the program's start-up picks Qt or headless); nullptr
// returns to the headless default. Call before any form is made.
void SetUIBackend(std::unique_ptr<TUIBackend> backend);
