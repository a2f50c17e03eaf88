// Frames of clips that ffmpeg makes, read through the input/output component
// and compared with what ffmpeg itself decodes: counts and rates as ffprobe
// counts them, frame k in any order as ffmpeg's select=eq(n,k) gives it
// (exact for raw video, within 2 levels for the lossy codecs). Then damaged
// and hostile files: none crashes, hangs or opens another file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_io_log.h"
#include "imaging/formats/format_filters.h"
#include "imaging/special/special_formats.h"
#include "imaging/io/format_detect.h"
#include "imaging/io/ie_video_reader.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"
#include "imaging/special/video/video_frames.h"
#include "tests/imaging/io/io_test_support.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kW = 64, kH = 48, kFrames = 30;

struct Clip {
  const char* file;
  const char* codec;  // ffmpeg's arguments for the stream
  bool exact;
};
const Clip kClips[] = {
    {"raw.avi", "-c:v rawvideo -pix_fmt bgr24", true},
    {"mpeg4.avi", "-c:v mpeg4 -g 10 -q:v 3", false},
    {"clip.mpg", "-c:v mpeg2video -g 10 -q:v 3 -f mpeg", false},
    {"clip.wmv", "-c:v wmv2 -g 10 -q:v 3", false},
    {"clip.mp4", "-c:v libx264 -g 10 -pix_fmt yuv420p", false},
};

std::string Quote(const std::string& s) { return "'" + s + "'"; }

class VideoFramesOracle : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    if (!qvtest::HaveProgram("ffmpeg") || !qvtest::HaveProgram("ffprobe")) return;
    folder = new qvtest::TempDir();
    for (const Clip& c : kClips) {
      const std::string cmd = "ffmpeg -v error -y -f lavfi -i testsrc=size=" + std::to_string(kW) + "x" +
                              std::to_string(kH) + ":rate=30000/1001 -frames:v " + std::to_string(kFrames) + " " +
                              c.codec + " " + Quote(folder->File(c.file)) + " 2>&1";
      if (qvtest::RunCommand(cmd) != 0) made = false;
    }
  }
  static void TearDownTestSuite() {
    delete folder;
    folder = nullptr;
  }
  void SetUp() override {
    if (folder == nullptr || !made) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    qvtest::EnsureImageIO();
    RegisterFormatFilters();
    RegisterSpecialFormats();
    RegisterVideoFrameReader();
    io.OnFinishWork = [this](TObject*) { ++finishes; };
  }
  static std::string Path(const std::string& name) { return folder->File(name); }
  static std::wstring WPath(const std::string& name) { return UTF8ToWide(Path(name)); }

  // ffmpeg's own decode of frame k, BGR rows. Each clip is decoded once, every
  // frame passed through as decoded (as select=eq(n,k) counts them): one run
  // per clip keeps the test quick on a busy machine.
  static Bytes FfmpegFrame(const std::string& file, int k) {
    static std::map<std::string, std::string> decoded;
    auto it = decoded.find(Path(file));
    if (it == decoded.end()) {
      std::string out;
      const std::string cmd = "ffmpeg -v error -threads 1 -i " + Quote(Path(file)) +
                              " -vsync passthrough -f rawvideo -pix_fmt bgr24 - 2>/dev/null";
      qvtest::RunCommand(cmd, &out);
      it = decoded.emplace(Path(file), std::move(out)).first;
    }
    const size_t frameBytes = size_t(kW) * kH * 3;
    if (k < 0 || it->second.size() < (size_t(k) + 1) * frameBytes) return {};
    return Bytes(it->second.begin() + ptrdiff_t(size_t(k) * frameBytes),
                 it->second.begin() + ptrdiff_t((size_t(k) + 1) * frameBytes));
  }
  // ffprobe's count of decoded frames and the stream's rate.
  static std::pair<int, std::string> Probe(const std::string& file) {
    std::string out;
    qvtest::RunCommand("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                       "stream=nb_read_frames,r_frame_rate -of csv=p=0 " + Quote(Path(file)), &out);
    const size_t comma = out.find(',');
    return {std::atoi(out.c_str() + comma + 1), out.substr(0, comma)};
  }
  // Largest difference of any byte; -1 when the sizes differ.
  static int MaxDifference(TIEBitmap& b, const Bytes& want) {
    if (int64_t(want.size()) != int64_t(b.Width()) * b.Height() * 3 || b.PixelFormat() != ie24RGB) return -1;
    int worst = 0;
    for (int y = 0; y < b.Height(); ++y) {
      const uint8_t* row = b.ScanLine(y);
      for (int x = 0; x < b.Width() * 3; ++x)
        worst = std::max(worst, std::abs(int(row[x]) - int(want[size_t(y) * b.Width() * 3 + x])));
    }
    return worst;
  }
  static inline qvtest::TempDir* folder = nullptr;
  static inline bool made = true;
  qvtest::FilterSlotsScope slots;
  TImageLibIO io{nullptr};
  int finishes = 0;
};

