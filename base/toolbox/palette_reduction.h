#pragma once
// The palette choice and mapping of ReduceToPalette over raw rows of 24-bit
// (blue, green, red) or 32-bit (blue, green, red, alpha) pixels.
#include <cstdint>
#include <vector>

#include "base/toolbox/pixel_rows.h"

struct TPaletteReductionOptions {
  int PixelBytes = 3;         // 3 or 4; 4 means alpha counts against Threshold
  int MaxColours = 256;       // N, taken down to 256
  int Threshold = 0;          // alpha below it is transparent
  bool KeepBlackAndWhite = false;
  bool Use16Colours = false;
};

// The palette P (0x00BBGGRR entries, at most N) for the picture, starting from
// the given colours.
std::vector<int32_t> ChooseReducedPalette(const TPixelRows& source, const std::vector<int32_t>& start,
                                          const TPaletteReductionOptions& options);
// Writes each pixel's palette index into 8-bit target rows: transparent
// pixels the index of black (0 without black), others the nearest entry.
void MapToPalette(const TPixelRows& source, const TPixelRows& target, const std::vector<int32_t>& palette,
                  const TPaletteReductionOptions& options);
