#include "imaging/core/ie_proc_fill.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "imaging/core/ie_helpers.h"
#include "imaging/core/ie_pixel_convert.h"
#include "imaging/core/ie_startup.h"

namespace {

int GrayOf(TRGB p) { return (IEGrayWeightRed * p.r + IEGrayWeightGreen * p.g + IEGrayWeightBlue * p.b) / 100; }

int GrayOfPacked(uint32_t color) {
  return GrayOf(MakeRGB(uint8_t(color >> 16), uint8_t(color >> 8), uint8_t(color)));
}

void RowProgress(TObject* sender, const TIEProgressEvent& progress, int done, int rows) {
  if (progress) progress(sender, int(done * 100 / (rows + 0.5)));
}

uint8_t FloatToByte(float v) { return uint8_t(std::clamp(std::trunc(double(v) * 255), 0.0, 255.0)); }

// The grey level of every pixel of a row (not for ie1g): one-channel formats by
// their value (16 bits by the high byte), colour by the library's weights.
void GrayRow(TIEBitmap& bitmap, int y, std::vector<TRGB>& rgb, uint8_t* grey) {
  const int w = bitmap.Width();
  const uint8_t* row = bitmap.ScanLine(y);
  switch (bitmap.PixelFormat()) {
    case ie8g: std::memcpy(grey, row, size_t(w)); return;
    case ie16g: {
      const auto* p = reinterpret_cast<const uint16_t*>(row);
      for (int x = 0; x < w; ++x) grey[x] = uint8_t(p[x] >> 8);
      return;
    }
    case ie32f: {
      const auto* p = reinterpret_cast<const float*>(row);
      for (int x = 0; x < w; ++x) grey[x] = FloatToByte(p[x]);
      return;
    }
    default:
      RowAsRGB(bitmap, y, rgb.data());
      for (int x = 0; x < w; ++x) grey[x] = uint8_t(GrayOf(rgb[size_t(x)]));
  }
}

uint8_t Scale16(uint16_t v) { return uint8_t(std::trunc(v / 65535.0 * 255)); }

// One row as the mean-colour rule reads it: 16-bit samples scaled, not cut.
void MeanRow(TIEBitmap& bitmap, int y, TRGB* rgb) {
  const int w = bitmap.Width();
  const uint8_t* row = bitmap.ScanLine(y);
  switch (bitmap.PixelFormat()) {
    case ie16g: {
      const auto* p = reinterpret_cast<const uint16_t*>(row);
      for (int x = 0; x < w; ++x) {
        const uint8_t v = Scale16(p[x]);
        rgb[x] = TRGB{v, v, v};
      }
      return;
    }
    case ieRGB48: {
      const auto* p = reinterpret_cast<const TRGB48*>(row);
      for (int x = 0; x < w; ++x) rgb[x] = MakeRGB(Scale16(p[x].r), Scale16(p[x].g), Scale16(p[x].b));
      return;
    }
    case ie32f: {
      const auto* p = reinterpret_cast<const float*>(row);
      for (int x = 0; x < w; ++x) {
        const uint8_t v = FloatToByte(p[x]);
        rgb[x] = TRGB{v, v, v};
      }
      return;
    }
    default: RowAsRGB(bitmap, y, rgb);
  }
}

bool Readable(TIEBitmap& bitmap) {
  return !bitmap.IsEmpty() && bitmap.PixelFormat() != ieNoFormat && bitmap.PixelFormat() < kIEFormatCount;
}

}  // namespace

void FillBitmapRect(TIEBitmap& bitmap, int x1, int y1, TObject* sender, const TIEProgressEvent& progress,
                    uint32_t color, int y2, int x2) {
  if (bitmap.IsEmpty()) return;
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, bitmap.Width());
  y2 = std::min(y2, bitmap.Height());
  if (x1 >= x2 || y1 >= y2) return;
  const int rows = y2 - y1;
  const TIEBitmapFormat format = bitmap.PixelFormat();
  if (format != ie1g && format != ie8g && format != ie24RGB) {
    bitmap.FillRect(x1, y1, x2 - 1, y2 - 1, RGBPixelToColor(color));
    for (int done = 1; done <= rows; ++done) RowProgress(sender, progress, done, rows);
    return;
  }
  const uint8_t grey = uint8_t(GrayOfPacked(color));
  // A 1-bit picture takes white for a light colour: the grey decides, not one channel.
  const bool white = grey >= 128;
  const TRGB pixel = MakeRGB(uint8_t(color >> 16), uint8_t(color >> 8), uint8_t(color));
  for (int y = y1; y < y2; ++y) {
    uint8_t* row = bitmap.ScanLine(y);
    switch (format) {
      case ie1g:
        for (int x = x1; x < x2; ++x) SetBit(row, x, white);
        break;
      case ie8g: std::memset(row + x1, grey, size_t(x2 - x1)); break;
      default: {
        auto* p = reinterpret_cast<TRGB*>(row);
        std::fill(p + x1, p + x2, pixel);
      }
    }
    RowProgress(sender, progress, y - y1 + 1, rows);
  }
}

