#pragma once
// Black-and-white pictures as the 1-bit formats store them: index 0 black,
// index 1 white.
#include <memory>

#include "platform/graphics/graphics_bitmap.h"

// True when the bitmap is pf1bit with black at index 0 and white at index 1,
// so that its rows can be written as they are.
bool IsBlackAndWhite(TBitmap* bitmap);
// A black-and-white bitmap of the picture's size with the picture drawn onto
// it (colours go to the nearer of the two).
std::unique_ptr<TBitmap> BlackAndWhiteCopy(TBitmap* bitmap);
