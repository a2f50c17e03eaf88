// Feeds arbitrary bytes to the ICC profile holder: opening them, reading their
// texts and converting a row through them must never read outside the bytes.
#include <cstddef>
#include <cstdint>

#include "imaging/core/ie_icc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TIEICC icc, srgb;
  icc.LoadFromBuffer(data, static_cast<int64_t>(size));
  srgb.LoadSRGB();
  // Three pixels of the widest layout (6 bytes each).
  const uint8_t row[18] = {0, 0, 0, 255, 255, 255, 12, 34, 56, 200, 150, 100, 7, 8, 9, 10, 11, 12};
  uint8_t out[16] = {};
  for (int code : {kIccRGB, kIccBGR, kIccInvCMYK, kIccCMYK6, kIccLab, kIccGray, kIccRGB48, kIccRGB48BE, kIccYCbCr})
    icc.Transform(srgb, code, 3, out, row, 0, 0, kIccBGR);
  // And towards the bytes, as colour turns into a printer's inks.
  srgb.Transform(icc, kIccBGR, 3, out, row, 0, 0, kIccInvCMYK);
  icc.FreeTransform();
  return 0;
}
