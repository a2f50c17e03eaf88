#pragma once
// Row layout shared by the PNG decoder and encoder: bytes per row and per
// pixel, the Adam7 passes, the Paeth predictor.
#include <cstdint>
#include <cstdlib>

struct TPngPass {
  int firstRow, firstColumn, rowStep, columnStep;
};
inline constexpr TPngPass kAdam7Passes[7] = {{0, 0, 8, 8}, {0, 4, 8, 8}, {4, 0, 8, 4}, {0, 2, 4, 4},
                                             {2, 0, 4, 2}, {0, 1, 2, 2}, {1, 0, 2, 1}};

// Pixels of a pass in a row of the given width.
inline int PassWidth(const TPngPass& p, int width) {
  return width > p.firstColumn ? (width + p.columnStep - p.firstColumn - 1) / p.columnStep : 0;
}

// Bytes of one row of n samples' pixels; 0 for an unknown colour type.
inline int64_t RowBytesFor(int64_t n, int colorType, int bitDepth) {
  switch (colorType) {
    case 0:
    case 3: return (n * bitDepth + 7) / 8;
    case 2: return n * bitDepth * 3 / 8;
    case 4: return n * bitDepth * 2 / 8;
    case 6: return n * bitDepth * 4 / 8;
    default: return 0;
  }
}

// Bytes of one whole pixel, at least 1 (the distance the filters look back).
inline int PixelBytesFor(int colorType, int bitDepth) {
  switch (colorType) {
    case 0: return bitDepth == 16 ? 2 : 1;
    case 3: return 1;
    case 2: return bitDepth * 3 / 8;
    case 4: return bitDepth / 4;
    case 6: return bitDepth / 2;
    default: return 1;
  }
}

// Bytes of the image data once inflated: each row of every pass with its
// filter type byte.
inline uint64_t PngImageDataBytes(int width, int height, int colorType, int bitDepth, bool interlaced) {
  if (width <= 0 || height <= 0) return 0;
  if (!interlaced) return (uint64_t(RowBytesFor(width, colorType, bitDepth)) + 1) * uint64_t(height);
  uint64_t total = 0;
  for (const TPngPass& pass : kAdam7Passes) {
    const uint64_t passRowBytes = uint64_t(RowBytesFor(PassWidth(pass, width), colorType, bitDepth));
    const int rows = height > pass.firstRow ? (height - pass.firstRow + pass.rowStep - 1) / pass.rowStep : 0;
    if (passRowBytes > 0) total += (passRowBytes + 1) * uint64_t(rows);
  }
  return total;
}

inline uint8_t PaethPredict(int a, int b, int c) {
  const int pa = std::abs(b - c);
  const int pb = std::abs(a - c);
  const int pc = std::abs(a + b - 2 * c);
  if (pa <= pb && pa <= pc) return uint8_t(a);
  return pb <= pc ? uint8_t(b) : uint8_t(c);
}
