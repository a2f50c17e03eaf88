// libFuzzer target: the framework icon picture (TIcon) reads an ICO stream,
// makes its handle, draws and saves; a failed load leaves the picture as it was.
#include <cstddef>
#include <cstdint>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "fuzz_support.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_canvas.h"
#include "platform/graphics/graphics_icon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TCustomMemoryStream stream(data, static_cast<int64_t>(size));
  TIcon icon;
  try {
    icon.LoadFromStream(stream);
  } catch (const Exception&) {
    if (!icon.GetEmpty()) qvfuzz::Finding("a failed icon load left data behind");
    return 0;
  }
  try {
    for (int side : {16, 48}) {
      TIcon sized;
      sized.SetRequestedSize(side, side);
      TCustomMemoryStream again(data, static_cast<int64_t>(size));
      sized.LoadFromStream(again);
      (void)sized.Handle();
    }
    TBitmap canvas;
    canvas.SetPixelFormat(pf32bit);
    canvas.SetSize(32, 32);
    icon.Draw(canvas.Canvas(), Rect(0, 0, 32, 32));
    TMemoryStream out;
    icon.SaveToStream(out);
  } catch (const Exception&) {
  }
  return 0;
}
