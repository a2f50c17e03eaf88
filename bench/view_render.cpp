// A 6000 x 4000 picture painted into a 1920 x 1080 view the way the image view
// paints a frame: (a) fitted with rfTriangle, (b) at 100 % scrolled one view
// width a frame; each also with an alpha channel over the chessboard. A frame
// renders into the back buffer and copies the back buffer to the window
// (a row copy, as a blit does it).
//
// Printed beside each: frames per second, the memory-bandwidth limit measured
// in the same run (a threaded copy of 256 MB; a frame reads its source once,
// writes the back buffer and copies it once), our share of that limit, and for
// (a) Pillow's triangle (BILINEAR) resize of the same picture to the same size,
// run through python3 (skipped when Pillow is missing).
// Aims: (b) at least 0.5 of the limit, (a) at least 0.2 and faster than Pillow.
// The chessboard under the alpha frames is the view's own.
//
// BM_View*: the same four frames painted by a TImageLibView on a headless form
// (compose the back buffer, copy it to the form's 32-bit backing), with the
// same counters; their limit counts the 4-byte window pixels.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "imaging/core/ie_render.h"
#include "imaging/views/image_view.h"
#include "platform/ui/forms.h"
#include "platform/ui/headless/headless_backend.h"

namespace {

constexpr int kWidth = 6000, kHeight = 4000, kViewW = 1920, kViewH = 1080;
constexpr int kChess = 16;
const char* kPictureFile = "/dev/shm/qv_view_render_bench.rgb";

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// Soft gradients with some detail, and an alpha channel of rings.
std::unique_ptr<TIEBitmap> Picture(bool withAlpha) {
  auto b = std::make_unique<TIEBitmap>();
  b->SetMemoryLimit(INT64_MAX / 2);
  b->Allocate(kWidth, kHeight, ie24RGB);
  for (int y = 0; y < kHeight; ++y) {
    auto* row = reinterpret_cast<TRGB*>(b->ScanLine(y));
    for (int x = 0; x < kWidth; ++x)
      row[x] = TRGB{uint8_t(x * 255 / kWidth), uint8_t(y * 255 / kHeight), uint8_t((x ^ y) & 0xFF)};
  }
  if (withAlpha) {
    TIEBitmap* a = b->AlphaChannel();
    for (int y = 0; y < kHeight; ++y) {
      uint8_t* row = a->ScanLine(y);
      for (int x = 0; x < kWidth; ++x) row[x] = uint8_t(((x - 3000) * (x - 3000) + (y - 2000) * (y - 2000)) >> 12);
    }
    b->SetFull(false);
  }
  return b;
}

// Bytes a threaded copy moves per second (read and written counted once each).
double CopyBandwidth() {
  static double rate = 0;
  if (rate > 0) return rate;
  const size_t size = size_t(256) << 20;
  std::vector<uint8_t> from(size, 1), to(size, 0);
  const unsigned n = std::max(1u, std::thread::hardware_concurrency());
  double best = 1e300;
  for (int round = 0; round < 5; ++round) {
    const auto t0 = Clock::now();
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < n; ++i)
      threads.emplace_back([&, i] {
        const size_t a = size * i / n, b = size * (i + 1) / n;
        std::memcpy(to.data() + a, from.data() + a, b - a);
      });
    for (auto& t : threads) t.join();
    best = std::min(best, Seconds(t0));
  }
  return rate = 2.0 * double(size) / best;
}

