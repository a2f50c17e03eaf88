// Feeds arbitrary bytes to the library's BMP reader, with and without the file
// header and in native pixel format: it may refuse, never crash or over-allocate.
#include <cstddef>
#include <cstdint>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_mask.h"
#include "imaging/core/ie_startup.h"
#include "imaging/formats/bmp_filter.h"
#include "imaging/io/io_params.h"
#include "platform/rtl/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AllowFileFallback = false;
  MemoryLimitOverride = 64 << 20;
  for (int form = 0; form < 3; ++form) {
    TCustomMemoryStream s(data, static_cast<int64_t>(size));
    TIEBitmap bitmap;
    TIOParamsVals params(nullptr);
    params.NativePixelFormat = form == 2;
    std::atomic<bool> abort{false};
    TProgressRecord progress;
    progress.AbortFlag = &abort;
    TIEMaskOut mask;
    // Whole pictures: a claim beyond what the data can fill is refused before
    // any buffer exists, so nothing here grows past the input's bound.
    ReadBMPStream(s, bitmap, 0, params, progress, false, form == 1, mask, false);
  }
  return 0;
}
