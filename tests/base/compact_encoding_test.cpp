#include "base/compact_encoding.h"

#include <gtest/gtest.h>

#include "platform/rtl/exceptions.h"
#include "test_support.h"

namespace {

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int v : b) s.push_back(static_cast<char>(v));
  return s;
}

struct TCompactCase {
  int32_t value;
  std::string bytes;
};
// How the case reads in the test list and in a failure.
void PrintTo(const TCompactCase& c, std::ostream* os) { *os << c.value; }

class CompactIntTest : public ::testing::TestWithParam<TCompactCase> {};

TEST_P(CompactIntTest, WritesDocumentedBytesAndReadsThemBack) {
  const auto& c = GetParam();
  TStringStream out;
  WriteCompactInt(out, c.value);
  EXPECT_EQ(out.DataString(), c.bytes);
  TStringStream in(c.bytes);
  EXPECT_EQ(ReadCompactInt(in), c.value);
  EXPECT_EQ(in.Remaining(), 0);
}

INSTANTIATE_TEST_SUITE_P(Values, CompactIntTest,
                         ::testing::Values(TCompactCase{0, Bytes({0x00})}, TCompactCase{251, Bytes({0xFB})},
                                           TCompactCase{252, Bytes({0xFC, 0xFC, 0x00})},
                                           TCompactCase{65535, Bytes({0xFC, 0xFF, 0xFF})},
                                           TCompactCase{65536, Bytes({0xFE, 0x00, 0x00, 0x01, 0x00})},
                                           TCompactCase{-1, Bytes({0xFD})},
                                           TCompactCase{-2, Bytes({0xFE, 0xFE, 0xFF, 0xFF, 0xFF})},
                                           TCompactCase{INT32_MIN, Bytes({0xFE, 0x00, 0x00, 0x00, 0x80})}));

TEST(CompactInt, ByteFFReadsAs255) {
  TStringStream in(Bytes({0xFF}));
  EXPECT_EQ(ReadCompactInt(in), 255);
}

TEST(CompactInt, StreamEndingInsideAValueIsAReadError) {
  for (const std::string& bytes : {std::string(), Bytes({0xFC, 0x01}), Bytes({0xFE, 1, 2, 3})}) {
    TStringStream in(bytes);
    EXPECT_THROW(ReadCompactInt(in), EReadError) << bytes.size();
  }
}

TEST(CompactString, RoundTripsTextsOfEveryLengthClass) {
  for (size_t n : {0u, 3u, 251u, 252u, 70000u}) {
    std::string text(n, 'x');
    if (n == 3) text = "abc";
    TStringStream s;
    WriteCompactString(s, text);
    if (n == 3) {
      EXPECT_EQ(s.DataString(), Bytes({3, 'a', 'b', 'c'}));
    }
    if (n == 0) {
      EXPECT_EQ(s.DataString(), Bytes({0}));
    }
    s.SetPosition(0);
    EXPECT_EQ(ReadCompactString(s), text);
  }
}

TEST(CompactString, RefusesNegativeOrOverlongLengths) {
  const std::string cases[] = {
      Bytes({0xFE, 0xFF, 0xFF, 0xFF, 0x7F}),           // 2^31 - 1 with nothing behind it
      Bytes({0xFE, 0x00, 0x00, 0x00, 0x80, 'a'}),      // negative
      Bytes({0xFD, 'a'}),                              // -1
      Bytes({5, 'a', 'b'}),                            // three bytes short
      Bytes({0xFC}),                                   // ends inside the length
  };
  for (const auto& bytes : cases) {
    TStringStream in(bytes);
    EXPECT_THROW(ReadCompactString(in), EReadError);
  }
}

TEST(MakeRect, KeepsTheFourCoordinatesInOrder) {
  const TRect r = MakeRect(1, 2, 3, 4);
  EXPECT_EQ(r.left, 1);
  EXPECT_EQ(r.top, 2);
  EXPECT_EQ(r.right, 3);
  EXPECT_EQ(r.bottom, 4);
}

TEST(ReadFileToBuffer, ReadsTheStartAndLeavesTheRestOfAShortFile) {
  qvtest::TempDir dir;
  qvtest::WriteFileBytes(dir.File("blend.dat"), {1, 2, 3});
  uint8_t buffer[6] = {9, 9, 9, 9, 9, 9};
  ReadFileToBuffer(buffer, 2, dir.File("blend.dat"));
  EXPECT_EQ(buffer[0], 1);
  EXPECT_EQ(buffer[1], 2);
  EXPECT_EQ(buffer[2], 9);
  ReadFileToBuffer(buffer, 6, dir.File("blend.dat"));
  EXPECT_EQ(buffer[2], 3);
  EXPECT_EQ(buffer[3], 9);
  EXPECT_THROW(ReadFileToBuffer(buffer, 1, dir.File("missing.dat")), EFOpenError);
}

}  // namespace
