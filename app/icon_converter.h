#pragma once
// The image-to-icon converter: one framework bitmap becomes the images of a
// multi-image icon, one per requested size and depth, each with its AND mask,
// in the standard order (4-bit, 8-bit, 32-bit images, each from the largest
// square size down, then the rest).
#include <cstdint>

#include "base/toolbox/resample_filters.h"
#include "base/typed_lists.h"
#include "icons/advanced_icon.h"
#include "platform/graphics/graphics.h"

// Transparency modes: where the transparent colour comes from.
enum TIconTransparencyMode : int32_t {
  itmNone = 0,
  itmColor = 1,
  itmTopLeft = 2,
  itmBottomLeft = 3,
  itmTopRight = 4,
  itmBottomRight = 5,
};

// Every mask the converter derives counts alpha at or below this as transparent,
// and a source larger than kReduceAbove in a side is reduced once to fit
// kLargestSide x kLargestSide when several sizes are asked for.
inline constexpr int kConverterAlphaThreshold = 80;
inline constexpr int kLargestSide = 192;
inline constexpr int kReduceAbove = 384;

// The sizes 48, 32 and 16 at 32 bits, as the main window asks for them. The
// source is changed only by a colour key (its keyed pixels cleared) or when it
// is 32-bit with no alpha at all (it becomes 24-bit); the caller frees it.
void MakeIconFromBitmap(TBitmap* source, TAdvancedIcon* icon, bool zoomToFit, TColor colour, int mode,
                        TIconResampleFilter filter, bool constrainProportions, bool shrinkToFit);

// Replaces every image of icon by the requested ones. A width, height or depth
// of 0 stands for the source's own. workMask receives the colour-key mask of a
// source that is not 32-bit.
void ConvertBitmapToIcon(TBitmap* source, TBitmap* workMask, TAdvancedIcon* icon, const TListLongint& depths,
                         const TListLongint& heights, const TListLongint& widths, TColor colour, int mode,
                         TIconResampleFilter filter, bool constrainProportions, bool shrinkToFit, bool zoomToFit);

// The transparent colour for the mode, or clNone. A 32-bit source whose chosen
// corner is fully transparent has none.
void GetTransparentColor(TBitmap* bitmap, int mode, TColor& colour);

// A 32-bit bitmap whose every alpha byte is 0 is an opaque picture that lost
// its alpha on the way: it becomes 24-bit.
void DropEmptyAlpha(TBitmap* bitmap);

// The scaling decision for one size: placeAsIs tells whether the source is cut
// or centred unscaled; the rectangles say which part goes where.
void ComputePlacement(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight, bool shrinkToFit,
                      bool zoomToFit, bool& placeAsIs, TRect& sourceRect, TRect& destRect);

// True when a W x H source of depth D is reduced once before the sizes are made.
bool NeedsOneTimeReduction(int width, int height, int depth, const TListLongint& depths, const TListLongint& heights,
                           const TListLongint& widths);

// Reorders the images into the standard order; true when the order changed.
bool SortSubIcons(TAdvancedIcon* icon);
