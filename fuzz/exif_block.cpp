// Feeds arbitrary bytes to the EXIF readers: the first byte picks the form (an
// "Exif" marker parsed and saved again, a maker note of each device read and
// written back, a camera raw file searched for its TIFF header and read). They
// may refuse, never crash, hang or over-allocate.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/core/ie_startup.h"
#include "imaging/formats/tiff/exif_io.h"
#include "imaging/io/exif_block.h"
#include "imaging/io/io_params.h"
#include "platform/rtl/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AllowFileFallback = false;
  MemoryLimitOverride = 64 << 20;
  if (size < 1) return 0;
  const uint8_t form = data[0] % 3;
  ++data, --size;
  try {
    if (form == 0) {
      std::vector<uint8_t> marker = {'E', 'x', 'i', 'f', 0, 0};
      marker.insert(marker.end(), data, data + size);
      TIOParamsVals params(nullptr);
      if (ParseEXIFMarker(marker.data(), int64_t(marker.size()), params)) {
        EXIFMarkerForSave(params, marker.data(), int64_t(marker.size()));
        params.ExifArtist = "changed";
        EXIFMarkerForSave(params, marker.data(), int64_t(marker.size()));
      }
    } else if (form == 1) {
      TIETagsHandler note;
      TCustomMemoryStream s(data, int64_t(size));
      note.ReadMakerNote(s, int64_t(size), size % 2 == 0);
      TMemoryStream out;
      WriteMakerNote(note, out);
    } else {
      TCustomMemoryStream s(data, int64_t(size));
      const int64_t at = FindTIFFHeader(s);
      if (at >= 0) {
        s.SetPosition(at);
        TIOParamsVals params(nullptr);
        ReadRawEXIF(s, params);
        ReadTIFFEXIF(s, params);
      }
    }
  } catch (...) {
    // Only stream errors of the test's own streams may pass; none are expected.
    __builtin_trap();
  }
  return 0;
}
