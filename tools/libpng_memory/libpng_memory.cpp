#include "libpng_memory.h"

#include <cstring>

namespace {

void ReadFromMemory(png_structp png, png_bytep data, png_size_t length) {
  auto* src = static_cast<TPngMemorySource*>(png_get_io_ptr(png));
  if (length > src->size - src->pos) png_error(png, "read past end");
  std::memcpy(data, src->data + src->pos, length);
  src->pos += length;
}

void WriteToMemory(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

void FlushNothing(png_structp) {}

}  // namespace

void SetPngMemorySource(png_structp png, TPngMemorySource& source) { png_set_read_fn(png, &source, ReadFromMemory); }

void SetPngMemoryTarget(png_structp png, std::vector<uint8_t>& out) {
  png_set_write_fn(png, &out, WriteToMemory, FlushNothing);
}
