#include "platform/graphics/png_header.h"

#include <gtest/gtest.h>

namespace {

void Put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<uint8_t>(x >> s));
}

void AddChunk(std::vector<uint8_t>& v, const char* type, const std::vector<uint8_t>& body, uint32_t length) {
  Put32(v, length);
  v.insert(v.end(), type, type + 4);
  v.insert(v.end(), body.begin(), body.end());
  Put32(v, 0);  // CRC, not checked here
}

std::vector<uint8_t> Png(uint32_t w, uint32_t h, int depth, int colourType, bool extraChunkFirst = false) {
  std::vector<uint8_t> v = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
  if (extraChunkFirst) AddChunk(v, "tEXt", {'a', 0, 'b'}, 3);
  std::vector<uint8_t> ihdr;
  Put32(ihdr, w);
  Put32(ihdr, h);
  ihdr.insert(ihdr.end(), {uint8_t(depth), uint8_t(colourType), 0, 0, 0});
  AddChunk(v, "IHDR", ihdr, 13);
  AddChunk(v, "IEND", {}, 0);
  return v;
}

TEST(PngHeader, SizeAndBitsPerPixel) {
  struct Case {
    int depth, colourType, bits;
  } cases[] = {
      {8, 6, 32}, {16, 6, 64}, {8, 2, 24}, {16, 2, 48}, {1, 3, 1}, {2, 3, 2}, {4, 3, 4},
      {8, 3, 8},  {1, 0, 1},   {8, 0, 8},  {16, 0, 16}, {8, 4, 16}, {16, 4, 32},
  };
  for (const auto& c : cases) {
    const auto png = Png(300, 17, c.depth, c.colourType);
    EXPECT_EQ(PngBitsPerPixel(png), c.bits) << c.depth << "/" << c.colourType;
    EXPECT_EQ(PngWidth(png), 300u);
    EXPECT_EQ(PngHeight(png), 17u);
  }
  // A PNG's header is its first chunk; our PNG reader and libpng refuse a file
  // with another chunk in front, and so does the peek.
  const auto later = Png(5, 6, 8, 6, true);
  EXPECT_EQ(FindPngHeader(later), -1);
  EXPECT_EQ(PngWidth(later), 0u);
  EXPECT_TRUE(HasPngSignature(later.data(), later.size()));
}

TEST(PngHeader, HostileBuffers) {
  std::vector<uint8_t> noSig(64, 0);
  EXPECT_EQ(PngWidth(noSig), 0u);
  EXPECT_EQ(PngHeight(noSig), 0u);
  EXPECT_EQ(PngBitsPerPixel(noSig), 0);

  auto png = Png(5, 6, 8, 6);
  // IHDR cut inside its fields.
  EXPECT_EQ(FindPngHeader(png.data(), 8 + 8 + 9), -1);
  EXPECT_EQ(FindPngHeader(png.data(), 8 + 8 + 10), 8);
  // A chunk whose length would wrap a 32-bit position back to the start.
  std::vector<uint8_t> wrap = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
  AddChunk(wrap, "tEXt", {}, 0xFFFFFFF4u);
  const auto tail = Png(1, 1, 8, 6);
  wrap.insert(wrap.end(), tail.begin() + 8, tail.end());
  EXPECT_EQ(FindPngHeader(wrap), -1);
  // A header chunk of another length than IHDR's 13 bytes.
  auto shortHeader = Png(5, 6, 8, 6);
  shortHeader[11] = 12;
  EXPECT_EQ(FindPngHeader(shortHeader), -1);
  // IEND before IHDR, and an empty buffer.
  std::vector<uint8_t> iendFirst = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
  AddChunk(iendFirst, "IEND", {}, 0);
  iendFirst.insert(iendFirst.end(), tail.begin() + 8, tail.end());
  EXPECT_EQ(FindPngHeader(iendFirst), -1);
  EXPECT_EQ(FindPngHeader(nullptr, 0), -1);
}

}  // namespace
