#pragma once
// Pictures turned into 32-bit images with alpha, or drawn: drop shadows, drawn
// pictures (metafiles) read on black and on white at eight times the size,
// stretched alpha drawing into a device context, and clipboard data.
#include <cstdint>

#include "base/toolbox/shadow_core.h"
#include "base/typed_lists.h"
#include "platform/graphics/graphics.h"
#include "platform/graphics/png_header.h"

// Target becomes a pf32bit picture of the source's size: the source over its
// shadow (strength 0..255 is the shadow's highest alpha).
void MakeDropShadow(TBitmap* source, TBitmap* target, int radius, int xOffset, int yOffset, int strength,
                    TColor colour);
void CompositeShadowUnder(TBitmap* source, TBitmap* target);

// Bitmap becomes a pf32bit picture of the graphic, width x height (0: the
// graphic's own size). Pictures too large to be read at eight times their size
// within a fixed memory budget are read in bands; sides above 32768 are refused
// and leave the bitmap empty.
void MetafileToBitmap32(TGraphic* metafile, TBitmap* bitmap, int width, int height);

// Draws a pf32bit bitmap stretched into the rectangle: over what is there
// (background clNone) or flattened onto the background colour.
void DrawAlphaStretched(TBitmap* bitmap, HDC dc, int x, int y, int width, int height, TColor background);

bool GetClipboardFormats(TListLongint& list);
bool ReadClipboardData(UINT format, void* buffer, int64_t count);
bool ReadClipboardToStream(UINT format, TStream& stream);
