// EXIF blocks: parsing, building, the maker notes, the block a JPEG save
// writes, and the tag writer's entry shapes; against exiftool, exiv2, djpeg
// and Pillow where they can judge.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/formats/jpeg_filter.h"
#include "imaging/formats/png_filter.h"
#include "imaging/formats/tiff/exif_io.h"
#include "imaging/formats/tiff/tiff_tag_writer.h"
#include "imaging/formats/tiff/tiff_writer.h"
#include "imaging/core/ie_orientation.h"
#include "imaging/io/exif_block.h"
#include "imaging/io/io_params.h"
#include "imaging/io/jpeg_markers.h"
#include "imaging/io/tiff_ifd.h"
#include "tests/imaging/formats/format_test_util.h"
#include "tests/support/test_support.h"

namespace {

const char* kGdkTests = "/usr/libexec/installed-tests/gdk-pixbuf/";

// ---- JPEG segments ----

struct TSegment {
  size_t at;  // of the FF byte
  uint8_t type;
  std::vector<uint8_t> payload;
};

std::vector<TSegment> Segments(const std::vector<uint8_t>& f) {
  std::vector<TSegment> out;
  size_t p = 2;
  while (p + 4 <= f.size() && f[p] == 0xFF && f[p + 1] != 0xDA) {
    const size_t len = size_t(f[p + 2]) << 8 | f[p + 3];
    if (p + 2 + len > f.size()) break;
    out.push_back({p, f[p + 1], std::vector<uint8_t>(f.begin() + std::ptrdiff_t(p + 4), f.begin() + std::ptrdiff_t(p + 2 + len))});
    p += 2 + len;
  }
  return out;
}

std::vector<uint8_t> ExifPayload(const std::vector<uint8_t>& f) {
  for (const TSegment& s : Segments(f))
    if (s.type == 0xE1 && s.payload.size() > 6 && std::memcmp(s.payload.data(), "Exif\0\0", 6) == 0) return s.payload;
  return {};
}

// The file with its "Exif" segment replaced (or added after SOI).
std::vector<uint8_t> WithExif(const std::vector<uint8_t>& f, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> seg = {0xFF, 0xE1, uint8_t((payload.size() + 2) >> 8), uint8_t(payload.size() + 2)};
  seg.insert(seg.end(), payload.begin(), payload.end());
  for (const TSegment& s : Segments(f)) {
    if (s.type == 0xE1 && s.payload.size() > 6 && std::memcmp(s.payload.data(), "Exif\0\0", 6) == 0) {
      std::vector<uint8_t> out(f.begin(), f.begin() + std::ptrdiff_t(s.at));
      out.insert(out.end(), seg.begin(), seg.end());
      out.insert(out.end(), f.begin() + std::ptrdiff_t(s.at + 4 + s.payload.size()), f.end());
      return out;
    }
  }
  std::vector<uint8_t> out(f.begin(), f.begin() + 2);
  out.insert(out.end(), seg.begin(), seg.end());
  out.insert(out.end(), f.begin() + 2, f.end());
  return out;
}

// exiftool's lines "[Group] Tag : value" as a map (-s: tag names).
std::map<std::string, std::string> Exiftool(const std::string& args, const std::string& file) {
  std::string out;
  qvtest::RunCommand("exiftool -s -a -G1 " + args + " '" + file + "' 2>/dev/null", &out);
  std::map<std::string, std::string> m;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    const size_t colon = line.find(" : ");
    if (colon == std::string::npos) continue;
    std::string key;
    for (char c : line.substr(0, colon))
      if (c != ' ' || (!key.empty() && key.back() != ' ')) key += c;
    while (!key.empty() && key.back() == ' ') key.pop_back();
    m[key] = line.substr(colon + 3);
  }
  return m;
}

std::string Lines(const std::map<std::string, std::string>& m, const std::vector<std::string>& skip = {}) {
  std::string s;
  for (const auto& [k, v] : m) {
    bool skipped = false;
    for (const std::string& x : skip) skipped |= (k + " : " + v + "\n").find(x) != std::string::npos;
    if (!skipped) s += k + " : " + v + "\n";
  }
  return s;
}

bool HaveTools() {
  return qvtest::HaveProgram("exiftool") && qvtest::HaveProgram("exiv2") && qvtest::HaveProgram("djpeg") &&
         qvtest::HaveProgram("cjpeg");
}

