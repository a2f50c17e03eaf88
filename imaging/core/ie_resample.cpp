// The dispatcher, the nearest-pixel stretch and the two-pass kernel resampler.
#include "imaging/core/ie_resample.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "imaging/core/ie_pixel_convert.h"
#include "imaging/core/ie_resample_internal.h"
#include "imaging/core/ie_thread_pool.h"
#include "platform/rtl/rounding.h"

// ---- kernels ----

double IESinc(double x) {
  if (x == 0.0) return 1.0;
  const double px = std::numbers::pi * x;
  return std::sin(px) / px;
}

double IETriangleFilter(double x) {
  const double a = std::fabs(x);
  return a < 1.0 ? 1.0 - a : 0.0;
}

double IEHermiteFilter(double x) {
  const double a = std::fabs(x);
  return a < 1.0 ? a * a * (2.0 * a - 3.0) + 1.0 : 0.0;
}

double IEBellFilter(double x) {
  const double a = std::fabs(x);
  if (a < 0.5) return 0.75 - x * x;
  if (a < 1.5) return 0.5 * (a - 1.5) * (a - 1.5);
  return 0.0;
}

double IEBSplineFilter(double x) {
  const double a = std::fabs(x);
  if (a < 1.0) return 0.5 * a * a * a - a * a + 2.0 / 3.0;
  if (a < 2.0) return (2.0 - a) * (2.0 - a) * (2.0 - a) / 6.0;
  return 0.0;
}

double IELanczos3Filter(double x) {
  return std::fabs(x) < 3.0 ? IESinc(x) * IESinc(x / 3.0) : 0.0;
}

double IEMitchellFilter(double x) {
  const double a = std::fabs(x);
  if (a < 1.0) return (7.0 * a * a * a - 12.0 * a * a + 16.0 / 3.0) / 6.0;
  if (a < 2.0) return (-(7.0 / 3.0) * a * a * a + 12.0 * a * a - 20.0 * a + 32.0 / 3.0) / 6.0;
  return 0.0;
}

double IEBoxFilter(double x) { return x > -0.5 && x <= 0.5 ? 1.0 : 0.0; }

double IELinearFilter(double x) {
  if (x >= 0.0 && x < 1.0) return 1.0 - x;
  if (x >= -1.0 && x < 0.0) return x + 1.0;
  return 0.0;
}

const TIEResampleKernel IEResampleKernels[9] = {
    {IETriangleFilter, 1.0}, {IETriangleFilter, 1.0}, {IEHermiteFilter, 1.0}, {IEBellFilter, 1.5},
    {IEBSplineFilter, 2.0},  {IELanczos3Filter, 3.0}, {IEMitchellFilter, 2.0}, {IEBoxFilter, 1.0},
    {IELinearFilter, 1.0},
};

// ---- contributor lists ----

