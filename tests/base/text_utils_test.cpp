#include "base/text_utils.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/rtl/exceptions.h"

namespace {

std::vector<std::string> Lines(const TStrings& s) {
  std::vector<std::string> v;
  for (int i = 0; i < s.Count(); ++i) v.push_back(s[i]);
  return v;
}

TEST(TextUtils, ReplaceSubstringDoesNotRescanInsertedText) {
  EXPECT_EQ(ReplaceSubstring("aaa", "a", "aa"), "aaaaaa");
  EXPECT_EQ(ReplaceSubstring("abcabc", "bc", ""), "aa");
  EXPECT_EQ(ReplaceSubstring("Abc", "a", "x"), "Abc") << "case-sensitive";
  EXPECT_EQ(ReplaceSubstring("abc", "", "x"), "abc");
  EXPECT_EQ(ReplaceSubstring("aaaa", "aa", "a"), "aa");
}

TEST(TextUtils, IncrementNumberText) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "1"}, {"9", "10"}, {"x99", "x100"}, {"a8", "a9"}, {"a9", "a10"},
      {"99", "100"}, {"abc", "abc1"}, {"Layer 1", "Layer 2"}, {"v1.9", "v1.10"}};
  for (const auto& [in, out] : cases) EXPECT_EQ(IncrementNumberText(in), out) << in;
}

TEST(TextUtils, ParseFourIntegersReadsRunsOfSignedDigits) {
  TFourIntegers f;
  ParseFourIntegers("\"16 16 2 1\",", f);
  EXPECT_EQ(std::vector<int>(f.Values, f.Values + 4), (std::vector<int>{16, 16, 2, 1}));
  ParseFourIntegers("w=+3;h=-4 c:10 x 7 8", f);
  EXPECT_EQ(std::vector<int>(f.Values, f.Values + 4), (std::vector<int>{3, -4, 10, 7}));
  EXPECT_THROW(ParseFourIntegers("1 2 3", f), EConvertError);
  EXPECT_THROW(ParseFourIntegers("1-2 3 4 5", f), EConvertError);
}

TEST(TextUtils, TextInArrayIsExactAndBounded) {
  const std::string texts[] = {"ico", "cur", "ani"};
  EXPECT_TRUE(TextInArray("cur", texts, 2));
  EXPECT_FALSE(TextInArray("CUR", texts, 2));
  EXPECT_FALSE(TextInArray("ani", texts, 1));
}

TEST(TextUtils, SplitToStringsAndExtractField) {
  TStringList s;
  s.Add("stale");
  SplitToStrings("a,,b,", ',', &s);
  EXPECT_EQ(Lines(s), (std::vector<std::string>{"a", "", "b"}));
  SplitToStrings(",a", ',', &s);
  EXPECT_EQ(Lines(s), (std::vector<std::string>{"", "a"}));
  SplitToStrings("", ',', &s);
  EXPECT_EQ(s.Count(), 0);
  EXPECT_EQ(ExtractField("a;b;c", ';', 2), "c");
  EXPECT_EQ(ExtractField("a;b;c", ';', 3), "");
  EXPECT_EQ(ExtractField("a;;c", ';', 1), "");
  EXPECT_EQ(ExtractField("abc", ';', 0), "abc");
}

TEST(TextUtils, ReadLengthPrefixedStringsStaysInsideTheBlock) {
  struct {
    const char* what;
    std::vector<uint8_t> block;
    std::vector<std::string> lines;
  } cases[] = {
      {"two names and an empty one", {2, 'a', 'b', 0, 1, 'c'}, {"ab", "", "c"}},
      {"a last byte alone is not read", {1, 'x', 0}, {"x"}},
      {"length running past the block", {1, 'x', 200, 'y', 'z'}, {"x"}},
      {"length one past the block", {3, 'a', 'b'}, {}},
      {"empty block", {}, {}},
  };
  for (const auto& c : cases) {
    TStringList s;
    ReadLengthPrefixedStrings(c.block.data(), static_cast<int64_t>(c.block.size()), &s);
    EXPECT_EQ(Lines(s), c.lines) << c.what;
  }
}