std::vector<uint8_t> Ppm(int w, int h) {
  std::string head = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  std::vector<uint8_t> v(head.begin(), head.end());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      // Four quadrants of their own colour, so every turn shows.
      const bool right = x >= w / 2, bottom = y >= h / 2;
      v.push_back(uint8_t(right ? 230 : 20));
      v.push_back(uint8_t(bottom ? 200 : 40));
      v.push_back(uint8_t(right != bottom ? 180 : 60));
    }
  return v;
}

TIOParamsVals& Parse(TIOParamsVals& p, const std::vector<uint8_t>& payload) {
  EXPECT_TRUE(ParseEXIFMarker(payload.data(), int64_t(payload.size()), p));
  return p;
}

double Num(const std::string& s) { return std::strtod(s.c_str(), nullptr); }

}  // namespace

// ---- without outside tools ----

TEST(ExifBlock, OursReadsBackAndBadBlocksLeaveTheFieldsAlone) {
  TIOParamsVals p(nullptr);
  p.HasExifData = true;
  p.ExifMake = "Quorvane";
  p.ExifModel = "Test";
  p.SetDpiXFloat(299.5);
  p.SetDpiYFloat(150);
  p.SetEXIFOrientation(3);
  p.SetEXIFExposureTime(1.0 / 250);
  p.SetEXIFExposureBiasValue(-0.7);
  p.ExifUserComment = L"two";
  p.ExifGPSVersionID = "2.2.0.0";
  p.ExifGPSLatitudeRef = "N";
  p.ExifGPSLatitude[0] = 48, p.ExifGPSLatitude[1] = 30, p.ExifGPSLatitude[2] = 15.25;
  // Four flat quadrants of 8 x 8, which JPEG keeps.
  p.ExifThumbnail = std::make_unique<TIEBitmap>(16, 16, ie24RGB);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      p.ExifThumbnail->SetPixelRGB(x, y, TRGB{uint8_t(x < 8 ? 200 : 20), uint8_t(y < 8 ? 30 : 220), 90});
  const std::vector<uint8_t> block = BuildEXIFBlock(p, true);
  ASSERT_GT(block.size(), 100u);
  TIOParamsVals q(nullptr);
  Parse(q, block);
  EXPECT_TRUE(q.HasExifData);
  EXPECT_EQ(q.ExifMake, "Quorvane");
  EXPECT_EQ(q.ExifOrientation, 3);
  EXPECT_NEAR(q.ExifXResolution, 299.5, 1e-6);
  EXPECT_EQ(q.DpiX, 299);
  EXPECT_NEAR(q.ExifExposureTime, 0.004, 1e-9);
  EXPECT_NEAR(q.ExifExposureBiasValue, -0.7, 1e-6);
  EXPECT_EQ(q.ExifUserComment, L"two");
  EXPECT_EQ(q.ExifGPSVersionID, "2.2.0.0");
  EXPECT_EQ(q.ExifGPSLatitudeRef, "N");
  EXPECT_NEAR(q.ExifGPSLatitude[2], 15.25, 1e-6);
  // The thumbnail comes back upright as it went in, though stored turned.
  ASSERT_TRUE(q.ExifThumbnail && !q.ExifThumbnail->IsEmpty());
  EXPECT_EQ(q.ExifThumbnail->Width(), 16);
  for (auto [x, y] : {std::pair{3, 3}, std::pair{12, 3}, std::pair{3, 12}, std::pair{12, 12}}) {
    const TRGB a = p.ExifThumbnail->GetPixelRGB(x, y), b = q.ExifThumbnail->GetPixelRGB(x, y);
    EXPECT_LE(std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b), 12) << x << "," << y;
  }
  // What was parsed, unchanged, is saved as it was read.
  EXPECT_EQ(EXIFMarkerForSave(q, block.data(), int64_t(block.size())), block);

  // Not EXIF, a cut TIFF, a first directory outside the data: false, nothing touched.
  const std::vector<std::vector<uint8_t>> bad = {
      {'E', 'x', 'i', 'x', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0},
      {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42},
      {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 0xF0, 0, 0, 0, 1, 0},
  };
  for (const auto& v : bad) {
    TIOParamsVals r(nullptr);
    r.ExifMake = "kept";
    EXPECT_FALSE(ParseEXIFMarker(v.data(), int64_t(v.size()), r));
    EXPECT_EQ(r.ExifMake, "kept");
    EXPECT_FALSE(r.HasExifData);
  }
  // A block without a second page: fields and an empty thumbnail.
  TIOParamsVals plain(nullptr);
  plain.HasExifData = true;
  plain.ExifArtist = "me";
  TIOParamsVals r(nullptr);
  Parse(r, BuildEXIFBlock(plain, true));
  EXPECT_EQ(r.ExifArtist, "me");
  ASSERT_TRUE(r.ExifThumbnail);
  EXPECT_TRUE(r.ExifThumbnail->IsEmpty());
}