namespace ieresample {

TIEProgressReporter::TIEProgressReporter(TObject* sender, const TIEProgressEvent& progress)
    : FSender(sender), FProgress(progress) {}

void TIEProgressReporter::Report(int percent) {
  if (FProgress) FProgress(FSender, percent);
}

void TIEProgressReporter::ReportChange(int percent) {
  if (!FProgress || percent == FLast) return;
  FLast = percent;
  FProgress(FSender, percent);
}

TResampleFilter KernelFilter(TResampleFilter filter) {
  return filter >= rfTriangle && filter <= rfLinear ? filter : rfTriangle;
}

namespace {

int MirrorIndex(int64_t i, int n) {
  if (i < 0) i = -i;
  if (i >= n) i = 2 * int64_t(n) - 1 - i;
  return int(std::clamp<int64_t>(i, 0, n - 1));
}

}  // namespace

TContributors BuildContributors(int sourceLength, int destinationLength, TResampleFilter filter) {
  const TIEResampleKernel& kernel = IEResampleKernels[KernelFilter(filter)];
  const double s = (sourceLength == 1 || destinationLength == 1)
                       ? double(destinationLength) / sourceLength
                       : double(destinationLength - 1) / (sourceLength - 1);
  const bool reducing = s < 1.0;
  const double support = reducing ? kernel.Support / s : kernel.Support;
  TContributors list;
  list.First.reserve(size_t(destinationLength) + 1);
  list.Sum.reserve(size_t(destinationLength));
  std::vector<int32_t> weights;
  for (int x = 0; x < destinationLength; ++x) {
    const double c = x / s;
    const int64_t lo = int64_t(std::floor(c - support));
    const int64_t hi = int64_t(std::ceil(c + support));
    weights.assign(size_t(hi - lo + 1), 0);
    // A strong reduction makes every weight of an output round to 0 (the output
    // would turn black); the weights are then doubled until some survive, which
    // keeps their proportions and so the output's value.
    bool any = false;
    for (double factor = 1.0; !any; factor *= 2.0) {
      for (int64_t i = lo; i <= hi; ++i) {
        const double w = reducing ? kernel.Kernel((c - double(i)) * s) * 256.0 * s * factor
                                  : kernel.Kernel(c - double(i)) * 256.0 * factor;
        const int32_t r = int32_t(Round(w));
        weights[size_t(i - lo)] = r;
        any = any || r != 0;
      }
      if (factor > 1e12) break;  // only a kernel that is 0 everywhere gets here
    }
    list.First.push_back(int32_t(list.Index.size()));
    int32_t sum = 0;
    for (int64_t i = lo; i <= hi; ++i) {
      const int32_t w = weights[size_t(i - lo)];
      if (w == 0) continue;
      list.Index.push_back(MirrorIndex(i, sourceLength));
      list.Weight.push_back(w);
      sum += w;
    }
    list.Sum.push_back(sum);
  }
  list.First.push_back(int32_t(list.Index.size()));
  return list;
}

template <int C>
void HorizontalRow(const uint8_t* source, uint8_t* out, const TContributors& list, int destinationLength) {
  for (int x = 0; x < destinationLength; ++x) OneOutput<C>(source, out + C * x, list, x);
}
template void HorizontalRow<1>(const uint8_t*, uint8_t*, const TContributors&, int);
template void HorizontalRow<3>(const uint8_t*, uint8_t*, const TContributors&, int);

void WidenRow(const uint8_t* source, int32_t* out, int64_t samples) {
  int64_t i = 0;
#ifdef __SSE2__
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= samples; i += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
    const __m128i low = _mm_unpacklo_epi8(bytes, zero), high = _mm_unpackhi_epi8(bytes, zero);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi16(low, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 4), _mm_unpackhi_epi16(low, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpacklo_epi16(high, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 12), _mm_unpackhi_epi16(high, zero));
  }
#endif
  for (; i < samples; ++i) out[i] = source[i];
}

bool WeightsFitInt16(const TContributors& list) {
  for (int32_t w : list.Weight)
    if (w < -32768 || w > 32767) return false;
  return true;
}

void HorizontalRowRGB(const int32_t* wide, uint8_t* out, const TContributors& list, int destinationLength) {
#ifdef __SSE2__
  // Each sample of the widened row is a 32-bit lane holding the byte in its low
  // half; pmaddwd with the weight in the low half of every lane multiplies the
  // three channels of a pixel at once (the fourth lane, the next pixel's blue,
  // is ignored). The sums are the same integers as the plain loop's.
  const int32_t* first = list.First.data();
  const int32_t* index = list.Index.data();
  const int32_t* weight = list.Weight.data();
  for (int x = 0; x < destinationLength; ++x, out += 3) {
    __m128i a0 = _mm_setzero_si128(), a1 = _mm_setzero_si128();
    int32_t k = first[x];
    const int32_t end = first[x + 1];
    for (; k + 1 < end; k += 2) {
      const __m128i p0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(wide + 3 * int64_t(index[k])));
      const __m128i p1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(wide + 3 * int64_t(index[k + 1])));
      a0 = _mm_add_epi32(a0, _mm_madd_epi16(p0, _mm_set1_epi32(weight[k] & 0xFFFF)));
      a1 = _mm_add_epi32(a1, _mm_madd_epi16(p1, _mm_set1_epi32(weight[k + 1] & 0xFFFF)));
    }
    if (k < end) {
      const __m128i p0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(wide + 3 * int64_t(index[k])));
      a0 = _mm_add_epi32(a0, _mm_madd_epi16(p0, _mm_set1_epi32(weight[k] & 0xFFFF)));
    }
    alignas(16) int32_t acc[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(acc), _mm_add_epi32(a0, a1));
    const int32_t sum = list.Sum[size_t(x)];
    for (int ch = 0; ch < 3; ++ch) out[ch] = Normalise(acc[ch], sum);
  }
