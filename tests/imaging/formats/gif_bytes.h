#pragma once
// Hand-made GIF streams for the GIF filter and composition tests: a header
// with a given global table, a graphic control block, and the LZW data of an
// index buffer coded by the picture's encoder (giflib pins that encoder in
// the oracle tests).
#include <vector>

#include "pictures/gif/gif_codec.h"
#include "tests/imaging/formats/format_test_util.h"
#include "tests/pictures/gif/gif_test_util.h"

namespace giftest {

inline GifBytes& Pixels(GifBytes& g, int bits, const std::vector<uint8_t>& indices, int width, int height,
                        bool interlaced = false) {
  TMemoryStream s;
  EncodeGIFIndices(s, bits < 2 ? 2 : bits, 256, indices.data(), width, height, interlaced);
  const std::vector<uint8_t> b = qvtest::StreamBytes(s);
  g.b.insert(g.b.end(), b.begin(), b.end());
  return g;
}

// A header with the given global table (red, green, blue triples).
inline GifBytes HeaderWith(int width, int height, const std::vector<uint8_t>& table, int background = 0) {
  GifBytes g;
  g.Raw({'G', 'I', 'F', '8', '9', 'a'}).Word(width).Word(height);
  int bits = 1;
  while ((3 << bits) < int(table.size())) ++bits;
  g.Raw({0x80 | (bits - 1), background, 0});
  std::vector<uint8_t> t = table;
  t.resize(size_t(3) << bits, 0);
  for (uint8_t v : t) g.Raw({v});
  return g;
}

// A graphic control extension; transparent -1 for none.
inline GifBytes& Control(GifBytes& g, int disposal, int delay, int transparent) {
  g.Raw({0x21, 0xF9, 4, (disposal << 2) | (transparent >= 0 ? 1 : 0)}).Word(delay);
  return g.Raw({transparent >= 0 ? transparent : 0, 0});
}

}  // namespace giftest
