// HD Photo and the video graph against the codec libraries under them, in
// one run. A 24-megapixel HD Photo (6000 x 4000, quality 0.9) decoded and
// encoded through ReadHDPhotoStream and WriteHDPhotoStream against libjxr's
// glue called directly on the same bytes (goal: at most 1.05 x each); and the
// 300 frames of a 640 x 480 clip grabbed in order through a running video
// graph against the frame reader's plain libavcodec and libswscale decode of
// the same frames (goal: at most 1.1 x). The counters ratio_vs_* are our time
// over the peer's.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "imaging/core/ie_bitmap.h"
#include "imaging/io/io_params.h"
#include "imaging/special/video/direct_show.h"
#include "imaging/special/video/video_frames.h"
#include "imaging/special/wic/jxr_glue.h"
#include "imaging/special/wic/wic_codec.h"
#include "platform/rtl/streams.h"

namespace {

using Clock = std::chrono::steady_clock;
double Since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

constexpr int kW = 6000, kH = 4000;

TIEBitmap& Picture() {
  static TIEBitmap& b = *[] {
    auto* p = new TIEBitmap(kW, kH, ie24RGB);  // lives for the run
    for (int y = 0; y < kH; ++y) {
      uint8_t* row = p->ScanLine(y);
      for (int x = 0; x < kW; ++x) {
        row[3 * x] = uint8_t(x / 24 + y / 40);
        row[3 * x + 1] = uint8_t((x ^ y) / 16);
        row[3 * x + 2] = uint8_t(y / 16 + ((x * 7 + y * 3) & 7));
      }
    }
    return p;
  }();
  return b;
}

std::vector<uint8_t> Encoded() {
  static std::vector<uint8_t> file = [] {
    TMemoryStream s;
    TIOParamsVals params(nullptr);
    TProgressRecord progress;
    WriteHDPhotoStream(s, Picture(), params, progress);
    std::vector<uint8_t> b(size_t(s.Size()));
    s.SetPosition(0);
    s.ReadBuffer(b.data(), int64_t(b.size()));
    return b;
  }();
  return file;
}

void BM_HDPhotoDecode24MP(benchmark::State& state) {
  const std::vector<uint8_t> file = Encoded();
  double ours = 0, peer = 0;
  int64_t n = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    {
      TCustomMemoryStream s(file.data(), int64_t(file.size()));
      TIEBitmap b;
      TIOParamsVals params(nullptr);
      TProgressRecord progress;
      ReadHDPhotoStream(s, &b, params, false, progress);
      if (b.Width() != kW) state.SkipWithError("the file did not read");
    }
    ours += Since(t0);
    t0 = Clock::now();
    {
      jxr::TJxrDecoder d;
      const char* why = nullptr;
      std::vector<uint8_t> rows(size_t(kW) * 3 * kH);
      if (!d.Open(file.data(), file.size(), why) || !d.CopyNative(rows.data(), size_t(kW) * 3, why))
        state.SkipWithError("the peer did not read");
    }
    peer += Since(t0);
    ++n;
  }
  state.counters["ours_ms"] = 1000 * ours / double(n);
  state.counters["jxrglue_ms"] = 1000 * peer / double(n);
  state.counters["ratio_vs_jxrglue"] = ours / peer;
}

void BM_HDPhotoEncode24MP(benchmark::State& state) {
  TIEBitmap& b = Picture();
  double ours = 0, peer = 0;
  int64_t n = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    {
      TMemoryStream s;
      TIOParamsVals params(nullptr);
      TProgressRecord progress;
      WriteHDPhotoStream(s, b, params, progress);
      if (s.Size() == 0) state.SkipWithError("nothing was written");
    }
    ours += Since(t0);
    t0 = Clock::now();
    {
      std::vector<uint8_t> rows(size_t(kW) * 3 * kH);
      for (int y = 0; y < kH; ++y) std::memcpy(&rows[size_t(y) * kW * 3], b.ScanLine(y), size_t(kW) * 3);
      jxr::TJxrEncodeOptions o;
      o.QuantIndex = 10;
      std::vector<uint8_t> out;
      const char* why = nullptr;
      jxr::EncodeJxr(jxr::jpBGR24, kW, kH, 96, 96, rows.data(), size_t(kW) * 3, o, out, why);
    }
    peer += Since(t0);
    ++n;
  }
  state.counters["ours_ms"] = 1000 * ours / double(n);
  state.counters["jxrglue_ms"] = 1000 * peer / double(n);
  state.counters["ratio_vs_jxrglue"] = ours / peer;
}

std::string Clip() {
  static const std::string path = [] {
    const auto dir = std::filesystem::temp_directory_path() / ("qv_bench_graph_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string p = (dir / "clip.avi").string();
    std::system(("ffmpeg -v error -y -f lavfi -i testsrc=size=640x480:rate=30 -frames:v 300 -c:v mpeg4 -q:v 4 '" + p +
                 "'").c_str());
    return p;
  }();
  return path;
}

// A clock that never makes the graph wait: frames follow as fast as they
// decode.
class NoWaitClock : public TIEGraphClock {
public:
  uint32_t Now() override { return FNow += 1000; }
  void Wait(std::condition_variable&, std::unique_lock<std::mutex>&, uint32_t) override {}
  std::atomic<uint32_t> FNow{0};
};

void BM_GraphGrabs300Frames(benchmark::State& state) {
  NoWaitClock clock;
  SetIEGraphClock(&clock);
  Clip();  // made before the clock runs
  double ours = 0, peer = 0;
  int64_t n = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    {
      TIEDirectShow ds;
      ds.SourceFile = Clip();
      ds.SampleGrabber = true;
      ds.BuildGraph();
      ds.RunGraph();
      while (!ds.EndOfStream.load()) std::this_thread::sleep_for(std::chrono::microseconds(200));
      TIEBitmap b;
      ds.GrabFrame(b, false);
    }
    ours += Since(t0);
    t0 = Clock::now();
    {
      std::string why;
      auto reader = OpenVideoFrameReader(Clip(), why);
      TIEBitmap b;
      for (int64_t k = 0; reader && k < reader->Info().FrameCount; ++k) reader->ReadFrame(k, b, why);
    }
    peer += Since(t0);
    ++n;
  }
  SetIEGraphClock(nullptr);
  state.counters["ours_ms"] = 1000 * ours / double(n);
  state.counters["reader_ms"] = 1000 * peer / double(n);
  state.counters["ratio_vs_reader"] = ours / peer;
}

BENCHMARK(BM_HDPhotoDecode24MP)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_HDPhotoEncode24MP)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_GraphGrabs300Frames)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
