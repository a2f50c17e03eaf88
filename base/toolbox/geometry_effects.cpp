#include "base/toolbox/geometry_effects.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/text_utils.h"
#include "base/toolbox/bitmap_utils.h"
#include "base/toolbox/palettes.h"

namespace {

bool Empty(TBitmap* b) { return !b || b->Width() <= 0 || b->Height() <= 0; }

bool DirectRows(TPixelFormat pf) { return pf != pfDevice && pf != pfCustom; }

// Runs fn on a copy of the bitmap in the given direct format, then draws the
// copy back whole.
template <class Fn>
void ThroughCopy(TBitmap* bitmap, TPixelFormat format, Fn fn) {
  TBitmap copy;
  copy.SetPixelFormat(format);
  copy.SetSize(bitmap->Width(), bitmap->Height());
  HDC dc = bitmap->Canvas()->Handle();
  BitBlt(copy.Canvas()->Handle(), 0, 0, bitmap->Width(), bitmap->Height(), dc, 0, 0, SRCCOPY);
  fn(&copy);
  BitBlt(bitmap->Canvas()->Handle(), 0, 0, bitmap->Width(), bitmap->Height(), copy.Canvas()->Handle(), 0, 0,
         SRCCOPY);
}

// Bytes that hold the pixels of one row (the last byte shared when the bits do
// not fill it).
int PixelBytes(int width, int bits) { return (width * bits + 7) / 8; }

void RotateRowBytes(uint8_t* row, int rowBytes, int shiftBytes) {
  // Positive moves right: the bytes leaving on the right come back on the left.
  shiftBytes %= rowBytes;
  if (shiftBytes < 0) shiftBytes += rowBytes;
  std::rotate(row, row + rowBytes - shiftBytes, row + rowBytes);
}

// Every palette entry becomes the grey that fn gives for its red + green + blue.
template <class Fn>
void GreyPalette(TBitmap* bitmap, Fn fn) {
  int32_t colours[256];
  const int n = ReadPaletteColours(bitmap, colours, 256);
  for (int i = 0; i < n; ++i)
    colours[i] = static_cast<int32_t>(fn((colours[i] & 0xFF) + ((colours[i] >> 8) & 0xFF) + ((colours[i] >> 16) & 0xFF))) * 0x010101;
  SetPaletteEntriesOf(bitmap, colours, n);
}

uint8_t GreyOf(const uint8_t* bgr) { return static_cast<uint8_t>((bgr[0] + bgr[1] + bgr[2]) / 3); }

TRect WholeOr(const TRect& r, TBitmap* b) {
  if (r.left == 0 && r.right == 0) return TRect{0, 0, b->Width(), b->Height()};
  return TRect{std::max<LONG>(r.left, 0), std::max<LONG>(r.top, 0), std::min<LONG>(r.right, b->Width()),
               std::min<LONG>(r.bottom, b->Height())};
}

}  // namespace

void FlipVertical(TBitmap* bitmap) {
  if (!bitmap || bitmap->Height() <= 0 || bitmap->Width() <= 0) return;
  const TPixelFormat pf = bitmap->PixelFormat();
  if (!DirectRows(pf)) {
    ThroughCopy(bitmap, pf32bit, FlipVertical);
    return;
  }
  const TPixelRows rows = BitmapRows(bitmap);
  const size_t n = static_cast<size_t>(BitmapRowSize(bitmap));
  for (int i = 0, j = rows.Height - 1; i < j; ++i, --j) std::swap_ranges(rows.Row(i), rows.Row(i) + n, rows.Row(j));
}

void ReverseNibbles(uint8_t* row, int highIndex) {
  for (int i = 0, j = highIndex; i < j; ++i, --j) {
    const uint8_t a = (row[i / 2] >> ((i % 2) ? 0 : 4)) & 0x0F;
    const uint8_t b = (row[j / 2] >> ((j % 2) ? 0 : 4)) & 0x0F;
    SetNibble(row, i, b);
    SetNibble(row, j, a);
  }
}

void SetNibble(uint8_t* row, int index, uint8_t value) {
  uint8_t& byte = row[index / 2];
  if (index % 2 == 0)
    byte = static_cast<uint8_t>((byte & 0x0F) | ((value & 0x0F) << 4));
  else
    byte = static_cast<uint8_t>((byte & 0xF0) | (value & 0x0F));
}

