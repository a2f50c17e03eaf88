// The lossless JPEG decoder against the test writer (every predictor,
// precision, point transform, restart interval and table order) and against
// damaged and hostile data.
#include "imaging/special/dicom/lossless_jpeg.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <string>

#include "imaging/io/io_types.h"
#include "test_support.h"
#include "tests/imaging/special/dicom/lossless_jpeg_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<uint16_t> Samples(int width, int height, int components, int precision, int pt, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint16_t> s(size_t(width) * height * components);
  const int top = (1 << precision) - 1;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < components; ++c) {
        // Ramps, noise and a few jumps from one end of the range to the other.
        int v = (x * 37 + y * 11 + c * 90) * top / (width * 37 + height * 11 + 200) + int(random() % 17) - 8;
        if ((x + y) % 7 == 0) v = top - v;
        v = std::clamp(v, 0, top);
        s[(size_t(y) * width + x) * components + c] = static_cast<uint16_t>(v >> pt << pt);
      }
  return s;
}

struct TProgress {
  std::atomic<bool> abort{false};
  TProgressRecord rec;
  TProgress() { rec.AbortFlag = &abort; }
};

struct TCase {
  int precision, predictor, pt, restartRows, components;
  bool swapped;
};

TEST(LosslessJpeg, DecodesWhatTheWriterWrote) {
  std::vector<TCase> cases;
  for (int precision : {8, 12, 16})
    for (int predictor = 1; predictor <= 7; ++predictor)
      for (int pt : {0, 2})
        for (int restart : {0, 2})
          for (bool swapped : {false, true}) cases.push_back({precision, predictor, pt, restart, 1, swapped});
  for (int predictor = 1; predictor <= 7; ++predictor) cases.push_back({8, predictor, 0, predictor % 2 ? 3 : 0, 3, predictor > 4});
  cases.push_back({16, 1, 0, 0, 3, false});
  unsigned seed = 1;
  for (const TCase& c : cases) {
    SCOPED_TRACE("precision " + std::to_string(c.precision) + " predictor " + std::to_string(c.predictor) + " Pt " +
                 std::to_string(c.pt) + " restart " + std::to_string(c.restartRows) + " components " +
                 std::to_string(c.components) + (c.swapped ? " swapped" : ""));
    const int width = 13, height = 9;
    const auto samples = Samples(width, height, c.components, c.precision, c.pt, seed++);
    qvtest::TLosslessOptions o{width, height, c.components, c.precision, c.predictor, c.pt, c.restartRows, c.swapped};
    const Bytes data = qvtest::WriteLosslessJpeg(samples, o);
    std::vector<uint16_t> words(samples.size(), 0xABCD);
    const char* reason = nullptr;
    TLosslessJpegFrame frame;
    TProgress p;
    ASSERT_TRUE(DecodeLosslessJPEG(data.data(), data.size(), words.data(), nullptr, words.size(), p.rec, reason, &frame))
        << reason;
    EXPECT_EQ(frame.Precision, c.precision);
    EXPECT_EQ(frame.Samples, width);
    EXPECT_EQ(frame.Lines, height);
    EXPECT_EQ(words, samples);
    if (c.precision == 8) {
      Bytes bytes(samples.size());
      ASSERT_TRUE(DecodeLosslessJPEG(data.data(), data.size(), nullptr, bytes.data(), bytes.size(), p.rec, reason))
          << reason;
      EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), samples.begin()));
    }
  }
}

TEST(LosslessJpeg, ExtremeDifferencesAndProgress) {
  // Neighbours 0 and 65535 give the differences of category 16 (32768) and 15.
  std::vector<uint16_t> samples = {0, 65535, 0, 32768, 65535, 0, 1, 32767, 0, 65535, 65535, 0};
  for (int predictor : {1, 2, 4, 7}) {
    qvtest::TLosslessOptions o{4, 3, 1, 16, predictor, 0, 0, false};
    const Bytes data = qvtest::WriteLosslessJpeg(samples, o);
    std::vector<uint16_t> out(samples.size());
    TProgress p;
    std::vector<int> reported;
    p.rec.ProgressEvent = [&](TObject*, int percent) { reported.push_back(percent); };
    const char* reason = nullptr;
    ASSERT_TRUE(DecodeLosslessJPEG(data.data(), data.size(), out.data(), nullptr, out.size(), p.rec, reason)) << reason;
    EXPECT_EQ(out, samples) << predictor;
    ASSERT_FALSE(reported.empty());
    EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end()));
    EXPECT_LE(reported.back(), 100);
  }
}

// Finds the first marker `code` and returns the offset of its FF.
size_t MarkerAt(const Bytes& data, uint8_t code) {
  for (size_t i = 0; i + 1 < data.size(); ++i)
    if (data[i] == 0xFF && data[i + 1] == code) return i;
  return data.size();
}

