// The PostScript and PDF writers against their peers in the same run: a
// 4000 x 3000 photograph (DCT and run-length) and a 5100 x 6600 bilevel page
// (Group 4 and run-length), to PDF and to PostScript. Peers: Pillow's PDF save
// (JPEG) and ImageMagick's convert to PDF: and PS2: with the same coding, each
// timed as a whole command over a PPM or PBM of the same picture (so the peer's
// time includes reading that file; ours starts from the bitmap in memory).
// Counters: ours_ms, the peer's ms and ratio_vs_<peer> (below 1: faster).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "imaging/core/ie_bitmap.h"
#include "imaging/formats/pdf_filter.h"
#include "imaging/formats/ps_filter.h"
#include "imaging/io/io_params.h"
#include "imaging/io/io_types.h"
#include "platform/rtl/streams.h"

namespace {

const std::filesystem::path& Dir() {
  static const std::filesystem::path dir = [] {
    auto d = std::filesystem::temp_directory_path() / ("qv_bench_pspdf_" + std::to_string(::getpid()));
    std::filesystem::create_directories(d);
    return d;
  }();
  return dir;
}

TIEBitmap& Photo() {
  static std::unique_ptr<TIEBitmap> b = [] {
    auto p = std::make_unique<TIEBitmap>(4000, 3000, ie24RGB);
    std::ofstream ppm(Dir() / "photo.ppm", std::ios::binary);
    ppm << "P6\n4000 3000\n255\n";
    std::string row(4000 * 3, '\0');
    for (int y = 0; y < 3000; ++y) {
      uint8_t* line = p->ScanLine(y);
      for (int x = 0; x < 4000; ++x)
        for (int k = 0; k < 3; ++k) {
          const auto v = uint8_t(128 + 100 * std::sin(x * (0.002 + k * 0.001) + y * 0.003) + ((x ^ y) & 15));
          line[x * 3 + 2 - k] = v;
          row[size_t(x) * 3 + size_t(k)] = char(v);
        }
      ppm.write(row.data(), std::streamsize(row.size()));
    }
    return p;
  }();
  return *b;
}

TIEBitmap& Page() {
  static std::unique_ptr<TIEBitmap> b = [] {
    const int w = 5100, h = 6600;
    auto p = std::make_unique<TIEBitmap>(w, h, ie1g);
    std::ofstream pbm(Dir() / "page.pbm", std::ios::binary);
    pbm << "P4\n" << w << " " << h << "\n";
    const int rowBytes = (w + 7) / 8;
    std::string row(size_t(rowBytes), '\0');
    for (int y = 0; y < h; ++y) {
      uint8_t* line = p->ScanLine(y);
      for (int i = 0; i < rowBytes; ++i) {
        // Lines of "text": short black runs on white, blank gaps between lines.
        const bool inLine = (y % 60) < 30 && y > 300 && y < h - 300;
        const int x = i * 8;
        uint8_t ink = 0;
        if (inLine && x > 300 && x < w - 300) ink = uint8_t(((x / 8 + y / 3) * 2654435761u >> 27) & 0x3C);
        line[i] = uint8_t(~ink);  // ie1g: set bits are white
        row[size_t(i)] = char(ink);  // PBM: set bits are black
      }
      pbm.write(row.data(), std::streamsize(row.size()));
    }
    return p;
  }();
  return *b;
}

double CommandMilliseconds(const std::string& command) {
  static std::map<std::string, double> cache;
  if (auto it = cache.find(command); it != cache.end()) return it->second;
  double best = 0;
  for (int i = 0; i < 3; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) return cache[command] = 0;
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    best = i == 0 ? ms : std::min(best, ms);
  }
  return cache[command] = best;
}

double PillowPdfMilliseconds() {
  const std::string in = (Dir() / "photo.ppm").string(), out = (Dir() / "pillow.pdf").string();
  static const double ms = [&] {
    const std::string script = "import time,io\nfrom PIL import Image\nim=Image.open('" + in +
                               "'); im.load()\nbest=1e9\nfor i in range(3):\n t=time.perf_counter(); "
                               "im.save('" + out + "', 'PDF', quality=75); best=min(best,time.perf_counter()-t)\n"
                               "print(best*1000)\n";
    std::ofstream(Dir() / "pillow.py") << script;
    double v = 0;
    if (FILE* f = popen(("/usr/bin/python3 " + (Dir() / "pillow.py").string() + " 2>/dev/null").c_str(), "r")) {
      if (std::fscanf(f, "%lf", &v) != 1) v = 0;
      pclose(f);
    }
    return v;
  }();
  return ms;
}

enum TDoc { kPDF, kPS };

void Run(benchmark::State& state, TIEBitmap& bitmap, TDoc doc, uint8_t compression, const std::string& magickArgs,
         bool pillow) {
  TIOParamsVals params(nullptr);
  params.PdfCompression = compression;
  params.PsCompression = compression;
  double total = 0;
  int64_t n = 0;
  for (auto _ : state) {
    TMemoryStream out;
    std::atomic<bool> abort{false};
    TProgressRecord progress;
    progress.AbortFlag = &abort;
    const auto t0 = std::chrono::steady_clock::now();
    if (doc == kPDF) WritePDFStream(out, bitmap, params, progress);
    else WritePSStream(out, bitmap, params, progress);
    total += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    ++n;
    benchmark::DoNotOptimize(out.Memory());
    if (abort.load()) state.SkipWithError("the writer failed");
    state.counters["output_mb"] = double(out.Size()) / 1e6;
  }
  const double ours = total / double(n);
  state.counters["ours_ms"] = ours;
  const std::string input = (Dir() / (bitmap.PixelFormat() == ie1g ? "page.pbm" : "photo.ppm")).string();
  const double magick = CommandMilliseconds("convert " + input + " " + magickArgs + " " +
                                            (doc == kPDF ? "PDF:" : "PS2:") + (Dir() / "magick.out").string());
  state.counters["magick_ms"] = magick;
  if (magick > 0) state.counters["ratio_vs_magick"] = ours / magick;  // aim: at most 0.5
  if (pillow) {
    const double p = PillowPdfMilliseconds();
    state.counters["pillow_ms"] = p;
    if (p > 0) state.counters["ratio_vs_pillow"] = ours / p;  // aim: at most 1.0
  }
}

void BM_PhotoPdfDct(benchmark::State& s) { Run(s, Photo(), kPDF, 4, "-compress JPEG", true); }
void BM_PhotoPsDct(benchmark::State& s) { Run(s, Photo(), kPS, 3, "-compress JPEG", false); }
void BM_PhotoPdfRunLength(benchmark::State& s) { Run(s, Photo(), kPDF, 0, "-compress RLE", false); }
void BM_PhotoPsRunLength(benchmark::State& s) { Run(s, Photo(), kPS, 0, "-compress RLE", false); }
void BM_PagePdfG4(benchmark::State& s) { Run(s, Page(), kPDF, 2, "-compress Group4", false); }
void BM_PagePsG4(benchmark::State& s) { Run(s, Page(), kPS, 1, "-compress Group4", false); }
void BM_PagePdfRunLength(benchmark::State& s) { Run(s, Page(), kPDF, 1, "-compress RLE", false); }
void BM_PagePsRunLength(benchmark::State& s) { Run(s, Page(), kPS, 0, "-compress RLE", false); }

BENCHMARK(BM_PhotoPdfDct)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PhotoPsDct)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PhotoPdfRunLength)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PhotoPsRunLength)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PagePdfG4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PagePsG4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PagePdfRunLength)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PagePsRunLength)->Unit(benchmark::kMillisecond);

}  // namespace
