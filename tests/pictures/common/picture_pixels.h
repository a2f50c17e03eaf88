#pragma once
// Pixels of our pictures and of the outside decoders the picture tests compare
// them with (Pillow, ImageMagick, netpbm), all as red, green, blue, alpha.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/graphics/graphics_bitmap.h"

namespace pictest {

using Bytes = std::vector<uint8_t>;

struct TRgba {
  int width = 0, height = 0;
  std::vector<uint8_t> rgba;
  const uint8_t* At(int x, int y) const { return &rgba[(static_cast<size_t>(y) * width + x) * 4]; }
};

// Every pixel format; pictures without alpha get 255.
TRgba RgbaOf(TBitmap& bitmap);
// One pixel's red, green, blue (and alpha, with channels 4).
std::vector<uint8_t> PixelOf(TBitmap& bitmap, int x, int y, int channels = 4);
// Pillow's Image.open(path).convert("RGBA"), after the Python statements in
// prepare (which see the image as im). Width 0 when Pillow fails.
TRgba PillowRgba(const std::string& path, const std::string& prepare = "");
// ImageMagick's 8-bit RGBA of the file (its first frame, or the given one),
// after the options.
TRgba MagickRgba(const std::string& path, int frame = 0, const std::string& options = "");
// A binary netpbm file (P4, P5, P6; maxval up to 65535, scaled to 8 bits).
// Width 0 when the bytes are not one.
TRgba ReadPnm(const Bytes& bytes);
// Runs a shell command and gives its standard output as bytes.
Bytes CommandBytes(const std::string& command);

// Fails the test at the first few pixels that differ by more than tolerance.
void ExpectSameRgba(const TRgba& ours, const TRgba& theirs, int tolerance = 0, bool alpha = true);

// A memory stream holding the bytes, positioned at the start.
Bytes SaveBytes(TGraphic& graphic);
void LoadBytes(TGraphic& graphic, const Bytes& bytes);

}  // namespace pictest
