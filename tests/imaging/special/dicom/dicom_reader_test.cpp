// The DICOM reader on files laid out by the tests: the element walk, the
// picture description, native, RLE and lossless JPEG pixel data, frames, the
// value mapping and hostile tables.
#include "imaging/special/dicom/dicom_reader.h"

#include <gtest/gtest.h>

#include <atomic>
#include "platform/rtl/streams.h"

#include <string>

#include "imaging/io/dicom_tags.h"
#include "imaging/special/dicom/dicom_dictionary.h"
#include "tests/imaging/special/dicom/dicom_test_util.h"
#include "tests/imaging/special/dicom/lossless_jpeg_writer.h"

namespace {

using qvtest::Bytes;
using qvtest::TDicomRead;
using qvtest::TDicomWriter;

constexpr const char* kExplicitLE = "1.2.840.10008.1.2.1";
constexpr const char* kImplicitLE = "1.2.840.10008.1.2";
constexpr const char* kExplicitBE = "1.2.840.10008.1.2.2";
constexpr const char* kRLE = "1.2.840.10008.1.2.5";
constexpr const char* kLossless = "1.2.840.10008.1.2.4.70";

Bytes Words(const std::vector<uint16_t>& w, bool big = false) {
  Bytes b;
  for (uint16_t v : w) {
    if (big) b.insert(b.end(), {uint8_t(v >> 8), uint8_t(v)});
    else b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)});
  }
  return b;
}

std::vector<int> Row16(TIEBitmap& b, int y) {
  std::vector<int> v;
  for (int x = 0; x < b.Width(); ++x) v.push_back(b.GetPixel16(x, y));
  return v;
}

TEST(DICOMDictionary, PinnedRowsOrderAndLookups) {
  const struct {
    uint16_t group, element;
    const char* vr;
  } pinned[] = {
      {0x0002, 0x0010, "UI"}, {0x0028, 0x0002, "US"}, {0x0028, 0x0004, "CS"}, {0x0028, 0x0006, "US"},
      {0x0028, 0x0008, "IS"}, {0x0028, 0x0010, "US"}, {0x0028, 0x0011, "US"}, {0x0028, 0x0100, "US"},
      {0x0028, 0x0101, "US"}, {0x0028, 0x0103, "US"}, {0x0028, 0x1050, "DS"}, {0x0028, 0x1051, "DS"},
      {0x0028, 0x1052, "DS"}, {0x0028, 0x1053, "DS"}, {0x0028, 0x1201, "OW"}, {0x0028, 0x1202, "OW"},
      {0x0028, 0x1203, "OW"}, {0x7FE0, 0x0010, "xs"}, {0xFFFE, 0xE000, "!!"}, {0xFFFE, 0xE00D, "!!"},
      {0xFFFE, 0xE0DD, "!!"}, {0xFFFF, 0xFFFF, "xs"},
      // Repeating overlay groups read as the first; unknown elements as "xs".
      {0x6002, 0x0010, "US"}, {0x6000, 0x3000, "xs"}, {0x0009, 0x0010, "xs"}, {0x0028, 0x0106, "xs"},
      {0x0000, 0x0000, "UL"},
  };
  for (const auto& p : pinned) EXPECT_EQ(DICOMElementVR(p.group, p.element), p.vr) << std::hex << p.group << "," << p.element;
  const TDICOMDictionaryEntry* d = DICOMDictionary();
  for (size_t i = 1; i < DICOMDictionarySize(); ++i)
    ASSERT_LT(uint32_t(d[i - 1].Group) << 16 | d[i - 1].Element, uint32_t(d[i].Group) << 16 | d[i].Element) << i;
}

TEST(DICOMReader, ProbeNeedsDicmAt128AndKeepsThePosition) {
  const Bytes file = TDicomWriter(kExplicitLE).Data();
  TMemoryStream s;
  s.WriteBuffer(file.data(), int64_t(file.size()));
  s.SetPosition(0);
  EXPECT_TRUE(IsDICOMStream(s));
  EXPECT_EQ(s.Position(), 0);
  s.SetPosition(1);
  EXPECT_FALSE(IsDICOMStream(s));
  EXPECT_EQ(s.Position(), 1);
}

