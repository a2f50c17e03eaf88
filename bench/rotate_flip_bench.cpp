// Quarter turns and flips of a 6000 x 4000 ie24RGB picture with an alpha
// channel (the icon maker's Rotate and Flip commands) beside Pillow's transpose
// of the same picture as RGBA, timed in the same run: ratio_vs_pillow is our
// least time over Pillow's (goal: 1.0 or less).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_orientation.h"

namespace {

constexpr int kW = 6000, kH = 4000;

// Pillow's least time in milliseconds for one transpose method, 0 when Pillow
// cannot be run.
double PillowMs(const std::string& method) {
  static std::map<std::string, double> cache;
  if (auto it = cache.find(method); it != cache.end()) return it->second;
  const std::string file = "/tmp/qv_rotate_flip_bench.py";
  if (FILE* f = std::fopen(file.c_str(), "w")) {
    std::fprintf(f,
                 "import os, time\nfrom PIL import Image\n"
                 "im = Image.frombytes('RGBA', (%d, %d), os.urandom(%d))\n"
                 "best = 1e9\n"
                 "for _ in range(5):\n"
                 "    t = time.perf_counter(); im.transpose(Image.Transpose.%s); best = min(best, time.perf_counter() - t)\n"
                 "print(best * 1000)\n",
                 kW, kH, kW * kH * 4, method.c_str());
    std::fclose(f);
  }
  double value = 0;
  if (FILE* p = popen(("/usr/bin/python3 " + file + " 2>/dev/null").c_str(), "r")) {
    if (std::fscanf(p, "%lf", &value) != 1) value = 0;
    pclose(p);
  }
  std::remove(file.c_str());
  return cache[method] = value;
}

TIEBitmap& Picture() {
  static TIEBitmap* b = [] {
    auto* p = new TIEBitmap(kW, kH, ie24RGB);
    uint32_t seed = 1;
    for (int y = 0; y < kH; ++y) {
      uint8_t* row = p->ScanLine(y);
      for (int i = 0; i < kW * 3; ++i) row[i] = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
      uint8_t* a = p->AlphaChannel()->ScanLine(y);
      for (int x = 0; x < kW; ++x) a[x] = uint8_t(x + y);
    }
    return p;
  }();
  return *b;
}

// Runs op on a fresh copy of the picture each time; only op is timed.
template <class Op>
void Measure(benchmark::State& state, const char* pillowMethod, Op op) {
  double best = 1e18;
  for (auto _ : state) {
    state.PauseTiming();
    TIEBitmap copy;
    copy.Assign(&Picture());
    state.ResumeTiming();
    const auto t0 = std::chrono::steady_clock::now();
    op(copy);
    best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  state.counters["ms"] = best;
  if (const double p = PillowMs(pillowMethod); p > 0) state.counters["ratio_vs_pillow"] = best / p;
}

void BM_RotateLeft(benchmark::State& s) {
  Measure(s, "ROTATE_90", [](TIEBitmap& b) { b.Rotate(false, 0, nullptr, nullptr, 0, 90); });
}
void BM_RotateRight(benchmark::State& s) {
  Measure(s, "ROTATE_270", [](TIEBitmap& b) { b.Rotate(false, 0, nullptr, nullptr, 0, -90); });
}
void BM_FlipHorizontal(benchmark::State& s) {
  Measure(s, "FLIP_LEFT_RIGHT", [](TIEBitmap& b) { FlipBitmap(b, 0); });
}
void BM_FlipVertical(benchmark::State& s) {
  Measure(s, "FLIP_TOP_BOTTOM", [](TIEBitmap& b) { FlipBitmap(b, 1); });
}

}  // namespace

BENCHMARK(BM_RotateLeft)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_RotateRight)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FlipHorizontal)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FlipVertical)->Unit(benchmark::kMillisecond)->Iterations(3);
