// Camera identification: the file-size table with its variant tests, the
// normalised texts, the four-colour rewrite and the refusals.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/imaging/special/raw/raw_fixtures.h"
#include "tests/imaging/special/raw/raw_test_util.h"

using namespace rawtest;

namespace {

struct TSizeCase {
  const char* Name;
  int64_t Size;
  int Fill;  // 0 random, 1 zero at the E990 histogram, 2 0xFF head (E2100 pattern), 3 zero tail
  const char* Make;
  const char* Model;
  int64_t Width, Height;
  uint32_t Filters;
  int Colours;
  const char* Loader;
};

const TSizeCase kSizeCases[] = {
    {"QV2000UX", 1976352, 0, "Casio", "QV-2000UX", 1632, 1208, 0x94949494, 3, "eight_bit_load_raw"},
    {"OptioS", 4841984, 0, "Pentax", "Optio S", 2068, 1544, 0x94949494, 3, "packed_12bit_load_raw"},
    {"E950", 2465792, 0, "NIKON", "E950", 1616, 1203, 0x4b4b4b4b, 4, "coolpix_e950_load_raw"},
    {"E990", 4771840, 1, "NIKON", "E990", 2064, 1540, 0xb4b4b4b4, 4, "nikon_packed_load_raw"},
    {"E995", 4771840, 0, "NIKON", "E995", 2064, 1540, 0xe1e1e1e1, 4, "nikon_packed_load_raw"},
    {"E2100", 2940928, 2, "NIKON", "E2100", 1616, 1206, 0x94949494, 3, "coolpix_e2100_load_raw"},
    {"E2500", 2940928, 0, "NIKON", "E2500", 1616, 1204, 0x4b4b4b4b, 4, "nikon_packed_load_raw"},
    {"E4300", 5869568, 3, "NIKON", "E4300", 2288, 1710, 0x16161616, 3, "nikon_packed_load_raw"},
    {"DiMAGEZ2", 5869568, 0, "Minolta", "DiMAGE Z2", 2288, 1710, 0x16161616, 3, "coolpix_e2100_load_raw"},
    {"E4500", 5865472, 0, "NIKON", "E4500", 2288, 1708, 0xb4b4b4b4, 4, "nikon_packed_load_raw"},
    {"PCCAM600", 787456, 0, "Creative", "PC-CAM 600", 1024, 768, 0x49494949, 3, "eight_bit_load_raw"},
    {"QV5700", 6218368, 0, "Casio", "QV-5700", 2576, 1924, 0x94949494, 3, "qv5700_load_raw"},
    {"QV4000", 7684000, 0, "Casio", "QV-4000", 2260, 1700, 0x94949494, 3, "unpacked_be_shr2_load_raw"},
    {"EXP600", 9313536, 0, "Casio", "EX-P600", 2844, 2142, 0x94949494, 3, "packed_12bit_load_raw"},
    {"DC20Small", 62464, 0, "Kodak", "DC20", 249, 242, 0x8d8d8d8d, 4, "kodak_easy_load_raw"},
    {"DC20Large", 124928, 0, "Kodak", "DC20", 501, 242, 0x8d8d8d8d, 4, "kodak_easy_load_raw"},
};

std::vector<uint8_t> SizeFile(const TSizeCase& c) {
  std::vector<uint8_t> b = RandomBytes(size_t(c.Size), uint64_t(c.Size));
  // No header of another container may appear by chance.
  b[0] = b[1] = 0x11;
  if (c.Fill == 1) std::fill(b.begin() + 2383920, b.begin() + 2383920 + 2000, 0);
  if (c.Fill == 2) std::fill(b.begin(), b.begin() + 12288, 0xFF);
  if (c.Fill == 3) std::fill(b.end() - 424, b.end(), 0);
  return b;
}

class RawSizeTable : public ::testing::TestWithParam<TSizeCase> {};

TEST_P(RawSizeTable, IdentifiesTheCameraAndItsSettings) {
  const TSizeCase& c = GetParam();
  TIdentified id(SizeFile(c));
  ASSERT_EQ(id.Result, 0);
  TRawDecoderState& s = *id.S;
  EXPECT_STREQ(s.Make, c.Make);
  EXPECT_STREQ(s.Model, c.Model);
  EXPECT_EQ(s.Width, c.Width);
  EXPECT_EQ(s.Height, c.Height);
  EXPECT_EQ(s.Filters, c.Filters);
  EXPECT_EQ(s.Colors, c.Colours);
  EXPECT_STREQ(RawLoaderName(s.Loader), c.Loader);
  EXPECT_EQ(s.In.Tell(), s.DataOffset);  // identification leaves the stream at the data
}

INSTANTIATE_TEST_SUITE_P(Headerless, RawSizeTable, ::testing::ValuesIn(kSizeCases),
                         [](const auto& p) { return std::string(p.param.Name); });

TEST(RawIdentify, OneByteMoreOrLessIsNoCamera) {
  for (int64_t size : {1976351, 1976353}) {
    TIdentified id(RandomBytes(size_t(size), 3));
    EXPECT_EQ(id.Result, 1) << size;
  }
}

// A TIFF file with a make and model and the raw strip of an Olympus E-1.
TBytes OlympusTiff(const std::string& make, const std::string& model, const std::string& software = "") {
  TBytes f;
  PutTiffHeader(f, 0, 8);
  // Two strips: the entry points at their offsets.
  const std::vector<uint8_t> strips = {0, 16, 0, 0, 0, 0x5B, 0x04, 0};
  std::vector<TTiffEntry> e = {Long(256, 640), Long(257, 479), Ascii(271, make), Ascii(272, model),
                               {273, 4, 2, 0, strips}};
  if (!software.empty()) e.push_back(Ascii(305, software));
  PutDirectory(f, 0, 8, e, 0, 512);
  f.Fit(4096 + 640 * 480 * 2);
  return f;
}

TEST(RawIdentify, TextsAreNormalised) {
  const struct {
    const char* Make;
    const char* Model;
    const char* WantMake;
    const char* WantModel;
  } cases[] = {
      {"OLYMPUS OPTICAL CO.,LTD", "E-1", "OLYMPUS", "E-1"},
      {"OLYMPUS", "OLYMPUS E-1  ", "OLYMPUS", "E-1"},
      {"Canon", "Canon EOS 20D", "Canon", "EOS 20D"},
      {"Konica Minolta Camera, Inc.", "DiMAGE A2", "Konica", "DiMAGE A2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Make);
    TIdentified id(OlympusTiff(c.Make, c.Model).B);
    EXPECT_STREQ(id.S->Make, c.WantMake);
    EXPECT_STREQ(id.S->Model, c.WantModel);
  }
}

TEST(RawIdentify, OlympusE1TakesTheLastDirectorySize) {
  TIdentified id(OlympusTiff("OLYMPUS OPTICAL CO.,LTD", "E-1").B);
  ASSERT_EQ(id.Result, 0);
  EXPECT_EQ(id.S->RawWidth, 640);
  EXPECT_EQ(id.S->RawHeight, 480);  // 479 rounded up to even
  EXPECT_EQ(id.S->DataOffset, 4096);
  EXPECT_EQ(id.S->Filters, 0x61616161u);
  EXPECT_STREQ(RawLoaderName(id.S->Loader), "unpacked_le_shr2_load_raw");
}

TEST(RawIdentify, ConvertedFilesAreRefused) {
  TIdentified id(OlympusTiff("OLYMPUS", "E-1", "Adobe Photoshop CS").B);
  EXPECT_EQ(id.Result, 1);
  EXPECT_FALSE(IsCameraRawStream(id.Stream));
}

TEST(RawIdentify, ShortTextsAreReadFromTheEntry) {
  // "Leaf" stands in the four bytes of its entry, not at an offset.
  TBytes f;
  PutTiffHeader(f, 0, 8);
  PutDirectory(f, 0, 8, {Long(256, 64), Long(257, 48), Ascii(272, "Valeo 6"), {324, 4, 1, 2048, {}}}, 0, 256);
  f.Fit(2048 + 64 * 48 * 2);
  TIdentified id(f.B);
  ASSERT_EQ(id.Result, 0);
  EXPECT_STREQ(id.S->Make, "Leaf");
  EXPECT_STREQ(id.S->Model, "Valeo 6");
  EXPECT_EQ(id.S->Filters, 0x94949494u);  // wider than high
  EXPECT_EQ(id.S->DataOffset, 2048);
}

TEST(RawIdentify, FourColourModeRewritesThePattern) {
  // E-10: the default pattern 0x94949494 (R G / G B): the green beside blue
  // becomes colour 3.
  TIdentified four(OlympusTiff("OLYMPUS", "E-10").B, true);
  ASSERT_EQ(four.Result, 0);
  EXPECT_EQ(four.S->Filters, 0xb4b4b4b4u);
  EXPECT_EQ(four.S->Colors, 4);
  EXPECT_FLOAT_EQ(four.S->PreMul[3], four.S->PreMul[1]);
}

TEST(RawIdentify, WidthWithoutHeightOrNoLoaderIsRefused) {
  // A Leaf directory with a width but a height of 0.
  TBytes f;
  PutTiffHeader(f, 0, 8);
  PutDirectory(f, 0, 8, {Long(256, 64), Long(257, 0), {324, 4, 1, 2048, {}}}, 0, 256);
  f.Fit(4096);
  EXPECT_EQ(TIdentified(f.B).Result, 1);
  // A height with a width of 0.
  TBytes g;
  PutTiffHeader(g, 0, 8);
  PutDirectory(g, 0, 8, {Long(256, 0), Long(257, 48), {324, 4, 1, 2048, {}}}, 0, 256);
  g.Fit(4096);
  EXPECT_EQ(TIdentified(g.B).Result, 1);
  // A camera the table does not know.
  EXPECT_EQ(TIdentified(OlympusTiff("OLYMPUS", "E-300").B).Result, 1);
}

TEST(RawIdentify, KodakRowsAndCompressions) {
  auto kodak = [](const std::string& model, uint32_t compression) {
    TBytes f;
    PutTiffHeader(f, 0, 8);
    PutDirectory(f, 0, 8,
                 {Ascii(271, "KODAK"), Ascii(272, model), {330, 4, 1, 200, {}}}, 0, 100);
    PutDirectory(f, 0, 200, {Long(256, 64), Long(257, 32), Long(259, compression), Long(273, 1024)}, 0, 300);
    f.Fit(1024 + 64 * 32 * 2);
    return f.B;
  };
  {
    TIdentified id(kodak("DCS620X", 1));  // "DCS62$": any rest
    ASSERT_EQ(id.Result, 0);
    EXPECT_TRUE(id.S->UseCMY);
    EXPECT_EQ(id.S->Black, 740);
  }
  {
    TIdentified id(kodak("DCS720X", 1));
    ASSERT_EQ(id.Result, 0);
    EXPECT_TRUE(id.S->UseCMY);
    EXPECT_FLOAT_EQ(id.S->PreMul[0], 1.35f);
  }
  {
    TIdentified id(kodak("DCS620C", 1));  // the earlier exact row wins
    ASSERT_EQ(id.Result, 0);
    EXPECT_FALSE(id.S->UseCMY);
    EXPECT_EQ(id.S->Black, 720);
  }
  EXPECT_EQ(TIdentified(kodak("DCS760C", 32867)).Result, 1);  // no loader without a DC model
  EXPECT_EQ(TIdentified(kodak("DCS760C", 5)).Result, 1);      // an unknown compression
  TIdentified yuv(kodak("DCS760C", 65000));
  ASSERT_EQ(yuv.Result, 0);
  EXPECT_STREQ(RawLoaderName(yuv.S->Loader), "kodak_dcr_yuv_load_raw");
  EXPECT_EQ(yuv.S->Filters, 0u);
}

TEST(RawIdentify, ZeroDivisorsLeaveTheCameraColourEmpty) {
  // A Minolta MRW whose white-balance block holds zeros.
  TBytes f;
  f.Big = true;
  f.PutText(0, std::string("\0MRM", 4), false);
  f.Put32(4, 200);             // data offset - 8
  f.PutText(8, std::string("\0PRD", 4), false);
  f.Put32(12, 24);             // PRD length
  f.Put16(24, 16), f.Put16(26, 20);
  f.PutText(40, std::string("\0WBG", 4), false);
  f.Put32(44, 12);             // TTW-like length: block at 40
  f.Fit(1024);
  TIdentified id(f.B);
  EXPECT_EQ(id.S->CameraRed, 0.0f);
  EXPECT_EQ(id.S->CameraBlue, 0.0f);
  EXPECT_FALSE(std::isnan(id.S->CameraRed));
}

}  // namespace
