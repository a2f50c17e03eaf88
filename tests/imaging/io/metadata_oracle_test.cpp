// IPTC, Photoshop resolution and XMP blocks against exiftool.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_streams.h"
#include "imaging/formats/format_filters.h"
#include "imaging/special/special_formats.h"
#include "imaging/io/format_detect.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"
#include "imaging/io/jpeg_markers.h"
#include "imaging/io/xmp_packet.h"
#include "io_test_support.h"
#include "tests/imaging/formats/format_test_util.h"
#include "test_support.h"

namespace {

struct Segment {
  int type;
  std::vector<uint8_t> payload;
};

// The APPn and COM segments of a JPEG, up to the start of the scan.
std::vector<Segment> Segments(const std::vector<uint8_t>& jpeg) {
  std::vector<Segment> out;
  size_t p = 2;
  while (p + 4 <= jpeg.size() && jpeg[p] == 0xFF) {
    const int type = jpeg[p + 1];
    const size_t length = size_t(jpeg[p + 2]) << 8 | jpeg[p + 3];
    if (type == 0xDA || length < 2 || p + 2 + length > jpeg.size()) break;
    if ((type >= 0xE0 && type <= 0xEF) || type == 0xFE)
      out.push_back({type, std::vector<uint8_t>(jpeg.begin() + std::ptrdiff_t(p + 4), jpeg.begin() + std::ptrdiff_t(p + 2 + length))});
    p += 2 + length;
  }
  return out;
}

bool HaveTools() {
  return qvtest::HaveProgram("exiftool") && qvtest::HaveProgram("cjpeg") && qvtest::HaveProgram("ppmmake");
}

std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

// A JPEG writer that puts the parameter set's markers in front of a JPEG made
// by cjpeg, as the real writer does; a payload a segment cannot hold fails.
void InstallSplicingWriter(const std::vector<uint8_t>& jpeg) {
  FindFormatDescriptor(ioJPEG)->Write = [jpeg](TIEFormatWriteArgs& a) {
    TStream& s = a.Stream;
    TIOParamsVals& p = a.Params;
    TProgressRecord& pr = a.Progress;
    TIEMarkerList& m = *p.JpegMarkers;
    m.Sort();
    const uint8_t soi[2] = {0xFF, 0xD8};
    s.WriteBuffer(soi, 2);
    for (int i = 0; i < m.Count(); ++i) {
      if (m.MarkerLength(i) > kMaxJpegMarkerPayload) {
        pr.Abort();
        return;
      }
      const uint16_t n = uint16_t(m.MarkerLength(i) + 2);
      const uint8_t head[4] = {0xFF, uint8_t(m.MarkerType(i)), uint8_t(n >> 8), uint8_t(n)};
      s.WriteBuffer(head, 4);
      s.WriteBuffer(m.MarkerData(i), m.MarkerLength(i));
    }
    s.WriteBuffer(jpeg.data() + 2, int64_t(jpeg.size() - 2));
  };
}

TEST(MetadataOracle, IPTCAndResolutionReadByExiftool) {
  if (!HaveTools()) GTEST_SKIP() << "exiftool, cjpeg or netpbm is not installed";
  qvtest::EnsureImageIO();
  qvtest::FilterSlotsScope slots;
  qvtest::TempDir dir;
  ASSERT_EQ(qvtest::RunCommand("ppmmake rgb:20/40/80 8 8 | cjpeg > " + dir.File("base.jpg")), 0);
  const std::vector<uint8_t> base = qvtest::ReadFileBytes(dir.File("base.jpg"));
  InstallSplicingWriter(base);

  TImageLibIO io(nullptr);
  io.IEBitmap()->Allocate(8, 8, ie24RGB);
  TIOParamsVals& p = io.Params();
  // The picture came with a resolution resource of 72 DPI in its APP13 marker.
  std::vector<uint8_t> app13 = {'P', 'h', 'o', 't', 'o', 's', 'h', 'o', 'p', ' ', '3', '.', '0', 0,
                                '8', 'B', 'I', 'M', 0x03, 0xED, 0, 0, 0, 0, 0, 16,
                                0, 0x48, 0, 0, 0, 1, 0, 1, 0, 0x48, 0, 0, 0, 1, 0, 1};
  p.JpegMarkers->AddMarker(0xED, app13.data(), int64_t(app13.size()));
  p.SetDpiX(300);
  p.SetDpiY(300);
  io.UpdateJPEGResolutionResource();
  // Then a caption of 40,000 bytes replaces the block by the IPTC resource, to
  // which the rewritten resolution resource is appended.
  std::string caption(40000, 'x');
  for (size_t i = 0; i < caption.size(); i += 97) caption[i] = char('a' + i % 26);
  TIEIPTCInfoList iptc;
  iptc.AddItem(2, 120, int64_t(caption.size()), caption.data());
  iptc.AddItem(2, 25, 4, "tag1");
  std::vector<uint8_t> block = iptc.SaveToBuffer(true);
  block.insert(block.end(), p.JpegMarkers->MarkerData(0) + 14, p.JpegMarkers->MarkerData(0) + app13.size());
  p.JpegMarkers->SetMarker(0, 0xED, int64_t(block.size()), block.data());
  // As after reading such a file: the list holds the items and is unchanged, so
  // the block goes out as it stands.
  ASSERT_TRUE(p.IptcInfo->LoadFromBuffer(block.data(), int64_t(block.size())));
  io.SaveJPEGFile(UTF8ToWide(dir.File("out.jpg")));
  ASSERT_FALSE(io.Aborting());

  std::string out;
  ASSERT_EQ(qvtest::RunCommand("exiftool -s -s -s -Photoshop:XResolution -Photoshop:YResolution -IPTC:Keywords " +
                                   dir.File("out.jpg"),
                               &out),
            0);
  EXPECT_EQ(out, "300\n300\ntag1\n");
  ASSERT_EQ(qvtest::RunCommand("exiftool -b -IPTC:Caption-Abstract " + dir.File("out.jpg"), &out), 0);
  EXPECT_EQ(out.size(), caption.size());
  EXPECT_TRUE(out == caption);
  ASSERT_EQ(qvtest::RunCommand("exiftool -IPTC:all " + dir.File("out.jpg") + " | wc -l", &out), 0);
  EXPECT_EQ(Trimmed(out), "2");

  // A block a JPEG segment cannot hold is refused by the writer, not cut.
  p.IptcInfo->AddItem(2, 120, int64_t(70000), std::string(70000, 'y').data());
  qvtest::WriteFileBytes(dir.File("big.jpg"), base);
  io.SaveJPEGFile(UTF8ToWide(dir.File("big.jpg")));
  EXPECT_TRUE(io.Aborting());
  EXPECT_EQ(qvtest::ReadFileBytes(dir.File("big.jpg")), base);
}

TEST(MetadataOracle, ExiftoolBlocksParse) {
  if (!HaveTools()) GTEST_SKIP() << "exiftool, cjpeg or netpbm is not installed";
  qvtest::TempDir dir;
  const std::string jpg = dir.File("t.jpg");
  ASSERT_EQ(qvtest::RunCommand("ppmmake rgb:20/40/80 8 8 | cjpeg > " + jpg), 0);
  ASSERT_EQ(qvtest::RunCommand("exiftool -q -overwrite_original -IPTC:Caption-Abstract='hello world' "
                               "-IPTC:Keywords=one -IPTC:Keywords=two -IPTC:By-line=me "
                               "-XMP-dc:Title='A title' -XMP-dc:Creator=someone " +
                               jpg),
            0);
  const std::vector<Segment> segments = Segments(qvtest::ReadFileBytes(jpg));
  TIEIPTCInfoList iptc;
  TIOParamsVals params(nullptr);
  bool sawIptc = false, sawXmp = false;
  for (const Segment& s : segments) {
    if (s.type == 0xED) sawIptc = iptc.LoadFromBuffer(s.payload.data(), int64_t(s.payload.size()));
    if (s.type == 0xE1 && FindXMPPacket(s.payload.data(), int64_t(s.payload.size())) != nullptr)
      sawXmp = ParseXMPMarker(s.payload.data(), int64_t(s.payload.size()), params);
  }
  ASSERT_TRUE(sawIptc);
  ASSERT_TRUE(sawXmp);
  std::vector<std::string> keywords;
  std::string caption, byline;
  for (int i = 0; i < iptc.Count(); ++i) {
    const std::string value(iptc.ItemData(i).begin(), iptc.ItemData(i).end());
    EXPECT_EQ(iptc.RecordNumber(i), 2);
    if (iptc.DatasetNumber(i) == 25) keywords.push_back(value);
    if (iptc.DatasetNumber(i) == 120) caption = value;
    if (iptc.DatasetNumber(i) == 80) byline = value;
  }
  EXPECT_EQ(keywords, (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(caption, "hello world");
  EXPECT_EQ(byline, "me");
  EXPECT_NE(params.XmpPacket.find("A title"), std::string::npos);
  EXPECT_NE(params.XmpPacket.find("someone"), std::string::npos);
  EXPECT_EQ(params.XmpPacket.rfind("<?xpacket end", params.XmpPacket.size()) != std::string::npos, true);

  // Our XMP block in place of exiftool's is read back by exiftool.
  TIOParamsVals ours(nullptr);
  ours.XmpPacket = params.XmpPacket;
  const std::vector<uint8_t> xmp = BuildXMPMarker(ours);
  std::vector<uint8_t> file = {0xFF, 0xD8, 0xFF, 0xE1, uint8_t((xmp.size() + 2) >> 8), uint8_t(xmp.size() + 2)};
  file.insert(file.end(), xmp.begin(), xmp.end());
  const std::vector<uint8_t> plain = qvtest::ReadFileBytes(jpg);
  std::vector<uint8_t> rest;
  {
    // Everything after the original segments.
    size_t p = 2;
    while (p + 4 <= plain.size() && plain[p] == 0xFF && plain[p + 1] >= 0xE0 && plain[p + 1] <= 0xEF)
      p += 2 + (size_t(plain[p + 2]) << 8 | plain[p + 3]);
    file.insert(file.end(), plain.begin() + std::ptrdiff_t(p), plain.end());
  }
  qvtest::WriteFileBytes(dir.File("ours.jpg"), file);
  std::string out;
  ASSERT_EQ(qvtest::RunCommand("exiftool -s -s -s -XMP-dc:Title " + dir.File("ours.jpg"), &out), 0);
  EXPECT_EQ(out, "A title\n");
}

TEST(MetadataOracle, APP13SurvivesALoadAndASaveThroughTheComponent) {
  // A parameter reset marked the IPTC list edited: markers taken over after
  // it (here from a loaded file into a fresh component) lost their APP13
  // block on the next save, IPTC caption and Photoshop resources alike.
  if (!HaveTools()) GTEST_SKIP() << "exiftool, cjpeg or netpbm is not installed";
  qvtest::EnsureImageIO();
  qvtest::FilterSlotsScope slots;
  RegisterFormatFilters();
  RegisterSpecialFormats();
  qvtest::TempDir dir;
  const struct {
    const char* name;
    const char* write;  // exiftool's arguments
    const char* read;   // the tags asked back
    const char* expected;
  } cases[] = {
      {"flag", "-Photoshop:CopyrightFlag=True", "-Photoshop:CopyrightFlag", "True\n"},
      {"iptc", "-IPTC:Caption-Abstract=hello -Photoshop:CopyrightFlag=True",
       "-IPTC:Caption-Abstract -Photoshop:CopyrightFlag", "hello\nTrue\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string in = dir.File(std::string(c.name) + ".jpg"), out = dir.File(std::string(c.name) + "_out.jpg");
    ASSERT_EQ(qvtest::RunCommand("ppmmake rgb:20/40/80 16 8 | cjpeg > " + in), 0);
    ASSERT_EQ(qvtest::RunCommand(std::string("exiftool -q -overwrite_original ") + c.write + " " + in), 0);
    const std::vector<uint8_t> bytes = qvtest::ReadFileBytes(in);
    TMemoryStream source;
    source.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    source.SetPosition(0);
    TIEBitmap bitmap;
    auto io = TImageLibIO::CreateForBitmap(&bitmap);
    io->LoadStream(source);
    ASSERT_FALSE(io->Aborting());
    TIEBitmap copy;
    copy.Assign(&bitmap);
    auto fresh = TImageLibIO::CreateForBitmap(&copy);
    fresh->Params().JpegMarkers->Assign(io->Params().JpegMarkers.get());
    TMemoryStream saved;
    fresh->SaveStream(saved, ioJPEG);
    ASSERT_FALSE(fresh->Aborting());
    qvtest::WriteFileBytes(out, qvtest::StreamBytes(saved));
    std::string text;
    ASSERT_EQ(qvtest::RunCommand(std::string("exiftool -s -s -s ") + c.read + " " + out, &text), 0);
    EXPECT_EQ(text, c.expected);
  }
}

}  // namespace
