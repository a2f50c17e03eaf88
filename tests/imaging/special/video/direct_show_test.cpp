// The video graph over the frame reader: what BuildGraph chooses, frames after
// SeekTo against ffmpeg's own decode, one frame message per frame and the
// completion event on a clock of our own, a seek that never settles, and the
// renderer's picture.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/formats/png_filter.h"
#include "imaging/io/io_params.h"
#include "imaging/special/video/direct_show.h"
#include "platform/graphics/dib_types.h"
#include "platform/graphics/gdi.h"
#include "platform/rtl/streams.h"
#include "platform/ui/windows.h"
#include "platform/win/ole.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kW = 64, kH = 48, kFrames = 30;
constexpr UINT kFrameMsg = 8025, kEventMsg = 8026;

// Time that moves only when someone waits on it.
class VirtualClock : public TIEGraphClock {
public:
  uint32_t Now() override { return FNow.load(); }
  void Wait(std::condition_variable& wake, std::unique_lock<std::mutex>& lock, uint32_t ms) override {
    FNow += ms;
    wake.wait_for(lock, std::chrono::milliseconds(std::min<uint32_t>(ms, 20)));
  }
  std::atomic<uint32_t> FNow{100000};
};

class ClockScope {
public:
  ClockScope() { SetIEGraphClock(&clock); }
  ~ClockScope() { SetIEGraphClock(nullptr); }
  VirtualClock clock;
};

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// The state the graph settles in: GetState's own time-out is short (the
// virtual clock waits 20 ms a turn), and a busy machine can take longer to
// decode the first frame, so the question is asked again until the state is
// reached or the graph has had several seconds.
int SettledState(TIEDirectShow& ds, int want) {
  int state = ds.GetGraphState();
  for (int i = 0; i < 500 && state != want; ++i) state = ds.GetGraphState();
  return state;
}

// Messages of the queue for the window, counted by number (and taken off).
std::pair<int, int> DrainMessages(HWND window) {
  int frames = 0, events = 0;
  MSG m;
  std::vector<MSG> others;
  while (PeekMessage(&m, true)) {
    if (m.hwnd == window && m.message == kFrameMsg) ++frames;
    else if (m.hwnd == window && m.message == kEventMsg) ++events;
  }
  return {frames, events};
}

struct Clip {
  const char* file;
  const char* args;
  bool exact;
};
const Clip kClips[] = {
    {"ffv1.avi", "-c:v ffv1 -pix_fmt bgr0 -g 8", true},
    {"clip.mpg", "-c:v mpeg2video -g 10 -q:v 3 -f mpeg", false},
    {"clip.mov", "-c:v mpeg4 -g 10 -q:v 3", false},
};

class DirectShowOracle : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    if (!qvtest::HaveProgram("ffmpeg") || !qvtest::HaveProgram("ffprobe")) return;
    folder = new qvtest::TempDir();
    for (const Clip& c : kClips) {
      const std::string cmd = "ffmpeg -v error -y -f lavfi -i testsrc=size=" + std::to_string(kW) + "x" +
                              std::to_string(kH) + ":rate=25 -frames:v " + std::to_string(kFrames) + " " + c.args +
                              " " + Quote(folder->File(c.file)) + " 2>&1";
      if (qvtest::RunCommand(cmd) != 0) made = false;
    }
    // Variable rate: frames 40 ms apart, then 80 ms.
    const std::string vfr = "ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 20 "
                            "-vf \"setpts='if(lt(N,10),N*0.04,0.4+(N-10)*0.08)/TB'\" -fps_mode vfr -c:v ffv1 " +
                            Quote(folder->File("vfr.mkv")) + " 2>&1";
    if (qvtest::RunCommand(vfr) != 0) made = false;
  }
  static void TearDownTestSuite() {
    delete folder;
    folder = nullptr;
  }
  void SetUp() override {
    if (folder == nullptr || !made) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
  }
  static std::string Path(const std::string& name) { return folder->File(name); }
  static Bytes FfmpegFrame(const std::string& file, int k) {
    std::string out;
    qvtest::RunCommand("ffmpeg -v error -threads 1 -i " + Quote(Path(file)) + " -vf 'select=eq(n\\," +
                           std::to_string(k) + ")' -frames:v 1 -f rawvideo -pix_fmt bgr24 - 2>/dev/null",
                       &out);
    return Bytes(out.begin(), out.end());
  }
  static std::string Probe(const std::string& file, const std::string& entries) {
    std::string out;
    qvtest::RunCommand("ffprobe -v error -select_streams v:0 -show_entries " + entries + " -of csv=p=0 " +
                           Quote(Path(file)),
                       &out);
    while (!out.empty() && (out.back() == '\n' || out.back() == ',')) out.pop_back();
    return out;
  }
  static Bytes Rows(TIEBitmap& b) {
    Bytes r;
    for (int y = 0; y < b.Height(); ++y) r.insert(r.end(), b.ScanLine(y), b.ScanLine(y) + b.Width() * 3);
    return r;
  }
  static inline qvtest::TempDir* folder = nullptr;
  static inline bool made = true;
};

