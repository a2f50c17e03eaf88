#include "pictures/psd/psd_test_util.h"

#include <algorithm>
#include <cstddef>

namespace psdtest {

void Put16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v));
}

void Put32(Bytes& b, uint32_t v) {
  Put16(b, v >> 16);
  Put16(b, v & 0xFFFF);
}

Bytes MakePsd(const TPsdSpec& s) {
  Bytes b = {'8', 'B', 'P', 'S'};
  Put16(b, s.version);
  b.insert(b.end(), 6, 0);
  Put16(b, s.channels);
  Put32(b, s.height);
  Put32(b, s.width);
  Put16(b, s.depth);
  Put16(b, s.mode);
  Put32(b, static_cast<uint32_t>(s.modeData.size()));
  b.insert(b.end(), s.modeData.begin(), s.modeData.end());
  Put32(b, 0);
  if (s.layers.empty()) {
    Put32(b, 0);
  } else {
    Bytes info;
    Put16(info, static_cast<uint16_t>(s.layerCount < 0 ? static_cast<int16_t>(s.layers.size()) : s.layerCount));
    for (const TLayerSpec& l : s.layers) {
      for (int32_t v : {l.top, l.left, l.bottom, l.right}) Put32(info, static_cast<uint32_t>(v));
      Put16(info, static_cast<uint16_t>(l.ids.size()));
      for (size_t c = 0; c < l.ids.size(); ++c) {
        Put16(info, static_cast<uint16_t>(l.ids[c]));
        Put32(info, c < l.lengths.size() ? l.lengths[c] : static_cast<uint32_t>(l.channels[c].size()));
      }
      info.insert(info.end(), {'8', 'B', 'I', 'M', 'n', 'o', 'r', 'm', 255, 0, 0, 0});
      Put32(info, 4);
      Put32(info, 0);
    }
    for (const TLayerSpec& l : s.layers)
      for (const Bytes& c : l.channels) info.insert(info.end(), c.begin(), c.end());
    if (info.size() % 2) info.push_back(0);
    Put32(b, static_cast<uint32_t>(info.size() + 8));
    Put32(b, static_cast<uint32_t>(info.size()));
    b.insert(b.end(), info.begin(), info.end());
    Put32(b, 0);
  }
  Put16(b, s.compression);
  b.insert(b.end(), s.image.begin(), s.image.end());
  return b;
}

Bytes PackRows(const std::vector<Bytes>& rows) {
  Bytes counts, data;
  for (const Bytes& row : rows) {
    size_t n = 0;
    for (size_t at = 0; at < row.size(); at += 128) {
      const size_t run = std::min<size_t>(128, row.size() - at);
      data.push_back(static_cast<uint8_t>(run - 1));
      data.insert(data.end(), row.begin() + static_cast<ptrdiff_t>(at), row.begin() + static_cast<ptrdiff_t>(at + run));
      n += run + 1;
    }
    Put16(counts, static_cast<uint32_t>(n));
  }
  counts.insert(counts.end(), data.begin(), data.end());
  return counts;
}

}  // namespace psdtest
