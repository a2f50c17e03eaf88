// Decoding and encoding speed of TGIFImage against giflib (DGifSlurp, EGifSpew
// in memory) and Pillow on the same GIFs: a 256-colour photograph, a 16-colour
// icon and a 40-frame animation. Prints ours / giflib and ours / Pillow.
#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "least_time_reporter.h"
#include "pictures/gif/gif_image.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct TGifPicture {
  std::string name;
  int width, height, bits;
  std::vector<Bytes> frames;  // indices, rows top first
  Bytes file;                 // written by giflib: what every decoder reads
};

Bytes Photo(int w, int h, uint32_t seed) {
  Bytes out(size_t(w) * h);
  uint32_t r = seed;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      r = r * 1664525u + 1013904223u;
      const double v = 128 + 80 * std::sin(x * 0.013 + y * 0.009) + 40 * std::cos((x - y) * 0.021) + (r >> 28);
      out[size_t(y) * w + x] = uint8_t(std::clamp(v, 0.0, 255.0));
    }
  return out;
}

Bytes Icon(int size) {
  Bytes out(size_t(size) * size);
  for (int y = 0; y < size; y++)
    for (int x = 0; x < size; x++) {
      const double d = std::hypot(x - size / 2.0, y - size / 2.0) / (size / 2.0);
      out[size_t(y) * size + x] = d > 1 ? 0 : uint8_t(1 + (int(d * 7) + (x / 16) + (y / 16)) % 15);
    }
  return out;
}

int WriteFn(GifFileType* gif, const GifByteType* buffer, int n) {
  auto* out = static_cast<Bytes*>(gif->UserData);
  out->insert(out->end(), buffer, buffer + n);
  return n;
}

struct TReader {
  const Bytes* bytes;
  size_t at;
};

int ReadFn(GifFileType* gif, GifByteType* buffer, int n) {
  auto* r = static_cast<TReader*>(gif->UserData);
  const size_t k = std::min<size_t>(size_t(n), r->bytes->size() - r->at);
  std::memcpy(buffer, r->bytes->data() + r->at, k);
  r->at += k;
  return int(k);
}

Bytes SpewGiflib(const TGifPicture& p) {
  Bytes out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, WriteFn, &error);
  gif->SWidth = p.width;
  gif->SHeight = p.height;
  gif->SColorResolution = 8;
  std::vector<GifColorType> colors(size_t(1) << p.bits);
  for (size_t i = 0; i < colors.size(); ++i)
    colors[i] = GifColorType{GifByteType(i), GifByteType(255 - i), GifByteType(i * 7)};
  gif->SColorMap = GifMakeMapObject(int(colors.size()), colors.data());
  for (const Bytes& f : p.frames) {
    SavedImage* s = GifMakeSavedImage(gif, nullptr);
    s->ImageDesc.Width = p.width;
    s->ImageDesc.Height = p.height;
    s->RasterBits = static_cast<GifByteType*>(malloc(f.size()));
    std::memcpy(s->RasterBits, f.data(), f.size());
  }
  EGifSpew(gif);
  return out;
}

std::vector<TGifPicture>& Pictures() {
  static std::vector<TGifPicture> pictures = [] {
    std::vector<TGifPicture> v;
    v.push_back({"photo 640x480 256 colours", 640, 480, 8, {Photo(640, 480, 1)}, {}});
    v.push_back({"icon 256x256 16 colours", 256, 256, 4, {Icon(256)}, {}});
    TGifPicture anim{"animation 40 frames 120x90", 120, 90, 8, {}, {}};
    for (int i = 0; i < 40; ++i) anim.frames.push_back(Photo(120, 90, 100 + i));
    v.push_back(anim);
    for (auto& p : v) p.file = SpewGiflib(p);
    return v;
  }();
  return pictures;
}

void BM_DecodeOurs(benchmark::State& state, size_t i) {
  const Bytes& file = Pictures()[i].file;
  for (auto _ : state) {
    TCustomMemoryStream s(file.data(), int64_t(file.size()));
    TGIFImage image;
    image.LoadFromStream(s);
    benchmark::DoNotOptimize(image.Frames()[0]->Pixels());
  }
}

void BM_DecodeGiflib(benchmark::State& state, size_t i) {
  const Bytes& file = Pictures()[i].file;
  for (auto _ : state) {
    TReader r{&file, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&r, ReadFn, &error);
    DGifSlurp(gif);
    benchmark::DoNotOptimize(gif->SavedImages[0].RasterBits);
    DGifCloseFile(gif, &error);
  }
}

