#pragma once
// Size and bit depth of a PNG held in memory, read from its IHDR chunk without
// decoding it.
#include <cstddef>
#include <cstdint>
#include <vector>

// The offset of the IHDR chunk (its length field), or -1 when the data is no PNG,
// meets IEND first, runs out, or the IHDR chunk is cut short.
int64_t FindPngHeader(const uint8_t* data, size_t size);
uint32_t PngWidth(const uint8_t* data, size_t size);
uint32_t PngHeight(const uint8_t* data, size_t size);
// Bits per pixel of the picture (24 for 8-bit RGB, 32 for 8-bit RGBA, the bit
// depth for grey and palette pictures, 16 and 32 for grey with alpha); 0
// without IHDR.
int PngBitsPerPixel(const uint8_t* data, size_t size);

inline int64_t FindPngHeader(const std::vector<uint8_t>& d) { return FindPngHeader(d.data(), d.size()); }
inline uint32_t PngWidth(const std::vector<uint8_t>& d) { return PngWidth(d.data(), d.size()); }
inline uint32_t PngHeight(const std::vector<uint8_t>& d) { return PngHeight(d.data(), d.size()); }
inline int PngBitsPerPixel(const std::vector<uint8_t>& d) { return PngBitsPerPixel(d.data(), d.size()); }
