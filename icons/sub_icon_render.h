#pragma once
// Rendering of icon images into framework bitmaps: the colour part as stored,
// the AND mask as a 1-bit bitmap, the image as it looks on a background colour,
// and drawing on a canvas.
#include "icons/sub_icon.h"
#include "platform/graphics/graphics_bitmap.h"

// The background value that means "no colour".
inline constexpr TColor kNoBackground = 0x1FFFFFFF;

// Fills the bitmaps that are given (nil: not wanted) from the image. A DIB
// whose rows the bits do not hold is "Invalid image"; a short AND mask reads
// as opaque.
void ExtractBitmaps(TSubIcon& image, TBitmap* composite, TBitmap* raw, TColor background, TBitmap* mask);

// Draws the image on a canvas at (x, y) at its own size.
void DrawSubIcon(TCanvas* canvas, int x, int y, TSubIcon& image, TColor background);

// Replaces the image's bits by a 32-bit DIB of a pf32bit bitmap; the AND mask
// is set where alpha is below 96.
void SetFrom32BitBitmap(TSubIcon& image, TBitmap& bitmap);

// The image drawn into a bitmap of its size and depth.
void AssignSubIconToBitmap(TSubIcon& image, TBitmap& bitmap);