TEST(ExifBlock, TagWriterEntryShapes) {
  TMemoryStream s;
  qvtest::Progress pr;
  TFilterWriter w{s, pr.rec};
  w.Put("x", 1);  // odd, so out-of-line values must align
  TTIFFTagList tags;
  AddTIFFASCIITag(tags, w, 1, "");
  AddTIFFASCIITag(tags, w, 2, "abc");
  AddTIFFASCIITag(tags, w, 3, "abcd");
  AddTIFFVersionTag(tags, 4, "0230");
  AddTIFFInlineByteTag(tags, 5, TextToGPSVersion("2.2.0.0"));
  AddTIFFUserCommentTag(tags, w, std::string("ASCII\0\0\0", 8), L"hi");
  AddTIFFUserCommentTag(tags, w, "", L"hi");
  TIOParamsVals p(nullptr);
  p.IptcInfo = std::make_unique<TIEIPTCInfoList>();
  p.IptcInfo->AddItem(2, 5, 1, "x");
  const size_t iptcBytes = p.IptcInfo->SaveToBuffer(false).size();
  AddTIFFIPTCTag(tags, w, p);
  ASSERT_EQ(tags.size(), 7u);
  EXPECT_EQ(tags[0].Tag, 2);
  EXPECT_EQ(tags[0].Count, 4u);
  EXPECT_EQ(std::memcmp(tags[0].Value, "abc", 4), 0);
  EXPECT_EQ(tags[1].Count, 5u);
  const uint32_t at = TIFFGet32(tags[1].Value, true);
  EXPECT_EQ(at % 2, 0u);
  EXPECT_EQ(std::memcmp(s.Memory() + at, "abcd", 5), 0);
  EXPECT_EQ(tags[2].Type, ttUNDEFINED);
  EXPECT_EQ(tags[2].Count, 4u);
  EXPECT_EQ(std::memcmp(tags[3].Value, "\2\2\0\0", 4), 0);
  EXPECT_EQ(tags[3].Count, 4u);
  EXPECT_EQ(tags[4].Count, 11u);
  EXPECT_EQ(tags[5].Count, 14u);
  EXPECT_EQ(tags[6].Count, (iptcBytes + 3) / 4);
  EXPECT_NE(iptcBytes % 4, 0u);
  EXPECT_EQ(size_t(s.Size() - TIFFGet32(tags[6].Value, true)), 4 * tags[6].Count);  // padded to the words its count says
}

