// Writes the seeds of the PostScript and PDF writers' fuzz target (a picture
// kind, size, codings, pages, paper and texts, then pixel bytes): run with
// QV_WRITE_FUZZ_SEEDS set to fuzz/corpus; otherwise checks they are committed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

std::vector<uint8_t> Seed(bool bilevel, int w, int h, int ps, int pdf, int jpegSpace, int pages,
                          const std::string& title) {
  std::vector<uint8_t> s = {uint8_t(bilevel), uint8_t(w - 1), uint8_t(h - 1), uint8_t(ps), uint8_t(pdf),
                            uint8_t(jpegSpace), uint8_t(pages - 1), 148, 210, 148, 210};
  for (int i = 0; i < 3; ++i) {
    s.push_back(uint8_t(title.size()));
    s.insert(s.end(), title.begin(), title.end());
  }
  for (int i = 0; i < 97; ++i) s.push_back(uint8_t(i * 37 % 251));
  return s;
}

TEST(FuzzSeeds, PsPdfWriterSeedsWrittenWhenAskedAndPresent) {
  struct Named {
    const char* name;
    std::vector<uint8_t> bytes;
  };
  const Named seeds[] = {
      {"bw_g4.bin", Seed(true, 40, 30, 1, 2, 2, 1, "Fax")},
      {"bw_g3_rle.bin", Seed(true, 17, 9, 2, 3, 2, 2, "Two (pages)\n")},
      {"bw_rle_lzw.bin", Seed(true, 9, 64, 0, 5, 2, 1, "")},
      {"rgb_rle_raw.bin", Seed(false, 33, 20, 0, 0, 2, 3, "caf\xC3\xA9")},
      {"rgb_jpeg.bin", Seed(false, 24, 24, 3, 4, 2, 1, "photo")},
      {"rgb_jpeg_cmyk_grey.bin", Seed(false, 16, 8, 3, 4, 3, 1, "\x80\xFF")},
  };
  const char* out = std::getenv("QV_WRITE_FUZZ_SEEDS");
  for (const Named& s : seeds) {
    if (out && *out) {
      const std::filesystem::path dir = std::filesystem::path(out) / "ps_pdf_writer";
      std::filesystem::create_directories(dir);
      qvtest::WriteFileBytes((dir / s.name).string(), s.bytes);
      continue;
    }
    const std::filesystem::path file = std::filesystem::path(QV_SOURCE_DIR) / "fuzz" / "corpus" / "ps_pdf_writer" / s.name;
    EXPECT_TRUE(std::filesystem::exists(file)) << file << " is missing: write the seeds again";
  }
}

}  // namespace
