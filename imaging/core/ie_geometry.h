#pragma once
// Geometry of a library bitmap: changing its width and height with the content
// kept, growing or shrinking the canvas with an alignment, moving a rectangle,
// rotating, and copying rectangles between bitmaps. The alpha channel always
// follows the picture.
#include "imaging/core/ie_bitmap.h"

// Rotates bitmap (and its alpha channel) counter-clockwise by angle degrees into
// a box that holds the turned picture. Right angles are exact copies for every
// format; other angles map each target pixel back to its source, bilinear for
// 24-bit colour when quality is not 0, nearest otherwise. The uncovered corners
// take the background (a colour 0x00BBGGRR, or a grey level) and are transparent.
// False, with the bitmap kept, when the storage cannot be had.
bool RotateIEBitmap(TIEBitmap& bitmap, double angle, uint32_t background, int quality);