void ConvertRectToGray(TIEBitmap& bitmap, int x1, int y1, int y2, int x2, TObject* sender,
                       const TIEProgressEvent& progress) {
  if (bitmap.PixelFormat() != ie24RGB || bitmap.IsEmpty()) return;
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, bitmap.Width());
  y2 = std::min(y2, bitmap.Height());
  if (x1 >= x2 || y1 >= y2) return;
  for (int y = y1; y < y2; ++y) {
    auto* p = reinterpret_cast<TRGB*>(bitmap.ScanLine(y));
    for (int x = x1; x < x2; ++x) {
      const uint8_t g = uint8_t(GrayOf(p[x]));
      p[x] = TRGB{g, g, g};
    }
    RowProgress(sender, progress, y - y1 + 1, y2 - y1);
  }
}

std::array<int64_t, 256> GetGrayHistogram(TIEBitmap& bitmap) {
  std::array<int64_t, 256> counts{};
  if (!Readable(bitmap)) return counts;
  const int w = bitmap.Width();
  std::vector<TRGB> rgb(static_cast<size_t>(w));
  std::vector<uint8_t> grey(static_cast<size_t>(w));
  for (int y = 0; y < bitmap.Height(); ++y) {
    if (bitmap.PixelFormat() == ie1g) {
      const uint8_t* row = bitmap.ScanLine(y);
      for (int x = 0; x < w; ++x) ++counts[GetBit(row, x) ? 1 : 0];
      continue;
    }
    GrayRow(bitmap, y, rgb, grey.data());
    for (int x = 0; x < w; ++x) ++counts[grey[size_t(x)]];
  }
  return counts;
}

TRGB GetAverageColor(TIEBitmap& bitmap) {
  const TRGB failed = MakeRGB(128, 128, 128);
  if (!Readable(bitmap)) return failed;
  const int w = bitmap.Width(), h = bitmap.Height();
  std::vector<TRGB> rgb(static_cast<size_t>(w));
  int64_t r = 0, g = 0, b = 0;
  for (int y = 0; y < h; ++y) {
    if (!bitmap.ScanLine(y)) return failed;
    MeanRow(bitmap, y, rgb.data());
    int64_t rr = 0, gg = 0, bb = 0;
    for (const TRGB& p : rgb) {
      rr += p.r;
      gg += p.g;
      bb += p.b;
    }
    r += rr / w;
    g += gg / w;
    b += bb / w;
  }
  return MakeRGB(uint8_t(r / h), uint8_t(g / h), uint8_t(b / h));
}

int MaxEntropyThreshold(TIEBitmap& bitmap) {
  if (!Readable(bitmap)) return -1;
  const std::array<int64_t, 256> counts = GetGrayHistogram(bitmap);
  const double n = double(bitmap.Width()) * bitmap.Height();
  double p[256], plogp[256], total = 0;
  for (int i = 0; i < 256; ++i) {
    p[i] = counts[size_t(i)] / n;
    plogp[i] = p[i] > 0 ? p[i] * std::log(p[i]) : 0;
    total -= plogp[i];
  }
  double best = 0, below = 0, belowEntropy = 0;
  int threshold = -1;
  for (int t = 1; t < 256; ++t) {
    below += p[t - 1];
    belowEntropy -= plogp[t - 1];
    if (below <= 0 || below >= 1) continue;
    const double phi =
        std::log(below * (1 - below)) + belowEntropy / below + (total - belowEntropy) / (1 - below);
    if (phi > best) {
      best = phi;
      threshold = t;
    }
  }
  return threshold;
}

void ConvertToBWThreshold(TIEBitmap& source, TIEBitmap& destination, int threshold, TObject* sender,
                          const TIEProgressEvent& progress) {
  const int w = source.Width(), h = source.Height();
  if (!Readable(source) || destination.PixelFormat() != ie1g || destination.Width() != w ||
      destination.Height() != h)
    return;
  if (source.PixelFormat() == ie1g) {
    for (int y = 0; y < h; ++y) {
      std::memcpy(destination.ScanLine(y), source.ScanLine(y), size_t((int64_t(w) + 7) / 8));
      RowProgress(sender, progress, y + 1, h);
    }
    return;
  }
  // No cut that gains anything (one grey level, or two): the mean decides, so
  // the picture does not turn all white.
  if (threshold == -2) threshold = MaxEntropyThreshold(source);
  if (threshold == -1) threshold = GrayOf(GetAverageColor(source));
  std::vector<TRGB> rgb(static_cast<size_t>(w));
  std::vector<uint8_t> grey(static_cast<size_t>(w));
  for (int y = 0; y < h; ++y) {
    GrayRow(source, y, rgb, grey.data());
    uint8_t* d = destination.ScanLine(y);
    std::memset(d, 0, size_t(destination.RowLen()));
    for (int x = 0; x < w; ++x)
      if (grey[size_t(x)] >= threshold) d[x >> 3] |= kIEBitMask[x & 7];
    RowProgress(sender, progress, y + 1, h);
  }
}

void ThresholdToBW(TIEBitmap& bitmap, int threshold, TObject* sender, const TIEProgressEvent& progress) {
  if (bitmap.PixelFormat() != ie24RGB || bitmap.IsEmpty()) return;
  TIEBitmap bw;
  if (!bw.Allocate(bitmap.Width(), bitmap.Height(), ie1g)) return;
  ConvertToBWThreshold(bitmap, bw, threshold, sender, progress);
  bitmap.CopyFromTIEBitmap(bw);
}
