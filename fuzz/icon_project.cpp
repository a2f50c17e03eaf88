// Feeds arbitrary bytes to the icon project reader, writes back what it kept
// and reads that again: whatever is accepted must save and load.
#include <cstddef>
#include <cstdint>

#include "icons/icon_project.h"
#include "icons/sub_icon_render.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TIconProject project;
  try {
    TCustomMemoryStream stream(data, static_cast<int64_t>(size));
    project.LoadFromStream(stream);
  } catch (const Exception&) {
    return 0;
  }
  TMemoryStream saved;
  project.SaveToStream(saved);
  saved.SetPosition(0);
  TIconProject again;
  again.LoadFromStream(saved);
  // Layers render only without shadows here: a shadow costs its radius squared
  // per pixel, which is what it is, not a fault worth the fuzzer's time.
  for (int i = 0; i < again.LayerListCount(); ++i) {
    TIconLayersList* list = again.LayerList(i);
    for (int j = 0; j < list->Count(); ++j) list->GetItem(j)->SetShadowStrength(0);
    TBitmap flat;
    list->Flatten(&flat, kNoBackground);
  }
  return 0;
}
