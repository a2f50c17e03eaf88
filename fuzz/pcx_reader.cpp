// Feeds arbitrary bytes to the PCX reader: it must load or raise its own error
// without reading or writing out of bounds.
#include <cstddef>
#include <cstdint>

#include "pictures/pcx/pcx_image.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TPCXImage picture;
  try {
    TCustomMemoryStream s(data, static_cast<int64_t>(size));
    picture.LoadFromStream(s);
  } catch (const Exception&) {
  }
  return 0;
}
