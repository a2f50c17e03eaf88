#pragma once
// Helpers of the JPEG 2000 tests: code streams written straight through
// OpenJPEG, files written by opj_compress and samples decoded by
// opj_decompress (the oracle), and the pixels of our picture.
#include <cstdint>
#include <string>
#include <vector>

#include "pictures/jpeg2000/jpeg2000_bitmap.h"

namespace jp2test {

using Bytes = std::vector<uint8_t>;

// One component for MakeJp2: its grid step, precision, sign and samples
// (w x h, row after row).
struct TComp {
  uint32_t dx = 1, dy = 1, prec = 8;
  bool sgnd = false;
  std::vector<int32_t> samples;
};
struct TJp2Spec {
  uint32_t x0 = 0, y0 = 0, width = 0, height = 0;
  int colorSpace = 1;  // OPJ_COLOR_SPACE
  bool codeStream = false;  // a bare J2K code stream instead of a JP2 file
  std::vector<TComp> comps;
};
// The component's sample count along one side for the image's grid.
uint32_t CompSide(uint32_t origin, uint32_t size, uint32_t step);
// Encodes losslessly through OpenJPEG's API; empty on failure.
Bytes MakeJp2(const TJp2Spec& spec);

// What opj_decompress gives, every component upsampled to the picture's size.
struct TOpjPlanes {
  int width = 0, height = 0;
  std::vector<int> precision;
  std::vector<std::vector<int32_t>> planes;
  bool ok = false;
  std::string log;
};
TOpjPlanes DecodeWithOpj(const Bytes& file);
// Runs opj_compress on an input file; the arguments follow the input and
// output names. Empty on failure.
Bytes CompressWithOpj(const std::string& inputPath, const std::string& arguments);

// The picture's pixels as (blue, green, red, alpha) per pixel, grey pictures
// as their palette colours, 24-bit pictures with alpha 255.
struct TPixels {
  int width = 0, height = 0;
  std::vector<uint8_t> bgra;
  const uint8_t* At(int x, int y) const { return &bgra[(static_cast<size_t>(y) * width + x) * 4]; }
};
TPixels PixelsOf(TBitmap& bitmap);

// Loads the bytes with DataSize 0, as the picture registry does.
void LoadBytes(TJpeg2000Bitmap& picture, const Bytes& file);
Bytes SaveBytes(TJpeg2000Bitmap& picture);

// An 8-bit value as the picture scales a sample of that precision.
inline uint8_t Scale(int64_t value, int precision) {
  return precision == 8 ? static_cast<uint8_t>(value) : static_cast<uint8_t>(value * 255 / ((int64_t(1) << precision) - 1));
}

}  // namespace jp2test
