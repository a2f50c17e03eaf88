// Feeds arbitrary bytes to the Mac icon reader (icns files, resource forks,
// AppleDouble files, with their PNG and JPEG 2000 elements) and turns what it
// keeps into icon images.
#include <cstddef>
#include <cstdint>

#include "icons/advanced_icon.h"
#include "icons/mac_icons.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMacIconImages images;
  try {
    ReadMacIconData(data, size, images);
  } catch (const Exception&) {
    return 0;
  }
  TAdvancedIcon icon;
  for (TMacIconImage& image : images) {
    try {
      icon.Images().AddBitmap(image.image.get(), image.mask.get(), 0);
    } catch (const Exception&) {
    }
  }
  return 0;
}
