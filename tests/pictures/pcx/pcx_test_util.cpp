#include "pictures/pcx/pcx_test_util.h"

#include <cstddef>

namespace pcxtest {

std::vector<uint8_t> HeaderColour(int i) {
  return {static_cast<uint8_t>(i * 16), static_cast<uint8_t>(255 - i * 8), static_cast<uint8_t>(i * 3)};
}

std::vector<uint8_t> TrailerColour(int i) {
  return {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i / 2)};
}

Bytes MakePcx(const TPcxSpec& s) {
  Bytes b(128, 0);
  b[0] = 10, b[1] = s.version, b[2] = s.encoding, b[3] = s.bits;
  const int height = static_cast<int>(s.rows.size());
  b[8] = static_cast<uint8_t>(s.width - 1), b[9] = static_cast<uint8_t>((s.width - 1) >> 8);
  b[10] = static_cast<uint8_t>(height - 1), b[11] = static_cast<uint8_t>((height - 1) >> 8);
  b[12] = b[14] = 72;
  for (int i = 0; i < 16; ++i) {
    const std::vector<uint8_t> c = HeaderColour(i);
    for (int k = 0; k < 3; ++k) b[static_cast<size_t>(16 + i * 3 + k)] = c[static_cast<size_t>(k)];
  }
  b[65] = s.planes;
  const int bpl = s.rows.empty() ? 0 : static_cast<int>(s.rows[0].size()) / s.planes;
  b[66] = static_cast<uint8_t>(bpl), b[67] = static_cast<uint8_t>(bpl >> 8);
  b[68] = static_cast<uint8_t>(s.paletteInfo);
  for (const Bytes& row : s.rows)
    for (uint8_t v : row) {
      if (s.encoding == 1) b.push_back(0xC1);
      b.push_back(v);
    }
  if (s.trailer) {
    b.push_back(12);
    for (int i = 0; i < 256; ++i)
      for (uint8_t v : TrailerColour(i)) b.push_back(v);
  }
  return b;
}

}  // namespace pcxtest
