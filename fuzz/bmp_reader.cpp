// Feeds arbitrary bytes to the BMP reader, as a file and as a packed DIB: it must
// raise its own error or return a well-formed DIB, and never read out of bounds.
#include <cstddef>
#include <cstdint>

#include "platform/graphics/bmp_codec.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    TCustomMemoryStream s(data, static_cast<int64_t>(size));
    bmpcodec::Dib dib = bmpcodec::ReadBmp(s);
    if (!dib.Empty()) (void)bmpcodec::PixelAt(dib, dib.width - 1, dib.height - 1);
  } catch (const EInvalidGraphic&) {
  }
  try {
    bmpcodec::Dib dib = bmpcodec::ReadPackedDib(data, size);
    if (!dib.Empty()) (void)bmpcodec::PixelAt(dib, 0, 0);
  } catch (const EInvalidGraphic&) {
  }
  return 0;
}
