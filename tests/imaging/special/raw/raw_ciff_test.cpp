// A Canon CIFF file (PowerShot A5): its heap with texts, sensor size, a
// maker-note record and three JPEG previews; the 10-bit samples at the
// header's end. exiftool reads the same file as the oracle of the metadata.
#include <gtest/gtest.h>

#include <regex>

#include "imaging/io/exif_block.h"
#include "imaging/io/image_lib_io.h"
#include "tests/imaging/io/io_test_support.h"
#include "tests/imaging/special/raw/raw_fixtures.h"
#include "tests/imaging/special/raw/raw_test_util.h"
#include "tests/support/test_support.h"

using namespace rawtest;

namespace {

constexpr int kRows = 776, kRawWidth = 992, kWidth = 960;

uint32_t Mark(int r, int c) { return uint32_t((r * 37 + c * 11 + 5) & 0x3FF); }

std::vector<uint8_t> Jpeg(int w, int h, uint32_t colour) {
  qvtest::EnsureImageIO();
  TIEBitmap b;
  b.Allocate(w, h, ie24RGB);
  b.Fill(colour);
  TMemoryStream s;
  TImageLibIO::CreateForBitmap(&b)->SaveJPEGStream(s);
  std::vector<uint8_t> out(size_t(s.Size()));
  s.SetPosition(0);
  s.ReadBuffer(out.data(), int64_t(out.size()));
  return out;
}

// Ten bytes for eight 10-bit values, as the A5 stores them.
void PackA5(const uint32_t p[8], uint8_t* b) {
  b[0] = uint8_t((p[0] & 3) << 6 | p[1] >> 4);
  b[1] = uint8_t(p[0] >> 2);
  b[2] = uint8_t((p[2] & 63) << 2 | p[3] >> 8);
  b[3] = uint8_t((p[1] & 15) << 4 | p[2] >> 6);
  b[4] = uint8_t(p[4] >> 2);
  b[5] = uint8_t(p[3] & 255);
  b[6] = uint8_t((p[5] & 15) << 4 | p[6] >> 6);
  b[7] = uint8_t((p[4] & 3) << 6 | p[5] >> 4);
  b[8] = uint8_t(p[7] & 255);
  b[9] = uint8_t((p[6] & 63) << 2 | p[7] >> 8);
}

struct TCiffFile {
  std::vector<uint8_t> Bytes;
  std::vector<uint8_t> Small, Medium, Large;
  std::vector<uint8_t> Note;
};

// A heap at `at`: records laid one after the other, then the directory.
struct THeapEntry {
  uint16_t Type;
  std::vector<uint8_t> Data;
};

size_t PutHeap(TBytes& f, size_t at, const std::vector<THeapEntry>& entries) {
  size_t pos = 0;
  std::vector<std::pair<size_t, size_t>> placed;
  for (const THeapEntry& e : entries) {
    f.PutBytes(at + pos, e.Data);
    placed.emplace_back(pos, e.Data.size());
    pos += e.Data.size() + (e.Data.size() & 1);
  }
  const size_t dir = pos;
  f.Put16(at + dir, uint32_t(entries.size()));
  for (size_t i = 0; i < entries.size(); ++i) {
    const size_t p = at + dir + 2 + 10 * i;
    f.Put16(p, entries[i].Type);
    f.Put32(p + 2, uint32_t(placed[i].second));
    f.Put32(p + 6, uint32_t(placed[i].first));
  }
  const size_t end = dir + 2 + 10 * entries.size() + 4;
  f.Put32(at + end - 4, uint32_t(dir));
  return end;
}

std::vector<uint8_t> HeapBytes(const std::vector<THeapEntry>& entries) {
  TBytes h;
  PutHeap(h, 0, entries);
  return h.B;
}

TCiffFile PowerShotA5() {
  TCiffFile c;
  c.Large = Jpeg(64, 48, 0x2060A0);
  c.Small = Jpeg(16, 12, 0x40C020);
  c.Medium = Jpeg(32, 24, 0xA02060);
  // The raw samples: the heap's first record.
  std::vector<uint8_t> raw(size_t(kRows) * kRawWidth * 10 / 8);
  for (int r = 0; r < kRows; ++r)
    for (int g = 0; g < kRawWidth / 8; ++g) {
      uint32_t p[8];
      for (int k = 0; k < 8; ++k) p[k] = Mark(r, g * 8 + k);
      PackA5(p, &raw[size_t(r) * kRawWidth * 10 / 8 + size_t(g) * 10]);
    }
  const std::string mm = std::string("Canon") + '\0' + "Canon PowerShot A5" + '\0';
  std::vector<uint8_t> sensor(12, 0);
  sensor[2] = uint8_t(kRawWidth & 255), sensor[3] = uint8_t(kRawWidth >> 8);
  sensor[4] = uint8_t(kRows & 255), sensor[5] = uint8_t(kRows >> 8);
  c.Note = {1, 0, 2, 0, 3, 0, 4, 0};
  const std::vector<uint8_t> props = HeapBytes({{0x080a, {mm.begin(), mm.end()}}, {0x1031, sensor}});
  TBytes f;
  f.PutText(0, "II", false);
  f.Put32(2, 26);
  f.PutText(6, "HEAPCCDR", false);
  f.Put32(14, 0x00010002);
  PutHeap(f, 26, {{0x2005, raw}, {0x2007, c.Large}, {0x2008, c.Small}, {0x300a, props}, {0x2007, c.Medium},
                  {0x102a, c.Note}});
  c.Bytes = f.B;
  return c;
}

TEST(RawCiff, IdentifiesThePowerShotA5AndLoadsItsRows) {
  TCiffFile c = PowerShotA5();
  TCustomMemoryStream s(c.Bytes.data(), int64_t(c.Bytes.size()));
  const char* why = nullptr;
  auto st = RawIdentifyAndLoad(s, {}, &why);
  ASSERT_NE(st, nullptr) << why;
  EXPECT_STREQ(st->Make, "Canon");
  EXPECT_STREQ(st->Model, "PowerShot A5");
  EXPECT_EQ(st->Width, kWidth);
  EXPECT_EQ(st->Height, kRows);
  EXPECT_EQ(st->DataOffset, 26);
  EXPECT_EQ(st->Filters, 0x1e4e1e4eu);
  for (int r : {0, 1, 100, 775})
    for (int col : {0, 1, 8, 959}) EXPECT_EQ(st->Cell(r, col)[st->FC(r, col)], Mark(r, col) << 4) << r << "," << col;
}

TEST(RawCiff, MetadataAndTheSmallestPreview) {
  TCiffFile c = PowerShotA5();
  TDecoded d;
  Decode(c.Bytes, d, true);
  ASSERT_EQ(d.Refusal(), nullptr);
  EXPECT_EQ(d.Params.ExifMake, "Canon");
  EXPECT_EQ(d.Params.ExifModel, "Canon PowerShot A5");
  ASSERT_TRUE(d.Params.ExifThumbnail);
  EXPECT_EQ(d.Params.ExifThumbnail->Width(), 16);
  EXPECT_EQ(d.Params.ExifThumbnail->Height(), 12);
  // The maker note keeps record 0x102a as tag 4, four SHORT values.
  ASSERT_TRUE(d.Params.ExifMakerNote);
  const auto& note = d.Params.ExifMakerNote->NormalizedNote();
  ASSERT_EQ(note.size(), 2u + 12 + 8);
  EXPECT_EQ(note[0], 1);
  EXPECT_EQ(note[2], 4);
  EXPECT_EQ(note[6], 4);  // count: 8 bytes / 2

  TDecoded preview;
  preview.Params.SetRAWUseThumbnail(true);
  Decode(c.Bytes, preview);
  EXPECT_EQ(preview.Bitmap.Width(), 16);
  EXPECT_EQ(preview.Bitmap.Height(), 12);
  EXPECT_TRUE(preview.Params.RawUseEmbeddedPreview);

  TDecoded full;
  Decode(c.Bytes, full);
  ASSERT_EQ(full.Refusal(), nullptr);
  EXPECT_EQ(full.Bitmap.Width(), kWidth - 2);
  EXPECT_EQ(full.Bitmap.Height(), kRows - 2);
}

TEST(RawCiffOracle, ExiftoolReadsTheSameTextsAndPreview) {
  if (!qvtest::HaveProgram("exiftool")) GTEST_SKIP() << "exiftool is not installed";
  TCiffFile c = PowerShotA5();
  qvtest::TempDir dir;
  const std::string file = dir.File("a5.crw");
  qvtest::WriteFileBytes(file, c.Bytes);
  std::string out;
  ASSERT_EQ(qvtest::RunCommand("exiftool -s -Make -Model '" + file + "'", &out), 0);
  EXPECT_NE(out.find("Make                            : Canon"), std::string::npos) << out;
  EXPECT_NE(out.find("Model                           : Canon PowerShot A5"), std::string::npos) << out;
  // The preview the reader shows is the bytes exiftool extracts as the thumbnail.
  ASSERT_EQ(qvtest::RunCommand("exiftool -b -ThumbnailImage '" + file + "' > '" + dir.File("thumb.jpg") + "'"), 0);
  const auto thumb = qvtest::ReadFileBytes(dir.File("thumb.jpg"));
  ASSERT_FALSE(thumb.empty());
  TIEBitmap fromExiftool;
  TCustomMemoryStream s(thumb.data(), int64_t(thumb.size()));
  TImageLibIO::CreateForBitmap(&fromExiftool)->LoadJPEGStream(s);
  TDecoded preview;
  preview.Params.SetRAWUseThumbnail(true);
  Decode(c.Bytes, preview);
  ASSERT_EQ(fromExiftool.Width(), preview.Bitmap.Width());
  ASSERT_EQ(fromExiftool.Height(), preview.Bitmap.Height());
  for (int y = 0; y < fromExiftool.Height(); ++y)
    EXPECT_EQ(std::memcmp(fromExiftool.ScanLine(y), preview.Bitmap.ScanLine(y), size_t(fromExiftool.Width()) * 3), 0);
}

TEST(RawCiffOracle, LibRawAgreesOnCameraAndSamples) {
  if (!qvtest::HaveProgram("raw-identify") || !qvtest::HaveProgram("unprocessed_raw"))
    GTEST_SKIP() << "libraw-bin is not installed";
  TCiffFile c = PowerShotA5();
  qvtest::TempDir dir;
  const std::string file = dir.File("a5.crw");
  qvtest::WriteFileBytes(file, c.Bytes);
  std::string info;
  ASSERT_EQ(qvtest::RunCommand("raw-identify -v '" + file + "'", &info), 0);
  EXPECT_EQ(Field(info, "Camera: (.*) ID:"), "Canon PowerShot A5");
  EXPECT_EQ(Field(info, "Full size: +([0-9]+ x [0-9]+)"), "992 x 776");
  // LibRaw shows 773 rows where the camera table says 776; the width agrees.
  EXPECT_EQ(Field(info, "Image size: +([0-9]+) x"), "960");
  ASSERT_EQ(qvtest::RunCommand("cd '" + dir.Path().string() + "' && unprocessed_raw a5.crw", &info), 0);
  const TPgm pgm = ReadPgm(file + ".pgm");
  ASSERT_EQ(pgm.Width, kRawWidth);
  TCustomMemoryStream s(c.Bytes.data(), int64_t(c.Bytes.size()));
  auto st = RawIdentifyAndLoad(s, {});
  ASSERT_NE(st, nullptr);
  int wrong = 0;
  for (int r = 0; r < kRows; r += 3)
    for (int col = 0; col < kWidth; col += 7)
      if ((st->Cell(r, col)[st->FC(r, col)] >> 4) != pgm.At(r, col)) ++wrong;
  EXPECT_EQ(wrong, 0);
}

}  // namespace
