#pragma once
// The separable Gaussian blur of the processing unit and the soft drop shadows
// built on it from a blurred alpha channel (thumbnails, vector objects).
#include <cstdint>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_progress.h"
#include "platform/win/win_types.h"

// 201 weights in 1/65536, index 100 the centre, and how far from the centre
// non-zero weights reach (1..100).
struct TIEGaussianKernel {
  int32_t Weights[201] = {};
  uint8_t Radius = 1;
};

// weight(i) = round(exp(-((i - 100) / sigma)^2 / 2) x 65536 / sum); a sigma of
// 0 or less (or not a number) gives the kernel that changes nothing.
void BuildGaussianKernel(TIEGaussianKernel& kernel, double sigma);
// One row of width pixels (3 or 1 bytes each) convolved with the kernel, the
// pixels beyond the ends repeating the end pixels; source and destination must
// not overlap.
void BlurRowRGB(const TIEGaussianKernel& kernel, const uint8_t* source, uint8_t* destination, int width);
void BlurRowGray(const TIEGaussianKernel& kernel, const uint8_t* source, uint8_t* destination, int width);

// Rows, then columns, of an ie8g or ie24RGB bitmap; other formats and sigma <= 0
// are left alone.
void GaussianBlur(TIEBitmap& bitmap, TObject* sender, const TIEProgressEvent& progress, double sigma);
// The same on the inclusive rectangle of an ie8g bitmap (clamped to the image),
// its own edges repeating, without progress.
void GaussianBlurRect(TIEBitmap& bitmap, int x1, int y1, double sigma, int y2, int x2);

// A shadow of the picture's alpha shape, blurred by radius and offset by
// (dx, dy), laid under the picture in shadowColor (a TColor). With enlarge the
// canvas first grows by the shadow's margin, the picture centred. Intensity
// 0..100: 100 keeps the blurred alpha, 0 divides it by 3. ie24RGB and ie1g
// pictures take the shadow's colour (black for ie1g); other formats only get
// the shadow's alpha.
void AddSoftShadow(TIEBitmap& bitmap, int dx, int dy, TObject* sender, const TIEProgressEvent& progress,
                   uint32_t shadowColor, bool enlarge, int intensity, double radius);
// The shadow of one object (object.left..right-1, top..bottom-1) drawn around
// it within the bitmap; radius 0 blurs with a 3 x 3 box as radius 2 would reach.
// Returns the margin the shadow may reach beyond the object.
int AddObjectSoftShadow(TIEBitmap& bitmap, int dx, int dy, const RECT& object, uint32_t shadowColor, int intensity,
                        double radius);
