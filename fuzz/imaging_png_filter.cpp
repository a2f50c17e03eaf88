// Feeds arbitrary bytes to the library's PNG reader, converted and native.
#include <cstddef>
#include <cstdint>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_startup.h"
#include "imaging/formats/png_filter.h"
#include "imaging/io/io_params.h"
#include "platform/rtl/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AllowFileFallback = false;
  MemoryLimitOverride = 64 << 20;
  for (bool native : {false, true}) {
    TCustomMemoryStream s(data, static_cast<int64_t>(size));
    if (!IsPNGStream(s)) return 0;
    TIEBitmap bitmap;
    TIOParamsVals params(nullptr);
    params.NativePixelFormat = native;
    std::atomic<bool> abort{false};
    TProgressRecord progress;
    progress.AbortFlag = &abort;
    ReadPNGStream(s, bitmap, params, false, progress);
  }
  return 0;
}
