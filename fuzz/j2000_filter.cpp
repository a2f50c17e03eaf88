// Feeds arbitrary bytes to the library's JPEG 2000 reader (a JP2 file or a
// bare code stream): it may refuse, never crash or over-allocate.
#include <cstddef>
#include <cstdint>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_startup.h"
#include "imaging/io/io_params.h"
#include "imaging/special/jpeg2000/j2000_filter.h"
#include "platform/rtl/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AllowFileFallback = false;
  MemoryLimitOverride = 64 << 20;
  TCustomMemoryStream s(data, static_cast<int64_t>(size));
  TIEBitmap bitmap;
  TIOParamsVals params(nullptr);
  std::atomic<bool> abort{false};
  TProgressRecord progress;
  progress.AbortFlag = &abort;
  ReadJ2000Stream(s, &bitmap, params, false, progress);
  return 0;
}
