#pragma once
// A picture is never larger than its data can fill. Every reader asks this one
// rule before it allocates a buffer or a temporary file for the pixels a
// header claims: its coding can expand at most so many pixels out of so many
// bytes, and a claim beyond what the bytes left in the stream can decode to is
// refused before anything exists. The ratios are the codings' own maxima.
#include <cstdint>

#include "imaging/io/io_types.h"

// At most Pixels pixels out of Bytes bytes of coded data.
struct TDataRatio {
  int64_t Pixels;
  int64_t Bytes;
};

// A run of 255 pixels in two bytes (BMP RLE8 and RLE4: the count is in pixels).
inline constexpr TDataRatio kRatioRle8{255, 2};
// PackBits: 128 repeats of one value in two bytes.
inline constexpr TDataRatio kRatioPackBits{128, 2};
// Deflate: 258 bytes per 2-bit code at best, 1,032 per byte.
inline constexpr TDataRatio kRatioDeflate{1032, 1};
// LZW with 12-bit codes: at most 4,096 values per code, so per byte.
inline constexpr TDataRatio kRatioLzw{4096, 1};
// A JPEG codes at least one bit per 8 x 8 block of one component.
inline constexpr TDataRatio kRatioJpeg{512, 1};

// The one reason every reader gives when the rule fires.
inline constexpr const char* kRefusedUnfilled = "the data cannot fill the rows";

// True when `units` (pixels, or bytes of rows for uncompressed data) can come
// out of `bytesLeft` coded bytes at the given ratio. A stream whose size is
// unknown reports a huge size and is not bounded here.
inline bool DataCanDecodeTo(int64_t units, int64_t bytesLeft, TDataRatio ratio = {1, 1}) {
  if (units < 0 || bytesLeft < 0 || ratio.Pixels < 1 || ratio.Bytes < 1 || ratio.Pixels > (1 << 15)) return false;
  if (bytesLeft > (int64_t(1) << 47)) return true;
  // bytesLeft <= 2^47 and Pixels <= 2^15 (a blank fax row's bit): the product fits.
  return units <= bytesLeft * ratio.Pixels / ratio.Bytes;
}

// The same for a width x height picture of pixels; refuses through progress
// with the one reason when it does not fit.
inline bool PictureFitsData(int64_t width, int64_t height, int64_t bytesLeft, TDataRatio ratio,
                            TProgressRecord& progress) {
  if (width < 0 || height < 0 || (height > 0 && width > INT64_MAX / height) ||
      !DataCanDecodeTo(width * height, bytesLeft, ratio)) {
    progress.Refuse(kRefusedUnfilled);
    return false;
  }
  return true;
}
