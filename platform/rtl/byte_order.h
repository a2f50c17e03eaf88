#pragma once
// Fixed-width integers of file formats read from and written to unaligned bytes,
// in either byte order. Every reader and writer of a file format uses these, so a
// format's byte order is spelled once at its call sites and nowhere re-derived.
#include <bit>
#include <cstdint>
#include <vector>

// Structures of Windows file formats (bitmap and icon headers, executable
// headers, metafile records) are read by copying their bytes into a struct.
// That is only right on a little-endian host; headers that do it assert this.
inline constexpr bool kLittleEndianHost = std::endian::native == std::endian::little;
#define QV_ASSERT_LITTLE_ENDIAN_HOST() \
  static_assert(kLittleEndianHost, "on-disk structures are copied into structs; this host would need byte swapping")

inline uint16_t ReadLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ReadLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t ReadLE64(const uint8_t* p) { return ReadLE32(p) | (static_cast<uint64_t>(ReadLE32(p + 4)) << 32); }
inline int16_t ReadLEI16(const uint8_t* p) { return static_cast<int16_t>(ReadLE16(p)); }
inline int32_t ReadLEI32(const uint8_t* p) { return static_cast<int32_t>(ReadLE32(p)); }

inline uint16_t ReadBE16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t ReadBE32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
inline uint64_t ReadBE64(const uint8_t* p) { return (static_cast<uint64_t>(ReadBE32(p)) << 32) | ReadBE32(p + 4); }

inline void WriteLE16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void WriteLE32(uint8_t* p, uint32_t v) {
  WriteLE16(p, v & 0xFFFF);
  WriteLE16(p + 2, v >> 16);
}
inline void WriteBE16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void WriteBE32(uint8_t* p, uint32_t v) {
  WriteBE16(p, v >> 16);
  WriteBE16(p + 2, v & 0xFFFF);
}

inline void AppendLE16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
inline void AppendLE32(std::vector<uint8_t>& out, uint32_t v) {
  AppendLE16(out, v & 0xFFFF);
  AppendLE16(out, v >> 16);
}
inline void AppendBE16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}
inline void AppendBE32(std::vector<uint8_t>& out, uint32_t v) {
  AppendBE16(out, v >> 16);
  AppendBE16(out, v & 0xFFFF);
}
