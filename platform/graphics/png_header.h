#pragma once
// Size and bit depth of a PNG held in memory, read from its IHDR chunk without
// decoding it. The one reading of a PNG's start: icons, resources and the icon
// handles all ask here, so they agree on what is a PNG.
#include <cstddef>
#include <cstdint>
#include <vector>

// The data starts with the eight bytes of a PNG's signature (and has more).
bool HasPngSignature(const uint8_t* data, size_t size);

// The offset of the IHDR chunk (its length field), or -1 when the data is no
// PNG: no signature, a first chunk other than a 13-byte IHDR (a PNG's header
// comes first, and PNG readers refuse a file where it does not), or a header
// cut short before its colour type.
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
