// Decoding and encoding speed of TPNGImage against libpng on the same pictures
// (generated photographs and icons), at the same zlib level (7) and row filter
// (Sub). Prints the time of ours divided by libpng's for each picture.
#include <benchmark/benchmark.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "least_time_reporter.h"
#include "libpng_memory.h"
#include "png_peer.h"
#include "pictures/png/png_image.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct TPicture {
  std::string name;
  int width, height, colorType;  // 2 RGB or 6 RGBA
  int filters;                   // the filters libpng writes the decode input with
  Bytes rgb;                     // rows of R, G, B(, A), top first
  Bytes file;                    // the PNG both decoders read
};

// A photograph-like picture: smooth gradients with fine noise.
Bytes MakePhoto(int w, int h, int channels, uint32_t seed) {
  Bytes out(size_t(w) * h * channels);
  uint32_t r = seed;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      uint8_t* p = &out[(size_t(y) * w + x) * channels];
      for (int c = 0; c < channels; c++) {
        r = r * 1664525u + 1013904223u;
        const double v = 128 + 90 * std::sin(x * (0.011 + c * 0.003) + y * 0.007 * (c + 1)) +
                         30 * std::cos((x + y) * 0.02) + double(r >> 29);
        p[c] = uint8_t(std::clamp(v, 0.0, 255.0));
      }
      if (channels == 4) p[3] = uint8_t(std::clamp(255 - std::hypot(x - w / 2, y - h / 2) * 2, 0.0, 255.0));
    }
  return out;
}

// An icon-like picture: flat shapes with an antialiased alpha edge.
Bytes MakeIcon(int size) {
  Bytes out(size_t(size) * size * 4);
  for (int y = 0; y < size; y++)
    for (int x = 0; x < size; x++) {
      uint8_t* p = &out[(size_t(y) * size + x) * 4];
      const double d = std::hypot(x - size / 2.0, y - size / 2.0) / (size / 2.0);
      p[0] = uint8_t(x < size / 2 ? 200 : 40);
      p[1] = uint8_t(y < size / 3 ? 180 : 90);
      p[2] = uint8_t(((x / 8 + y / 8) & 1) ? 250 : 20);
      p[3] = uint8_t(std::clamp((1.0 - d) * 8 * 255, 0.0, 255.0));
    }
  return out;
}

Bytes LibpngEncode(const TPicture& p, const Bytes& pixels, bool bgr, int filters) {
  return pngpeer::Encode(p.width, p.height, p.colorType, pixels.data(), bgr, filters, 7);
}

// libpng decodes into blue-green-red rows, as our DIB holds them.
bool LibpngDecode(const Bytes& file, Bytes& pixels) { return pngpeer::Decode(file, pixels); }

std::vector<TPicture>& Pictures() {
  static std::vector<TPicture> pictures = [] {
    std::vector<TPicture> v;
    v.push_back({"photo_1600x1200_rgb", 1600, 1200, 2, PNG_FILTER_SUB, MakePhoto(1600, 1200, 3, 1), {}});
    v.push_back({"photo_1600x1200_rgb_allfilters", 1600, 1200, 2, PNG_ALL_FILTERS, MakePhoto(1600, 1200, 3, 1), {}});
    v.push_back({"photo_800x600_rgba", 800, 600, 6, PNG_FILTER_SUB, MakePhoto(800, 600, 4, 2), {}});
    v.push_back({"icon_256_rgba", 256, 256, 6, PNG_FILTER_SUB, MakeIcon(256), {}});
    v.push_back({"icon_48_rgba", 48, 48, 6, PNG_FILTER_SUB, MakeIcon(48), {}});
    for (auto& p : v) p.file = LibpngEncode(p, p.rgb, false, p.filters);
    return v;
  }();
  return pictures;
}

void BM_DecodeOurs(benchmark::State& state, size_t index) {
  const TPicture& p = Pictures()[index];
  for (auto _ : state) {
    TCustomMemoryStream stream(p.file.data(), int64_t(p.file.size()));
    TPNGImage png;
    png.LoadFromStream(stream);
    benchmark::DoNotOptimize(png.Header()->ImageBits());
  }
}

void BM_DecodeLibpng(benchmark::State& state, size_t index) {
  const TPicture& p = Pictures()[index];
  Bytes pixels;
  for (auto _ : state) {
    // A fresh buffer per picture, as our decoder allocates its DIB per load.
    pixels = Bytes();
    LibpngDecode(p.file, pixels);
    benchmark::DoNotOptimize(pixels.data());
  }
}

void BM_EncodeOurs(benchmark::State& state, size_t index) {
  const TPicture& p = Pictures()[index];
  TCustomMemoryStream in(p.file.data(), int64_t(p.file.size()));
  TPNGImage png;
  png.LoadFromStream(in);
  png.SetRowFilters(kRowFilterSub);
  png.SetDeflateLevel(7);
  for (auto _ : state) {
    TMemoryStream out;
    png.SaveToStream(out);
    benchmark::DoNotOptimize(out.Memory());
  }
}

void BM_EncodeLibpng(benchmark::State& state, size_t index) {
  const TPicture& p = Pictures()[index];
  Bytes bgr;
  LibpngDecode(p.file, bgr);
  for (auto _ : state) {
    Bytes out = LibpngEncode(p, bgr, true, PNG_FILTER_SUB);
    benchmark::DoNotOptimize(out.data());
  }
}

void PrintRatios(const TLeastTimeReporter& reporter) {
  std::printf("\nours / libpng time (below 1 is faster than libpng)\n");
  for (const auto& p : Pictures())
    for (const char* op : {"Decode", "Encode"}) {
      const double a = reporter.Time(std::string(op) + "Ours/" + p.name);
      const double b = reporter.Time(std::string(op) + "Libpng/" + p.name);
      if (a > 0 && b > 0) std::printf("  %-8s %-34s %.3f\n", op, p.name.c_str(), a / b);
    }
}

}  // namespace

int main(int argc, char** argv) {
  for (size_t i = 0; i < Pictures().size(); i++) {
    const std::string& n = Pictures()[i].name;
    using TBench = void (*)(benchmark::State&, size_t);
    const std::pair<std::string, TBench> ops[] = {{"DecodeOurs/", BM_DecodeOurs},
                                                  {"DecodeLibpng/", BM_DecodeLibpng},
                                                  {"EncodeOurs/", BM_EncodeOurs},
                                                  {"EncodeLibpng/", BM_EncodeLibpng}};
    for (const auto& [op, fn] : ops)
      benchmark::RegisterBenchmark((op + n).c_str(), fn, i)->Unit(benchmark::kMillisecond)->Repetitions(5);
  }
  benchmark::Initialize(&argc, argv);
  TLeastTimeReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintRatios(reporter);
  benchmark::Shutdown();
  return 0;
}
