// Feeds arbitrary bytes to the JPEG 2000 picture, as a JP2 file or a bare code
// stream (the first bytes decide): it must raise its own error or give a
// picture, and what it gives must save again.
#include <cstddef>
#include <cstdint>

#include "pictures/jpeg2000/jpeg2000_bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TJpeg2000Bitmap picture;
  try {
    TCustomMemoryStream stream(data, static_cast<int64_t>(size));
    picture.LoadFromStream(stream);
  } catch (const EJpeg2000Error&) {
    return 0;
  }
  // Saving re-encodes at full cost; only small pictures are worth the time.
  if (static_cast<int64_t>(picture.Width()) * picture.Height() <= 64 * 64) {
    TMemoryStream saved;
    picture.SetLossless(true);
    picture.SaveToStream(saved);
  }
  return 0;
}
