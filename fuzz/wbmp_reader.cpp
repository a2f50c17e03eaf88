// Feeds arbitrary bytes to the WBMP reader: it must load or raise its own error
// without reading out of bounds, and what it loads must save.
#include <cstddef>
#include <cstdint>

#include "pictures/wbmp/wbmp_image.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TWapBitmap picture;
  try {
    TCustomMemoryStream s(data, static_cast<int64_t>(size));
    picture.LoadFromStream(s);
  } catch (const Exception&) {
    return 0;
  }
  TMemoryStream out;
  picture.SaveToStream(out);
  return 0;
}
