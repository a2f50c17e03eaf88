#pragma once
// The two passes of the icon resampler over raw rows: a horizontal pass into a
// byte intermediate of target width and source height, then a vertical pass
// that runs along whole intermediate rows.
#include "base/toolbox/pixel_rows.h"
#include "base/toolbox/resample_filters.h"

// When above 0, the most worker threads the alpha-aware passes use (tests run
// them in 1, 2, 3 ... bands); otherwise the processor count decides.
extern int ResampleWorkerCountOverride;
// The alpha-aware passes use 256-bit lanes where the processor has AVX2 and
// this is true (tests turn it off to compare with the 128-bit and scalar
// paths, which give the same bytes).
extern bool ResampleWideVectors;

// Plain kernel resampling of `channels` bytes per pixel (3 for blue, green,
// red). src and dst hold pixelBytes-sized pixels whose first `channels` bytes are
// resampled; other bytes of dst are left alone.
void ResampleRowsPlain(const TPixelRows& src, int srcPixelBytes, const TPixelRows& dst, int dstPixelBytes,
                       int channels, TIconResampleFilter filter);

// The alpha-aware resampling: colour (blue, green, red at the first three bytes
// of each colour pixel) weighted by alpha in both passes, alpha itself
// resampled with the plain weights. colour and alpha may be the same 32-bit
// rows (alpha offset 3). dst is 32-bit blue, green, red, alpha. With
// plainAlpha the alpha byte gets the plain resampling of alpha; without, the
// provisional alpha of the weighted passes.
void ResampleRowsWithAlpha(const TPixelRows& colour, int colourPixelBytes, const TPixelRows& alpha,
                           int alphaPixelBytes, int alphaOffset, const TPixelRows& dst, TIconResampleFilter filter,
                           bool plainAlpha = true);

inline int32_t ClampToByte(int32_t value) { return value < 0 ? 0 : (value > 255 ? 255 : value); }

// Average alpha of the left, top, right and bottom border strips of 32-bit
// rows; false (outputs untouched) for pictures under 4 x 4 or with sides more
// than 40 times apart.
bool BorderAlphaAverages(const TPixelRows& rows, uint8_t& left, uint8_t& top, uint8_t& right, uint8_t& bottom);

// Every pixel of exactly 0x00FFFFFF becomes 0.
void ClearTransparentWhiteRows(const TPixelRows& rows);

// The filtering resize of a 32-bit picture with alpha (both views 32-bit,
// both at least 2 x 2 on the axis that is filtered): pictures whose borders
// are partly transparent are resampled inside a transparent frame of 30
// pixels, so their edges fade out instead of being mirrored back in.
void ResampleBlock32(const TPixelRows& source, const TPixelRows& target, TIconResampleFilter filter);
