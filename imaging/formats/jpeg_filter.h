#pragma once
// JPEG reading through libjpeg-turbo (interface 62): DCT-scaled loads, grey,
// colour, RGB-stored, CMYK and YCCK files, the markers and the ICC profile.
#include <cstdint>

class TIEBitmap;
class TIOParamsVals;
class TStream;
struct TProgressRecord;

// Returns the rows decoded. Failure sets the abort flag; the markers read so
// far are kept. The stream is left right after the JPEG data the codec used.
int32_t ReadJpegStream(TStream& stream, TStream* tablesStream, TIEBitmap* bitmap, bool nativeFormat, int linesToRead,
                       bool readICC, bool applyICC, bool invertCMYK, bool readMetadata, bool rawYCbCr,
                       bool paramsOnly, TProgressRecord& progress, TIOParamsVals& params);
// Position of FF D8 FF at the current one, or within 150 bytes of it when
// search is set; -1 when there is none. The position is kept.
int64_t FindJpegStart(TStream& stream, bool search = true);
// Bytes from the position up to and including EOI (or to the end); the position is kept.
int64_t GetJpegStreamLength(TStream& stream);
// Joins the "ICC_PROFILE" APP2 chunks before the image data into InputICC; the position is kept.
void ReadJpegICCProfile(TStream& stream, TIOParamsVals& params);
