#pragma once
// Conversions of whole pixel rows between the byte orders of files (red
// first, alpha interleaved) and of DIBs (blue first, alpha apart or fourth),
// sixteen bytes at a time where the processor has byte shuffles (SSSE3, seen
// at run time), a pixel at a time elsewhere. Source and destination never
// overlap.
#include <cstdint>

// Red, green, blue to blue, green, red (and back: the swap is its own inverse).
void SwapRgbRow(const uint8_t* src, uint8_t* dst, int count);
// Red, green, blue, alpha to blue, green, red and a plane of alpha.
void RgbaToBgrAndAlpha(const uint8_t* src, uint8_t* bgr, uint8_t* alpha, int count);
// Blue, green, red and a plane of alpha to red, green, blue, alpha.
void BgrAndAlphaToRgba(const uint8_t* bgr, const uint8_t* alpha, uint8_t* dst, int count);
// Blue, green, red and a plane of alpha to blue, green, red, alpha.
void BgrAndAlphaToBgra(const uint8_t* bgr, const uint8_t* alpha, uint8_t* dst, int count);
// The same, with every pixel whose alpha is 0 cleared to 0 (an icon's colour
// image holds nothing where its mask lets the screen through); when mask is
// given, its bytes for the row (one bit a pixel, the first pixel the high bit)
// are written: set where alpha is 0. Bits past the last pixel are 0.
void BgrAndAlphaToBgraClearingTransparent(const uint8_t* bgr, const uint8_t* alpha, uint8_t* dst, uint8_t* mask,
                                          int count);
// In place on blue, green, red, alpha: the pixels whose alpha is 0 cleared to 0
// and the mask bytes written, as BgrAndAlphaToBgraClearingTransparent does.
void ClearTransparentBgra(uint8_t* bgra, uint8_t* mask, int count);
// Red, green, blue, alpha to blue, green, red, alpha.
void SwapRgbaRow(const uint8_t* src, uint8_t* dst, int count);
// Red, green, blue to blue, green, red and an opaque alpha (255).
void RgbToOpaqueBgra(const uint8_t* src, uint8_t* dst, int count);
