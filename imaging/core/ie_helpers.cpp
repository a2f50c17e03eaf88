#include "imaging/core/ie_helpers.h"

#include <cmath>
#include <cstring>

#include "imaging/core/ie_startup.h"
#include "platform/graphics/graphics_types.h"
#include "platform/rtl/exceptions.h"

int64_t AlignedRowLength(int64_t width, int bitsPerPixel, int alignmentBits) {
  if (alignmentBits == 32) return ((width * bitsPerPixel + 31) / 32) * 4;
  if (alignmentBits <= 0) alignmentBits = 8;  // a zero alignment would divide by zero
  return ((width * bitsPerPixel + alignmentBits - 1) / alignmentBits) * (alignmentBits / 8);
}

int CeilLog2(int64_t n) {
  if (n <= 0) return -1;
  int high = 63 - __builtin_clzll(static_cast<uint64_t>(n));
  return (n & (n - 1)) == 0 ? high : high + 1;
}

int64_t ColorCountForBits(int bitsPerSample, int samplesPerPixel) {
  if (samplesPerPixel <= 0) return 1;
  const int bits = bitsPerSample * samplesPerPixel;
  if (bits >= 63) return INT64_MAX;  // more colours than the type holds
  return int64_t(1) << bits;
}


void ColorToRGBPixel(uint32_t color, TRGB& pixel) {
  if (color & 0x80000000u) color = GetSysColor(static_cast<int>(color & 0xFF));
  pixel.r = static_cast<uint8_t>(color & 0xFF);
  pixel.g = static_cast<uint8_t>((color >> 8) & 0xFF);
  pixel.b = static_cast<uint8_t>((color >> 16) & 0xFF);
}

void MakeRGBPixel(uint8_t red, uint8_t green, uint8_t blue, TRGB& pixel) { pixel = TRGB{blue, green, red}; }

int RGBToGray(uint32_t packedRGB) {
  const int r = (packedRGB >> 16) & 0xFF, g = (packedRGB >> 8) & 0xFF, b = packedRGB & 0xFF;
  return (r * IEGrayWeightRed + g * IEGrayWeightGreen + b * IEGrayWeightBlue) / 100;
}

int IECeil(double v) { return static_cast<int>(std::ceil(v)); }

void SwapWordArray(uint16_t* words, int64_t count) {
  for (int64_t i = 0; i < count; ++i) words[i] = SwapWord(words[i]);
}

void SwapRedBlue24(void* row, int64_t count) {
  auto* p = static_cast<uint8_t*>(row);
  for (int64_t i = 0; i < count; ++i, p += 3) std::swap(p[0], p[2]);
}

void SwapRedBlue48(void* row, int64_t count) {
  auto* p = static_cast<uint16_t*>(row);
  for (int64_t i = 0; i < count; ++i, p += 3) std::swap(p[0], p[2]);
}

void SwapPaletteRedBlue(TRGB* palette, int count) {
  for (int i = 0; i < count; ++i) std::swap(palette[i].r, palette[i].b);
}

void CopyRGBSwapped(const void* source, void* destination, int64_t count) {
  auto* s = static_cast<const uint8_t*>(source);
  auto* d = static_cast<uint8_t*>(destination);
  for (int64_t i = 0; i < count; ++i, s += 3, d += 3) {
    const uint8_t b0 = s[0], b2 = s[2];
    d[1] = s[1];
    d[0] = b2;
    d[2] = b0;
  }
}

void InvertBytes(void* buffer, int64_t count) {
  auto* p = static_cast<uint8_t*>(buffer);
  for (int64_t i = 0; i < count; ++i) p[i] = static_cast<uint8_t>(~p[i]);
}

bool GetBit(const uint8_t* data, int64_t index) { return (data[index >> 3] & kIEBitMask[index & 7]) != 0; }
void SetBit(uint8_t* data, int64_t index, bool on) {
  if (on)
    data[index >> 3] |= kIEBitMask[index & 7];
  else
    data[index >> 3] &= static_cast<uint8_t>(~kIEBitMask[index & 7]);
}

namespace {
struct BitReverseTable {
  uint8_t v[256];
  constexpr BitReverseTable() : v() {
    for (int i = 0; i < 256; ++i) {
      int r = 0;
      for (int b = 0; b < 8; ++b)
        if (i & (1 << b)) r |= 0x80 >> b;
      v[i] = static_cast<uint8_t>(r);
    }
  }
};
constexpr BitReverseTable kBitReverse;
}  // namespace

void ReverseByteBits(uint8_t& value) { value = kBitReverse.v[value]; }

void ReverseDWordBits(uint32_t& value) {
  const uint32_t v = value;
  value = (uint32_t(kBitReverse.v[v & 0xFF]) << 24) | (uint32_t(kBitReverse.v[(v >> 8) & 0xFF]) << 16) |
          (uint32_t(kBitReverse.v[(v >> 16) & 0xFF]) << 8) | kBitReverse.v[v >> 24];
}

