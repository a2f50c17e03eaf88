// The library's JPEG and PNG filters against libjpeg-turbo and libpng on the
// same generated pictures in the same run:
// - a 6000 x 4000 baseline JPEG loaded by ReadJpegStream and decoded by
//   libjpeg-turbo into a buffer as djpeg does (accurate integer DCT), at full
//   size and at 1/8;
// - a PNG loaded by ReadPNGStream and by libpng with the same transformations
//   (blue, green, red rows), and saved by WritePNGStream and by libpng at the
//   same zlib level and row filter;
// - the peak memory of loading a 24-megapixel baseline JPEG and a
//   non-interlaced PNG from a file, measured with getrusage in a child process
//   that does nothing else, against the picture's pixel bytes.
// Prints ours / peer for each pair.
#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <png.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_streams.h"
#include "imaging/formats/jpeg_filter.h"
#include "imaging/formats/png_filter.h"
#include "imaging/io/io_params.h"
#include "imaging/io/io_types.h"
#include "least_time_reporter.h"
#include "png_peer.h"
#include "photo_jpeg.h"
#include "platform/rtl/streams.h"

extern char** environ;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kJpegWidth = 6000, kJpegHeight = 4000;
constexpr int kPngWidth = 2400, kPngHeight = 1600;
constexpr int kPngLevel = 6;
constexpr int kPngFilter = PNG_FILTER_SUB;  // PngFilter 1

using benchphoto::MakeJpeg;
using benchphoto::PhotoRow;

// ---- libpng as the peer, reading from and writing to memory ----

// Rows of blue, green, red; rowAt(y) gives row y. The strategy is libpng's own
// for filtered rows, as when a program leaves it unset.
template <class RowAt>
Bytes PeerPngWrite(int width, int height, RowAt rowAt) {
  return pngpeer::EncodeRows(width, height, PNG_COLOR_TYPE_RGB, rowAt, true, kPngFilter, kPngLevel, Z_FILTERED);
}

struct TPictures {
  Bytes jpeg;
  Bytes png;
  std::unique_ptr<TIEBitmap> pngBitmap;  // what the PNG holds, blue, green, red
};

const TPictures& Pictures() {
  static const TPictures pictures = [] {
    TPictures p;
    p.jpeg = MakeJpeg(kJpegWidth, kJpegHeight);
    p.pngBitmap = std::make_unique<TIEBitmap>(kPngWidth, kPngHeight, ie24RGB);
    for (int y = 0; y < kPngHeight; ++y) {
      uint8_t* row = p.pngBitmap->ScanLine(y);
      PhotoRow(row, kPngWidth, y);
    }
    p.png = PeerPngWrite(kPngWidth, kPngHeight, [&](int y) { return p.pngBitmap->ScanLine(y); });
    return p;
  }();
  return pictures;
}

// The peer's pixels: a new picture per decode, in memory fresh from the
// system as the library's large pixel blocks are (a heap block that the
// allocator hands back warm on every iteration would time something no single
// load sees).
class TFreshPixels {
public:
  explicit TFreshPixels(size_t size) : FSize(size) {
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    FData = p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
  }
  ~TFreshPixels() {
    if (FData) munmap(FData, FSize);
  }
  TFreshPixels(const TFreshPixels&) = delete;
  TFreshPixels& operator=(const TFreshPixels&) = delete;
  uint8_t* get() const { return FData; }

private:
  size_t FSize;
  uint8_t* FData;
};

// ---- JPEG ----

// djpeg's decode: accurate integer DCT, rows into a buffer, which a new
// picture allocates per decode.
void PeerJpegDecode(const Bytes& jpeg, unsigned denom) {
  jpeg_decompress_struct d{};
  jpeg_error_mgr err{};
  d.err = jpeg_std_error(&err);
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, jpeg.data(), jpeg.size());
  jpeg_read_header(&d, TRUE);
  d.dct_method = JDCT_ISLOW;
  d.scale_num = 1;
  d.scale_denom = denom;
  jpeg_start_decompress(&d);
  const size_t stride = size_t(d.output_width) * 3;
  TFreshPixels pixels(stride * d.output_height);
  while (d.output_scanline < d.output_height) {
    JSAMPROW row = pixels.get() + stride * d.output_scanline;
    jpeg_read_scanlines(&d, &row, 1);
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  benchmark::DoNotOptimize(pixels.get());
}

// A file load's call: native format off, ICC and metadata read.
int OursJpegLoad(TStream& stream, TIEBitmap& bitmap, int scale, std::atomic<bool>& abort) {
  TIOParamsVals params(nullptr);
  params.JpegScale = TIOJpegScale(scale);
  TProgressRecord progress;
  progress.AbortFlag = &abort;
  return ReadJpegStream(stream, nullptr, &bitmap, TJpegReadOptions{}, progress, params);
}