TEST_F(VideoFramesOracle, CountsAndRatesAreFfprobes) {
  for (const Clip& c : kClips) {
    const auto probe = Probe(c.file);
    std::string why;
    auto reader = OpenVideoFrameReader(Path(c.file), why);
    ASSERT_NE(reader, nullptr) << c.file << ": " << why;
    EXPECT_EQ(reader->Info().FrameCount, probe.first) << c.file;
    EXPECT_EQ(reader->Info().Width, kW);
    EXPECT_EQ(reader->Info().Height, kH);
    EXPECT_EQ(std::to_string(reader->Info().Rate) + "/" + std::to_string(reader->Info().Scale), probe.second)
        << c.file;
  }
}

TEST_F(VideoFramesOracle, FramesInAnyOrderAreFfmpegsDecode) {
  const int order[] = {0, 1, 2, 17, 5, 29, 28, 10, 11, 9, 3, 20};
  for (const Clip& c : kClips) {
    std::string why;
    auto reader = OpenVideoFrameReader(Path(c.file), why);
    ASSERT_NE(reader, nullptr) << c.file << ": " << why;
    std::map<int, Bytes> want;
    for (int k : order) {
      if (!want.count(k)) want[k] = FfmpegFrame(c.file, k);
      TIEBitmap b;
      ASSERT_TRUE(reader->ReadFrame(k, b, why)) << c.file << " frame " << k << ": " << why;
      const int d = MaxDifference(b, want[k]);
      EXPECT_GE(d, 0) << c.file << " frame " << k;
      EXPECT_LE(d, c.exact ? 0 : 2) << c.file << " frame " << k;
    }
  }
}

TEST_F(VideoFramesOracle, AviFilesThroughTheComponent) {
  const int count = io.OpenAVIFile(WPath("raw.avi"));
  EXPECT_EQ(count, kFrames);
  EXPECT_FALSE(io.Aborting());
  EXPECT_EQ(io.Params().ImageCount, kFrames);
  EXPECT_NEAR(io.Params().AviFrameDelay, 1000.0 * 1001 / 30000, 1e-9);  // 33.366...
  EXPECT_EQ(finishes, 0);  // opening notifies nothing

  io.ReadAVIFrame(12);
  EXPECT_EQ(finishes, 1);
  EXPECT_EQ(MaxDifference(*io.IEBitmap(), FfmpegFrame("raw.avi", 12)), 0);
  EXPECT_EQ(io.Params().Width, kW);
  EXPECT_EQ(io.Params().BitsPerSample, 8);
  EXPECT_EQ(io.Params().SamplesPerPixel, 3);

  // The frame after the last reads nothing and still tells it has finished.
  std::vector<std::string> events;
  io.OnProgress = [&](TObject*, int per) { events.push_back("p" + std::to_string(per)); };
  io.OnFinishWork = [&](TObject*) { events.push_back("finish"); };
  io.ReadAVIFrame(count);
  EXPECT_EQ(events, (std::vector<std::string>{"p100", "finish"}));
  EXPECT_FALSE(io.Aborting());
  EXPECT_EQ(MaxDifference(*io.IEBitmap(), FfmpegFrame("raw.avi", 12)), 0);
  io.CloseAVIFile();
}

TEST_F(VideoFramesOracle, LoadFileGivesTheTypesOfAviMpegAndWmv) {
  struct Case {
    const char* file;
    TImageFileType type;
  };
  for (const Case& c : {Case{"mpeg4.avi", ioAVI}, Case{"clip.mpg", ioMPEG}, Case{"clip.wmv", ioWMV}}) {
    io.Params().SetImageIndex(4);
    io.LoadFile(WPath(c.file));
    EXPECT_FALSE(io.Aborting()) << c.file;
    EXPECT_EQ(io.Params().FileType, c.type) << c.file;
    EXPECT_EQ(io.Params().FileName, WPath(c.file));
    EXPECT_LE(MaxDifference(*io.IEBitmap(), FfmpegFrame(c.file, 4)), 2) << c.file;
    EXPECT_LE(0, MaxDifference(*io.IEBitmap(), FfmpegFrame(c.file, 4))) << c.file;
    EXPECT_FALSE(io.IsVideoOpen());
  }
}

