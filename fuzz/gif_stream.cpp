// Feeds arbitrary bytes to the input/output component's GIF load, the frame to
// compose chosen by the last byte, and to the GIF filter's parameters-only
// read; a small picture read is written back as GIF and read again. It may
// refuse, never crash, hang or over-allocate.
#include <cstddef>
#include <cstdint>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_mask.h"
#include "imaging/core/ie_startup.h"
#include "imaging/formats/format_filters.h"
#include "imaging/formats/gif_filter.h"
#include "imaging/io/file_formats.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"
#include "platform/rtl/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    RegisterFormatFilters();
    InitImageIO();
    return true;
  }();
  (void)ready;
  AllowFileFallback = false;
  MemoryLimitOverride = 64 << 20;
  TCustomMemoryStream stream(data, static_cast<int64_t>(size));
  TImageLibIO io(nullptr);
  io.Params().GifImageIndex = size ? data[size - 1] % 16 : 0;
  io.LoadGIFStream(stream);

  TCustomMemoryStream again(data, static_cast<int64_t>(size));
  TIEBitmap scratch;
  TIOParamsVals params(nullptr);
  TIEMaskOut mask;
  int frames = 0;
  std::atomic<bool> abort{false};
  TProgressRecord progress;
  progress.AbortFlag = &abort;
  ReadGIFStream(again, scratch, frames, false, mask, true, progress, params);

  TIEBitmap& b = *io.IEBitmap();
  if (io.Aborting() || b.IsEmpty() || int64_t(b.Width()) * b.Height() > 4096) return 0;
  TMemoryStream out;
  io.SaveGIFStream(out);
  if (io.Aborting()) return 0;
  out.SetPosition(0);
  TImageLibIO back(nullptr);
  back.LoadGIFStream(out);
  return 0;
}
