#pragma once
// Histogram matching: a picture's channels remapped so that their level
// distribution follows another picture's.
#include <array>
#include <cstdint>

class TIEBitmap;

// Channel 0, 1, 2: blue, green, red (of ie24RGB, or the high bytes of the
// matching words of ieRGB48). target holds 256 counts over total pixels. Other
// formats and empty pictures are left alone.
void MatchChannelHistogram(TIEBitmap& bitmap, int channel, const std::array<int64_t, 256>& target, int64_t total);
// Matches the three channels of bitmap to those of the ie24RGB reference.
void MatchHistogram(TIEBitmap& reference, TIEBitmap& bitmap);