#else
  (void)wide;
  (void)out;
  (void)list;
  (void)destinationLength;
#endif
}

bool HaveWideRows() {
#ifdef __SSE2__
  return true;
#else
  return false;
#endif
}

void VerticalRow(const uint8_t* work, int64_t workStride, int64_t samples, const TContributors& list, int y,
                 int32_t* acc, uint8_t* out) {
  const int32_t first = list.First[size_t(y)], end = list.First[size_t(y) + 1];
  std::vector<const uint8_t*> rows(size_t(end - first));
  for (int32_t k = first; k < end; ++k) rows[size_t(k - first)] = work + int64_t(list.Index[size_t(k)]) * workStride;
  VerticalRowFrom(rows.data(), list.Weight.data() + first, end - first, list.Sum[size_t(y)], samples, acc, out);
}

void ExpandBitRow(const uint8_t* bits, uint8_t* grey, int width) {
  for (int x = 0; x < width; ++x) grey[x] = (bits[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
}

void GreyToRGBRow(const uint8_t* grey, uint8_t* rgb, int width) {
  for (int x = 0; x < width; ++x) {
    rgb[0] = rgb[1] = rgb[2] = grey[x];
    rgb += 3;
  }
}

bool RowsNeedOneWorker(TIEBitmap& bitmap) { return bitmap.Location() == ieFile || bitmap.IsVirtual(); }

}  // namespace ieresample

using namespace ieresample;

// ---- nearest pixel ----

void IEBmpStretchEx(TIEBitmap* source, TIEBitmap* destination, TObject* sender, const TIEProgressEvent& progress) {
  if (!source || !destination || source == destination) return;
  const int sw = source->Width(), sh = source->Height();
  const int dw = destination->Width(), dh = destination->Height();
  const TIEBitmapFormat format = source->PixelFormat();
  if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0 || format == ieNoFormat || format >= kIEFormatCount) return;
  // Whole pixels of the source's format are copied, so the rows must agree.
  if (destination->PixelFormat() != format && !destination->Allocate(dw, dh, format)) return;
  TIEAccessScope readScope(*source, 1);
  TIEAccessScope writeScope(*destination, 2);
  const double xRatio = double(sw) / dw, yRatio = double(sh) / dh;
  std::vector<int> columns(static_cast<size_t>(dw), 0);
  for (int x = 0; x < dw; ++x) columns[size_t(x)] = int(std::min<int64_t>(sw - 1, Trunc(xRatio * x)));
  const int bytes = IEBitsPerPixel(format) / 8;
  std::vector<uint8_t> row(static_cast<size_t>(destination->RowLen()), 0);
  TIEProgressReporter reporter(sender, progress);
  for (int y = 0; y < dh; ++y) {
    const int sy = int(std::min<int64_t>(sh - 1, Trunc(yRatio * y)));
    const uint8_t* s = source->ScanLine(sy);
    if (!s) return;
    uint8_t* d = row.data();
    if (format == ie1g) {
      for (int x = 0; x < dw; ++x) {
        const int c = columns[size_t(x)];
        const uint8_t mask = uint8_t(0x80 >> (x & 7));
        if (s[c >> 3] & (0x80 >> (c & 7))) d[x >> 3] |= mask;
        else d[x >> 3] &= uint8_t(~mask);
      }
    } else if (bytes == 1) {
      for (int x = 0; x < dw; ++x) d[x] = s[columns[size_t(x)]];
    } else if (bytes == 3) {
      for (int x = 0; x < dw; ++x) std::memcpy(d + 3 * int64_t(x), s + 3 * int64_t(columns[size_t(x)]), 3);
    } else {
      for (int x = 0; x < dw; ++x)
        std::memcpy(d + int64_t(bytes) * x, s + int64_t(bytes) * columns[size_t(x)], size_t(bytes));
    }
    uint8_t* out = destination->ScanLine(y);
    if (!out) return;
    std::memcpy(out, row.data(), row.size());
    reporter.ReportChange(int(Trunc(y * 100.0 / (dh + 0.5))));
  }
  if (format == ie8p) source->CopyPaletteTo(destination);
}

