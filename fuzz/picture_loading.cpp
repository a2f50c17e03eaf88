// libFuzzer target: TBitmap from a stream and TPicture from a file of every
// registered picture extension, each drawn and saved when it loads; a bitmap
// whose load fails keeps the picture it held.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "fuzz_support.h"
#include "icons/icon_pictures.h"
#include "pictures/jpeg2000/jpeg2000_bitmap.h"
#include "pictures/png/png_image.h"
#include "pictures/psd/psd_image.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_canvas.h"
#include "platform/graphics/graphics_picture.h"

namespace {

void Bitmap(const uint8_t* data, size_t size) {
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf24bit);
  bitmap.SetSize(3, 2);
  bitmap.Canvas()->SetPixels(1, 1, 0x123456);
  TCustomMemoryStream stream(data, static_cast<int64_t>(size));
  try {
    bitmap.LoadFromStream(stream);
  } catch (const Exception&) {
    if (bitmap.Width() != 3 || bitmap.Height() != 2 || bitmap.Canvas()->Pixels(1, 1) != 0x123456)
      qvfuzz::Finding("a failed bitmap load changed the bitmap");
    return;
  }
  TMemoryStream out;
  bitmap.SaveToStream(out);
}

void Picture(const uint8_t* data, size_t size) {
  // The picture classes register their extensions when their units are
  // linked in; making one of each links them.
  static const bool registered = [] {
    RegisterIconPictureClasses();
    TJpeg2000Bitmap jpeg2000;
    TPNGImage png;
    TPSDImage psd;
    return true;
  }();
  (void)registered;
  for (const char* ext : {".bmp", ".ico", ".cur", ".png", ".jp2", ".j2k", ".psd", ".gif", ".xpm", ".pcx", ".wbmp"}) {
    const std::string file = qvfuzz::InputFile(data, size, ext);
    TPicture picture;
    try {
      picture.LoadFromFile(file);
      if (!picture.Graphic()) continue;
      TBitmap canvas;
      canvas.SetPixelFormat(pf24bit);
      canvas.SetSize(16, 16);
      canvas.Canvas()->StretchDraw(Rect(0, 0, 16, 16), picture.Graphic());
      TMemoryStream out;
      picture.Graphic()->SaveToStream(out);
    } catch (const Exception&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bitmap(data, size);
  Picture(data, size);
  return 0;
}
