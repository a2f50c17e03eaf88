#pragma once
// The eight filter kernels of the icon resampler and the per-axis lists of
// integer weights (contributors) that both of its passes run on.
#include <cstdint>
#include <vector>

enum TIconResampleFilter : uint8_t {
  irfNone = 0,
  irfTriangle = 1,
  irfHermite = 2,
  irfBell = 3,
  irfBSpline = 4,
  irfLanczos3 = 5,
  irfMitchell = 6,
  irfNearest = 7,
  irfLinear = 8,
  irfAuto = 9,
};

double TriangleFilter(double x);
double HermiteFilter(double x);
double BellFilter(double x);
double BSplineFilter(double x);
double Lanczos3Filter(double x);
double MitchellFilter(double x);
double NearestFilter(double x);
double LinearFilter(double x);

struct TResampleFilterEntry {
  double (*Kernel)(double);
  double Support;
};
// Indexed by the filter 1..8; entry 0 is empty.
extern const TResampleFilterEntry ResampleFilterTable[9];

// The weights of one axis: output coordinate i draws on the source indexes
// Pixel[First[i] .. First[i] + Count[i]) with the matching Weight, indexes
// already mirrored at the edges and clamped into the picture. Zero weights are
// not stored. Weights are fixed point with WeightUnit standing for 1.0 (256,
// unless a very strong reduction needed a finer unit, see the .cpp).
struct TContributorList {
  std::vector<int32_t> First, Count, WeightSum;
  std::vector<int32_t> Pixel, Weight;
  int32_t WeightUnit = 256;
  int Size() const { return static_cast<int>(Count.size()); }
};

// The weights for resampling sourceExtent pixels to targetExtent pixels with
// filter 1..8; both extents must be at least 1.
TContributorList BuildContributors(int sourceExtent, int targetExtent, TIconResampleFilter filter);
