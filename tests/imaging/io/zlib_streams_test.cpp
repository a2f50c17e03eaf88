#include "imaging/io/zlib_streams.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "test_support.h"

namespace {

std::vector<uint8_t> Sample(size_t n, uint32_t seed) {
  // Half noise, half runs: compresses, but not to nothing.
  std::mt19937 r(seed);
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = (i / 512) % 2 ? static_cast<uint8_t>(r()) : static_cast<uint8_t>(i / 97);
  return v;
}

std::vector<uint8_t> Noise(size_t n) {
  std::mt19937 r(7);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(r());
  return v;
}

std::vector<uint8_t> Compress(const std::vector<uint8_t>& data, TZCompressionLevel level = zcDefault) {
  TMemoryStream m;
  {
    TZCompressionStream z(&m, level);
    z.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
    z.Finish();
  }
  return std::vector<uint8_t>(m.Memory(), m.Memory() + m.Size());
}

std::vector<uint8_t> DecompressAll(TStream& source) {
  TZDecompressionStream z(&source);
  std::vector<uint8_t> out;
  uint8_t buf[5000];
  for (int64_t n; (n = z.Read(buf, sizeof buf)) > 0;) out.insert(out.end(), buf, buf + n);
  return out;
}

const char* kPython = "/usr/bin/python3";

bool HavePython() { return std::filesystem::exists(kPython); }

// Runs a line of Python over in.bin, producing out.bin.
std::vector<uint8_t> PythonFilter(const std::vector<uint8_t>& input, const std::string& expression) {
  qvtest::TempDir dir;
  qvtest::WriteFileBytes(dir.File("in.bin"), input);
  const std::string cmd = std::string(kPython) + " -c \"import zlib; d=open('" + dir.File("in.bin") +
                          "','rb').read(); open('" + dir.File("out.bin") + "','wb').write(" + expression + ")\"";
  EXPECT_EQ(qvtest::RunCommand(cmd), 0) << cmd;
  return qvtest::ReadFileBytes(dir.File("out.bin"));
}

}  // namespace

class ZStreamRoundTrip : public ::testing::TestWithParam<std::tuple<size_t, TZCompressionLevel>> {};

TEST_P(ZStreamRoundTrip, DecompressesToTheSameBytes) {
  const auto [size, level] = GetParam();
  const auto data = Sample(size, static_cast<uint32_t>(size));
  auto packed = Compress(data, level);
  TIEMemStream src(packed.data(), static_cast<int64_t>(packed.size()));
  EXPECT_EQ(DecompressAll(src), data);
  std::vector<uint8_t> whole;
  ZDecompressBuffer(packed.data(), static_cast<int64_t>(packed.size()), whole);
  EXPECT_EQ(whole, data);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ZStreamRoundTrip,
                         ::testing::Combine(::testing::Values(0, 1, 65535, 65536, 300001),
                                            ::testing::Values(zcNone, zcFastest, zcDefault, zcMax)));

TEST(ZStreams, CompressionWithoutWritesIsAValidEmptyStream) {
  TMemoryStream m;
  { TZCompressionStream z(&m); }  // finished by the destructor
  ASSERT_GT(m.Size(), 0);
  m.SetPosition(0);
  EXPECT_TRUE(DecompressAll(m).empty());
}

TEST(ZStreams, ProgressPerFullOutputBuffer) {
  const auto data = Noise(200000);  // incompressible: about 200 KB of output
  TMemoryStream m;
  int calls = 0;
  TZCompressionStream z(&m, zcDefault);
  z.OnProgress = [&](TObject*) { ++calls; };
  z.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
  EXPECT_EQ(calls, 3);  // 3 x 65536 bytes written out, the rest still buffered
  EXPECT_EQ(m.Size(), 3 * 65536);
  EXPECT_EQ(z.Seek(0, soCurrent), 200000);  // position reads as the uncompressed count
  EXPECT_THROW(z.Read(nullptr, 1), EZCompressionError);
}

TEST(ZStreams, ReadingStopsJustAfterTheCompressedData) {
  const auto data = Sample(100000, 1);
  const auto packed = Compress(data);
  TMemoryStream m;
  m.WriteBuffer("HEAD", 4);
  m.WriteBuffer(packed.data(), static_cast<int64_t>(packed.size()));
  m.WriteBuffer("TAIL", 4);
  m.SetPosition(4);
  EXPECT_EQ(DecompressAll(m), data);
  EXPECT_EQ(m.Position(), 4 + static_cast<int64_t>(packed.size()));
  char tail[4];
  m.ReadBuffer(tail, 4);
  EXPECT_EQ(std::string(tail, 4), "TAIL");
}

