// Feeds arbitrary bytes to the library's PSD reader (the merged image, the
// layers, parameters only, native and display formats) and its probe, and
// writes what it read back with its layers: it may refuse, never crash or
// over-allocate.
#include <cstddef>
#include <cstdint>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_startup.h"
#include "imaging/formats/psd_filter.h"
#include "imaging/io/io_params.h"
#include "platform/rtl/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AllowFileFallback = false;
  MemoryLimitOverride = 64 << 20;
  TCustomMemoryStream probe(data, static_cast<int64_t>(size));
  IsPSDStream(probe);
  for (int form = 0; form < 4; ++form) {
    TCustomMemoryStream s(data, static_cast<int64_t>(size));
    TIEBitmap bitmap;
    TIOParamsVals params(nullptr);
    params.NativePixelFormat = form == 1;
    params.GetThumbnail = form == 3;
    TPSDLayerList layers;
    std::atomic<bool> abort{false};
    TProgressRecord progress;
    progress.AbortFlag = &abort;
    ReadPSDStream(s, form == 2 ? nullptr : &bitmap, params, form == 0 ? nullptr : &layers, form != 0, progress);
    if (abort.load() || bitmap.IsEmpty() || int64_t(bitmap.Width()) * bitmap.Height() > 4096) continue;
    int64_t area = 0;
    for (const TPSDLayerRecord& l : layers) area += l.Bitmap ? int64_t(l.Bitmap->Width()) * l.Bitmap->Height() : 0;
    if (area > 16384) continue;
    // Small documents go back out with their layers and resources.
    TMemoryStream out;
    std::atomic<bool> writeAbort{false};
    TProgressRecord writing;
    writing.AbortFlag = &writeAbort;
    WritePSDStream(out, params, writing, &layers, &bitmap);
  }
  return 0;
}
