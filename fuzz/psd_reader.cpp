// Feeds arbitrary bytes to the PSD reader: it must load or raise its own error,
// and every layer it keeps must draw and save without reading out of bounds.
#include <cstddef>
#include <cstdint>

#include "pictures/psd/psd_image.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TPSDImage picture;
  try {
    TCustomMemoryStream s(data, static_cast<int64_t>(size));
    picture.LoadFromStream(s);
  } catch (const Exception&) {
    return 0;
  }
  TBitmap layer;
  for (int i = 0; i < static_cast<int>(picture.Layers.size()); ++i) picture.GetLayerBitmap(i, &layer);
  TMemoryStream out;
  picture.SaveToStream(out);
  return 0;
}
