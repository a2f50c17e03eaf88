#include "imaging/core/ie_proc_rotate.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "imaging/core/ie_helpers.h"
#include "imaging/core/ie_orientation.h"
#include "platform/rtl/rounding.h"

namespace {

constexpr double kDegree = M_PI / 180;

// The rows of a bitmap held in memory, n bytes per pixel, top row first.
struct TPlane {
  int width = 0, height = 0, n = 1;
  std::vector<uint8_t> data;
  uint8_t* Row(int y) { return data.data() + int64_t(y) * width * n; }
  const uint8_t* Row(int y) const { return data.data() + int64_t(y) * width * n; }
};

bool MakePlane(TPlane& p, int width, int height, int n, const uint8_t* background) {
  p.width = width;
  p.height = height;
  p.n = n;
  try {
    p.data.resize(size_t(int64_t(width) * height * n));
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (size_t i = 0; i < p.data.size(); i += size_t(n)) std::memcpy(&p.data[i], background, size_t(n));
  return true;
}

bool ReadPlane(TIEBitmap& b, TPlane& p) {
  const int n = b.BitCount() / 8;
  // One background pixel as wide as the format's: 32-bit, CMYK and 48-bit
  // pixels are wider than three bytes.
  const std::vector<uint8_t> zero(size_t(std::max(n, 1)), 0);
  if (!MakePlane(p, b.Width(), b.Height(), n, zero.data())) return false;
  for (int y = 0; y < p.height; ++y) std::memcpy(p.Row(y), b.ScanLine(y), size_t(p.width) * size_t(n));
  return true;
}

// Puts new pixels in place of the bitmap's, keeping its storage kind (also a
// framework bitmap it lies over). The alpha channel is not the image routines'
// to turn: it goes (TIEBitmap::Rotate turns it alongside).
void ReplacePixels(TIEBitmap& bitmap, TIEBitmap& result) {
  result.SetBWConversion(bitmap.BWConversion());
  bitmap.RemoveAlphaChannel();
  bitmap.Assign(&result);
}

bool WritePlane(TIEBitmap& bitmap, const TPlane& p) {
  TIEBitmap result;
  result.SetMemoryLimit(bitmap.MemoryLimit());
  if (!result.Allocate(p.width, p.height, bitmap.PixelFormat())) return false;
  bitmap.CopyPaletteTo(&result);
  for (int y = 0; y < p.height; ++y) std::memcpy(result.ScanLine(y), p.Row(y), size_t(p.width) * size_t(p.n));
  ReplacePixels(bitmap, result);
  return true;
}

// ---- shears ----

// One line of count source pixels shifted by offset into a line of length
// pixels (steps in bytes between neighbours). weight (-2048..2048, in 1/4096)
// is how far the line really lies right of offset: each target pixel blends
// the two source pixels that straddle its place, the background standing
// beyond either end; a positive weight adds a closing pixel after the line,
// a negative one an opening pixel before it.
void ShearLine(const uint8_t* src, int64_t srcStep, int count, uint8_t* dst, int64_t dstStep, int length,
               int64_t offset, int weight, const uint8_t* bg, int n, bool antiAlias) {
  auto put = [&](int64_t at, const uint8_t* a, const uint8_t* b, int wa) {
    if (at < 0 || at >= length) return;
    uint8_t* d = dst + at * dstStep;
    for (int c = 0; c < n; ++c) d[c] = ClampByte((a[c] * wa + b[c] * (4096 - wa) + 2048) / 4096);
  };
  if (!antiAlias || weight == 0) {
    for (int k = 0; k < count; ++k) {
      const int64_t at = offset + k;
      if (at >= 0 && at < length) std::memcpy(dst + at * dstStep, src + k * srcStep, size_t(n));
    }
    return;
  }
  if (weight > 0) {
    for (int k = 0; k < count; ++k) put(offset + k, k > 0 ? src + (k - 1) * srcStep : bg, src + k * srcStep, weight);
    put(offset + count, src + (count - 1) * srcStep, bg, weight);
    return;
  }
  const int w = -weight;
  put(offset - 1, src, bg, w);
  for (int k = 0; k < count; ++k) put(offset + k, k + 1 < count ? src + (k + 1) * srcStep : bg, src + k * srcStep, w);
}

struct TShearSizes {
  int w1, h2, w3, f, m;
  double t, s;
};

TShearSizes ShearSizes(int w, int h, double theta) {
  TShearSizes z;
  const double half = theta * kDegree / 2;
  z.t = std::fabs(std::sin(half) / std::cos(half));
  z.s = std::fabs(std::sin(theta * kDegree));
  z.w1 = int(Round(h * z.t + w + 1));
  z.f = int(Round((z.w1 - w) * z.s));
  z.h2 = int(Round(z.s * z.w1 + h + 1));
  z.m = int(Round(z.t * (z.h2 - h - z.f)));
  z.h2 -= 2 * z.f;
  z.w3 = int(Round(z.t * z.h2 + z.w1 + 1 - 2 * z.m));
  return z;
}

// The angle in thousandths of a degree within (-360, 360), and the quarter
// turns (positive: counter-clockwise) that bring it within [-45, 45].
double ReduceAngle(double angle, int& quarters) {
  const int64_t a = int64_t(std::trunc(angle * 1000)) % 360000;
  double r = a / 1000.0;
  quarters = 0;
  while (r > 45) {
    r -= 90;
    ++quarters;
  }
  while (r < -45) {
    r += 90;
    --quarters;
  }
  return r;
}

bool TurnQuarters(TIEBitmap& bitmap, int quarters) {
  for (; quarters != 0; quarters += quarters > 0 ? -1 : 1) {
    TIEBitmap turned;
    turned.SetMemoryLimit(bitmap.MemoryLimit());
    if (!QuarterTurnInto(bitmap, turned, quarters < 0)) return false;
    ReplacePixels(bitmap, turned);
  }
  return true;
}

// The three shears on n-byte pixels; report(step, total) after each line.
template <class Report>
void RotateByShears(TIEBitmap& bitmap, bool antiAlias, const uint8_t* bg, double angle, Report report) {
  if (angle == 0 || bitmap.IsEmpty() || !std::isfinite(angle)) return;
  int quarters = 0;
  const double theta = ReduceAngle(angle, quarters);
  if (!TurnQuarters(bitmap, quarters) || theta == 0) return;
  TPlane src;
  if (!ReadPlane(bitmap, src)) return;
  const int w = src.width, h = src.height, n = src.n;
  const TShearSizes z = ShearSizes(w, h, theta);
  if (z.w1 <= 0 || z.h2 <= 0 || z.w3 <= 0) return;
  TPlane p1, p2, out;
  if (!MakePlane(p1, z.w1, h, n, bg) || !MakePlane(p2, z.w1, z.h2, n, bg) || !MakePlane(out, z.w3, z.h2, n, bg))
    return;
  const bool positive = theta > 0;
  const int64_t total = int64_t(h) + z.w1 + z.h2;
  int64_t step = 0;
  for (int i = 0; i < h; ++i) {
    const double d = (positive ? i : h - i) * z.t;
    const int64_t shift = Round(d);
    const int weight = int(std::trunc((d - shift) * 4096));
    ShearLine(src.Row(i), n, w, p1.Row(i), n, z.w1, shift, weight, bg, n, antiAlias);
    report(++step, total);
  }
  const int64_t column = int64_t(z.w1) * n;
  for (int c = 0; c < z.w1; ++c) {
    const double d = (positive ? z.w1 - c : c) * z.s;
    const int64_t shift = Round(d);
    const int weight = int(Round((d - shift) * 4096));
    ShearLine(p1.Row(0) + int64_t(c) * n, column, h, p2.Row(0) + int64_t(c) * n, column, z.h2, shift - z.f, weight, bg,
              n, antiAlias);
    report(++step, total);
  }
  for (int r = 0; r < z.h2; ++r) {
    const double d = (positive ? r : z.h2 - r) * z.t;
    const int64_t shift = Round(d);
    const int weight = int(Round((d - shift) * 4096));
    ShearLine(p2.Row(r), n, z.w1, out.Row(r), n, z.w3, shift - z.m, weight, bg, n, antiAlias);
    report(++step, total);
  }
  WritePlane(bitmap, out);
}

// ---- inverse mapping ----

// A source pixel of a 1- or 8-bit plane.
struct TMappedSource {
  TPlane plane;
  bool bits = false;
  int Get(int x, int y) const {
    const uint8_t* row = plane.Row(y);
    return bits ? (GetBit(row, x) ? 1 : 0) : row[x];
  }
};

// Rows of a 1-bit bitmap as whole bytes per row.
bool ReadBitRows(TIEBitmap& b, TPlane& p) {
  const uint8_t zero = 0;
  if (!MakePlane(p, int((int64_t(b.Width()) + 7) / 8), b.Height(), 1, &zero)) return false;
  for (int y = 0; y < p.height; ++y) std::memcpy(p.Row(y), b.ScanLine(y), size_t(p.width));
  return true;
}

void RotateMapped(TIEBitmap& bitmap, int background, double angle, TObject* sender, const TIEProgressEvent& progress) {
  if (bitmap.IsEmpty() || !std::isfinite(angle)) return;
  const bool bits = bitmap.PixelFormat() == ie1g;
  if (angle == 90 || angle == -270) {
    TurnQuarters(bitmap, 1);
    return;
  }
  if (angle == -90 || angle == 270) {
    TurnQuarters(bitmap, -1);
    return;
  }
  if (angle == 180 || angle == -180) {
    bitmap.RemoveAlphaChannel();
    ApplyExifOrientation(bitmap, 3);
    return;
  }
  TMappedSource src;
  src.bits = bits;
  if (!(bits ? ReadBitRows(bitmap, src.plane) : ReadPlane(bitmap, src.plane))) return;
  const int w = bitmap.Width(), h = bitmap.Height();
  const double r = -angle * kDegree;
  const double c = std::trunc(std::cos(r) * 10000) / 10000, s = std::trunc(std::sin(r) * 10000) / 10000;
  const int64_t nw = int64_t(std::trunc(std::fabs(w * c) + std::fabs(h * s)));
  const int64_t nh = int64_t(std::trunc(std::fabs(w * s) + std::fabs(h * c)));
  if (nw <= 0 || nh <= 0 || nw > INT32_MAX || nh > INT32_MAX) return;
  TIEBitmap result;
  result.SetMemoryLimit(bitmap.MemoryLimit());
  if (!result.Allocate(int(nw), int(nh), bitmap.PixelFormat())) return;
  bitmap.CopyPaletteTo(&result);
  std::vector<int64_t> dx(static_cast<size_t>(nw)), dy(static_cast<size_t>(nw));
  for (int64_t j = 0; j < nw; ++j) {
    const double u = j - (nw / 2.0 - 0.5);
    dx[size_t(j)] = int64_t(std::trunc(c * u));
    dy[size_t(j)] = int64_t(std::trunc(-s * u));
  }
  int last = -1;
  for (int64_t k = 0; k < nh; ++k) {
    const double v = k - (nh / 2.0 - 0.5);
    const int64_t bx = int64_t(std::trunc(s * v + (w / 2.0 - 0.5))), by = int64_t(std::trunc(c * v + (h / 2.0 - 0.5)));
    uint8_t* row = result.ScanLine(int(k));
    if (bits) std::memset(row, 0, size_t(result.RowLen()));
    for (int64_t j = 0; j < nw; ++j) {
      const int64_t x = bx + dx[size_t(j)], y = by + dy[size_t(j)];
      const int value = x >= 0 && y >= 0 && x < w && y < h ? src.Get(int(x), int(y)) : background;
      if (bits) {
        if (value) SetBit(row, j, true);
      } else {
        row[j] = uint8_t(value);
      }
    }
    const int percent = int(k * 100 / nh);
    if (progress && percent != last) progress(sender, percent);
    last = percent;
  }
  ReplacePixels(bitmap, result);
}

// Samples of the antialiased rotation: the source inside a 3-pixel frame of
// background, read by bilinear or bicubic weights.
struct TFramedSource {
  TPlane plane;  // with the frame
  const uint8_t* bg;

  const uint8_t* At(int64_t x, int64_t y) const {
    if (x < 0 || y < 0 || x >= plane.width || y >= plane.height) return bg;
    return plane.Row(int(y)) + x * plane.n;
  }

  void Bilinear(double x, double y, uint8_t* out) const {
    // The cell is found by flooring both ways, also just left of or above the
    // frame where truncation would pick the wrong neighbours.
    const double fx0 = std::floor(x), fy0 = std::floor(y);
    const int64_t x0 = int64_t(fx0), y0 = int64_t(fy0);
    const double fx = x - fx0, fy = y - fy0;
    const uint8_t *a = At(x0, y0), *b = At(x0 + 1, y0), *c = At(x0, y0 + 1), *d = At(x0 + 1, y0 + 1);
    for (int k = 0; k < plane.n; ++k) {
      const double top = a[k] + (b[k] - a[k]) * fx, bottom = c[k] + (d[k] - c[k]) * fx;
      out[k] = ClampByte(int32_t(std::trunc(top + (bottom - top) * fy)));
    }
  }

  static void CubicWeights(double t, double w[4]) {
    w[0] = -t * (1 - t) * (1 - t);
    w[1] = 1 - 2 * t * t + t * t * t;
    w[2] = t * (1 + t - t * t);
    w[3] = -t * t * (1 - t);
  }

  void Bicubic(double x, double y, uint8_t* out) const {
    const double fx0 = std::floor(x), fy0 = std::floor(y);
    const int64_t x0 = int64_t(fx0), y0 = int64_t(fy0);
    double wx[4], wy[4];
    CubicWeights(x - fx0, wx);
    CubicWeights(y - fy0, wy);
    double sum[3] = {};
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < 4; ++i) {
        const uint8_t* p = At(x0 - 1 + i, y0 - 1 + j);
        const double weight = wx[i] * wy[j];
        for (int k = 0; k < plane.n; ++k) sum[k] += weight * p[k];
      }
    // An overshoot below black is black (not its mirror image: that drew a halo).
    for (int k = 0; k < plane.n; ++k) out[k] = ClampByte(int32_t(std::clamp(std::trunc(sum[k]), 0.0, 255.0)));
  }
};

template <class Report>
void RotateAntialiased(TIEBitmap& bitmap, const uint8_t* bg, int quality, double angle, Report report) {
  if (bitmap.IsEmpty() || !std::isfinite(angle) || quality <= 0) return;
  quality = std::min(quality, 2);
  TPlane inner;
  if (!ReadPlane(bitmap, inner)) return;
  const int n = inner.n;
  TFramedSource src;
  src.bg = bg;
  if (!MakePlane(src.plane, inner.width + 6, inner.height + 6, n, bg)) return;
  for (int y = 0; y < inner.height; ++y)
    std::memcpy(src.plane.Row(y + 3) + 3 * n, inner.Row(y), size_t(inner.width) * size_t(n));
  inner.data.clear();
  const double theta = angle * kDegree, c = std::cos(theta), s = std::sin(theta);
  const int fw = src.plane.width, fh = src.plane.height;
  const int64_t dw = Round(std::fabs(s) * (fh - 1) + std::fabs(c) * (fw - 1));
  const int64_t dh = Round(std::fabs(c) * (fh - 1) + std::fabs(s) * (fw - 1));
  // The frame comes off again: 3 pixels on every side.
  const int64_t ow = dw - 6, oh = dh - 6;
  if (ow <= 0 || oh <= 0 || ow > INT32_MAX || oh > INT32_MAX) return;
  TPlane out;
  if (!MakePlane(out, int(ow), int(oh), n, bg)) return;
  const double cx = (fw - 1) / 2.0, cy = (fh - 1) / 2.0, dcx = (dw - 1) / 2.0, dcy = (dh - 1) / 2.0;
  for (int64_t j = 0; j < oh; ++j) {
    const double v = double(j + 3) - dcy;
    uint8_t* row = out.Row(int(j));
    for (int64_t i = 0; i < ow; ++i) {
      const double u = double(i + 3) - dcx;
      const double x = u * c + cx - v * s, y = u * s + cy + v * c;
      if (quality == 1)
        src.Bilinear(x, y, row + i * n);
      else
        src.Bicubic(x, y, row + i * n);
    }
    report(j + 1, oh);
  }
  WritePlane(bitmap, out);
}

// ---- plain rotation ----

bool IsRightAngle(double angle) { return angle == std::trunc(angle) && std::fmod(angle, 90) == 0; }

// Exact quarter and half turns for every format (the counter-clockwise turns
// are the picture-orientation turns 8, 3 and 6).
int RightAngleOrientation(double angle) {
  const int64_t a = int64_t(angle) % 360;
  switch (a) {
    case 90:
    case -270: return 8;
    case 180:
    case -180: return 3;
    case 270:
    case -90: return 6;
    default: return 1;
  }
}

}  // namespace

