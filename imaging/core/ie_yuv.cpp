#include "imaging/core/ie_yuv.h"

#include <algorithm>

#include "imaging/core/ie_bitmap.h"
#include "platform/rtl/rounding.h"

namespace {

uint8_t Channel(double v) { return uint8_t(std::clamp<int64_t>(Round(v), 0, 255)); }

// A packed layout: a group of pixels in a fixed number of bytes, decoded into
// one luma and one chroma pair per pixel.
struct TPackedLayout {
  int pixels;
  int bytes;
  void (*decode)(const uint8_t* g, uint8_t* y, uint8_t* u, uint8_t* v);
};

void Fill(uint8_t* p, int from, int to, uint8_t value) { std::fill(p + from, p + to, value); }

void DecodeIYU1(const uint8_t* g, uint8_t* y, uint8_t* u, uint8_t* v) {
  // U Y0 Y1 V Y2 Y3
  y[0] = g[1], y[1] = g[2], y[2] = g[4], y[3] = g[5];
  Fill(u, 0, 4, g[0]);
  Fill(v, 0, 4, g[3]);
}
void DecodeIYU2(const uint8_t* g, uint8_t* y, uint8_t* u, uint8_t* v) {
  // U Y V
  u[0] = g[0], y[0] = g[1], v[0] = g[2];
}
void DecodeYUY2(const uint8_t* g, uint8_t* y, uint8_t* u, uint8_t* v) {
  // Y0 U Y1 V
  y[0] = g[0], y[1] = g[2];
  u[0] = u[1] = g[1];
  v[0] = v[1] = g[3];
}
void DecodeUYVY(const uint8_t* g, uint8_t* y, uint8_t* u, uint8_t* v) {
  // U Y0 V Y1
  y[0] = g[1], y[1] = g[3];
  u[0] = u[1] = g[0];
  v[0] = v[1] = g[2];
}
void DecodeYVYU(const uint8_t* g, uint8_t* y, uint8_t* u, uint8_t* v) {
  // Y0 V Y1 U
  y[0] = g[0], y[1] = g[2];
  u[0] = u[1] = g[3];
  v[0] = v[1] = g[1];
}
void DecodeY41P(const uint8_t* g, uint8_t* y, uint8_t* u, uint8_t* v) {
  // U0 Y0 V0 Y1 U4 Y2 V4 Y3 Y4 Y5 Y6 Y7
  y[0] = g[1], y[1] = g[3], y[2] = g[5], y[3] = g[7];
  y[4] = g[8], y[5] = g[9], y[6] = g[10], y[7] = g[11];
  Fill(u, 0, 4, g[0]);
  Fill(v, 0, 4, g[2]);
  Fill(u, 4, 8, g[4]);
  Fill(v, 4, 8, g[6]);
}
void DecodeY211(const uint8_t* g, uint8_t* y, uint8_t* u, uint8_t* v) {
  // Y0 U Y2 V; pixels 0 and 1 share Y0, pixels 2 and 3 Y2.
  y[0] = y[1] = g[0];
  y[2] = y[3] = g[2];
  Fill(u, 0, 4, g[1]);
  Fill(v, 0, 4, g[3]);
}
void DecodeCLJR(const uint8_t* g, uint8_t* y, uint8_t* u, uint8_t* v) {
  const uint32_t w = uint32_t(g[0]) << 24 | uint32_t(g[1]) << 16 | uint32_t(g[2]) << 8 | g[3];
  for (int i = 0; i < 4; ++i) {
    const uint32_t l = (w >> (12 + 5 * i)) & 31;
    y[i] = uint8_t(l << 3 | l >> 2);
  }
  Fill(u, 0, 4, uint8_t(((w >> 6) & 63) << 2));
  Fill(v, 0, 4, uint8_t((w & 63) << 2));
}

constexpr TPackedLayout kIYU1{4, 6, DecodeIYU1}, kIYU2{1, 3, DecodeIYU2}, kYUY2{2, 4, DecodeYUY2},
    kUYVY{2, 4, DecodeUYVY}, kYVYU{2, 4, DecodeYVYU}, kY41P{8, 12, DecodeY41P}, kY211{4, 4, DecodeY211},
    kCLJR{4, 4, DecodeCLJR};

// Planar 4:2:0 and 4:1:0: the Y plane, then the two chroma planes in the
// order given, each divided by the factor both ways.
struct TPlanarLayout {
  int factor;
  bool vFirst;
};

constexpr TPlanarLayout kI420{2, false}, kYV12{2, true}, kYVU9{4, true};

int64_t PackedSize(const TPackedLayout& l, int width, int height) {
  return int64_t(width / l.pixels) * l.bytes * height;
}

int64_t PlanarSize(const TPlanarLayout& l, int width, int height) {
  return int64_t(width) * height + 2 * int64_t(width / l.factor) * (height / l.factor);
}

bool Fits(TIEBitmap& bitmap, int64_t need, size_t size) {
  return bitmap.PixelFormat() == ie24RGB && !bitmap.IsEmpty() && need > 0 && int64_t(size) >= need;
}

bool ConvertPacked(const TPackedLayout& l, const uint8_t* data, size_t size, TIEBitmap& bitmap, bool topDown) {
  const int w = bitmap.Width(), h = bitmap.Height();
  if (!Fits(bitmap, PackedSize(l, w, h), size)) return false;
  const int groups = w / l.pixels;
  const int64_t line = int64_t(groups) * l.bytes;
  uint8_t y[8], u[8], v[8];
  for (int i = 0; i < h; ++i) {
    const uint8_t* src = data + line * i;
    auto* row = reinterpret_cast<TRGB*>(bitmap.ScanLine(topDown ? i : h - 1 - i));
    for (int g = 0; g < groups; ++g) {
      l.decode(src + int64_t(g) * l.bytes, y, u, v);
      for (int k = 0; k < l.pixels; ++k) row[g * l.pixels + k] = YUVToRGB(y[k], u[k], v[k]);
    }
  }
  return true;
}

bool ConvertPlanar(const TPlanarLayout& l, const uint8_t* data, size_t size, TIEBitmap& bitmap, bool topDown) {
  const int w = bitmap.Width(), h = bitmap.Height();
  if (!Fits(bitmap, PlanarSize(l, w, h), size)) return false;
  const int cw = w / l.factor, ch = h / l.factor;
  const uint8_t* first = data + int64_t(w) * h;
  const uint8_t* second = first + int64_t(cw) * ch;
  const uint8_t* uPlane = l.vFirst ? second : first;
  const uint8_t* vPlane = l.vFirst ? first : second;
  for (int i = 0; i < h; ++i) {
    const uint8_t* luma = data + int64_t(w) * i;
    // A picture of an odd size has no chroma of its own for its last line or
    // column: it shares the one before; a picture too small for any is grey.
    const int64_t cRow = std::min(i / l.factor, ch - 1);
    auto* row = reinterpret_cast<TRGB*>(bitmap.ScanLine(topDown ? i : h - 1 - i));
    for (int x = 0; x < w; ++x) {
      uint8_t u = 128, v = 128;
      if (cw > 0 && ch > 0) {
        const int64_t at = cRow * cw + std::min(x / l.factor, cw - 1);
        u = uPlane[at];
        v = vPlane[at];
      }
      row[x] = YUVToRGB(luma[x], u, v);
    }
  }
  return true;
}

constexpr uint32_t kI420cc = MakeFourCC('I', '4', '2', '0'), kIYUVcc = MakeFourCC('I', 'Y', 'U', 'V'),
                   kYV12cc = MakeFourCC('Y', 'V', '1', '2'), kYVU9cc = MakeFourCC('Y', 'V', 'U', '9'),
                   kIYU1cc = MakeFourCC('I', 'Y', 'U', '1'), kIYU2cc = MakeFourCC('I', 'Y', 'U', '2'),
                   kYUY2cc = MakeFourCC('Y', 'U', 'Y', '2'), kYUNVcc = MakeFourCC('Y', 'U', 'N', 'V'),
                   kUYVYcc = MakeFourCC('U', 'Y', 'V', 'Y'), kUYNVcc = MakeFourCC('U', 'Y', 'N', 'V'),
                   kcyuvcc = MakeFourCC('c', 'y', 'u', 'v'), kYVYUcc = MakeFourCC('Y', 'V', 'Y', 'U'),
                   kY41Pcc = MakeFourCC('Y', '4', '1', 'P'), kY211cc = MakeFourCC('Y', '2', '1', '1'),
                   kCLJRcc = MakeFourCC('C', 'L', 'J', 'R');

const TPackedLayout* PackedFor(uint32_t fourcc) {
  switch (fourcc) {
    case kIYU1cc: return &kIYU1;
    case kIYU2cc: return &kIYU2;
    case kYUY2cc:
    case kYUNVcc: return &kYUY2;
    case kUYVYcc:
    case kUYNVcc:
    case kcyuvcc: return &kUYVY;
    case kYVYUcc: return &kYVYU;
    case kY41Pcc: return &kY41P;
    case kY211cc: return &kY211;
    case kCLJRcc: return &kCLJR;
    default: return nullptr;
  }
}

const TPlanarLayout* PlanarFor(uint32_t fourcc) {
  switch (fourcc) {
    case kI420cc:
    case kIYUVcc: return &kI420;
    case kYV12cc: return &kYV12;
    case kYVU9cc: return &kYVU9;
    default: return nullptr;
  }
}

}  // namespace

