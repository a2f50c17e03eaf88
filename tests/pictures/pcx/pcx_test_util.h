#pragma once
// PCX files written byte by byte for the tests.
#include <cstdint>
#include <vector>

namespace pcxtest {

using Bytes = std::vector<uint8_t>;

struct TPcxSpec {
  uint8_t version = 5, encoding = 1, bits = 1, planes = 1;
  int width = 1;
  uint16_t paletteInfo = 1;
  bool trailer = false;
  std::vector<Bytes> rows;  // each: the planes' bytes one after the other
};

// Header colour i is (i * 16, 255 - i * 8, i * 3); trailer colour i is
// (i, 255 - i, i / 2).
std::vector<uint8_t> HeaderColour(int i);
std::vector<uint8_t> TrailerColour(int i);
// Rows run-length encoded byte by byte (every byte a run of one) when encoded.
Bytes MakePcx(const TPcxSpec& spec);

}  // namespace pcxtest
