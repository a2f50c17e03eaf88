// Feeds arbitrary bytes to the library's wireless bitmap reader and writes
// back what it read: it may refuse, never crash or over-allocate.
#include <cstddef>
#include <cstdint>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_startup.h"
#include "imaging/formats/wbmp_filter.h"
#include "imaging/io/io_params.h"
#include "platform/rtl/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AllowFileFallback = false;
  MemoryLimitOverride = 64 << 20;
  for (bool paramsOnly : {true, false}) {
    TCustomMemoryStream s(data, static_cast<int64_t>(size));
    TIEBitmap bitmap;
    TIOParamsVals params(nullptr);
    std::atomic<bool> abort{false};
    TProgressRecord progress;
    progress.AbortFlag = &abort;
    ReadWBMPStream(s, bitmap, params, progress, paramsOnly);
    if (!paramsOnly && !abort.load() && !bitmap.IsEmpty()) {
      TMemoryStream out;
      WriteWBMPStream(out, bitmap, params, progress);
    }
  }
  return 0;
}
