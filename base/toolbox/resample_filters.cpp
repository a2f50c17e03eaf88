#include "base/toolbox/resample_filters.h"

#include <cmath>
#include <numbers>

#include "platform/rtl/rounding.h"

double TriangleFilter(double x) {
  const double a = std::fabs(x);
  return a < 1.0 ? 1.0 - a : 0.0;
}

double HermiteFilter(double x) {
  const double a = std::fabs(x);
  return a < 1.0 ? (2.0 * a - 3.0) * a * a + 1.0 : 0.0;
}

double BellFilter(double x) {
  const double a = std::fabs(x);
  if (a < 0.5) return 0.75 - a * a;
  if (a < 1.5) return 0.5 * (a - 1.5) * (a - 1.5);
  return 0.0;
}

double BSplineFilter(double x) {
  const double a = std::fabs(x);
  if (a < 1.0) return 0.5 * a * a * a - a * a + 2.0 / 3.0;
  if (a < 2.0) return (2.0 - a) * (2.0 - a) * (2.0 - a) / 6.0;
  return 0.0;
}

double Lanczos3Filter(double x) {
  const double a = std::fabs(x);
  if (a == 0.0) return 1.0;
  if (a >= 3.0) return 0.0;
  const double pa = std::numbers::pi * a;
  // sin(pi a) is not exactly 0 at whole a in floating point; the kernel is.
  if (a == std::floor(a)) return 0.0;
  return std::sin(pa) * std::sin(pa / 3.0) / (pa * pa / 3.0);
}

double MitchellFilter(double x) {
  const double a = std::fabs(x);
  if (a < 1.0) return (7.0 * a * a * a - 12.0 * a * a + 16.0 / 3.0) / 6.0;
  if (a < 2.0) return (-(7.0 / 3.0) * a * a * a + 12.0 * a * a - 20.0 * a + 32.0 / 3.0) / 6.0;
  return 0.0;
}

double NearestFilter(double x) { return (x > -0.5 && x <= 0.5) ? 1.0 : 0.0; }

double LinearFilter(double x) {
  if (x >= -1.0 && x < 0.0) return 1.0 + x;
  if (x >= 0.0 && x < 1.0) return 1.0 - x;
  return 0.0;
}

const TResampleFilterEntry ResampleFilterTable[9] = {
    {nullptr, 0.0},          {TriangleFilter, 1.0}, {HermiteFilter, 1.0}, {BellFilter, 1.5},
    {BSplineFilter, 2.0},    {Lanczos3Filter, 3.0}, {MitchellFilter, 2.0}, {NearestFilter, 1.0},
    {LinearFilter, 1.0},
};

namespace {

int MirrorIndex(int64_t j, int n) {
  if (j < 0) j = -j;
  if (j >= n) j = 2 * static_cast<int64_t>(n) - j - 1;
  // A window wider than the picture can still land outside; the edge pixel serves.
  if (j < 0) j = 0;
  if (j >= n) j = n - 1;
  return static_cast<int>(j);
}

}  // namespace

TContributorList BuildContributors(int sourceExtent, int targetExtent, TIconResampleFilter filter) {
  const TResampleFilterEntry& entry = ResampleFilterTable[filter >= 1 && filter <= 8 ? filter : 1];
  const double support = entry.Support;
  const double scale = (sourceExtent == 1 || targetExtent == 1)
                           ? static_cast<double>(targetExtent) / sourceExtent
                           : static_cast<double>(targetExtent - 1) / (sourceExtent - 1);
  TContributorList list;
  list.First.resize(targetExtent);
  list.Count.resize(targetExtent);
  list.WeightSum.resize(targetExtent);

  // Reduction weights are f x 256 x scale. Below a scale of 1/256 they would be
  // 0 or 1 and, further down, all 0, losing the picture to black; there the
  // unit is raised by a power of two (kept small enough that the sums of
  // weight x byte stay inside 32 bits), which the final division by the sum of
  // the weights cancels again.
  double unit = 256.0;
  if (scale < 1.0) {
    unit = 256.0 * scale;
    int64_t factor = 1;
    while (unit * factor < 16.0 && factor < 4096) factor *= 2;
    if (256.0 * scale >= 1.0) factor = 1;
    unit *= factor;
    list.WeightUnit = static_cast<int32_t>(256 * factor);
  }
  const double width = scale < 1.0 ? support / scale : support;
  const double argScale = scale < 1.0 ? scale : 1.0;
  list.Pixel.reserve(static_cast<size_t>(targetExtent) * static_cast<size_t>(2 * width + 1));
  list.Weight.reserve(list.Pixel.capacity());
  for (int i = 0; i < targetExtent; ++i) {
    const double center = i / scale;
    const int64_t left = static_cast<int64_t>(std::floor(center - width));
    const int64_t right = static_cast<int64_t>(std::ceil(center + width));
    list.First[i] = static_cast<int32_t>(list.Pixel.size());
    int32_t sum = 0;
    for (int64_t j = left; j <= right; ++j) {
      const int32_t w = static_cast<int32_t>(Round(entry.Kernel((center - static_cast<double>(j)) * argScale) * unit));
      if (w == 0) continue;
      list.Pixel.push_back(MirrorIndex(j, sourceExtent));
      list.Weight.push_back(w);
      sum += w;
    }
    if (list.Pixel.size() == static_cast<size_t>(list.First[i])) {
      // Nothing survived the rounding: the pixel under the centre stands in, so
      // that no output pixel is left without a source.
      list.Pixel.push_back(MirrorIndex(static_cast<int64_t>(Round(center)), sourceExtent));
      list.Weight.push_back(1);
      sum = 1;
    }
    list.Count[i] = static_cast<int32_t>(list.Pixel.size()) - list.First[i];
    list.WeightSum[i] = sum;
  }
  return list;
}