void RotateRGB90Right(TIEBitmap& source, TIEBitmap& destination) { QuarterTurnInto(source, destination, true); }
void RotateRGB90Left(TIEBitmap& source, TIEBitmap& destination) { QuarterTurnInto(source, destination, false); }
void RotateGray90Right(TIEBitmap& source, TIEBitmap& destination) { QuarterTurnInto(source, destination, true); }
void RotateGray90Left(TIEBitmap& source, TIEBitmap& destination) { QuarterTurnInto(source, destination, false); }

void RotateRGBByShears(TIEBitmap& bitmap, bool antiAlias, TObject* sender, const TIEProgressEvent& progress,
                       TRGB background, double angle) {
  if (bitmap.PixelFormat() != ie24RGB) {
    Rotate1BitMapped(bitmap, background.r && background.g && background.b, sender, progress, angle);
    return;
  }
  const uint8_t bg[3] = {background.b, background.g, background.r};
  int last = -1;
  RotateByShears(bitmap, antiAlias, bg, angle, [&](int64_t step, int64_t total) {
    const int percent = int(step * 100 / total);
    if (progress && percent != last) progress(sender, percent);
    last = percent;
  });
}

void RotateGrayByShears(TIEBitmap& bitmap, bool antiAlias, uint8_t background, TObject* sender,
                        const TIEProgressEvent& progress, double angle) {
  if (bitmap.PixelFormat() != ie8g && bitmap.PixelFormat() != ie8p) return;
  RotateByShears(bitmap, antiAlias, &background, angle, [&](int64_t step, int64_t total) {
    if (progress) progress(sender, int(step * 100 / total));
  });
}

