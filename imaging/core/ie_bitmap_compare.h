#pragma once
// Comparing two library bitmaps by their pixels.
#include "imaging/core/ie_bitmap.h"

// Same size, pixel format and alpha presence, and the same pixels (row padding aside).
bool SameBitmaps(TIEBitmap& a, TIEBitmap& b);
