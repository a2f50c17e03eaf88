// LibRaw's tools as the oracle: raw-identify names the camera and sizes of
// the synthetic files, unprocessed_raw gives the stored samples, which must
// equal what the loaders store once their scaling shift is taken off.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "tests/imaging/special/raw/raw_fixtures.h"
#include "tests/imaging/special/raw/raw_test_util.h"
#include "tests/support/test_support.h"

using namespace rawtest;

namespace {

struct TOracleCase {
  const char* Name;
  int64_t Size;
  const char* LibRawCamera;  // "make model" as raw-identify prints it
  int LibRawWidth, LibRawHeight;
  int Shift;                 // the loader's scaling of the stored samples
  // Where LibRaw differs from the camera table, a word on why, and the
  // difference itself: LibRaw's rows lie RowShift further down, its samples
  // are the stored ones shifted right by LibRawDrop.
  const char* Difference;
  int RowShift, LibRawDrop;
};

const TOracleCase kCases[] = {
    {"QV2000UX", 1976352, "Casio QV-2000UX", 1632, 1208, 6, nullptr, 0, 0},
    {"OptioS", 4841984, "Pentax Optio S", 2068, 1544, 2, nullptr, 0, 0},
    // The table's data offset is 1024 and its height 768; LibRaw starts its
    // picture a row lower (offset 2048) and shows 767 rows.
    {"PCCAM600", 787456, "Creative PC-CAM 600", 1024, 767, 6, "picture a row lower", -1, 0},
    {"QV5700", 6218368, "Casio QV-5700", 2576, 1924, 4, nullptr, 0, 0},
    // The table shifts the big-endian words right by 2; LibRaw keeps their top
    // ten bits.
    {"QV4000", 7684000, "Casio QV-4000", 2260, 1700, -2, "top ten bits of each word", 0, 6},
    {"EXP600", 9313536, "Casio EX-P600", 2844, 2142, 2, nullptr, 0, 0},
};

class RawLibRawOracle : public ::testing::TestWithParam<TOracleCase> {};

TEST_P(RawLibRawOracle, AgreesOnCameraSizeAndSamples) {
  if (!qvtest::HaveProgram("raw-identify") || !qvtest::HaveProgram("unprocessed_raw"))
    GTEST_SKIP() << "libraw-bin is not installed";
  const TOracleCase& c = GetParam();
  std::vector<uint8_t> bytes = RandomBytes(size_t(c.Size), uint64_t(c.Size));
  bytes[0] = bytes[1] = 0x11;
  qvtest::TempDir dir;
  const std::string file = dir.File("camera.raw");
  qvtest::WriteFileBytes(file, bytes);

  std::string info;
  ASSERT_EQ(qvtest::RunCommand("raw-identify -v '" + file + "'", &info), 0);
  EXPECT_EQ(Field(info, "Camera: (.*) ID:"), c.LibRawCamera);
  EXPECT_EQ(Field(info, "Image size: +([0-9]+) x"), std::to_string(c.LibRawWidth));
  EXPECT_EQ(Field(info, "Image size: +[0-9]+ x ([0-9]+)"), std::to_string(c.LibRawHeight));
  EXPECT_EQ(Field(info, "Filter pattern: ([A-Z]+)"), "RGGBRGGBRGGBRGGB");

  TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
  const char* reason = nullptr;
  auto st = Load(s, &reason);
  ASSERT_NE(st, nullptr) << reason;
  EXPECT_EQ(std::string(st->Make) + " " + st->Model, c.LibRawCamera);
  if (c.Difference == nullptr || c.RowShift == 0) {
    EXPECT_EQ(st->Width, c.LibRawWidth);
    EXPECT_EQ(st->Height, c.LibRawHeight);
  }

  std::string log;
  ASSERT_EQ(qvtest::RunCommand("cd '" + dir.Path().string() + "' && unprocessed_raw camera.raw", &log), 0);
  const int top = std::stoi(Field(log, "top=([0-9]+)"));
  const int left = std::stoi(Field(log, "left=([0-9]+)"));
  const TPgm pgm = ReadPgm(file + ".pgm");
  ASSERT_GT(pgm.Width, 0);
  int compared = 0, wrong = 0;
  const int firstRow = std::max(0, -(top + c.RowShift));
  for (int64_t r = firstRow; r < std::min<int64_t>(st->Height, pgm.Height - top - c.RowShift); r += 7) {
    for (int64_t col = 0; col < std::min<int64_t>(st->Width, pgm.Width - left); col += 5) {
      const int ours = st->Cell(r, col)[st->FC(r, col)];
      const int stored = c.Shift >= 0 ? ours >> c.Shift : ours << -c.Shift;
      const int theirs = pgm.At(int(r + top + c.RowShift), int(col + left));
      ++compared;
      if ((stored >> c.LibRawDrop) != theirs && wrong++ < 5)
        ADD_FAILURE() << "at " << r << "," << col << ": ours " << stored << ", LibRaw " << theirs;
    }
  }
  EXPECT_GT(compared, 1000);
  EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(Headerless, RawLibRawOracle, ::testing::ValuesIn(kCases),
                         [](const auto& p) { return std::string(p.param.Name); });

}  // namespace
