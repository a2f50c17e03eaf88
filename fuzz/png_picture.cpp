// libFuzzer target: the PNG picture reads a stream into its chunks, draws,
// turns into a bitmap and mask, and saves; what it saves loads again to the
// same size. A failed load leaves the picture it held.
#include <cstddef>
#include <cstdint>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "fuzz_support.h"
#include "pictures/png/png_image.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_canvas.h"

namespace {

// A 2 x 1 truecolour picture the failed loads must leave alone.
const uint8_t kHeld[] = {
    0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D,
    0x49, 0x48, 0x44, 0x52, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01,
    0x08, 0x02, 0x00, 0x00, 0x00, 0x7B, 0x40, 0xE8, 0xDD, 0x00, 0x00, 0x00,
    0x0B, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9C, 0x63, 0x60, 0x00, 0x03, 0x00,
    0x00, 0x07, 0x00, 0x01, 0xB2, 0x86, 0xAC, 0xF4, 0x00, 0x00, 0x00, 0x00,
    0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82,
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TPNGImage png;
  bool held = false;
  try {
    TCustomMemoryStream seed(kHeld, sizeof kHeld);
    png.LoadFromStream(seed);
    held = png.GetWidth() == 2;
  } catch (const Exception&) {
  }
  try {
    TCustomMemoryStream stream(data, static_cast<int64_t>(size));
    png.LoadFromStream(stream);
  } catch (const Exception&) {
    if (held && (png.GetWidth() != 2 || png.GetHeight() != 1)) qvfuzz::Finding("a failed load changed the picture");
    return 0;
  }
  try {
    TBitmap canvas, picture, mask;
    canvas.SetPixelFormat(pf32bit);
    canvas.SetSize(8, 8);
    png.Draw(canvas.Canvas(), Rect(0, 0, 8, 8));
    png.ExtractBitmapAndMask(&picture, &mask, 128);
    TMemoryStream out;
    png.SaveToStream(out);
    out.SetPosition(0);
    TPNGImage again;
    again.LoadFromStream(out);
    if (again.GetWidth() != png.GetWidth() || again.GetHeight() != png.GetHeight())
      qvfuzz::Finding("a saved picture loads to another size");
  } catch (const Exception&) {
  }
  return 0;
}