double PillowTriangleSeconds(int w, int h) {
  static double seconds = -1;
  if (seconds >= 0) return seconds;
  seconds = 0;
  if (std::system("/usr/bin/python3 -c 'import PIL, numpy' >/dev/null 2>&1") != 0) return seconds;
  auto picture = Picture(false);
  if (FILE* f = std::fopen(kPictureFile, "wb")) {
    std::vector<uint8_t> row(size_t(kWidth) * 3);
    for (int y = 0; y < kHeight; ++y) {
      const auto* p = reinterpret_cast<const TRGB*>(picture->ScanLine(y));
      for (int x = 0; x < kWidth; ++x) row[3 * x] = p[x].r, row[3 * x + 1] = p[x].g, row[3 * x + 2] = p[x].b;
      std::fwrite(row.data(), 1, row.size(), f);
    }
    std::fclose(f);
  }
  const std::string script =
      "import numpy as np, time\nfrom PIL import Image\n"
      "a = np.fromfile('" + std::string(kPictureFile) + "', np.uint8).reshape(" + std::to_string(kHeight) + ", " +
      std::to_string(kWidth) + ", 3)\nim = Image.fromarray(a, 'RGB')\nbest = 1e9\n"
      "for i in range(5):\n  t = time.perf_counter(); im.resize((" + std::to_string(w) + ", " + std::to_string(h) +
      "), Image.BILINEAR); best = min(best, time.perf_counter() - t)\nprint(best)\n";
  const std::string file = "/tmp/qv_view_render_bench.py";
  if (FILE* f = std::fopen(file.c_str(), "w")) {
    std::fputs(script.c_str(), f);
    std::fclose(f);
  }
  if (FILE* p = popen(("/usr/bin/python3 " + file + " 2>/dev/null").c_str(), "r")) {
    if (std::fscanf(p, "%lf", &seconds) != 1) seconds = 0;
    pclose(p);
  }
  std::remove(file.c_str());
  std::remove(kPictureFile);
  return seconds;
}

// The view's own chessboard: white and the scroll-bar grey (212, 208, 200).
void PaintChessboard(TIEBitmap& buffer) {
  PaintViewBackground(buffer, iebsChessboard, clWhite, clWhite, kChess, TRect{}, kViewW, kViewH);
}

void CopyToWindow(TIEBitmap& back, TIEBitmap& window) {
  for (int y = 0; y < kViewH; ++y) std::memcpy(window.ScanLine(y), back.ScanLine(y), size_t(kViewW) * 3);
}

void Frames(benchmark::State& state, bool fit, bool alpha) {
  static std::unique_ptr<TIEBitmap> opaque, transparent;
  std::unique_ptr<TIEBitmap>& source = alpha ? transparent : opaque;
  if (!source) source = Picture(alpha);
  TIEBitmap back(kViewW, kViewH, ie24RGB), window(kViewW, kViewH, ie24RGB);
  std::vector<uint8_t*> rows;
  std::vector<int32_t> xmap, ymap;
  // Fit: the zoom of the smaller ratio, centred.
  const double zoom = std::min(double(kViewW) / kWidth, double(kViewH) / kHeight);
  const int fitW = int(kWidth * zoom + 0.5), fitH = int(kHeight * zoom + 0.5);
  const int offsetX = (kViewW - fitW) / 2, offsetY = (kViewH - fitH) / 2;
  int frame = 0;
  double best = 1e300;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    if (alpha) PaintChessboard(back);
    if (fit) {
      source->RenderToTIEBitmapEx(back, &rows, nullptr, nullptr, nullptr, offsetX, offsetY, fitW, fitH, 0, 0, kWidth,
                                  kHeight, true, !alpha, 255, rfTriangle, false, iebmNormal);
    } else {
      const int x = (frame * kViewW) % (kWidth - kViewW), y = (frame * 97) % (kHeight - kViewH);
      source->RenderToTIEBitmapEx(back, &rows, nullptr, nullptr, nullptr, 0, 0, kViewW, kViewH, x, y, kViewW, kViewH,
                                  true, !alpha, 255, rfNone, true, iebmNormal);
    }
    CopyToWindow(back, window);
    best = std::min(best, Seconds(t0));
    ++frame;
    benchmark::DoNotOptimize(window.ScanLine(0));
  }
  const double backBytes = double(kViewW) * kViewH * 3;
  const double sourceBytes = fit ? double(kWidth) * kHeight * (alpha ? 4 : 3) : backBytes * (alpha ? 4.0 / 3 : 1);
  const double limitFps = CopyBandwidth() / (sourceBytes + 3 * backBytes);
  const double fps = 1 / best;
  state.counters["fps"] = fps;
  state.counters["limit_fps"] = limitFps;
  state.counters["share_of_limit"] = fps / limitFps;
  if (fit && !alpha) {
    const double pillow = PillowTriangleSeconds(fitW, fitH);
    if (pillow > 0) {
      state.counters["pillow_fps"] = 1 / pillow;
      state.counters["ratio_vs_pillow"] = fps * pillow;  // above 1: faster than Pillow
    }
  }
}