TEST(ExifBlock, MakerNotesReadAndWriteInTheirByteOrder) {
  // A Nikon note with an "MM" header: a SHORT, a DOUBLE pair out of line
  // (16 bytes) and an ASCII text, offsets from the header.
  std::vector<uint8_t> nikon = {'N', 'i', 'k', 'o', 'n', 0, 2, 0x10, 0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8};
  const auto be16 = [](std::vector<uint8_t>& v, uint16_t x) { v.push_back(uint8_t(x >> 8)), v.push_back(uint8_t(x)); };
  const auto be32 = [&](std::vector<uint8_t>& v, uint32_t x) { be16(v, uint16_t(x >> 16)), be16(v, uint16_t(x)); };
  be16(nikon, 3);
  be16(nikon, 1), be16(nikon, 3), be32(nikon, 1), be16(nikon, 0x1234), be16(nikon, 0);
  be16(nikon, 2), be16(nikon, 12), be32(nikon, 2), be32(nikon, 8 + 2 + 36 + 4);
  be16(nikon, 3), be16(nikon, 2), be32(nikon, 6), be32(nikon, 8 + 2 + 36 + 4 + 16);
  be32(nikon, 0);
  const double d[2] = {1.5, -2.25};
  for (double x : d) {
    uint64_t bits;
    std::memcpy(&bits, &x, 8);
    be32(nikon, uint32_t(bits >> 32)), be32(nikon, uint32_t(bits));
  }
  for (char c : std::string("Hello", 6)) nikon.push_back(uint8_t(c));
  TIETagsHandler h;
  TCustomMemoryStream s(nikon.data(), int64_t(nikon.size()));
  h.ReadMakerNote(s, int64_t(nikon.size()), true);
  ASSERT_EQ(h.EntryCount(), 3);
  EXPECT_TRUE(h.BigEndian());
  const auto& e = h.Entries();
  EXPECT_EQ(TIFFGet16(e.data() + 8, true), 0x1234);  // swapped as a SHORT, not as a word
  const uint32_t off = TIFFGet32(e.data() + 12 + 8, true);
  double back[2];
  std::memcpy(back, h.NormalizedNote().data() + off, 16);
  EXPECT_EQ(back[0], 1.5);
  EXPECT_EQ(back[1], -2.25);
  // Written anywhere, it is the same note: "MM" header, big-endian entries.
  TMemoryStream out;
  out.WriteBuffer("pad", 3);
  EXPECT_EQ(WriteMakerNote(h, out), int64_t(nikon.size()));
  EXPECT_EQ(std::vector<uint8_t>(out.Memory() + 3, out.Memory() + out.Size()), nikon);
  // Changed, it is rebuilt in the same order and reads back the same.
  h.NormalizedNote()[2 + 8] = 0x99;
  h.IndexEntries();
  TMemoryStream out2;
  const int64_t n = WriteMakerNote(h, out2);
  ASSERT_GT(n, 0);
  TIETagsHandler again;
  out2.SetPosition(0);
  again.ReadMakerNote(out2, n, true);
  EXPECT_EQ(again.NormalizedNote(), h.NormalizedNote());
  EXPECT_EQ(out2.Memory()[10], 'M');

  // QVC: read big-endian, written big-endian too (its byte order as read).
  std::vector<uint8_t> qvc = {'Q', 'V', 'C', 0, 0, 0};
  be16(qvc, 1), be16(qvc, 1), be16(qvc, 4), be32(qvc, 1), be32(qvc, 0xA1B2C3D4), be32(qvc, 0);
  TIETagsHandler q;
  TCustomMemoryStream qs(qvc.data(), int64_t(qvc.size()));
  q.ReadMakerNote(qs, int64_t(qvc.size()), true);
  ASSERT_EQ(q.EntryCount(), 1);
  EXPECT_EQ(TIFFGet32(q.Entries().data() + 8, true), 0xA1B2C3D4u);
  TMemoryStream qo;
  WriteMakerNote(q, qo);
  EXPECT_EQ(std::vector<uint8_t>(qo.Memory(), qo.Memory() + qo.Size()), qvc);

  // Dropped: 300 entries; a Fuji directory offset past the note.
  std::vector<uint8_t> many = {'Q', 'V', 'C', 0, 0, 0};
  be16(many, 300);
  many.resize(many.size() + 300 * 12 + 4, 0);
  TIETagsHandler m;
  TCustomMemoryStream ms(many.data(), int64_t(many.size()));
  m.ReadMakerNote(ms, int64_t(many.size()), true);
  EXPECT_EQ(m.EntryCount(), 0);
  EXPECT_TRUE(m.RawData().empty());
  std::vector<uint8_t> fuji = {'F', 'U', 'J', 'I', 'F', 'I', 'L', 'M', 0xFF, 0xFF, 0, 0, 0, 0};
  TIETagsHandler f;
  TCustomMemoryStream fs(fuji.data(), int64_t(fuji.size()));
  f.ReadMakerNote(fs, int64_t(fuji.size()), true);
  EXPECT_EQ(f.EntryCount(), 0);
}

TEST(ExifBlock, FindTIFFHeaderAndRawExif) {
  std::vector<uint8_t> junk(300, 0x55);
  const std::vector<uint8_t> pastEnd = {'I', 'I', 42, 0, 0, 0, 1, 0};
  std::vector<uint8_t> a = junk;
  a.insert(a.end(), pastEnd.begin(), pastEnd.end());
  TCustomMemoryStream sa(a.data(), int64_t(a.size()));
  EXPECT_EQ(FindTIFFHeader(sa), -1);
  TIOParamsVals p(nullptr);
  p.HasExifData = true;
  p.ExifMake = "Cam";
  const std::vector<uint8_t> block = BuildEXIFBlock(p, false);
  std::vector<uint8_t> b = junk;
  b.insert(b.end(), block.begin(), block.end());
  TCustomMemoryStream sb(b.data(), int64_t(b.size()));
  sb.SetPosition(10);
  EXPECT_EQ(FindTIFFHeader(sb), 290);
  EXPECT_EQ(sb.Position(), 10);
  sb.SetPosition(300);
  TIOParamsVals r(nullptr);
  EXPECT_TRUE(ReadRawEXIF(sb, r));
  EXPECT_EQ(sb.Position(), 300);
  EXPECT_EQ(r.ExifMake, "Cam");
  TIOParamsVals t(nullptr);
  EXPECT_TRUE(ReadTIFFEXIF(sb, t));
  EXPECT_EQ(t.ExifMake, "Cam");
}

