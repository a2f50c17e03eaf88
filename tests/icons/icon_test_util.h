#pragma once
// Builders of icon images and ICO files for the tests, written from the file
// format itself so that they do not lean on the code under test.
#include <cstdint>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace icontest {

inline void Put16(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  v[at] = x & 0xFF;
  v[at + 1] = (x >> 8) & 0xFF;
}
inline void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = (x >> (8 * i)) & 0xFF;
}
inline uint32_t Get32(const std::vector<uint8_t>& v, size_t at) {
  return v[at] | (v[at + 1] << 8) | (v[at + 2] << 16) | (uint32_t(v[at + 3]) << 24);
}
inline uint16_t Get16(const std::vector<uint8_t>& v, size_t at) { return uint16_t(v[at] | (v[at + 1] << 8)); }

inline size_t RowBytes(int w, int bpp) { return size_t((w * bpp + 31) / 32) * 4; }

// A packed icon DIB: 40-byte header with the height doubled, a grey colour
// table for paletted depths, colour rows filled with fill, an AND mask of zeros.
// headerHeight and headerWidth overwrite the header fields unless they are kKeep.
inline constexpr int64_t kKeep = INT64_MIN;
inline std::vector<uint8_t> DibImage(int w, int h, int bpp, uint8_t fill = 0x11, int64_t headerWidth = kKeep,
                                     int64_t headerHeight = kKeep) {
  const size_t colours = bpp <= 8 ? (size_t(1) << bpp) : 0;
  const size_t colourBytes = RowBytes(w, bpp) * size_t(h);
  const size_t maskBytes = RowBytes(w, 1) * size_t(h);
  std::vector<uint8_t> d(40 + colours * 4 + colourBytes + maskBytes, 0);
  Put32(d, 0, 40);
  Put32(d, 4, uint32_t(headerWidth != kKeep ? headerWidth : w));
  Put32(d, 8, uint32_t(headerHeight != kKeep ? headerHeight : 2 * h));
  Put16(d, 12, 1);
  Put16(d, 14, uint32_t(bpp));
  for (size_t i = 0; i < colours; ++i) {
    const uint8_t g = uint8_t(i * 255 / (colours - 1));
    d[40 + i * 4] = d[41 + i * 4] = d[42 + i * 4] = g;
  }
  std::memset(d.data() + 40 + colours * 4, fill, colourBytes);
  return d;
}

struct Entry {
  std::vector<uint8_t> bits;
  uint8_t w = 0, h = 0;
  uint16_t planes = 1;  // hotspot x for cursors
  uint16_t bitCount = 32;  // hotspot y for cursors
  int64_t offset = -1;  // -1: behind the previous image
  int64_t size = -1;    // -1: the length of bits
};

// An ICO/CUR file: header, entries, the images in order.
inline std::vector<uint8_t> IcoFile(const std::vector<Entry>& entries, uint16_t type = 1, int count = -1) {
  const size_t n = entries.size();
  std::vector<uint8_t> f(6 + 16 * n, 0);
  Put16(f, 2, type);
  Put16(f, 4, uint32_t(count >= 0 ? count : int(n)));
  for (size_t i = 0; i < n; ++i) {
    const Entry& e = entries[i];
    const size_t at = 6 + 16 * i;
    f[at] = e.w;
    f[at + 1] = e.h;
    // Sizes left 0 for a DIB are taken from its header, as a writer would.
    if (e.w == 0 && e.h == 0 && e.bits.size() >= 40 && e.bits[0] == 40) {
      const uint32_t w = Get32(e.bits, 4), h = Get32(e.bits, 8) / 2;
      f[at] = w < 256 ? uint8_t(w) : 0;
      f[at + 1] = h < 256 ? uint8_t(h) : 0;
    }
    Put16(f, at + 4, e.planes);
    Put16(f, at + 6, e.bitCount);
    Put32(f, at + 8, uint32_t(e.size >= 0 ? e.size : int64_t(e.bits.size())));
    Put32(f, at + 12, uint32_t(e.offset >= 0 ? e.offset : int64_t(f.size())));
    f.insert(f.end(), e.bits.begin(), e.bits.end());
  }
  return f;
}

// A minimal PNG: signature and an IHDR chunk of the given size and colour type
// (no CRC check is made by the header peek; the CRC is left 0), then IEND.
inline std::vector<uint8_t> PngHeaderOnly(uint32_t w, uint32_t h, uint8_t depth = 8, uint8_t colourType = 6) {
  std::vector<uint8_t> p = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  for (int i = 3; i >= 0; --i) p.push_back((w >> (8 * i)) & 0xFF);
  for (int i = 3; i >= 0; --i) p.push_back((h >> (8 * i)) & 0xFF);
  p.insert(p.end(), {depth, colourType, 0, 0, 0, 0, 0, 0, 0});
  p.insert(p.end(), {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82});
  return p;
}

}  // namespace icontest
