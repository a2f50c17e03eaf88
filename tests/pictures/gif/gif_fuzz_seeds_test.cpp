// Writes the seeds of the GIF picture's fuzz target: run with
// QV_WRITE_FUZZ_SEEDS set to fuzz/corpus; otherwise checks that they are
// committed. Our own writer makes a plain and an interlaced picture, giflib an
// animation of several frames.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "gif_test_util.h"
#include "tests/support/test_support.h"

using namespace giftest;

namespace {

struct TSeed {
  const char* name;
  std::vector<uint8_t> bytes;
};

std::vector<uint8_t> Ours(bool interlaced) {
  TGIFImage image;
  std::vector<uint8_t> pixels(12 * 9);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t((i * 5 + i / 12) % 4);
  TGIFSubImage* frame = AddIndexedFrame(image, 0, 0, 12, 9, pixels, {0x000000, 0xFF0000, 0x00FF00, 0x0000FF});
  frame->SetInterlaced(interlaced);
  return SaveToBytes(image);
}

std::vector<TSeed> Seeds() {
  std::vector<SpewFrame> frames;
  for (int k = 0; k < 3; ++k) {
    SpewFrame f{10, 7, std::vector<uint8_t>(70), 5 * (k + 1)};
    for (size_t i = 0; i < f.pixels.size(); ++i) f.pixels[i] = uint8_t((i + size_t(k) * 3) % 16);
    frames.push_back(f);
  }
  return {{"ours.gif", Ours(false)}, {"ours_interlaced.gif", Ours(true)},
          {"giflib_animation.gif", SpewWithGiflib(10, 7, 4, frames)}};
}

TEST(FuzzSeeds, GifReaderSeedsWrittenWhenAskedAndPresent) {
  const char* out = std::getenv("QV_WRITE_FUZZ_SEEDS");
  for (const TSeed& s : Seeds()) {
    ASSERT_GT(s.bytes.size(), 13u) << s.name;
    if (out && *out) {
      const std::filesystem::path dir = std::filesystem::path(out) / "gif_reader";
      std::filesystem::create_directories(dir);
      qvtest::WriteFileBytes((dir / s.name).string(), s.bytes);
      continue;
    }
    const std::filesystem::path file = std::filesystem::path(QV_SOURCE_DIR) / "fuzz" / "corpus" / "gif_reader" / s.name;
    EXPECT_TRUE(std::filesystem::exists(file)) << file << " is missing: write the seeds again";
  }
}

}  // namespace