TRGB YUVToRGB(int y, int u, int v) {
  const double l = 1.164 * (y - 16);
  TRGB p;
  p.b = Channel(l + 2.018 * (u - 128));
  p.g = Channel(l - 0.813 * (v - 128) - 0.391 * (u - 128));
  p.r = Channel(l + 1.596 * (v - 128));
  return p;
}

int64_t YUVFrameSize(uint32_t fourcc, int width, int height) {
  if (width <= 0 || height <= 0) return 0;
  if (const TPackedLayout* l = PackedFor(fourcc)) return PackedSize(*l, width, height);
  if (const TPlanarLayout* l = PlanarFor(fourcc)) return PlanarSize(*l, width, height);
  return 0;
}

bool YUVFrameTopDown(uint32_t fourcc, int32_t biHeight) {
  return fourcc == kY41Pcc || fourcc == kcyuvcc ? biHeight < 0 : biHeight > 0;
}

bool ConvertYUVFrame(uint32_t fourcc, const uint8_t* data, size_t size, TIEBitmap& bitmap, bool topDown) {
  if (!data) return false;
  if (const TPackedLayout* l = PackedFor(fourcc)) return ConvertPacked(*l, data, size, bitmap, topDown);
  if (const TPlanarLayout* l = PlanarFor(fourcc)) return ConvertPlanar(*l, data, size, bitmap, topDown);
  return false;
}