// A 3 x 2 picture of 16-bit samples in each of the encodings.
TEST(DICOMReader, NativeSixteenBitInEveryEncoding) {
  const std::vector<uint16_t> samples = {0, 100, 200, 300, 400, 4095};
  for (const char* ts : {kExplicitLE, kImplicitLE, kExplicitBE}) {
    SCOPED_TRACE(ts);
    const bool big = std::string(ts) == kExplicitBE;
    TDicomWriter w(ts);
    w.Text(0x10, 0x10, "PN", "Doe^John").Picture(3, 2, 16, 12, "MONOCHROME2");
    w.Element(0x7FE0, 0x0010, "OW", Words(samples, big));
    TDicomRead r;
    r.params->DicomRange = 1;  // keep the stored values
    qvtest::ReadDicomBytes(w.Data(), r);
    ASSERT_FALSE(r.abort) << r.Refusal();
    ASSERT_EQ(r.bitmap->PixelFormat(), ie16g);
    EXPECT_EQ(Row16(*r.bitmap, 0), (std::vector<int>{0, 100, 200}));
    EXPECT_EQ(Row16(*r.bitmap, 1), (std::vector<int>{300, 400, 4095}));
    EXPECT_EQ(r.params->Width, 3);
    EXPECT_EQ(r.params->Height, 2);
    EXPECT_EQ(r.params->BitsPerSample, 12);
    const TIEDICOMTags& tags = *r.params->DicomTags;
    ASSERT_GE(tags.Count(), 3);
    EXPECT_EQ(tags.Tag(1).Group, 0x10);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(tags.Tag(1).Data.data())), "Doe^John");
    EXPECT_EQ(std::string(tags.Tag(1).VR, 2), "PN");
    EXPECT_EQ(tags.Tag(tags.Count() - 1).Group, 0x7FE0);
  }
}

TEST(DICOMReader, ParamsOnlyFillsTheFieldsAndLeavesTheBitmap) {
  TDicomWriter w(kExplicitLE);
  w.Picture(3, 2, 8, 8, "MONOCHROME2").Text(0x28, 0x0008, "IS", "4 ");
  w.Element(0x7FE0, 0x0010, "OB", Bytes(24, 7));
  TDicomRead r;
  r.bitmap->Allocate(5, 5, ie24RGB);
  qvtest::ReadDicomBytes(w.Data(), r, true);
  EXPECT_FALSE(r.abort);
  EXPECT_EQ(r.params->Width, 3);
  EXPECT_EQ(r.params->ImageCount, 4);
  EXPECT_EQ(r.bitmap->Width(), 5);
}

TEST(DICOMReader, FramesOfNativeData) {
  // Three frames of 2 x 1 bytes; an index past the last reads the last.
  TDicomWriter w(kExplicitLE);
  w.Picture(2, 1, 8, 8, "MONOCHROME2").Text(0x28, 0x0008, "IS", "3");
  w.Element(0x7FE0, 0x0010, "OB", {1, 2, 3, 4, 5, 6});
  for (int index : {0, 1, 2, 7}) {
    TDicomRead r;
    r.params->ImageIndex = index;
    qvtest::ReadDicomBytes(w.Data(), r);
    ASSERT_FALSE(r.abort) << r.Refusal();
    const int k = std::min(index, 2);
    EXPECT_EQ(r.bitmap->GetPixel8(0, 0), 1 + 2 * k) << index;
    EXPECT_EQ(r.bitmap->GetPixel8(1, 0), 2 + 2 * k) << index;
  }
}

TEST(DICOMReader, PackedTwelveBitSamples) {
  TDicomWriter w(kExplicitLE);
  w.Picture(2, 1, 12, 12, "MONOCHROME2");
  w.Element(0x7FE0, 0x0010, "OB", {0x01, 0x23, 0x45, 0x00});
  TDicomRead r;
  r.params->DicomRange = 1;
  qvtest::ReadDicomBytes(w.Data(), r);
  ASSERT_FALSE(r.abort) << r.Refusal();
  EXPECT_EQ(Row16(*r.bitmap, 0), (std::vector<int>{0x301, 0x452}));
}

