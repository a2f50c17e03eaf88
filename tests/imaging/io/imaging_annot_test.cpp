#include "imaging/io/imaging_annot.h"

#include <gtest/gtest.h>

#include <cstring>

#include "imaging/core/ie_bitmap.h"

namespace {

void Put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
}

// A named block record: type, size field 12, the zero-padded name, the data size and the data.
void PutNamed(std::vector<uint8_t>& b, uint32_t type, const char* name, const std::vector<uint8_t>& data) {
  Put32(b, type);
  Put32(b, 12);
  char padded[8] = {};
  std::memcpy(padded, name, std::strlen(name));
  b.insert(b.end(), padded, padded + 8);
  Put32(b, uint32_t(data.size()));
  b.insert(b.end(), data.begin(), data.end());
}

// A block with one mark of the given type and one named block of it.
std::vector<uint8_t> OneMark(uint32_t markType, const char* name, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> b;
  Put32(b, 0);
  Put32(b, 1);
  Put32(b, 5);
  Put32(b, 164);
  std::vector<uint8_t> attributes(164, 0);
  attributes[0] = uint8_t(markType);
  b.insert(b.end(), attributes.begin(), attributes.end());
  if (name != nullptr) PutNamed(b, 6, name, data);
  return b;
}

TEST(ImagingAnnotations, StraightLineWithThreePoints) {
  std::vector<uint8_t> points;
  Put32(points, 3);
  Put32(points, 3);
  for (int i = 0; i < 6; ++i) Put32(points, uint32_t(10 * i));
  const std::vector<uint8_t> block = OneMark(3, "OiAnoDat", points);
  TIEImagingAnnot annot;
  annot.SetUserChanged(true);
  LoadImagingAnnot(annot, block.data(), int64_t(block.size()));
  ASSERT_EQ(annot.Count(), 1);
  EXPECT_FALSE(annot.UserChanged());
  EXPECT_EQ(annot.Objects(0).MarkType(), 3u);
  ASSERT_EQ(annot.Objects(0).Points.size(), 3u);
  EXPECT_EQ(annot.Objects(0).Points[2], std::make_pair(40, 50));
}

TEST(ImagingAnnotations, TextRoundTripRescalesTheFontHeight) {
  for (auto [height, back] : {std::pair{-75, -75}, std::pair{-20, -15}, std::pair{0, 0}}) {
    TIEImagingAnnot annot;
    TIEImagingObject& o = annot.Add();
    o.SetMarkType(7);
    o.SetFontHeight(height);
    o.Text = "abc";
    const std::vector<uint8_t> block = SaveImagingAnnot(annot);
    TIEImagingAnnot loaded;
    LoadImagingAnnot(loaded, block.data(), int64_t(block.size()));
    ASSERT_EQ(loaded.Count(), 1);
    EXPECT_EQ(loaded.Objects(0).Text, "abc");
    EXPECT_EQ(loaded.Objects(0).FontHeight(), back) << height;
  }
}

TEST(ImagingAnnotations, SavedLayoutOfALine) {
  TIEImagingAnnot annot;
  TIEImagingObject& o = annot.Add();
  o.SetMarkType(3);
  o.Points = {{1, 2}, {3, 4}};
  const std::vector<uint8_t> block = SaveImagingAnnot(annot);
  // Header, two default blocks, the attributes, the points, group and index.
  std::vector<uint8_t> expect;
  Put32(expect, 0);
  Put32(expect, 1);
  auto named = [&](uint32_t type, const char* name, const std::vector<uint8_t>& data) {
    PutNamed(expect, type, name, data);
  };
  named(2, "OiGroup", {'0', 0});
  named(2, "OiIndex", {'1', 0});
  Put32(expect, 5);
  Put32(expect, 164);
  expect.insert(expect.end(), o.Attributes, o.Attributes + 164);
  std::vector<uint8_t> pts;
  for (uint32_t v : {2u, 2u, 1u, 2u, 3u, 4u}) Put32(pts, v);
  named(6, "OiAnoDat", pts);
  named(6, "OiGroup", {'0', 0});
  named(6, "OiIndex", {'0', 0});
  EXPECT_EQ(block, expect);
}