void Rotate1BitMapped(TIEBitmap& bitmap, bool backgroundWhite, TObject* sender, const TIEProgressEvent& progress,
                      double angle) {
  if (bitmap.PixelFormat() != ie1g) return;
  RotateMapped(bitmap, backgroundWhite ? 1 : 0, angle, sender, progress);
}

void RotateGrayMapped(TIEBitmap& bitmap, uint8_t background, double angle) {
  if (bitmap.PixelFormat() != ie8g && bitmap.PixelFormat() != ie8p) return;
  RotateMapped(bitmap, background, angle, nullptr, nullptr);
}

void RotateRGBAntialiased(TIEBitmap& bitmap, uint32_t background, int quality, TObject* sender,
                          const TIEProgressEvent& progress, double angle) {
  if (bitmap.PixelFormat() != ie24RGB) return;
  TRGB pixel;
  ColorToRGBPixel(background, pixel);
  const uint8_t bg[3] = {pixel.b, pixel.g, pixel.r};
  RotateAntialiased(bitmap, bg, quality, angle, [&](int64_t row, int64_t rows) {
    if (progress) progress(sender, int(row * 100 / rows));
  });
}

void RotateGrayAntialiased(TIEBitmap& bitmap, uint8_t background, int quality, double angle) {
  if (bitmap.PixelFormat() != ie8g && bitmap.PixelFormat() != ie8p) return;
  RotateAntialiased(bitmap, &background, quality, angle, [](int64_t, int64_t) {});
}

