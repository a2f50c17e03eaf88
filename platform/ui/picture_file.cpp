#include "platform/ui/picture_file.h"

#include <png.h>

#include <cstdio>
#include <vector>

#include "platform/graphics/graphics_bitmap.h"
#include "platform/rtl/exceptions.h"

namespace {

// libpng reports errors through longjmp; the writer stays in C for that.
bool WriteRows(FILE* file, int width, int height, const std::vector<std::vector<uint8_t>>& rows) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (const auto& row : rows) png_write_row(png, row.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

void SavePicturePng(TBitmap* bitmap, const std::string& fileName) {
  if (!bitmap || bitmap->Empty()) throw EInvalidGraphic("The picture is empty");
  TBitmap copy;
  copy.Assign(bitmap);
  copy.SetPixelFormat(pf24bit);
  int w = copy.Width(), h = copy.Height();
  std::vector<std::vector<uint8_t>> rows(static_cast<size_t>(h), std::vector<uint8_t>(static_cast<size_t>(w) * 3));
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = static_cast<const uint8_t*>(copy.ScanLine(y));
    uint8_t* d = rows[y].data();
    for (int x = 0; x < w; ++x, s += 3, d += 3) {
      d[0] = s[2];
      d[1] = s[1];
      d[2] = s[0];
    }
  }
  std::string temp = fileName + ".part";
  FILE* file = std::fopen(temp.c_str(), "wb");
  if (!file) throw EFCreateError("Cannot create file \"" + fileName + "\"");
  bool ok = WriteRows(file, w, h, rows);
  ok = std::fclose(file) == 0 && ok;
  if (!ok || std::rename(temp.c_str(), fileName.c_str()) != 0) {
    std::remove(temp.c_str());
    throw EFCreateError("Cannot create file \"" + fileName + "\"");
  }
}
