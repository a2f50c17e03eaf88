// Feeds arbitrary bytes to the vector view's stream probes and loads (objects
// alone, and layers with objects): a load either takes everything or changes
// nothing, and what it took saves and loads again. The objects are drawn too.
#include <cstddef>
#include <cstdint>

#include "imaging/core/ie_bitmap.h"
#include "imaging/extras/vector/image_lib_vect.h"
#include "imaging/formats/format_filters.h"
#include "imaging/io/file_formats.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/rtl/streams.h"
#include "fuzz_support.h"

namespace {

TImageLibVect& View() {
  static TImageLibVect* view = [] {
    RegisterFormatFilters();
    InitImageIO();
    return new TImageLibVect(nullptr);
  }();
  return *view;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TImageLibVect& view = View();
  for (bool all : {false, true}) {
    TCustomMemoryStream in(data, int64_t(size));
    const bool probe = all ? TImageLibVect::IsALLStream(in) : TImageLibVect::IsIEVStream(in);
    if (in.Position() != 0) qvfuzz::Finding("a probe moved the stream");
    (void)probe;
    view.RemoveAllObjects();
    const bool loaded = all ? view.LoadAllFromStream(in) : view.LoadObjectsFromStream(in, false);
    if (!loaded) {
      if (view.ObjectsCount() != 0) qvfuzz::Finding("a refused load left objects");
      continue;
    }
    TMemoryStream out;
    if (!view.SaveObjectsToStream(out, IEV_ALL_OBJECTS)) continue;
    out.SetPosition(0);
    const int count = view.ObjectsCount();
    if (!view.LoadObjectsFromStream(out, false) || view.ObjectsCount() != count)
      qvfuzz::Finding("what was saved does not load again");
    TBitmap target;
    target.SetPixelFormat(pf24bit);
    target.SetSize(48, 32);
    view.DrawObjectsToBitmap(true, target, nullptr, -1, IEV_ALL_OBJECTS, true);
  }
  return 0;
}
