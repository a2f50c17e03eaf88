#pragma once
// The top-level windows of this program, as Windows lists them to a program:
// EnumWindows and FindWindow see the forms that have a window (shown or not),
// newest last; their class name is the form's class name, their title its
// caption. No other program's windows exist here, so the desktop's own windows
// ("Progman") are never found.
#include "platform/ui/messages.h"

using WNDENUMPROC = BOOL (*)(HWND window, LPARAM data);

// Calls the procedure for each top-level window until it returns FALSE.
BOOL EnumWindows(WNDENUMPROC enumProc, LPARAM data);
// A null class or title matches any; names compare ignoring case.
HWND FindWindow(const char* className, const char* windowName);
inline HWND FindWindowA(const char* className, const char* windowName) { return FindWindow(className, windowName); }
// The class name of a window of this layer (a control's or form's class); 0 for
// an unknown window.
int GetClassName(HWND window, char* className, int maxCount);
inline int GetClassNameA(HWND window, char* className, int maxCount) {
  return GetClassName(window, className, maxCount);
}

// Moves or sizes a window of this layer (a form by its screen position, a
// control within its parent); the Z order and activation are left alone here.
constexpr UINT SWP_NOSIZE = 0x0001;
constexpr UINT SWP_NOMOVE = 0x0002;
constexpr UINT SWP_NOZORDER = 0x0004;
constexpr UINT SWP_NOACTIVATE = 0x0010;
BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
