#pragma once
// Windows device-independent bitmaps: reading (with or without the file
// header, every header size, RLE4/RLE8, bit fields, 32-bit alpha) into a
// library bitmap, and writing at 1, 4, 8, 24 or 32 bits.
#include <cstdint>
#include <vector>

#include "imaging/core/ie_types.h"
#include "imaging/io/ie_filters.h"

class TIEBitmap;
class TIOParamsVals;
class TStream;
struct TProgressRecord;

void ReadBMPStream(TStream& stream, TIEBitmap& bitmap, int64_t bmpSize, TIOParamsVals& params,
                   TProgressRecord& progress, bool paramsOnly, bool noFileHeader, TIEMaskOut& alphaMask,
                   bool ignoreAlpha);
void WriteBMPStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress,
                    bool saveAlpha);

// RLE data into an ie24RGB bitmap through the palette (an index past its end is
// black), or as indices into an ie8p bitmap. topRow is 0 for bottom-up data and
// height - 1 for top-down data. They never read past size nor write outside
// the bitmap.
void DecodeBMPRLE8(TIEBitmap& bitmap, const uint8_t* data, int64_t size, const std::vector<TRGB>& palette,
                   TProgressRecord& progress, int topRow);
void DecodeBMPRLE8Indexed(TIEBitmap& bitmap, const uint8_t* data, int64_t size, const std::vector<TRGB>& palette,
                          TProgressRecord& progress, int topRow);
void DecodeBMPRLE4(TIEBitmap& bitmap, const uint8_t* data, int64_t size, const std::vector<TRGB>& palette,
                   TProgressRecord& progress, int topRow);
void DecodeBMPRLE4Indexed(TIEBitmap& bitmap, const uint8_t* data, int64_t size, const std::vector<TRGB>& palette,
                          TProgressRecord& progress, int topRow);

// One row of count indices (a byte each) as RLE codes ending with the
// end-of-line code; returns the bytes written. output holds 10 bytes a pixel.
int EncodeBMPRLE8Row(const uint8_t* indices, int count, uint8_t* output);
int EncodeBMPRLE4Row(const uint8_t* indices, int count, uint8_t* output);

// The Windows Bitmap format for the input/output component.
TIEFormatDescriptor BMPFormat();
