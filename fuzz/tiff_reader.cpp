// Feeds arbitrary bytes to the TIFF reader (the whole image, parameters only,
// a single tile, a sub-image, native formats) and its probes: it may refuse,
// never crash, hang or over-allocate.
#include <cstddef>
#include <cstdint>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_mask.h"
#include "imaging/core/ie_startup.h"
#include "imaging/formats/tiff/tiff_lzw.h"
#include "imaging/formats/tiff/tiff_reader.h"
#include "imaging/io/io_params.h"
#include "platform/rtl/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AllowFileFallback = false;
  MemoryLimitOverride = 64 << 20;
  TCustomMemoryStream probe(data, static_cast<int64_t>(size));
  IsTIFFStream(probe);
  IsRawTIFFStream(probe);
  IsHDPhotoStream(probe);
  for (int form = 0; form < 5; ++form) {
    TCustomMemoryStream s(data, static_cast<int64_t>(size));
    TIEBitmap bitmap;
    TIOParamsVals params(nullptr);
    params.TiffLZWDecoder = TIFFLZWDecompress;
    params.NativePixelFormat = form == 1;
    if (form == 3) params.TiffTileIndex = 1;
    if (form == 4) params.TiffSubIndex = 0, params.TiffImageIndex = 1;
    TIEMaskOut mask;
    std::atomic<bool> abort{false};
    TProgressRecord progress;
    progress.AbortFlag = &abort;
    int pages = 0;
    ReadTIFFStream(&bitmap, s, pages, params, progress, form == 2, mask, false, false, false, form == 2, nullptr);
  }
  return 0;
}