int MaskBitWidth(uint32_t mask) {
  if (mask == 0) return 0;
  mask >>= __builtin_ctz(mask);
  int n = 0;
  while (mask & 1) {
    ++n;
    mask >>= 1;
  }
  return n;
}

void CopyBitRun(uint8_t* destination, const uint8_t* source, int64_t destBit, int64_t sourceBit,
                int64_t bitCount, int64_t sourceRowBytes) {
  if (bitCount < 1 || destBit < 0 || sourceBit < 0) return;
  // Byte-aligned runs go through memcpy; the rest bit by bit.
  if ((destBit & 7) == 0 && (sourceBit & 7) == 0) {
    const int64_t whole = bitCount >> 3;
    std::memcpy(destination + (destBit >> 3), source + (sourceBit >> 3), static_cast<size_t>(whole));
    destBit += whole * 8;
    sourceBit += whole * 8;
    bitCount -= whole * 8;
  }
  for (int64_t i = 0; i < bitCount; ++i) {
    const int64_t s = sourceBit + i, d = destBit + i;
    if (source[s >> 3] & kIEBitMask[s & 7])
      destination[d >> 3] |= kIEBitMask[d & 7];
    else
      destination[d >> 3] &= static_cast<uint8_t>(~kIEBitMask[d & 7]);
  }
}

void CopyBitsOneByOne(uint8_t* destination, const uint8_t* source, int64_t destBit, int64_t, int64_t count,
                      int64_t sourceBit) {
  for (int64_t i = 0; i < count; ++i) {
    const int64_t s = sourceBit + i, d = destBit + i;
    if (source[s >> 3] & kIEBitMask[s & 7])
      destination[d >> 3] |= kIEBitMask[d & 7];
    else
      destination[d >> 3] &= static_cast<uint8_t>(~kIEBitMask[d & 7]);
  }
}

int FindNearestPaletteEntry(const TRGB* palette, int count, TRGB color) {
  int best = 0, bestDist = INT32_MAX;
  for (int i = 0; i < count; ++i) {
    const int d = std::abs(palette[i].r - color.r) + std::abs(palette[i].g - color.g) +
                  std::abs(palette[i].b - color.b);
    if (d < bestDist) {
      bestDist = d;
      best = i;
    }
  }
  return best;
}

void OrderRectCorners(int& x1, int& y1, int& x2, int& y2) {
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
}

bool PointInRect(int x, int y, int x1, int y1, int x2, int y2) {
  return x >= x1 && x <= x2 && y >= y1 && y <= y2;
}

bool RectsOverlap(const RECT& a, const RECT& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

int RectVisibility(const RECT& rect, const RECT& client) {
  if (rect.left >= client.left && rect.right <= client.right && rect.top >= client.top &&
      rect.bottom <= client.bottom)
    return 2;
  return RectsOverlap(rect, client) ? 1 : 0;
}

double DistanceToSegment(int px, int py, int x1, int y1, int x2, int y2) {
  if (std::abs(int64_t(x2) - x1) > 45000 || std::abs(int64_t(y2) - y1) > 45000 ||
      std::abs(int64_t(px) - x1) > 45000 || std::abs(int64_t(py) - y1) > 45000)
    return 1000000.0;
  const double dx = x2 - x1, dy = y2 - y1;
  const double len2 = dx * dx + dy * dy;
  double t = len2 == 0 ? 0 : ((px - x1) * dx + (py - y1) * dy) / len2;
  if (t < 0) t = 0;
  if (t > 1) t = 1;
  const double cx = x1 + t * dx - px, cy = y1 + t * dy - py;
  return std::sqrt(cx * cx + cy * cy);
}

void WriteStringToStream(TStream& stream, const std::string& s) {
  stream.WriteValue<int32_t>(static_cast<int32_t>(s.size()));
  stream.WriteBuffer(s.data(), static_cast<int64_t>(s.size()));
}

void ReadStringFromStream(TStream& stream, std::string& s) {
  const int32_t len = stream.ReadValue<int32_t>();
  if (len < 0 || len > stream.Remaining()) throw EReadError("Stream read error");
  s.resize(static_cast<size_t>(len));
  stream.ReadBuffer(s.data(), len);
}

int64_t TNulStream::Read(void*, int64_t count) {
  if (count <= 0) return 0;
  FPosition += count;
  if (FPosition > FSize) FSize = FPosition;
  return count;
}

int64_t TNulStream::Write(const void*, int64_t count) { return Read(nullptr, count); }

int64_t TNulStream::Seek(int64_t offset, TSeekOrigin origin) {
  // The same convention as every TStream: from the end adds the offset to the size.
  switch (origin) {
    case soBeginning: FPosition = offset; break;
    case soCurrent: FPosition += offset; break;
    case soEnd: FPosition = FSize + offset; break;
  }
  return FPosition;
}
