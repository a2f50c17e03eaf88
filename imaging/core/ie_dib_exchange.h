#pragma once
// Packed device-independent bitmaps in and out of a library bitmap: the form the
// clipboard and the embedded pictures of TIFF annotations hold.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/win/win_types.h"

class TIEBitmap;

// Reads a packed DIB (info header, masks, colour table, rows) of size bytes into
// bitmap: ie1g for a 1-bit DIB (a set bit white; a table that puts the lighter
// colour first is turned over), ie24RGB for every other depth (bit fields by the
// top bits of each channel), and for a video frame whose compression is a YUV
// FOURCC (see ie_yuv.h). Run-length, top-down and every header version are
// read. Returns the DIB's bits per pixel, or 0 (the bitmap untouched) for a
// missing, short or malformed block: nothing outside the size bytes is read.
int DIBToIEBitmap(const void* dib, size_t size, TIEBitmap& bitmap);
// The same with the pixels (or the frame) in a block of their own; dib then
// holds the header, its masks and its colour table only.
int DIBToIEBitmap(const void* dib, size_t size, TIEBitmap& bitmap, const void* bits, size_t bitsSize);
// The same for a global memory block, locked for the call.
int DIBToIEBitmap(HGLOBAL dib, TIEBitmap& bitmap);

// Applies table[i] = round((i / 255)^(1 / gamma) x 255) to every byte of the
// rows of an uncompressed 24-bit packed DIB (as many rows as the block holds);
// other DIBs are left alone.
void GammaCorrectDIB(void* dib, size_t size, double gamma);
void GammaCorrectDIB(HGLOBAL dib, double gamma);

// A packed DIB of the rectangle (x1, y1) to (x2, y2) of bitmap, x2 = 0 meaning
// the width and y2 = 0 the height: a 40-byte info header with the resolutions as
// pixels per metre, a 2-entry palette for ie1g, 256 entries for ie8p and ie8g,
// then the rows bottom-up. ie1g, ie8p, ie8g and ie24RGB keep their depth; every
// other format is written as 24-bit colour. Empty for an empty rectangle.
std::vector<uint8_t> CopyBitmapToPackedDIB(TIEBitmap& bitmap, int x1, int y1, int x2, int y2, int dpiX, int dpiY);
// The same in a new movable, shareable global block; null when it cannot be had.
HGLOBAL CopyBitmaptoDIBEx(TIEBitmap& bitmap, int x1, int y1, int x2, int y2, int dpiX, int dpiY);
