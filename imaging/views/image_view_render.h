#pragma once
// How the image view draws a layer's visible part into its back buffer: the
// destination columns and rows come with the source column and row each shows
// (the view's coordinate tables), so the pixel painted at a view column is the
// one ScreenToBitmapX names there.
#include <cstdint>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_resample.h"

struct TIEViewRenderArea {
  int destX = 0, destY = 0, destW = 0, destH = 0;  // where in the back buffer
  int srcX = 0, srcY = 0, srcW = 0, srcH = 0;      // the visible source rectangle
  int scrW = 0, scrH = 0;                          // its size on screen
  std::vector<int> columnMap, rowMap;              // source column / row of each destination one
};

// Draws source into the 24-bit dest. A filter other than rfNone with a source
// rectangle of another size than its screen size resamples it first. Alpha is
// used when asked and the channel is not Full; opacity weighs every pixel.
void RenderViewLayer(TIEBitmap& source, TIEBitmap& dest, const TIEViewRenderArea& area, bool useAlpha,
                     uint8_t opacity, TResampleFilter filter, uint8_t operation);
