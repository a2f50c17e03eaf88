#include "imaging/core/ie_proc_blur.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <vector>

#include "imaging/core/ie_helpers.h"
#include "imaging/core/ie_proc_filters.h"
#include "platform/rtl/rounding.h"

namespace {

constexpr int kCentre = 100;

// One row of n-byte pixels: the source is first widened by the kernel's reach
// with copies of its end pixels, so the sums need no bounds tests.
void BlurRow(const TIEGaussianKernel& k, const uint8_t* source, uint8_t* destination, int width, int n,
             std::vector<uint8_t>& padded) {
  if (width <= 0) return;
  const int r = k.Radius;
  padded.resize(size_t(width + 2 * r) * size_t(n));
  for (int i = 0; i < r; ++i) {
    std::memcpy(&padded[size_t(i) * size_t(n)], source, size_t(n));
    std::memcpy(&padded[size_t(width + r + i) * size_t(n)], source + size_t(width - 1) * size_t(n), size_t(n));
  }
  std::memcpy(&padded[size_t(r) * size_t(n)], source, size_t(width) * size_t(n));
  const int32_t* w = k.Weights + kCentre - r;
  const int taps = 2 * r + 1;
  for (int x = 0; x < width; ++x) {
    const uint8_t* p = &padded[size_t(x) * size_t(n)];
    for (int c = 0; c < n; ++c) {
      int64_t sum = 32768;
      for (int i = 0; i < taps; ++i) sum += int64_t(w[i]) * p[size_t(i) * size_t(n) + size_t(c)];
      destination[size_t(x) * size_t(n) + size_t(c)] = ClampByte(int32_t(sum >> 16));
    }
  }
}

// Blurs a plane of h rows of w n-byte pixels held in memory: rows in place,
// then columns, each finished row handed to emit (top to bottom).
void BlurPlane(const TIEGaussianKernel& k, std::vector<uint8_t>& plane, int w, int h, int n,
               const std::function<void(int row)>& rowDone, const std::function<void(int y, const uint8_t*)>& emit) {
  const size_t stride = size_t(w) * size_t(n);
  std::vector<uint8_t> padded, line(stride);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = &plane[size_t(y) * stride];
    BlurRow(k, row, line.data(), w, n, padded);
    std::memcpy(row, line.data(), stride);
    if (rowDone) rowDone(y);
  }
  const int r = k.Radius;
  std::vector<int64_t> sum(stride);
  for (int y = 0; y < h; ++y) {
    std::fill(sum.begin(), sum.end(), 32768);
    for (int i = -r; i <= r; ++i) {
      const int64_t weight = k.Weights[kCentre + i];
      if (weight == 0) continue;
      const uint8_t* src = &plane[size_t(std::clamp(y + i, 0, h - 1)) * stride];
      for (size_t j = 0; j < stride; ++j) sum[j] += weight * src[j];
    }
    for (size_t j = 0; j < stride; ++j) line[j] = ClampByte(int32_t(sum[j] >> 16));
    emit(y, line.data());
  }
}

// The rectangle of a plane moved by (dx, dy) within itself; what it leaves
// becomes 0 and what moves past its edges is dropped.
void ShiftWithin(TIEBitmap& plane, int x1, int y1, int x2, int y2, int dx, int dy) {
  if ((dx == 0 && dy == 0) || x1 > x2 || y1 > y2) return;
  const int w = x2 - x1 + 1, h = y2 - y1 + 1;
  std::vector<uint8_t> copy(size_t(w) * size_t(h));
  for (int y = 0; y < h; ++y) std::memcpy(&copy[size_t(y) * size_t(w)], plane.ScanLine(y1 + y) + x1, size_t(w));
  for (int y = 0; y < h; ++y) {
    uint8_t* row = plane.ScanLine(y1 + y) + x1;
    std::memset(row, 0, size_t(w));
    const int sy = y - dy;
    if (sy < 0 || sy >= h) continue;
    const int from = std::max(0, dx), to = std::min(w, w + dx);
    if (from < to) std::memcpy(row + from, &copy[size_t(sy) * size_t(w) + size_t(from - dx)], size_t(to - from));
  }
}

int ShadowMargin(int dx, int dy, double radius) {
  return std::max(2 * std::max(std::abs(dx), std::abs(dy)) + int(std::trunc(5 * radius)), 1);
}

// How the shadow's alpha of a pixel outside the object is weakened.
struct TShadowMerge {
  TRGB color;
  bool full;        // intensity 100: the blurred alpha stays
  double divisor;   // 3 at intensity 0 .. 1 at 100
  bool weakenBits;  // a 1-bit picture's shadow alpha is divided too
};

