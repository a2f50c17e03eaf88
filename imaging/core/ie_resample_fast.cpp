// rfFastLinear, the 1-bit resamplers and the projections to 1 bit.
#include <algorithm>
#include <cstring>
#include <vector>

#include "imaging/core/ie_resample.h"
#include "imaging/core/ie_resample_internal.h"
#include "platform/rtl/rounding.h"

using namespace ieresample;

namespace {

constexpr int kFractionBits = 17;
constexpr double kFractionOne = 131072.0;

// One axis of the fast-linear resampler. Interpolating: output x lies between
// source samples First and Next at Fraction / 2^17. Averaging: output x is the
// mean of source samples First .. Last.
struct TFastAxis {
  bool Interpolate = false;
  std::vector<int32_t> First, Next, Last, Fraction;
};

TFastAxis BuildFastAxis(int sourceLength, int destinationLength, bool interpolate) {
  TFastAxis axis;
  axis.Interpolate = interpolate;
  const size_t n = size_t(destinationLength);
  axis.First.resize(n);
  axis.Next.resize(n);
  axis.Last.resize(n);
  axis.Fraction.resize(n);
  const double ratio = double(destinationLength) / sourceLength;
  for (int x = 0; x < destinationLength; ++x) {
    if (interpolate) {
      const double f = x / ratio;
      const int start = int(std::min<int64_t>(Trunc(f), sourceLength - 1));
      axis.First[size_t(x)] = start;
      axis.Next[size_t(x)] = std::min(start + 1, sourceLength - 1);
      axis.Fraction[size_t(x)] = int32_t(Trunc((f - double(Trunc(f))) * kFractionOne));
    } else {
      CoveredSpan(x, sourceLength, destinationLength, axis.First[size_t(x)], axis.Last[size_t(x)]);
    }
  }
  return axis;
}

inline uint8_t Lerp17(int32_t a, int32_t b, int32_t fraction) {
  return uint8_t(a + (((b - a) * fraction) >> kFractionBits));
}

template <int C>
void FastRow(const uint8_t* source, uint8_t* out, const TFastAxis& axis, int destinationLength) {
  for (int x = 0; x < destinationLength; ++x, out += C) {
    const uint8_t* a = source + int64_t(axis.First[size_t(x)]) * C;
    if (axis.Interpolate) {
      const uint8_t* b = source + int64_t(axis.Next[size_t(x)]) * C;
      const int32_t f = axis.Fraction[size_t(x)];
      for (int ch = 0; ch < C; ++ch) out[ch] = Lerp17(a[ch], b[ch], f);
    } else {
      const int32_t count = axis.Last[size_t(x)] - axis.First[size_t(x)] + 1;
      int32_t sum[C] = {};
      for (int32_t k = 0; k < count; ++k)
        for (int ch = 0; ch < C; ++ch) sum[ch] += a[k * C + ch];
      for (int ch = 0; ch < C; ++ch) out[ch] = uint8_t(sum[ch] / count);
    }
  }
}

// Output row y of the vertical pass over the work image.
void FastColumn(const uint8_t* work, int64_t stride, const TFastAxis& axis, int y, uint8_t* out,
                std::vector<int32_t>& sums) {
  const uint8_t* a = work + stride * axis.First[size_t(y)];
  if (axis.Interpolate) {
    const uint8_t* b = work + stride * axis.Next[size_t(y)];
    const int32_t f = axis.Fraction[size_t(y)];
    for (int64_t i = 0; i < stride; ++i) out[i] = Lerp17(a[i], b[i], f);
    return;
  }
  const int32_t count = axis.Last[size_t(y)] - axis.First[size_t(y)] + 1;
  std::fill(sums.begin(), sums.end(), 0);
  for (int32_t k = 0; k < count; ++k) {
    const uint8_t* row = a + stride * k;
    for (int64_t i = 0; i < stride; ++i) sums[size_t(i)] += row[i];
  }
  for (int64_t i = 0; i < stride; ++i) out[i] = uint8_t(sums[size_t(i)] / count);
}

// The two passes of the fast-linear resampler on C-channel byte rows. An axis
// interpolates when it grows (or always, for the 1-bit resampler) and averages
// otherwise; readRow(y) gives source row y as bytes, writeRow(y, row) takes an
// output row.
template <int C, class ReadRow, class WriteRow>
void FastLinearPasses(int sw, int sh, int dw, int dh, bool alwaysInterpolate, ReadRow readRow, WriteRow writeRow,
                      TIEProgressReporter& reporter) {
  const TFastAxis columns = BuildFastAxis(sw, dw, alwaysInterpolate || dw > sw);
  const TFastAxis rows = BuildFastAxis(sh, dh, alwaysInterpolate || dh > sh);
  const int64_t stride = int64_t(dw) * C;
  std::vector<uint8_t> work(static_cast<size_t>(stride * sh));
  const double total = sh + dh + 0.5;
  for (int y = 0; y < sh; ++y) {
    if (const uint8_t* row = readRow(y)) FastRow<C>(row, work.data() + stride * y, columns, dw);
    reporter.Report(int(Trunc(y * 100.0 / total)));
  }
  std::vector<uint8_t> out(static_cast<size_t>(stride));
  std::vector<int32_t> sums(static_cast<size_t>(stride));
  for (int y = 0; y < dh; ++y) {
    FastColumn(work.data(), stride, rows, y, out.data(), sums);
    writeRow(y, out.data());
    reporter.Report(int(Trunc((double(sh) + y) * 100.0 / total)));
  }
}

template <int C>
void FastLinearBitmap(TIEBitmap& source, TIEBitmap& destination, TObject* sender, const TIEProgressEvent& progress) {
  if (!HavePixels(source, destination)) return;
  const int sw = source.Width(), sh = source.Height(), dw = destination.Width(), dh = destination.Height();
  if (sw == dw && sh == dh) {
    destination.Assign(&source);
    return;
  }
  TIEAccessScope readScope(source, 1);
  TIEAccessScope writeScope(destination, 2);
  TIEProgressReporter reporter(sender, progress);
  FastLinearPasses<C>(
      sw, sh, dw, dh, false, [&](int y) -> const uint8_t* { return source.ScanLine(y); },
      [&](int y, const uint8_t* row) {
        if (uint8_t* d = destination.ScanLine(y)) std::memcpy(d, row, size_t(dw) * C);
      },
      reporter);
}

}  // namespace

