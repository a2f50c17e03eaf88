// Detection and the parameters-only read of arbitrary bytes: no exception leaves
// them, the position comes back, and the working picture is not touched.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_streams.h"
#include "imaging/formats/format_filters.h"
#include "imaging/special/special_formats.h"
#include "imaging/io/file_formats.h"
#include "imaging/io/format_detect.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    RegisterFormatFilters();
    RegisterSpecialFormats();
    InitImageIO();
    return true;
  }();
  (void)ready;
  TIEMemStream stream(data, int64_t(size));
  const int64_t start = size > 0 ? 1 : 0;
  stream.SetPosition(start);
  DetectStreamFileType(stream);
  if (stream.Position() != start) std::abort();
  stream.SetPosition(0);
  TImageLibIO io(nullptr);
  io.IEBitmap()->Allocate(1, 1, ie24RGB);
  io.ReadParamsFromStream(stream);
  if (io.IEBitmap()->Width() != 1) std::abort();
  return 0;
}