// Lays the object (alpha a from before the blur) over its shadow (alpha s now
// in the channel) over the inclusive rectangle.
void MergeShadow(TIEBitmap& bitmap, const std::vector<uint8_t>& before, int x1, int y1, int x2, int y2,
                 const TShadowMerge& m) {
  const TIEBitmapFormat format = bitmap.PixelFormat();
  if (format != ie24RGB && format != ie1g) return;
  TIEBitmap& alpha = *bitmap.AlphaChannel();
  const int w = x2 - x1 + 1;
  for (int y = y1; y <= y2; ++y) {
    const uint8_t* a0 = &before[size_t(y - y1) * size_t(w)];
    uint8_t* s = alpha.ScanLine(y);
    uint8_t* row = bitmap.ScanLine(y);
    for (int x = x1; x <= x2; ++x) {
      const int a = a0[x - x1], sv = s[x];
      if (a != 0 || sv == 0) {
        if (format == ie24RGB && a > 0 && a < 255) {
          const double v = sv / 255.0, o = a / 255.0;
          uint8_t* p = row + size_t(x) * 3;
          const uint8_t shadow[3] = {m.color.b, m.color.g, m.color.r};
          for (int c = 0; c < 3; ++c) {
            const double under = std::trunc(shadow[c] * v + (1 - v) * p[c]);
            p[c] = uint8_t(std::trunc(o * p[c] + (1 - o) * under));
          }
          s[x] = uint8_t(std::trunc((o + v * (1 - o)) * 255));
        } else {
          s[x] = uint8_t(a);
        }
        continue;
      }
      if (format == ie24RGB) {
        reinterpret_cast<TRGB*>(row)[x] = m.color;
        if (!m.full) s[x] = uint8_t(std::trunc(sv / m.divisor));
      } else {
        SetBit(row, x, false);
        if (!m.full && m.weakenBits) s[x] = uint8_t(std::trunc(sv / m.divisor));
      }
    }
  }
}

std::vector<uint8_t> CopyPlane(TIEBitmap& plane, int x1, int y1, int x2, int y2) {
  const int w = x2 - x1 + 1;
  std::vector<uint8_t> out(size_t(w) * size_t(y2 - y1 + 1));
  for (int y = y1; y <= y2; ++y) std::memcpy(&out[size_t(y - y1) * size_t(w)], plane.ScanLine(y) + x1, size_t(w));
  return out;
}

TShadowMerge MergeSettings(uint32_t shadowColor, int intensity, bool weakenBits) {
  TShadowMerge m{};
  ColorToRGBPixel(shadowColor, m.color);
  intensity = std::clamp(intensity, 0, 100);
  m.full = intensity == 100;
  m.divisor = 3 - 2 * intensity / 100.0;
  m.weakenBits = weakenBits;
  return m;
}

}  // namespace

void BuildGaussianKernel(TIEGaussianKernel& kernel, double sigma) {
  kernel = TIEGaussianKernel{};
  if (!(sigma > 0)) {
    kernel.Weights[kCentre] = 65536;
    return;
  }
  double k[201], sum = 0;
  for (int i = 0; i < 201; ++i) {
    const double t = (i - kCentre) / sigma;
    k[i] = std::exp(-t * t / 2);
    sum += k[i];
  }
  for (int i = 0; i < 201; ++i) kernel.Weights[i] = int32_t(Round(k[i] * 65536 / sum));
  int radius = 1;
  for (int r = 1; r <= kCentre; ++r)
    if (kernel.Weights[kCentre + r] != 0 || kernel.Weights[kCentre - r] != 0) radius = r;
  kernel.Radius = uint8_t(radius);
}

void BlurRowRGB(const TIEGaussianKernel& kernel, const uint8_t* source, uint8_t* destination, int width) {
  std::vector<uint8_t> padded;
  BlurRow(kernel, source, destination, width, 3, padded);
}

void BlurRowGray(const TIEGaussianKernel& kernel, const uint8_t* source, uint8_t* destination, int width) {
  std::vector<uint8_t> padded;
  BlurRow(kernel, source, destination, width, 1, padded);
}

void GaussianBlur(TIEBitmap& bitmap, TObject* sender, const TIEProgressEvent& progress, double sigma) {
  const TIEBitmapFormat format = bitmap.PixelFormat();
  if (!(sigma > 0) || bitmap.IsEmpty() || (format != ie8g && format != ie24RGB)) return;
  TIEGaussianKernel kernel;
  BuildGaussianKernel(kernel, sigma);
  const int w = bitmap.Width(), h = bitmap.Height(), n = format == ie24RGB ? 3 : 1;
  const size_t stride = size_t(w) * size_t(n);
  std::vector<uint8_t> plane;
  try {
    plane.resize(stride * size_t(h));
  } catch (const std::bad_alloc&) {
    return;
  }
  for (int y = 0; y < h; ++y) std::memcpy(&plane[size_t(y) * stride], bitmap.ScanLine(y), stride);
  const int64_t steps = int64_t(h) + w;
  auto report = [&](int64_t step) {
    if (progress) progress(sender, int(step * 100 / steps));
  };
  BlurPlane(
      kernel, plane, w, h, n, [&](int y) { report(y); },
      [&](int y, const uint8_t* row) {
        std::memcpy(bitmap.ScanLine(y), row, stride);
        // The columns run alongside the rows written: report their share.
        report(h + int64_t(y + 1) * w / h - 1);
      });
  if (bitmap.IsAlphaChannel()) bitmap.CheckFull();
}

