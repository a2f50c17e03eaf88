#include "platform/graphics/png_header.h"

#include <cstring>

#include "platform/rtl/byte_order.h"

namespace {

constexpr uint8_t kPngSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
// Length, type and the IHDR fields up to the colour type.
constexpr uint64_t kIhdrNeeded = 8 + 10;

}  // namespace

bool HasPngSignature(const uint8_t* data, size_t size) {
  return data && size > 8 && std::memcmp(data, kPngSignature, 8) == 0;
}

int64_t FindPngHeader(const uint8_t* data, size_t size) {
  constexpr uint64_t at = 8;
  if (!HasPngSignature(data, size) || at + kIhdrNeeded > size) return -1;
  if (ReadBE32(data + at) != 13 || std::memcmp(data + at + 4, "IHDR", 4) != 0) return -1;
  return static_cast<int64_t>(at);
}

uint32_t PngWidth(const uint8_t* data, size_t size) {
  const int64_t p = FindPngHeader(data, size);
  return p < 0 ? 0 : ReadBE32(data + p + 8);
}

uint32_t PngHeight(const uint8_t* data, size_t size) {
  const int64_t p = FindPngHeader(data, size);
  return p < 0 ? 0 : ReadBE32(data + p + 12);
}

int PngBitsPerPixel(const uint8_t* data, size_t size) {
  const int64_t p = FindPngHeader(data, size);
  if (p < 0) return 0;
  const int depth = data[p + 16], colourType = data[p + 17];
  switch (depth + 256 * colourType) {
    case 520: return 24;   // RGB 8
    case 528: return 48;   // RGB 16
    case 769: return 1;    // palette 1, 2, 4, 8
    case 770: return 2;
    case 772: return 4;
    case 776: return 8;
    case 1032: return 16;  // grey with alpha: two samples per pixel
    case 1040: return 32;
    case 1544: return 32;  // RGBA 8
    case 1552: return 64;  // RGBA 16
    default: return depth + 256 * colourType;  // grey: its bit depth
  }
}
