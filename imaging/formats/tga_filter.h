#pragma once
// Truevision Targa: uncompressed and run-length images of 1, 4, 8, 16, 24 and
// 32 bits a pixel (colour-mapped, true-colour and grey) read into a library
// bitmap with an 8-bit alpha mask, and written with the extension area and
// footer of the newer layout.
#include <cstdint>

#include "imaging/io/ie_filters.h"

class TIEBitmap;
class TIEMask;
class TIOParamsVals;
class TStream;
struct TProgressRecord;

// True when the 18 bytes at the position form a plausible header; the position is restored.
bool IsTGAStream(TStream& stream);
// Reads from the position to the end of the stream (the footer is the stream's last 26 bytes).
void ReadTGAStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress,
                   bool paramsOnly, TIEMaskOut& alphaMask, bool ignoreAlpha);
// Writes an ie24RGB or ie1g bitmap; alphaMask (or nil) makes a 32-bit file.
void WriteTGAStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress,
                    TIEMask* alphaMask);

// One row of count pixels of bytesPerPixel bytes as run-length packets; returns
// the bytes written. output holds bytesPerPixel + 1 bytes a pixel.
int EncodeTGARLERow(const uint8_t* pixels, int count, int bytesPerPixel, uint8_t* output);
// A positive ratio as numerator over denominator, both within 16 bits: n / 10000
// where that fits, else the nearest fraction that does; 0 / 0 for none.
void TGARatioFraction(double value, uint16_t& numerator, uint16_t& denominator);

// The Targa format for the input/output component.
TIEFormatDescriptor TGAFormat();
