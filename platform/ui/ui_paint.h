#pragma once
// The drawing of our flat classic look, shared by every control: bevels, button
// faces, check and radio marks, arrows, scroll bars and text in a rectangle.
#include <string>

#include "platform/graphics/graphics_canvas.h"
#include "platform/ui/windows.h"

// Two-colour frame of the given width, shrinking rect to the inside.
void Frame3D(TCanvas* canvas, TRect& rect, TColor topColor, TColor bottomColor, int width);
// A raised push-button face (sunken while pressed); rect becomes the face inside.
void DrawButtonFace(TCanvas* canvas, TRect& rect, bool pressed, bool isDefault, bool flat = false);
// A sunken white box, as edits, lists and check boxes have.
void DrawSunkenBox(TCanvas* canvas, TRect& rect, TColor fill);
// A 13 by 13 check box or radio mark with its top-left at (x, y).
void DrawCheckMark(TCanvas* canvas, int x, int y, bool checked, bool enabled, bool radio, bool grayed = false);
enum TArrowDirection : uint8_t { adUp, adDown, adLeft, adRight };
// A small filled arrow centred in rect.
void DrawArrow(TCanvas* canvas, const TRect& rect, TArrowDirection direction, TColor color);
void DrawScrollBar(TCanvas* canvas, const TRect& rect, bool horizontal, const SCROLLINFO& info, bool enabled);
// Where DrawScrollBar puts the thumb of a bar in rect; empty when it draws none.
// The track is the bar less an arrow button (as long as the bar is thick) at each end.
TRect ScrollBarThumbRect(const TRect& rect, bool horizontal, const SCROLLINFO& info);
// The position a thumb whose leading edge lies at offset (from the track's start) stands for.
int ScrollBarPositionAt(const TRect& rect, bool horizontal, const SCROLLINFO& info, int offset);
// Text through DrawText with the canvas font; a disabled text is drawn embossed.
void DrawTextIn(TCanvas* canvas, const std::string& text, TRect rect, UINT format, bool enabled = true);
// Grows rect by delta on each side (negative shrinks).
TRect InflateRect(const TRect& rect, int dx, int dy);
bool PtInRect(const TRect& rect, TPoint point);
