// Writes the blend table of unpremultiplied "over": 65,536 bytes, the byte at
// da * 256 + sa being the weight of the source colour for those alphas.
#include <cstdio>
#include <vector>

#include "base/toolbox/blend.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: blendgen OUTPUT\n");
    return 2;
  }
  std::vector<uint8_t> table(kBlendTableSize);
  for (int da = 0; da < 256; ++da)
    for (int sa = 0; sa < 256; ++sa)
      table[da * 256 + sa] = BlendWeight(static_cast<uint8_t>(da), static_cast<uint8_t>(sa));
  std::FILE* f = std::fopen(argv[1], "wb");
  if (!f) {
    std::perror(argv[1]);
    return 1;
  }
  const bool ok = std::fwrite(table.data(), 1, table.size(), f) == table.size();
  if (std::fclose(f) != 0 || !ok) {
    std::fprintf(stderr, "blendgen: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
