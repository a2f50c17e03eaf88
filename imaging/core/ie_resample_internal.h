#pragma once
// Pieces shared by the resampling routines of the core (not for other callers).
#include <cstdint>
#include <functional>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_progress.h"
#include "imaging/core/ie_resample.h"

namespace ieresample {

// Calls the progress event when one is set; ReportChange only for a value
// other than the last one it reported (the first report always goes out).
class TIEProgressReporter {
public:
  TIEProgressReporter(TObject* sender, const TIEProgressEvent& progress);
  void Report(int percent);
  void ReportChange(int percent);

private:
  TObject* FSender;
  const TIEProgressEvent& FProgress;
  int FLast = -1;
};

// The kernel filters 1..8 as they are; any other value as rfTriangle.
TResampleFilter KernelFilter(TResampleFilter filter);

// Taps of every output of one axis: output x reads Index[First[x] .. First[x+1])
// with the weights of the same places (1/256 units, none 0) and divides by Sum[x].
struct TContributors {
  std::vector<int32_t> First;
  std::vector<int32_t> Index;
  std::vector<int32_t> Weight;
  std::vector<int32_t> Sum;
};
TContributors BuildContributors(int sourceLength, int destinationLength, TResampleFilter filter);

// A weighted sum over weight sum (an arithmetic shift by 8 when the sum is 0)
// clamped to a byte. A negative sum gives 0 however it is divided.
inline uint8_t Normalise(int32_t value, int32_t sum) {
  const int32_t q = sum != 0 ? value / sum : value >> 8;
  return uint8_t(q < 0 ? 0 : (q > 255 ? 255 : q));
}

// Output x of one row of C-channel byte pixels through the column lists.
template <int C>
inline void OneOutput(const uint8_t* source, uint8_t* out, const TContributors& list, int x) {
  int32_t acc[C] = {};
  for (int32_t k = list.First[size_t(x)]; k < list.First[size_t(x) + 1]; ++k) {
    const uint8_t* p = source + int64_t(list.Index[size_t(k)]) * C;
    const int32_t w = list.Weight[size_t(k)];
    for (int ch = 0; ch < C; ++ch) acc[ch] += w * p[ch];
  }
  for (int ch = 0; ch < C; ++ch) out[ch] = Normalise(acc[ch], list.Sum[size_t(x)]);
}

// One row of C-channel byte pixels through the column lists.
template <int C>
void HorizontalRow(const uint8_t* source, uint8_t* out, const TContributors& list, int destinationLength);
// Output row y of the vertical pass over a work image of byte samples.
void VerticalRow(const uint8_t* work, int64_t workStride, int64_t samples, const TContributors& list, int y,
                 int32_t* acc, uint8_t* out);

// ---- vector row kernels (ie_resample_rows.cpp) ----
// False turns the vector kernels off, so tests can hold them against the plain
// loops; they are also off on processors without AVX2.
// How far the vector kernels go: 0 the plain loops only, 1 up to AVX2, 2 also
// the AVX-512 colour rows (byte permutes, so AVX512-VBMI). Lower it to hold
// one kernel against another; what the processor lacks is never used.
extern int IEResampleVectorKernels;
bool VectorKernelsAvailable();
// The processor runs AVX2 and FMA (whatever the switch above says).
bool CpuHasAvx2();

// Division of a weighted sum by a weight sum 1..4096 through a float
// reciprocal: the sum clamped to 0 .. 255 x sum is exact as a float, and
// value x inverse + 0.5 / sum stays within 2^-14.4 of the true quotient plus
// that half step, which is never nearer than 2^-13 to a whole number, so the
// truncation gives what the integer division gives.
struct TDivide {
  int32_t sum = 0;
  bool vector = false;  // false: Normalise divides
  float inverse = 0, bias = 0;
  int32_t limit = 0;
};
TDivide MakeDivide(int32_t sum);

// The column lists laid out for the vector kernel of 3-channel (colour) or
// 1-channel (grey) rows: each output reads the same number of groups of taps
// (4 colour pixels or 8 grey samples a group) from its window start. Outputs
// with start -1 (mirrored taps, weights beyond 16 bits, no window inside the
// row) take the plain loop; groups 0 when the vector kernels are off.
struct THorizontalPlan {
  int channels = 3;
  int destinationLength = 0;
  int groups = 0;
  bool wide = false;  // colour in AVX-512: groups taken two at a time (8 taps a load)
  std::vector<int32_t> start;
  std::vector<int16_t> weights;  // groups x 16 (colour) or x 8 (grey) per output
  std::vector<TDivide> divide;
  // The same divisions laid out by output, for loads of several at once;
  // ready[x] is 1 when output x has a window and a vector division.
  std::vector<float> inverse, bias;
  std::vector<int32_t> limit;
  std::vector<uint8_t> ready;
  // The wide kernel's divisions, each value 4 times (a lane per channel).
  std::vector<float> inverse4, bias4;
  std::vector<int32_t> limit4;
};
void BuildHorizontalPlan(const TContributors& list, int sourceLength, int destinationLength, int channels,
                         THorizontalPlan& plan);
void HorizontalRowPlanned(const uint8_t* source, uint8_t* out, const TContributors& list, const THorizontalPlan& plan);
// out[i] = Normalise(sum of weight[k] x rows[k][i], sum) for i < samples; acc
// has room for samples values.
void VerticalRowFrom(const uint8_t* const* rows, const int32_t* weight, int taps, int32_t sum, int64_t samples,
                     int32_t* acc, uint8_t* out);

// A two-pass kernel resampling of 24-bit colour (and an 8-bit grey channel
// beside it, on the same lists) done one output row at a time.
struct TKernelPlan {
  int sourceWidth = 0, sourceHeight = 0, width = 0, height = 0;
  TContributors columns, rows;
  THorizontalPlan colour, grey;
  bool withGrey = false;
  int span = 1;  // the most source rows, first to last, one output row reads
  int taps = 1;
};
void BuildKernelPlan(TKernelPlan& plan, int sourceWidth, int sourceHeight, int width, int height,
                     TResampleFilter filter, bool withGrey);
using TRowSource = std::function<const uint8_t*(int sourceRow)>;
using TRowSink = std::function<void(int y, const uint8_t* colour, const uint8_t* grey)>;
// Output rows yFirst..yLast, each handed to sink when done; the colour (and
// grey) rows come from the sources (null counts as a row of zeros). Workers
// may run disjoint ranges at once.
void ResampleRowRange(const TKernelPlan& plan, int yFirst, int yLast, const TRowSource& colourRow,
                      const TRowSource& greyRow, const TRowSink& sink);

// 1-bit row to bytes 0 / 255, and grey bytes to blue, green, red.
void ExpandBitRow(const uint8_t* bits, uint8_t* grey, int width);
void GreyToRGBRow(const uint8_t* grey, uint8_t* rgb, int width);

// Two different bitmaps that both have pixels to read and write.
inline bool HavePixels(TIEBitmap& source, TIEBitmap& destination) {
  return &source != &destination && source.Width() > 0 && source.Height() > 0 && destination.Width() > 0 &&
         destination.Height() > 0;
}

// Rows of a file-backed or virtual bitmap are valid one at a time: one worker reads them.
bool RowsNeedOneWorker(TIEBitmap& bitmap);

// The source span that output x of n outputs covers on an axis of length m
// (m >= n): from trunc(x m / n) up to just before the next output's start, the
// last output reaching the edge.
inline void CoveredSpan(int x, int m, int n, int& first, int& last) {
  first = int(int64_t(x) * m / n);
  last = int((int64_t(x) + 1) * m / n) - 1;
  if (last < first) last = first;
}

}  // namespace ieresample
