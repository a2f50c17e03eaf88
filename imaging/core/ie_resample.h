#pragma once
// Resampling of library bitmaps: a whole source bitmap into a destination that
// the caller has allocated at the target size (normally in the source's pixel
// format). ResampleIEBitmap is the one entry for whole pictures; it picks the
// routine by filter and format and resamples the alpha channel alongside. The
// zoomed drawing of the bitmap calls the inner routines directly.
#include <cstdint>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_progress.h"

enum TResampleFilter : uint8_t {
  rfNone = 0,       // nearest pixel (IEBmpStretchEx), every format
  rfTriangle = 1,   // the kernels 1..8 run the two-pass resampler
  rfHermite = 2,
  rfBell = 3,
  rfBSpline = 4,
  rfLanczos3 = 5,
  rfMitchell = 6,
  rfNearest = 7,    // the box kernel through the two passes, not the nearest pixel
  rfLinear = 8,
  rfFastLinear = 9,   // fixed-point interpolation, or box averages when reducing
  rfBilinear = 10,    // exact area coverage (same-format grey and RGB pairs)
  rfBicubic = 11,
  rfProjectBW = 12,   // to 1 bit, black wins in each covered window
  rfProjectWB = 13,   // to 1 bit, white wins
};
constexpr int kResampleFilterCount = 14;

// ---- kernels (a = |x|; each is 0 at and beyond its support) ----
double IESinc(double x);
double IETriangleFilter(double x);
double IEHermiteFilter(double x);
double IEBellFilter(double x);
double IEBSplineFilter(double x);
double IELanczos3Filter(double x);
double IEMitchellFilter(double x);
double IEBoxFilter(double x);
double IELinearFilter(double x);

struct TIEResampleKernel {
  double (*Kernel)(double x);
  double Support;
};
// Indexed by the filter values 1..8 (entry 0 unused).
extern const TIEResampleKernel IEResampleKernels[9];

// ---- whole bitmaps ----
// Same size: the destination becomes a copy (alpha included). Otherwise rfNone
// stretches, an ie1g source goes through Resample1BitEx (the destination turns
// ie1g for the projections, ie24RGB for the rest), everything else through
// ResampleEx; a source alpha channel is resampled into the destination's with
// the same filter and passes on its full flag. Nil bitmaps do nothing.
void ResampleIEBitmap(TIEBitmap* source, TIEBitmap* destination, TResampleFilter filter, TObject* sender = nullptr,
                      const TIEProgressEvent& progress = nullptr);

// Nearest pixel: destination column x reads source column trunc(sw / dw * x),
// rows alike; whole pixels of every format. The destination must already have
// the source's format (an ie8p source passes on its palette). Nothing for nil
// bitmaps or an empty destination.
void IEBmpStretchEx(TIEBitmap* source, TIEBitmap* destination, TObject* sender = nullptr,
                    const TIEProgressEvent& progress = nullptr);

// The resampler for everything but 1-bit sources. An ie24RGB source keeps an
// ie24RGB destination; same-format ie8g, ie24RGB, ie16g and ieRGB48 pairs take
// the area-coverage routine for rfBilinear and rfBicubic (other pairs use
// rfTriangle); ie8g to ie8g goes through ResampleGrayFiltered; any other source
// is read through a 24-bit copy and the destination becomes ie24RGB (ie1g for
// the projections). A 1 x 1 source fills the destination with its pixel.
// sourceAlpha only steers rfBilinear's colour at transparent borders.
void ResampleEx(TIEBitmap* source, TIEBitmap* destination, TIEBitmap* sourceAlpha, TObject* sender,
                const TIEProgressEvent& progress, TResampleFilter filter);

// 8-bit grey (alpha channels too) to 8-bit grey; no progress.
void ResampleGrayFiltered(TIEBitmap& source, TIEBitmap& destination, TResampleFilter filter);

// ie1g sources: ie1g destinations for the projections, ie24RGB grey for the
// rest (the caller sets the destination's format); no progress.
void Resample1BitEx(TIEBitmap& source, TIEBitmap& destination, TResampleFilter filter);

// ---- fast linear, 1-bit and projections ----
// Fixed-point (17-bit) interpolation on an enlarging axis; on a reducing axis
// each output averages the source span it covers, the last one reaching the
// edge; an axis of equal length is copied.
void ResampleFastLinear(TIEBitmap& source, TIEBitmap& destination, TObject* sender = nullptr,
                        const TIEProgressEvent& progress = nullptr);
void ResampleGrayFastLinear(TIEBitmap& source, TIEBitmap& destination, TObject* sender = nullptr,
                            const TIEProgressEvent& progress = nullptr);
// ie1g to ie24RGB grey: interpolated when either axis grows, else area averages.
void Resample1BitLinear(TIEBitmap& source, TIEBitmap& destination, TObject* sender = nullptr,
                        const TIEProgressEvent& progress = nullptr);
// Area average of the inclusive rectangle (clipped to the source) of an ie1g
// bitmap into the whole ie24RGB destination, as grey.
void Stretch1BitToGray(TIEBitmap& source, int left, int top, int right, int bottom, TIEBitmap& destination);
// To ie1g: each output pixel covers its own span of source rows and columns;
// with whiteWins it is white when any covered pixel is white (a set bit, or all
// three channels above 128), else black when any is black (clear, all below 128).
void Resample1BitProject(TIEBitmap& source, TIEBitmap& destination, bool whiteWins, TObject* sender = nullptr,
                         const TIEProgressEvent& progress = nullptr);
void ProjectRGBTo1Bit(TIEBitmap& source, TIEBitmap& destination, bool whiteWins, TObject* sender = nullptr,
                      const TIEProgressEvent& progress = nullptr);

// ---- exact area coverage ----
// ie8g or ie24RGB to the same format; rfBilinear (cubic false) or rfBicubic.
void ResampleBilinearBicubic(TIEBitmap& source, TIEBitmap& destination, TIEBitmap* sourceAlpha, TObject* sender,
                             const TIEProgressEvent& progress, bool cubic);
// ie16g or ieRGB48 to the same format.
void ResampleBilinearBicubic16(TIEBitmap& source, TIEBitmap& destination, bool cubic, TObject* sender = nullptr,
                               const TIEProgressEvent& progress = nullptr);
// Cubic convolution with parameter -1 through p(-1), p0, p1, p2 at t, clamped to low..high.
double CubicInterpolate(double pm1, double p0, double p1, double p2, double t, double low, double high);
// reals[i] = alpha[i] / 255; and every real 1.0.
void AlphaRowToReals(double* reals, const uint8_t* alpha, int n);
void FillRealsWithOne(double* reals, int n);
