#pragma once
// Pictures for table tests over the pixel formats: every pixel a value of its
// own, and a pixel's bytes (or bit) to compare.
#include <cstdint>
#include <vector>

#include "imaging/core/ie_bitmap.h"

namespace qvtest {

inline constexpr TIEBitmapFormat kAllPixelFormats[] = {ie1g,  ie8p,   ie8g,    ie16g,    ie24RGB,
                                                       ie32f, ieCMYK, ieRGB48, ieCIELab, ie32RGB};

// ie1g gets a pattern, ie32f floats in 0..1, ie8p a palette of distinct colours;
// seed tells two pictures apart.
inline void NumberPixels(TIEBitmap& b, int seed = 0) {
  const int n = b.BitCount() / 8;
  for (int y = 0; y < b.Height(); ++y) {
    uint8_t* row = b.ScanLine(y);
    for (int x = 0; x < b.Width(); ++x) {
      if (b.BitCount() == 1) {
        const bool on = (x * 3 + y * 5 + seed) % 7 < 3;
        row[x >> 3] = on ? uint8_t(row[x >> 3] | kIEBitMask[x & 7]) : uint8_t(row[x >> 3] & ~kIEBitMask[x & 7]);
      } else if (b.PixelFormat() == ie32f) {
        reinterpret_cast<float*>(row)[x] = float((x * 13 + y * 7 + seed) % 100) / 100.0f;
      } else {
        for (int i = 0; i < n; ++i) row[x * n + i] = uint8_t(x * 16 + y * 3 + i * 101 + seed);
      }
    }
  }
  if (b.PixelFormat() == ie8p)
    for (int i = 0; i < 256; ++i) b.SetPaletteColor(i, MakeRGB(uint8_t(i), uint8_t(255 - i), uint8_t(i * 7)));
}

inline std::vector<uint8_t> PixelBytes(TIEBitmap& b, int x, int y) {
  const uint8_t* row = b.ScanLine(y);
  if (b.BitCount() == 1) return {uint8_t((row[x >> 3] & kIEBitMask[x & 7]) != 0)};
  const int n = b.BitCount() / 8;
  return std::vector<uint8_t>(row + x * n, row + x * n + n);
}

}  // namespace qvtest
