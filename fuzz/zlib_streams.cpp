// libFuzzer target: zlib streams and the buffered read stream over hostile
// data: inflating reads, skips and seeks, whole-block inflation with a bound,
// and buffered reads of every size.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "imaging/core/ie_streams.h"
#include "imaging/io/zlib_streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte steers read sizes and the buffer size.
  const uint8_t steer = data[0];
  ++data, --size;
  try {
    TCustomMemoryStream source(data, static_cast<int64_t>(size));
    TZDecompressionStream z(&source);
    std::vector<uint8_t> buffer(1 + steer * 37);
    int64_t total = 0;
    for (int i = 0; i < 1000 && total < (int64_t(1) << 24); ++i) {
      const int64_t n = z.Read(buffer.data(), static_cast<int64_t>(buffer.size()));
      if (n <= 0) break;
      total += n;
      if (i == 2) z.Seek(0, soBeginning);
      if (i == 4) z.Seek(steer, soCurrent);
    }
  } catch (const Exception&) {
  }
  try {
    std::vector<uint8_t> out;
    ZDecompressBuffer(data, static_cast<int64_t>(size), out, steer, int64_t(1) << 24);
  } catch (const Exception&) {
  }
  try {
    TCustomMemoryStream source(data, static_cast<int64_t>(size));
    TIEBufferedReadStream buffered(&source, 1 + steer % 64, (steer & 1) != 0);
    uint8_t b = 0, chunk[97];
    int64_t at = 0;
    while (buffered.ReadByte(b)) {
      if ((b & 7) == 0) buffered.Read(chunk, b % sizeof chunk);
      if ((b & 31) == 1) buffered.Seek(-(b % 13), soCurrent);
      if (++at > 100000) break;
    }
    buffered.Seek(0, soBeginning);
    buffered.Read(chunk, sizeof chunk);
  } catch (const Exception&) {
  }
  return 0;
}
