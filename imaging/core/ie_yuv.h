#pragma once
// Video frames in the YUV layouts that capture drivers name by a FOURCC in a
// DIB header, converted to 24-bit colour with one video-range sample formula.
#include <cstddef>
#include <cstdint>

#include "imaging/core/ie_types.h"

class TIEBitmap;

// y = 1.164 (Y - 16); blue = y + 2.018 (U - 128); green = y - 0.813 (V - 128)
// - 0.391 (U - 128); red = y + 1.596 (V - 128); each rounded and clamped.
TRGB YUVToRGB(int y, int u, int v);

constexpr uint32_t MakeFourCC(char a, char b, char c, char d) {
  return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 | uint32_t(uint8_t(d)) << 24;
}

// Bytes one frame of width x height needs in the FOURCC's layout; 0 for a
// FOURCC this library does not convert, or a size too small to hold one
// whole group of pixels. Packed lines hold whole groups only and follow each
// other without padding; planar chroma planes are width div 2 (div 4) wide.
int64_t YUVFrameSize(uint32_t fourcc, int width, int height);

// Whether a frame of this FOURCC fills row 0 first: biHeight > 0 for every
// layout but Y41P and cyuv, which are stored bottom-up unless biHeight < 0.
bool YUVFrameTopDown(uint32_t fourcc, int32_t biHeight);

// Converts a frame into bitmap, an ie24RGB bitmap the caller allocated at the
// frame's size. With topDown the first line of the frame goes into row 0,
// otherwise into the last row and the lines go upwards. Pixels of a packed
// line beyond its last whole group are left as they were. False (nothing
// written) when the format is unknown or size is short of a frame.
bool ConvertYUVFrame(uint32_t fourcc, const uint8_t* data, size_t size, TIEBitmap& bitmap, bool topDown);

// The converters by layout, as ConvertYUVFrame for their FOURCCs.
bool ConvertI420ToRGB(const uint8_t* data, size_t size, TIEBitmap& bitmap, bool topDown);
bool ConvertYV12ToRGB(const uint8_t* data, size_t size, TIEBitmap& bitmap, bool topDown);
bool ConvertYVU9ToRGB(const uint8_t* data, size_t size, TIEBitmap& bitmap, bool topDown);
bool ConvertIYU1ToRGB(const uint8_t* data, size_t size, TIEBitmap& bitmap, bool topDown);
bool ConvertIYU2ToRGB(const uint8_t* data, size_t size, TIEBitmap& bitmap, bool topDown);
bool ConvertYUY2ToRGB(const uint8_t* data, size_t size, TIEBitmap& bitmap, bool topDown);
bool ConvertUYVYToRGB(const uint8_t* data, size_t size, TIEBitmap& bitmap, bool topDown);
bool ConvertYVYUToRGB(const uint8_t* data, size_t size, TIEBitmap& bitmap, bool topDown);
bool ConvertY41PToRGB(const uint8_t* data, size_t size, TIEBitmap& bitmap, bool topDown);
bool ConvertY211ToRGB(const uint8_t* data, size_t size, TIEBitmap& bitmap, bool topDown);
// Cirrus Logic AccuPak: each 4 pixels are one 32-bit word stored most
// significant byte first, holding V (bits 0..5), U (6..11) and four 5-bit
// lumas Y0 (12..16) to Y3 (27..31); lumas widen to 8 bits by repeating their
// top bits, chroma by a shift of 2 so that 32 stays the neutral 128.
bool ConvertCLJRToRGB(const uint8_t* data, size_t size, TIEBitmap& bitmap, bool topDown);
