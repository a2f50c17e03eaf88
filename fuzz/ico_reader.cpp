// Feeds arbitrary bytes to the ICO and CUR readers, renders what they keep,
// and writes it again with every image compressed.
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
      TBitmap raw, mask, composite;
      try {
        // PNG images are decoded on the way; DIB images are also compressed.
        ExtractBitmaps(*im, &composite, &raw, 0xFFFFFF, &mask);
        im->SetStoreAsPNG(true);
      } catch (const Exception&) {
      }
    }
    TMemoryStream out;
    icon.SaveToStream(out);
    out.SetPosition(0);
    TAdvancedIcon back;
    back.LoadFromStream(out);
  } catch (const Exception&) {
  }
  return 0;
}
