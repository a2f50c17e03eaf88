// The icon collection reader: entries read in file order through one pass,
// a restart for an earlier entry, and hostile files (counts and lengths the
// bytes cannot hold) refused without allocating for them.
#include <gtest/gtest.h>

#include "icon_collection_util.h"
#include "icons/advanced_icon.h"
#include "icons/icon_collection.h"
#include "test_support.h"

using namespace icctest;

namespace {

Bytes ThreeEntries() {
  return Collection({{"one", {DibRecord(32, 32)}},
                     {"two", {DibRecord(16, 8), DibRecord(48, 32)}},
                     {"three", {DibRecord(24, 4)}}});
}

int Width(TAdvancedIcon& icon, int i) { return icon.Images().GetItem(i)->GetWidth(); }

TEST(IconCollection, EntriesInOrderAreReadInOnePassAndAnEarlierOneRestarts) {
  const Bytes file = ThreeEntries();
  TCustomMemoryStream stream(file.data(), int64_t(file.size()));
  EXPECT_EQ(ReadIconCollectionHeader(stream), 3);
  TIconCollectionReader reader;
  TAdvancedIcon icon;
  ASSERT_TRUE(reader.ReadEntry(stream, 0, icon));
  EXPECT_EQ(icon.Count(), 1);
  EXPECT_EQ(Width(icon, 0), 32);
  ASSERT_TRUE(reader.ReadEntry(stream, 1, icon));
  EXPECT_EQ(reader.EntriesWalked(), 1);  // straight on from entry 0
  ASSERT_EQ(icon.Count(), 2);
  EXPECT_EQ(Width(icon, 0), 16);
  EXPECT_EQ(Width(icon, 1), 48);
  ASSERT_TRUE(reader.ReadEntry(stream, 2, icon));
  EXPECT_EQ(reader.EntriesWalked(), 1);
  EXPECT_EQ(reader.Position(), int64_t(file.size()));
  // Entry 1 after entry 2 starts again behind the header.
  ASSERT_TRUE(reader.ReadEntry(stream, 1, icon));
  EXPECT_EQ(reader.EntriesWalked(), 2);
  EXPECT_EQ(icon.Count(), 2);
  EXPECT_FALSE(reader.ReadEntry(stream, 3, icon));
  EXPECT_EQ(icon.Count(), 0);
}

TEST(IconCollection, EntriesAreReadFromAFile) {
  qvtest::TempDir dir;
  qvtest::WriteFileBytes(dir.File("three.icc"), ThreeEntries());
  TIconCollectionReader reader;
  TAdvancedIcon icon;
  ASSERT_TRUE(reader.ReadEntry(dir.File("three.icc"), 1, icon));
  EXPECT_EQ(icon.Count(), 2);
  EXPECT_FALSE(reader.ReadEntry(dir.File("missing.icc"), 0, icon));
}

TEST(IconCollection, AnEmptyRecordIsPassedOver) {
  const Bytes file = Collection({{"e", {Bytes{0}, DibRecord(32, 32)}}});
  TCustomMemoryStream stream(file.data(), int64_t(file.size()));
  TIconCollectionReader reader;
  TAdvancedIcon icon;
  ASSERT_TRUE(reader.ReadEntry(stream, 0, icon));
  EXPECT_EQ(icon.Count(), 1);
}

struct HostileCase {
  const char* name;
  Bytes bytes;
  int32_t header;      // what the header read gives
  bool entry0;         // entry 0 readable
  const char* reason;  // the rule that refused entry 0, as LastRefusal names it
};

Bytes Patched(Bytes b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
  return b;
}

std::vector<HostileCase> HostileCases() {
  const Bytes good = ThreeEntries();
  // The image count of entry 0 stands behind the header and its 4-byte name.
  const size_t imageCount = 16 + 4;
  // The data length of entry 0's first record: flag byte and 8 head bytes on.
  const size_t length = imageCount + 4 + 1 + 8;
  Bytes truncated(good.begin(), good.begin() + int64_t(length + 40));
  return {
      {"count of 134 million", Patched(good, 12, 134217727), -1, false, "an entry count the data cannot hold"},
      {"negative count", Patched(good, 12, 0xFFFFFFFF), -1, false, "a negative entry count"},
      {"count beyond the bytes", Patched(good, 12, uint32_t(good.size() / 13 + 1)), -1, false,
       "an entry count the data cannot hold"},
      {"another version", Patched(good, 4, 2), -1, false, "a version other than 1"},
      {"header only", Bytes(good.begin(), good.begin() + 12), -1, false, "the header is cut short"},
      {"image count of two billion", Patched(good, imageCount, 0x7FFFFFFF), 3, false,
       "an image count the data cannot hold"},
      {"negative image count", Patched(good, imageCount, 0x80000000), 3, false, "a negative image count"},
      {"image length of 4 GB", Patched(good, length, 0xFFFFFFFF), 3, false, "an image runs past the end"},
      {"truncated inside an image", truncated, 3, false, "an image runs past the end"},
      {"name longer than the file", [&] {
         Bytes b = good;
         b[16] = 254;  // a 32-bit length follows
         return Patched(b, 17, 0x7FFFFFF0);
       }(), 3, false, "a name runs past the end"},
  };
}

TEST(IconCollection, HostileFilesAreRefusedWithoutAllocatingForTheirCounts) {
  for (const HostileCase& c : HostileCases()) {
    SCOPED_TRACE(c.name);
    TCustomMemoryStream stream(c.bytes.data(), int64_t(c.bytes.size()));
    EXPECT_EQ(ReadIconCollectionHeader(stream), c.header);
    TIconCollectionReader reader;
    TAdvancedIcon icon;
    EXPECT_EQ(reader.ReadEntry(stream, 0, icon), c.entry0);
    EXPECT_EQ(reader.LastRefusal(), c.reason);
    EXPECT_EQ(icon.Count(), 0);
    EXPECT_EQ(reader.LastEntry(), -1);
  }
}

}  // namespace