TEST_F(DirectShowOracle, DurationRateAndSizeAreFfprobes) {
  for (const char* file : {"ffv1.avi", "clip.mpg", "clip.mov", "vfr.mkv"}) {
    SCOPED_TRACE(file);
    TIEDirectShow ds;
    ds.SourceFile = Path(file);
    ds.SampleGrabber = true;
    ds.BuildGraph();
    ASSERT_TRUE(ds.IsGraphBuilt()) << ds.BuildRefusal();
    int w = 0, h = 0;
    std::string subtype;
    ds.GetVideoSize(w, h, subtype);
    EXPECT_EQ(w, std::stoi(Probe(file, "stream=width")));
    EXPECT_EQ(h, std::stoi(Probe(file, "stream=height")));
    ds.SetTimeFormat(1);
    EXPECT_EQ(ds.GetTimeFormat(), 1);
    std::string count;
    qvtest::RunCommand("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of "
                       "csv=p=0 " + Quote(Path(file)), &count);
    EXPECT_EQ(ds.GetDuration(), std::stoll(count));
    ds.SetTimeFormat(5);
    // The container's duration, in 100-ns units, to the millisecond.
    std::string d = Probe(file, "stream=duration");
    if (d.empty() || d == "N/A") d = Probe(file, "format=duration");
    EXPECT_NEAR(double(ds.GetDuration()) / 1e7, std::stod(d), 0.0015);
    // The rate ffprobe gives as the average.
    const std::string rate = Probe(file, "stream=avg_frame_rate");
    const double fps = std::stod(rate.substr(0, rate.find('/'))) / std::stod(rate.substr(rate.find('/') + 1));
    EXPECT_NEAR(1e7 / double(ds.GetFrameDuration()), fps, 0.01 * fps);
  }
}

TEST_F(DirectShowOracle, SeekToGivesTheExactFrameInEitherTimeFormat) {
  ClockScope scope;
  TIEDirectShow ds;
  ds.SourceFile = Path("ffv1.avi");
  ds.SampleGrabber = true;
  ds.BuildGraph();
  ASSERT_TRUE(ds.IsGraphBuilt()) << ds.BuildRefusal();
  ds.PauseGraph();
  EXPECT_EQ(SettledState(ds, 1), 1);
  for (int format : {1, 5}) {
    ds.SetTimeFormat(format);
    ds.SetTimeFormat(1);
    const int64_t frameTime = ds.GetFrameDuration();
    ds.SetTimeFormat(format);
    for (int k : {17, 0, 1, kFrames - 1}) {
      SCOPED_TRACE(std::to_string(format) + " frame " + std::to_string(k));
      ds.SeekTo(format == 1 ? k : k * frameTime);
      TIEBitmap b;
      ds.GrabFrame(b, false);
      EXPECT_EQ(Rows(b), FfmpegFrame("ffv1.avi", k));
      EXPECT_EQ(ds.GetCurrentPosition(), format == 1 ? k : k * frameTime);
    }
  }
}

