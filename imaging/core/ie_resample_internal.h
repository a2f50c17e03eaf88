#pragma once
// Pieces shared by the resampling routines of the core (not for other callers).
#include <cstdint>
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

// One row of C-channel byte pixels through the column lists.
template <int C>
void HorizontalRow(const uint8_t* source, uint8_t* out, const TContributors& list, int destinationLength);
// Output row y of the vertical pass over a work image of byte samples.
void VerticalRow(const uint8_t* work, int64_t workStride, int64_t samples, const TContributors& list, int y,
                 int32_t* acc, uint8_t* out);

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
