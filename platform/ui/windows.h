#pragma once
// Windows of our own: HWND values handed out by this layer, the thread-safe
// message queue behind PostMessage, SendMessage, timers, capture, keyboard and
// mouse state, and scroll-bar information kept per window.
#include <functional>
#include <string>

#include "platform/ui/messages.h"

using TWndMethod = std::function<void(TMessage&)>;

// A window that only receives messages (a control's, or a hidden utility window
// such as the clipboard owner). HWND values are never reused in a process.
HWND AllocateHWnd(TWndMethod method);
void DeallocateHWnd(HWND window);
BOOL IsWindow(HWND window);

// Calls the window's procedure at once and returns its result; from another
// thread the call waits until the main thread's loop has run it. 0 for an
// unknown window.
LRESULT SendMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
inline LRESULT SendMessageA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  return SendMessage(window, msg, wParam, lParam);
}
// Queues the message for the main thread's loop and wakes the loop; any thread
// may call it. A null window posts to the thread (TApplication::OnMessage sees it).
// FALSE for a window that does not exist.
BOOL PostMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
inline BOOL PostMessageA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  return PostMessage(window, msg, wParam, lParam);
}
void PostQuitMessage(int exitCode);
// Takes the first queued message (FALSE when none); used by the loop.
BOOL PeekMessage(MSG* msg, bool remove);
// Runs the message through its window's procedure (nothing for a thread message).
LRESULT DispatchMessage(const MSG* msg);
// Drops every queued message of the window (when it goes away).
void RemoveQueuedMessages(HWND window);
// Whether messages wait; the loop sleeps only when none do.
bool MessagesWaiting();

// Timers: WM_TIMER with the id in wParam, or the procedure, every elapse ms. A
// null window makes a new id. Setting an existing id restarts it.
using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC proc);
BOOL KillTimer(HWND window, UINT_PTR id);
// Milliseconds until the next timer is due (0xFFFFFFFF when none runs).
uint32_t NextTimerDue();
// Dispatches WM_TIMER for every due timer; true when any ran.
bool DispatchDueTimers();

// Keyboard and mouse state as the loop has seen it: bit 0x8000 while down,
// bit 1 toggled (caps lock and friends).
SHORT GetKeyState(int virtualKey);
SHORT GetAsyncKeyState(int virtualKey);
// The loop records key and button messages here before dispatching them.
void NoteInputMessage(const MSG& msg);
// The shift state of the keyboard and mouse buttons now.
TShiftState KeyboardShiftState();
BOOL GetCursorPos(POINT* point);
// Moves the recorded pointer (headless scripts; a back end reports moves through messages).
BOOL SetCursorPos(int x, int y);

HWND SetCapture(HWND window);
BOOL ReleaseCapture();
HWND GetCapture();

// ---- scroll bars ----
constexpr int SB_HORZ = 0;
constexpr int SB_VERT = 1;
constexpr int SB_CTL = 2;
constexpr int SB_BOTH = 3;
constexpr UINT SIF_RANGE = 0x0001;
constexpr UINT SIF_PAGE = 0x0002;
constexpr UINT SIF_POS = 0x0004;
constexpr UINT SIF_DISABLENOSCROLL = 0x0008;
constexpr UINT SIF_TRACKPOS = 0x0010;
constexpr UINT SIF_ALL = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_TRACKPOS;
// Scroll requests in the low word of WM_HSCROLL and WM_VSCROLL.
constexpr WORD SB_LINEUP = 0;
constexpr WORD SB_LINELEFT = 0;
constexpr WORD SB_LINEDOWN = 1;
constexpr WORD SB_LINERIGHT = 1;
constexpr WORD SB_PAGEUP = 2;
constexpr WORD SB_PAGELEFT = 2;
constexpr WORD SB_PAGEDOWN = 3;
constexpr WORD SB_PAGERIGHT = 3;
constexpr WORD SB_THUMBPOSITION = 4;
constexpr WORD SB_THUMBTRACK = 5;
constexpr WORD SB_TOP = 6;
constexpr WORD SB_LEFT = 6;
constexpr WORD SB_BOTTOM = 7;
constexpr WORD SB_RIGHT = 7;
constexpr WORD SB_ENDSCROLL = 8;

