#include "imaging/formats/fax_rows.h"

#include <cstring>

#include "imaging/core/ie_bitmap.h"
#include "imaging/formats/filter_rows.h"
#include "imaging/formats/tiff/tiff_ccitt.h"
#include "imaging/io/io_types.h"
#include "platform/rtl/streams.h"

std::vector<uint8_t> EncodeFaxBitmap(TIEBitmap& bitmap, int k, TProgressRecord& progress) {
  const int width = bitmap.Width(), height = bitmap.Height();
  // The coder reads its reference rows in whole 32-bit words.
  const int64_t rowBytes = (int64_t(width) + 31) / 32 * 4;
  std::vector<uint8_t> row(static_cast<size_t>(rowBytes), 0);
  TMemoryStream out;
  TCCITTEncoderState state;
  progress.Step = 100.0 / height;
  TFilterRowProgress rp{progress};
  for (int r = 0; r < height && !progress.Aborted(); ++r) {
    std::memcpy(row.data(), bitmap.ScanLine(r), size_t((width + 7) / 8));
    if (k < 0) CCITTEncodeG4(row.data(), width, out, 1, state);
    else CCITTEncodeG3_2D(row.data(), width, out, 1, state);
    rp.Row(r + 1);
  }
  if (k < 0) CCITTEncodeG4(nullptr, width, out, 1, state);
  else CCITTEncodeG3_2D(nullptr, width, out, 1, state);
  return std::vector<uint8_t>(out.Memory(), out.Memory() + out.Size());
}
