#pragma once
// Builders of icns files and resource forks for the Mac icon tests, written
// from the formats themselves, and the pixels of a decoded image.
#include <cstdint>
#include <string>
#include <vector>

#include "icons/mac_icons.h"

namespace mactest {

using Bytes = std::vector<uint8_t>;

inline void PutBig32(Bytes& v, uint32_t x) {
  for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<uint8_t>(x >> s));
}

// One element: type, big-endian length counting the 8-byte head, data.
inline Bytes Element(const std::string& type, const Bytes& data) {
  Bytes e(type.begin(), type.end());
  PutBig32(e, static_cast<uint32_t>(data.size() + 8));
  e.insert(e.end(), data.begin(), data.end());
  return e;
}

inline Bytes Icns(const std::vector<Bytes>& elements) {
  Bytes body;
  for (const Bytes& e : elements) body.insert(body.end(), e.begin(), e.end());
  Bytes f = {'i', 'c', 'n', 's'};
  PutBig32(f, static_cast<uint32_t>(body.size() + 8));
  f.insert(f.end(), body.begin(), body.end());
  return f;
}

// A run-length channel of count equal values: runs of at most 130.
inline void RepeatRun(Bytes& out, size_t count, uint8_t value) {
  while (count > 0) {
    const size_t n = count > 130 ? 130 : count;
    if (n >= 3) {
      out.push_back(static_cast<uint8_t>(n + 125));
      out.push_back(value);
    } else {
      out.push_back(static_cast<uint8_t>(n - 1));
      for (size_t i = 0; i < n; ++i) out.push_back(value);
    }
    count -= n;
  }
}

// A resource fork: 256 bytes of header space, then each resource as a
// big-endian length and its data.
inline Bytes ResourceFork(const std::vector<Bytes>& resources, const Bytes& head = Bytes(256, 0)) {
  Bytes f = head;
  for (const Bytes& r : resources) {
    PutBig32(f, static_cast<uint32_t>(r.size()));
    f.insert(f.end(), r.begin(), r.end());
  }
  return f;
}

// Blue, green, red, alpha of a 32-bit image at (x, y).
inline const uint8_t* Pixel32(TBitmap& bitmap, int x, int y) {
  return static_cast<const uint8_t*>(bitmap.ScanLine(y)) + x * 4;
}

inline TMacIconImages ReadData(const Bytes& data) {
  TMacIconImages images;
  ReadMacIconData(data.data(), data.size(), images);
  return images;
}

}  // namespace mactest
