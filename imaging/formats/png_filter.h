#pragma once
#include "imaging/io/format_descriptor.h"
// PNG through libpng: reading every colour type and depth (Adam7, tRNS, bKGD,
// pHYs, text) into a library bitmap with its alpha channel, and writing
// palette, grey, RGB and RGBA images.
class TIEBitmap;
class TIEMask;
class TIOParamsVals;
class TStream;
struct TProgressRecord;

// Failure is the abort flag; the bitmap keeps the rows read before it. The
// stream is left right after IEND, so several PNGs can follow one another.
void ReadPNGStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool paramsOnly,
                   TProgressRecord& progress);
// True when the stream at its position starts with 89 "PNG"; the position is kept.
bool IsPNGStream(TStream& stream);
// Raises EInvalidGraphic "Error on creating PNG" when libpng refuses the image;
// a short write sets the abort flag.
void WritePNGStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TIEMask* mask,
                    TProgressRecord& progress);

// The PNG format for the input/output component.
TIEFormatDescriptor PNGFormat();
