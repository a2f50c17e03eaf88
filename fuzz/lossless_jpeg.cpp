// Feeds arbitrary bytes to the lossless JPEG decoder into 8- and 16-bit
// samples of a bounded buffer: it may fail, never step outside the buffer.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/io/io_types.h"
#include "imaging/special/dicom/lossless_jpeg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t kCapacity = 256 * 256 * 3;
  static std::vector<uint16_t> words(kCapacity);
  static std::vector<uint8_t> bytes(kCapacity);
  TProgressRecord progress;
  const char* reason = nullptr;
  DecodeLosslessJPEG(data, size, words.data(), nullptr, kCapacity, progress, reason);
  DecodeLosslessJPEG(data, size, nullptr, bytes.data(), kCapacity, progress, reason);
  return 0;
}
