// Feeds arbitrary bytes to the picture adapters: a picture of the library
// that finds the format by content, the GIF and Targa pictures, and the
// form-file data reader. Each may raise EInvalidGraphic, never crash, and a
// failed load leaves the picture as it was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_startup.h"
#include "imaging/formats/format_filters.h"
#include "imaging/io/file_formats.h"
#include "imaging/io/picture_adapters.h"
#include "platform/rtl/streams.h"

namespace {

template <class F> void Try(F&& f) {
  try {
    f();
  } catch (const Exception&) {
    // A refused picture raises; that is its answer.
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    RegisterFormatFilters();
    InitImageIO();
    return true;
  }();
  (void)ready;
  AllowFileFallback = false;
  MemoryLimitOverride = 64 << 20;
  {
    TIEGraphicBase picture;
    picture.Bitmap()->Allocate(3, 2, ie24RGB);
    TCustomMemoryStream s(data, static_cast<int64_t>(size));
    bool loaded = false;
    Try([&] {
      picture.LoadFromStream(s);
      loaded = true;
    });
    if (!loaded && (picture.Width() != 3 || picture.Height() != 2)) std::abort();
  }
  {
    TIEGIFImage picture;
    TCustomMemoryStream s(data, static_cast<int64_t>(size));
    Try([&] { picture.ReadData(s); });
  }
  {
    TTGAImage picture;
    TCustomMemoryStream s(data, static_cast<int64_t>(size));
    Try([&] { picture.LoadFromStream(s); });
  }
  return 0;
}
