#pragma once
// Putting one bitmap into another together with its alpha channel. They act
// as operations of the source (StretchRectTo) and of the destination
// (MergeWithAlpha) bitmap, written as free functions over TIEBitmap.
#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_blend.h"
#include "imaging/core/ie_resample.h"

// Scales the source rectangle of source into the destination rectangle of an
// ie24RGB dest and sets dest's alpha there: source's own (capped at alpha)
// when it has a channel that is not full, else alpha itself. A filter other
// than rfNone resamples first. Sources other than ie1g and ie24RGB are read
// through a 24-bit copy; other destinations are left alone.
void StretchRectTo(TIEBitmap& source, TIEBitmap& dest, int xDst, int yDst, int dxDst, int dyDst, int xSrc, int ySrc,
                   int dxSrc, int dySrc, TResampleFilter filter, int alpha);

// Composites source (from sourceX, sourceY) at x, y onto the ie24RGB dest by
// blendMode and opacity, updating dest's alpha; width or height -1 means the
// source's, and resize scales the source to width x height first. A source
// without an alpha channel counts as opaque and gains none; a destination of
// another format is left unchanged.
void MergeWithAlpha(TIEBitmap& dest, TIEBitmap& source, int x, int y, int width = -1, int height = -1,
                    int sourceX = 0, int sourceY = 0, bool resize = false, TResampleFilter filter = rfNone,
                    TIEBlendMode blendMode = iebmNormal, int opacity = 255);
