#pragma once
// The region finders behind the view's magic wand: from a seed pixel and a
// per-channel tolerance, the outline of the connected region as a polygon, the
// connected region marked in a selection mask, or every pixel of a similar
// colour marked in the mask. Any pixel format is read as 8-bit red, green, blue.
#include <cstdint>
#include <memory>

#include "platform/win/win_types.h"

class TIEBitmap;
class TIEMask;

// Marks in mask, with maskValue, the pixels 4-connected to (x, y) whose red,
// green and blue each lie within tolerance (0..255) of the seed's; with grow,
// each such pixel marks its 3 x 3 neighbourhood (clipped to the image). Nothing
// happens when the seed lies outside the image or the work memory cannot be had.
void FloodFillToMask(TIEBitmap& bitmap, int x, int y, int maskValue, TIEMask& mask, int tolerance, bool grow);

// Marks every pixel of the image whose colour is within tolerance of the seed
// pixel's, connected or not; nothing for a seed outside the image.
void SelectColorToMask(TIEBitmap& bitmap, int x, int y, int maskValue, TIEMask& mask, int tolerance);

// The outline of the region FloodFillToMask would mark, as the corners of a
// path along the pixel edges in image coordinates. Nil with count 0 when the
// seed lies outside the image or the tracing grid (4 x 4 cells per pixel of the
// region's box) cannot be had. A region with parts one pixel thin may end the
// walk before the outline closes.
std::unique_ptr<POINT[]> TraceMagicWandContour(TIEBitmap& bitmap, int x, int y, int& count, int tolerance, bool grow);
