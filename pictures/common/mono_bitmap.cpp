#include "pictures/common/mono_bitmap.h"

#include <algorithm>

#include "base/toolbox/bitmap_utils.h"

bool IsBlackAndWhite(TBitmap* bitmap) {
  if (!bitmap || bitmap->PixelFormat() != pf1bit) return false;
  int32_t colours[2];
  return ReadPaletteColours(bitmap, colours, 2) == 2 && colours[0] == 0 && colours[1] == 0xFFFFFF;
}

std::unique_ptr<TBitmap> BlackAndWhiteCopy(TBitmap* bitmap) {
  std::unique_ptr<TBitmap> mono = NewMonoBitmap();
  mono->SetSize(bitmap->Width(), bitmap->Height());
  if (IsBlackAndWhite(bitmap)) {
    const size_t rowBytes = static_cast<size_t>((bitmap->Width() + 7) / 8);
    for (int y = 0; y < bitmap->Height(); ++y)
      std::copy_n(static_cast<const uint8_t*>(bitmap->ScanLine(y)), rowBytes, static_cast<uint8_t*>(mono->ScanLine(y)));
  } else if (!bitmap->Empty()) {
    mono->Canvas()->Draw(0, 0, bitmap);
  }
  return mono;
}
