#pragma once
// A small builder of little-endian TIFF files for the reader's tests: entries
// of SHORT, LONG, RATIONAL, ASCII or raw values, one page after another, with
// the strip data placed after the directories.
#include <cstdint>
#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace qvtest {

struct TiffEntry {
  uint16_t tag;
  uint16_t type;  // 3 SHORT, 4 LONG, 5 RATIONAL, 2 ASCII, 7 UNDEFINED, 1 BYTE
  std::vector<uint32_t> values;  // rationals as numerator, denominator pairs
  std::vector<uint8_t> bytes;    // ASCII, BYTE and UNDEFINED
};

struct TiffPage {
  std::vector<TiffEntry> entries;
  std::vector<uint8_t> strip;  // tag 273 points at it, 279 counts it (when not given)
};

inline void PutLE(std::vector<uint8_t>& v, size_t at, uint32_t x, int n) {
  for (int i = 0; i < n; ++i) v[at + size_t(i)] = uint8_t(x >> (8 * i));
}

// Builds the file; each page's entries are written sorted as given (callers
// list them in order), strips land after all directories.
inline std::vector<uint8_t> BuildTiff(const std::vector<TiffPage>& pages) {
  std::vector<uint8_t> f = {'I', 'I', 42, 0, 8, 0, 0, 0};
  std::vector<size_t> nextLinks;
  std::vector<std::pair<size_t, size_t>> stripLinks;  // (value field, page)
  for (size_t p = 0; p < pages.size(); ++p) {
    const size_t at = f.size();
    if (p > 0) PutLE(f, nextLinks.back(), uint32_t(at), 4);
    std::vector<TiffEntry> entries = pages[p].entries;
    bool hasOffsets = false, hasCounts = false;
    for (const auto& e : entries) hasOffsets |= e.tag == 273, hasCounts |= e.tag == 279;
    if (!hasOffsets && !pages[p].strip.empty()) entries.push_back({273, 4, {0}, {}});
    if (!hasCounts && !pages[p].strip.empty()) entries.push_back({279, 4, {uint32_t(pages[p].strip.size())}, {}});
    std::stable_sort(entries.begin(), entries.end(), [](const TiffEntry& a, const TiffEntry& b) { return a.tag < b.tag; });
    f.resize(at + 2 + 12 * entries.size() + 4, 0);
    PutLE(f, at, uint32_t(entries.size()), 2);
    nextLinks.push_back(at + 2 + 12 * entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      const TiffEntry& e = entries[i];
      const size_t ent = at + 2 + 12 * i;
      const int size = e.type == 3 ? 2 : e.type == 4 ? 4 : e.type == 5 ? 8 : 1;
      const size_t count = e.type == 5 ? e.values.size() / 2 : e.bytes.empty() ? e.values.size() : e.bytes.size();
      PutLE(f, ent, e.tag, 2);
      PutLE(f, ent + 2, e.type, 2);
      PutLE(f, ent + 4, uint32_t(count), 4);
      std::vector<uint8_t> data(count * size_t(size));
      if (!e.bytes.empty()) data = e.bytes;
      else if (e.type == 5) for (size_t k = 0; k < e.values.size(); ++k) PutLE(data, 4 * k, e.values[k], 4);
      else for (size_t k = 0; k < e.values.size(); ++k) PutLE(data, k * size_t(size), e.values[k], size);
      if (e.tag == 273 && !hasOffsets) stripLinks.push_back({ent + 8, p});
      if (data.size() <= 4) {
        for (size_t k = 0; k < data.size(); ++k) f[ent + 8 + k] = data[k];
      } else {
        if (f.size() & 1) f.push_back(0);
        PutLE(f, ent + 8, uint32_t(f.size()), 4);
        f.insert(f.end(), data.begin(), data.end());
      }
    }
  }
  for (auto [link, p] : stripLinks) {
    PutLE(f, link, uint32_t(f.size()), 4);
    f.insert(f.end(), pages[p].strip.begin(), pages[p].strip.end());
  }
  return f;
}

// One page of width x height, the common tags and the strip.
inline TiffPage SimplePage(uint32_t width, uint32_t height, uint32_t bits, uint32_t samples, uint32_t photometric,
                           uint32_t compression, std::vector<uint8_t> strip, std::vector<TiffEntry> more = {}) {
  TiffPage p;
  p.entries = {{256, 4, {width}, {}}, {257, 4, {height}, {}}, {258, 3, std::vector<uint32_t>(samples, bits), {}},
               {259, 3, {compression}, {}}, {262, 3, {photometric}, {}}, {277, 3, {samples}, {}}};
  p.entries.insert(p.entries.end(), more.begin(), more.end());
  p.strip = std::move(strip);
  return p;
}

}  // namespace qvtest
