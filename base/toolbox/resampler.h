#pragma once
// The icon side's resampler on framework bitmaps: eight kernels in two
// separable passes with integer weights; 32-bit pictures keep their alpha
// apart from their colour so that transparent pixels never darken the edges.
#include "base/toolbox/resample_core.h"
#include "base/toolbox/resample_filters.h"
#include "platform/graphics/graphics.h"

// Scales source to the target's current size; the result is pf32bit with alpha
// (a same-size call copies the source as it is). Filter 0 stretches with the
// platform's StretchBlt.
void ResampleBitmap(TBitmap* source, TBitmap* target, TIconResampleFilter filter);
// Plain 24-bit scaling to the target's current size; the target becomes pf24bit.
void ResampleBitmap24(TBitmap* source, TBitmap* target, TIconResampleFilter filter);
// The halves of the alpha-aware path over a pf24bit colour picture and a pf24bit
// picture whose first byte per pixel is alpha.
void ResampleColorWithAlpha(TBitmap* colour, TBitmap* alpha, TBitmap* target, TIconResampleFilter filter);
void ResampleAlphaPlane(TBitmap* alpha, TBitmap* target, TIconResampleFilter filter);
void SplitToColor24(TBitmap* source, TBitmap* colour, bool& transparentWhite);
void ExtractAlphaPlane(TBitmap* source, TBitmap* alpha);
void ClearTransparentWhite(TBitmap* bitmap);
bool BorderAlphaAverages(TBitmap* bitmap, uint8_t& left, uint8_t& top, uint8_t& right, uint8_t& bottom);
