// libFuzzer target: the clipboard formats the icon side reads: the bytes are
// put on the clipboard as the program's icon format, as a DIB and as PNG data,
// then pasted into an icon and into a picture.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "base/rus_clipboard.h"
#include "icons/advanced_icon.h"
#include "icons/icon_pictures.h"
#include "icons/icon_resources.h"
#include "pictures/png/png_image.h"
#include "platform/graphics/graphics_picture.h"
#include "platform/win/clipboard.h"
#include "platform/win/global_memory.h"

namespace {

bool Put(UINT format, const uint8_t* data, size_t size) {
  HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, size ? size : 1);
  if (!mem) return false;
  if (size) std::memcpy(GlobalLock(mem), data, size), GlobalUnlock(mem);
  if (!OpenClipboard(nullptr)) {
    GlobalFree(mem);
    return false;
  }
  EmptyClipboard();
  const bool ok = SetClipboardData(format, mem) != nullptr;
  if (!ok) GlobalFree(mem);
  CloseClipboard();
  return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool registered = (RegisterIconPictureClasses(), true);
  (void)registered;
  const UINT formats[] = {IconClipboardFormat(), CF_DIB, RegisterClipboardFormat("PNG")};
  for (UINT format : formats) {
    if (!Put(format, data, size)) continue;
    try {
      TAdvancedIcon icon;
      icon.PasteFromClipboard();
    } catch (const Exception&) {
    }
    try {
      TPNGImage png;
      LoadPNGFromClipboard(png);
    } catch (const Exception&) {
    }
    try {
      TPicture picture;
      picture.Assign(&SharedClipboard());
    } catch (const Exception&) {
    }
  }
  if (OpenClipboard(nullptr)) {
    EmptyClipboard();
    CloseClipboard();
  }
  return 0;
}
