#pragma once
// Channels of bit-field pixels (16-bit BMP and Targa colour, masked DIBs).
#include <cstdint>

#include "platform/graphics/dib_types.h"

// A channel of bits bits widened to 8 by repeating its bits, so that the
// channel's largest value becomes 255 (a 5-bit 31 reads 255, not 248).
BYTE WidenMaskedChannel(uint32_t value, int bits);
