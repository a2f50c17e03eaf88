// Feeds arbitrary bytes to the library's portable anymap reader (8-bit and
// native pictures, parameters only) and its probe: it may refuse, never
// crash, hang or over-allocate.
#include <cstddef>
#include <cstdint>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_startup.h"
#include "imaging/formats/pnm_filter.h"
#include "imaging/io/io_params.h"
#include "platform/rtl/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AllowFileFallback = false;
  MemoryLimitOverride = 64 << 20;
  TCustomMemoryStream probe(data, static_cast<int64_t>(size));
  IsPXMStream(probe);
  for (int form = 0; form < 3; ++form) {
    TCustomMemoryStream s(data, static_cast<int64_t>(size));
    TIEBitmap bitmap;
    TIOParamsVals params(nullptr);
    params.NativePixelFormat = form == 1;
    std::atomic<bool> abort{false};
    TProgressRecord progress;
    progress.AbortFlag = &abort;
    ReadPXMStream(s, bitmap, params, progress, form == 2);
  }
  return 0;
}
