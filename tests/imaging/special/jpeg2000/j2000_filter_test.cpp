// The JPEG 2000 filter against OpenJPEG's own tools: files written by
// opj_compress read to opj_decompress's samples reduced to 8 bits, and what
// the filter writes decodes in opj_decompress to the bitmap's samples.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <sstream>

#include "imaging/core/ie_bitmap.h"
#include "imaging/io/io_params.h"
#include "imaging/io/io_types.h"
#include "imaging/special/jpeg2000/j2000_filter.h"
#include "platform/rtl/streams.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool HaveTools() { return qvtest::HaveProgram("opj_compress") && qvtest::HaveProgram("opj_decompress"); }

// A binary PGM or PPM: samples row after row, channel after channel.
struct TPnm {
  int width = 0, height = 0, channels = 0, maxval = 0;
  std::vector<int> samples;
  int At(int x, int y, int c) const { return samples[(size_t(y) * width + x) * channels + c]; }
};

Bytes WritePnm(const TPnm& p) {
  std::ostringstream head;
  head << (p.channels == 1 ? "P5" : "P6") << "\n" << p.width << " " << p.height << "\n" << p.maxval << "\n";
  const std::string h = head.str();
  Bytes out(h.begin(), h.end());
  for (int v : p.samples) {
    if (p.maxval > 255) out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
  }
  return out;
}

bool ReadPnm(const Bytes& bytes, TPnm& p) {
  std::string text(bytes.begin(), bytes.end());
  std::istringstream in(text);
  std::string magic;
  in >> magic;
  // opj_decompress puts a comment line after the magic number.
  auto number = [&in](int& v) {
    in >> std::ws;
    while (in.peek() == '#') {
      std::string comment;
      std::getline(in, comment);
      in >> std::ws;
    }
    in >> v;
  };
  number(p.width);
  number(p.height);
  number(p.maxval);
  if (!in || (magic != "P5" && magic != "P6")) return false;
  in.get();
  p.channels = magic == "P5" ? 1 : 3;
  size_t at = static_cast<size_t>(in.tellg());
  const size_t count = size_t(p.width) * p.height * p.channels, size = p.maxval > 255 ? 2 : 1;
  if (bytes.size() < at + count * size) return false;
  p.samples.resize(count);
  for (size_t i = 0; i < count; ++i, at += size)
    p.samples[i] = size == 2 ? bytes[at] << 8 | bytes[at + 1] : bytes[at];
  return true;
}

TPnm RandomPnm(int width, int height, int channels, int maxval, unsigned seed) {
  TPnm p{width, height, channels, maxval, {}};
  std::mt19937 random(seed);
  p.samples.resize(size_t(width) * height * channels);
  // Smooth ramps with noise, so lossy coding has something to keep.
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < channels; ++c)
        p.samples[(size_t(y) * width + x) * channels + c] =
            std::clamp<int>((x * 7 + y * 3 + c * 50) * maxval / (width * 7 + height * 3 + 100) +
                                int(random() % 9) - 4, 0, maxval);
  return p;
}

// The 8-bit value the filter keeps of a sample of that precision.
int Reduce(int v, int precision) { return int((uint32_t(v) << ((32 - precision) % 32)) >> 24); }

struct TRead {
  std::unique_ptr<TIEBitmap> bitmap = std::make_unique<TIEBitmap>();
  std::unique_ptr<TIOParamsVals> params = std::make_unique<TIOParamsVals>(nullptr);
  std::atomic<bool> abort{false};
  TProgressRecord progress;
  TRead() { progress.AbortFlag = &abort; }
};

void ReadBytes(const Bytes& file, TRead& r, bool paramsOnly = false) {
  TMemoryStream stream;
  stream.WriteBuffer(file.data(), int64_t(file.size()));
  stream.SetPosition(0);
  ReadJ2000Stream(stream, r.bitmap.get(), *r.params, paramsOnly, r.progress);
}

void ExpectBitmapMatches(TIEBitmap& bitmap, const TPnm& oracle, int precision) {
  ASSERT_EQ(bitmap.Width(), oracle.width);
  ASSERT_EQ(bitmap.Height(), oracle.height);
  ASSERT_EQ(bitmap.PixelFormat(), ie24RGB);
  int shown = 0;
  for (int y = 0; y < oracle.height; ++y)
    for (int x = 0; x < oracle.width; ++x) {
      const uint8_t* px = bitmap.ScanLine(y) + 3 * x;
      for (int c = 0; c < 3; ++c) {
        const int expected = Reduce(oracle.At(x, y, oracle.channels == 1 ? 0 : c), precision);
        if (px[2 - c] != expected && shown++ < 5)
          ADD_FAILURE() << "pixel " << x << "," << y << " channel " << c << ": " << int(px[2 - c]) << " vs "
                        << expected;
      }
    }
}

struct TOpjCase {
  const char* name;
  int channels, maxval, precision;
  const char* suffix;     // jp2 or j2k
  const char* arguments;  // for opj_compress
};

class J2000FilterOracle : public testing::TestWithParam<TOpjCase> {};

