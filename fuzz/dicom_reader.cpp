// Feeds arbitrary bytes to the DICOM reader with its pixels, in both range
// modes: it may refuse, never crash, hang or allocate past the input's bound.
#include <cstddef>
#include <cstdint>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_startup.h"
#include "imaging/io/io_params.h"
#include "imaging/special/dicom/dicom_reader.h"
#include "platform/rtl/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AllowFileFallback = false;
  MemoryLimitOverride = 64 << 20;
  for (uint8_t range : {0, 1}) {
    TCustomMemoryStream s(data, static_cast<int64_t>(size));
    TIEBitmap bitmap;
    TIOParamsVals params(nullptr);
    params.DicomRange = range;
    params.ImageIndex = size > 0 ? data[size - 1] % 3 : 0;
    std::atomic<bool> abort{false};
    TProgressRecord progress;
    progress.AbortFlag = &abort;
    ReadDICOMStream(s, params, &bitmap, false, progress);
  }
  return 0;
}
