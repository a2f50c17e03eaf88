// Every colour type and bit depth, interlaced or not, with and without tRNS,
// gAMA and text chunks, as libpng writes them: our decoder must give libpng's
// samples, and what we write back must pass pngcheck and read back the same
// through libpng.
#include <gtest/gtest.h>

#include "png_test_util.h"
#include "test_support.h"

using namespace pngtest;

namespace {

enum TExtras { exNone, exTrns, exGammaText };

struct TOracleCase {
  int colorType, bitDepth;
  bool interlaced;
  TExtras extras;
  int width, height;
};

std::vector<TOracleCase> AllCases() {
  const std::pair<int, std::vector<int>> combos[] = {
      {0, {1, 2, 4, 8, 16}}, {2, {8, 16}}, {3, {1, 2, 4, 8}}, {4, {8, 16}}, {6, {8, 16}}};
  const std::pair<int, int> sizes[] = {{3, 3}, {37, 19}};
  std::vector<TOracleCase> out;
  for (const auto& [ct, depths] : combos)
    for (int d : depths)
      for (bool il : {false, true})
        for (TExtras ex : {exNone, exTrns, exGammaText})
          for (auto [w, h] : sizes) out.push_back({ct, d, il, ex, w, h});
  return out;
}

std::string CaseName(const testing::TestParamInfo<TOracleCase>& info) {
  const TOracleCase& c = info.param;
  static const char* extras[] = {"plain", "trns", "gammatext"};
  return "ct" + std::to_string(c.colorType) + "_d" + std::to_string(c.bitDepth) + (c.interlaced ? "_adam7" : "_seq") +
         "_" + extras[c.extras] + "_" + std::to_string(c.width) + "x" + std::to_string(c.height);
}

Bytes MakeCaseFile(const TOracleCase& c, uint32_t seed) {
  TLibpngImage img;
  img.width = c.width;
  img.height = c.height;
  img.colorType = c.colorType;
  img.bitDepth = c.bitDepth;
  img.interlaced = c.interlaced;
  img.withTrns = c.extras == exTrns;
  img.withGamma = img.withText = c.extras == exGammaText;
  FillRandomRows(img, seed);
  return WriteWithLibpng(img);
}

class PngOracle : public testing::TestWithParam<TOracleCase> {};

TEST_P(PngOracle, DecodesToLibpngSamples) {
  const Bytes file = MakeCaseFile(GetParam(), 1234);
  const TSamples expected = ReadWithLibpng(file);
  ASSERT_TRUE(expected.ok) << expected.error;
  TPNGImage png;
  LoadBytes(png, file);
  const TSamples actual = SamplesOf(png);
  ASSERT_TRUE(actual.ok);
  EXPECT_EQ(actual.width, expected.width);
  EXPECT_EQ(actual.channels, expected.channels);
  EXPECT_EQ(actual.data, expected.data);
}

TEST_P(PngOracle, WritesWhatLibpngAndPngcheckAccept) {
  const TOracleCase& c = GetParam();
  const Bytes file = MakeCaseFile(c, 99);
  const TSamples original = ReadWithLibpng(file);
  ASSERT_TRUE(original.ok) << original.error;
  TPNGImage png;
  LoadBytes(png, file);

  // Once as loaded, once with every filter allowed and the other interlacing.
  for (int variant = 0; variant < 2; variant++) {
    if (variant == 1) {
      png.SetRowFilters(0x1F);
      png.SetInterlaceMode(c.interlaced ? 0 : 1);
    }
    const Bytes saved = SaveBytes(png);
    const TSamples reread = ReadWithLibpng(saved);
    ASSERT_TRUE(reread.ok) << reread.error;
    Bytes expected = original.data;
    // 2-bit grey is held as 4-bit levels g x 5 and written at 4 bits.
    if (c.colorType == 0 && c.bitDepth == 2)
      for (auto& v : expected) v = uint8_t(v * 5);
    EXPECT_EQ(reread.data, expected) << "variant " << variant;
  }
}

INSTANTIATE_TEST_SUITE_P(AllFormats, PngOracle, testing::ValuesIn(AllCases()), CaseName);

// pngcheck runs once over everything we write for the table above.
TEST(PngcheckOracle, EveryWrittenFormatPasses) {
  if (!qvtest::HaveProgram("pngcheck")) GTEST_SKIP() << "pngcheck is not installed";
  qvtest::TempDir dir;
  int n = 0;
  for (const TOracleCase& c : AllCases()) {
    TPNGImage png;
    LoadBytes(png, MakeCaseFile(c, 5));
    qvtest::WriteFileBytes(dir.File("f" + std::to_string(n++) + ".png"), SaveBytes(png));
    png.SetRowFilters(0x1F);
    png.SetInterlaceMode(c.interlaced ? 0 : 1);
    qvtest::WriteFileBytes(dir.File("f" + std::to_string(n++) + ".png"), SaveBytes(png));
  }
  std::string out;
  EXPECT_EQ(qvtest::RunCommand("pngcheck -q " + dir.Path().string() + "/*.png 2>&1", &out), 0) << out;
}

// Larger pictures through every filter libpng may pick, in many IDAT chunks.
TEST(PngOracleLarge, PhotoSizedImagesMatchLibpng) {
  for (int ct : {2, 6}) {
    TLibpngImage img;
    img.width = 301;
    img.height = 257;
    img.colorType = ct;
    img.bitDepth = 8;
    FillRandomRows(img, 7);
    const Bytes file = WriteWithLibpng(img);
    TPNGImage png;
    LoadBytes(png, file);
    EXPECT_EQ(SamplesOf(png).data, ReadWithLibpng(file).data);
    const Bytes saved = SaveBytes(png);
    EXPECT_EQ(ReadWithLibpng(saved).data, ReadWithLibpng(file).data);
  }
}

}  // namespace