void BM_JpegLoadOurs(benchmark::State& state) {
  const Bytes& jpeg = Pictures().jpeg;
  std::atomic<bool> abort{false};
  for (auto _ : state) {
    TCustomMemoryStream s(jpeg.data(), int64_t(jpeg.size()));
    TIEBitmap bitmap;
    benchmark::DoNotOptimize(OursJpegLoad(s, bitmap, int(state.range(0)), abort));
  }
  if (abort) state.SkipWithError("the load failed");
}

void BM_JpegLoadLibjpeg(benchmark::State& state) {
  const unsigned denom = state.range(0) == 4 ? 8 : 1;
  for (auto _ : state) PeerJpegDecode(Pictures().jpeg, denom);
}

// ---- PNG ----

void BM_PngLoadOurs(benchmark::State& state) {
  const Bytes& png = Pictures().png;
  std::atomic<bool> abort{false};
  for (auto _ : state) {
    TCustomMemoryStream s(png.data(), int64_t(png.size()));
    TIEBitmap bitmap;
    TIOParamsVals params(nullptr);
    TProgressRecord progress;
    progress.AbortFlag = &abort;
    ReadPNGStream(s, bitmap, params, false, progress);
    benchmark::DoNotOptimize(bitmap.ScanLine(0));
  }
  if (abort) state.SkipWithError("the load failed");
}

void BM_PngLoadLibpng(benchmark::State& state) {
  const Bytes& png = Pictures().png;
  for (auto _ : state) {
    TPngMemorySource reader{png.data(), png.size()};
    png_structp p = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(p);
    if (setjmp(png_jmpbuf(p))) {
      png_destroy_read_struct(&p, &info, nullptr);
      state.SkipWithError("libpng failed");
      return;
    }
    SetPngMemorySource(p, reader);
    png_read_info(p, info);
    png_set_bgr(p);
    png_read_update_info(p, info);
    const png_uint_32 w = png_get_image_width(p, info), h = png_get_image_height(p, info);
    TFreshPixels pixels(size_t(w) * 3 * h);
    for (png_uint_32 y = 0; y < h; ++y) {
      png_bytep row = pixels.get() + size_t(y) * w * 3;
      png_read_rows(p, &row, nullptr, 1);
    }
    png_read_end(p, nullptr);
    png_destroy_read_struct(&p, &info, nullptr);
    benchmark::DoNotOptimize(pixels.get());
  }
}

void BM_PngSaveOurs(benchmark::State& state) {
  TIEBitmap& bitmap = *Pictures().pngBitmap;
  std::atomic<bool> abort{false};
  for (auto _ : state) {
    TMemoryStream out;
    TIOParamsVals params(nullptr);
    params.SamplesPerPixel = 3;
    params.BitsPerSample = 8;
    params.PngCompression = kPngLevel;
    params.PngFilter = 1;
    params.SetDpiX(96);
    params.SetDpiY(96);
    TProgressRecord progress;
    progress.AbortFlag = &abort;
    WritePNGStream(out, bitmap, params, nullptr, progress);
    benchmark::DoNotOptimize(out.Size());
  }
  if (abort) state.SkipWithError("the save failed");
}

void BM_PngSaveLibpng(benchmark::State& state) {
  TIEBitmap& bitmap = *Pictures().pngBitmap;
  for (auto _ : state) {
    const Bytes out = PeerPngWrite(kPngWidth, kPngHeight, [&](int y) { return bitmap.ScanLine(y); });
    benchmark::DoNotOptimize(out.size());
  }
}

// ---- peak memory, in a child process ----

// Child: loads the file with the filter and prints kilobytes of peak resident
// memory above the resident memory before the load.
// Kilobytes resident now (VmRSS of /proc/self/status).
long ResidentKb() {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long kb = -1;
  while (std::fgets(line, sizeof line, f))
    if (std::strncmp(line, "VmRSS:", 6) == 0) kb = std::atol(line + 6);
  std::fclose(f);
  return kb;
}

int ChildLoad(const char* kind, const char* path) {
  // The peak so far may stand above what is resident now (start-up work that
  // was freed): the load's peak is measured from the resident memory.
  const long before = ResidentKb();
  std::atomic<bool> abort{false};
  TProgressRecord progress;
  progress.AbortFlag = &abort;
  TIEBitmap bitmap;
  {
    TFileStream file(path, fmOpenRead);
    TIEBufferedReadStream buffered(&file, 65536, false);
    TIOParamsVals params(nullptr);
    if (std::strcmp(kind, "jpeg") == 0)
      ReadJpegStream(buffered, nullptr, &bitmap, TJpegReadOptions{}, progress, params);
    else
      ReadPNGStream(buffered, bitmap, params, false, progress);
  }
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  if (abort || bitmap.Width() != kJpegWidth || before < 0) return 2;
  std::printf("%ld\n", after.ru_maxrss - before);
  return 0;
}