TEST(DICOMReader, WindowAndRescaleMapping) {
  // CT numbers through slope 1, intercept -1024; a window centred at 0 (the
  // water window that was once dropped) of width 101.
  TDicomWriter w(kExplicitLE);
  w.Picture(5, 1, 16, 16, "MONOCHROME2");
  w.Text(0x28, 0x1050, "DS", "0").Text(0x28, 0x1051, "DS", "101").Text(0x28, 0x1052, "DS", "-1024").Text(0x28, 0x1053, "DS", "1");
  w.Element(0x7FE0, 0x0010, "OW", Words({0, 974, 1024, 1074, 2000}));
  TDicomRead r;
  qvtest::ReadDicomBytes(w.Data(), r);
  ASSERT_FALSE(r.abort) << r.Refusal();
  // lo = -50.5 - ... : v <= -50.5 -> 0, v > 49.5 -> 65535, else ((v + 0.5) / 100 + 0.5) * 65535.
  EXPECT_EQ(Row16(*r.bitmap, 0), (std::vector<int>{0, 327, 33095, 65535, 65535}));

  // Width 1 thresholds at c - 0.5.
  TDicomWriter one(kExplicitLE);
  one.Picture(3, 1, 16, 16, "MONOCHROME2").Text(0x28, 0x1050, "DS", "10").Text(0x28, 0x1051, "DS", "1");
  one.Element(0x7FE0, 0x0010, "OW", Words({9, 10, 11}));
  TDicomRead r1;
  qvtest::ReadDicomBytes(one.Data(), r1);
  ASSERT_FALSE(r1.abort) << r1.Refusal();
  EXPECT_EQ(Row16(*r1.bitmap, 0), (std::vector<int>{0, 65535, 65535}));

  // Without a window (width 0 is none) the values stretch over the range;
  // range mode 1 keeps them and records the offset that made them positive.
  for (uint8_t mode : {0, 1}) {
    TDicomWriter s(kExplicitLE);
    s.Picture(3, 1, 16, 16, "MONOCHROME2", 1, 1).Text(0x28, 0x1050, "DS", "5").Text(0x28, 0x1051, "DS", "0");
    // The negative value comes second: the offset is taken from all values
    // before any is stored.
    s.Element(0x7FE0, 0x0010, "OW", Words({0, uint16_t(-100), 300}));
    TDicomRead rs;
    rs.params->DicomRange = mode;
    qvtest::ReadDicomBytes(s.Data(), rs);
    ASSERT_FALSE(rs.abort) << rs.Refusal();
    if (mode == 0) {
      EXPECT_EQ(Row16(*rs.bitmap, 0), (std::vector<int>{16383, 0, 65535}));
    } else {
      EXPECT_EQ(Row16(*rs.bitmap, 0), (std::vector<int>{100, 0, 400}));
      EXPECT_EQ(rs.params->DicomValueOffset, 100);
      EXPECT_EQ(rs.bitmap->RangeMin(), 0);
      EXPECT_EQ(rs.bitmap->RangeMax(), 400);
    }
  }
}

TEST(DICOMReader, MonochromeOneInvertsAndMirrorsTheRange) {
  TDicomWriter w(kExplicitLE);
  w.Picture(2, 1, 16, 16, "MONOCHROME1").Text(0x28, 0x1050, "DS", "100").Text(0x28, 0x1051, "DS", "50");
  w.Element(0x7FE0, 0x0010, "OW", Words({10, 1000}));
  TDicomRead r;
  r.params->DicomRange = 1;
  qvtest::ReadDicomBytes(w.Data(), r);
  ASSERT_FALSE(r.abort) << r.Refusal();
  EXPECT_EQ(Row16(*r.bitmap, 0), (std::vector<int>{65535 - 10, 65535 - 1000}));
  EXPECT_EQ(r.bitmap->RangeMin(), 65535 - 125);
  EXPECT_EQ(r.bitmap->RangeMax(), 65535 - 75);
}