// ---- against the tools ----

TEST(ExifOracle, CameraFilesParseAsExiftoolAndExiv2Say) {
  if (!HaveTools() || !std::filesystem::exists(std::string(kGdkTests) + "issue70.jpg"))
    GTEST_SKIP() << "exiftool, exiv2, djpeg or gdk-pixbuf's test files missing";
  qvtest::TempDir dir;
  for (const char* name : {"bug725582-testrotate.jpg", "issue70.jpg"}) {
    SCOPED_TRACE(name);
    const std::string file = std::string(kGdkTests) + name;
    const auto bytes = qvtest::ReadFileBytes(file);
    TIOParamsVals p(nullptr);
    Parse(p, ExifPayload(bytes));
    auto t = Exiftool("-n -EXIF:all", file);
    const auto str = [&](const char* k) { return t.count(k) ? t[k] : std::string(); };
    EXPECT_EQ(p.ExifMake, str("[IFD0] Make"));
    EXPECT_EQ(p.ExifModel, str("[IFD0] Model"));
    EXPECT_EQ(p.ExifDateTimeOriginal, str("[ExifIFD] DateTimeOriginal"));
    if (t.count("[IFD0] Orientation")) { EXPECT_EQ(p.ExifOrientation, std::stoi(t["[IFD0] Orientation"])); }
    if (t.count("[ExifIFD] ExposureTime")) { EXPECT_NEAR(p.ExifExposureTime, Num(t["[ExifIFD] ExposureTime"]), 1e-6); }
    if (t.count("[ExifIFD] FNumber")) { EXPECT_NEAR(p.ExifFNumber, Num(t["[ExifIFD] FNumber"]), 1e-6); }
    if (t.count("[ExifIFD] FocalLength")) { EXPECT_NEAR(p.ExifFocalLength, Num(t["[ExifIFD] FocalLength"]), 1e-6); }
    if (t.count("[ExifIFD] ISO")) { EXPECT_EQ(p.ExifISOSpeedRatings[0], std::stoi(t["[ExifIFD] ISO"])); }
    if (t.count("[GPS] GPSLatitude")) {
      const double deg = p.ExifGPSLatitude[0] + p.ExifGPSLatitude[1] / 60 + p.ExifGPSLatitude[2] / 3600;
      EXPECT_NEAR(deg, Num(t["[GPS] GPSLatitude"]), 1e-5);
      EXPECT_EQ(p.ExifGPSLatitudeRef, str("[GPS] GPSLatitudeRef"));
      EXPECT_EQ(p.ExifGPSVersionID, str("[GPS] GPSVersionID").empty() ? p.ExifGPSVersionID : [&] {
        std::string v = str("[GPS] GPSVersionID");
        for (char& c : v)
          if (c == ' ') c = '.';
        return v;
      }());
    }
    // exiv2 agrees on the camera.
    std::string model;
    qvtest::RunCommand("exiv2 -q -K Exif.Image.Model -Pv '" + file + "'", &model);
    while (!model.empty() && (model.back() == '\n' || model.back() == ' ')) model.pop_back();
    EXPECT_EQ(p.ExifModel.substr(0, model.size()), model);
    // The thumbnail is the one exiftool extracts, as djpeg decodes it.
    const std::string thumb = dir.File("thumb.jpg");
    qvtest::RunCommand("exiftool -b -ThumbnailImage '" + file + "' > " + thumb);
    if (std::filesystem::file_size(thumb) > 0) {
      ASSERT_EQ(qvtest::RunCommand("djpeg -dct int -ppm " + thumb + " > " + dir.File("thumb.ppm")), 0);
      const auto ppm = qvtest::ReadFileBytes(dir.File("thumb.ppm"));
      int w = 0, h = 0, maxv = 0, n = 0;
      std::sscanf(reinterpret_cast<const char*>(ppm.data()), "P6 %d %d %d%n", &w, &h, &maxv, &n);
      ASSERT_TRUE(p.ExifThumbnail && !p.ExifThumbnail->IsEmpty());
      // Ours is turned upright: compare against the turned-back copy.
      TIEBitmap stored;
      stored.Assign(p.ExifThumbnail.get());
      const int o = p.ExifOrientation;
      ApplyExifOrientation(stored, o == 6 ? 8 : o == 8 ? 6 : o);
      ASSERT_EQ(stored.Width(), w);
      ASSERT_EQ(stored.Height(), h);
      int worst = 0;
      const uint8_t* px = ppm.data() + n + 1;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const TRGB c = stored.GetPixelRGB(x, y);
          const uint8_t* q = px + 3 * (size_t(y) * size_t(w) + size_t(x));
          worst = std::max({worst, std::abs(c.r - q[0]), std::abs(c.g - q[1]), std::abs(c.b - q[2])});
        }
      EXPECT_LE(worst, 2);
    }
  }
  // The Panasonic note is recognised and holds what exiftool lists.
  TIOParamsVals p(nullptr);
  Parse(p, ExifPayload(qvtest::ReadFileBytes(std::string(kGdkTests) + "bug725582-testrotate.jpg")));
  if (Exiftool("-MakerNotes:all", std::string(kGdkTests) + "bug725582-testrotate.jpg").size() > 0) {
    EXPECT_EQ(p.ExifMakerNote->DeviceInfo().Signature.substr(0, 9), "Panasonic");
    EXPECT_GT(p.ExifMakerNote->EntryCount(), 10);
  }
}