void ResampleFastLinear(TIEBitmap& source, TIEBitmap& destination, TObject* sender, const TIEProgressEvent& progress) {
  if (source.PixelFormat() != ie24RGB || destination.PixelFormat() != ie24RGB) return;
  FastLinearBitmap<3>(source, destination, sender, progress);
}

void ResampleGrayFastLinear(TIEBitmap& source, TIEBitmap& destination, TObject* sender,
                            const TIEProgressEvent& progress) {
  if (source.BitCount() != 8 || destination.BitCount() != 8) return;
  FastLinearBitmap<1>(source, destination, sender, progress);
}

void Resample1BitLinear(TIEBitmap& source, TIEBitmap& destination, TObject* sender, const TIEProgressEvent& progress) {
  if (!HavePixels(source, destination) || source.PixelFormat() != ie1g) return;
  const int sw = source.Width(), sh = source.Height(), dw = destination.Width(), dh = destination.Height();
  if (sw == dw && sh == dh) {
    destination.Assign(&source);
    return;
  }
  if (destination.PixelFormat() != ie24RGB) return;
  if (dw < sw && dh < sh) {
    Stretch1BitToGray(source, 0, 0, sw - 1, sh - 1, destination);
    return;
  }
  TIEAccessScope readScope(source, 1);
  TIEAccessScope writeScope(destination, 2);
  TIEProgressReporter reporter(sender, progress);
  std::vector<uint8_t> grey(static_cast<size_t>(sw)), rgb(size_t(dw) * 3);
  FastLinearPasses<1>(
      sw, sh, dw, dh, true,
      [&](int y) -> const uint8_t* {
        const uint8_t* s = source.ScanLine(y);
        if (!s) return nullptr;
        ExpandBitRow(s, grey.data(), sw);
        return grey.data();
      },
      [&](int y, const uint8_t* row) {
        GreyToRGBRow(row, rgb.data(), dw);
        if (uint8_t* d = destination.ScanLine(y)) std::memcpy(d, rgb.data(), rgb.size());
      },
      reporter);
}

void Stretch1BitToGray(TIEBitmap& source, int left, int top, int right, int bottom, TIEBitmap& destination) {
  if (!HavePixels(source, destination) || source.PixelFormat() != ie1g || destination.PixelFormat() != ie24RGB)
    return;
  const int sw = source.Width(), sh = source.Height(), dw = destination.Width(), dh = destination.Height();
  left = std::max(left, 0);
  top = std::max(top, 0);
  right = std::min(right, sw - 1);
  bottom = std::min(bottom, sh - 1);
  if (right < left || bottom < top) return;
  const int rectWidth = right - left + 1, rectHeight = bottom - top + 1;
  // Each output covers a window around its own place; the windows stay inside
  // the rectangle.
  const double g = double(rectHeight) / dh, l = double(rectWidth) / dw;
  std::vector<int> firstColumn(static_cast<size_t>(dw)), lastColumn(static_cast<size_t>(dw));
  for (int x = 0; x < dw; ++x) {
    firstColumn[size_t(x)] = left + int(std::clamp<int64_t>(Trunc(l * x - l / 2), 0, rectWidth - 1));
    lastColumn[size_t(x)] = left + int(std::clamp<int64_t>(Trunc(l / 2 + l * x), 0, rectWidth - 1));
  }
  TIEAccessScope readScope(source, 1);
  TIEAccessScope writeScope(destination, 2);
  std::vector<int32_t> setBits(static_cast<size_t>(dw));
  std::vector<uint8_t> out(static_cast<size_t>(dw) * 3);
  for (int y = 0; y < dh; ++y) {
    const int first = top + int(std::clamp<int64_t>(Trunc(g * y - g / 2), 0, rectHeight - 1));
    const int last = top + int(std::clamp<int64_t>(Trunc(double(Trunc(g)) / 2 + g * y), 0, rectHeight - 1));
    std::fill(setBits.begin(), setBits.end(), 0);
    for (int sy = first; sy <= last; ++sy) {
      const uint8_t* s = source.ScanLine(sy);
      if (!s) return;
      for (int x = 0; x < dw; ++x)
        for (int sx = firstColumn[size_t(x)]; sx <= lastColumn[size_t(x)]; ++sx)
          if (s[sx >> 3] & (0x80 >> (sx & 7))) ++setBits[size_t(x)];
    }
    const int rows = last - first + 1;
    for (int x = 0; x < dw; ++x) {
      const int64_t covered = int64_t(rows) * (lastColumn[size_t(x)] - firstColumn[size_t(x)] + 1);
      const uint8_t v = uint8_t(255 * int64_t(setBits[size_t(x)]) / covered);
      out[3 * size_t(x)] = out[3 * size_t(x) + 1] = out[3 * size_t(x) + 2] = v;
    }
    if (uint8_t* d = destination.ScanLine(y)) std::memcpy(d, out.data(), out.size());
  }
}