// ---- the kernel resampler ----

namespace {

// Filters 1..8 on an ie24RGB source: the horizontal pass in row bands, one per
// worker, into a work image of dw x sh; then the vertical pass.
void ResampleKernel24(TIEBitmap& source, TIEBitmap& destination, TResampleFilter filter, TObject* sender,
                      const TIEProgressEvent& progress) {
  const int sw = source.Width(), sh = source.Height();
  const int dw = destination.Width(), dh = destination.Height();
  const TContributors columns = BuildContributors(sw, dw, filter);
  const int64_t stride = 3 * int64_t(dw);
  std::vector<uint8_t> work(static_cast<size_t>(stride * sh));
  const double scale = 100.0 / (sh + dh + 0.5);
  const bool oneReader = RowsNeedOneWorker(source);
  const int workers = IERowBandWorkers(sh, oneReader);
  THorizontalPlan plan;
  BuildHorizontalPlan(columns, sw, dw, 3, plan);
  const bool planned = plan.groups > 0;
  const bool wide = !planned && HaveWideRows() && WeightsFitInt16(columns);
  TIEProgressReporter horizontal(sender, progress);
  if (source.Location() == ieTBitmap) source.ScanLine(0);  // the row table is built before the workers read it
  {
    TIEAccessScope readScope(source, 1);
    IERunRowBands(sh, oneReader, [&](int first, int last, int worker) {
      // One more lane than the row has, for the pixel loads that reach past its last sample.
      std::vector<int32_t> widened(wide ? static_cast<size_t>(3 * int64_t(sw) + 4) : 0, 0);
      for (int y = first; y <= last; ++y) {
        const uint8_t* row = source.ScanLine(y);
        if (row && planned) {
          HorizontalRowPlanned(row, work.data() + stride * y, columns, plan);
        } else if (row && wide) {
          WidenRow(row, widened.data(), 3 * int64_t(sw));
          HorizontalRowRGB(widened.data(), work.data() + stride * y, columns, dw);
        } else if (row) {
          HorizontalRow<3>(row, work.data() + stride * y, columns, dw);
        }
        if (worker == 0) horizontal.ReportChange(int(Trunc((double(y) * workers + 1) * scale)));
      }
    });
  }
  // The vertical pass reads only the work image; its rows are shared out as
  // well, worker 0 reporting for all as it goes.
  const TContributors rows = BuildContributors(sh, dh, filter);
  const bool oneWriter = RowsNeedOneWorker(destination);
  const int writers = IERowBandWorkers(dh, oneWriter);
  TIEProgressReporter vertical(sender, progress);
  if (destination.Location() == ieTBitmap) destination.ScanLine(0);
  TIEAccessScope writeScope(destination, 2);
  IERunRowBands(dh, oneWriter, [&](int first, int last, int worker) {
    std::vector<int32_t> acc(static_cast<size_t>(stride));
    std::vector<uint8_t> out(static_cast<size_t>(stride));
    for (int y = first; y <= last; ++y) {
      VerticalRow(work.data(), stride, stride, rows, y, acc.data(), out.data());
      if (uint8_t* d = destination.ScanLine(y)) std::memcpy(d, out.data(), size_t(stride));
      if (worker == 0) vertical.ReportChange(int(Trunc((double(sh) + double(y) * writers + 1) * scale)));
    }
  });
}

// Filters 1..8 on one channel; rows come from readRow (a byte per pixel) and
// go to writeRow. Single-threaded, no progress.
template <class ReadRow, class WriteRow>
void ResampleKernelGrey(int sw, int sh, int dw, int dh, TResampleFilter filter, ReadRow readRow, WriteRow writeRow) {
  const TContributors columns = BuildContributors(sw, dw, filter);
  THorizontalPlan plan;
  BuildHorizontalPlan(columns, sw, dw, 1, plan);
  std::vector<uint8_t> work(static_cast<size_t>(int64_t(dw) * sh));
  for (int y = 0; y < sh; ++y) {
    const uint8_t* row = readRow(y);
    if (row) HorizontalRowPlanned(row, work.data() + int64_t(dw) * y, columns, plan);
  }
  const TContributors rows = BuildContributors(sh, dh, filter);
  std::vector<int32_t> acc(static_cast<size_t>(dw));
  std::vector<uint8_t> out(static_cast<size_t>(dw));
  for (int y = 0; y < dh; ++y) {
    VerticalRow(work.data(), dw, dw, rows, y, acc.data(), out.data());
    writeRow(y, out.data());
  }
}

bool SameSize(TIEBitmap& a, TIEBitmap& b) { return a.Width() == b.Width() && a.Height() == b.Height(); }

// The destination in the given format at its own size; false when it cannot be had.
bool EnsureFormat(TIEBitmap& bitmap, TIEBitmapFormat format) {
  if (bitmap.PixelFormat() == format) return true;
  return bitmap.Allocate(bitmap.Width(), bitmap.Height(), format);
}

void ResampleFrom24(TIEBitmap& source, TIEBitmap& destination, TObject* sender, const TIEProgressEvent& progress,
                    TResampleFilter filter) {
  switch (filter) {
    case rfNone:
      if (EnsureFormat(destination, ie24RGB)) IEBmpStretchEx(&source, &destination, sender, progress);
      return;
    case rfFastLinear:
      if (EnsureFormat(destination, ie24RGB)) ResampleFastLinear(source, destination, sender, progress);
      return;
    case rfProjectBW:
    case rfProjectWB:
      ProjectRGBTo1Bit(source, destination, filter == rfProjectWB, sender, progress);
      return;
    default:
      if (EnsureFormat(destination, ie24RGB)) ResampleKernel24(source, destination, KernelFilter(filter), sender, progress);
      return;
  }
}

}  // namespace

