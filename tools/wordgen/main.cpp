// Writes the English dialog words as string-table blocks: block b holds the
// strings b * 16 - 16 .. b * 16 - 1, each a 16-bit length and that many UTF-16
// units (little-endian); the words get the ids base + slot.
// Usage: wordgen words.txt base outdir  -> outdir/block_<b>.bin per block.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace {

std::vector<uint16_t> Utf16(const std::string& s) {
  std::vector<uint16_t> out;
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    uint32_t cp;
    int n;
    if (b < 0x80) cp = b, n = 1;
    else if ((b >> 5) == 6) cp = b & 0x1F, n = 2;
    else if ((b >> 4) == 14) cp = b & 0x0F, n = 3;
    else cp = b & 0x07, n = 4;
    for (int k = 1; k < n && i + size_t(k) < s.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + size_t(k)]) & 0x3F);
    i += size_t(n);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(uint16_t(0xD800 + (cp >> 10)));
      out.push_back(uint16_t(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(uint16_t(cp));
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: wordgen words.txt base outdir\n";
    return 2;
  }
  std::ifstream in(argv[1]);
  const long base = std::stol(argv[2]);
  std::vector<std::string> words;
  for (std::string line; std::getline(in, line);)
    if (line.empty() || line[0] != '#') words.push_back(line);
  std::map<long, std::vector<std::string>> blocks;
  for (size_t slot = 0; slot < words.size(); ++slot) {
    const long id = base + long(slot);
    auto& block = blocks[id / 16 + 1];
    block.resize(16);
    block[size_t(id % 16)] = words[slot];
  }
  for (auto& [number, strings] : blocks) {
    std::vector<uint8_t> bytes;
    for (const std::string& s : strings) {
      const std::vector<uint16_t> units = Utf16(s);
      bytes.push_back(uint8_t(units.size() & 0xFF));
      bytes.push_back(uint8_t(units.size() >> 8));
      for (uint16_t u : units) bytes.push_back(uint8_t(u & 0xFF)), bytes.push_back(uint8_t(u >> 8));
    }
    const std::string file = std::string(argv[3]) + "/block_" + std::to_string(number) + ".bin";
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) {
      std::cerr << "wordgen: cannot write " << file << "\n";
      return 1;
    }
  }
  return 0;
}
