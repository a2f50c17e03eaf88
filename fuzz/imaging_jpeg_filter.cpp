// Feeds arbitrary bytes to the library's JPEG reader and its marker scans.
#include <cstddef>
#include <cstdint>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_startup.h"
#include "imaging/formats/jpeg_filter.h"
#include "imaging/io/io_params.h"
#include "platform/rtl/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AllowFileFallback = false;
  MemoryLimitOverride = 64 << 20;
  TCustomMemoryStream s(data, static_cast<int64_t>(size));
  if (GetJpegStreamLength(s) > static_cast<int64_t>(size)) __builtin_trap();
  TIOParamsVals params(nullptr);
  ReadJpegICCProfile(s, params);
  for (bool native : {false, true}) {
    s.SetPosition(0);
    TIEBitmap bitmap;
    std::atomic<bool> abort{false};
    TProgressRecord progress;
    progress.AbortFlag = &abort;
    params.JpegScale = native ? jscEighth : jscFull;
    TJpegReadOptions options;
    options.NativeFormat = native;
    options.InvertCMYK = native;
    ReadJpegStream(s, nullptr, &bitmap, options, progress, params);
  }
  return 0;
}
