// Reads arbitrary bytes as an HD Photo file, natively and as 24-bit colour,
// and for its parameters alone: the container check refuses what the codec
// must not see; nothing crashes, hangs or allocates without bound.
#include <cstddef>
#include <cstdint>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_startup.h"
#include "imaging/io/io_params.h"
#include "imaging/special/wic/wic_codec.h"
#include "platform/rtl/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AllowFileFallback = false;
  MemoryLimitOverride = 64 << 20;
  for (int form = 0; form < 3; ++form) {
    TCustomMemoryStream s(data, static_cast<int64_t>(size));
    TIEBitmap bitmap;
    TIOParamsVals params(nullptr);
    params.NativePixelFormat = form == 0;
    TProgressRecord progress;
    ReadHDPhotoStream(s, form == 2 ? nullptr : &bitmap, params, form == 2, progress);
  }
  return 0;
}
