#include "imaging/core/ie_helpers.h"

#include <algorithm>
#include <cmath>
#include <vector>
#include <cstring>

#include "imaging/core/ie_startup.h"
#include "platform/graphics/graphics_types.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/rounding.h"

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

int IECeil(double v) {
  const double t = std::trunc(v);
  return static_cast<int>(t) + (v - t > 0 ? 1 : 0);
}

int IEFloor(double v) {
  const double t = std::trunc(v);
  return static_cast<int>(t) - (v - t < 0 ? 1 : 0);
}

uint32_t ColorToARGB(uint32_t color, uint8_t alpha) {
  TRGB c;
  ColorToRGBPixel(color, c);
  return (uint32_t(alpha) << 24) | (uint32_t(c.r) << 16) | (uint32_t(c.g) << 8) | c.b;
}

void RGBToHSL(uint32_t packedRGB, double& hue, double& saturation, double& lightness) {
  const double r = ((packedRGB >> 16) & 0xFF) / 255.0, g = ((packedRGB >> 8) & 0xFF) / 255.0,
               b = (packedRGB & 0xFF) / 255.0;
  const double most = std::max({r, g, b}), least = std::min({r, g, b});
  lightness = (most + least) / 2;
  if (most == least) {
    hue = saturation = 0;
    return;
  }
  const double d = most - least;
  saturation = lightness < 0.5 ? d / (most + least) : d / (2 - most - least);
  if (most == r) hue = (g - b) / d;
  else if (most == g) hue = (b - r) / d + 2;
  else hue = (r - g) / d + 4;
  hue /= 6;
  if (hue < 0) hue += 1;
}

double HueToChannel(double m1, double m2, double h) {
  if (h < 0) h += 1;
  if (h > 1) h -= 1;
  if (6 * h < 1) return m1 + (m2 - m1) * h * 6;
  if (2 * h < 1) return m2;
  if (3 * h < 2) return m1 + (m2 - m1) * (2.0 / 3.0 - h) * 6;
  return m1;
}

TRGB HSLToRGB(double hue, double saturation, double lightness) {
  if (hue < 0) hue += 1;
  if (hue > 1) hue -= 1;
  saturation = std::clamp(saturation, 0.0, 1.0);
  lightness = std::clamp(lightness, 0.0, 1.0);
  const auto channel = [](double v) { return uint8_t(std::clamp<int64_t>(Round(v * 255), 0, 255)); };
  if (saturation == 0) {
    const uint8_t v = channel(lightness);
    return TRGB{v, v, v};
  }
  const double m2 = lightness <= 0.5 ? lightness * (1 + saturation) : lightness + saturation - lightness * saturation;
  const double m1 = 2 * lightness - m2;
  return MakeRGB(channel(HueToChannel(m1, m2, hue + 1.0 / 3.0)), channel(HueToChannel(m1, m2, hue)),
                 channel(HueToChannel(m1, m2, hue - 1.0 / 3.0)));
}

double IEPower(double base, double exponent) {
  const auto whole = [](double b, uint64_t n) {
    double result = 1;
    while (n) {
      if (n & 1) result *= b;
      b *= b;
      n >>= 1;
    }
    return result;
  };
  if (std::fabs(exponent) < 2147483647.0 && exponent == std::trunc(exponent)) {
    const int64_t n = int64_t(exponent);
    if (n == 0) return 1;
    if (base == 0) return 0;
    if (n > 0) return whole(base, uint64_t(n));
    return 1 / whole(base, uint64_t(-n));
  }
  if (base == 0) return 0;
  return double(std::exp2((long double)exponent * std::log2((long double)base)));
}

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

bool PointInRect(int x, int y, int left, int top, int right, int bottom) {
  return left <= x && x <= right && top <= y && y <= bottom;
}

bool PointInRectNormalized(int x, int y, int x1, int y1, int x2, int y2) {
  OrderRectCorners(x1, y1, x2, y2);
  return PointInRect(x, y, x1, y1, x2, y2);
}

bool RectsOverlap(int x1, int y1, int x2, int y2, const RECT& other) {
  OrderRectCorners(x1, y1, x2, y2);
  return !(x2 < other.left || x1 > other.right || y2 < other.top || y1 > other.bottom);
}

int RectVisibility(const RECT& rect, const RECT& client) {
  const auto inX = [&](int v) { return client.left <= v && v <= client.right; };
  const auto inY = [&](int v) { return client.top <= v && v <= client.bottom; };
  const int horizontal = int(inX(rect.left)) + int(inX(rect.right));
  const int vertical = int(inY(rect.top)) + int(inY(rect.bottom));
  if (horizontal == 2 && vertical == 2) return 2;
  if ((horizontal == 1 && vertical >= 1) || (horizontal >= 1 && vertical == 1)) return 1;
  return 0;
}

