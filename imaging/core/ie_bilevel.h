#pragma once
// Two-colour pictures and 1-bit rows: a writer that stores a bilevel image
// keeps the two real colours of a picture instead of thresholding it.
#include <memory>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_types.h"

// When the bitmap holds exactly two distinct colours: a new ie1g bitmap whose
// bit 0 stands for the darker colour (c1) and bit 1 for the lighter (c2); on
// equal greys c1 is the first colour met. Nil with one colour or more than two.
std::unique_ptr<TIEBitmap> ConvertTwoColorTo1Bit(TIEBitmap& bitmap, TRGB& c1, TRGB& c2);

// Complements every byte of every row in place (an ie1g bitmap turns from
// 1 = white into 1 = black and back).
void InvertBitmap(TIEBitmap& bitmap);
