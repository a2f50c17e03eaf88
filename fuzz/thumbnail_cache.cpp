// Feeds arbitrary bytes through the thumbnail-cache lookup as a cache entry of
// a fixed file: the PNG's chunks are walked for the Thumb:: keys, and an entry
// that names the file is decoded.
#include <cstddef>
#include <cstdint>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_startup.h"
#include "imaging/formats/format_filters.h"
#include "imaging/views/shell_thumbnail.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool registered = [] {
    RegisterFormatFilters();
    return true;
  }();
  (void)registered;
  AllowFileFallback = false;
  MemoryLimitOverride = 64 << 20;
  TIEBitmap bitmap;
  LoadCachedThumbnailData(data, size, "file:///seed/clip%20one.avi", 1000, 4096, bitmap);
  return 0;
}
