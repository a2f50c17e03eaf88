#include "imaging/core/ie_bilevel.h"

#include <cstring>

#include "platform/rtl/rounding.h"

namespace {

int64_t GreyOf(TRGB c) { return Round((21.0 * c.r + 71.0 * c.g + 8.0 * c.b) / 100.0); }

}  // namespace

std::unique_ptr<TIEBitmap> ConvertTwoColorTo1Bit(TIEBitmap& bitmap, TRGB& c1, TRGB& c2) {
  const int w = bitmap.Width(), h = bitmap.Height();
  if (w <= 0 || h <= 0) return nullptr;
  auto out = std::make_unique<TIEBitmap>(w, h, ie1g);
  int found = 0;
  TRGB first{}, second{};
  for (int y = 0; y < h; ++y) {
    uint8_t* row = out->ScanLine(y);
    std::memset(row, 0, static_cast<size_t>(out->RowLen()));
    for (int x = 0; x < w; ++x) {
      const TRGB c = bitmap.GetPixelAsRGB(x, y);
      if (found == 0 || !(c == first)) {
        if (found == 0) {
          first = c;
          found = 1;
          continue;
        }
        if (found == 1) {
          second = c;
          found = 2;
        } else if (!(c == second)) {
          return nullptr;
        }
        row[x >> 3] |= kIEBitMask[x & 7];
      }
    }
  }
  if (found != 2) return nullptr;
  if (GreyOf(second) < GreyOf(first)) {
    InvertBitmap(*out);
    std::swap(first, second);
  }
  c1 = first;
  c2 = second;
  return out;
}

void InvertBitmap(TIEBitmap& bitmap) {
  const int64_t len = bitmap.RowLen();
  for (int y = 0; y < bitmap.Height(); ++y) {
    uint8_t* row = bitmap.ScanLine(y);
    for (int64_t i = 0; i < len; ++i) row[i] = static_cast<uint8_t>(~row[i]);
  }
}
