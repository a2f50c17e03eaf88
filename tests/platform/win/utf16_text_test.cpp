#include <gtest/gtest.h>

#include "platform/win/utf16_text.h"

using Bytes = std::vector<uint8_t>;

struct Utf16Case {
  std::string utf8;
  Bytes utf16;
};

// UTF-16LE encodings worked out by hand from the code points.
TEST(Utf16Text, ConvertsBothWays) {
  const Utf16Case cases[] = {
      {"", {}},
      {std::string("A\0", 2), {0x41, 0, 0, 0}},
      {"\xC3\xBC", {0xFC, 0x00}},                      // U+00FC
      {"\xE2\x82\xAC", {0xAC, 0x20}},                  // U+20AC
      {"\xF0\x9F\x98\x80", {0x3D, 0xD8, 0x00, 0xDE}},  // U+1F600 as a surrogate pair
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8ToUtf16LE(c.utf8), c.utf16) << c.utf8;
    EXPECT_EQ(Utf16LEToUtf8(c.utf16), c.utf8) << c.utf8;
  }
}

TEST(Utf16Text, MalformedInputBecomesReplacementCharacters) {
  EXPECT_EQ(Utf8ToUtf16LE("\xFF" "a"), (Bytes{0xFD, 0xFF, 0x61, 0}));
  EXPECT_EQ(Utf8ToUtf16LE("\xE2\x82"), (Bytes{0xFD, 0xFF, 0xFD, 0xFF}));  // cut short
  EXPECT_EQ(Utf8ToUtf16LE("\xC0\x80"), (Bytes{0xFD, 0xFF, 0xFD, 0xFF}));  // overlong
  EXPECT_EQ(Utf16LEToUtf8(Bytes{0x00, 0xD8, 0x41, 0x00}), "\xEF\xBF\xBD" "A");  // lone surrogate
  EXPECT_EQ(Utf16LEToUtf8(Bytes{0x41, 0x00, 0x42}), "A");  // odd byte dropped
}
