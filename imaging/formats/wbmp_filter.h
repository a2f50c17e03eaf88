#pragma once
// Wireless bitmaps (type 0: one bit a pixel, 1 = white): reading into and
// writing from an ie1g library bitmap. Sizes are the format's variable-length
// integers, read and written whole.
#include <cstdint>
#include "imaging/io/format_descriptor.h"

class TIEBitmap;
class TIOParamsVals;
class TStream;
struct TProgressRecord;

// One multi-byte integer (seven bits a byte, most significant group first, bit
// 0x80 set on every byte but the last); at most four bytes are read. -1 when
// the stream ends inside it or it runs longer than four bytes.
int32_t ReadWBMPMultiByteInt(TStream& stream);
// The bytes of value as a multi-byte integer (value >= 0); returns their count
// (1 to 5) with the bytes in out.
int WBMPMultiByteInt(uint32_t value, uint8_t out[5]);

void ReadWBMPStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress,
                    bool paramsOnly);
// Any bitmap is written at its full size; other formats go through an ie1g copy.
void WriteWBMPStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress);

// The Wireless Bitmap format for the input/output component.
TIEFormatDescriptor WBMPFormat();
