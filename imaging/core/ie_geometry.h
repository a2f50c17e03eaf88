#pragma once
// Geometry of a library bitmap: changing its width and height with the content
// kept, growing or shrinking the canvas with an alignment, moving a rectangle
// and copying rectangles between bitmaps. The alpha channel always
// follows the picture.
#include "imaging/core/ie_bitmap.h"
