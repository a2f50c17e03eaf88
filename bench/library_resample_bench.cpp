// ResampleIEBitmap on a 6000 x 4000 ie24RGB picture in memory, reduced to
// 750 x 500 and 256 x 171 with rfLanczos3 and rfTriangle, beside Pillow's
// resize (LANCZOS, BILINEAR) and `vips resize` (lanczos3, linear) of the same
// picture; and TIEQuantizer with GetIndex of every pixel of a 24-
// megapixel picture beside Pillow's quantize. Peers are timed in the same run,
// best of five; vips is timed as a command on a .v file in /dev/shm, less the
// same command's time on a 64 x 64 picture. ratio_vs_pillow and ratio_vs_vips
// are our time over theirs (below 1: faster).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "imaging/core/ie_quantizer.h"
#include "imaging/core/ie_resample.h"

namespace {

const char* kPython = "/usr/bin/python3";

double RunPython(const std::string& script) {
  const std::string file = "/tmp/qv_library_resample_bench.py";
  if (FILE* f = std::fopen(file.c_str(), "w")) {
    std::fputs(script.c_str(), f);
    std::fclose(f);
  }
  double value = 0;
  if (FILE* p = popen((std::string(kPython) + " " + file + " 2>/dev/null").c_str(), "r")) {
    if (std::fscanf(p, "%lf", &value) != 1) value = 0;
    pclose(p);
  }
  std::remove(file.c_str());
  return value;
}

// The picture every program reads: scikit-image's astronaut enlarged to 6000 x
// 4000 with Pillow's bicubic filter, as raw red, green, blue in /dev/shm.
const char* kPictureFile = "/dev/shm/qv_library_resample_bench.rgb";
const char* kPicture =
    "import numpy as np\n"
    "a = np.fromfile('/dev/shm/qv_library_resample_bench.rgb', np.uint8).reshape(4000, 6000, 3)\n";

std::unique_ptr<TIEBitmap> Picture() {
  static bool made = false;
  if (!made) {
    RunPython(
        "import numpy as np, skimage.data\nfrom PIL import Image\n"
        "im = Image.fromarray(skimage.data.astronaut()).resize((6000, 4000), Image.BICUBIC)\n"
        "np.asarray(im, np.uint8).tofile('/dev/shm/qv_library_resample_bench.rgb')\nprint(1)\n");
    made = true;
    std::atexit([] { std::remove(kPictureFile); });
  }
  auto b = std::make_unique<TIEBitmap>();
  b->SetMemoryLimit(INT64_MAX / 2);
  b->Allocate(6000, 4000, ie24RGB);
  if (FILE* f = std::fopen(kPictureFile, "rb")) {
    for (int y = 0; y < 4000; ++y) {
      uint8_t* row = b->ScanLine(y);
      if (std::fread(row, 1, 18000, f) != 18000) break;
      for (int x = 0; x < 6000; ++x) std::swap(row[3 * x], row[3 * x + 2]);
    }
    std::fclose(f);
  }
  return b;
}

double PillowResizeMs(int W, int H, const char* filter) {
  static std::map<std::string, double> cache;
  const std::string key = std::to_string(W) + filter;
  if (cache.count(key)) return cache[key];
  return cache[key] = RunPython(std::string(kPicture) +
                                "import time\nfrom PIL import Image\nim = Image.fromarray(a, 'RGB')\nbest = 1e9\n"
                                "for i in range(5):\n"
                                "  t = time.perf_counter(); im.resize((" +
                                std::to_string(W) + ", " + std::to_string(H) + "), Image." + filter +
                                "); best = min(best, time.perf_counter() - t)\nprint(best * 1000)\n");
}

double VipsResizeMs(int W, int H, const char* kernel) {
  static std::map<std::string, double> cache;
  const std::string key = std::to_string(W) + kernel;
  if (cache.count(key)) return cache[key];
  const std::string script =
      std::string(kPicture) +
      "import subprocess, time, os\n"
      "def ppm(name, arr):\n"
      "    with open(name, 'wb') as f:\n"
      "        f.write(b'P6 %d %d 255\\n' % (arr.shape[1], arr.shape[0])); f.write(arr.tobytes())\n"
      "ppm('/dev/shm/qv_big.ppm', a); ppm('/dev/shm/qv_small.ppm', a[:64, :64].copy())\n"
      "subprocess.run(['vips', 'copy', '/dev/shm/qv_big.ppm', '/dev/shm/qv_big.v'], check=True)\n"
      "subprocess.run(['vips', 'copy', '/dev/shm/qv_small.ppm', '/dev/shm/qv_small.v'], check=True)\n"
      "def best(name, hs, vs):\n"
      "    b = 1e9\n"
      "    for i in range(5):\n"
      "        t = time.perf_counter()\n"
      "        subprocess.run(['vips', 'resize', name, '/dev/shm/qv_out.v', repr(hs), '--vscale', repr(vs),\n"
      "                        '--kernel', '" +
      kernel +
      "'], check=True)\n"
      "        b = min(b, time.perf_counter() - t)\n"
      "    return b\n"
      "big = best('/dev/shm/qv_big.v', " +
      std::to_string(W) + " / 6000, " + std::to_string(H) +
      " / 4000)\n"
      "small = best('/dev/shm/qv_small.v', " +
      std::to_string(W) + " / 6000, " + std::to_string(H) +
      " / 4000)\n"
      "for n in ('qv_big.ppm', 'qv_small.ppm', 'qv_big.v', 'qv_small.v', 'qv_out.v'):\n"
      "    os.remove('/dev/shm/' + n)\n"
      "print((big - small) * 1000)\n";
  return cache[key] = RunPython(script);
}

void Resize(benchmark::State& state, int W, int H, TResampleFilter filter, const char* pillow, const char* vips) {
  static std::unique_ptr<TIEBitmap> source = Picture();
  TIEBitmap destination;
  destination.SetMemoryLimit(INT64_MAX / 2);
  double best = 1e300;
  for (auto _ : state) {
    destination.Allocate(W, H, ie24RGB);
    const auto t0 = std::chrono::steady_clock::now();
    ResampleIEBitmap(source.get(), &destination, filter);
    best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    benchmark::DoNotOptimize(destination.ScanLine(0));
  }
  const double p = PillowResizeMs(W, H, pillow), v = VipsResizeMs(W, H, vips);
  state.counters["ours_ms"] = best;
  state.counters["pillow_ms"] = p;
  state.counters["vips_ms"] = v;
  if (p > 0) state.counters["ratio_vs_pillow"] = best / p;
  if (v > 0) state.counters["ratio_vs_vips"] = best / v;
}

void BM_Lanczos3To750x500(benchmark::State& s) { Resize(s, 750, 500, rfLanczos3, "LANCZOS", "lanczos3"); }
void BM_Lanczos3To256x171(benchmark::State& s) { Resize(s, 256, 171, rfLanczos3, "LANCZOS", "lanczos3"); }
void BM_TriangleTo750x500(benchmark::State& s) { Resize(s, 750, 500, rfTriangle, "BILINEAR", "linear"); }
void BM_TriangleTo256x171(benchmark::State& s) { Resize(s, 256, 171, rfTriangle, "BILINEAR", "linear"); }

// Our palette of 256 colours and the index of every pixel; the mean absolute
// error per channel of both is printed beside the times.
void BM_Quantize24Megapixels(benchmark::State& state) {
  static std::unique_ptr<TIEBitmap> source = Picture();
  std::vector<TRGB> palette(256);
  std::vector<uint8_t> indices(size_t(6000) * 4000);
  double best = 1e300;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    TIEQuantizer q(*source, 256, palette.data());
    size_t i = 0;
    for (int y = 0; y < 4000; ++y) {
      const auto* row = reinterpret_cast<const TRGB*>(source->ScanLine(y));
      for (int x = 0; x < 6000; ++x) indices[i++] = uint8_t(q.GetIndex(row[x]));
    }
    best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  double error = 0;
  size_t i = 0;
  for (int y = 0; y < 4000; ++y) {
    const auto* row = reinterpret_cast<const TRGB*>(source->ScanLine(y));
    for (int x = 0; x < 6000; ++x) {
      const TRGB c = row[x], p = palette[indices[i++]];
      error += std::abs(c.r - p.r) + std::abs(c.g - p.g) + std::abs(c.b - p.b);
    }
  }
  static double pillowMs = 0, pillowError = 0;
  if (pillowMs == 0) {
    pillowMs = RunPython(std::string(kPicture) +
                         "import time\nfrom PIL import Image\nim = Image.fromarray(a, 'RGB')\nbest = 1e9\n"
                         "for i in range(3):\n"
                         "  t = time.perf_counter(); q = im.quantize(256); best = min(best, time.perf_counter() - t)\n"
                         "print(best * 1000)\n");
    pillowError = RunPython(std::string(kPicture) +
                            "from PIL import Image\nq = np.asarray(Image.fromarray(a, 'RGB').quantize(256)"
                            ".convert('RGB'), np.int64)\nprint(np.abs(q - a).mean())\n");
  }
  state.counters["ours_ms"] = best;
  state.counters["pillow_ms"] = pillowMs;
  state.counters["ours_error"] = error / (3.0 * 6000 * 4000);
  state.counters["pillow_error"] = pillowError;
  if (pillowMs > 0) state.counters["ratio_vs_pillow"] = best / pillowMs;
}

BENCHMARK(BM_Lanczos3To750x500)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Lanczos3To256x171)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_TriangleTo750x500)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_TriangleTo256x171)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Quantize24Megapixels)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
