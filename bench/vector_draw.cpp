// Vector objects: 5,000 anti-aliased objects at 50 % drawn into 1920 x 1080
// beside cairo drawing the same figures, and a 5,000-object IEV load beside
// zlib inflating its object part and libpng decoding its bitmap. Each run
// times both in the same iteration and reports the ratio (aim: at most 1.5).
#include <benchmark/benchmark.h>

#include <cairo.h>
#include <png.h>
#include <zlib.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_canvas.h"
#include "imaging/extras/vector/image_lib_vect.h"
#include "imaging/formats/format_filters.h"
#include "imaging/io/file_formats.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/rtl/streams.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kW = 1920, kH = 1080, kObjects = 5000;

double Since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

struct Figure {
  int kind;  // 0 line, 1 box, 2 ellipse
  int x1, y1, x2, y2, pen;
  uint32_t colour;
};

// The figures in image pixels; drawn at 50 %.
std::vector<Figure> Figures() {
  std::vector<Figure> f;
  uint32_t s = 12345;
  auto next = [&](int n) {
    s = s * 1103515245u + 12345u;
    return int((s >> 8) % uint32_t(n));
  };
  for (int i = 0; i < kObjects; ++i) {
    const int x = next(2 * kW - 200), y = next(2 * kH - 200);
    f.push_back({i % 3, x, y, x + 20 + next(180), y + 20 + next(180), 1 + next(4), uint32_t(next(0xFFFFFF))});
  }
  return f;
}

void Start() {
  static bool done = [] {
    RegisterFormatFilters();
    InitImageIO();
    ResetGdiPlusState();
    StartGdiPlus();
    return true;
  }();
  (void)done;
}

std::unique_ptr<TImageLibVect> ViewOf(const std::vector<Figure>& figs) {
  auto v = std::make_unique<TImageLibVect>(nullptr);
  for (const Figure& g : figs) {
    TIEVObject o;
    o.Kind = g.kind == 0 ? ievkLine : g.kind == 1 ? ievkBox : ievkEllipse;
    // 50 %: the view would halve the coordinates and the pens.
    o.X1 = g.x1 / 2;
    o.Y1 = g.y1 / 2;
    o.X2 = g.x2 / 2;
    o.Y2 = g.y2 / 2;
    o.PenWidth = std::max(1, g.pen / 2);
    o.PenColor = TColor(g.colour);
    o.BrushColor = TColor(g.colour ^ 0xFFFFFF);
    o.BrushStyle = g.kind == 1 ? bsSolid : bsClear;
    v->AddObjectRec(o);
  }
  return v;
}

double CairoDraw(const std::vector<Figure>& figs, std::vector<uint8_t>& pixels) {
  const auto t0 = Clock::now();
  const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, kW);
  cairo_surface_t* surface =
      cairo_image_surface_create_for_data(pixels.data(), CAIRO_FORMAT_RGB24, kW, kH, stride);
  cairo_t* cr = cairo_create(surface);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
  for (const Figure& g : figs) {
    const double x1 = g.x1 / 2, y1 = g.y1 / 2, x2 = g.x2 / 2 + 1, y2 = g.y2 / 2 + 1;
    cairo_set_line_width(cr, std::max(1, g.pen / 2));
    auto rgb = [&](uint32_t c) {
      cairo_set_source_rgb(cr, (c & 255) / 255.0, ((c >> 8) & 255) / 255.0, ((c >> 16) & 255) / 255.0);
    };
    if (g.kind == 0) {
      cairo_move_to(cr, x1, y1);
      cairo_line_to(cr, x2 - 1, y2 - 1);
    } else if (g.kind == 1) {
      cairo_rectangle(cr, x1 + 0.5, y1 + 0.5, x2 - x1 - 1, y2 - y1 - 1);
      rgb(g.colour ^ 0xFFFFFF);
      cairo_fill_preserve(cr);
    } else {
      cairo_save(cr);
      cairo_translate(cr, (x1 + x2) / 2, (y1 + y2) / 2);
      cairo_scale(cr, (x2 - x1) / 2, (y2 - y1) / 2);
      cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
      cairo_restore(cr);
    }
    rgb(g.colour);
    cairo_stroke(cr);
  }
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  return Since(t0);
}

void BM_DrawObjectsAtHalfSize(benchmark::State& state) {
  Start();
  const std::vector<Figure> figs = Figures();
  std::unique_ptr<TImageLibVect> view = ViewOf(figs);
  TBitmap target;
  target.SetPixelFormat(pf24bit);
  target.SetSize(kW, kH);
  std::vector<uint8_t> peer(size_t(cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, kW)) * kH, 255);
  double ours = 0, theirs = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    view->DrawObjectsToBitmap(true, target, nullptr, -1, IEV_ALL_OBJECTS, true);
    ours += Since(t0);
    theirs += CairoDraw(figs, peer);
  }
  state.counters["ratio_vs_cairo"] = ours / theirs;
}
BENCHMARK(BM_DrawObjectsAtHalfSize)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// libpng decoding one PNG from memory.
void DecodePng(const uint8_t* data, size_t size) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, data, size)) return;
  image.format = PNG_FORMAT_BGRA;
  std::vector<uint8_t> out(PNG_IMAGE_SIZE(image));
  png_image_finish_read(&image, nullptr, out.data(), 0, nullptr);
  benchmark::DoNotOptimize(out.data());
}

void BM_LoadIEVOf5000Objects(benchmark::State& state) {
  Start();
  std::unique_ptr<TImageLibVect> view = ViewOf(Figures());
  auto picture = std::make_unique<TIEBitmap>(256, 256, ie24RGB);
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) picture->SetPixelRGB(x, y, TRGB{uint8_t(x), uint8_t(y), uint8_t(x ^ y)});
  TIEVObject b;
  b.Kind = ievkBitmap;
  b.X2 = 99;
  b.Y2 = 99;
  view->SetObjBitmap(view->AddObjectRec(b), picture.get());
  TMemoryStream stream;
  view->SaveObjectsToStream(stream, IEV_ALL_OBJECTS);
  const auto* bytes = static_cast<const uint8_t*>(stream.Memory());
  const size_t size = size_t(stream.Size());
  // Where the parts lie: the PNG of slot 1 and the compressed objects after it.
  size_t png = 0, end = 0;
  for (size_t i = 0; i + 8 < size; ++i)
    if (bytes[i] == 0x89 && bytes[i + 1] == 'P' && bytes[i + 2] == 'N' && bytes[i + 3] == 'G') png = i;
  for (size_t i = png; i + 8 < size; ++i)
    if (bytes[i + 4] == 'I' && bytes[i + 5] == 'E' && bytes[i + 6] == 'N' && bytes[i + 7] == 'D') {
      end = i + 12;
      break;
    }
  TImageLibVect target(nullptr);
  double ours = 0, theirs = 0;
  for (auto _ : state) {
    stream.SetPosition(0);
    auto t0 = Clock::now();
    target.LoadObjectsFromStream(stream, false);
    ours += Since(t0);
    t0 = Clock::now();
    DecodePng(bytes + png, end - png);
    std::vector<uint8_t> out(size_t(kObjects) * 400);
    uLongf outSize = uLongf(out.size());
    uncompress(out.data(), &outSize, bytes + end, uLong(size - end));
    benchmark::DoNotOptimize(out.data());
    theirs += Since(t0);
  }
  state.counters["ratio_vs_zlib_libpng"] = ours / theirs;
  state.counters["objects"] = target.ObjectsCount();
}
BENCHMARK(BM_LoadIEVOf5000Objects)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace
