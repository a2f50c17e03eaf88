// Feeds arbitrary bytes to the fax decoders (every coding, both bit orders)
// and the LZW decoder as strip data: rows end inside the data, never past it.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/formats/tiff/tiff_ccitt.h"
#include "imaging/formats/tiff/tiff_lzw.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // The first byte picks the row width.
  const int width = 1 + data[0] * 13;
  const uint8_t* strip = data + 1;
  const int64_t length = int64_t(size) - 1;
  BuildCCITTTrees();
  std::vector<uint8_t> row(size_t((width + 7) / 8)), ref(row.size(), 0xFF);
  for (int fillOrder : {1, 2}) {
    int64_t p = 0;
    for (int r = 0; r < 64 && p < length * 8; ++r)
      p = CCITTDecodeRow1D(row.data(), strip, length, fillOrder, p, width);
    p = 0;
    for (int r = 0; r < 64 && p < length * 8; ++r)
      p = CCITTDecode2D(row.data(), strip, length, r % 2 == 0, fillOrder, p, ref.data(), width);
    CCITTDecode1D(row.data(), strip, length, fillOrder, width);
  }
  void* state = nullptr;
  for (int r = 0; r < 64; ++r)
    if (TIFFLZWDecompress(strip, length, width, state, 1 + (data[0] & 1)) == nullptr) break;
  TIFFLZWDecompress(nullptr, 0, 0, state, 1);
  return 0;
}
