#pragma once
// The DrawDib calls of Video for Windows, over the drawing layer: a DIB drawn
// into a device context, stretched when the rectangles differ. Our screen is a
// true-colour surface, so there is no palette to realise and no decompressor
// to pick: a DrawDib handle only has to be open to draw.
#include "platform/graphics/gdi.h"

QV_DECLARE_HANDLE(HDRAWDIB);

constexpr UINT DDF_UPDATE = 0x0002;     // redraw the last buffered image (we keep none)
constexpr UINT DDF_SAME_HDC = 0x0004;
constexpr UINT DDF_SAME_DRAW = 0x0008;
constexpr UINT DDF_DONTDRAW = 0x0010;   // prepare only
constexpr UINT DDF_HALFTONE = 0x1000;

// A new handle; DrawDibClose frees it.
HDRAWDIB DrawDibOpen();
// FALSE for a handle that is not open.
BOOL DrawDibClose(HDRAWDIB hdd);
// Draws the source rectangle (from the top left of the picture) of the DIB
// into the destination rectangle. dxDst or dyDst -1 (and dxSrc or dySrc -1)
// take the picture's width or height; lpBits null means the rows follow the
// header and its colour table. FALSE for a handle that is not open, a DIB we
// cannot read, DDF_UPDATE (nothing is buffered) or a failed blit.
BOOL DrawDibDraw(HDRAWDIB hdd, HDC hdc, int xDst, int yDst, int dxDst, int dyDst, const BITMAPINFOHEADER* lpbi,
                 const void* lpBits, int xSrc, int ySrc, int dxSrc, int dySrc, UINT wFlags);
// Colours of the handle's palette that the screen had to remap: always 0 here.
UINT DrawDibRealize(HDRAWDIB hdd, HDC hdc, BOOL fBackground);