struct SCROLLINFO {
  UINT cbSize = sizeof(SCROLLINFO);
  UINT fMask = 0;
  int nMin = 0;
  int nMax = 0;
  UINT nPage = 0;
  int nPos = 0;
  int nTrackPos = 0;
};
static_assert(sizeof(SCROLLINFO) == 28);

// The position is kept within nMin .. nMax - max(nPage - 1, 0), as Windows keeps it.
int SetScrollInfo(HWND window, int bar, const SCROLLINFO* info, BOOL redraw);
BOOL GetScrollInfo(HWND window, int bar, SCROLLINFO* info);
int SetScrollPos(HWND window, int bar, int pos, BOOL redraw);
int GetScrollPos(HWND window, int bar);
BOOL SetScrollRange(HWND window, int bar, int minPos, int maxPos, BOOL redraw);
BOOL GetScrollRange(HWND window, int bar, int* minPos, int* maxPos);
BOOL ShowScrollBar(HWND window, int bar, BOOL show);
// Whether the bar is shown (a window shows a bar once its range exceeds its page).
bool ScrollBarVisible(HWND window, int bar);
// The flat scroll bars of the common controls: the same bars, drawn flat.
BOOL InitializeFlatSB(HWND window);
void UninitializeFlatSB(HWND window);
inline int FlatSB_SetScrollInfo(HWND w, int bar, const SCROLLINFO* i, BOOL r) { return SetScrollInfo(w, bar, i, r); }
inline BOOL FlatSB_GetScrollInfo(HWND w, int bar, SCROLLINFO* i) { return GetScrollInfo(w, bar, i); }
inline int FlatSB_SetScrollPos(HWND w, int bar, int p, BOOL r) { return SetScrollPos(w, bar, p, r); }
inline int FlatSB_GetScrollPos(HWND w, int bar) { return GetScrollPos(w, bar); }
inline BOOL FlatSB_SetScrollRange(HWND w, int bar, int a, int b, BOOL r) { return SetScrollRange(w, bar, a, b, r); }
inline BOOL FlatSB_ShowScrollBar(HWND w, int bar, BOOL s) { return ShowScrollBar(w, bar, s); }
// Called when a bar's information changes, so the window can repaint its bars.
void SetScrollBarListener(std::function<void(HWND window, int bar)> listener);

// Windows calls on control windows, answered by the component layer.
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);
BOOL UpdateWindow(HWND window);
BOOL GetClientRect(HWND window, RECT* rect);
BOOL GetWindowRect(HWND window, RECT* rect);
BOOL IsWindowVisible(HWND window);
BOOL IsWindowEnabled(HWND window);
BOOL EnableWindow(HWND window, BOOL enable);
BOOL ClientToScreen(HWND window, POINT* point);
BOOL ScreenToClient(HWND window, POINT* point);
HWND SetFocus(HWND window);
HWND GetFocus();
HWND GetActiveWindow();
HWND GetForegroundWindow();
BOOL SetForegroundWindow(HWND window);
BOOL ShowWindow(HWND window, int showCommand);
BOOL SetWindowText(HWND window, const char* text);
int GetWindowText(HWND window, char* text, int maxCount);
// A window's style words. Only the extended style has an effect here:
// WS_EX_APPWINDOW gives an owned form its own taskbar button.
constexpr int GWL_STYLE = -16;
constexpr int GWL_EXSTYLE = -20;
constexpr LONG WS_EX_TOOLWINDOW = 0x00000080;
constexpr LONG WS_EX_APPWINDOW = 0x00040000;
LONG GetWindowLong(HWND window, int index);
LONG SetWindowLong(HWND window, int index, LONG value);  // the previous value
