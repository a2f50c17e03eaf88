#pragma once
// JPEG reading through libjpeg-turbo (interface 62): DCT-scaled loads, grey,
// colour, RGB-stored, CMYK and YCCK files, the markers and the ICC profile.
#include <cstdint>

#include "platform/rtl/exceptions.h"
#include "imaging/io/format_descriptor.h"

class TIEBitmap;
class TIOParamsVals;
class TStream;
struct TProgressRecord;

// Raised by the writer when the codec refuses; the text is the codec's message.
QV_DECLARE_EXCEPTION(EIEJpegException, Exception);

// How one JPEG read goes. The defaults are an ordinary load: colour profile
// read and applied, metadata taken, pixels converted to the working format.
struct TJpegReadOptions {
  bool NativeFormat = false;  // keep grey and CMYK pixels as the file holds them
  int LinesToRead = -1;       // rows to decode; -1 for all
  bool ReadICC = true;        // take the "ICC_PROFILE" APP2 chunks into InputICC
  bool ApplyICC = true;       // convert the pixels through that profile
  bool InvertCMYK = false;    // the file's CMYK inks are stored inverted (Adobe)
  bool ReadMetadata = true;   // EXIF, IPTC, resolution and comments from the markers
  bool RawYCbCr = false;      // hand out YCbCr samples without colour conversion
  bool ParamsOnly = false;    // read the header and markers, decode no pixel
};

// Returns the rows decoded. Failure sets the abort flag; the markers read so
// far are kept. The stream is left right after the JPEG data the codec used.
int32_t ReadJpegStream(TStream& stream, TStream* tablesStream, TIEBitmap* bitmap, const TJpegReadOptions& options,
                       TProgressRecord& progress, TIOParamsVals& params);
// Position of FF D8 FF at the current one, or within 150 bytes of it when
// search is set; -1 when there is none. The position is kept.
int64_t FindJpegStart(TStream& stream, bool search = true);
// Bytes from the position up to and including EOI (or to the end); the position is kept.
int64_t GetJpegStreamLength(TStream& stream);
// Joins the "ICC_PROFILE" APP2 chunks before the image data into InputICC; the position is kept.
void ReadJpegICCProfile(TStream& stream, TIOParamsVals& params);
// Encodes the bitmap at the stream position by JpegColorSpace, JpegQuality,
// JpegChromaSubsampling, JpegProgressive, JpegOptimalHuffman, the DPI and
// JpegMarkers. An empty bitmap or a short write sets the abort flag.
void WriteJpegStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress);
// Replaces the APP2 markers of JpegMarkers by InputICC in chunks of 32,000 bytes.
void AddJpegICCMarkers(TIOParamsVals& params);

// The JPEG format for the input/output component.
TIEFormatDescriptor JPEGFormat();
