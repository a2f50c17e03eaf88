// Composing layers and the alpha merge beside Pillow in the same run: eight
// 1600 x 1200 layers with alpha (two turned, one masked) into a 1920 x 1080
// view at 100 %, against Pillow's alpha_composite of eight RGBA layers of the
// same size (goal: 0.5 or less); MergeWithAlpha of 4000 x 3000 against one
// alpha_composite of that size (goal: 1.0 or less). ratio_vs_pillow is our
// least time over Pillow's.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>

#include "imaging/core/ie_stretch_merge.h"
#include "imaging/views/image_view.h"
#include "platform/ui/forms.h"
#include "platform/ui/headless/headless_backend.h"

namespace {

// Pillow's least time in milliseconds for `count` alpha_composite calls of w x h.
double PillowMs(int w, int h, int count) {
  static std::map<std::string, double> cache;
  const std::string key = std::to_string(w) + "x" + std::to_string(h) + "x" + std::to_string(count);
  if (auto it = cache.find(key); it != cache.end()) return it->second;
  const std::string file = "/tmp/qv_view_layers_bench.py";
  if (FILE* f = std::fopen(file.c_str(), "w")) {
    std::fprintf(f,
                 "import os, time\nfrom PIL import Image\n"
                 "base = Image.frombytes('RGBA', (%d, %d), os.urandom(%d))\n"
                 "layer = Image.frombytes('RGBA', (%d, %d), os.urandom(%d))\n"
                 "best = 1e9\n"
                 "for _ in range(3):\n"
                 "    t = time.perf_counter()\n"
                 "    out = base\n"
                 "    for _ in range(%d): out = Image.alpha_composite(out, layer)\n"
                 "    best = min(best, time.perf_counter() - t)\n"
                 "print(best * 1000)\n",
                 w, h, w * h * 4, w, h, w * h * 4, count);
    std::fclose(f);
  }
  double value = 0;
  if (FILE* p = popen(("/usr/bin/python3 " + file + " 2>/dev/null").c_str(), "r")) {
    if (std::fscanf(p, "%lf", &value) != 1) value = 0;
    pclose(p);
  }
  std::remove(file.c_str());
  return cache[key] = value;
}

void Noise(TIEBitmap& b, int w, int h, uint32_t seed) {
  b.Allocate(w, h, ie24RGB);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = b.ScanLine(y);
    for (int i = 0; i < w * 3; ++i) row[i] = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
    uint8_t* a = b.AlphaChannel()->ScanLine(y);
    for (int x = 0; x < w; ++x) a[x] = uint8_t(x + y);
  }
  b.AlphaChannel()->SetFull(false);
}

template <class Op>
void Measure(benchmark::State& state, double pillowMs, Op op) {
  double best = 1e18;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    op();
    best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  state.counters["ms"] = best;
  if (pillowMs > 0) state.counters["ratio_vs_pillow"] = best / pillowMs;
}

void BM_ComposeEightLayers(benchmark::State& state) {
  InitializeUI();
  auto* form = new TForm(Application);
  form->SetClientWidth(1920);
  form->SetClientHeight(1080);
  auto* view = new TImageLibView(form);
  view->SetParent(form);
  view->SetBorderStyle(bsNone);
  view->SetBounds(0, 0, 1920, 1080);
  form->Show();
  headless::ProcessMessages();
  view->SetScrollBars(ssNone);
  Noise(*view->GetIEBitmap(), 1600, 1200, 1);
  for (int i = 1; i < 8; ++i) {
    view->AddLayer();
    Noise(*view->GetIEBitmap(), 1600, 1200, uint32_t(i + 1));
    view->GetLayer(i)->PosX = 40 * i;
    view->GetLayer(i)->PosY = 20 * i;
  }
  view->GetLayer(2)->SetRotate(30);
  view->GetLayer(5)->SetRotate(-15);
  view->GetLayer(6)->IsMask = true;  // masks layer 5's neighbour below it
  view->Update();
  TIEBitmap back(1920, 1080, ie24RGB);
  Measure(state, PillowMs(1600, 1200, 8), [&] { view->DrawLayers(&back, nullptr, false, true, nullptr); });
  delete form;
  FinalizeUI();
}

void BM_MergeWithAlpha(benchmark::State& state) {
  TIEBitmap dest, src;
  Noise(dest, 4000, 3000, 3);
  Noise(src, 4000, 3000, 4);
  Measure(state, PillowMs(4000, 3000, 1), [&] { MergeWithAlpha(dest, src, 0, 0); });
}

}  // namespace

BENCHMARK(BM_ComposeEightLayers)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MergeWithAlpha)->Unit(benchmark::kMillisecond)->Iterations(3);
