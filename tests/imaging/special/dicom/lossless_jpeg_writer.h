#pragma once
// A small lossless JPEG (SOF3) writer for the decoder's tests: any predictor,
// precision, point transform and restart interval, and Huffman tables whose
// identifiers need not follow their order of definition.
#include <cstdint>
#include <vector>

namespace qvtest {

struct TLosslessOptions {
  int width = 0, height = 0, components = 1;
  int precision = 8;
  int predictor = 1;
  int pointTransform = 0;
  int restartRows = 0;  // 0: no restart interval
  // A decoy table with identifier 0 is defined first, the one the scan
  // selects (identifier 1) second.
  bool swappedTables = false;
};

// samples: rows top first, components side by side, each below 2^precision.
std::vector<uint8_t> WriteLosslessJpeg(const std::vector<uint16_t>& samples, const TLosslessOptions& o);

}  // namespace qvtest
