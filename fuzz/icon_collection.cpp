// Feeds arbitrary bytes to the icon collection reader: the header, then every
// entry the header admits in file order, one entry again from the start, and
// the images it reads drawn as the icon grid draws them.
#include <cstddef>
#include <cstdint>

#include "icons/advanced_icon.h"
#include "icons/icon_collection.h"
#include "icons/sub_icon_render.h"
#include "platform/graphics/graphics_bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    TCustomMemoryStream stream(data, static_cast<int64_t>(size));
    const int32_t count = ReadIconCollectionHeader(stream);
    TIconCollectionReader reader;
    // The header bounds the count by the bytes, so this loop is short.
    for (int32_t n = 0; n < count && n < 64; ++n) {
      TAdvancedIcon icon;
      if (!reader.ReadEntry(stream, n, icon)) break;
      TSubIcon* best = icon.GetBestImage(32, 32, 32);
      if (!best) continue;
      TBitmap canvas;
      canvas.SetPixelFormat(pf24bit);
      canvas.SetSize(32, 32);
      try {
        DrawSubIcon(canvas.Canvas(), 0, 0, *best, 0xFFFFFF);
      } catch (const Exception&) {
      }
    }
    TAdvancedIcon again;
    reader.ReadEntry(stream, 0, again);
  } catch (const Exception&) {
  }
  return 0;
}
