#pragma once
// Small helpers of the format filter tests: a progress record with its own
// abort flag, little-endian byte building and synthetic pictures.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/io/io_params.h"
#include "imaging/io/io_types.h"
#include "platform/rtl/streams.h"

namespace qvtest {

struct Progress {
  std::atomic<bool> abort{false};
  TProgressRecord rec;
  Progress() { rec.AbortFlag = &abort; }
  bool Aborted() const { return abort.load(); }
};

inline void Le16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(uint8_t(x));
  v.push_back(uint8_t(x >> 8));
}
inline void Le32(std::vector<uint8_t>& v, uint32_t x) {
  for (int k = 0; k < 4; ++k) v.push_back(uint8_t(x >> (8 * k)));
}

// A colourful picture whose pixels depend on position only.
inline std::unique_ptr<TIEBitmap> Gradient(int w, int h) {
  auto b = std::make_unique<TIEBitmap>(w, h, ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      b->SetPixelRGB(x, y, MakeRGB(uint8_t(x * 37 + y), uint8_t(y * 53 + 7), uint8_t((x ^ y) * 29)));
  return b;
}

inline std::vector<uint8_t> StreamBytes(TMemoryStream& s) {
  std::vector<uint8_t> out(static_cast<size_t>(s.Size()));
  const int64_t pos = s.Position();
  s.SetPosition(0);
  s.Read(out.data(), s.Size());
  s.SetPosition(pos);
  return out;
}

// "rrggbb" of each pixel from the top, pixels parted by " ", rows ended by "|".
inline std::string Pixels(TIEBitmap& b) {
  std::string out;
  char buf[8];
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      const TRGB c = b.GetPixelAsRGB(x, y);
      std::snprintf(buf, sizeof buf, "%02x%02x%02x", c.r, c.g, c.b);
      out += buf;
      out += x + 1 < b.Width() ? " " : "|";
    }
  return out;
}

}  // namespace qvtest
