#include "imaging/io/jpeg_markers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

TEST(IPTCInfoList, LongItemUsesTheExtendedLengthAndReadsBack) {
  TIEIPTCInfoList list;
  std::vector<uint8_t> caption(40000, 'c');
  list.AddItem(2, 120, int64_t(caption.size()), caption.data());
  list.AddItem(2, 5, 5, "Title");
  for (bool photoshop : {false, true}) {
    SCOPED_TRACE(photoshop);
    const std::vector<uint8_t> block = list.SaveToBuffer(photoshop);
    const size_t prefix = photoshop ? 26 : 7;
    ASSERT_GE(block.size(), prefix + 9);
    EXPECT_EQ(block.size() % 2, 0u);
    const uint8_t* item = block.data() + prefix;
    EXPECT_EQ(std::vector<uint8_t>(item, item + 9),
              (std::vector<uint8_t>{0x1C, 2, 120, 0x80, 0x04, 0x00, 0x00, 0x9C, 0x40}));
    if (photoshop) {
      const uint32_t size = uint32_t(block[22]) << 24 | uint32_t(block[23]) << 16 | uint32_t(block[24]) << 8 | block[25];
      EXPECT_EQ(size, 9u + 40000 + 5 + 5);  // items with their headers, no padding
    }
    TIEIPTCInfoList back;
    ASSERT_TRUE(back.LoadFromBuffer(block.data(), int64_t(block.size())));
    EXPECT_FALSE(back.Changed());
    // The plain form's record-version prefix reads as an item of its own.
    const int first = photoshop ? 0 : 1;
    ASSERT_EQ(back.Count(), first + 2);
    EXPECT_EQ(back.ItemData(first), caption);
    EXPECT_EQ(back.DatasetNumber(first + 1), 5);
  }
}

TEST(IPTCInfoList, PrefixAloneForRecordVersionAndEmptyItems) {
  TIEIPTCInfoList list;
  EXPECT_TRUE(list.SaveToBuffer(true).empty());
  list.AddItem(2, 0, 2, "\x00\x02");
  list.AddItem(2, 25, 0, nullptr);
  EXPECT_EQ(list.SaveToBuffer(false), (std::vector<uint8_t>{0x1C, 2, 0, 0, 2, 0, 2, 0}));
  const std::vector<uint8_t> ps = list.SaveToBuffer(true);
  ASSERT_EQ(ps.size(), 26u);
  EXPECT_EQ(std::string(ps.begin(), ps.begin() + 13), "Photoshop 3.0");
  EXPECT_EQ(ps[25], 0);
}

TEST(IPTCInfoList, ChangedFlagFollowsEditsAndParses) {
  TIEIPTCInfoList list;
  EXPECT_FALSE(list.Changed());
  list.AddItem(2, 5, 1, "x");
  EXPECT_TRUE(list.Changed());
  EXPECT_FALSE(list.LoadFromBuffer(nullptr, 0));
  EXPECT_TRUE(list.Changed());  // an empty input stops before the parse
  const auto block = Bytes(std::string("\x1C\x02\x05\x00\x01x", 6));
  EXPECT_TRUE(list.LoadFromBuffer(block.data(), int64_t(block.size())));
  EXPECT_FALSE(list.Changed());
  TIEIPTCInfoList other;
  other.Assign(&list);
  EXPECT_TRUE(other.Changed());
  EXPECT_EQ(other.Count(), 1);
}

TEST(IPTCInfoList, HostileBlocks) {
  const struct {
    const char* name;
    std::string data;
    int items;
  } cases[] = {
      {"photoshop without an IPTC resource", std::string("Photoshop 3.0\0" "8BIM\x04\x05\0\0\0\0\0\x05\x1C\x02\x05\0\x01x", 32), 0},
      {"header cut after the tag", std::string("\x1C\x02", 2), 0},
      {"header of five bytes at the end (not read)", std::string("\x1C\x02\x05\x00\x00", 5), 0},
      {"length past the end", std::string("\x1C\x02\x05\x00\x09" "abc", 8), 0},
      {"extended header cut", std::string("\x1C\x02\x05\x80\x04\x00\x00", 7), 0},
      {"extended length with the top bit", std::string("\x1C\x02\x05\x80\x04\x80\x00\x00\x00" "ab", 11), 0},
      {"extended length past the end", std::string("\x1C\x02\x05\x80\x04\x00\x00\x00\x05" "ab", 11), 0},
      {"second item cut keeps the first", std::string("\x1C\x02\x05\x00\x01x\x1C\x02\x06\x00\x05y", 12), 1},
      {"run of tag bytes", std::string("\x1C\x1C\x1C\x02\x05\x00\x01x", 8), 1},
      {"leading junk", std::string("zz\x1C\x02\x05\x00\x01xq", 9), 1},
  };
  for (const auto& c : cases) {
    TIEIPTCInfoList list;
    const bool read = list.LoadFromBuffer(reinterpret_cast<const uint8_t*>(c.data.data()), int64_t(c.data.size()));
    EXPECT_EQ(list.Count(), c.items) << c.name;
    EXPECT_EQ(read, c.items > 0) << c.name;
  }
}

TEST(MarkerList, PayloadsAreKeptWhole) {
  TIEMarkerList markers;
  std::vector<uint8_t> big(70000, 7);
  markers.AddMarker(0xED, big.data(), int64_t(big.size()));
  EXPECT_EQ(markers.MarkerLength(0), 70000);
  markers.SetMarker(0, 0xE1, 3, "abc");
  EXPECT_EQ(markers.MarkerType(0), 0xE1);
  EXPECT_EQ(markers.MarkerLength(0), 3);
  EXPECT_THROW(markers.DeleteMarker(5), std::out_of_range);
  TIEMarkerList copy;
  copy.Assign(&markers);
  copy.Assign(nullptr);
  EXPECT_EQ(copy.Count(), 1);
  markers.AddMarker(0xE1, "x", 1);
  markers.DeleteType(0xE1);
  EXPECT_EQ(markers.Count(), 0);
}

TEST(MarkerList, SortOrdersTypesICCChunksAndPutsExifFirstAmongAPP1) {
  TIEMarkerList m;
  auto icc = [](int seq) {
    std::string s("ICC_PROFILE\0", 12);
    s += char(seq);
    s += char(3);
    s += "data";
    return s;
  };
  const std::string xmp = std::string("http://ns.adobe.com/xap/1.0/\0<x/>", 33);
  const std::string exif("Exif\0\0II*\0", 10);
  m.AddMarker(0xFE, "comment", 7);
  m.AddMarker(0xE2, icc(3).data(), 18);
  m.AddMarker(0xE1, xmp.data(), int64_t(xmp.size()));
  m.AddMarker(0xE2, icc(1).data(), 18);
  m.AddMarker(0xE0, "JFIF", 5);
  m.AddMarker(0xE1, exif.data(), int64_t(exif.size()));
  m.AddMarker(0xE2, icc(2).data(), 18);
  m.Sort();
  std::vector<int> types;
  for (int i = 0; i < m.Count(); ++i) types.push_back(m.MarkerType(i));
  EXPECT_EQ(types, (std::vector<int>{0xE0, 0xE1, 0xE1, 0xE2, 0xE2, 0xE2, 0xFE}));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.MarkerData(1)), 4), "Exif");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(m.MarkerData(3 + i)[12], i + 1);
}

}  // namespace
