#pragma once
// Photoshop documents written byte by byte, for the cases no outside program
// writes (Lab, duotone, bad files).
#include <cstdint>
#include <vector>

namespace psdtest {

using Bytes = std::vector<uint8_t>;

struct TLayerSpec {
  int32_t top = 0, left = 0, bottom = 0, right = 0;
  std::vector<int16_t> ids;
  std::vector<Bytes> channels;  // each as stored: compression word and data
  std::vector<uint32_t> lengths;  // recorded lengths; the channel's size when empty
};

struct TPsdSpec {
  uint16_t version = 1, channels = 3, depth = 8, mode = 3;
  uint32_t width = 0, height = 0;
  Bytes modeData;
  std::vector<TLayerSpec> layers;
  int16_t layerCount = -1;  // the number of layers when negative
  uint16_t compression = 0;
  Bytes image;  // after the compression word
};

void Put16(Bytes& b, uint32_t v);
void Put32(Bytes& b, uint32_t v);
Bytes MakePsd(const TPsdSpec& spec);
// Each row packed as one literal run per 128 bytes: the byte counts of every
// row, then the rows.
Bytes PackRows(const std::vector<Bytes>& rows);

}  // namespace psdtest
