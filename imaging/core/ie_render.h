#pragma once
// Zoomed drawing of library bitmaps. TIEBitmap::RenderToTIEBitmapEx (declared
// with the bitmap, done in ie_render.cpp) draws a rectangle of a bitmap of any
// pixel format, scaled, into a rectangle of a 24-bit bitmap, with the bitmap's
// display adjustments, an opacity, its alpha channel and a blend mode. This
// header adds what the views share with it: the zoom maps, the drawing onto a
// canvas in strips, and the draw-a-DIB helpers.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_blend.h"
#include "imaging/core/ie_resample.h"
#include "platform/graphics/drawdib.h"
#include "platform/win/win_types.h"

class TCanvas;

// ---- zoom maps ----
// The source index shown at a position of a zoomed axis, counted from the
// start of the drawn span: trunc(position x sourceSpan / destinationSpan), in
// one division, so whole spans give the exact quotient (100 / 300 % shows
// source 1 at positions 3, 4 and 5). The renderer's maps and the view's
// screen-to-bitmap tables above 100 % both come from here, so a view names the
// pixel it paints at a screen column.
inline int IEZoomSourceIndex(int64_t position, double sourceSpan, double destinationSpan) {
  return static_cast<int>(static_cast<double>(position) * sourceSpan / destinationSpan);
}
// map[i] = clamp(sourceOrigin + IEZoomSourceIndex(i, ...), 0, sourceLimit - 1)
// for i = 0 .. count - 1.
void IEBuildZoomMap(int32_t* map, int count, double sourceSpan, double destinationSpan, int sourceOrigin,
                    int sourceLimit);
// A view's two coordinate tables for one axis at zoom percent: viewToBitmap of
// screenLength + 2 entries, bitmapToView of round((screenLength + 1) x 100 /
// zoom) + 2. Above 100 % screen column j shows bitmap column
// IEZoomSourceIndex(j, 100, zoom), and each bitmap column keeps its first
// screen column; at 100 % and below bitmap column k lands on screen column
// round(k x zoom / 100), and each screen column keeps its first bitmap column.
// Bitmap indexes are capped at bitmapLength - 1. Both empty for a zoom of 0 or
// less or an empty screen length.
void IEBuildViewZoomTables(double zoom, int screenLength, int bitmapLength, std::vector<int32_t>& viewToBitmap,
                           std::vector<int32_t>& bitmapToView);

// ---- onto canvases and devices ----
// Stretches a packed DIB in global memory (40-byte header, for 8 bits or fewer
// a colour table of 2^bits entries, then the rows) onto the canvas with
// COLORONCOLOR and SRCCOPY. A block too small for what its header says is not
// drawn.
void DIBDrawTo(TCanvas& canvas, HGLOBAL dib, int x, int y, int width, int height, int sourceX, int sourceY,
               int sourceWidth, int sourceHeight);
// Draws the strip (sourceX, sourceY, width, stripHeight) of bitmap 1:1 at (x, y)
// through a packed DIB of 200 DPI.
void PrintPict(TCanvas& canvas, int x, int y, int stripHeight, int width, int sourceY, int sourceX, TIEBitmap& bitmap);


// ---- screen drawing of DIBs: the calls pass straight through ----
HDRAWDIB CallDrawDibOpen();
BOOL CallDrawDibClose(HDRAWDIB hdd);
BOOL CallDrawDibDraw(HDRAWDIB hdd, HDC hdc, int xDst, int yDst, int dxDst, int dyDst, const BITMAPINFOHEADER* lpbi,
                     const void* lpBits, int xSrc, int ySrc, int dxSrc, int dySrc, UINT wFlags);
UINT CallDrawDibRealize(HDRAWDIB hdd, HDC hdc, BOOL fBackground);