namespace {

// The projections: each output pixel covers its own span of source rows and
// columns; isWinner(row, column) says whether a source pixel decides it.
template <class IsWinner>
void Project(TIEBitmap& source, TIEBitmap& destination, bool whiteWins, TObject* sender,
             const TIEProgressEvent& progress, IsWinner isWinner) {
  const int sw = source.Width(), sh = source.Height();
  if (&source == &destination || sw <= 0 || sh <= 0) return;
  if (destination.PixelFormat() != ie1g && !destination.Allocate(destination.Width(), destination.Height(), ie1g))
    return;
  const int dw = destination.Width(), dh = destination.Height();
  if (dw <= 0 || dh <= 0) return;
  TIEAccessScope readScope(source, 1);
  TIEAccessScope writeScope(destination, 2);
  std::vector<int> firstColumn(static_cast<size_t>(dw)), lastColumn(static_cast<size_t>(dw));
  for (int x = 0; x < dw; ++x) CoveredSpan(x, sw, dw, firstColumn[size_t(x)], lastColumn[size_t(x)]);
  std::vector<uint8_t> out(static_cast<size_t>(destination.RowLen()));
  std::vector<uint8_t> decided(static_cast<size_t>(dw));
  TIEProgressReporter reporter(sender, progress);
  for (int y = 0; y < dh; ++y) {
    int first = 0, last = 0;
    CoveredSpan(y, sh, dh, first, last);
    std::fill(decided.begin(), decided.end(), 0);
    for (int sy = first; sy <= last; ++sy) {
      const uint8_t* s = source.ScanLine(sy);
      if (!s) return;
      for (int x = 0; x < dw; ++x) {
        if (decided[size_t(x)]) continue;
        for (int sx = firstColumn[size_t(x)]; sx <= lastColumn[size_t(x)]; ++sx)
          if (isWinner(s, sx)) {
            decided[size_t(x)] = 1;
            break;
          }
      }
    }
    // White wins: rows start black and the decided pixels turn white; black
    // wins the other way round.
    std::fill(out.begin(), out.end(), whiteWins ? 0x00 : 0xFF);
    for (int x = 0; x < dw; ++x)
      if (decided[size_t(x)]) out[size_t(x >> 3)] ^= uint8_t(0x80 >> (x & 7));
    if (uint8_t* d = destination.ScanLine(y)) std::memcpy(d, out.data(), out.size());
    reporter.Report(int(Trunc(y * 100.0 / (dh + 0.5))));
  }
}

}  // namespace

void Resample1BitProject(TIEBitmap& source, TIEBitmap& destination, bool whiteWins, TObject* sender,
                         const TIEProgressEvent& progress) {
  if (source.PixelFormat() != ie1g) return;
  Project(source, destination, whiteWins, sender, progress, [whiteWins](const uint8_t* row, int x) {
    const bool set = (row[x >> 3] & (0x80 >> (x & 7))) != 0;
    return set == whiteWins;
  });
}

void ProjectRGBTo1Bit(TIEBitmap& source, TIEBitmap& destination, bool whiteWins, TObject* sender,
                      const TIEProgressEvent& progress) {
  if (source.PixelFormat() != ie24RGB) return;
  Project(source, destination, whiteWins, sender, progress, [whiteWins](const uint8_t* row, int x) {
    const uint8_t* p = row + 3 * int64_t(x);
    return whiteWins ? (p[0] > 128 && p[1] > 128 && p[2] > 128) : (p[0] < 128 && p[1] < 128 && p[2] < 128);
  });
}