bool RotateBitmapTo(TIEBitmap& source, TIEBitmap& destination, double background, TObject* sender,
                    const TIEProgressEvent& progress, double angle) {
  if (source.IsEmpty() || &source == &destination || !std::isfinite(angle)) return false;
  if (IsRightAngle(angle)) {
    TIEBitmap copy;
    copy.SetMemoryLimit(destination.MemoryLimit());
    copy.CopyFromTIEBitmap(source);
    if (copy.Width() != source.Width() || !ApplyExifOrientation(copy, RightAngleOrientation(angle))) return false;
    destination.CopyFromTIEBitmap(copy);
    return destination.Width() == copy.Width() && destination.Height() == copy.Height();
  }
  const int w = source.Width(), h = source.Height();
  const double theta = angle * kDegree, c = std::cos(theta), s = std::sin(theta);
  const int64_t dw = Round(std::fabs(s) * h + std::fabs(c) * w), dh = Round(std::fabs(c) * h + std::fabs(s) * w);
  if (dw <= 0 || dh <= 0 || dw > INT32_MAX || dh > INT32_MAX) return false;
  if (!destination.Allocate(int(dw), int(dh), source.PixelFormat())) return false;
  source.CopyPaletteTo(&destination);
  const bool bits = source.PixelFormat() == ie1g;
  destination.Fill(bits ? 0 : background);
  TPlane src;
  if (!(bits ? ReadBitRows(source, src) : ReadPlane(source, src))) return false;
  const int n = bits ? 0 : source.BitCount() / 8;
  const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0, dcx = (dw - 1) / 2.0, dcy = (dh - 1) / 2.0;
  for (int64_t j = 0; j < dh; ++j) {
    uint8_t* row = destination.ScanLine(int(j));
    const double v = j - dcy;
    for (int64_t i = 0; i < dw; ++i) {
      const double u = i - dcx;
      const int64_t x = Round(u * c - v * s + cx), y = Round(u * s + v * c + cy);
      if (x < 0 || y < 0 || x >= w || y >= h) continue;
      if (bits)
        SetBit(row, i, GetBit(src.Row(int(y)), x));
      else
        std::memcpy(row + i * n, src.Row(int(y)) + x * n, size_t(n));
    }
    if (progress) progress(sender, int((j + 1) * 100 / dh));
  }
  return true;
}

