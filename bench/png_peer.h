#pragma once
// libpng as the peer of the PNG benchmarks: encoding rows at a given filter set
// and zlib level, and decoding into blue-green-red(-alpha) rows as our DIBs
// hold them. Both work in memory.
#include <png.h>
#include <zlib.h>

#include <vector>

#include "libpng_memory.h"

namespace pngpeer {

using Bytes = std::vector<uint8_t>;

// rowAt(y) gives row y, top first, red first (or blue first with bgr);
// colorType 2 (RGB) or 6 (RGBA). strategy is zlib's; libpng's own choice for
// filtered rows is Z_FILTERED.
template <class RowAt>
Bytes EncodeRows(int width, int height, int colorType, RowAt rowAt, bool bgr, int filters, int level,
                 int strategy = Z_DEFAULT_STRATEGY) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  SetPngMemoryTarget(png, out);
  png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, colorType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_filter(png, 0, filters);
  png_set_compression_level(png, level);
  png_set_compression_strategy(png, strategy);
  png_write_info(png, info);
  if (bgr) png_set_bgr(png);
  for (int y = 0; y < height; y++) png_write_row(png, const_cast<png_bytep>(rowAt(y)));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

// The same over height contiguous rows of width pixels.
inline Bytes Encode(int width, int height, int colorType, const uint8_t* rows, bool bgr, int filters, int level) {
  const size_t stride = size_t(width) * (colorType == 6 ? 4 : 3);
  return EncodeRows(
      width, height, colorType, [&](int y) { return rows + size_t(y) * stride; }, bgr, filters, level);
}

// Decodes into blue-green-red(-alpha) rows, top first; false on a bad file.
inline bool Decode(const Bytes& file, Bytes& pixels) {
  TPngMemorySource src{file.data(), file.size(), 0};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  SetPngMemorySource(png, src);
  png_read_info(png, info);
  png_set_bgr(png);
  png_read_update_info(png, info);
  const size_t stride = png_get_rowbytes(png, info);
  const int h = int(png_get_image_height(png, info));
  pixels.resize(stride * size_t(h));
  for (int y = 0; y < h; y++) png_read_row(png, &pixels[size_t(y) * stride], nullptr);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

}  // namespace pngpeer
