#pragma once
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