TEST(DICOMReader, ShortPaletteReadsMissingEntriesAsZero) {
  TDicomWriter w(kExplicitLE);
  w.Picture(4, 1, 8, 8, "PALETTE COLOR");
  w.Words(0x28, 0x1201, "OW", {0xFFFF, 0x0000, 0x8080});
  w.Words(0x28, 0x1202, "OW", {0x0000, 0xFFFF, 0x8080});
  w.Words(0x28, 0x1203, "OW", {0x0000, 0x0000, 0x8080});
  w.Element(0x7FE0, 0x0010, "OB", {0, 1, 2, 200});
  TDicomRead r;
  qvtest::ReadDicomBytes(w.Data(), r);
  ASSERT_FALSE(r.abort) << r.Refusal();
  ASSERT_EQ(r.bitmap->PixelFormat(), ie24RGB);
  EXPECT_EQ(r.bitmap->GetPixelRGB(0, 0), (TRGB{0, 0, 255}));
  EXPECT_EQ(r.bitmap->GetPixelRGB(1, 0), (TRGB{0, 255, 0}));
  EXPECT_EQ(r.bitmap->GetPixelRGB(2, 0), (TRGB{128, 128, 128}));
  EXPECT_EQ(r.bitmap->GetPixelRGB(3, 0), (TRGB{0, 0, 0}));
}

TEST(DICOMReader, ElementsInsideSequencesOnlyJoinTheList) {
  // An icon image sequence of undefined length holds a smaller picture of
  // its own; the image's description and pixels stay the outer ones.
  TDicomWriter w(kExplicitLE);
  w.Picture(2, 1, 8, 8, "MONOCHROME2");
  w.Undefined(0x0088, 0x0200, "SQ").Item();
  w.Picture(1, 1, 8, 8, "MONOCHROME1").Element(0x7FE0, 0x0010, "OB", {9, 9});
  w.ItemEnd().SequenceEnd();
  w.Element(0x7FE0, 0x0010, "OB", {10, 20});
  TDicomRead r;
  qvtest::ReadDicomBytes(w.Data(), r);
  ASSERT_FALSE(r.abort) << r.Refusal();
  ASSERT_EQ(r.bitmap->Width(), 2);
  EXPECT_EQ(r.bitmap->GetPixel8(0, 0), 10);
  EXPECT_EQ(r.bitmap->GetPixel8(1, 0), 20);
  // The nested elements are listed.
  int pixelData = 0;
  for (int i = 0; i < r.params->DicomTags->Count(); ++i) pixelData += r.params->DicomTags->Tag(i).Group == 0x7FE0;
  EXPECT_EQ(pixelData, 2);
}

TEST(DICOMReader, JfifLookingPixelDataIsTakenOnlyWhenNothingElseFollows) {
  TDicomWriter w(kExplicitLE);
  w.Picture(2, 1, 8, 8, "MONOCHROME2");
  w.Element(0x7FE0, 0x0010, "OB", {0xFF, 0xD8, 0xFF, 0xE0});
  w.Element(0x7FE0, 0x0010, "OB", {3, 4});
  TDicomRead r;
  qvtest::ReadDicomBytes(w.Data(), r);
  ASSERT_FALSE(r.abort) << r.Refusal();
  EXPECT_EQ(r.bitmap->GetPixel8(1, 0), 4);
}

