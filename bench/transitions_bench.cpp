// Transition frames at 1920 x 1080: PaintStep (the frame painted and copied
// onto a 32-bit view surface) for eight types across the families, in frames
// per second, against
//   (a) the memory-copy bound of the bytes a frame moves, measured in the run
//       (the pictures read, the frame written, the frame copied to the view);
//   (b) Pillow's Image.blend (for the cross-fade) and Image.composite through
//       a mask (for the clip-copies), run through python3 in the same run.
// Aims: pixel painters at least 0.5 of the bound, every type at least 60 fps,
// the cross-fade at most 0.5 of Pillow's blend time, clip-copies at most 1.0 of
// its composite time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "imaging/extras/transitions/transition_engine.h"
#include "pillow_peer.h"
#include "platform/graphics/graphics_bitmap.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kW = 1920, kH = 1080;

double Seconds(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

std::unique_ptr<TBitmap> Picture(uint32_t seed) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(pf24bit);
  b->SetSize(kW, kH);
  for (int y = 0; y < kH; ++y) {
    auto* row = static_cast<uint8_t*>(b->ScanLine(y));
    for (int i = 0; i < kW * 3; ++i) row[i] = uint8_t((i * seed + y * 7) >> 3);
  }
  return b;
}

double CopyBandwidth() {
  static double rate = 0;
  if (rate > 0) return rate;
  const size_t size = size_t(128) << 20;
  std::vector<uint8_t> from(size, 1), to(size, 0);
  double best = 1e300;
  for (int round = 0; round < 5; ++round) {
    const auto t0 = Clock::now();
    std::memcpy(to.data(), from.data(), size);
    best = std::min(best, Seconds(t0));
    benchmark::DoNotOptimize(to.data());
  }
  return rate = 2.0 * double(size) / best;  // one copy thread, as the painters run
}

const std::map<std::string, double>& PillowTimes() {
  static std::map<std::string, double> times;
  static bool ran = false;
  if (ran) return times;
  ran = true;
  const auto dir = std::filesystem::temp_directory_path() / "qv_transitions_bench";
  std::filesystem::create_directories(dir);
  times = pillowpeer::RunTimes(dir,
                               "import time\nfrom PIL import Image\n"
                               "a = Image.new('RGB', (1920, 1080), (10, 20, 30)); b = Image.effect_noise((1920, 1080), 40).convert('RGB')\n"
                               "m = Image.linear_gradient('L').resize((1920, 1080))\n"
                               "def best(f):\n  t = 1e9\n  for i in range(5):\n    s = time.perf_counter(); f(); t = min(t, time.perf_counter() - s)\n  return t\n"
                               "print('blend', best(lambda: Image.blend(a, b, 0.5)))\n"
                               "print('composite', best(lambda: Image.composite(a, b, m)))\n");
  std::filesystem::remove_all(dir);
  return times;
}

void Frames(benchmark::State& state, TIETransitionType type, double bytesPerPixel, const char* peer) {
  static auto start = Picture(3), end = Picture(5);
  TIETransitionEffects engine(nullptr);
  engine.Prepare(start.get(), end.get(), kW, kH);
  engine.Transition = type;
  TBitmap view;
  view.SetPixelFormat(pf32bit);
  view.SetSize(kW, kH);
  engine.FirstStep = true;
  engine.CurrentStep = 0;
  engine.PaintStep(view.Canvas());
  engine.FirstStep = false;
  // Steps across the whole transition: the mean time of a frame.
  int step = 1;
  double total = 0;
  int64_t frames = 0;
  for (auto _ : state) {
    engine.CurrentStep = step;
    const auto t0 = Clock::now();
    engine.PaintStep(view.Canvas());
    total += Seconds(t0);
    ++frames;
    step = step % 1000 + 37;
  }
  const double mean = frames ? total / double(frames) : 1;
  const double fps = 1 / mean;
  state.counters["fps"] = fps;
  // Frame written and read by the copy to the view (3 + 3 + 4 bytes a pixel)
  // plus what the painter reads.
  const double bytes = double(kW) * kH * (10 + bytesPerPixel);
  state.counters["bound_fps"] = CopyBandwidth() / bytes;
  state.counters["share_of_bound"] = fps * bytes / CopyBandwidth();
  if (peer) {
    const auto& times = PillowTimes();
    const auto it = times.find(peer);
    if (it != times.end() && it->second > 0) state.counters["time_vs_pillow"] = mean / it->second;
  }
}

}  // namespace

BENCHMARK_CAPTURE(Frames, cross_fade, iettCrossDissolve, 6.0, "blend")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Frames, push_row_move, iettMoveLeftRight1, 3.0, nullptr)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Frames, soft_wipe, iettSoftWipeFromLeft, 6.0, nullptr)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Frames, random_points, iettRandomPoints, 3.0, nullptr)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Frames, wipe_copy, iettLeftRight1, 3.0, nullptr)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Frames, expand_stretch, iettExpandFromLeft, 3.0, nullptr)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Frames, circular_clip, iettCircularWipeFromCenter, 3.0, "composite")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Frames, bars_clip, iettBarsInFromLeft, 3.0, "composite")->Unit(benchmark::kMillisecond);