void ResampleEx(TIEBitmap* source, TIEBitmap* destination, TIEBitmap* sourceAlpha, TObject* sender,
                const TIEProgressEvent& progress, TResampleFilter filter) {
  if (!source || !destination || source == destination) return;
  const TIEBitmapFormat format = source->PixelFormat();
  if (source->Width() <= 0 || source->Height() <= 0 || format == ieNoFormat || format >= kIEFormatCount) return;
  if (destination->Width() <= 0 || destination->Height() <= 0) return;
  if (filter >= kResampleFilterCount) filter = rfTriangle;
  if (filter == rfBilinear || filter == rfBicubic) {
    const bool sameFormat = destination->PixelFormat() == format;
    if (sameFormat && (format == ie24RGB || format == ie8g)) {
      ResampleBilinearBicubic(*source, *destination, sourceAlpha, sender, progress, filter == rfBicubic);
      return;
    }
    if (sameFormat && (format == ieRGB48 || format == ie16g)) {
      ResampleBilinearBicubic16(*source, *destination, filter == rfBicubic, sender, progress);
      return;
    }
    filter = rfTriangle;
  }
  if (format == ie8g && destination->PixelFormat() == ie8g) {
    ResampleGrayFiltered(*source, *destination, filter);
    return;
  }
  if (format == ie24RGB) {
    ResampleFrom24(*source, *destination, sender, progress, filter);
    return;
  }
  TIEBitmap copy(source->Width(), source->Height(), ie24RGB);
  if (copy.IsEmpty()) return;
  ConvertBitmapPixels(*source, copy);
  copy.RemoveAlphaChannel();  // the caller resamples the channel itself
  ResampleFrom24(copy, *destination, sender, progress, filter);
}