TEST(ExifOracle, LoadAndSaveKeepsEveryTagButTheChangedOnes) {
  if (!HaveTools()) GTEST_SKIP() << "exiftool, exiv2 or djpeg missing";
  qvtest::TempDir dir;
  std::vector<std::string> files;
  for (const char* name : {"bug725582-testrotate.jpg", "issue70.jpg"})
    if (std::filesystem::exists(std::string(kGdkTests) + name)) files.push_back(std::string(kGdkTests) + name);
  // exiftool-made blocks: both byte orders, GPS, a comment code and a thumbnail.
  qvtest::WriteFileBytes(dir.File("src.ppm"), Ppm(64, 48));
  qvtest::WriteFileBytes(dir.File("thumbsrc.ppm"), Ppm(16, 12));
  ASSERT_EQ(qvtest::RunCommand("cjpeg " + dir.File("thumbsrc.ppm") + " > " + dir.File("thumb.jpg")), 0);
  for (const char* order : {"II", "MM"}) {
    const std::string f = dir.File(std::string("made-") + order + ".jpg");
    ASSERT_EQ(qvtest::RunCommand("cjpeg -quality 90 " + dir.File("src.ppm") + " > " + f), 0);
    ASSERT_EQ(qvtest::RunCommand(std::string("exiftool -q -overwrite_original -ExifByteOrder=") +
                                 (order[0] == 'I' ? "Little-endian" : "Big-endian") +
                                 " -Make=Quorvane -Model='Test camera' -Artist=someone -Copyright='(c) us' "
                                 "-DateTimeOriginal='2024:05:06 07:08:09' -ExposureTime=1/250 -FNumber=5.6 "
                                 "-ExposureCompensation=-0.7 -ISO=200 -Orientation#=6 -XResolution=118.11 "
                                 "-YResolution=118.11 -ResolutionUnit=cm -ComponentsConfiguration='1 2 3 0' "
                                 "-InteropIndex=R98 -LensModel='Zoom 18-55' -GPSLatitude=48.5 -GPSLatitudeRef=N "
                                 "-GPSLongitude=2.25 -GPSLongitudeRef=E -GPSAltitude=35 -GPSAltitudeRef=0 "
                                 "-UserComment='kept as it was' '-ThumbnailImage<=" +
                                 dir.File("thumb.jpg") + "' " + f),
              0);
    files.push_back(f);
  }
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    const auto bytes = qvtest::ReadFileBytes(file);
    const auto payload = ExifPayload(bytes);
    ASSERT_FALSE(payload.empty());
    // Unchanged: the block goes back byte for byte.
    TIOParamsVals p(nullptr);
    Parse(p, payload);
    EXPECT_EQ(EXIFMarkerForSave(p, payload.data(), int64_t(payload.size())), payload);
    // Changed: rebuilt, and exiftool sees the same tags but the one changed.
    p.ExifArtist = "changed by us";
    const auto rebuilt = EXIFMarkerForSave(p, payload.data(), int64_t(payload.size()));
    ASSERT_FALSE(rebuilt.empty());
    const std::string saved = dir.File("saved.jpg");
    qvtest::WriteFileBytes(saved, WithExif(bytes, rebuilt));
    // Offsets move; an empty description is not written.
    const std::vector<std::string> skip = {"Artist", "ThumbnailOffset", "ThumbnailLength", "ExifByteOrder",
                                           "ImageDescription : \n"};
    const std::string args = "-EXIF:all -MakerNotes:all";
    EXPECT_EQ(Lines(Exiftool(args, saved), skip), Lines(Exiftool(args, file), skip));
    EXPECT_EQ(Exiftool("-EXIF:Artist", saved)["[IFD0] Artist"], "changed by us");
    // exiftool's checks find nothing the block read did not have.
    std::string before, after;
    qvtest::RunCommand("exiftool -validate -warning -a -s '" + file + "' | grep -v 'Validate' | sort", &before);
    qvtest::RunCommand("exiftool -validate -warning -a -s '" + saved + "' | grep -v 'Validate' | sort", &after);
    std::istringstream in(after);
    std::string line;
    while (std::getline(in, line)) EXPECT_NE(before.find(line), std::string::npos) << "new warning: " << line;
  }
}