// The same frames painted by a TImageLibView on a headless form of the same
// client size: the view composes its back buffer and copies it to the form's
// 32-bit backing, as a paint message does. Fit: the picture changed (Update);
// scroll: SetViewXY one view width on.
void ViewFrames(benchmark::State& state, bool fit, bool alpha) {
  static std::unique_ptr<TIEBitmap> opaque, transparent;
  std::unique_ptr<TIEBitmap>& source = alpha ? transparent : opaque;
  if (!source) source = Picture(alpha);
  InitializeUI();
  {
    auto* form = new TForm(Application);
    form->SetBorderStyle(bsNone);
    form->SetClientWidth(kViewW);
    form->SetClientHeight(kViewH);
    auto* view = new TImageLibView(form);
    view->SetParent(form);
    view->SetBorderStyle(bsNone);
    view->SetBounds(0, 0, kViewW, kViewH);
    form->Show();
    headless::ProcessMessages();
    view->SetScrollBars(ssNone);
    view->SetBackgroundStyle(iebsChessboard);
    view->SetEnableAlphaChannel(alpha);
    view->SetZoomFilter(rfTriangle);
    view->GetIEBitmap()->Assign(source.get());
    view->Update();
    if (fit) view->Fit();
    else view->SetZoom(100);
    headless::ProcessMessages();
    int frame = 1;
    double best = 1e300;
    for (auto _ : state) {
      const auto t0 = Clock::now();
      if (fit) view->Update();
      else view->SetViewXY((frame * kViewW) % (kWidth - kViewW), (frame * 97) % (kHeight - kViewH));
      headless::ProcessMessages();
      best = std::min(best, Seconds(t0));
      ++frame;
    }
    const double backBytes = double(kViewW) * kViewH * 3, windowBytes = double(kViewW) * kViewH * 4;
    const double sourceBytes = fit ? double(kWidth) * kHeight * (alpha ? 4 : 3) : backBytes * (alpha ? 4.0 / 3 : 1);
    const double limitFps = CopyBandwidth() / (sourceBytes + 2 * backBytes + windowBytes);
    state.counters["fps"] = 1 / best;
    state.counters["limit_fps"] = limitFps;
    state.counters["share_of_limit"] = 1 / best / limitFps;
  }
  FinalizeUI();
}

void BM_FitTriangle(benchmark::State& s) { Frames(s, true, false); }
void BM_FitTriangleAlphaOnChessboard(benchmark::State& s) { Frames(s, true, true); }
void BM_Scroll100(benchmark::State& s) { Frames(s, false, false); }
void BM_Scroll100AlphaOnChessboard(benchmark::State& s) { Frames(s, false, true); }

BENCHMARK(BM_FitTriangle)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_FitTriangleAlphaOnChessboard)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_Scroll100)->Unit(benchmark::kMillisecond)->Iterations(60);
BENCHMARK(BM_Scroll100AlphaOnChessboard)->Unit(benchmark::kMillisecond)->Iterations(60);

void BM_ViewFitTriangle(benchmark::State& s) { ViewFrames(s, true, false); }
void BM_ViewFitTriangleAlphaOnChessboard(benchmark::State& s) { ViewFrames(s, true, true); }
void BM_ViewScroll100(benchmark::State& s) { ViewFrames(s, false, false); }
void BM_ViewScroll100AlphaOnChessboard(benchmark::State& s) { ViewFrames(s, false, true); }

BENCHMARK(BM_ViewFitTriangle)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_ViewFitTriangleAlphaOnChessboard)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_ViewScroll100)->Unit(benchmark::kMillisecond)->Iterations(60);
BENCHMARK(BM_ViewScroll100AlphaOnChessboard)->Unit(benchmark::kMillisecond)->Iterations(60);

}  // namespace
