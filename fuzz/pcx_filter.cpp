// Feeds arbitrary bytes to the library's PCX reader (full reads and parameters
// only), its DCX reader (a page chosen by the last byte) and probe, and writes
// what it read back as PCX and as a DCX page: it may refuse, never crash or
// over-allocate.
#include <cstddef>
#include <cstdint>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_startup.h"
#include "imaging/formats/pcx_filter.h"
#include "imaging/io/io_params.h"
#include "platform/rtl/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AllowFileFallback = false;
  MemoryLimitOverride = 64 << 20;
  TCustomMemoryStream probe(data, static_cast<int64_t>(size));
  IsDCXStream(probe);
  for (int form = 0; form < 3; ++form) {
    TCustomMemoryStream s(data, static_cast<int64_t>(size));
    TIEBitmap bitmap;
    TIOParamsVals params(nullptr);
    params.DcxImageIndex = size ? data[size - 1] % 8 : 0;
    std::atomic<bool> abort{false};
    TProgressRecord progress;
    progress.AbortFlag = &abort;
    if (form == 2) ReadDCXStream(s, bitmap, params, false, progress);
    else ReadPCXStream(s, bitmap, params, form == 1, progress, static_cast<int64_t>(size));
    if (form == 1 || abort.load() || bitmap.IsEmpty() || int64_t(bitmap.Width()) * bitmap.Height() > 4096) continue;
    // Small pictures go back out in the form their parameters say, alone and in a DCX.
    TMemoryStream out;
    std::atomic<bool> writeAbort{false};
    TProgressRecord writing;
    writing.AbortFlag = &writeAbort;
    WritePCXStream(out, bitmap, params, writing);
    TMemoryStream dcx;
    WriteDCXStream(dcx, bitmap, params, writing);
    dcx.SetPosition(0);
    WriteDCXStream(dcx, bitmap, params, writing);
  }
  return 0;
}
