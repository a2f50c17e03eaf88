#include <gtest/gtest.h>

#include <string>

#include "imaging/io/dicom_tags.h"
#include "imaging/io/io_params.h"
#include "imaging/io/xmp_packet.h"

namespace {

const uint8_t* U(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

TEST(XMPPacket, FoundOnlyInsideTheMarker) {
  const std::string id("http://ns.adobe.com/xap/1.0/\0", 29);
  TIOParamsVals p(nullptr);
  EXPECT_EQ(FindXMPPacket(U(id), 29), nullptr);  // below 30 bytes
  EXPECT_FALSE(ParseXMPMarker(U(id), 29, p));
  const std::string marker = id + "<x:xmpmeta/>";
  ASSERT_TRUE(ParseXMPMarker(U(marker), int64_t(marker.size()), p));
  EXPECT_EQ(p.XmpPacket, "<x:xmpmeta/>");
  // No zero byte within the marker: no packet, and nothing beyond the marker is read.
  const std::string noZero = "http://ns.adobe.com/xap/1.0/ <x/>";
  EXPECT_EQ(FindXMPPacket(U(noZero), int64_t(noZero.size())), nullptr);
  // A zero byte as the last byte: an empty packet.
  const std::string emptyPacket = std::string("http://ns.adobe.com/xap/1.0/x", 29) + '\0';
  ASSERT_TRUE(ParseXMPMarker(U(emptyPacket), 30, p));
  EXPECT_TRUE(p.XmpPacket.empty());
  const std::string other("http://ns.adobe.com/xmp/extension/\0abc", 38);
  EXPECT_EQ(FindXMPPacket(U(other), int64_t(other.size())), nullptr);
}

TEST(XMPPacket, BuildsIdentifierZeroAndPacket) {
  TIOParamsVals p(nullptr);
  std::vector<uint8_t> block = BuildXMPMarker(p);
  ASSERT_EQ(block.size(), 29u);
  EXPECT_EQ(std::string(block.begin(), block.begin() + 28), "http://ns.adobe.com/xap/1.0/");
  EXPECT_EQ(block[28], 0);
  p.XmpPacket = "<a/>";
  block = BuildXMPMarker(p);
  TIOParamsVals back(nullptr);
  ASSERT_TRUE(ParseXMPMarker(block.data(), int64_t(block.size()), back));
  EXPECT_EQ(back.XmpPacket, "<a/>");
}

TEST(DICOMTags, ValueRepresentationAndData) {
  TIEDICOMTags tags;
  tags.AddTag(0x10, 0x10, 3, {'A', 'B', 'C', 0}, "PN");
  tags.AddTag(0x10, 0x20, 0, {}, "L");
  tags.AddTag(0x10, 0x30, -4, {1, 2}, "ABC");
  EXPECT_EQ(tags.Tag(0).VR[0], 'P');
  EXPECT_EQ(tags.Tag(0).VR[1], 'N');
  EXPECT_EQ(tags.Tag(1).VR[0], 0);
  EXPECT_EQ(tags.Tag(2).VR[1], 0);
  EXPECT_EQ(tags.Tag(2).DataLen, 0);
  EXPECT_TRUE(tags.Tag(2).Data.empty());
  TIEDICOMTags copy;
  copy.Assign(&tags);
  ASSERT_EQ(copy.Count(), 3);
  EXPECT_EQ(copy.Tag(0).Data, (std::vector<uint8_t>{'A', 'B', 'C', 0}));
  EXPECT_TRUE(copy.Tag(1).Data.empty());
  EXPECT_EQ(copy.Tag(1).DataLen, 0);
}

}  // namespace