TEST_P(J2000FilterOracle, ReadsOpjCompressFilesAsOpjDecompressDoes) {
  if (!HaveTools()) GTEST_SKIP() << "opj_compress/opj_decompress missing";
  const TOpjCase c = GetParam();
  qvtest::TempDir dir;
  const std::string in = dir.File(c.channels == 1 ? "in.pgm" : "in.ppm");
  qvtest::WriteFileBytes(in, WritePnm(RandomPnm(37, 29, c.channels, c.maxval, 5)));
  const std::string coded = dir.File(std::string("coded.") + c.suffix);
  ASSERT_EQ(qvtest::RunCommand("opj_compress -i " + in + " -o " + coded + " " + c.arguments + " >/dev/null 2>&1"), 0);
  const std::string decoded = dir.File(c.channels == 1 ? "out.pgm" : "out.ppm");
  ASSERT_EQ(qvtest::RunCommand("opj_decompress -i " + coded + " -o " + decoded + " >/dev/null 2>&1"), 0);
  TPnm oracle;
  ASSERT_TRUE(ReadPnm(qvtest::ReadFileBytes(decoded), oracle));

  TRead r;
  ReadBytes(qvtest::ReadFileBytes(coded), r);
  ASSERT_FALSE(r.abort.load()) << (r.progress.Refusal ? r.progress.Refusal : "");
  EXPECT_EQ(r.params->BitsPerSample, c.precision);
  EXPECT_EQ(r.params->SamplesPerPixel, c.channels);
  ExpectBitmapMatches(*r.bitmap, oracle, c.precision);
}

INSTANTIATE_TEST_SUITE_P(
    Files, J2000FilterOracle,
    testing::Values(TOpjCase{"GreyJp2", 1, 255, 8, "jp2", "-n 4"}, TOpjCase{"RgbJp2", 3, 255, 8, "jp2", "-n 4"},
                    TOpjCase{"RgbJ2kLossy", 3, 255, 8, "j2k", "-n 4 -r 20"},
                    TOpjCase{"Grey12BitJ2k", 1, 4095, 12, "j2k", "-n 4"},
                    TOpjCase{"Grey16BitJp2", 1, 65535, 16, "jp2", "-n 4"},
                    TOpjCase{"RgbTilesRlcp", 3, 255, 8, "jp2", "-n 3 -t 16,16 -p RLCP"},
                    TOpjCase{"OffsetImage", 3, 255, 8, "j2k", "-n 4 -d 5,3"}),
    [](const testing::TestParamInfo<TOpjCase>& p) { return std::string(p.param.name); });

TEST(J2000FilterOracle, WrittenFilesDecodeInOpjDecompress) {
  if (!HaveTools()) GTEST_SKIP() << "opj_compress/opj_decompress missing";
  for (int codeStream : {0, 1}) {
    const TPnm source = RandomPnm(21, 13, 3, 255, 9);
    TIEBitmap bitmap(source.width, source.height, ie24RGB);
    for (int y = 0; y < source.height; ++y)
      for (int x = 0; x < source.width; ++x)
        for (int c = 0; c < 3; ++c) bitmap.ScanLine(y)[3 * x + 2 - c] = uint8_t(source.At(x, y, c));
    TIOParamsVals params(nullptr);
    params.J2000Rate = 1;  // lossless
    params.J2000Progression = 1;
    std::atomic<bool> abort{false};
    TProgressRecord progress;
    progress.AbortFlag = &abort;
    TMemoryStream stream;
    WriteJ2000Stream(stream, bitmap, params, codeStream, progress);
    ASSERT_FALSE(abort.load());
    Bytes file(size_t(stream.Size()));
    stream.SetPosition(0);
    stream.ReadBuffer(file.data(), int64_t(file.size()));
    TMemoryStream probe;
    probe.WriteBuffer(file.data(), int64_t(file.size()));
    probe.SetPosition(0);
    EXPECT_EQ(IsJP2Stream(probe), codeStream == 0);
    EXPECT_EQ(IsJ2KStream(probe), codeStream == 1);

    qvtest::TempDir dir;
    const std::string coded = dir.File(codeStream ? "ours.j2k" : "ours.jp2");
    qvtest::WriteFileBytes(coded, file);
    std::string dump;
    qvtest::RunCommand("opj_dump -i " + coded + " 2>&1", &dump);
    EXPECT_NE(dump.find("prg=0x1"), std::string::npos) << dump;  // RLCP
    ASSERT_EQ(qvtest::RunCommand("opj_decompress -i " + coded + " -o " + dir.File("out.ppm") + " >/dev/null 2>&1"), 0);
    TPnm oracle;
    ASSERT_TRUE(ReadPnm(qvtest::ReadFileBytes(dir.File("out.ppm")), oracle));
    EXPECT_EQ(oracle.samples, source.samples);
  }
}

// A colour space outside 0..2 writes nothing and says so.
TEST(J2000Filter, UnknownColourSpaceAbortsAndWritesNothing) {
  TIEBitmap bitmap(4, 4, ie24RGB);
  bitmap.Fill(0);
  TIOParamsVals params(nullptr);
  params.J2000ColorSpace = 5;
  std::atomic<bool> abort{false};
  TProgressRecord progress;
  progress.AbortFlag = &abort;
  TMemoryStream stream;
  WriteJ2000Stream(stream, bitmap, params, 0, progress);
  EXPECT_TRUE(abort.load());
  EXPECT_EQ(stream.Size(), 0);
}

// Hostile headers are refused before any large allocation, the bitmap left
// as it was.
TEST(J2000Filter, HostileStreamsAreRefused) {
  // SOC, SIZ claiming 65535 x 65535, one 8-bit component, then nothing.
  Bytes huge = {0xFF, 0x4F, 0xFF, 0x51, 0x00, 0x29, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF,
                0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF,
                0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x07, 0x01, 0x01};
  huge.resize(100, 0);
  const Bytes cases[] = {huge, Bytes(huge.begin(), huge.begin() + 20), {0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A},
                         {1, 2, 3}};
  for (const Bytes& file : cases) {
    TRead r;
    r.bitmap->Allocate(3, 2, ie24RGB);
    ReadBytes(file, r);
    EXPECT_TRUE(r.abort.load());
    EXPECT_NE(r.progress.Refusal, nullptr);
    EXPECT_EQ(r.bitmap->Width(), 3);
    EXPECT_EQ(r.bitmap->Height(), 2);
  }
}

}  // namespace