bool WriteFile(const std::string& path, const Bytes& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

// Runs this program as the child and reads what it prints.
long ChildPeakKb(const char* kind, const std::string& path) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  const std::string self = "/proc/self/exe";
  char* argv[] = {const_cast<char*>(self.c_str()), const_cast<char*>("--peak-child"), const_cast<char*>(kind),
                  const_cast<char*>(path.c_str()), nullptr};
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  std::string out;
  char buf[64];
  ssize_t n;
  while (spawned == 0 && (n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, size_t(n));
  close(fds[0]);
  int status = 0;
  if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return std::atol(out.c_str());
}

// A 24-megapixel non-interlaced PNG, made row by row so the parent stays small.
Bytes Make24MpPng() {
  Bytes row(size_t(kJpegWidth) * 3);
  return PeerPngWrite(kJpegWidth, kJpegHeight, [&](int y) {
    PhotoRow(row.data(), kJpegWidth, y);
    return row.data();
  });
}

void PrintPeakMemory() {
  char dirTemplate[] = "/tmp/qv_filters_bench_XXXXXX";
  if (!mkdtemp(dirTemplate)) return;
  const std::string dir = dirTemplate, jpeg = dir + "/24mp.jpg", png = dir + "/24mp.png";
  const double pixelKb = double(kJpegWidth) * kJpegHeight * 3 / 1024;
  if (WriteFile(jpeg, Pictures().jpeg) && WriteFile(png, Make24MpPng())) {
    for (const auto& [kind, path] : {std::pair<const char*, std::string>{"jpeg", jpeg}, {"png", png}}) {
      const long kb = ChildPeakKb(kind, path);
      if (kb < 0) std::printf("%s load peak memory: the child failed\n", kind);
      else std::printf("%s load peak memory / pixel bytes: %.3f (goal 1.2 or less)\n", kind, kb / pixelKb);
    }
  }
  std::remove(jpeg.c_str());
  std::remove(png.c_str());
  rmdir(dir.c_str());
}

void PrintRatio(const TLeastTimeReporter& r, const char* what, const char* ours, const char* peer, double goal) {
  const double a = r.Time(ours), b = r.Time(peer);
  if (a > 0 && b > 0) std::printf("%s: ours / peer %.3f (goal %.2f or less)\n", what, a / b, goal);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--peak-child") == 0) return ChildLoad(argv[2], argv[3]);
  benchmark::Initialize(&argc, argv);
  Pictures();  // made once, outside every timing
  PrintPeakMemory();
  const auto reps = [](benchmark::internal::Benchmark* b) { b->Unit(benchmark::kMillisecond)->Repetitions(5); };
  reps(benchmark::RegisterBenchmark("JpegLoadOurs/1", BM_JpegLoadOurs)->Arg(1));
  reps(benchmark::RegisterBenchmark("JpegLoadLibjpeg/1", BM_JpegLoadLibjpeg)->Arg(1));
  reps(benchmark::RegisterBenchmark("JpegLoadOurs/8", BM_JpegLoadOurs)->Arg(4));
  reps(benchmark::RegisterBenchmark("JpegLoadLibjpeg/8", BM_JpegLoadLibjpeg)->Arg(4));
  reps(benchmark::RegisterBenchmark("PngLoadOurs", BM_PngLoadOurs));
  reps(benchmark::RegisterBenchmark("PngLoadLibpng", BM_PngLoadLibpng));
  reps(benchmark::RegisterBenchmark("PngSaveOurs", BM_PngSaveOurs));
  reps(benchmark::RegisterBenchmark("PngSaveLibpng", BM_PngSaveLibpng));
  TLeastTimeReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintRatio(reporter, "JPEG 6000 x 4000 load", "JpegLoadOurs/1", "JpegLoadLibjpeg/1", 1.05);
  PrintRatio(reporter, "JPEG 6000 x 4000 load at 1/8", "JpegLoadOurs/8", "JpegLoadLibjpeg/8", 1.05);
  PrintRatio(reporter, "PNG load", "PngLoadOurs", "PngLoadLibpng", 1.0);
  PrintRatio(reporter, "PNG save", "PngSaveOurs", "PngSaveLibpng", 1.0);
  benchmark::Shutdown();
  return 0;
}