TEST_F(DirectShowOracle, RunPostsAFrameMessagePerFrameThenCompletion) {
  ClockScope scope;
  HWND window = AllocateHWnd([](TMessage&) {});
  DrainMessages(window);
  for (const Clip& c : kClips) {
    SCOPED_TRACE(c.file);
    TIEDirectShow ds;
    ds.SourceFile = Path(c.file);
    ds.SampleGrabber = true;
    ds.SetNotifyWindow(window, kFrameMsg, kEventMsg);
    ds.BuildGraph();
    ASSERT_TRUE(ds.IsGraphBuilt()) << ds.BuildRefusal();
    const uint32_t start = scope.clock.Now();
    ds.RunGraph();
    while (!ds.EndOfStream.load() && scope.clock.Now() - start < 60000) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(ds.EndOfStream.load());
    // Paced by the clock: the last frame was due after 29 frame times.
    EXPECT_GE(scope.clock.Now() - start, uint32_t((kFrames - 1) * 40));
    int code = 0;
    ASSERT_TRUE(ds.GetGraphEvent(code));
    EXPECT_EQ(code, EC_COMPLETE);
    EXPECT_FALSE(ds.GetGraphEvent(code));
    const auto counts = DrainMessages(window);
    EXPECT_EQ(counts.first, kFrames);
    EXPECT_EQ(counts.second, 1);
  }
  // Posting off: frames are not queued.
  TIEDirectShow ds;
  ds.SourceFile = Path("ffv1.avi");
  ds.SampleGrabber = true;
  ds.SetNotifyWindow(window, kFrameMsg, kEventMsg);
  ds.BuildGraph();
  ds.GrabberPosting = false;
  ds.RunGraph();
  // A seek in a running graph settles as soon as the frame is there, although
  // the graph then goes on.
  ds.SetTimeFormat(1);
  const uint32_t before = scope.clock.Now();
  ds.SeekTo(3);
  EXPECT_LT(scope.clock.Now() - before, 10000u);
  while (!ds.EndOfStream.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(DrainMessages(window).first, 0);
  DeallocateHWnd(window);
}

TEST_F(DirectShowOracle, RendererDrawsFrameSeventeenLetterboxed) {
  TIEDirectShow ds;
  ds.SourceFile = Path("ffv1.avi");
  ds.UseVideoRenderer = true;
  ds.SampleGrabber = true;
  ds.BuildGraph();
  ASSERT_TRUE(ds.IsGraphBuilt());
  ds.PauseGraph();
  ds.SetTimeFormat(1);
  ds.SeekTo(17);
  int nw = 0, nh = 0;
  ds.GetNativeVideoSize(nw, nh);
  EXPECT_EQ(nw, kW);
  EXPECT_EQ(nh, kH);
  // A 256 x 256 window: the 4:3 picture fills its width, black bands above and below.
  constexpr int side = 256;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = side;
  info.bmiHeader.biHeight = -side;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP dib = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(dib, nullptr);
  std::memset(bits, 0x80, size_t(side) * side * 3);
  HGDIOBJ old = SelectObject(dc, dib);
  const int h = side * kH / kW, top = (side - h) / 2;
  ds.SetVideoRect(RECT{0, 0, kW, kH}, RECT{0, top, side, top + h});
  ds.RepaintVideo(nullptr, dc);
  SelectObject(dc, old);

  TIEBitmap shot(side, side, ie24RGB);
  const auto* p = static_cast<const uint8_t*>(bits);
  for (int y = 0; y < side; ++y) std::memcpy(shot.ScanLine(y), p + size_t(y) * side * 3, size_t(side) * 3);
  DeleteObject(dib);
  DeleteDC(dc);
  // Bands black; the picture is frame 17 scaled four times.
  EXPECT_EQ(shot.GetPixelRGB(10, 5).r, 0);
  EXPECT_EQ(shot.GetPixelRGB(200, side - 3).g, 0);
  const Bytes want = FfmpegFrame("ffv1.avi", 17);
  int wrong = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < side; ++x)
      wrong += std::memcmp(shot.ScanLine(top + y) + 3 * x, &want[(size_t(y * kH / h) * kW + x * kW / side) * 3], 3) != 0;
  EXPECT_EQ(wrong, 0);
  const std::filesystem::path dir = std::filesystem::path(QV_BINARY_DIR) / "test-output";
  std::filesystem::create_directories(dir);
  TFileStream out((dir / "video_frame17_letterboxed.png").string(), fmCreate);
  TIOParamsVals params(nullptr);
  TProgressRecord progress;
  WritePNGStream(out, shot, params, nullptr, progress);
}

// ---- what BuildGraph chooses ----

std::string Joined(const std::vector<std::string>& v) {
  std::string s;
  for (const std::string& x : v) s += x + "|";
  return s;
}

