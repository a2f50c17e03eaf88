#pragma once
// Drop shadows and the two-background reading of drawn pictures, on raw 32-bit
// rows (blue, green, red, alpha).
#include <cstdint>

#include "base/toolbox/pixel_rows.h"

// The weight of offset (dx, dy) from a shadow-casting pixel for blur radius r.
int ShadowKernelWeight(int radius, int strength, int dx, int dy);

// Spreads the shadow of every non-transparent source pixel into target (of the
// source's size, cleared by the caller). shadowPixel is the shadow colour in
// pixel order (0x00RRGGBB).
void SpreadShadow(const TPixelRows& source, const TPixelRows& target, int radius, int xOffset, int yOffset,
                  int strength, uint32_t shadowPixel);
// Every target pixel becomes the source pixel composited over it.
void CompositeShadowUnder(const TPixelRows& source, const TPixelRows& target);

// Reads a picture drawn once on black and once on white (24-bit rows, eight
// times the target size) into 32-bit pixels: per 8 x 8 block, the sub-pixels
// that came out the same on both backgrounds are the picture's own; their
// average is the colour and their share the alpha.
void CombineBlackWhiteBlocks(const TPixelRows& onBlack, const TPixelRows& onWhite, const TPixelRows& target);
