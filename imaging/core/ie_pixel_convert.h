#pragma once
// Conversion of a library bitmap between its eleven pixel formats. One converter
// covers every pair: a direct row loop where the formats are close, and a pass
// through 24-bit colour (made on a private copy, never on the caller's source)
// where they are not.
#include <cstdint>

#include "imaging/core/ie_bitmap.h"

// Fills destination, already allocated in its format at the source's size, from
// source. Sizes that differ, a destination kept in a framework bitmap or a source
// without a format leave it untouched. Samples outside their nominal range (a
// float above 1.0) are clamped into the target. The source is never changed; its
// alpha channel, when it has one, is copied to the destination.
void ConvertBitmapPixels(TIEBitmap& source, TIEBitmap& destination);

// Any pixel of any format as 8-bit blue, green, red.
TRGB PixelAsRGB(TIEBitmap& bitmap, int x, int y);
// A whole row the same way (16-bit samples by their high byte) into width pixels.
void RowAsRGB(TIEBitmap& bitmap, int y, TRGB* out);

// The 8 x 8 ordered-dither matrix; a pixel becomes white when
// kIEDitherMatrix[x mod 8][y mod 8] is below its level 0..63.
extern const uint8_t kIEDitherMatrix[8][8];

// How CMYK rows become colour and back. The defaults go through the library's
// CMYK colour profile when one is available and CMYKProfileConversion is on
// (ie_icc.h), else through the plain formulas below.
using TIECMYKToRGBRow = void (*)(const TCMYK* source, TRGB* destination, int count);
using TIERGBToCMYKRow = void (*)(const TRGB* source, TCMYK* destination, int count);
extern TIECMYKToRGBRow IECMYKToRGBRow;
extern TIERGBToCMYKRow IERGBToCMYKRow;
// The formulas: red = C x K / 255 on the stored (inverted) bytes, and the
// reverse of RGBToCMYKPlain.
void CMYKToRGBRowPlain(const TCMYK* source, TRGB* destination, int count);
void RGBToCMYKRowPlain(const TRGB* source, TCMYK* destination, int count);
