// Feeds arbitrary bytes to the image view's selection loader in both restore
// modes, then uses what was read: the box, a copy of the selected area and a
// stream written back.
#include <cstddef>
#include <cstdint>

#include "imaging/views/image_view.h"
#include "platform/rtl/streams.h"

namespace {

TImageLibView& View() {
  static TImageLibView* view = [] {
    auto* v = new TImageLibView(nullptr);
    v->GetIEBitmap()->Allocate(64, 48, ie24RGB);
    v->GetIEBitmap()->Fill(0x336699);
    v->Update();
    return v;
  }();
  return *view;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TImageLibView& view = View();
  for (int mode : {1, 2}) {
    view.Deselect();
    TMemoryStream in;
    if (size > 0) in.WriteBuffer(data, int64_t(size));
    in.SetPosition(0);
    if (!view.LoadSelectionFromStream(in, mode)) continue;
    int l = 0, t = 0, r = 0, b = 0;
    view.SelectedRect(l, t, r, b);
    TIEBitmap copy;
    view.CopySelectionToIEBitmap(copy, true);
    TMemoryStream out;
    view.SaveSelectionToStream(out);
  }
  return 0;
}