TEST_F(VideoFramesOracle, OtherVideoFilesThroughTheComponent) {
  const int count = io.OpenVideoFile(WPath("clip.mp4"));
  EXPECT_EQ(count, Probe("clip.mp4").first);
  EXPECT_FALSE(io.Aborting());
  EXPECT_TRUE(io.IsVideoOpen());
  for (int k : {7, 3, 8}) {
    io.ReadVideoFrame(k);
    EXPECT_EQ(io.Params().ImageIndex, k);
    EXPECT_LE(MaxDifference(*io.IEBitmap(), FfmpegFrame("clip.mp4", k)), 2) << k;
    EXPECT_GE(MaxDifference(*io.IEBitmap(), FfmpegFrame("clip.mp4", k)), 0) << k;
  }
  EXPECT_NEAR(io.Params().VideoFrameDelay, 1000.0 * 1001 / 30000, 0.1);
  io.CloseVideoFile();
  EXPECT_FALSE(io.IsVideoOpen());
}

// ---- damaged and hostile files ----

Bytes Patched(Bytes b, const char* chunk, size_t offset, uint32_t value) {
  const auto at = std::search(b.begin(), b.end(), chunk, chunk + 4);
  if (at == b.end()) return b;
  const size_t p = size_t(at - b.begin()) + 8 + offset;  // past the chunk's id and size
  for (int i = 0; i < 4; ++i) b[p + i] = uint8_t(value >> (8 * i));
  return b;
}

TEST_F(VideoFramesOracle, DamagedAndHostileFilesNeverCrashHangOrOpenAnotherFile) {
  const Bytes raw = qvtest::ReadFileBytes(Path("raw.avi"));
  const Bytes mp4 = qvtest::ReadFileBytes(Path("mpeg4.avi"));
  Bytes huge = Patched(Patched(raw, "avih", 32, 65535), "avih", 36, 65535);
  huge = Patched(Patched(huge, "strf", 4, 65535), "strf", 8, 65535);
  const std::string other = Path("raw.avi");
  const std::string concat = "ffconcat version 1.0\nfile '" + other + "'\nfile '" + other + "'\n";
  const std::string hls = "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:1.0,\n" + other + "\n#EXT-X-ENDLIST\n";
  const Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 0, 1, 0, 0, 0, 1, 8, 2, 0, 0, 0};
  struct Case {
    const char* name;
    Bytes bytes;
    bool opens;  // may still open as a video (its frames may fail)
  };
  const std::vector<Case> cases = {
      {"cut at the header", Bytes(raw.begin(), raw.begin() + 200), false},
      {"cut at half", Bytes(raw.begin(), raw.begin() + raw.size() / 2), true},
      {"mpeg4 cut at half", Bytes(mp4.begin(), mp4.begin() + mp4.size() / 2), true},
      {"rate 0", Patched(raw, "strh", 24, 0), true},
      {"scale 0", Patched(raw, "strh", 20, 0), true},
      {"65535 x 65535", huge, true},
      {"a PNG", png, false},
      {"a concat script", Bytes(concat.begin(), concat.end()), false},
      {"an HLS playlist", Bytes(hls.begin(), hls.end()), false},
  };
  for (const Case& c : cases) {
    qvtest::WriteFileBytes(Path("hostile.avi"), c.bytes);
    io.IEBitmap()->Allocate(3, 2, ie24RGB);
    io.IEBitmap()->Fill(0x010203);
    const int count = io.OpenAVIFile(WPath("hostile.avi"));
    if (!c.opens) {
      EXPECT_EQ(count, 0) << c.name;
      EXPECT_TRUE(io.Aborting()) << c.name;
      continue;
    }
    // A count that ffmpeg can be asked about must not go past the file.
    EXPECT_LE(count, kFrames) << c.name;
    if (count == 0) {
      EXPECT_TRUE(io.Aborting()) << c.name;
      continue;
    }
    EXPECT_TRUE(std::isfinite(io.Params().AviFrameDelay)) << c.name;
    for (int k : {0, count / 2, count - 1, count, count + 1000}) {
      const int w = io.IEBitmap()->Width(), h = io.IEBitmap()->Height();
      io.ReadAVIFrame(k);
      if (io.Aborting()) {
        // A frame that cannot be had leaves the picture as it was.
        EXPECT_EQ(io.IEBitmap()->Width(), w) << c.name << " " << k;
        EXPECT_EQ(io.IEBitmap()->Height(), h) << c.name << " " << k;
      }
    }
    if (std::string(c.name) == "65535 x 65535") {
      // Refused at the first frame, before anything of that size is allocated.
      io.ReadAVIFrame(0);
      EXPECT_TRUE(io.Aborting()) << c.name;
    }
    io.CloseAVIFile();
  }
  // Rate or scale 0 give no delay, not a division by zero.
  qvtest::WriteFileBytes(Path("hostile.avi"), Patched(raw, "strh", 20, 0));
  if (io.OpenAVIFile(WPath("hostile.avi")) > 0) {
    const double d = io.Params().AviFrameDelay;
    EXPECT_TRUE(d == 0 || std::isfinite(d));
  }
}

}  // namespace
