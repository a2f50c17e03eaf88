#pragma once
// The caret: one per thread, owned by a window. It is drawn by inverting its
// rectangle in the owner's form bitmap (drawing twice restores the pixels), so
// a picture of the form shows it. It blinks on a timer for a few seconds after
// each change, then stays shown, so an idle loop does not run forever.
#include "platform/graphics/gdi.h"
#include "platform/ui/messages.h"

class TCustomForm;

// Replaces any caret of the thread; the new one starts hidden (ShowCaret shows
// it). width 0 takes the system's caret width (1 pixel); bitmap is not used.
BOOL CreateCaret(HWND window, HBITMAP bitmap, int width, int height);
BOOL DestroyCaret();
// Client coordinates of the owner window.
BOOL SetCaretPos(int x, int y);
BOOL GetCaretPos(POINT* point);
// Hiding is counted: each HideCaret needs a ShowCaret before the caret shows.
// FALSE when the window does not own the caret (a null window: any owner).
BOOL HideCaret(HWND window);
BOOL ShowCaret(HWND window);
UINT GetCaretBlinkTime();
BOOL SetCaretBlinkTime(UINT milliseconds);

// ---- for the component layer and tests ----
// The form's paint pass takes the caret off the bitmap before painting and puts
// it back after, adding its rectangle to the area presented.
void CaretBeforePaint(TCustomForm* form);
void CaretAfterPaint(TCustomForm* form, RECT& presented);
// The owner window of the caret (null when none), and whether it is drawn now.
HWND CaretOwner();
bool CaretDrawn();
