// Reads arbitrary bytes as a raw bitmap stream (the private clipboard format):
// it must refuse or read them without reading out of bounds or allocating
// without bound; what it reads must write back and read again to the same rows.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_raw_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TIEBitmap bitmap;
  bitmap.SetMemoryLimit(int64_t(64) << 20);
  if (!LoadRawFromMemory(bitmap, data, size)) return 0;
  const auto bytes = SaveRawToBytes(bitmap);
  TIEBitmap again;
  if (!LoadRawFromMemory(again, bytes.data(), bytes.size())) std::abort();
  if (SaveRawToBytes(again) != bytes) std::abort();
  return 0;
}
