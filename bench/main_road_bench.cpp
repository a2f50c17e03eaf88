// The icon maker's main road on a 24-megapixel photograph: decoding the JPEG,
// converting it to the 48, 32 and 16 pixel images, assembling the result and
// writing the .ico, against decoding the JPEG alone (libjpeg in both: the
// program's JPEG filter reads through it too). Prints road / decode.
#include <benchmark/benchmark.h>
#include <jpeglib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/icon_converter.h"
#include "app/picture_transfer.h"
#include "app/program_start.h"
#include "imaging/io/image_lib_io.h"
#include "app/result_assembly.h"
#include "photo_jpeg.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/rtl/streams.h"
#include "proc_status.h"

namespace {

constexpr int kWidth = 6000, kHeight = 4000;

const std::vector<uint8_t>& Jpeg() {
  static const std::vector<uint8_t> jpeg = benchphoto::MakeJpeg(kWidth, kHeight);
  return jpeg;
}

// Decodes into rows given by rowAt(y), as blue, green, red.
template <class RowAt>
void Decode(const std::vector<uint8_t>& jpeg, RowAt rowAt) {
  jpeg_decompress_struct d{};
  jpeg_error_mgr err{};
  d.err = jpeg_std_error(&err);
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, jpeg.data(), jpeg.size());
  jpeg_read_header(&d, TRUE);
  d.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&d);
  while (d.output_scanline < d.output_height) {
    JSAMPROW row = rowAt(int(d.output_scanline));
    jpeg_read_scanlines(&d, &row, 1);
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
}

// A decoded picture is a new picture: its pixels are allocated per decode.
void BM_DecodeJpeg(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<uint8_t> pixels(size_t(kWidth) * kHeight * 3);
    Decode(Jpeg(), [&](int y) { return pixels.data() + size_t(y) * kWidth * 3; });
    benchmark::DoNotOptimize(pixels.data());
  }
}

// The picture to the saved icon: converted, assembled with no options, written.
void ConvertAndSave(TBitmap* source) {
  TAdvancedIcon base, display, result, thumb;
  MakeIconFromBitmap(source, &base, false, clNone, itmNone, irfLanczos3, true, true);
  UpdateResultIcon(base, TResultOptions{}, display, result, thumb);
  TMemoryStream ico;
  result.SaveToStream(ico);
  benchmark::DoNotOptimize(ico.Size());
}

void MainRoadOnce() {
  TBitmap source;
  source.SetPixelFormat(pf24bit);
  source.SetSize(kWidth, kHeight);
  Decode(Jpeg(), [&](int y) { return static_cast<uint8_t*>(source.ScanLine(y)); });
  ConvertAndSave(&source);
}

void BM_MainRoad(benchmark::State& state) {
  for (auto _ : state) MainRoadOnce();
}

// The road as the window runs it: the program's JPEG filter reads into the
// view's library bitmap (kept in a framework bitmap, as the view keeps it),
// and the whole picture, no selection and no colour key, goes to the
// converter where it lies.
void WindowRoadOnce() {
  TIEBitmap view;
  view.SetLocation(ieTBitmap);
  auto io = TImageLibIO::CreateForBitmap(&view);
  TMemoryStream jpeg;
  jpeg.WriteBuffer(Jpeg().data(), int64_t(Jpeg().size()));
  jpeg.SetPosition(0);
  io->LoadJPEGStream(jpeg);
  if (io->Aborting()) std::abort();  // the road needs its picture
  TBitmap copy;
  TBitmap* source = SharedFrameworkBitmap(view);
  if (!source) {
    IEBitmapToBitmap32(view, copy);
    source = &copy;
  }
  ConvertAndSave(source);
}

void BM_WindowRoad(benchmark::State& state) {
  for (auto _ : state) WindowRoadOnce();
}

// The road once, its peak resident memory above what was resident before
// against the picture's pixel bytes (the peak is reset through clear_refs).
void PrintPeakMemory(const char* what, void (*road)()) {
  std::FILE* f = std::fopen("/proc/self/clear_refs", "w");
  if (!f) return;
  std::fputs("5", f);
  std::fclose(f);
  const long before = StatusKb("VmRSS");
  road();
  const long peak = StatusKb("VmHWM");
  if (before < 0 || peak < 0) return;
  const double pictureKb = double(kWidth) * kHeight * 3 / 1024;
  std::printf("%s peak memory / picture bytes: %.2f (goal 1.2 or less)\n", what, (peak - before) / pictureKb);
}

BENCHMARK(BM_DecodeJpeg)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MainRoad)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_WindowRoad)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  StartLibraries();
  Jpeg();  // made once, outside every timing
  PrintPeakMemory("main road", MainRoadOnce);
  PrintPeakMemory("window road", WindowRoadOnce);
  struct Reporter : benchmark::ConsoleReporter {
    double decode = 0, road = 0, window = 0;
    void ReportRuns(const std::vector<Run>& runs) override {
      for (const Run& r : runs) {
        const double t = r.GetAdjustedRealTime();
        if (r.benchmark_name().find("DecodeJpeg") != std::string::npos) decode = t;
        if (r.benchmark_name().find("MainRoad") != std::string::npos) road = t;
        if (r.benchmark_name().find("WindowRoad") != std::string::npos) window = t;
      }
      ConsoleReporter::ReportRuns(runs);
    }
  } reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (reporter.decode > 0 && reporter.road > 0)
    std::printf("main road / JPEG decode: %.2f (goal 1.5 or less)\n", reporter.road / reporter.decode);
  if (reporter.decode > 0 && reporter.window > 0)
    std::printf("window road / JPEG decode: %.2f (goal 1.5 or less)\n", reporter.window / reporter.decode);
  benchmark::Shutdown();
  return 0;
}
