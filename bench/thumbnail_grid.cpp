// The thumbnail grid over 1,000 JPEG photographs of 3000 x 2000 (made once, in
// a RAM folder): ietThumb cells of 100 x 100 in a 3,400 x 3,400 client that
// shows them all, timed from inserting the names to OnAllDisplayed. In the same
// run the peers make the same thumbnails: vipsthumbnail -s 100 into a RAM
// folder, and Pillow's draft + thumbnail((100, 100)) in a loop.
// Aims: at most 1.0 x vipsthumbnail's time and 0.5 x Pillow's; peak resident
// memory at most 100 MB above the empty grid's.
//
// BM_ScrollDrawnCells: a 1920 x 1080 grid of drawn (cached) cells scrolled a
// row at a time; aim 120 frames a second or more.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "imaging/core/ie_bitmap.h"
#include "imaging/formats/format_filters.h"
#include "imaging/io/file_formats.h"
#include "imaging/io/format_descriptor.h"
#include "imaging/views/thumb_grid.h"
#include "photo_jpeg.h"
#include "pillow_peer.h"
#include "platform/ui/forms.h"
#include "platform/ui/headless/headless_backend.h"
#include "proc_status.h"

namespace {

constexpr int kCount = 1000, kPhotoW = 3000, kPhotoH = 2000;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

const std::filesystem::path& PhotoFolder() {
  static const std::filesystem::path dir = [] {
    std::filesystem::path d = "/dev/shm/qv_thumb_grid_bench";
    std::filesystem::create_directories(d);
    // Made once: the same photograph under a thousand names.
    if (!std::filesystem::exists(d / ("p" + std::to_string(kCount - 1) + ".jpg"))) {
      const std::vector<uint8_t> jpeg = benchphoto::MakeJpeg(kPhotoW, kPhotoH);
      for (int i = 0; i < kCount; ++i)
        std::ofstream(d / ("p" + std::to_string(i) + ".jpg"), std::ios::binary)
            .write(reinterpret_cast<const char*>(jpeg.data()), std::streamsize(jpeg.size()));
    }
    return d;
  }();
  return dir;
}

std::string Photo(int i) { return (PhotoFolder() / ("p" + std::to_string(i) + ".jpg")).string(); }

void Start() {
  static bool started = [] {
    if (FormatDescriptors().empty()) InstallFormatDescriptors(FormatFilterList());
    if (FileFormatCount() == 0) InitImageIO();
    RegisterFormatFilters();
    return true;
  }();
  (void)started;
}

double VipsSeconds() {
  const std::filesystem::path out = "/dev/shm/qv_thumb_grid_bench_vips";
  std::filesystem::remove_all(out);
  std::filesystem::create_directories(out);
  const auto t0 = Clock::now();
  const std::string cmd = "cd " + PhotoFolder().string() + " && vipsthumbnail -s 100 -o " + out.string() +
                          "/%s.jpg p*.jpg >/dev/null 2>&1";
  const int rc = std::system(cmd.c_str());
  const double s = Seconds(t0);
  std::filesystem::remove_all(out);
  return rc == 0 ? s : 0;
}

double PillowSeconds() {
  const auto times = pillowpeer::RunTimes(PhotoFolder(), R"(
import glob, time
from PIL import Image
files = sorted(glob.glob(")" + PhotoFolder().string() + R"(/p*.jpg"))
t0 = time.perf_counter()
for f in files:
    im = Image.open(f)
    im.draft("RGB", (100, 100))
    im.thumbnail((100, 100))
print("pillow", time.perf_counter() - t0)
)");
  auto it = times.find("pillow");
  return it == times.end() ? 0 : it->second;
}

void BM_AllDisplayed(benchmark::State& state) {
  Start();
  for (int i = 0; i < kCount; ++i) (void)Photo(i);
  InitializeUI();
  double seconds = 0;
  long emptyKb = 0, peakKb = 0;
  {
    auto* form = new TForm(Application);
    form->SetBorderStyle(bsNone);
    form->SetClientWidth(3400);
    form->SetClientHeight(3400);
    auto* grid = new TImageLibMView(form);
    grid->SetParent(form);
    grid->SetBorderStyle(bsNone);
    grid->SetBounds(0, 0, 3400, 3400);
    grid->SetGridWidth(-1);
    grid->SetStoreType(ietThumb);
    grid->SetThreadPoolSize(int(std::max(2u, std::thread::hardware_concurrency())));
    form->Show();
    headless::ProcessMessages();
    bool done = false;
    grid->OnAllDisplayed = [&](TObject*) { done = true; };
    emptyKb = StatusKb("VmRSS");
    std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from here
    for (auto _ : state) {
      const auto t0 = Clock::now();
      grid->LockPaint();
      for (int i = 0; i < kCount; ++i) {
        grid->AppendEntry();
        grid->SetImageFileName(i, Photo(i));
      }
      grid->UnlockPaint();
      while (!done) {
        grid->Invalidate();
        headless::ProcessMessages();
        if (!done) std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      seconds = Seconds(t0);
    }
    peakKb = StatusKb("VmHWM");
    delete form;
  }
  FinalizeUI();
  state.counters["seconds"] = seconds;
  state.counters["peak_mb_over_empty"] = double(peakKb - emptyKb) / 1024.0;
  if (const double vips = VipsSeconds(); vips > 0) state.counters["ratio_vs_vipsthumbnail"] = seconds / vips;
  if (const double pillow = PillowSeconds(); pillow > 0) state.counters["ratio_vs_pillow"] = seconds / pillow;
}

void BM_ScrollDrawnCells(benchmark::State& state) {
  Start();
  InitializeUI();
  {
    auto* form = new TForm(Application);
    form->SetBorderStyle(bsNone);
    form->SetClientWidth(1920);
    form->SetClientHeight(1080);
    auto* grid = new TImageLibMView(form);
    grid->SetParent(form);
    grid->SetBorderStyle(bsNone);
    grid->SetBounds(0, 0, 1920, 1080);
    grid->SetGridWidth(-1);
    grid->SetThreadPoolSize(0);
    form->Show();
    headless::ProcessMessages();
    TIEBitmap cell(100, 75, ie24RGB);
    for (int y = 0; y < 75; ++y)
      for (int x = 0; x < 100; ++x) cell.SetPixelRGB(x, y, MakeRGB(uint8_t(x * 2), uint8_t(y * 3), 90));
    grid->LockPaint();
    for (int i = 0; i < 400; ++i) {
      grid->AppendEntry();
      grid->SetImage(i, &cell);
      grid->ImageBottomText(i)->Caption = "picture " + std::to_string(i);
    }
    grid->UnlockPaint();
    headless::ProcessMessages();
    int frame = 0;
    double total = 0;
    for (auto _ : state) {
      const auto t0 = Clock::now();
      // A row down, then back: every frame moves and is painted.
      grid->SetScrollY(frame % 2 ? 104 : 208);
      headless::ProcessMessages();
      total += Seconds(t0);
      ++frame;
    }
    state.counters["fps"] = frame / std::max(total, 1e-9);
    delete form;
  }
  FinalizeUI();
}

BENCHMARK(BM_AllDisplayed)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ScrollDrawnCells)->Unit(benchmark::kMillisecond)->Iterations(60);

}  // namespace
