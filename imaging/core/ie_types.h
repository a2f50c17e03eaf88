#pragma once
// The imaging library's basic types: pixel formats, storage locations and the
// small pixel records that rows are made of.
#include <cstdint>

#include "platform/rtl/byte_order.h"

QV_ASSERT_LITTLE_ENDIAN_HOST();

enum TIEBitmapFormat : uint8_t {
  ieNoFormat = 0,
  ie1g = 1,      // 1 bit, most significant bit first, set = white
  ie8p = 2,      // palette index
  ie8g = 3,      // grey byte
  ie16g = 4,     // grey word
  ie24RGB = 5,   // blue, green, red
  ie32f = 6,     // grey float, 0.0 black .. 1.0 white
  ieCMYK = 7,    // inverted inks C, M, Y, K (255 = no ink)
  ieRGB48 = 8,   // words red, green, blue
  ieCIELab = 9,  // L scaled by 2.55, a and b signed
  ie32RGB = 10,  // blue, green, red and a byte that drawing ignores
};
constexpr int kIEFormatCount = 11;

enum TIEStorageLocation : uint8_t { ieMemory = 0, ieFile = 1, ieTBitmap = 2 };

// Bits per pixel and channels of each format, indexed by the format value.
constexpr int kIEBitsPerPixel[kIEFormatCount] = {0, 1, 8, 8, 16, 24, 32, 32, 48, 24, 32};
constexpr int kIEChannels[kIEFormatCount] = {0, 1, 1, 1, 1, 3, 1, 4, 3, 3, 4};
// Mask of pixel x inside its byte of an ie1g row, indexed by x mod 8.
constexpr uint8_t kIEBitMask[8] = {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};

inline int IEBitsPerPixel(TIEBitmapFormat f) { return f < kIEFormatCount ? kIEBitsPerPixel[f] : 0; }
inline int IEChannels(TIEBitmapFormat f) { return f < kIEFormatCount ? kIEChannels[f] : 0; }

#pragma pack(push, 1)
// One pixel of a 24-bit row, and one palette entry: blue, green, red in memory.
struct TRGB {
  uint8_t b = 0;
  uint8_t g = 0;
  uint8_t r = 0;
  friend bool operator==(const TRGB&, const TRGB&) = default;
};
struct TRGB48 {
  uint16_t r = 0;
  uint16_t g = 0;
  uint16_t b = 0;
  friend bool operator==(const TRGB48&, const TRGB48&) = default;
};
struct TCMYK {
  uint8_t c = 0;
  uint8_t m = 0;
  uint8_t y = 0;
  uint8_t k = 0;
  friend bool operator==(const TCMYK&, const TCMYK&) = default;
};
struct TCIELab {
  uint8_t l = 0;
  int8_t a = 0;
  int8_t b = 0;
  friend bool operator==(const TCIELab&, const TCIELab&) = default;
};
#pragma pack(pop)
static_assert(sizeof(TRGB) == 3);
static_assert(sizeof(TRGB48) == 6);
static_assert(sizeof(TCMYK) == 4);
static_assert(sizeof(TCIELab) == 3);

inline TRGB MakeRGB(uint8_t r, uint8_t g, uint8_t b) { return TRGB{b, g, r}; }
