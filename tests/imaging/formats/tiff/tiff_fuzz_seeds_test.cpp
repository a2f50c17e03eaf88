// Seeds of the fax and LZW decoder target: a width byte, then a strip coded
// by our encoders (checked in under fuzz/corpus, rewritten with
// QV_WRITE_FUZZ_SEEDS set).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "imaging/formats/tiff/tiff_ccitt.h"
#include "imaging/formats/tiff/tiff_lzw.h"
#include "platform/rtl/streams.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Seed(int coding) {
  const int widthByte = 4, width = 1 + widthByte * 13;  // the target's width rule
  TMemoryStream s;
  const uint8_t w = uint8_t(widthByte);
  s.WriteBuffer(&w, 1);
  TCCITTEncoderState state;
  void* lzw = nullptr;
  for (int r = 0; r < 12; ++r) {
    Bytes row(size_t((width + 31) / 32 * 4), 0);
    for (int x = r; x < width; x += 3 + r) row[size_t(x / 8)] |= uint8_t(0x80 >> (x % 8));
    if (coding == 0) CCITTEncodeHuffman(row.data(), width, s, 1);
    if (coding == 1) CCITTEncodeG3(row.data(), width, s, 1, state);
    if (coding == 2) CCITTEncodeG3_2D(row.data(), width, s, 1, state);
    if (coding == 3) CCITTEncodeG4(row.data(), width, s, 1, state);
    if (coding == 4) TIFFLZWCompress(row.data(), (width + 7) / 8, &s, lzw);
  }
  if (coding == 1) CCITTEncodeG3(nullptr, width, s, 1, state);
  if (coding == 2) CCITTEncodeG3_2D(nullptr, width, s, 1, state);
  if (coding == 3) CCITTEncodeG4(nullptr, width, s, 1, state);
  if (coding == 4) TIFFLZWCompress(nullptr, 0, &s, lzw);
  Bytes out(size_t(s.Size()));
  s.SetPosition(0);
  s.Read(out.data(), s.Size());
  return out;
}

}  // namespace

TEST(FuzzSeeds, TiffCodecSeedsWrittenWhenAskedAndPresent) {
  const char* names[] = {"mh.bin", "g3.bin", "g3_2d.bin", "g4.bin", "lzw.bin"};
  const char* out = std::getenv("QV_WRITE_FUZZ_SEEDS");
  for (int coding = 0; coding < 5; ++coding) {
    const Bytes seed = Seed(coding);
    if (out && *out) {
      const auto dir = std::filesystem::path(out) / "tiff_codecs";
      std::filesystem::create_directories(dir);
      qvtest::WriteFileBytes((dir / names[coding]).string(), seed);
      continue;
    }
    const auto file = std::filesystem::path(QV_SOURCE_DIR) / "fuzz" / "corpus" / "tiff_codecs" / names[coding];
    EXPECT_TRUE(std::filesystem::exists(file)) << file << " is missing: write the seeds again";
  }
}
