// Feeds arbitrary bytes to the library's raw pixel reader: the first four
// bytes choose the bitmap's format and size and the data's layout, the rest
// is the data. It may refuse, never crash or read past the bitmap.
#include <cstddef>
#include <cstdint>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_startup.h"
#include "imaging/formats/raw_pixel_filter.h"
#include "imaging/io/io_params.h"
#include "platform/rtl/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AllowFileFallback = false;
  MemoryLimitOverride = 64 << 20;
  if (size < 4) return 0;
  const TIEBitmapFormat format = TIEBitmapFormat(1 + data[0] % 10);
  const int width = 1 + data[1] % 64, height = 1 + data[2] % 64;
  TIEBitmap bitmap(width, height, format);
  if (bitmap.IsEmpty()) return 0;
  TIOParamsVals params(nullptr);
  params.RawPixelPlanar = data[3] & 1;
  params.RawPixelChannelOrder = (data[3] >> 1) & 1;
  params.RawPixelDataFormat = (data[3] >> 2) % 3;
  params.RawPixelRowAlign = (data[3] & 0x20) ? 32 : (data[3] & 0x40) ? 64 : 8;
  params.RawPixelHeaderSize = (data[3] & 0x80) ? 16 : 0;
  TCustomMemoryStream s(data + 4, static_cast<int64_t>(size - 4));
  std::atomic<bool> abort{false};
  TProgressRecord progress;
  progress.AbortFlag = &abort;
  ReadRawPixelStream(s, bitmap, params, progress);
  return 0;
}