void ResampleGrayFiltered(TIEBitmap& source, TIEBitmap& destination, TResampleFilter filter) {
  if (!HavePixels(source, destination) || source.BitCount() != 8 || destination.BitCount() != 8) return;
  const int sw = source.Width(), sh = source.Height(), dw = destination.Width(), dh = destination.Height();
  if (filter >= kResampleFilterCount) filter = rfTriangle;
  switch (filter) {
    case rfNone:
      IEBmpStretchEx(&source, &destination);
      return;
    case rfBilinear:
    case rfBicubic:
      ResampleEx(&source, &destination, source.HasAlphaChannel() ? source.AlphaChannel() : nullptr, nullptr,
                 nullptr, filter);
      return;
    case rfFastLinear:
    case rfProjectBW:
    case rfProjectWB:
      ResampleGrayFastLinear(source, destination);
      return;
    default:
      break;
  }
  TIEAccessScope readScope(source, 1);
  TIEAccessScope writeScope(destination, 2);
  std::vector<uint8_t> row(static_cast<size_t>(sw));
  ResampleKernelGrey(
      sw, sh, dw, dh, filter,
      [&](int y) -> const uint8_t* {
        const uint8_t* s = source.ScanLine(y);
        if (!s) return nullptr;
        std::memcpy(row.data(), s, size_t(sw));
        return row.data();
      },
      [&](int y, const uint8_t* out) {
        if (uint8_t* d = destination.ScanLine(y)) std::memcpy(d, out, size_t(dw));
      });
}

void Resample1BitEx(TIEBitmap& source, TIEBitmap& destination, TResampleFilter filter) {
  if (!HavePixels(source, destination) || source.PixelFormat() != ie1g) return;
  const int sw = source.Width(), sh = source.Height(), dw = destination.Width(), dh = destination.Height();
  if (filter >= kResampleFilterCount) filter = rfTriangle;
  switch (filter) {
    case rfNone:
      IEBmpStretchEx(&source, &destination);
      return;
    case rfProjectBW:
    case rfProjectWB:
      Resample1BitProject(source, destination, filter == rfProjectWB);
      return;
    case rfFastLinear:
    case rfBilinear:
    case rfBicubic:
      if (EnsureFormat(destination, ie24RGB)) Resample1BitLinear(source, destination);
      return;
    default:
      break;
  }
  if (!EnsureFormat(destination, ie24RGB)) return;
  TIEAccessScope readScope(source, 1);
  TIEAccessScope writeScope(destination, 2);
  std::vector<uint8_t> grey(static_cast<size_t>(sw)), rgb(size_t(dw) * 3);
  ResampleKernelGrey(
      sw, sh, dw, dh, filter,
      [&](int y) -> const uint8_t* {
        const uint8_t* s = source.ScanLine(y);
        if (!s) return nullptr;
        ExpandBitRow(s, grey.data(), sw);
        return grey.data();
      },
      [&](int y, const uint8_t* out) {
        GreyToRGBRow(out, rgb.data(), dw);
        if (uint8_t* d = destination.ScanLine(y)) std::memcpy(d, rgb.data(), rgb.size());
      });
}

// ---- the dispatcher ----

void ResampleIEBitmap(TIEBitmap* source, TIEBitmap* destination, TResampleFilter filter, TObject* sender,
                      const TIEProgressEvent& progress) {
  if (!source || !destination || source == destination) return;
  if (filter >= kResampleFilterCount) filter = rfTriangle;
  if (SameSize(*source, *destination)) {
    destination->Assign(source);
    return;
  }
  if (filter == rfNone) {
    IEBmpStretchEx(source, destination, sender, progress);
  } else if (source->PixelFormat() == ie1g) {
    const TIEBitmapFormat wanted = (filter == rfProjectBW || filter == rfProjectWB) ? ie1g : ie24RGB;
    if (!EnsureFormat(*destination, wanted)) return;
    Resample1BitEx(*source, *destination, filter);
  } else {
    ResampleEx(source, destination, source->HasAlphaChannel() ? source->AlphaChannel() : nullptr, sender, progress,
               filter);
  }
  if (!source->HasAlphaChannel() || destination->IsEmpty()) return;
  TIEBitmap* sourceAlpha = source->AlphaChannel();
  TIEBitmap* destinationAlpha = destination->AlphaChannel();
  if (!sourceAlpha || !destinationAlpha) return;
  // A channel left from an earlier picture of another size is made anew.
  if (!SameSize(*destinationAlpha, *destination) || destinationAlpha->PixelFormat() != ie8g)
    if (!destinationAlpha->Allocate(destination->Width(), destination->Height(), ie8g)) return;
  if (filter == rfNone) IEBmpStretchEx(sourceAlpha, destinationAlpha);
  else ResampleGrayFiltered(*sourceAlpha, *destinationAlpha, filter);
  destinationAlpha->SetFull(sourceAlpha->Full());
}