TEST(LosslessJpeg, RefusesDamagedAndHostileData) {
  const int width = 16, height = 8;
  const auto samples = Samples(width, height, 1, 12, 0, 7);
  const Bytes good = qvtest::WriteLosslessJpeg(samples, {width, height, 1, 12, 1, 0, 0, false});
  const Bytes restarts = qvtest::WriteLosslessJpeg(samples, {width, height, 1, 12, 1, 0, 2, false});
  const size_t dht = MarkerAt(good, 0xC4), sos = MarkerAt(good, 0xDA), sof = MarkerAt(good, 0xC3);
  struct TDamage {
    const char* name;
    Bytes data;
    size_t capacity;
  };
  std::vector<TDamage> cases;
  const size_t full = samples.size();
  auto with = [&](const char* name, const Bytes& base, auto change, size_t capacity = 0) {
    if (capacity == 0) capacity = full;
    Bytes b = base;
    change(b);
    cases.push_back({name, b, capacity});
  };
  with("under 32 bytes", good, [](Bytes& b) { b.resize(31); });
  with("cut in the coded data", good, [](Bytes& b) { b.resize(b.size() / 2); });
  with("no start of image", good, [](Bytes& b) { b[1] = 0xD9; });
  with("no byte FF where a marker belongs", good, [&](Bytes& b) { b[dht] = 0x12; });
  with("a segment past the end", good, [&](Bytes& b) { b.resize(dht + 40); });
  with("an 18-code table", good, [&](Bytes& b) { b[dht + 5 + 1] = 2; });
  with("a symbol above 16", good, [&](Bytes& b) { b[dht + 5 + 16] = 17; });
  with("a scan selecting a missing table", good, [&](Bytes& b) { b[sos + 6] = 0x30; });
  with("no scan", good, [&](Bytes& b) { b.resize(sos); b.insert(b.end(), {0xFF, 0xD9}); });
  with("a baseline frame", good, [&](Bytes& b) { b[sof + 1] = 0xC0; });
  with("precision 17", good, [&](Bytes& b) { b[sof + 4] = 17; });
  with("predictor 0", good, [&](Bytes& b) { b[sos + 7] = 0; });
  with("point transform at the precision", good, [&](Bytes& b) { b[sos + 9] = 12; });
  with("a frame larger than the buffer", good, [](Bytes&) {}, samples.size() - 1);
  with("65535 by 65535 in a small fragment", good, [&](Bytes& b) { b[sof + 5] = b[sof + 6] = b[sof + 7] = b[sof + 8] = 0xFF; });
  with("a restart marker missing", restarts, [&](Bytes& b) {
    const size_t rst = MarkerAt(b, 0xD0);
    b[rst + 1] = 0x00;  // read as a stuffed FF
  });
  with("a restart interval inside a row", restarts, [&](Bytes& b) { b[MarkerAt(b, 0xDD) + 5] = 3; });
  // Codes that are never assigned: a table of one code "0" meets bits 1111...
  with("a code that never matches", good, [&](Bytes& b) {
    for (int i = 0; i < 16; ++i) b[dht + 5 + i] = 0;
    b[dht + 5] = 1;  // one code of length 1, for symbol 0; the other 16 symbols lie unused
    const size_t data = MarkerAt(b, 0xDA) + 2 + (size_t(b[MarkerAt(b, 0xDA) + 2]) << 8 | b[MarkerAt(b, 0xDA) + 3]);
    for (size_t i = data; i < data + 8; ++i) b[i] = 0xFE;
  });
  for (const TDamage& c : cases) {
    std::vector<uint16_t> out(samples.size());
    const char* reason = nullptr;
    TProgress p;
    EXPECT_FALSE(DecodeLosslessJPEG(c.data.data(), c.data.size(), out.data(), nullptr, c.capacity, p.rec, reason))
        << c.name;
    EXPECT_NE(reason, nullptr) << c.name;
  }
  // A 12-bit frame does not go into 8-bit samples.
  Bytes bytes(samples.size());
  const char* reason = nullptr;
  TProgress p;
  EXPECT_FALSE(DecodeLosslessJPEG(good.data(), good.size(), nullptr, bytes.data(), bytes.size(), p.rec, reason));
}

// ffmpeg's ljpeg encoder writes the DCT processes' AC tables beside its
// lossless ones, and codes three components with sampling factors 1 x 2 (or,
// for RGB, a 9-bit colour transform of its own). ffmpeg's own decoder gives
// back the input; ours refuses the 1 x 2 units with its reason instead of
// decoding them in the wrong order.
TEST(LosslessJpegOracle, FfmpegsLjpegEncoder) {
  if (!qvtest::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  qvtest::TempDir dir;
  const int width = 16, height = 8;
  Bytes planes(size_t(width) * height * 3);
  std::mt19937 random(5);
  for (size_t i = 0; i < planes.size(); ++i) planes[i] = uint8_t(i * 7 % 251 + random() % 5);
  qvtest::WriteFileBytes(dir.File("in.yuv"), planes);
  for (int predictor = 1; predictor <= 3; ++predictor) {
    SCOPED_TRACE(predictor);
    const std::string out = dir.File("p" + std::to_string(predictor) + ".jpg");
    ASSERT_EQ(qvtest::RunCommand("ffmpeg -loglevel error -y -f rawvideo -pix_fmt yuvj444p -s 16x8 -i " +
                                 dir.File("in.yuv") + " -c:v ljpeg -pred " + std::to_string(predictor) + " -f mjpeg " +
                                 out),
              0);
    const Bytes data = qvtest::ReadFileBytes(out);
    Bytes samples(planes.size());
    const char* reason = nullptr;
    TProgress p;
    EXPECT_FALSE(DecodeLosslessJPEG(data.data(), data.size(), nullptr, samples.data(), samples.size(), p.rec, reason));
    ASSERT_NE(reason, nullptr);
    EXPECT_EQ(std::string(reason), "components with sampling factors other than 1 x 1");
  }
}

}  // namespace
