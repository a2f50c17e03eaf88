#pragma once
// Colour-space formulas of the core: CIE L*a*b* for the ieCIELab format, JFIF
// YCbCr, and the plain (profile-free) RGB to CMYK mapping of the ieCMYK format.
#include <cstdint>

#include "imaging/core/ie_types.h"

// Colour packed red << 16 | green << 8 | blue (a pixel's three bytes read as one
// little-endian value); the result packs L in bits 0..7, a in 8..15, b in 16..23.
uint32_t ConvertRGBToCIELab(uint32_t packedRGB);
TRGB ConvertCIELabToRGB(uint8_t l, int8_t a, int8_t b);
inline TCIELab CIELabOf(TRGB p) {
  const uint32_t v = ConvertRGBToCIELab((uint32_t(p.r) << 16) | (uint32_t(p.g) << 8) | p.b);
  return TCIELab{static_cast<uint8_t>(v & 0xFF), static_cast<int8_t>((v >> 8) & 0xFF),
                 static_cast<int8_t>((v >> 16) & 0xFF)};
}

// Inverted inks of a colour without a colour profile: K is the largest channel,
// C, M, Y each channel times 255 / K; black gives C = M = Y = 255, K = 0.
TCMYK RGBToCMYKPlain(TRGB p);

void RGBToYCbCr(uint8_t& y, uint8_t& cb, uint8_t& cr, TRGB pixel);
void YCbCrToRGB(TRGB& pixel, uint8_t y, uint8_t cb, uint8_t cr);
