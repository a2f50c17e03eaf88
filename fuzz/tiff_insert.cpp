// Inserts a small page into arbitrary bytes taken as a TIFF: the writer walks
// the chain of directories of what it is given; it may refuse, never crash,
// loop or write outside the stream.
#include <cstddef>
#include <cstdint>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_startup.h"
#include "imaging/formats/tiff/tiff_writer.h"
#include "imaging/io/io_params.h"
#include "platform/rtl/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AllowFileFallback = false;
  MemoryLimitOverride = 64 << 20;
  if (size < 1) return 0;
  TMemoryStream s;
  s.WriteBuffer(data + 1, int64_t(size - 1));
  s.SetPosition(0);
  TIEBitmap bitmap(3, 2, ie24RGB);
  TIOParamsVals params(nullptr);
  params.TiffImageIndex = int8_t(data[0]);
  std::atomic<bool> abort{false};
  TProgressRecord progress;
  progress.AbortFlag = &abort;
  WriteTIFFStream(s, true, &bitmap, progress, params);
  return 0;
}