bool ConvertI420ToRGB(const uint8_t* d, size_t n, TIEBitmap& b, bool t) { return ConvertPlanar(kI420, d, n, b, t); }
bool ConvertYV12ToRGB(const uint8_t* d, size_t n, TIEBitmap& b, bool t) { return ConvertPlanar(kYV12, d, n, b, t); }
bool ConvertYVU9ToRGB(const uint8_t* d, size_t n, TIEBitmap& b, bool t) { return ConvertPlanar(kYVU9, d, n, b, t); }
bool ConvertIYU1ToRGB(const uint8_t* d, size_t n, TIEBitmap& b, bool t) { return ConvertPacked(kIYU1, d, n, b, t); }
bool ConvertIYU2ToRGB(const uint8_t* d, size_t n, TIEBitmap& b, bool t) { return ConvertPacked(kIYU2, d, n, b, t); }
bool ConvertYUY2ToRGB(const uint8_t* d, size_t n, TIEBitmap& b, bool t) { return ConvertPacked(kYUY2, d, n, b, t); }
bool ConvertUYVYToRGB(const uint8_t* d, size_t n, TIEBitmap& b, bool t) { return ConvertPacked(kUYVY, d, n, b, t); }
bool ConvertYVYUToRGB(const uint8_t* d, size_t n, TIEBitmap& b, bool t) { return ConvertPacked(kYVYU, d, n, b, t); }
bool ConvertY41PToRGB(const uint8_t* d, size_t n, TIEBitmap& b, bool t) { return ConvertPacked(kY41P, d, n, b, t); }
bool ConvertY211ToRGB(const uint8_t* d, size_t n, TIEBitmap& b, bool t) { return ConvertPacked(kY211, d, n, b, t); }
bool ConvertCLJRToRGB(const uint8_t* d, size_t n, TIEBitmap& b, bool t) { return ConvertPacked(kCLJR, d, n, b, t); }
