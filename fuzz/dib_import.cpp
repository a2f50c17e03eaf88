// Reads arbitrary bytes as a packed DIB or video frame, the way a paste from
// the clipboard does: it must refuse or read them without reading outside the
// block, and without allocating beyond what the block can describe. The first
// byte steers: below 0x80 one block; else the header block and the pixels
// apart, split (steer & 0x7F) x 4 bytes after a 40-byte header.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_dib_exchange.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t steer = data[0];
  // Copies of their own, so that a read past either block is caught.
  const std::vector<uint8_t> bytes(data + 1, data + size);
  // Pictures too large for memory go to a temporary file, which is slow to
  // fill: only the smaller ones are read whole.
  if (bytes.size() >= 12) {
    int32_t w = 0, h = 0;
    uint32_t headerSize = 0;
    std::memcpy(&headerSize, bytes.data(), 4);
    if (headerSize == 12) {
      w = bytes[4] | bytes[5] << 8;
      h = bytes[6] | bytes[7] << 8;
    } else {
      std::memcpy(&w, bytes.data() + 4, 4);
      std::memcpy(&h, bytes.data() + 8, 4);
    }
    if (std::llabs(int64_t(w)) * std::llabs(int64_t(h)) > (int64_t(1) << 22)) return 0;
  }
  TIEBitmap bitmap(1, 1, ie8g);
  bitmap.SetMemoryLimit(int64_t(64) << 20);
  int bits = 0;
  if (steer & 0x80) {
    const size_t split = std::min(bytes.size(), size_t(40 + (steer & 0x7F) * 4));
    std::vector<uint8_t> header(bytes.begin(), bytes.begin() + long(split));
    std::vector<uint8_t> pixels(bytes.begin() + long(split), bytes.end());
    bits = DIBToIEBitmap(header.data(), header.size(), bitmap, pixels.empty() ? nullptr : pixels.data(),
                         pixels.size());
  } else {
    bits = DIBToIEBitmap(bytes.data(), bytes.size(), bitmap);
  }
  // A refused block leaves the bitmap as it was; a read one has a picture.
  if (bits == 0 && (bitmap.Width() != 1 || bitmap.PixelFormat() != ie8g)) std::abort();
  if (bits != 0 && bitmap.IsEmpty()) std::abort();
  if (bits != 0) {
    volatile uint8_t sink = 0;
    for (int y = 0; y < bitmap.Height(); ++y) sink = sink + bitmap.ScanLine(y)[0];
  }
  return 0;
}
