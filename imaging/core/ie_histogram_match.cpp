#include "imaging/core/ie_histogram_match.h"

#include <cmath>

#include "imaging/core/ie_bitmap.h"

namespace {

// Sample of channel (0 blue, 1 green, 2 red) in a row, by format.
struct TChannelAccess {
  bool Wide;  // ieRGB48: words red, green, blue
  int Channel;
  int Get(const uint8_t* row, int x) const {
    if (!Wide) return row[3 * x + Channel];
    const uint16_t* w = reinterpret_cast<const uint16_t*>(row);
    return w[3 * x + (2 - Channel)] >> 8;
  }
  void Set(uint8_t* row, int x, int v) const {
    if (!Wide) {
      row[3 * x + Channel] = uint8_t(v);
      return;
    }
    uint16_t* w = reinterpret_cast<uint16_t*>(row);
    w[3 * x + (2 - Channel)] = uint16_t(v * 257);
  }
};

void Remap(TIEBitmap& bitmap, const TChannelAccess& a, const int map[256]) {
  for (int y = 0; y < bitmap.Height(); ++y) {
    uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < bitmap.Width(); ++x) a.Set(row, x, map[a.Get(row, x)]);
  }
}

}  // namespace

void MatchChannelHistogram(TIEBitmap& bitmap, int channel, const std::array<int64_t, 256>& target, int64_t total) {
  if (bitmap.IsEmpty() || total <= 0 || channel < 0 || channel > 2) return;
  const TIEBitmapFormat f = bitmap.PixelFormat();
  if (f != ie24RGB && f != ieRGB48) return;
  const TChannelAccess a{f == ieRGB48, channel};
  int64_t histogram[256] = {};
  for (int y = 0; y < bitmap.Height(); ++y) {
    const uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < bitmap.Width(); ++x) ++histogram[a.Get(row, x)];
  }
  // Equalise first, then map each level to the target level whose equalised
  // value is closest.
  const double pixels = double(bitmap.Width()) * bitmap.Height();
  int equalise[256];
  int64_t run = 0;
  for (int i = 0; i < 256; ++i) {
    run += histogram[i];
    equalise[i] = int(std::trunc(double(run) * 255.0 / pixels));
  }
  Remap(bitmap, a, equalise);
  double t[256];
  run = 0;
  for (int j = 0; j < 256; ++j) {
    run += target[size_t(j)];
    t[j] = double(run) * 255.0 / double(total);
  }
  int inverse[256];
  for (int i = 0; i < 256; ++i) {
    int best = 0;
    for (int j = 1; j < 256; ++j)
      if (std::fabs(t[j] - i) < std::fabs(t[best] - i)) best = j;
    inverse[i] = best;
  }
  Remap(bitmap, a, inverse);
}

void MatchHistogram(TIEBitmap& reference, TIEBitmap& bitmap) {
  if (reference.PixelFormat() != ie24RGB || reference.IsEmpty() || bitmap.IsEmpty()) return;
  std::array<int64_t, 256> h[3] = {};
  for (int y = 0; y < reference.Height(); ++y) {
    const uint8_t* row = reference.ScanLine(y);
    for (int x = 0; x < reference.Width(); ++x)
      for (int c = 0; c < 3; ++c) ++h[c][row[3 * x + c]];
  }
  const int64_t total = int64_t(reference.Width()) * reference.Height();
  for (int c = 0; c < 3; ++c) MatchChannelHistogram(bitmap, c, h[c], total);
}
