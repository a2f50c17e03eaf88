#pragma once
// Rotation of a library bitmap by any angle (degrees, counter-clockwise):
// exact quarter and half turns, a three-shear rotation blended in 1/4096
// steps, inverse mapping with bilinear or bicubic sampling, and plain
// nearest-pixel mapping. Each colour routine has an 8-bit twin for the alpha
// channel, so that alpha stays aligned with the colours. The image routines
// turn the pixels only and remove an alpha channel the bitmap has;
// TIEBitmap::Rotate turns the alpha channel alongside.
#include <cstdint>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_progress.h"

// Quarter turns into destination, allocated at the swapped size: clockwise
// (Right) or counter-clockwise (Left); ie24RGB, and one byte per pixel.
void RotateRGB90Right(TIEBitmap& source, TIEBitmap& destination);
void RotateRGB90Left(TIEBitmap& source, TIEBitmap& destination);
void RotateGray90Right(TIEBitmap& source, TIEBitmap& destination);
void RotateGray90Left(TIEBitmap& source, TIEBitmap& destination);

// ie24RGB: quarter turns down to within 45 degrees (the angle taken in
// thousandths), then three shears; with antiAlias each shifted line blends the
// two source pixels that straddle each target pixel. Other formats go to
// Rotate1BitMapped, white when the background has no zero channel.
void RotateRGBByShears(TIEBitmap& bitmap, bool antiAlias, TObject* sender, const TIEProgressEvent& progress,
                       TRGB background, double angle);
// The same for ie8g and ie8p (other formats are left alone).
void RotateGrayByShears(TIEBitmap& bitmap, bool antiAlias, uint8_t background, TObject* sender,
                        const TIEProgressEvent& progress, double angle);

// Inverse mapping at four decimals without blending: ie1g, and ie8g / ie8p.
void Rotate1BitMapped(TIEBitmap& bitmap, bool backgroundWhite, TObject* sender, const TIEProgressEvent& progress,
                      double angle);
void RotateGrayMapped(TIEBitmap& bitmap, uint8_t background, double angle);

// Inverse mapping with quality 1 (bilinear) or 2 (bicubic, clamped to 0..255)
// sampling inside a 3-pixel frame of background; ie24RGB (background a TColor)
// and its one-byte twin. Quality above 2 acts as 2; 0 or less does nothing.
void RotateRGBAntialiased(TIEBitmap& bitmap, uint32_t background, int quality, TObject* sender,
                          const TIEProgressEvent& progress, double angle);
void RotateGrayAntialiased(TIEBitmap& bitmap, uint8_t background, int quality, double angle);

// Any format, nearest pixel: right angles are exact copies; other angles map
// each target pixel back to the rounded source position about the two
// centres, the rest taking background (black for ie1g). background is the
// value TIEBitmap::Fill takes for the format.
void RotateBitmapPlain(TIEBitmap& bitmap, double background, TObject* sender, const TIEProgressEvent& progress,
                       double angle);
// The same into another bitmap, allocated here at the turned size. False when
// its storage cannot be had.
bool RotateBitmapTo(TIEBitmap& source, TIEBitmap& destination, double background, TObject* sender,
                    const TIEProgressEvent& progress, double angle);
