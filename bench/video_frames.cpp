// Video frames and text export against their command-line peers, in one run:
// the 300 frames of a 1280 x 720 mpeg4 AVI through ReadAVIFrame against
// "ffmpeg -threads 1 ... -f rawvideo -pix_fmt bgr24" (goal: at most 1.2 x),
// and form 2 (Base64) of a 50 MB picture against "base64 -w 76" (goal: at most
// 1.0 x). The counters ratio_vs_ffmpeg and ratio_vs_base64 are our time over
// the peer's; the peers are timed by the clock, best of three.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_startup.h"
#include "imaging/formats/format_filters.h"
#include "imaging/special/special_formats.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"
#include "imaging/special/video/video_frames.h"

namespace {

std::filesystem::path Folder() {
  static const std::filesystem::path dir = [] {
    auto d = std::filesystem::temp_directory_path() / ("qv_bench_video_" + std::to_string(getpid()));
    std::filesystem::create_directories(d);
    return d;
  }();
  return dir;
}

void Start() {
  static bool started = [] {
    RegisterFormatFilters();
    RegisterSpecialFormats();
    RegisterVideoFrameReader();
    LibraryStaticInit();
    return true;
  }();
  (void)started;
}

// Seconds of the best of three runs of a shell command, 0 when it fails.
double CommandSeconds(const std::string& cmd) {
  double best = 0;
  for (int i = 0; i < 3; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    if (std::system(cmd.c_str()) != 0) return 0;
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (best == 0 || s < best) best = s;
  }
  return best;
}

std::string Clip() {
  static const std::string path = [] {
    const std::string p = (Folder() / "clip.avi").string();
    std::system(("ffmpeg -v error -y -f lavfi -i testsrc=size=1280x720:rate=30 -frames:v 300 -c:v mpeg4 -q:v 4 '" + p +
                 "'").c_str());
    return p;
  }();
  return path;
}

void BM_ReadAVIFrames300(benchmark::State& state) {
  Start();
  const std::wstring clip = std::filesystem::path(Clip()).wstring();
  TImageLibIO io(nullptr);
  double total = 0;
  int64_t n = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    const int count = io.OpenAVIFile(clip);
    for (int k = 0; k < count; ++k) io.ReadAVIFrame(k);
    io.CloseAVIFile();
    total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    ++n;
    if (count != 300 || io.Aborting()) state.SkipWithError("the clip did not read");
  }
  const double peer =
      CommandSeconds("ffmpeg -v error -threads 1 -i '" + Clip() + "' -f rawvideo -pix_fmt bgr24 - >/dev/null");
  state.counters["ours_ms"] = 1000 * total / double(n);
  state.counters["ffmpeg_ms"] = 1000 * peer;
  if (peer > 0) state.counters["ratio_vs_ffmpeg"] = total / double(n) / peer;
}

void BM_Base64Of50MB(benchmark::State& state) {
  Start();
  TImageLibIO io(nullptr);
  // 50 MB of BMP: a 24-bit picture of 4096 x 4267 pixels, of noise.
  TIEBitmap& b = *io.IEBitmap();
  b.Allocate(4096, 4267, ie24RGB);
  uint32_t seed = 7;
  for (int y = 0; y < b.Height(); ++y) {
    uint8_t* row = b.ScanLine(y);
    for (int x = 0; x < b.Width() * 3; ++x) row[x] = uint8_t((seed = seed * 1664525 + 1013904223) >> 24);
  }
  const std::string text = (Folder() / "pic.b64").string();
  const std::string bmp = (Folder() / "pic.bmp").string();
  io.SaveBMPFile(std::filesystem::path(bmp).wstring());
  double total = 0;
  int64_t n = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    io.SaveFileAsText(std::filesystem::path(text).wstring(), ioBMP, 2);
    total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    ++n;
  }
  const double peer = CommandSeconds("base64 -w 76 '" + bmp + "' > '" + text + ".peer'");
  state.counters["ours_ms"] = 1000 * total / double(n);
  state.counters["base64_ms"] = 1000 * peer;
  if (peer > 0) state.counters["ratio_vs_base64"] = total / double(n) / peer;
}

BENCHMARK(BM_ReadAVIFrames300)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_Base64Of50MB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