void SnapLineAngle(int anchorX, int anchorY, int& endX, int& endY) {
  constexpr int kTolerance = 30;
  const int dx = anchorX - endX, dy = anchorY - endY;
  const int ax = std::abs(dx), ay = std::abs(dy);
  if (ay > ax + kTolerance) {
    endX = anchorX;
    return;
  }
  if (ay < ax - kTolerance) {
    endY = anchorY;
    return;
  }
  // Onto the diagonal: left of and above the anchor the longer side shrinks,
  // elsewhere the shorter side grows.
  const int d = std::abs(ax - ay);
  const bool wide = ax >= ay;
  if (dx < 0 && dy < 0) {
    (wide ? endY : endX) += d;
  } else if (dx > 0 && dy > 0) {
    (wide ? endX : endY) += d;
  } else if (dx > 0 && dy <= 0) {
    if (wide) endY += d;
    else endX -= d;
  } else if (dx <= 0 && dy > 0) {
    if (wide) endY -= d;
    else endX += d;
  }
}

double PointDistance(int x1, int y1, int x2, int y2) {
  const double dx = double(x2) - x1, dy = double(y2) - y1;
  return std::sqrt(dx * dx + dy * dy);
}

double DistanceToLine(int x, int y, int x1, int y1, int x2, int y2) {
  const double a = double(y1) - y2, b = double(x2) - x1;
  return std::fabs(a * x + b * y + double(x1) * y2 - double(x2) * y1) / std::sqrt(a * a + b * b);
}

double DistanceToSegment(int x, int y, int x1, int y1, int x2, int y2) {
  constexpr double kFar = 1000000.0;
  if (x1 == x2 && y1 == y2) return PointDistance(x, y, x1, y1);
  const double dx = double(x2) - x1, dy = double(y2) - y1;
  const double t = ((double(x) - x1) * dx + (double(y) - y1) * dy) / (dx * dx + dy * dy);
  const auto toPoint = [&](int px, int py) {
    return std::fabs(double(x) - px) < 45001 && std::fabs(double(y) - py) < 45001 ? PointDistance(x, y, px, py) : kFar;
  };
  if (t > 1) return toPoint(x2, y2);
  if (t < 0) return toPoint(x1, y1);
  const double d = DistanceToLine(x, y, x1, y1, x2, y2);
  return std::isfinite(d) ? d : kFar;
}

double DistanceToPolyline(int x, int y, const POINT* points, int count, bool closed, int penWidth, double scaleX,
                          double scaleY, int originX, int originY, int offsetX, int offsetY) {
  double best = 1000000.0;
  if (!points || count <= 0) return best;
  std::vector<POINT> mapped(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i)
    mapped[size_t(i)] = POINT{LONG(Round(scaleX * (points[i].x - originX) + offsetX)),
                              LONG(Round(scaleY * (points[i].y - originY) + offsetY))};
  // A wide pen: the segment shifted by up to half the width either way, on both axes alike.
  const int half = penWidth > 1 ? penWidth / 2 : 0;
  const auto segment = [&](const POINT& a, const POINT& b) {
    for (int e = -half; e <= half; ++e)
      for (int g = -half; g <= half; ++g)
        best = std::min(best, DistanceToSegment(x, y, int(a.x) + e, int(a.y) + g, int(b.x) + e, int(b.y) + g));
  };
  for (int i = 0; i + 1 < count; ++i) segment(mapped[size_t(i)], mapped[size_t(i) + 1]);
  if (closed && count > 1) segment(mapped[size_t(count) - 1], mapped[0]);
  if (count == 1) segment(mapped[0], mapped[0]);
  return best;
}

int PixelFormatBitCount(TPixelFormat format) {
  switch (format) {
    case pf1bit: return 1;
    case pf4bit: return 4;
    case pf8bit: return 8;
    case pf15bit: return 15;
    case pf16bit: return 16;
    case pf24bit: return 24;
    case pf32bit: return 32;
    default: return 0;
  }
}

TIEBitmapFormat PixelFormatToIEFormat(TPixelFormat format) {
  switch (format) {
    case pf1bit: return ie1g;
    case pf4bit:
    case pf8bit: return ie8p;
    default: return ie24RGB;
  }
}

int64_t PixelFormatRowLength(int width, TPixelFormat format) {
  return AlignedRowLength(width, PixelFormatBitCount(format), 32);
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
  // Seeking forward from the start or the current place measures too: the size
  // grows to the position. From the end it only moves.
  switch (origin) {
    case soBeginning: FPosition = offset; break;
    case soCurrent: FPosition += offset; break;
    case soEnd: return FPosition = FSize + offset;
  }
  if (FPosition > FSize) FSize = FPosition;
  return FPosition;
}
