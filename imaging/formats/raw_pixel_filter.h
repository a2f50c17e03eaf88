#pragma once
#include "imaging/io/format_descriptor.h"
// Headerless pixel data read into a bitmap that the caller has already given
// the data's size and pixel format; the layout (bytes to skip, row alignment,
// binary or text samples, interleaved or planar, channel order) comes from
// the parameters.
class TIEBitmap;
class TIOParamsVals;
class TStream;
struct TProgressRecord;

// Reads from the position. Data that ends before the bitmap is full sets the
// abort flag: the rows read stay, the rest are cleared.
void ReadRawPixelStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress);

// Raw pixels for the input/output component: read as the parameter set
// describes them; the registry lists the format as writable, but nothing writes it.
TIEFormatDescriptor RawPixelFormat();