void BM_EncodeOurs(benchmark::State& state, size_t i) {
  const TGifPicture& p = Pictures()[i];
  TGIFImage image;
  for (size_t c = 0; c < (size_t(1) << p.bits); ++c) image.GlobalColorMap().AppendColor(uint32_t(c * 0x010203));
  for (const Bytes& f : p.frames) {
    auto frame = std::make_unique<TGIFSubImage>(&image);
    frame->PlaceFrame(0, 0, p.width, p.height);
    std::memcpy(frame->Pixels(), f.data(), f.size());
    image.AddFrame(std::move(frame));
  }
  for (auto _ : state) {
    TMemoryStream out;
    image.SaveToStream(out);
    benchmark::DoNotOptimize(out.Memory());
  }
}

void BM_EncodeGiflib(benchmark::State& state, size_t i) {
  for (auto _ : state) benchmark::DoNotOptimize(SpewGiflib(Pictures()[i]));
}

// Pillow's best time per decode and per encode of each picture, in seconds,
// measured once by the system's python3 on the same files.
std::map<std::string, double> PillowTimes() {
  std::map<std::string, double> times;
  const auto dir = std::filesystem::temp_directory_path() / "qv_gif_bench";
  std::filesystem::create_directories(dir);
  std::string script = "import io, timeit\nfrom PIL import Image\n";
  for (size_t i = 0; i < Pictures().size(); ++i) {
    const std::string path = (dir / ("p" + std::to_string(i) + ".gif")).string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(Pictures()[i].file.data()),
                                                std::streamsize(Pictures()[i].file.size()));
    script += "data = open('" + path + "', 'rb').read()\n"
              "def dec():\n    im = Image.open(io.BytesIO(data))\n    frames = []\n"
              "    for k in range(im.n_frames):\n        im.seek(k); im.load(); frames.append(im.copy())\n"
              "    return frames\n"
              "fr = dec()\n"
              "def enc():\n    b = io.BytesIO(); fr[0].save(b, 'GIF', save_all=True, append_images=fr[1:], optimize=False)\n"
              "print('Decode', " + std::to_string(i) + ", min(timeit.repeat(dec, number=3, repeat=5)) / 3)\n"
              "print('Encode', " + std::to_string(i) + ", min(timeit.repeat(enc, number=3, repeat=5)) / 3)\n";
  }
  const std::string scriptPath = (dir / "pillow.py").string();
  std::ofstream(scriptPath) << script;
  FILE* pipe = popen(("/usr/bin/python3 " + scriptPath + " 2>/dev/null").c_str(), "r");
  if (!pipe) return times;
  char line[256];
  while (fgets(line, sizeof line, pipe)) {
    std::istringstream in(line);
    std::string op;
    size_t index = 0;
    double seconds = 0;
    if (in >> op >> index >> seconds && index < Pictures().size()) times[op + "/" + Pictures()[index].name] = seconds;
  }
  pclose(pipe);
  std::filesystem::remove_all(dir);
  return times;
}

void PrintRatios(const TLeastTimeReporter& reporter, const std::map<std::string, double>& pillow) {
  std::printf("\nours / giflib and ours / Pillow time (below 1 is faster)\n");
  for (const auto& p : Pictures())
    for (const char* op : {"Decode", "Encode"}) {
      const double ours = reporter.Time(std::string(op) + "Ours/" + p.name);
      const double lib = reporter.Time(std::string(op) + "Giflib/" + p.name);
      auto pil = pillow.find(std::string(op) + "/" + p.name);
      if (ours <= 0) continue;
      std::printf("  %-7s %-30s giflib %.3f", op, p.name.c_str(), lib > 0 ? ours / lib : 0.0);
      if (pil != pillow.end() && pil->second > 0) std::printf("  Pillow %.3f", ours / pil->second);
      std::printf("\n");
    }
}

}  // namespace

int main(int argc, char** argv) {
  for (size_t i = 0; i < Pictures().size(); i++) {
    const std::string& n = Pictures()[i].name;
    using TBench = void (*)(benchmark::State&, size_t);
    const std::pair<std::string, TBench> ops[] = {{"DecodeOurs/", BM_DecodeOurs},
                                                  {"DecodeGiflib/", BM_DecodeGiflib},
                                                  {"EncodeOurs/", BM_EncodeOurs},
                                                  {"EncodeGiflib/", BM_EncodeGiflib}};
    for (const auto& [op, fn] : ops)
      benchmark::RegisterBenchmark((op + n).c_str(), fn, i)->Unit(benchmark::kMillisecond)->Repetitions(5);
  }
  benchmark::Initialize(&argc, argv);
  const std::map<std::string, double> pillow = PillowTimes();
  TLeastTimeReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintRatios(reporter, pillow);
  benchmark::Shutdown();
  return 0;
}