// Restarting goes back to where the compressed data starts, not to offset 0.
TEST(ZStreams, SeekEndThenRestartFromTheDataStart) {
  const auto data = Sample(70000, 2);
  const auto packed = Compress(data);
  TMemoryStream m;
  m.WriteBuffer("0123456789", 10);
  m.WriteBuffer(packed.data(), static_cast<int64_t>(packed.size()));
  m.SetPosition(10);
  TZDecompressionStream z(&m);
  EXPECT_EQ(z.Seek(0, soEnd), 70000);
  EXPECT_EQ(z.Seek(0, soBeginning), 0);
  std::vector<uint8_t> first(100);
  ASSERT_EQ(z.Read(first.data(), 100), 100);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), data.begin()));
  EXPECT_THROW(z.Seek(10, soBeginning), EZDecompressionError);
  EXPECT_THROW(z.Seek(100, soBeginning), EZDecompressionError);
  EXPECT_THROW(z.Seek(-1, soCurrent), EZDecompressionError);
  EXPECT_THROW(z.Seek(-5, soEnd), EZDecompressionError);
  EXPECT_EQ(z.Seek(150, soBeginning), 150);
  uint8_t b = 0;
  ASSERT_EQ(z.Read(&b, 1), 1);
  EXPECT_EQ(b, data[150]);
  EXPECT_EQ(z.Seek(0, soCurrent), 151);
  try {
    z.Write(&b, 1);
    FAIL();
  } catch (const EZDecompressionError& e) {
    EXPECT_EQ(e.Message(), "Invalid ZStream operation!");
  }
}

TEST(ZStreams, CorruptAndTruncatedData) {
  const auto data = Sample(50000, 3);
  auto packed = Compress(data);
  // Truncated: fewer bytes, no exception.
  {
    TIEMemStream src(packed.data(), static_cast<int64_t>(packed.size() / 2));
    const auto got = DecompressAll(src);
    EXPECT_LT(got.size(), data.size());
    EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin()));
  }
  // A broken header is a data error.
  auto bad = packed;
  bad[0] = 0x00;
  TIEMemStream src(bad.data(), static_cast<int64_t>(bad.size()));
  TZDecompressionStream z(&src);
  uint8_t buf[100];
  try {
    z.Read(buf, 100);
    FAIL();
  } catch (const EZDecompressionError& e) {
    EXPECT_EQ(e.Message(), "data error");
  }
  std::vector<uint8_t> out;
  EXPECT_THROW(ZDecompressBuffer(bad.data(), static_cast<int64_t>(bad.size()), out), EZDecompressionError);
  EXPECT_THROW(ZDecompressBuffer(packed.data(), static_cast<int64_t>(packed.size() / 2), out), EZDecompressionError);
  EXPECT_TRUE(out.empty());
  EXPECT_THROW(ZDecompressBuffer(packed.data(), 0, out), EZDecompressionError);
}

TEST(ZStreams, WholeBlockInflationIsBounded) {
  const std::vector<uint8_t> zeros(1000000, 0);
  const auto packed = Compress(zeros, zcMax);
  std::vector<uint8_t> out;
  EXPECT_THROW(ZDecompressBuffer(packed.data(), static_cast<int64_t>(packed.size()), out, 0, 4096),
               EZDecompressionError);
  ZDecompressBuffer(packed.data(), static_cast<int64_t>(packed.size()), out, 10);
  EXPECT_EQ(out, zeros);
}

TEST(ZStreams, CompressionFollowsAMovedStream) {
  const auto data = Sample(1000, 4);
  TMemoryStream m;
  m.WriteBuffer("AB", 2);
  TZCompressionStream z(&m);
  z.WriteBuffer(data.data(), 500);
  m.SetPosition(0);  // someone else moved the stream
  z.WriteBuffer(data.data() + 500, 500);
  z.Finish();
  m.SetPosition(0);
  char head[2];
  m.ReadBuffer(head, 2);
  EXPECT_EQ(std::string(head, 2), "AB");
  EXPECT_EQ(DecompressAll(m), data);
}

TEST(ZStreamsOracle, PythonReadsOursAndWeReadPythons) {
  if (!HavePython()) GTEST_SKIP() << "no " << kPython;
  const auto data = Sample(150000, 5);
  for (TZCompressionLevel level : {zcNone, zcFastest, zcDefault, zcMax})
    EXPECT_EQ(PythonFilter(Compress(data, level), "zlib.decompress(d)"), data);
  const auto theirs = PythonFilter(data, "zlib.compress(d, 9)");
  TIEMemStream src(theirs.data(), static_cast<int64_t>(theirs.size()));
  EXPECT_EQ(DecompressAll(src), data);
  const auto empty = PythonFilter({}, "zlib.compress(d)");
  std::vector<uint8_t> out{1};
  ZDecompressBuffer(empty.data(), static_cast<int64_t>(empty.size()), out);
  EXPECT_TRUE(out.empty());
}

// A stream made with a preset dictionary cannot be read without it: an error,
// never an endless wait for input.
TEST(ZStreamsOracle, PresetDictionaryIsRefused) {
  if (!HavePython()) GTEST_SKIP() << "no " << kPython;
  const auto data = Sample(1000, 6);
  const auto packed = PythonFilter(data, "(lambda c: c.compress(d) + c.flush())(zlib.compressobj(zdict=b'dictionary'))");
  TIEMemStream src(packed.data(), static_cast<int64_t>(packed.size()));
  TZDecompressionStream z(&src);
  uint8_t buf[64];
  try {
    z.Read(buf, sizeof buf);
    FAIL();
  } catch (const EZDecompressionError& e) {
    EXPECT_EQ(e.Message(), "need dictionary");
  }
  std::vector<uint8_t> out;
  EXPECT_THROW(ZDecompressBuffer(packed.data(), static_cast<int64_t>(packed.size()), out), EZDecompressionError);
}
