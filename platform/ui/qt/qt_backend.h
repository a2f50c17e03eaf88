#pragma once
// The desktop back end: every form and popup becomes a top-level Qt window that
// shows the form's backing bitmap, and Qt's input comes back as posted window
// messages. Nothing here names a Qt type, so callers need no Qt headers.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/ui_backend.h"

// The Qt back end; nullptr when Qt finds no display to open.
std::unique_ptr<TUIBackend> MakeQtBackend();

// Which back end a start-up with this environment wants: "headless" when
// QUORVANE_UI says so or no display is present, "qt" otherwise. getenv answers
// for the variable named, nullptr when it is unset.
std::string ChooseUIBackendName(const std::function<const char*(const char*)>& getenv);

// Installs the back end the environment asks for (falling back to headless
// when Qt cannot open its display) and returns its name.
std::string StartUIBackend();

// ---- for tests: input driven through Qt's own events ----
namespace qtinput {
// Press and release of the left button at a point of the window's client area.
void Click(HWND window, int x, int y);
// A key press and release; key in Qt's portable text ("A", "Return", "Num+5", "Ctrl+S").
void Key(HWND window, const std::string& key);
// The window's close button.
void RequestClose(HWND window);
// What the window shows now, as a pf32bit bitmap; false when there is no such window.
bool Grab(HWND window, TBitmap* bitmap);
// Files dragged from another program and dropped at a point of the client area.
void DropFiles(HWND window, const std::vector<std::string>& files, int x, int y);
// The desktop's clipboard as another program sees it.
std::string DesktopClipboardText();
void SetDesktopClipboardText(const std::string& text);
bool DesktopClipboardImage(TBitmap* bitmap);  // pf32bit; false when it holds no image
void SetDesktopClipboardImage(TBitmap* bitmap);  // from a pf32bit bitmap
// The window's icon as the desktop shows it (pf32bit with alpha); false without one.
bool WindowIconImage(HWND window, TBitmap* bitmap);
// The window this one is kept above (its owner's), nullptr for a window with
// its own place on the desktop and taskbar.
HWND TransientOwner(HWND window);
// The desktop moves the focus from the window to another program's.
void DeactivateProgram(HWND window);
// The window's title-bar buttons: SW_SHOWMAXIMIZED, SW_SHOWMINIMIZED or
// SW_RESTORE done by the desktop, not asked for by the form.
void SetDesktopWindowState(HWND window, int showCommand);
}  // namespace qtinput
