#pragma once
// Icon collection files (".icc") built from the format itself: the header
// "ICC0", 1, "ICON", a count, then per entry a compact name, an image count,
// image records (flag byte, 12-byte ICO directory head, data) and two values.
#include <cstdint>
#include <string>
#include <vector>

#include "icon_test_util.h"

namespace icctest {

using Bytes = std::vector<uint8_t>;

inline void Append32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

// One image record: flag 1, the head (sizes from the DIB), the data.
inline Bytes Record(const Bytes& dib, uint8_t w, uint8_t h, uint16_t bits) {
  Bytes r{1, w, h, 0, 0};
  r.push_back(1);  // planes
  r.push_back(0);
  r.push_back(uint8_t(bits));
  r.push_back(uint8_t(bits >> 8));
  Append32(r, uint32_t(dib.size()));
  r.insert(r.end(), dib.begin(), dib.end());
  return r;
}

inline Bytes DibRecord(int side, int bits, uint8_t fill = 0x11) {
  return Record(icontest::DibImage(side, side, bits, fill), uint8_t(side < 256 ? side : 0), uint8_t(side < 256 ? side : 0),
                uint16_t(bits));
}

struct CollectionEntry {
  std::string name;
  std::vector<Bytes> records;
};

inline Bytes Entry(const CollectionEntry& e) {
  Bytes b{uint8_t(e.name.size())};
  b.insert(b.end(), e.name.begin(), e.name.end());
  Append32(b, uint32_t(e.records.size()));
  for (const Bytes& r : e.records) b.insert(b.end(), r.begin(), r.end());
  Append32(b, 7);
  Append32(b, 9);
  return b;
}

// count < 0: the number of entries.
inline Bytes Collection(const std::vector<CollectionEntry>& entries, int64_t count = -1) {
  Bytes b{'I', 'C', 'C', '0'};
  Append32(b, 1);
  b.insert(b.end(), {'I', 'C', 'O', 'N'});
  Append32(b, uint32_t(count >= 0 ? count : int64_t(entries.size())));
  for (const auto& e : entries) {
    const Bytes one = Entry(e);
    b.insert(b.end(), one.begin(), one.end());
  }
  return b;
}

}  // namespace icctest
