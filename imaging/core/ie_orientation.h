#pragma once
// Mirroring a library bitmap in place, and turning a picture upright by its
// EXIF orientation. The alpha channel always follows the picture.
#include "imaging/core/ie_bitmap.h"

// 0 mirrors left to right, 1 top to bottom.
void FlipBitmap(TIEBitmap& bitmap, int direction);

// 2 mirror, 3 half turn, 4 upside down, 5 transpose (mirror about the main
// diagonal), 6 quarter turn clockwise, 7 transverse (mirror about the other
// diagonal), 8 quarter turn counter-clockwise; other values do nothing.
// False when the turned picture's storage cannot be had (the bitmap is kept).
bool ApplyExifOrientation(TIEBitmap& bitmap, int orientation);

// Turns source a quarter clockwise or counter-clockwise into destination,
// allocated at the swapped size in the source's format with its palette (the
// alpha channel is not turned). False when the storage cannot be had.
bool QuarterTurnInto(TIEBitmap& source, TIEBitmap& destination, bool clockwise);