void GaussianBlurRect(TIEBitmap& bitmap, int x1, int y1, double sigma, int y2, int x2) {
  if (!(sigma > 0) || bitmap.IsEmpty() || bitmap.PixelFormat() != ie8g) return;
  x1 = std::clamp(x1, 0, bitmap.Width() - 1);
  x2 = std::clamp(x2, 0, bitmap.Width() - 1);
  y1 = std::clamp(y1, 0, bitmap.Height() - 1);
  y2 = std::clamp(y2, 0, bitmap.Height() - 1);
  if (x1 > x2 || y1 > y2) return;
  TIEGaussianKernel kernel;
  BuildGaussianKernel(kernel, sigma);
  const int w = x2 - x1 + 1, h = y2 - y1 + 1;
  std::vector<uint8_t> plane = CopyPlane(bitmap, x1, y1, x2, y2);
  BlurPlane(kernel, plane, w, h, 1, nullptr,
            [&](int y, const uint8_t* row) { std::memcpy(bitmap.ScanLine(y1 + y) + x1, row, size_t(w)); });
}

void AddSoftShadow(TIEBitmap& bitmap, int dx, int dy, TObject* sender, const TIEProgressEvent& progress,
                   uint32_t shadowColor, bool enlarge, int intensity, double radius) {
  if (bitmap.IsEmpty() || bitmap.IsAlphaChannel()) return;
  TIEBitmap* alpha = bitmap.AlphaChannel();
  if (!alpha) return;
  alpha->SetFull(false);
  if (enlarge) {
    const int m = ShadowMargin(dx, dy, radius);
    bitmap.Resize(bitmap.Width() + m, bitmap.Height() + m, 0, 0, 1, 1);
    alpha = bitmap.AlphaChannel();
  }
  const int w = bitmap.Width(), h = bitmap.Height();
  const std::vector<uint8_t> before = CopyPlane(*alpha, 0, 0, w - 1, h - 1);
  GaussianBlur(*alpha, sender, progress, radius);
  ShiftWithin(*alpha, 0, 0, w - 1, h - 1, dx, dy);
  MergeShadow(bitmap, before, 0, 0, w - 1, h - 1, MergeSettings(shadowColor, intensity, true));
  alpha->SetFull(false);
}

int AddObjectSoftShadow(TIEBitmap& bitmap, int dx, int dy, const RECT& object, uint32_t shadowColor, int intensity,
                        double radius) {
  // Radius 0 stands for a 3 x 3 box blur, which reaches as far as radius 2.
  const bool box = radius == 0;
  if (box) radius = 2;
  const int m = ShadowMargin(dx, dy, radius);
  if (bitmap.IsEmpty() || bitmap.IsAlphaChannel()) return m;
  TIEBitmap* alpha = bitmap.AlphaChannel();
  if (!alpha) return m;
  const int w = bitmap.Width(), h = bitmap.Height();
  auto grown = [&](int by, int& x1, int& y1, int& x2, int& y2) {
    x1 = std::max<int>(object.left - by, 0);
    y1 = std::max<int>(object.top - by, 0);
    x2 = std::min<int>(object.right - 1 + by, w - 1);
    y2 = std::min<int>(object.bottom - 1 + by, h - 1);
    return x1 <= x2 && y1 <= y2;
  };
  int ox1, oy1, ox2, oy2, ix1, iy1, ix2, iy2;
  if (!grown(m, ox1, oy1, ox2, oy2) || !grown(m / 2, ix1, iy1, ix2, iy2)) return m;
  const std::vector<uint8_t> before = CopyPlane(*alpha, ox1, oy1, ox2, oy2);
  if (box) {
    const TIEFilterPreset blur{{{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}, 9};
    ApplyKernel3x3Gray(*alpha, blur, ix1, iy2 + 1, ix2 + 1, iy1);
  } else {
    GaussianBlurRect(*alpha, ix1, iy1, radius, iy2, ix2);
  }
  ShiftWithin(*alpha, ix1, iy1, ix2, iy2, dx, dy);
  MergeShadow(bitmap, before, ox1, oy1, ox2, oy2, MergeSettings(shadowColor, intensity, false));
  alpha->SetFull(false);
  return m;
}
