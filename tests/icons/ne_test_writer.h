#pragma once
// A writer of small 16-bit NE files (icon libraries) for the tests, made from
// the layout of the format: DOS header, NE header, resource table with its
// name strings, resident-name table, and the resources at aligned offsets.
#include <cstdint>
#include <string>
#include <vector>

#include "icon_test_util.h"

namespace netest {

struct Resource {
  std::string name;  // empty: an integer id
  uint16_t id = 0;
  std::vector<uint8_t> bytes;
};
struct TypeBlock {
  uint16_t typeId = 0;  // with bit 15 for an integer type
  std::vector<Resource> resources;
};

struct NEFile {
  std::vector<uint8_t> bytes;
  size_t resourceTable = 0;  // absolute offset
  size_t neHeader = 0;
  // Absolute offset of each resource's 12-byte entry, in block order.
  std::vector<size_t> entryOffsets;
};

inline NEFile Write(const std::vector<TypeBlock>& types, uint16_t shift = 4,
                    const std::vector<std::string>& extraNames = {}) {
  using icontest::Put16;
  using icontest::Put32;
  NEFile out;
  std::vector<uint8_t>& f = out.bytes;
  f.assign(64, 0);
  f[0] = 'M', f[1] = 'Z';
  Put32(f, 60, 64);
  out.neHeader = 64;
  f.resize(128, 0);
  f[64] = 'N', f[65] = 'E';
  f[66] = 5;  // linker version
  const size_t table = 128;
  out.resourceTable = table;
  Put16(f, 64 + 36, uint32_t(table - 64));

  // The table: shift, blocks, terminator, then the name strings.
  std::vector<uint8_t> t(2, 0);
  Put16(t, 0, shift);
  size_t tableSize = 2;
  for (const auto& b : types) tableSize += 8 + 12 * b.resources.size();
  tableSize += 2;
  // Name strings, by offset from the table's start.
  std::vector<uint8_t> strings;
  auto addString = [&](const std::string& s) {
    const size_t at = tableSize + strings.size();
    strings.push_back(uint8_t(s.size()));
    strings.insert(strings.end(), s.begin(), s.end());
    return uint16_t(at);
  };
  for (const auto& s : extraNames) addString(s);
  std::vector<uint16_t> ids;
  for (const auto& b : types)
    for (const auto& r : b.resources) ids.push_back(r.name.empty() ? uint16_t(0x8000 | r.id) : addString(r.name));
  strings.push_back(0);
  const size_t namesAt = table + tableSize + strings.size();
  Put16(f, 64 + 38, uint32_t(namesAt - 64));
  // Resident names: the module name and its ordinal, then the end.
  std::vector<uint8_t> resident = {3, 'I', 'C', 'L', 0, 0, 0};
  size_t dataAt = namesAt + resident.size();
  const size_t unit = size_t(1) << shift;
  dataAt = (dataAt + unit - 1) / unit * unit;

  std::vector<uint8_t> data;
  size_t k = 0;
  for (const auto& b : types) {
    std::vector<uint8_t> head(8, 0);
    Put16(head, 0, b.typeId);
    Put16(head, 2, uint32_t(b.resources.size()));
    t.insert(t.end(), head.begin(), head.end());
    for (const auto& r : b.resources) {
      const size_t at = dataAt + data.size();
      std::vector<uint8_t> e(12, 0);
      Put16(e, 0, uint32_t(at >> shift));
      Put16(e, 2, uint32_t((r.bytes.size() + unit - 1) >> shift));
      Put16(e, 4, 0x0C30);
      Put16(e, 6, ids[k++]);
      out.entryOffsets.push_back(table + t.size());
      t.insert(t.end(), e.begin(), e.end());
      data.insert(data.end(), r.bytes.begin(), r.bytes.end());
      data.resize((data.size() + unit - 1) / unit * unit, 0);
    }
  }
  t.push_back(0), t.push_back(0);
  f.insert(f.end(), t.begin(), t.end());
  f.insert(f.end(), strings.begin(), strings.end());
  f.insert(f.end(), resident.begin(), resident.end());
  f.resize(dataAt, 0);
  f.insert(f.end(), data.begin(), data.end());
  return out;
}

// A group resource: header and one 14-byte entry per image id.
inline std::vector<uint8_t> IconGroup(const std::vector<std::pair<std::vector<uint8_t>, uint16_t>>& images,
                                      uint16_t type = 1) {
  using icontest::Get32;
  using icontest::Put16;
  using icontest::Put32;
  std::vector<uint8_t> g(6 + 14 * images.size(), 0);
  Put16(g, 2, type);
  Put16(g, 4, uint32_t(images.size()));
  for (size_t i = 0; i < images.size(); ++i) {
    const auto& [bits, id] = images[i];
    const size_t at = 6 + 14 * i;
    const uint32_t w = Get32(bits, 4), h = Get32(bits, 8) / 2;
    if (type == 1) {
      g[at] = uint8_t(w), g[at + 1] = uint8_t(h);
      Put16(g, at + 4, 1);
      Put16(g, at + 6, icontest::Get16(bits, 14));
      Put32(g, at + 8, uint32_t(bits.size()));
    } else {
      // Cursor entries: 16-bit sizes, and the byte count includes the hotspot.
      Put16(g, at, w);
      Put16(g, at + 2, h * 2);
      Put16(g, at + 4, 1);
      Put16(g, at + 6, icontest::Get16(bits, 14));
      Put32(g, at + 8, uint32_t(bits.size() + 4));
    }
    Put16(g, at + 12, id);
  }
  return g;
}

inline std::vector<uint8_t> CursorImage(const std::vector<uint8_t>& dib, uint16_t x, uint16_t y) {
  std::vector<uint8_t> c(4, 0);
  icontest::Put16(c, 0, x);
  icontest::Put16(c, 2, y);
  c.insert(c.end(), dib.begin(), dib.end());
  return c;
}

}  // namespace netest