TEST(DirectShow, GraphDescriptions) {
  qvtest::TempDir dir;
  const int ole = OleInitCount();
  {
    // A capture graph with an output file of another extension: no
    // multiplexer, so the capture renders to the null renderer.
    TIEDirectShow ds;
    ds.VideoCaptureFilter = std::make_unique<TIEBaseFilter>(TIEBaseFilter{"cam"});
    ds.OutputFile = "out.mkv";
    ds.BuildGraph();
    EXPECT_TRUE(ds.IsGraphBuilt());
    EXPECT_EQ(Joined(ds.GraphFilters()), "VideoCapture|ColorConverter|NullRenderer|AVI Decompressor|");
    EXPECT_EQ(Joined(ds.GraphRoutes()), "RenderStream(Capture, Video, VideoCapture, ColorConverter, NullRenderer)|");
    EXPECT_EQ(OleInitCount(), ole + 1);
  }
  EXPECT_EQ(OleInitCount(), ole);
  {
    // An AVI output with a renderer: capture to the multiplexer, preview to the renderer.
    TIEDirectShow ds;
    ds.VideoCaptureFilter = std::make_unique<TIEBaseFilter>(TIEBaseFilter{"cam"});
    ds.OutputFile = "OUT.AVI";
    ds.UseVideoRenderer = true;
    ds.BuildGraph();
    EXPECT_EQ(Joined(ds.GraphRoutes()), "SetOutputFileName(Avi, OUT.AVI)|"
                                        "RenderStream(Capture, Video, VideoCapture, ColorConverter, AVI Mux)|"
                                        "RenderStream(Preview, Video, VideoCapture, none, Video Mixing Renderer)|");
  }
  // MPEG-2 sources take their own route from Windows 7 on; before, the AVI route.
  const std::string mpg = dir.File("a.mpg");
  for (int version : {7, 8}) {
    TIEDirectShow ds;
    ds.SourceFile = mpg;
    ds.WindowsVersionCode = version;
    ds.SampleGrabber = true;
    ds.BuildGraph();
    EXPECT_FALSE(ds.IsGraphBuilt());  // no such file
    EXPECT_EQ(ds.GetDuration(), 0);
  }
}

TEST(DirectShow, ASourceThatCannotOpenLeavesNoGraph) {
  qvtest::TempDir dir;
  const Bytes junk = {'R', 'I', 'F', 'F', 1, 2, 3};
  struct Case {
    const char* name;
    Bytes bytes;
  };
  for (const Case& c : {Case{"missing.avi", {}}, Case{"empty.avi", Bytes{}}, Case{"junk.avi", junk},
                        Case{"picture.mov", Bytes(500, 0x55)}}) {
    SCOPED_TRACE(c.name);
    if (std::string(c.name) != "missing.avi") qvtest::WriteFileBytes(dir.File(c.name), c.bytes);
    TIEDirectShow ds;
    ds.SourceFile = dir.File(c.name);
    ds.SampleGrabber = true;
    ds.BuildGraph();
    EXPECT_FALSE(ds.IsGraphBuilt());
    EXPECT_EQ(ds.GetDuration(), 0);
    EXPECT_EQ(ds.GetGraphState(), 0);
    TIEBitmap b(3, 3, ie8g);
    ds.GrabFrame(b, true);
    EXPECT_EQ(b.Width(), 3);
  }
}

// A reader whose frames never come until released: the graph never settles.
class StuckReader : public TIEVideoFrameReader {
public:
  StuckReader(std::atomic<bool>& release, int64_t frameTime = 400000) : FRelease(release) {
    FInfo.FrameCount = 10, FInfo.Width = 4, FInfo.Height = 4, FInfo.FrameTime = frameTime, FInfo.Duration = 4000000;
  }
  const TIEVideoInfo& Info() const override { return FInfo; }
  bool ReadFrame(int64_t, TIEBitmap& bitmap, std::string&) override {
    while (!FRelease.load()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    bitmap.Allocate(4, 4, ie24RGB);
    return true;
  }

private:
  std::atomic<bool>& FRelease;
  TIEVideoInfo FInfo;
};

TEST(DirectShow, SeekToGivesUpOnAGraphThatNeverSettles) {
  ClockScope scope;
  std::atomic<bool> release{false};
  TIEDirectShow ds;
  ds.ReaderOpener = [&release](const std::string&, std::string&) { return std::make_unique<StuckReader>(release); };
  ds.SourceFile = "stuck.avi";
  ds.SampleGrabber = true;
  ds.BuildGraph();
  ASSERT_TRUE(ds.IsGraphBuilt());
  ds.SetTimeFormat(1);
  const uint32_t start = scope.clock.Now();
  ds.SeekTo(5);
  const uint32_t waited = scope.clock.Now() - start;
  EXPECT_GE(waited, 10000u);
  EXPECT_LT(waited, 10500u);
  release = true;
}

TEST(DirectShow, AFrameDurationThatNeverShowsIsGivenUpAfterTheLimit) {
  ClockScope scope;
  std::atomic<bool> release{false};
  TIEDirectShow ds;
  ds.ReaderOpener = [&release](const std::string&, std::string&) {
    auto r = std::make_unique<StuckReader>(release, 0);
    return r;
  };
  ds.SourceFile = "stuck.avi";
  ds.BuildGraph();
  ASSERT_TRUE(ds.IsGraphBuilt());
  const uint32_t start = scope.clock.Now();
  EXPECT_EQ(ds.GetFrameDuration(), 0);
  EXPECT_GE(scope.clock.Now() - start, 10000u);
  EXPECT_LT(scope.clock.Now() - start, 10500u);
  release = true;
}

}  // namespace
