#pragma once
// The camera raw reader of the imaging library (file type 20): identification
// of the camera, sample loading, white balance, interpolation, colour
// conversion and tone mapping into a 24-bit or 48-bit picture.
#include <memory>

#include "imaging/io/format_descriptor.h"

class TIEBitmap;
class TIOParamsVals;
class TStream;
struct TProgressRecord;
struct TRawDecoderState;

// Reads the raw file that starts at the stream's position. A file that is not
// a raw file of a known camera, or whose data is cut short, sets the abort
// flag with a reason and leaves the bitmap as it was. The decoder's
// out-of-memory and table-overflow errors (ERawDecoderError) reach the caller.
void ReadCameraRawStream(TStream& stream, TIEBitmap* bitmap, TIOParamsVals& params, bool paramsOnly,
                         TProgressRecord& progress);
// True when identification accepts the stream; the position is kept.
bool IsCameraRawStream(TStream& stream);

// The format's descriptor (registered by RegisterSpecialFormats).
TIEFormatDescriptor CameraRawFormat();

// For tests and benchmarks: identifies the file and runs its loader, giving
// the state with the loaded samples (nil when refused; why in *reason).
struct TRawLoadOptions {
  bool HalfSize = false;
  bool FourColour = false;
};
std::unique_ptr<TRawDecoderState> RawIdentifyAndLoad(TStream& stream, const TRawLoadOptions& options,
                                                     const char** reason = nullptr);
