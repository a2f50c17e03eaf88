#pragma once
#include "imaging/io/format_descriptor.h"

// The imaging library's JPEG 2000 filter: JP2 files and bare code streams
// read into and written from a TIEBitmap through OpenJPEG, over the picture
// classes' OpenJPEG glue (pictures/jpeg2000).
class TIEBitmap;
class TIOParamsVals;
class TStream;
struct TProgressRecord;

// Three big-endian words 12, "jP  ", 0x0D0A870A at the position (kept).
bool IsJP2Stream(TStream& stream);
// The SOC and SIZ markers (FF4F FF51) at the position (kept).
bool IsJ2KStream(TStream& stream);
// Reads the rest of the stream as one picture into an ie24RGB (or, for 1-bit
// grey, ie1g) bitmap; failures set the abort flag with a reason.
void ReadJ2000Stream(TStream& stream, TIEBitmap* bitmap, TIOParamsVals& params, bool paramsOnly,
                     TProgressRecord& progress);
// codeStream: 0 a JP2 file, 1 a bare code stream. Nothing is written unless
// the whole encode succeeds.
void WriteJ2000Stream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, int codeStream,
                      TProgressRecord& progress);
// The YCbCr tables are built on first use; the codec keeps no other state.
void InitJ2000Codec();
void DoneJ2000Codec();

// The JP2 and J2K formats for the input/output component.
TIEFormatDescriptor JP2Format();
TIEFormatDescriptor J2KFormat();
