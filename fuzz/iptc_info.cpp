// Feeds arbitrary bytes to the IPTC parser, then builds both block forms of what
// it read and parses them again; nothing may read or write out of bounds.
#include <cstddef>
#include <cstdint>

#include "imaging/io/jpeg_markers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TIEIPTCInfoList list;
  if (!list.LoadFromBuffer(data, int64_t(size))) return 0;
  for (bool photoshop : {false, true}) {
    const std::vector<uint8_t> block = list.SaveToBuffer(photoshop);
    TIEIPTCInfoList back;
    back.LoadFromBuffer(block.data(), int64_t(block.size()));
  }
  return 0;
}
