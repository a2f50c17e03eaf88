// Camera raw reading against LibRaw in the same process, on the same file: a
// Casio EX-P600 file (packed 12-bit samples, identified by its size). Loading
// is compared with LibRaw's unpack; a whole decode (quick interpolation) with
// LibRaw's processing at its bilinear quality. Prints ours / LibRaw.
#include <benchmark/benchmark.h>
#include <libraw/libraw.h>

#include <atomic>
#include <cstdio>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/io/io_params.h"
#include "imaging/special/raw/raw_reader.h"
#include "imaging/special/raw/raw_state.h"
#include "least_time_reporter.h"
#include "platform/rtl/streams.h"

namespace {

const std::vector<uint8_t>& ExP600() {
  static const std::vector<uint8_t> bytes = [] {
    std::vector<uint8_t> b(9313536);
    uint64_t s = 9313536;
    for (uint8_t& v : b) {
      s = s * 6364136223846793005ull + 1442695040888963407ull;
      v = uint8_t(s >> 40);
    }
    b[0] = b[1] = 0x11;  // no container signature by chance
    return b;
  }();
  return bytes;
}

void BM_LoadOurs(benchmark::State& state) {
  const auto& b = ExP600();
  for (auto _ : state) {
    TCustomMemoryStream s(b.data(), int64_t(b.size()));
    auto st = RawIdentifyAndLoad(s, {});
    benchmark::DoNotOptimize(st.get());
  }
}

void BM_LoadLibRaw(benchmark::State& state) {
  const auto& b = ExP600();
  for (auto _ : state) {
    LibRaw raw;
    raw.open_buffer(const_cast<uint8_t*>(b.data()), b.size());
    raw.unpack();
    benchmark::DoNotOptimize(raw.imgdata.rawdata.raw_image);
  }
}

void BM_DecodeOurs(benchmark::State& state) {
  const auto& b = ExP600();
  for (auto _ : state) {
    TCustomMemoryStream s(b.data(), int64_t(b.size()));
    TIEBitmap bitmap;
    TIOParamsVals params(nullptr);
    std::atomic<bool> abort{false};
    TProgressRecord progress;
    progress.AbortFlag = &abort;
    ReadCameraRawStream(s, &bitmap, params, false, progress);
    benchmark::DoNotOptimize(bitmap.ScanLine(0));
  }
}

void BM_DecodeLibRaw(benchmark::State& state) {
  const auto& b = ExP600();
  for (auto _ : state) {
    LibRaw raw;
    raw.imgdata.params.user_qual = 0;  // bilinear
    raw.open_buffer(const_cast<uint8_t*>(b.data()), b.size());
    raw.unpack();
    raw.dcraw_process();
    int error = 0;
    libraw_processed_image_t* out = raw.dcraw_make_mem_image(&error);
    benchmark::DoNotOptimize(out);
    LibRaw::dcraw_clear_mem(out);
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::RegisterBenchmark("LoadOurs", BM_LoadOurs)->Unit(benchmark::kMillisecond)->Repetitions(3);
  benchmark::RegisterBenchmark("LoadLibRaw", BM_LoadLibRaw)->Unit(benchmark::kMillisecond)->Repetitions(3);
  benchmark::RegisterBenchmark("DecodeOurs", BM_DecodeOurs)->Unit(benchmark::kMillisecond)->Repetitions(3);
  benchmark::RegisterBenchmark("DecodeLibRaw", BM_DecodeLibRaw)->Unit(benchmark::kMillisecond)->Repetitions(3);
  benchmark::Initialize(&argc, argv);
  TLeastTimeReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nours / LibRaw time (below 1 is faster)\n");
  for (const char* op : {"Load", "Decode"}) {
    const double ours = reporter.Time(std::string(op) + "Ours"), lib = reporter.Time(std::string(op) + "LibRaw");
    if (ours > 0 && lib > 0) std::printf("  %-7s EX-P600 %.3f\n", op, ours / lib);
  }
  benchmark::Shutdown();
  return 0;
}