TEST(ExifOracle, OrientationsTurnUprightAsPillowDoes) {
  if (!HaveTools() || qvtest::RunCommand("/usr/bin/python3 -c 'import PIL' 2>/dev/null") != 0)
    GTEST_SKIP() << "exiftool, cjpeg or Pillow missing";
  qvtest::TempDir dir;
  qvtest::WriteFileBytes(dir.File("src.ppm"), Ppm(24, 16));
  qvtest::WriteFileBytes(dir.File("thumbsrc.ppm"), Ppm(12, 8));
  ASSERT_EQ(qvtest::RunCommand("cjpeg -quality 100 -sample 1x1 " + dir.File("thumbsrc.ppm") + " > " + dir.File("t.jpg")), 0);
  // The sheet: each orientation's picture and thumbnail side by side.
  TIEBitmap sheet(8 * 28, 2 * 28, ie24RGB);
  sheet.Fill(0x00FFFFFF);
  for (int o = 1; o <= 8; ++o) {
    SCOPED_TRACE(o);
    const std::string f = dir.File("o" + std::to_string(o) + ".jpg");
    ASSERT_EQ(qvtest::RunCommand("cjpeg -quality 100 -sample 1x1 " + dir.File("src.ppm") + " > " + f), 0);
    ASSERT_EQ(qvtest::RunCommand("exiftool -q -overwrite_original -Orientation#=" + std::to_string(o) +
                                 " '-ThumbnailImage<=" + dir.File("t.jpg") + "' " + f),
              0);
    ASSERT_EQ(qvtest::RunCommand("/usr/bin/python3 -c \"from PIL import Image, ImageOps; "
                                 "ImageOps.exif_transpose(Image.open('" + f + "')).convert('RGB').save('" +
                                 dir.File("want.ppm") + "')\""),
              0);
    const auto bytes = qvtest::ReadFileBytes(f);
    TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
    TIEBitmap b;
    TIOParamsVals p(nullptr);
    p.JpegApplyOrientation = true;
    qvtest::Progress pr;
    ReadJpegStream(s, nullptr, &b, TJpegReadOptions{}, pr.rec, p);
    ASSERT_FALSE(pr.Aborted());
    EXPECT_EQ(p.ExifOrientation, 1);
    const auto want = qvtest::ReadFileBytes(dir.File("want.ppm"));
    int w = 0, h = 0, maxv = 0, n = 0;
    std::sscanf(reinterpret_cast<const char*>(want.data()), "P6 %d %d %d%n", &w, &h, &maxv, &n);
    ASSERT_EQ(b.Width(), w);
    ASSERT_EQ(b.Height(), h);
    int worst = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const TRGB c = b.GetPixelRGB(x, y);
        const uint8_t* q = want.data() + n + 1 + 3 * (size_t(y) * size_t(w) + size_t(x));
        worst = std::max({worst, std::abs(c.r - q[0]), std::abs(c.g - q[1]), std::abs(c.b - q[2])});
      }
    EXPECT_LE(worst, 8);
    // The thumbnail is upright too: the same quadrants as the picture.
    ASSERT_TRUE(p.ExifThumbnail && !p.ExifThumbnail->IsEmpty());
    EXPECT_EQ(p.ExifThumbnail->Width() > p.ExifThumbnail->Height(), w > h);
    const TRGB tc = p.ExifThumbnail->GetPixelRGB(0, 0), pc = b.GetPixelRGB(0, 0);
    EXPECT_LE(std::abs(tc.r - pc.r) + std::abs(tc.g - pc.g) + std::abs(tc.b - pc.b), 30);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) sheet.SetPixelRGB((o - 1) * 28 + x, y, b.GetPixelRGB(x, y));
    TIEBitmap& t = *p.ExifThumbnail;
    for (int y = 0; y < t.Height(); ++y)
      for (int x = 0; x < t.Width(); ++x) sheet.SetPixelRGB((o - 1) * 28 + x, 28 + y, t.GetPixelRGB(x, y));
  }
  const auto out = std::filesystem::path(QV_BINARY_DIR) / "test-output";
  std::filesystem::create_directories(out);
  TMemoryStream png;
  TIOParamsVals pp(nullptr);
  qvtest::Progress pr;
  WritePNGStream(png, sheet, pp, nullptr, pr.rec);
  qvtest::WriteFileBytes((out / "exif_orientations.png").string(), qvtest::StreamBytes(png));
}

