// Feeds arbitrary bytes to the library's icon and cursor readers (first and
// second image, with and without a directory, native formats, parameters
// only) and the probes: they may refuse, never crash or over-allocate.
#include <cstddef>
#include <cstdint>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_mask.h"
#include "imaging/core/ie_startup.h"
#include "imaging/formats/ico_filter.h"
#include "imaging/io/io_params.h"
#include "platform/rtl/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AllowFileFallback = false;
  MemoryLimitOverride = 64 << 20;
  TCustomMemoryStream probe(data, static_cast<int64_t>(size));
  IsICOStream(probe);
  IsCURStream(probe);
  for (int form = 0; form < 6; ++form) {
    TCustomMemoryStream s(data, static_cast<int64_t>(size));
    TIEBitmap bitmap;
    TIOParamsVals params(nullptr);
    params.IcoImageIndex = params.CurImageIndex = form & 1;
    params.NativePixelFormat = form == 2;
    params.HeaderlessImage = form == 4 || form == 5;
    std::atomic<bool> abort{false};
    TProgressRecord progress;
    progress.AbortFlag = &abort;
    TIEMaskOut mask;
    if (form == 3 || form == 5) ReadCURStream(s, bitmap, params, false, progress, mask, false);
    else ReadICOStream(s, bitmap, params, form == 1, progress, mask, form == 1);
  }
  return 0;
}
