// Feeds arbitrary bytes to the image view's layers-stream loader, then uses
// what was read: the layers composed into one picture and written back.
#include <cstddef>
#include <cstdint>

#include "imaging/core/ie_startup.h"
#include "imaging/views/image_view.h"
#include "platform/rtl/streams.h"

namespace {

TImageLibView& View() {
  static TImageLibView* view = [] {
    auto* v = new TImageLibView(nullptr);
    v->GetIEBitmap()->Allocate(16, 12, ie24RGB);
    v->Update();
    return v;
  }();
  return *view;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AllowFileFallback = false;
  MemoryLimitOverride = 64 << 20;
  TImageLibView& view = View();
  TMemoryStream in;
  if (size > 0) in.WriteBuffer(data, int64_t(size));
  in.SetPosition(0);
  if (!view.LoadLayersFromStream(in)) return 0;
  TIEBitmap flat;
  view.LayersDrawToChecked(flat);
  TMemoryStream out;
  view.SaveLayersToStream(out, -2);
  view.ClearLayers();
  return 0;
}
