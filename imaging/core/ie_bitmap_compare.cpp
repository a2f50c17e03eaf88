#include <cstring>

#include "imaging/core/ie_bitmap_compare.h"

namespace {

// The bytes of a row that hold pixels: the padding at the end of a row may differ.
bool SameRows(TIEBitmap& a, TIEBitmap& b) {
  const int64_t bits = int64_t(a.Width()) * a.BitCount();
  const int64_t whole = bits / 8;
  const int spare = static_cast<int>(bits % 8);
  const uint8_t lastMask = static_cast<uint8_t>(0xFF << (8 - spare));
  for (int y = 0; y < a.Height(); ++y) {
    const uint8_t* ra = a.ScanLine(y);
    const uint8_t* rb = b.ScanLine(y);
    if (std::memcmp(ra, rb, static_cast<size_t>(whole)) != 0) return false;
    if (spare != 0 && ((ra[whole] ^ rb[whole]) & lastMask) != 0) return false;
  }
  return true;
}

}  // namespace

bool SameBitmaps(TIEBitmap& a, TIEBitmap& b) {
  if (&a == &b) return true;
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat()) return false;
  if (a.HasAlphaChannel() != b.HasAlphaChannel()) return false;
  if (!SameRows(a, b)) return false;
  return !a.HasAlphaChannel() || SameRows(*a.AlphaChannel(), *b.AlphaChannel());
}
