#pragma once
// Builds BMP files byte by byte for tests, so that every header variant, colour
// table layout and compression can be fed to readers (ours and Pillow).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/graphics/dib_types.h"

namespace qvtest {

struct BmpSpec {
  int headerSize = 40;  // 12, 40, 52, 56, 108 or 124
  int32_t width = 0;
  int32_t height = 0;   // negative: top-down
  int bitCount = 24;
  DWORD compression = BI_RGB;
  std::vector<RGBQUAD> palette;  // written as 3-byte entries for a core header
  DWORD masks[4] = {0, 0, 0, 0};  // after a 40-byte header (3) or inside longer ones
  std::optional<DWORD> clrUsed;   // default: palette size when below the full table, else 0
  std::optional<DWORD> sizeImage; // default: size of data
  std::optional<DWORD> offBits;   // default: right after the colour table
  int planes = 1;
  std::vector<uint8_t> data;      // pixel data as stored
};

std::vector<uint8_t> BuildBmp(const BmpSpec& spec);

// Deterministic filler bytes.
std::vector<uint8_t> PatternBytes(size_t count, uint32_t seed);
// A palette of count distinct colours.
std::vector<RGBQUAD> TestPalette(int count);

// The pixels of a BMP file as Pillow reads them, converted to RGBA, row by row
// from the top: width*height*4 bytes; empty when Pillow fails.
std::vector<uint8_t> PillowPixels(const std::string& path, int* width = nullptr, int* height = nullptr);

struct PillowImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgba;  // empty when Pillow could not read the file
};
// Several files in one run of Python (starting it is the slow part).
std::vector<PillowImage> PillowPixelsOfFiles(const std::vector<std::string>& paths);

}  // namespace qvtest