void FlipHorizontal(TBitmap* bitmap) {
  if (Empty(bitmap)) return;
  const TPixelFormat pf = bitmap->PixelFormat();
  if (pf == pf1bit || !DirectRows(pf)) {
    ThroughCopy(bitmap, pf32bit, FlipHorizontal);
    return;
  }
  const TPixelRows rows = BitmapRows(bitmap);
  const int hi = rows.Width - 1;
  for (int y = 0; y < rows.Height; ++y) {
    uint8_t* r = rows.Row(y);
    switch (pf) {
      case pf4bit: ReverseNibbles(r, hi); break;
      case pf8bit: ReverseBytes(r, hi); break;
      case pf15bit:
      case pf16bit: ReverseWords(reinterpret_cast<uint16_t*>(r), hi); break;
      case pf24bit: ReverseTriples(r, hi); break;
      default: ReverseIntegers(reinterpret_cast<int32_t*>(r), hi); break;
    }
  }
}

void ShiftHorizontal(TBitmap* bitmap, int n) {
  if (!bitmap || bitmap->Height() <= 0 || bitmap->Width() <= 0 || n == 0) return;
  const int w = bitmap->Width();
  n %= w;
  if (n == 0) return;
  const TPixelFormat pf = bitmap->PixelFormat();
  const int bits = PixelFormatBits(pf);
  const bool bytewise = pf == pf8bit || pf == pf15bit || pf == pf16bit || pf == pf24bit || pf == pf32bit ||
                        (pf == pf4bit && n % 2 == 0 && w % 2 == 0) || (pf == pf1bit && n % 8 == 0 && w % 8 == 0);
  if (!bytewise) {
    ThroughCopy(bitmap, pf24bit, [n](TBitmap* copy) { ShiftHorizontal(copy, n); });
    return;
  }
  const TPixelRows rows = BitmapRows(bitmap);
  const int rowBytes = w * bits / 8;
  for (int y = 0; y < rows.Height; ++y) RotateRowBytes(rows.Row(y), rowBytes, n * bits / 8);
}

void ShiftVertical(TBitmap* bitmap, int n) {
  if (!bitmap || bitmap->Height() <= 0 || bitmap->Width() <= 0) return;
  const int h = bitmap->Height();
  n %= h;
  if (n < 0) n += h;
  if (n == 0) return;
  const TPixelFormat pf = bitmap->PixelFormat();
  if (!DirectRows(pf)) {
    ThroughCopy(bitmap, pf24bit, [n](TBitmap* copy) { ShiftVertical(copy, n); });
    return;
  }
  const TPixelRows rows = BitmapRows(bitmap);
  const size_t rowBytes = static_cast<size_t>(PixelBytes(bitmap->Width(), PixelFormatBits(pf)));
  std::vector<uint8_t> all(rowBytes * h);
  for (int y = 0; y < h; ++y) std::memcpy(all.data() + rowBytes * y, rows.Row(y), rowBytes);
  // Row y moves down to row y + n, the bottom n rows come round to the top.
  for (int y = 0; y < h; ++y) std::memcpy(rows.Row((y + n) % h), all.data() + rowBytes * y, rowBytes);
}

void InvertColorChannels(TBitmap* bitmap, TBitmap* mask, bool red, bool green, bool blue) {
  if (!bitmap || bitmap->Width() <= 0 || bitmap->Height() <= 0) return;
  const TPixelFormat pf = bitmap->PixelFormat();
  const uint32_t flip = (blue ? 0xFFu : 0) | (green ? 0xFF00u : 0) | (red ? 0xFF0000u : 0);
  if (pf == pf32bit) {
    const TPixelRows rows = BitmapRows(bitmap);
    for (int y = 0; y < rows.Height; ++y) {
      uint32_t* p = reinterpret_cast<uint32_t*>(rows.Row(y));
      for (int x = 0; x < rows.Width; ++x)
        if (p[x] >> 24) p[x] ^= flip;
    }
    return;
  }
  if (pf == pf24bit) {
    const TPixelRows rows = BitmapRows(bitmap);
    TMaskPixels m(mask);
    for (int y = 0; y < rows.Height; ++y) {
      uint8_t* p = rows.Row(y);
      for (int x = 0; x < rows.Width; ++x, p += 3) {
        if (m.Valid() && m.IsWhite(x, y)) continue;
        if (blue) p[0] = 255 - p[0];
        if (green) p[1] = 255 - p[1];
        if (red) p[2] = 255 - p[2];
      }
    }
    return;
  }
  if (pf == pf4bit && red && green && blue) {
    TBitmap copy;
    copy.Assign(bitmap);
    const TPixelRows rows = BitmapRows(bitmap), old = BitmapRows(&copy);
    const size_t n = static_cast<size_t>(BitmapRowSize(bitmap));
    for (int y = 0; y < rows.Height; ++y)
      for (size_t i = 0; i < n; ++i) rows.Row(y)[i] = static_cast<uint8_t>(~rows.Row(y)[i]);
    TMaskPixels m(mask);
    for (int y = 0; y < rows.Height; ++y)
      for (int x = 0; x < rows.Width; ++x)
        if (m.Valid() && m.IsWhite(x, y)) SetNibble(rows.Row(y), x, (old.Row(y)[x / 2] >> (x % 2 ? 0 : 4)) & 0x0F);
    return;
  }
  auto copy = CopyTo24Bit(bitmap);
  InvertColorChannels(copy.get(), mask, red, green, blue);
  if (pf == pf8bit) {
    int32_t colours[256];
    const int n = ReadPaletteColours(bitmap, colours, 256);
    for (int i = 0; i < n; ++i) colours[i] ^= static_cast<int32_t>(ColourToPixel(flip));
    SetPaletteEntriesOf(bitmap, colours, n);
  }
  BitBlt(bitmap->Canvas()->Handle(), 0, 0, bitmap->Width(), bitmap->Height(), copy->Canvas()->Handle(), 0, 0,
         SRCCOPY);
}