TEST(DICOMReader, RunLengthEncodedPictures) {
  // Grey 8-bit (stretched), 16-bit (high then low bytes), RGB and YBR_FULL.
  {
    TDicomWriter w(kRLE);
    w.Picture(4, 1, 8, 8, "MONOCHROME2").Encapsulated({qvtest::RleFrame({{0, 50, 50, 100}})});
    TDicomRead r;
    qvtest::ReadDicomBytes(w.Data(), r);
    ASSERT_FALSE(r.abort) << r.Refusal();
    EXPECT_EQ(r.bitmap->GetPixel8(1, 0), 127);
    EXPECT_EQ(r.bitmap->GetPixel8(3, 0), 255);
  }
  {
    TDicomWriter w(kRLE);
    w.Picture(2, 1, 16, 16, "MONOCHROME2").Encapsulated({qvtest::RleFrame({{0x12, 0xAB}, {0x34, 0xCD}})});
    TDicomRead r;
    r.params->DicomRange = 1;
    qvtest::ReadDicomBytes(w.Data(), r);
    ASSERT_FALSE(r.abort) << r.Refusal();
    EXPECT_EQ(Row16(*r.bitmap, 0), (std::vector<int>{0x1234, 0xABCD}));
  }
  for (const char* photometric : {"RGB", "YBR_FULL"}) {
    TDicomWriter w(kRLE);
    w.Picture(2, 1, 8, 8, photometric, 3).Encapsulated({qvtest::RleFrame({{255, 0}, {0, 0}, {0, 255}})});
    if (std::string(photometric) == "YBR_FULL")
      w = TDicomWriter(kRLE), w.Picture(2, 1, 8, 8, photometric, 3).Encapsulated({qvtest::RleFrame({{76, 29}, {85, 255}, {255, 107}})});
    TDicomRead r;
    qvtest::ReadDicomBytes(w.Data(), r);
    ASSERT_FALSE(r.abort) << r.Refusal();
    const TRGB red = r.bitmap->GetPixelRGB(0, 0), blue = r.bitmap->GetPixelRGB(1, 0);
    EXPECT_GE(red.r, 250) << photometric;
    EXPECT_LE(red.b, 5) << photometric;
    EXPECT_GE(blue.b, 250) << photometric;
    EXPECT_LE(blue.r, 5) << photometric;
  }
  {
    // All values 0: the stretch has nothing to divide by and keeps 0.
    TDicomWriter w(kRLE);
    w.Picture(4, 1, 8, 8, "MONOCHROME2").Encapsulated({qvtest::RleFrame({{0, 0, 0, 0}})});
    TDicomRead r;
    qvtest::ReadDicomBytes(w.Data(), r);
    ASSERT_FALSE(r.abort) << r.Refusal();
    for (int x = 0; x < 4; ++x) EXPECT_EQ(r.bitmap->GetPixel8(x, 0), 0);
  }
  {
    // Runs that claim more than the picture holds stop at its end.
    Bytes frame = qvtest::RleFrame({{1, 2}});
    frame.resize(64);
    frame.insert(frame.end(), {uint8_t(-127), 9, uint8_t(-127), 9, 0x7F, 1});
    TDicomWriter w(kRLE);
    w.Picture(2, 1, 8, 8, "MONOCHROME2").Encapsulated({frame});
    TDicomRead r;
    r.params->DicomRange = 1;
    qvtest::ReadDicomBytes(w.Data(), r);
    ASSERT_FALSE(r.abort) << r.Refusal();
    EXPECT_EQ(r.bitmap->GetPixel8(1, 0), 9);
  }
}

TEST(DICOMReader, EncapsulatedFramesAndFragments) {
  const std::vector<uint16_t> a = {100, 200, 300, 400, 500, 600}, b = {7, 8, 9, 10, 11, 12};
  auto lossless = [](const std::vector<uint16_t>& s) { return qvtest::WriteLosslessJpeg(s, {3, 2, 1, 16, 1, 0, 0, false}); };
  Bytes first = lossless(a), second = lossless(b);
  if (first.size() % 2) first.push_back(0);
  if (second.size() % 2) second.push_back(0);
  // Frame 1 split in two fragments.
  const Bytes head(second.begin(), second.begin() + 20), tail(second.begin() + 20, second.end());
  const uint32_t secondOffset = uint32_t(8 + first.size());
  for (bool withTable : {true, false}) {
    TDicomWriter w(kLossless);
    w.Picture(3, 2, 16, 16, "MONOCHROME2").Text(0x28, 0x0008, "IS", "2");
    if (withTable) w.Encapsulated({first, head, tail}, {0, secondOffset});
    else w.Encapsulated({first, head, tail});
    for (int index : {0, 1}) {
      SCOPED_TRACE(std::to_string(index) + (withTable ? " with offsets" : " without offsets"));
      TDicomRead r;
      r.params->DicomRange = 1;
      r.params->ImageIndex = index;
      qvtest::ReadDicomBytes(w.Data(), r);
      ASSERT_FALSE(r.abort) << r.Refusal();
      const auto& s = index == 0 ? a : b;
      EXPECT_EQ(Row16(*r.bitmap, 0), (std::vector<int>{s[0], s[1], s[2]}));
      EXPECT_EQ(Row16(*r.bitmap, 1), (std::vector<int>{s[3], s[4], s[5]}));
    }
  }
}

