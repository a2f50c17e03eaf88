#pragma once
// Helpers of the PNG tests: PNG files written and read by libpng (the oracle),
// hand-made chunk streams for damaged files, and the samples our picture holds.
#include <cstdint>
#include <string>
#include <vector>

#include "pictures/png/png_image.h"

namespace pngtest {

using Bytes = std::vector<uint8_t>;

// A PNG file that libpng writes.
struct TLibpngImage {
  int width = 0, height = 0;
  int colorType = 0, bitDepth = 8;
  bool interlaced = false;
  bool withTrns = false;    // palette: entries 0..k with varied alpha; grey/rgb: one colour
  bool withGamma = false;   // gAMA 0.6 (a value far from the identity)
  bool withText = false;    // two tEXt chunks
  int filters = 0xF8;       // libpng's PNG_ALL_FILTERS: every row filter is tried
  int level = 6;
  Bytes rows;               // height rows of packed PNG samples, top row first
};

// Fills rows with pseudo-random samples (every palette index is valid: the
// palette has 2^depth entries).
void FillRandomRows(TLibpngImage& img, uint32_t seed);
// Bytes of one packed PNG row.
size_t PngRowBytes(int width, int colorType, int bitDepth);
Bytes WriteWithLibpng(const TLibpngImage& img);

// What libpng decodes: one byte per sample (16-bit samples keep their high byte,
// samples below 8 bits their value), channels per pixel 1 to 4, palettes
// unexpanded, tRNS not applied.
struct TSamples {
  int width = 0, height = 0, channels = 0;
  Bytes data;
  bool ok = false;
  std::string error;
};
TSamples ReadWithLibpng(const Bytes& file);
// The same samples taken from our decoded picture.
TSamples SamplesOf(const TPNGImage& png);

// zlib pieces for hand-made files.
Bytes Deflate(const Bytes& raw, int level = 6);
Bytes Inflate(const Bytes& compressed);
Bytes Chunk(const char* name, const Bytes& data);
Bytes Ihdr(uint32_t width, uint32_t height, uint8_t depth, uint8_t colorType, uint8_t interlace = 0);
Bytes Concat(std::initializer_list<Bytes> parts);
Bytes Signature();
// A whole file: signature, IHDR, the middle chunks, one IDAT of the raw
// (already filtered) rows, IEND.
Bytes SimplePng(uint32_t width, uint32_t height, uint8_t depth, uint8_t colorType, const Bytes& rawRows,
                std::initializer_list<Bytes> middle = {});

// Our picture loaded from bytes or saved to bytes.
void LoadBytes(TPNGImage& png, const Bytes& file);
Bytes SaveBytes(TPNGImage& png);

// The chunks of a PNG file: name and data, in order.
struct TChunkInfo {
  std::string name;
  Bytes data;
};
std::vector<TChunkInfo> ListChunks(const Bytes& file);
// The concatenated data of all IDAT chunks.
Bytes IdatData(const Bytes& file);

}  // namespace pngtest
