#pragma once
// The photograph the JPEG benchmarks load: smooth waves with fine texture,
// written by libjpeg at quality 90, so every benchmark times the same file.
#include <jpeglib.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace benchphoto {

// Row y of the photograph: red, green, blue.
inline void PhotoRow(uint8_t* rgb, int width, int y) {
  for (int x = 0; x < width; ++x)
    for (int k = 0; k < 3; ++k)
      rgb[size_t(x) * 3 + size_t(k)] =
          uint8_t(128 + 100 * std::sin(x * (0.002 + k * 0.001) + y * 0.003) + ((x ^ y) & 15));
}

inline std::vector<uint8_t> MakeJpeg(int width, int height) {
  std::vector<uint8_t> rgb(size_t(width) * 3);
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = JDIMENSION(width);
  c.image_height = JDIMENSION(height);
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 90, TRUE);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    PhotoRow(rgb.data(), width, int(c.next_scanline));
    JSAMPROW row = rgb.data();
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::vector<uint8_t> bytes(out, out + size);
  std::free(out);
  return bytes;
}

}  // namespace benchphoto
