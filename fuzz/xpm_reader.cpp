// Feeds arbitrary text to the XPM reader (and the xv thumbnail reader behind
// it): it must load or raise its own error, and what it loads must save.
#include <cstddef>
#include <cstdint>

#include "pictures/xpm/xpm_image.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TXPMImage picture;
  try {
    TCustomMemoryStream s(data, static_cast<int64_t>(size));
    picture.LoadFromStream(s);
  } catch (const Exception&) {
    return 0;
  }
  if (static_cast<int64_t>(picture.Width()) * picture.Height() <= 4096) {
    TMemoryStream out;
    picture.SaveToStream(out);
  }
  return 0;
}
