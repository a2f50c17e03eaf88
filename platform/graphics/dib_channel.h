#pragma once
// Channels of bit-field pixels (16-bit BMP and Targa colour, masked DIBs).
#include <cstdint>

#include "platform/graphics/dib_types.h"

// A channel of bits bits widened to 8 by repeating its bits, so that the
// channel's largest value becomes 255 (a 5-bit 31 reads 255, not 248).
BYTE WidenMaskedChannel(uint32_t value, int bits);

// A channel of bits bits scaled to 8 as v x 255 / (2^bits - 1), truncated: the
// largest value reads 255 and the others as the BMP and Targa readers of
// Pillow and ImageMagick read them (a 5-bit 4 reads 32).
inline BYTE ScaleMaskedChannel(uint32_t value, int bits) {
  if (bits <= 0) return 0;
  if (bits >= 8) return static_cast<BYTE>(value >> (bits - 8));
  return static_cast<BYTE>(value * 255 / ((1u << bits) - 1));
}