void RotateBitmapPlain(TIEBitmap& bitmap, double background, TObject* sender, const TIEProgressEvent& progress,
                       double angle) {
  if (bitmap.IsEmpty() || !std::isfinite(angle)) return;
  if (IsRightAngle(angle)) {
    // In place, without an intermediate copy.
    bitmap.RemoveAlphaChannel();
    ApplyExifOrientation(bitmap, RightAngleOrientation(angle));
    return;
  }
  TIEBitmap result;
  result.SetMemoryLimit(bitmap.MemoryLimit());
  if (!RotateBitmapTo(bitmap, result, background, sender, progress, angle)) return;
  ReplacePixels(bitmap, result);
}

void TIEBitmap::Rotate(bool antiAlias, int quality, TObject* sender, const TIEProgressEvent& progress,
                       uint32_t background, double angle) {
  if (IsEmpty() || IsVirtual() || !std::isfinite(angle) || IsAlphaChannel()) return;
  quality = std::clamp(quality, 0, 2);
  // Right angles turn exactly whatever the path: both planes in one go.
  if (IsRightAngle(angle)) {
    ApplyExifOrientation(*this, RightAngleOrientation(angle));
    return;
  }
  std::unique_ptr<TIEBitmap> alpha = AttachAlphaChannel(*this, nullptr);
  const TIEBitmapFormat format = PixelFormat();
  if (!antiAlias || (format != ie24RGB && format != ie1g)) {
    RotateBitmapPlain(*this, background, sender, progress, angle);
    if (alpha) RotateBitmapPlain(*alpha, 0, nullptr, nullptr, angle);
  } else if (quality == 0 || format == ie1g) {
    TRGB pixel;
    ColorToRGBPixel(background, pixel);
    RotateRGBByShears(*this, true, sender, progress, pixel, angle);
    if (alpha && format == ie1g)
      RotateGrayMapped(*alpha, 0, angle);
    else if (alpha)
      RotateGrayByShears(*alpha, true, 0, nullptr, nullptr, angle);
  } else {
    RotateRGBAntialiased(*this, background, quality, sender, progress, angle);
    if (alpha) RotateGrayAntialiased(*alpha, 0, quality, angle);
  }
  if (alpha) {
    alpha->SetFull(false);
    // The turned channel fits the turned picture; one that does not (the
    // picture could not be turned) is dropped rather than left misaligned.
    if (alpha->Width() == Width() && alpha->Height() == Height()) AttachAlphaChannel(*this, std::move(alpha));
  }
}
