// Feeds arbitrary bytes to the ICO and CUR readers and renders what they keep.
#include <cstddef>
#include <cstdint>

#include "icons/advanced_icon.h"
#include "icons/sub_icon_render.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    TCustomMemoryStream stream(data, static_cast<int64_t>(size));
    TAdvancedIcon icon;
    icon.LoadFromStream(stream);
    stream.SetPosition(0);
    TAdvancedCursor cursor;
    try {
      cursor.LoadCursorFromStream(stream);
    } catch (const Exception&) {
    }
    for (int i = 0; i < icon.Count(); ++i) {
      TSubIcon* im = icon.Images()[i];
      if (im->HasPNGBits()) continue;
      TBitmap raw, mask, composite;
      try {
        ExtractBitmaps(*im, &composite, &raw, 0xFFFFFF, &mask);
      } catch (const Exception&) {
      }
    }
    TMemoryStream out;
    icon.SaveToStream(out);
  } catch (const Exception&) {
  }
  return 0;
}
