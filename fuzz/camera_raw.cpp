// Feeds arbitrary bytes to the camera raw reader: the content probe, a
// parameter-only read and a half-size decode. Each must end with a picture, a
// refusal or the decoder's own error, never a crash, hang or unbounded
// allocation.
#include <cstddef>
#include <cstdint>

#include "imaging/core/ie_bitmap.h"
#include "imaging/io/io_params.h"
#include "imaging/special/raw/raw_reader.h"
#include "imaging/special/raw/raw_state.h"
#include "platform/rtl/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TCustomMemoryStream stream(data, static_cast<int64_t>(size));
  const bool raw = IsCameraRawStream(stream);
  for (bool paramsOnly : {true, false}) {
    if (!paramsOnly && !raw) break;
    TIEBitmap bitmap;
    TIOParamsVals params(nullptr);
    params.RawHalfSize = true;
    std::atomic<bool> abort{false};
    TProgressRecord progress;
    progress.AbortFlag = &abort;
    stream.SetPosition(0);
    try {
      ReadCameraRawStream(stream, &bitmap, params, paramsOnly, progress);
    } catch (const ERawDecoderError&) {
    }
  }
  return 0;
}
