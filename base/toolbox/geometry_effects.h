#pragma once
// Bitmap geometry and colour effects in place: flips, cyclic shifts, channel
// inversion and greys.
#include <cstdint>

#include "platform/graphics/graphics.h"

void FlipVertical(TBitmap* bitmap);
void FlipHorizontal(TBitmap* bitmap);
void ReverseNibbles(uint8_t* row, int highIndex);
void SetNibble(uint8_t* row, int index, uint8_t value);
void ShiftHorizontal(TBitmap* bitmap, int n);
void ShiftVertical(TBitmap* bitmap, int n);
void InvertColorChannels(TBitmap* bitmap, TBitmap* mask, bool red, bool green, bool blue);
// A rectangle whose left and right are both 0 stands for the whole bitmap.
void GrayscaleRect(TBitmap* bitmap, const TRect& rect);
// Greys low + (red + green + blue) div (768 div (high - low)), held to 255.
void GrayscaleRangeRect(TBitmap* bitmap, const TRect& rect, int low, int high, TColor keyColour);
void ConvertToGrayscale(TBitmap* bitmap);
void GrayscaleRangeBitmap(TBitmap* bitmap, TColor keyColour);
