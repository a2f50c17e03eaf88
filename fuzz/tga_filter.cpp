// Feeds arbitrary bytes to the library's Targa reader (full reads with and
// without alpha, parameters only) and its probe, and writes back what it
// read: it may refuse, never crash or over-allocate.
#include <cstddef>
#include <cstdint>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_mask.h"
#include "imaging/core/ie_startup.h"
#include "imaging/formats/tga_filter.h"
#include "imaging/io/io_params.h"
#include "platform/rtl/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AllowFileFallback = false;
  MemoryLimitOverride = 64 << 20;
  TCustomMemoryStream probe(data, static_cast<int64_t>(size));
  IsTGAStream(probe);
  for (int form = 0; form < 3; ++form) {
    TCustomMemoryStream s(data, static_cast<int64_t>(size));
    TIEBitmap bitmap;
    TIOParamsVals params(nullptr);
    std::atomic<bool> abort{false};
    TProgressRecord progress;
    progress.AbortFlag = &abort;
    TIEMaskOut mask;
    ReadTGAStream(s, bitmap, params, progress, form == 2, mask, form == 1);
    // Small pictures go back out in the form their parameters say.
    if (form == 0 && !abort.load() && !bitmap.IsEmpty() && int64_t(bitmap.Width()) * bitmap.Height() <= 4096) {
      TMemoryStream out;
      std::atomic<bool> writeAbort{false};
      TProgressRecord writing;
      writing.AbortFlag = &writeAbort;
      WriteTGAStream(out, bitmap, params, writing, mask.get());
    }
  }
  return 0;
}
