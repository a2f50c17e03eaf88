// Feeds arbitrary bytes to the XMP marker parser.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "imaging/io/io_params.h"
#include "imaging/io/xmp_packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TIOParamsVals params(nullptr);
  if (ParseXMPMarker(data, int64_t(size), params) && params.XmpPacket.size() >= size) std::abort();
  return 0;
}
