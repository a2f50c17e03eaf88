#pragma once
// ZSoft PCX pictures (1, 4 and 8 bits on one plane, 24 bits on three planes,
// 16 colours on four 1-bit planes, stored or run-length coded) and DCX files,
// a table of page offsets followed by PCX pictures.
#include <cstdint>
#include <vector>
#include "imaging/io/format_descriptor.h"

class TIEBitmap;
class TIOParamsVals;
class TStream;
struct TProgressRecord;

// DCX files start with this number (987,654,321) and hold at most this many pages.
inline constexpr uint32_t kDCXMagic = 0x3ADE68B1;
inline constexpr int kDCXMaxPages = 1024;

// Reads one picture at the position; size is the byte length of the picture
// (header, data and any end palette) from there.
void ReadPCXStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool paramsOnly,
                   TProgressRecord& progress, int64_t size);
// Writes one picture at the position, in the form BitsPerSample x SamplesPerPixel
// asks: 1, 4, 8 or 24 bits a pixel.
void WritePCXStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress);

// True when the magic is at the position and every page offset lies inside the
// stream; the position is restored.
bool IsDCXStream(TStream& stream);
// The page offsets read from the position, up to a 0 entry or kDCXMaxPages.
std::vector<uint32_t> ReadDCXPageTable(TStream& stream);
// Each page's length: up to the next higher offset of the table, or to the end
// of the stream. Offsets count from start, the first byte of the DCX (0 for a
// file; a DCX inside a larger stream counts from its own position).
std::vector<int64_t> GetDCXPageSizes(TStream& stream, const std::vector<uint32_t>& offsets, int64_t start = 0);
// Reads the page DcxImageIndex (clamped to the pages there are).
void ReadDCXStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool paramsOnly,
                   TProgressRecord& progress);
// Inserts the bitmap as page DcxImageIndex of the DCX file the stream holds
// (an empty stream starts one) and rewrites the stream; an index past the
// pages appends the page last.
void WriteDCXStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress);

// Run-length codes count bytes of source taken from offset at stride; a line
// of odd count gets a literal 0 to keep lines even. Returns the bytes written:
// destination holds 2 x count + 1 bytes.
int EncodePCXLine(uint8_t* destination, const uint8_t* source, int count, int stride, int offset);

// The PaintBrush and multipage PCX formats for the input/output component.
TIEFormatDescriptor PCXFormat();
TIEFormatDescriptor DCXFormat();
