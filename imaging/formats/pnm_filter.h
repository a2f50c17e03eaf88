#pragma once
// Portable anymaps: PBM, PGM and PPM in their ASCII (P1, P2, P3) and binary
// (P4, P5, P6) forms, 8 and 16 bits a sample, read into a library bitmap;
// written as P4, P5 or P6 with the picture's comment lines.
#include <cstddef>
#include <string>
#include "imaging/io/format_descriptor.h"

class TIEBitmap;
class TIOParamsVals;
class TStream;
struct TProgressRecord;

// The longest token or comment kept; longer runs are consumed, their excess dropped.
constexpr size_t kPXMTokenLimit = 4096;

// The next token: a run of ASCII letters and digits (the byte after it is
// consumed), or "#" and the trimmed comment up to the next line end. Empty at
// the end of the stream. At most maxLength characters are kept.
void ReadPXMToken(TStream& stream, std::string& token, size_t maxLength = kPXMTokenLimit);
// True when a header with a known magic and a positive width and height starts
// at the position, which is restored. It never looks past the first 64 KB.
bool IsPXMStream(TStream& stream);
void ReadPXMStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress,
                   bool paramsOnly);
void WritePXMStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress);

// The portable anymap formats for the input/output component.
TIEFormatDescriptor PXMFormat();
