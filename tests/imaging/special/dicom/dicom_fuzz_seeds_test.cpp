// Writes the seeds of the DICOM, lossless JPEG and JPEG 2000 fuzz targets:
// run with QV_WRITE_FUZZ_SEEDS set to fuzz/corpus; otherwise checks that
// they are committed.
#include <gtest/gtest.h>

#include <atomic>
#include "platform/rtl/streams.h"

#include <cstdlib>
#include <filesystem>

#include "imaging/core/ie_bitmap.h"
#include "imaging/io/io_params.h"
#include "imaging/special/jpeg2000/j2000_filter.h"
#include "test_support.h"
#include "tests/imaging/special/dicom/dicom_test_util.h"
#include "tests/imaging/special/dicom/lossless_jpeg_writer.h"

namespace {

using qvtest::Bytes;
using qvtest::TDicomWriter;

struct TSeed {
  const char* target;
  std::string name;
  Bytes bytes;
};

std::vector<uint16_t> Ramp(size_t n, int top) {
  std::vector<uint16_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint16_t((i * 37) % (top + 1));
  return v;
}

Bytes J2000(int codeStream, bool grey) {
  TIEBitmap b(12, 10, ie24RGB);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 12; ++x) b.SetPixelRGB(x, y, TRGB{uint8_t(x * 20), uint8_t(y * 25), uint8_t(x * y)});
  TIOParamsVals params(nullptr);
  params.J2000ColorSpace = grey ? 0 : 1;
  params.J2000Rate = 1;
  std::atomic<bool> abort{false};
  TProgressRecord progress;
  progress.AbortFlag = &abort;
  TMemoryStream s;
  WriteJ2000Stream(s, b, params, codeStream, progress);
  return Bytes(s.Memory(), s.Memory() + s.Size());
}

std::vector<TSeed> Seeds() {
  std::vector<TSeed> seeds;
  const auto ramp16 = Ramp(8 * 6, 4095);
  const Bytes lossless = qvtest::WriteLosslessJpeg(ramp16, {8, 6, 1, 12, 4, 0, 2, true});
  seeds.push_back({"lossless_jpeg", "sv4_12bit_restarts.jpg", lossless});
  seeds.push_back({"lossless_jpeg", "sv1_8bit_rgb.jpg", qvtest::WriteLosslessJpeg(Ramp(8 * 6 * 3, 255), {8, 6, 3, 8, 1, 0, 0, false})});
  seeds.push_back({"lossless_jpeg", "sv7_16bit_pt2.jpg", qvtest::WriteLosslessJpeg(Ramp(8 * 6, 65532), {8, 6, 1, 16, 7, 2, 0, false})});

  {
    TDicomWriter w("1.2.840.10008.1.2.1");
    w.Picture(8, 6, 16, 12, "MONOCHROME2").Text(0x28, 0x1050, "DS", "40").Text(0x28, 0x1051, "DS", "400");
    w.Undefined(0x0088, 0x0200, "SQ").Item().Picture(1, 1, 8, 8, "MONOCHROME2").ItemEnd().SequenceEnd();
    Bytes pixels;
    for (uint16_t v : ramp16) pixels.insert(pixels.end(), {uint8_t(v), uint8_t(v >> 8)});
    w.Element(0x7FE0, 0x0010, "OW", pixels);
    seeds.push_back({"dicom_reader", "native16_window_sequence.dcm", w.Data()});
  }
  {
    TDicomWriter w("1.2.840.10008.1.2");
    w.Picture(4, 2, 8, 8, "PALETTE COLOR").Words(0x28, 0x1201, "OW", {0, 0xFFFF, 0x8000});
    w.Words(0x28, 0x1202, "OW", {0xFFFF, 0, 0x8000}).Words(0x28, 0x1203, "OW", {0, 0, 0xFFFF});
    w.Element(0x7FE0, 0x0010, "OB", {0, 1, 2, 3, 2, 1, 0, 2});
    seeds.push_back({"dicom_reader", "implicit_palette.dcm", w.Data()});
  }
  {
    TDicomWriter w("1.2.840.10008.1.2.2");
    w.Picture(2, 1, 12, 12, "MONOCHROME1").Text(0x28, 0x0008, "IS", "2");
    w.Element(0x7FE0, 0x0010, "OB", {1, 0x23, 0x45, 6, 0x78, 0x9A});
    seeds.push_back({"dicom_reader", "bigendian_packed12_frames.dcm", w.Data()});
  }
  {
    TDicomWriter w("1.2.840.10008.1.2.5");
    w.Picture(4, 1, 8, 8, "YBR_FULL", 3).Encapsulated({qvtest::RleFrame({{1, 1, 2, 3}, {4, 4, 4, 4}, {9, 8, 7, 6}})});
    seeds.push_back({"dicom_reader", "rle_ybr.dcm", w.Data()});
  }
  {
    TDicomWriter w("1.2.840.10008.1.2.4.70");
    Bytes frame = lossless;
    if (frame.size() % 2) frame.push_back(0);
    const Bytes head(frame.begin(), frame.begin() + 30), tail(frame.begin() + 30, frame.end());
    w.Picture(8, 6, 16, 12, "MONOCHROME2").Text(0x28, 0x0008, "IS", "2");
    w.Encapsulated({frame, head, tail}, {0, uint32_t(8 + frame.size())});
    seeds.push_back({"dicom_reader", "lossless_two_frames.dcm", w.Data()});
  }
  {
    TDicomWriter w("1.2.840.10008.1.2.4.90");
    Bytes j2k = J2000(1, true);
    if (j2k.size() % 2) j2k.push_back(0);
    w.Picture(12, 10, 8, 8, "MONOCHROME2").Encapsulated({j2k});
    seeds.push_back({"dicom_reader", "j2k_grey.dcm", w.Data()});
  }
  seeds.push_back({"j2000_filter", "rgb.jp2", J2000(0, false)});
  seeds.push_back({"j2000_filter", "grey.j2k", J2000(1, true)});
  return seeds;
}

// The DICOM seeds are good files: each reads without a refusal.
TEST(FuzzSeeds, DicomSeedsRead) {
  for (const TSeed& s : Seeds()) {
    if (std::string(s.target) != "dicom_reader") continue;
    qvtest::TDicomRead r;
    qvtest::ReadDicomBytes(s.bytes, r);
    EXPECT_FALSE(r.abort) << s.name << ": " << r.Refusal();
    EXPECT_FALSE(r.bitmap->IsEmpty()) << s.name;
  }
}

TEST(FuzzSeeds, DicomAndJpeg2000SeedsWrittenWhenAskedAndPresent) {
  const char* out = std::getenv("QV_WRITE_FUZZ_SEEDS");
  for (const TSeed& s : Seeds()) {
    ASSERT_FALSE(s.bytes.empty()) << s.name;
    if (out && *out) {
      const std::filesystem::path dir = std::filesystem::path(out) / s.target;
      std::filesystem::create_directories(dir);
      qvtest::WriteFileBytes((dir / s.name).string(), s.bytes);
      continue;
    }
    const std::filesystem::path file = std::filesystem::path(QV_SOURCE_DIR) / "fuzz" / "corpus" / s.target / s.name;
    EXPECT_TRUE(std::filesystem::exists(file)) << file << " is missing: write the seeds again";
  }
}

}  // namespace
