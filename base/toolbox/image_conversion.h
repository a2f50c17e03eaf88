#pragma once
// ConvertImage, the one road by which the icon side makes every image of an
// icon: to a size (resampled or stretched) and a pixel format (with colour
// reduction), with a 1-bit transparency mask (white = transparent).
#include <cstdint>

#include "base/toolbox/resample_filters.h"
#include "base/typed_lists.h"
#include "platform/graphics/graphics.h"

// Reduction methods: 0 greys, 1 a palette of the picture's own colours with
// black and white kept, 2 median cut with error diffusion (halftone for 1-bit,
// dithered 16 colours for 4-bit), above 2 median cut with that quantiser mode.
void ConvertImage(TBitmap* source, TBitmap* sourceMask, TBitmap* target, TBitmap* targetMask, TPixelFormat format,
                  int width, int height, int method, int alphaThreshold, bool keepProportions,
                  TIconResampleFilter filter, const TListLongint* paletteList, bool keepWhite);

void ReduceToPalette(TBitmap* source, TBitmap* target, bool keepBlackAndWhite, bool use16Colours,
                     const TListLongint* paletteList, int maxColours, int alphaThreshold);
void ReduceTo256Colors(TBitmap* source, TBitmap* target, bool keepBlackAndWhite, bool padWithStandard, int mode);
void ReduceTo255Colors(TBitmap* source, TBitmap* target, int mode);
void ConvertToGrayscale8(TBitmap* source, TBitmap* target, int alphaThreshold);
void DitherTo16Colors(TBitmap* source, TBitmap* target);
