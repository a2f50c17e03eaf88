// Feeds arbitrary bytes to the library's BMP reader, with and without the file
// header and in native pixel format: it may refuse, never crash or over-allocate.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

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
    // Pictures above the memory limit live in a temporary file by design, and
    // filling gigabytes of one through a few run codes is slow, not wrong: read
    // only the header of those.
    ReadBMPStream(s, bitmap, 0, params, progress, true, form == 1, mask, false);
    const bool huge = int64_t(params.Width) * std::abs(int64_t(params.Height)) > (int64_t(16) << 20);
    s.SetPosition(0);
    ReadBMPStream(s, bitmap, 0, params, progress, huge, form == 1, mask, false);
  }
  return 0;
}
