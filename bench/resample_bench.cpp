// ResampleBitmap against Pillow's resize of the same pictures with the same
// filters: a 4000 x 3000 32-bit picture reduced to 192 x 144, and 48 x 48
// enlarged to 256 x 256. The counter ratio_vs_pillow is our time over Pillow's
// (below 1: faster); Pillow is timed by the system Python in the same run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "base/toolbox/bitmap_utils.h"
#include "base/toolbox/resampler.h"

namespace {

std::unique_ptr<TBitmap> Picture(int w, int h) {
  auto b = NewBitmap32(w, h);
  uint32_t* p = Block32(b.get());
  uint32_t seed = 17;
  for (int i = 0; i < w * h; ++i) {
    seed = seed * 1664525 + 1013904223;
    p[i] = seed | 0xFF000000u;  // opaque, as most pictures the icon maker reads
  }
  return b;
}

// Milliseconds of one Pillow resize (best of five), or 0 when Pillow is missing.
double PillowMilliseconds(int w, int h, int W, int H, const char* filter) {
  static std::map<std::string, double> cache;
  const std::string key = std::to_string(w) + "x" + std::to_string(h) + ">" + std::to_string(W) + filter;
  if (auto it = cache.find(key); it != cache.end()) return it->second;
  const std::string script =
      "import time, numpy as np\nfrom PIL import Image\n"
      "a = np.random.default_rng(1).integers(0, 256, (" + std::to_string(h) + "," + std::to_string(w) +
      ",4), dtype=np.uint8)\nim = Image.fromarray(a, 'RGBA')\nbest = 1e9\n"
      "for i in range(5):\n  t = time.perf_counter(); im.resize((" + std::to_string(W) + "," + std::to_string(H) +
      "), Image." + filter + "); best = min(best, time.perf_counter() - t)\nprint(best * 1000)\n";
  std::string cmd = "/usr/bin/python3 -c \"" + script + "\" 2>/dev/null";
  double ms = 0;
  if (FILE* f = popen(cmd.c_str(), "r")) {
    if (std::fscanf(f, "%lf", &ms) != 1) ms = 0;
    pclose(f);
  }
  cache[key] = ms;
  return ms;
}

void Run(benchmark::State& state, int w, int h, int W, int H, TIconResampleFilter filter, const char* pillowFilter) {
  auto src = Picture(w, h);
  auto dst = NewBitmap32(W, H);
  double total = 0;
  int64_t n = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    ResampleBitmap(src.get(), dst.get(), filter);
    total += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    ++n;
    benchmark::DoNotOptimize(Block32(dst.get()));
  }
  const double pillow = PillowMilliseconds(w, h, W, H, pillowFilter);
  state.counters["ours_ms"] = total / static_cast<double>(n);
  state.counters["pillow_ms"] = pillow;
  if (pillow > 0) state.counters["ratio_vs_pillow"] = (total / static_cast<double>(n)) / pillow;
}

void BM_Reduce4000x3000Lanczos3(benchmark::State& s) { Run(s, 4000, 3000, 192, 144, irfLanczos3, "LANCZOS"); }
void BM_Reduce4000x3000Mitchell(benchmark::State& s) { Run(s, 4000, 3000, 192, 144, irfMitchell, "BICUBIC"); }
void BM_Enlarge48To256Lanczos3(benchmark::State& s) { Run(s, 48, 48, 256, 256, irfLanczos3, "LANCZOS"); }
void BM_Enlarge48To256Mitchell(benchmark::State& s) { Run(s, 48, 48, 256, 256, irfMitchell, "BICUBIC"); }

BENCHMARK(BM_Reduce4000x3000Lanczos3)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Reduce4000x3000Mitchell)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Enlarge48To256Lanczos3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Enlarge48To256Mitchell)->Unit(benchmark::kMillisecond);

}  // namespace
