#pragma once
// Builds animated cursor files chunk by chunk for the tests, from the RIFF
// layout itself, with the variations old writers produced.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "icon_test_util.h"

namespace anitest {

struct Chunk {
  Chunk() = default;
  Chunk(std::string chunkId, std::vector<uint8_t> chunkData = {}) : id(std::move(chunkId)), data(std::move(chunkData)) {}

  std::string id;                 // four characters
  std::vector<uint8_t> data;
  std::vector<Chunk> children;    // for "LIST": the list type goes in listType
  std::string listType;
  int64_t sizeOverride = -1;      // a size field that lies
};

struct Options {
  bool pad = true;                // odd chunks padded to an even length
  bool sizeIsWholeFile = false;   // the RIFF size counts the 8 header bytes too
};

inline void Append(std::vector<uint8_t>& out, const Chunk& c, const Options& o) {
  std::vector<uint8_t> body;
  if (c.id == "LIST") {
    body.insert(body.end(), c.listType.begin(), c.listType.end());
    for (const Chunk& k : c.children) Append(body, k, o);
  } else {
    body = c.data;
  }
  out.insert(out.end(), c.id.begin(), c.id.end());
  const size_t at = out.size();
  out.resize(at + 4);
  icontest::Put32(out, at, uint32_t(c.sizeOverride >= 0 ? c.sizeOverride : int64_t(body.size())));
  out.insert(out.end(), body.begin(), body.end());
  if (o.pad && (body.size() & 1)) out.push_back(0);
}

inline std::vector<uint8_t> Riff(const std::vector<Chunk>& chunks, const Options& o = {}, int64_t sizeOverride = -1) {
  std::vector<uint8_t> out = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'C', 'O', 'N'};
  for (const Chunk& c : chunks) Append(out, c, o);
  const int64_t size = sizeOverride >= 0 ? sizeOverride : int64_t(out.size()) - (o.sizeIsWholeFile ? 0 : 8);
  icontest::Put32(out, 4, uint32_t(size));
  return out;
}

inline std::vector<uint8_t> Words(const std::vector<uint32_t>& v) {
  std::vector<uint8_t> d(v.size() * 4);
  for (size_t i = 0; i < v.size(); ++i) icontest::Put32(d, i * 4, v[i]);
  return d;
}

inline Chunk Anih(uint32_t frames, uint32_t steps, uint32_t rate, uint32_t flags) {
  return Chunk{"anih", Words({36, frames, steps, 0, 0, 0, 0, rate, flags})};
}

inline Chunk Text(const std::string& id, const std::string& text) {
  std::vector<uint8_t> d(text.begin(), text.end());
  d.push_back(0);
  return Chunk{id, d};
}

// A cursor of one 4-bit 32x32 image filled with fill, with its hotspot.
inline Chunk CursorFrame(uint8_t fill, uint16_t hotX, uint16_t hotY, int size = 32) {
  icontest::Entry e;
  e.bits = icontest::DibImage(size, size, 4, fill);
  e.planes = hotX;
  e.bitCount = hotY;
  return Chunk{"icon", icontest::IcoFile({e}, 2)};
}

inline Chunk Frames(std::vector<Chunk> icons) {
  Chunk list{"LIST"};
  list.listType = "fram";
  list.children = std::move(icons);
  return list;
}

inline Chunk Info(const std::string& title, const std::string& artist) {
  Chunk list{"LIST"};
  list.listType = "INFO";
  list.children = {Text("INAM", title), Text("IART", artist)};
  return list;
}

}  // namespace anitest
