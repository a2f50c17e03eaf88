#pragma once
// What the library's views and dialogs ask of the user interface: the state of
// the primary mouse button, the shared dialog font, and the shade around a crop.
#include "platform/graphics/graphics_canvas.h"

// The primary button (left, or right when the buttons are swapped) is held down.
bool IsPrimaryMouseButtonDown();
// The library's dialog font, made on first use and kept until the program ends:
// "Segoe UI" -12 on Vista or later when the screen has it, else "Tahoma" -11.
TFont* GetDefaultUIFont();
// Darkens the four bands between outer and inner with black at alpha 150;
// nothing when inner is empty.
void DrawOutsideShade(TCanvas* canvas, const TRect& outer, const TRect& inner);