TEST(DICOMReader, HostileFilesAreRefusedAndLeaveTheBitmap) {
  auto base = [](const char* ts = kExplicitLE) {
    TDicomWriter w(ts);
    w.Picture(4, 4, 16, 16, "MONOCHROME2");
    return w;
  };
  struct TCase {
    const char* name;
    Bytes file;
  };
  std::vector<TCase> cases;
  {
    TDicomWriter w = base();
    w.Element(0x7FE0, 0x0010, "OW", Bytes(32, 1));
    Bytes f = w.Data();
    f.resize(f.size() - 5);
    cases.push_back({"pixel data cut short", f});
  }
  {
    TDicomWriter w = base();
    w.Raw({0x10, 0, 0x10, 0, 'O', 'B', 0, 0, 0xFE, 0xFF, 0xFF, 0xFF, 1, 2, 3});
    cases.push_back({"length 0xFFFFFFFE", w.Data()});
  }
  {
    TDicomWriter w = base();
    w.Text(0x28, 0x0008, "IS", "2147483648").Encapsulated({Bytes(40, 0)});
    cases.push_back({"2^31 frames of a native syntax", w.Data()});
  }
  {
    TDicomWriter w = base(kLossless);
    w.Text(0x28, 0x0008, "IS", "2147483647").Encapsulated({Bytes(40, 0)});
    cases.push_back({"2^31 frames, one bad fragment", w.Data()});
  }
  {
    TDicomWriter w = base();
    for (int i = 0; i < 1000; ++i) w.Undefined(0x0040, 0x0275, "SQ").Item();
    cases.push_back({"sequences 1,000 deep and no pixel data", w.Data()});
  }
  {
    TDicomWriter w = base(kLossless);
    w.Undefined(0x7FE0, 0x0010, "OB").Item(400).Raw({1, 2, 3, 4});
    cases.push_back({"offset table past the end", w.Data()});
  }
  {
    TDicomWriter w = base("1.2.840.10008.1.2.4.90");
    Bytes j2k = {0xFF, 0x4F, 0xFF, 0x51, 0, 41, 0, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0,
                 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 15, 1, 1};
    j2k.resize(100, 0);
    w.Encapsulated({j2k});
    cases.push_back({"J2K claiming 65535 x 65535 in 100 bytes", w.Data()});
  }
  {
    TDicomWriter w = base(kLossless);
    Bytes noScan = qvtest::WriteLosslessJpeg(std::vector<uint16_t>(16, 5), {4, 4, 1, 16, 1, 0, 0, false});
    noScan.resize(60);
    w.Encapsulated({noScan});
    cases.push_back({"lossless JPEG without a scan", w.Data()});
  }
  {
    TDicomWriter w(kExplicitLE);
    w.Picture(8, 1, 1, 1, "MONOCHROME2").Element(0x7FE0, 0x0010, "OB", {0xAA, 0});
    cases.push_back({"bits allocated 1", w.Data()});
  }
  for (const char* ts : {"1.2.840.10008.1.2.4.80", "1.2.840.10008.1.2.4.81", "1.2.840.10008.1.2.4.100"}) {
    TDicomWriter w = base(ts);
    w.Encapsulated({Bytes(40, 0)});
    cases.push_back({ts, w.Data()});
  }
  {
    TDicomWriter w("1.2.840.10008.1.2.1.99");
    w.Raw({0x78, 0x9C, 1, 2, 3, 4, 5, 6, 7, 8});
    cases.push_back({"deflated data set", w.Data()});
  }
  {
    TDicomWriter w = base("1.2.840.10008.1.2.4.51");
    Bytes sof12 = {0xFF, 0xD8, 0xFF, 0xC1, 0, 11, 12, 0, 4, 0, 4, 1, 1, 0x11, 0};
    sof12.resize(40, 0);
    w.Encapsulated({sof12});
    cases.push_back({"12-bit JPEG", w.Data()});
  }
  for (const TCase& c : cases) {
    TDicomRead r;
    r.bitmap->Allocate(3, 3, ie24RGB);
    r.bitmap->Fill(0x123456);
    qvtest::ReadDicomBytes(c.file, r);
    EXPECT_TRUE(r.abort) << c.name;
    EXPECT_FALSE(r.Refusal().empty()) << c.name;
    EXPECT_EQ(r.bitmap->Width(), 3) << c.name;
    EXPECT_EQ(r.bitmap->GetPixelRGB(1, 1), (TRGB{0x12, 0x34, 0x56})) << c.name;
  }
}

}  // namespace