TEST(ImagingAnnotations, EmbeddedImageRoundTrip) {
  TIEImagingAnnot annot;
  TIEImagingObject& o = annot.Add();
  o.SetMarkType(1);
  o.Image = std::make_unique<TIEBitmap>(3, 2, ie24RGB);
  o.Image->Fill(0x00336699);
  o.Image->SetPixelRGB(2, 1, MakeRGB(1, 2, 3));
  const std::vector<uint8_t> block = SaveImagingAnnot(annot);
  TIEImagingAnnot loaded;
  LoadImagingAnnot(loaded, block.data(), int64_t(block.size()));
  ASSERT_EQ(loaded.Count(), 1);
  ASSERT_NE(loaded.Objects(0).Image, nullptr);
  TIEBitmap& img = *loaded.Objects(0).Image;
  EXPECT_EQ(img.Width(), 3);
  EXPECT_EQ(img.Height(), 2);
  EXPECT_EQ(img.GetPixelRGB(0, 0), MakeRGB(0x99, 0x66, 0x33));
  EXPECT_EQ(img.GetPixelRGB(2, 1), MakeRGB(1, 2, 3));
}

TEST(ImagingAnnotations, NothingToSaveAndNoMarkWithoutType) {
  TIEImagingAnnot annot;
  EXPECT_TRUE(SaveImagingAnnot(annot).empty());
  const std::vector<uint8_t> block = OneMark(0, nullptr, {});
  LoadImagingAnnot(annot, block.data(), int64_t(block.size()));
  EXPECT_EQ(annot.Count(), 0);
}

TEST(ImagingAnnotations, HostileBlocksStayInside) {
  std::vector<uint8_t> points;
  Put32(points, 1000000);
  Put32(points, 1000000);  // far more points than the block holds
  Put32(points, 7);
  Put32(points, 8);
  std::vector<uint8_t> hugeText;
  Put32(hugeText, 0);
  Put32(hugeText, 1000);
  Put32(hugeText, 0);
  Put32(hugeText, 0xFFFFFFF0);
  hugeText.push_back('h');
  std::vector<uint8_t> unknownRecord;
  Put32(unknownRecord, 0);
  Put32(unknownRecord, 1);
  Put32(unknownRecord, 9);  // an unknown record stepped over by its size
  Put32(unknownRecord, 4);
  Put32(unknownRecord, 5);  // looks like a mark record, but is the unknown one's data
  {
    const auto line = OneMark(3, "OiAnoDat", {});
    unknownRecord.insert(unknownRecord.end(), line.begin() + 8, line.end());
  }
  std::vector<uint8_t> cutNamed = OneMark(4, "OiAnoDat", points);
  cutNamed.resize(cutNamed.size() - 10);
  std::vector<uint8_t> cutAttributes = OneMark(3, nullptr, {});
  cutAttributes.resize(100);
  std::vector<uint8_t> hugeSize = OneMark(3, nullptr, {});
  Put32(hugeSize, 77);
  Put32(hugeSize, 0xFFFFFFFF);

  const struct {
    const char* name;
    std::vector<uint8_t> block;
    size_t points;
    int objects;
  } cases[] = {
      {"point count beyond the block", OneMark(4, "OiAnoDat", points), 1, 1},
      {"text length beyond the block", OneMark(7, "OiAnText", hugeText), 0, 1},
      {"unknown record skipped by its size", unknownRecord, 0, 1},
      {"named block cut", cutNamed, 0, 1},
      {"attributes cut", cutAttributes, 0, 0},
      {"unknown record of huge size", hugeSize, 0, 1},
      {"header only", std::vector<uint8_t>(8, 0), 0, 0},
      {"shorter than the header", std::vector<uint8_t>(5, 0), 0, 0},
  };
  for (const auto& c : cases) {
    TIEImagingAnnot annot;
    LoadImagingAnnot(annot, c.block.data(), int64_t(c.block.size()));
    ASSERT_EQ(annot.Count(), c.objects) << c.name;
    if (c.objects > 0) {
      EXPECT_EQ(annot.Objects(0).Points.size(), c.points) << c.name;
    }
  }
}

}  // namespace
