// Lossless JPEG strips (an EOS 20D-like TIFF) from a small encoder of the
// tests, and the Nikon D100's choice between its packed and compressed data.
#include <gtest/gtest.h>

#include "tests/imaging/special/raw/raw_fixtures.h"
#include "tests/imaging/special/raw/raw_test_util.h"

using namespace rawtest;

namespace {

constexpr int kRows = 2360, kCols = 3596;

// Thirteen lengths, 0 to 12, with codes of 2 to 10 bits.
const uint8_t kTable[] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

int Value(int r, int c) { return 600 + ((r / 16 + c / 16) % 64) * 40 + (c & 1) * 7; }

void Segment(std::vector<uint8_t>& out, uint16_t marker, const std::vector<uint8_t>& data) {
  out.push_back(uint8_t(marker >> 8)), out.push_back(uint8_t(marker));
  const size_t len = data.size() + 2;
  out.push_back(uint8_t(len >> 8)), out.push_back(uint8_t(len));
  out.insert(out.end(), data.begin(), data.end());
}

// Two interleaved components of cols / 2 columns, predictor 1.
std::vector<uint8_t> LosslessJpeg(int rows, int cols) {
  std::vector<uint8_t> out = {0xFF, 0xD8};
  std::vector<uint8_t> dht;
  for (uint8_t id : {0, 1}) {
    dht.push_back(id);
    dht.insert(dht.end(), std::begin(kTable), std::end(kTable));
  }
  Segment(out, 0xFFC4, dht);
  Segment(out, 0xFFC3,
          {12, uint8_t(rows >> 8), uint8_t(rows), uint8_t((cols / 2) >> 8), uint8_t(cols / 2), 2, 1, 0x11, 0, 2, 0x11, 0});
  Segment(out, 0xFFDA, {2, 1, 0x00, 2, 0x11, 1, 0, 0});
  const auto codes = CanonicalCodes(kTable);
  TBitWriter w;
  w.StuffFF = true;
  int vpred[2] = {2048, 2048};
  for (int r = 0; r < rows; ++r) {
    int hpred[2] = {0, 0};
    for (int c = 0; c < cols; ++c) {
      const int v = Value(r, c);
      int diff;
      if (c < 2) {
        diff = v - vpred[c];
        vpred[c] = v;
      } else {
        diff = v - hpred[c & 1];
      }
      hpred[c & 1] = v;
      PutDiff(w, codes, diff);
    }
  }
  while (w.Bits != 0) w.Put(1, 1);
  out.insert(out.end(), w.Out.begin(), w.Out.end());
  out.push_back(0xFF), out.push_back(0xD9);
  return out;
}

std::vector<uint8_t> Eos20D() {
  const std::vector<uint8_t> jpeg = LosslessJpeg(kRows, kCols);
  TBytes f;
  PutTiffHeader(f, 0, 8);
  const uint32_t dataAt = 4096;
  PutDirectory(f, 0, 8,
               {Long(256, kCols / 2), Long(257, kRows), Short(258, 12), Short(259, 6), Ascii(271, "Canon"),
                Ascii(272, "Canon EOS 20D"), Long(273, dataAt), Long(279, uint32_t(jpeg.size()))},
               0, 512);
  f.PutBytes(dataAt, jpeg);
  return f.B;
}

TEST(RawLossless, Eos20DStripDecodesIntoThePicture) {
  auto bytes = Eos20D();
  TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
  const char* why = nullptr;
  auto st = RawIdentifyAndLoad(s, {}, &why);
  ASSERT_NE(st, nullptr) << why;
  EXPECT_STREQ(st->Model, "EOS 20D");
  EXPECT_EQ(st->Width, 3522);
  EXPECT_EQ(st->Height, 2348);
  EXPECT_STREQ(RawLoaderName(st->Loader), "jpeg_lossless_load_raw");
  int wrong = 0;
  for (int r = 0; r < st->Height; r += 13)
    for (int c = 0; c < st->Width; c += 11)
      if (st->Cell(r, c)[st->FC(r, c)] != Value(r + 12, c + 74) << 2 && wrong++ < 4)
        ADD_FAILURE() << r << "," << c << ": " << st->Cell(r, c)[st->FC(r, c)] << " want " << (Value(r + 12, c + 74) << 2);
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(st->Black, 0);  // from the columns left of the picture
}

TEST(RawLossless, AStripWithoutItsStartMarkerStaysBlack) {
  auto bytes = Eos20D();
  bytes[4096] = 0;  // no FFD8
  TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
  auto st = RawIdentifyAndLoad(s, {});
  ASSERT_NE(st, nullptr);
  for (int r = 0; r < st->Height; r += 97)
    for (int c = 0; c < st->Width; c += 89) ASSERT_EQ(st->Cell(r, c)[st->FC(r, c)], 0);
}

// LibRaw names the camera and the pattern as the table does, but takes the
// directory's width (one component, 1798) and does not unpack a strip that
// lacks the camera's slice tag: the samples are pinned by the test above.
TEST(RawLosslessOracle, LibRawNamesTheCameraAndPattern) {
  if (!qvtest::HaveProgram("raw-identify")) GTEST_SKIP() << "libraw-bin is not installed";
  auto bytes = Eos20D();
  qvtest::TempDir dir;
  const std::string file = dir.File("eos.cr2");
  qvtest::WriteFileBytes(file, bytes);
  std::string info;
  ASSERT_EQ(qvtest::RunCommand("raw-identify -v '" + file + "'", &info), 0);
  EXPECT_EQ(Field(info, "Camera: (.*) ID:"), "Canon EOS 20D");
  EXPECT_EQ(Field(info, "Filter pattern: ([A-Z]+)"), "RGGBRGGBRGGBRGGB");
  EXPECT_EQ(Field(info, "Full size: +([0-9]+ x [0-9]+)"), "1798 x 2360");
  TIdentified id(bytes);
  ASSERT_EQ(id.Result, 0);
  EXPECT_EQ(id.S->Filters, 0x94949494u);  // R G / G B
  EXPECT_EQ(id.S->RawHeight, 2360);
}

// ---- Nikon D100: packed or compressed by the bytes at 15 mod 16 ----

std::vector<uint8_t> D100(bool compressedLooking) {
  TBytes f;
  f.Big = true;
  PutTiffHeader(f, 0, 8);
  PutDirectory(f, 0, 8,
               {Ascii(271, "NIKON CORPORATION"), Ascii(272, "NIKON D100 "), {330, 4, 1, 200, {}}}, 0, 100);
  PutDirectory(f, 0, 200, {Long(256, 3034), Long(257, 2024), Short(259, 34713), Long(273, 4096)}, 0, 300);
  std::vector<uint8_t> data = RandomBytes(size_t(3040) * 2024 * 3 / 2 + 4096, 5);
  for (size_t i = 15; i < 256; i += 16) data[i] = compressedLooking ? 1 : 0;
  f.PutBytes(4096, data);
  return f.B;
}

TEST(RawLossless, D100PicksItsLoaderByTheData) {
  TIdentified packed(D100(false));
  ASSERT_EQ(packed.Result, 0);
  EXPECT_STREQ(RawLoaderName(packed.S->Loader), "nikon_packed_load_raw");
  EXPECT_EQ(packed.S->Width, 3037);     // 3 more
  EXPECT_EQ(packed.S->RawWidth, 3040);  // the old width and 6
  TIdentified compressed(D100(true));
  ASSERT_EQ(compressed.Result, 0);
  EXPECT_STREQ(RawLoaderName(compressed.S->Loader), "nikon_compressed_load_raw");
  EXPECT_EQ(compressed.S->Width, 3034);
}

}  // namespace