void GrayscaleRect(TBitmap* bitmap, const TRect& rect) {
  if (!bitmap || bitmap->Width() <= 0 || bitmap->Height() <= 0) return;
  const TPixelFormat pf = bitmap->PixelFormat();
  if (pf == pf1bit) return;
  if (pf == pf8bit) {
    GreyPalette(bitmap, [](int sum) { return sum / 3; });
    return;
  }
  if (pf == pf24bit || pf == pf32bit) {
    const int step = pf == pf24bit ? 3 : 4;
    const TRect r = WholeOr(rect, bitmap);
    const TPixelRows rows = BitmapRows(bitmap);
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x) {
        uint8_t* p = rows.Row(y) + x * step;
        p[0] = p[1] = p[2] = GreyOf(p);
      }
    return;
  }
  ThroughCopy(bitmap, pf24bit, [&rect](TBitmap* copy) { GrayscaleRect(copy, rect); });
}

void GrayscaleRangeRect(TBitmap* bitmap, const TRect& rect, int low, int high, TColor keyColour) {
  if (!bitmap || bitmap->Width() <= 0 || bitmap->Height() <= 0) return;
  const TPixelFormat pf = bitmap->PixelFormat();
  if (pf == pf1bit) return;
  const int d = high > low ? std::max(768 / (high - low), 1) : 768;
  // Wide ranges would run past 255 and wrap to dark greys: held at white.
  auto grey = [&](int sum) { return static_cast<uint8_t>(std::clamp(low + sum / d, 0, 255)); };
  const int32_t key = keyColour == clNone ? -1 : (ColorToRGB(keyColour) & 0xFFFFFF);
  if (pf == pf8bit) {
    GreyPalette(bitmap, grey);
    return;
  }
  if (pf == pf24bit || pf == pf32bit) {
    const int step = pf == pf24bit ? 3 : 4;
    const TRect r = WholeOr(rect, bitmap);
    const TPixelRows rows = BitmapRows(bitmap);
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x) {
        uint8_t* p = rows.Row(y) + x * step;
        if (step == 4 && p[3] == 0) continue;
        if ((p[2] | (p[1] << 8) | (p[0] << 16)) == key) continue;
        p[0] = p[1] = p[2] = grey(p[0] + p[1] + p[2]);
      }
    return;
  }
  ThroughCopy(bitmap, pf24bit,
              [&](TBitmap* copy) { GrayscaleRangeRect(copy, rect, low, high, keyColour); });
}

void ConvertToGrayscale(TBitmap* bitmap) {
  if (!bitmap || bitmap->Width() <= 0 || bitmap->Height() <= 0) return;
  if (bitmap->PixelFormat() != pf8bit) {
    GrayscaleRect(bitmap, TRect{0, 0, bitmap->Width(), bitmap->Height()});
    return;
  }
  auto copy = CopyTo24Bit(bitmap);
  SetGrayPalette(bitmap);
  bitmap->Canvas()->Draw(0, 0, copy.get());
}

void GrayscaleRangeBitmap(TBitmap* bitmap, TColor keyColour) {
  if (!bitmap || bitmap->Width() <= 0 || bitmap->Height() <= 0) return;
  const TRect whole{0, 0, bitmap->Width(), bitmap->Height()};
  if (bitmap->PixelFormat() != pf8bit) {
    GrayscaleRangeRect(bitmap, whole, 128, 192, keyColour);
    return;
  }
  auto copy = CopyTo24Bit(bitmap);
  GrayscaleRangeRect(copy.get(), whole, 128, 192, keyColour);
  SetGrayPalette(bitmap);
  bitmap->Canvas()->Draw(0, 0, copy.get());
}