TEST(TextUtils, TrimAndPackLines) {
  TStringList s;
  for (const char* l : {"  a ", "", "\t\r", " b", "c\x01"}) s.Add(l);
  TrimAndPackLines(&s);
  EXPECT_EQ(Lines(s), (std::vector<std::string>{"a", "b", "c"}));
}

TEST(TextUtils, ReverseArraysInPlace) {
  uint8_t bytes[] = {1, 2, 3, 4, 5};
  ReverseBytes(bytes, 4);
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 5), (std::vector<uint8_t>{5, 4, 3, 2, 1}));
  uint16_t words[] = {1, 2, 3, 4};
  ReverseWords(words, 3);
  EXPECT_EQ(std::vector<uint16_t>(words, words + 4), (std::vector<uint16_t>{4, 3, 2, 1}));
  int32_t ints[] = {7, 8, 9};
  ReverseIntegers(ints, 1);  // only elements 0..1
  EXPECT_EQ(std::vector<int32_t>(ints, ints + 3), (std::vector<int32_t>{8, 7, 9}));
  uint8_t triples[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  ReverseTriples(triples, 2);
  EXPECT_EQ(std::vector<uint8_t>(triples, triples + 9), (std::vector<uint8_t>{7, 8, 9, 4, 5, 6, 1, 2, 3}));
  uint8_t one[] = {42};
  ReverseBytes(one, 0);
  EXPECT_EQ(one[0], 42);
}

TEST(TextUtils, NumberHelpers) {
  EXPECT_EQ(FloorToInt(2.5), 2);
  EXPECT_EQ(FloorToInt(-2.5), -3);
  EXPECT_EQ(FloorToInt(-2.0), -2);
  EXPECT_EQ(CeilToInt(2.1), 3);
  EXPECT_EQ(CeilToInt(-2.9), -2);
  EXPECT_EQ(CeilToInt(3.0), 3);
  EXPECT_EQ(MaxInteger(-1, 2), 2);
  EXPECT_EQ(LargerOf(5, 4), 5);
  EXPECT_EQ(MinInteger(-1, 2), -1);
  EXPECT_EQ(SmallerOf(5, 4), 4);
  EXPECT_EQ(MaxFloat(0.5, 0.25), 0.5);
  EXPECT_EQ(MinFloat(0.5, 0.25), 0.25);
  int32_t a = 1, b = 2;
  SwapIntegers(a, b);
  EXPECT_EQ(a, 2);
  EXPECT_EQ(b, 1);
}

void ExpectRect(const TRect& r, int l, int t, int rt, int b) {
  EXPECT_EQ(r.left, l);
  EXPECT_EQ(r.top, t);
  EXPECT_EQ(r.right, rt);
  EXPECT_EQ(r.bottom, b);
}

TEST(TextUtils, RectangleGeometry) {
  TRect r;
  FitAspectRect(Rect(0, 0, 100, 50), 1, 1, r);
  ExpectRect(r, 25, 0, 75, 50);
  FitAspectRect(Rect(0, 0, 100, 50), 0, 1, r);
  ExpectRect(r, 0, 0, 100, 50);
  FitAspectRect(Rect(0, 0, 40, 100), 2, 1, r);  // 40 wide, 20 high, centred
  ExpectRect(r, 0, 40, 40, 60);
  FitAspectRect(Rect(0, 0, 5, 5), 2, 1, r);  // 2.5 high: 1.25 rounds to 1, 3.75 to 4
  ExpectRect(r, 0, 1, 5, 4);
  FitAspectRect(Rect(10, 10, 11, 20), 1, 1, r);
  ExpectRect(r, 10, 14, 11, 16) ;  // 14.5 and 15.5 round to even
  CenterSizeInRect(Rect(0, 0, 10, 10), 3, 3, r);
  ExpectRect(r, 3, 3, 6, 6);
  CenterRectInRect(Rect(0, 0, 10, 10), Rect(0, 0, 3, 3), r);
  ExpectRect(r, 4, 4, 7, 7);
  EXPECT_TRUE(PointInRectangle(Point(0, 0), Rect(0, 0, 1, 1)));
  EXPECT_FALSE(PointInRectangle(Point(1, 0), Rect(0, 0, 1, 1)));
  ExpectRect(InflateRectangle(Rect(5, 5, 6, 6), 2, 1), 3, 4, 8, 7);
}

}  // namespace
