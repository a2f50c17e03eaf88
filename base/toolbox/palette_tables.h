#pragma once
// The icon side's three standard palettes, entries red, green, blue, and the
// colour arithmetic shared by the palette routines. Colours in lists are
// 0x00BBGGRR (red in the low byte).
#include <cstdint>

struct TPaletteTableEntry {
  uint8_t R, G, B;
};

extern const TPaletteTableEntry StandardPalette2[2];
extern const TPaletteTableEntry StandardPalette16[16];
// The first 16 entries are the 16 colours with C0C0C0 before 808080; then 20
// greys, four system colours and 18 hues of 12 shades.
extern const TPaletteTableEntry StandardPalette256[256];

constexpr int32_t TableColour(const TPaletteTableEntry& e) {
  return static_cast<int32_t>(e.R | (e.G << 8) | (e.B << 16));
}
constexpr int32_t kBlack = 0x000000;
constexpr int32_t kWhite = 0xFFFFFF;

// Squared distance over red, green and blue.
inline int ColourDistance(int32_t a, int32_t b) {
  const int dr = (a & 0xFF) - (b & 0xFF), dg = ((a >> 8) & 0xFF) - ((b >> 8) & 0xFF),
            db = ((a >> 16) & 0xFF) - ((b >> 16) & 0xFF);
  return dr * dr + dg * dg + db * db;
}

// The first index with the smallest distance to colour; -1 for no entries.
int NearestColourIndex(const int32_t* colours, int count, int32_t colour);