// ---- fuzz seeds (checked in under fuzz/corpus, rewritten with QV_WRITE_FUZZ_SEEDS set) ----

namespace {

std::map<std::string, std::vector<uint8_t>> FuzzSeeds() {
  std::map<std::string, std::vector<uint8_t>> seeds;
  // An EXIF block with a thumbnail and a Nikon note.
  TIOParamsVals p(nullptr);
  p.HasExifData = true;
  p.ExifMake = "NIKON";
  p.SetEXIFFNumber(4);
  p.ExifGPSVersionID = "2.2.0.0";
  p.ExifThumbnail = qvtest::Gradient(8, 6);
  std::vector<uint8_t> nikon = {'N', 'i', 'k', 'o', 'n', 0, 2, 0x10, 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0,
                                2, 0, 1, 0, 3, 0, 1, 0, 0, 0, 5, 0, 0, 0, 2, 0, 2, 0, 6, 0, 0, 0,
                                38, 0, 0, 0, 0, 0, 0, 0, 'a', 'b', 'c', 'd', 'e', 0};
  TCustomMemoryStream ns(nikon.data(), int64_t(nikon.size()));
  p.ExifMakerNote->ReadMakerNote(ns, int64_t(nikon.size()), true);
  std::vector<uint8_t> block = BuildEXIFBlock(p, false);
  block.insert(block.begin(), 0);
  seeds["exif_block/block.bin"] = block;
  // A note of each device.
  const std::pair<const char*, std::string> makers[] = {
      {"sony", std::string("SONY DSC \0\0\0", 12)}, {"nikon", std::string("Nikon\0\2\x10\0\0II*\0\x08\0\0\0", 18)},
      {"qvc", std::string("QVC\0\0\0", 6)},          {"epson", std::string("EPSON\0\1\0", 8)},
      {"nikon1", std::string("Nikon\0\1\0", 8)},     {"panasonic", std::string("Panasonic\0\0\0", 12)},
      {"fuji", std::string("FUJIFILM\x0c\0\0\0", 12)}, {"leica", std::string("LEICA\0\0\0", 8)},
      {"plain", std::string()}};
  for (const auto& [name, head] : makers) {
    std::vector<uint8_t> v = {1};
    v.insert(v.end(), head.begin(), head.end());
    const uint8_t dir[] = {2, 0, 1, 0, 3, 0, 1, 0, 0, 0, 7, 0, 0, 0, 2, 0, 12, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    v.insert(v.end(), dir, dir + sizeof dir);
    v.resize(v.size() + 12, 0x40);
    seeds[std::string("exif_block/note-") + name + ".bin"] = v;
  }
  std::vector<uint8_t> raw = {2};
  raw.resize(40, 0x11);
  const std::vector<uint8_t> plain = BuildEXIFBlock(p, false);
  raw.insert(raw.end(), plain.begin(), plain.end());
  seeds["exif_block/raw.bin"] = raw;
  // A one-page TIFF to insert into.
  TMemoryStream t;
  qvtest::Progress pr;
  TIOParamsVals tp(nullptr);
  auto g = qvtest::Gradient(4, 3);
  WriteTIFFStream(t, false, g.get(), pr.rec, tp);
  std::vector<uint8_t> ins = {1};
  const auto tb = qvtest::StreamBytes(t);
  ins.insert(ins.end(), tb.begin(), tb.end());
  seeds["tiff_insert/one-page.bin"] = ins;
  return seeds;
}

}  // namespace

TEST(FuzzSeeds, ExifAndInsertSeedsWrittenWhenAskedAndPresent) {
  const char* out = std::getenv("QV_WRITE_FUZZ_SEEDS");
  for (const auto& [name, bytes] : FuzzSeeds()) {
    if (out && *out) {
      const auto file = std::filesystem::path(out) / name;
      std::filesystem::create_directories(file.parent_path());
      qvtest::WriteFileBytes(file.string(), bytes);
      continue;
    }
    const auto file = std::filesystem::path(QV_SOURCE_DIR) / "fuzz" / "corpus" / name;
    EXPECT_TRUE(std::filesystem::exists(file)) << file << " is missing: write the seeds again";
  }
}
