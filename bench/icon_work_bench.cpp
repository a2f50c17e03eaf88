// The icon maker's everyday work beside its peers, in one run:
//  - PNG decode and encode of an icon set (256, 48, 32 and 16 pixels with
//    alpha), of a 16-pixel icon alone and of a 24-megapixel photograph, beside
//    libpng at the same row filter (Sub) and zlib level (7) and Pillow
//    (compress_level 7, its own filter choice);
//  - ICO: loading a 7-image icon (256 as PNG; 48, 32 and 16 at 32 and 8 bits)
//    and decoding every image, and building a 7-image icon from bitmaps and
//    saving it (every image as a bitmap, as Pillow's bitmap_format="bmp"), beside
//    Pillow's IcoFile and ICO writer;
//  - the icon resampler (Lanczos3, Mitchell) at 4000 x 3000 -> 192 x 144,
//    1000 x 500 -> 192 x 96, 256 -> 48, 32, 16 and 48 -> 256, on opaque and
//    soft-edged art, beside Pillow's resize (LANCZOS, BICUBIC) of the same RGBA
//    pixels;
//  - peak memory of a 24-megapixel PNG loaded from a file into a TBitmap,
//    measured in a child process (getrusage), against the picture's pixel bytes.
// Ratios are ours / peer from the least time of the repetitions (below 1: we are
// faster); Pillow is timed by the system's python3 before the benchmarks run.
#include <benchmark/benchmark.h>
#include <png.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/toolbox/bitmap_utils.h"
#include "base/toolbox/resampler.h"
#include "icons/advanced_icon.h"
#include "icons/sub_icon_render.h"
#include "least_time_reporter.h"
#include "pictures/png/png_image.h"
#include "pillow_peer.h"
#include "png_peer.h"
#include "proc_status.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/rtl/streams.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

// A picture as red, green, blue(, alpha) rows, top first.
struct TRaw {
  int width = 0, height = 0, channels = 4;
  Bytes px;
  uint8_t* At(int x, int y) { return &px[(size_t(y) * size_t(width) + size_t(x)) * size_t(channels)]; }
};

uint8_t Clamp255(double v) { return uint8_t(std::clamp(v, 0.0, 255.0)); }

// A photograph-like picture: smooth gradients with fine noise, opaque.
TRaw Photo(int w, int h, int channels) {
  TRaw r{w, h, channels, Bytes(size_t(w) * size_t(h) * size_t(channels))};
  uint32_t seed = 1;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      uint8_t* p = r.At(x, y);
      for (int c = 0; c < 3; c++) {
        seed = seed * 1664525u + 1013904223u;
        p[c] = Clamp255(128 + 90 * std::sin(x * (0.0011 + c * 0.0003) + y * 0.0007 * (c + 1)) +
                        30 * std::cos((x + y) * 0.002) + double(seed >> 29));
      }
      if (channels == 4) p[3] = 255;
    }
  return r;
}

// Icon art: flat shapes and a checker. Opaque art fills the square; soft art
// is a disc with an antialiased rim inside a glow that reaches the borders
// partly transparent (the resampler's framed path).
TRaw Art(int size, bool soft) {
  TRaw r{size, size, 4, Bytes(size_t(size) * size_t(size) * 4)};
  for (int y = 0; y < size; y++)
    for (int x = 0; x < size; x++) {
      uint8_t* p = r.At(x, y);
      const double d = std::hypot(x - size / 2.0 + 0.5, y - size / 2.0 + 0.5) / (size / 2.0);
      p[0] = uint8_t(((x * 8 / size + y * 8 / size) & 1) ? 230 : 30);
      p[1] = uint8_t(y < size / 3 ? 180 : 90);
      p[2] = uint8_t(x < size / 2 ? 200 : 40);
      p[3] = soft ? Clamp255(d < 0.8 ? 255 : std::max(40.0, (1.0 - d) * 5 * 255)) : 255;
    }
  return r;
}

// An icon image with transparency around a disc, as PNG icon images hold.
TRaw IconArt(int size) {
  TRaw r = Art(size, false);
  for (int y = 0; y < size; y++)
    for (int x = 0; x < size; x++) {
      const double d = std::hypot(x - size / 2.0 + 0.5, y - size / 2.0 + 0.5) / (size / 2.0);
      r.At(x, y)[3] = Clamp255((1.0 - d) * 8 * 255);
    }
  return r;
}

// Blue-green-red(-alpha) rows, bottom row first, as a DIB holds them.
void ToBitmap(const TRaw& raw, TBitmap& b) {
  b.SetPixelFormat(raw.channels == 4 ? pf32bit : pf24bit);
  b.SetSize(raw.width, raw.height);
  for (int y = 0; y < raw.height; y++) {
    auto* d = static_cast<uint8_t*>(b.ScanLine(y));
    const uint8_t* s = &raw.px[size_t(y) * size_t(raw.width) * size_t(raw.channels)];
    for (int x = 0; x < raw.width; x++, d += raw.channels, s += raw.channels) {
      d[0] = s[2], d[1] = s[1], d[2] = s[0];
      if (raw.channels == 4) d[3] = s[3];
    }
  }
}

fs::path WorkDir() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("qv_icon_work_bench_" + std::to_string(getpid()));
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

// ------------------------------------------------------------------ PNG

struct TPngCase {
  std::string name;
  std::vector<TRaw> pictures;
  std::vector<Bytes> files;  // written by libpng (Sub, level 7): what every decoder reads
  int repetitions = 5;
};

std::vector<TPngCase>& PngCases() {
  static std::vector<TPngCase> cases = [] {
    std::vector<TPngCase> v;
    v.push_back({"icon set 256 48 32 16", {IconArt(256), IconArt(48), IconArt(32), IconArt(16)}, {}, 5});
    v.push_back({"icon 16", {IconArt(16)}, {}, 5});
    v.push_back({"photo 6000x4000 rgb", {Photo(6000, 4000, 3)}, {}, 3});
    for (auto& c : v)
      for (const TRaw& p : c.pictures)
        c.files.push_back(pngpeer::Encode(p.width, p.height, p.channels == 4 ? 6 : 2, p.px.data(), false,
                                          PNG_FILTER_SUB, 7));
    return v;
  }();
  return cases;
}

void BM_PngDecodeOurs(benchmark::State& state, size_t i) {
  const TPngCase& c = PngCases()[i];
  for (auto _ : state)
    for (const Bytes& f : c.files) {
      TCustomMemoryStream s(f.data(), int64_t(f.size()));
      TPNGImage png;
      png.LoadFromStream(s);
      benchmark::DoNotOptimize(png.Header()->ImageBits());
    }
}

void BM_PngDecodeLibpng(benchmark::State& state, size_t i) {
  const TPngCase& c = PngCases()[i];
  for (auto _ : state)
    for (const Bytes& f : c.files) {
      Bytes pixels;  // a fresh picture per decode, as ours
      pngpeer::Decode(f, pixels);
      benchmark::DoNotOptimize(pixels.data());
    }
}

void BM_PngEncodeOurs(benchmark::State& state, size_t i) {
  const TPngCase& c = PngCases()[i];
  std::vector<std::unique_ptr<TPNGImage>> pngs;
  for (const Bytes& f : c.files) {
    TCustomMemoryStream s(f.data(), int64_t(f.size()));
    pngs.push_back(std::make_unique<TPNGImage>());
    pngs.back()->LoadFromStream(s);
    pngs.back()->SetRowFilters(kRowFilterSub);
    pngs.back()->SetDeflateLevel(7);
  }
  for (auto _ : state)
    for (auto& png : pngs) {
      TMemoryStream out;
      png->SaveToStream(out);
      benchmark::DoNotOptimize(out.Memory());
    }
}

void BM_PngEncodeLibpng(benchmark::State& state, size_t i) {
  const TPngCase& c = PngCases()[i];
  std::vector<Bytes> bgr(c.files.size());
  for (size_t k = 0; k < c.files.size(); k++) pngpeer::Decode(c.files[k], bgr[k]);
  for (auto _ : state)
    for (size_t k = 0; k < c.files.size(); k++) {
      const TRaw& p = c.pictures[k];
      Bytes out = pngpeer::Encode(p.width, p.height, p.channels == 4 ? 6 : 2, bgr[k].data(), true, PNG_FILTER_SUB, 7);
      benchmark::DoNotOptimize(out.data());
    }
}

std::string PillowPngScript() {
  std::string s = "import io, timeit\nfrom PIL import Image\n";
  for (size_t i = 0; i < PngCases().size(); i++) {
    const TPngCase& c = PngCases()[i];
    s += "files = []\n";
    for (size_t k = 0; k < c.files.size(); k++) {
      const fs::path p = WorkDir() / ("png" + std::to_string(i) + "_" + std::to_string(k) + ".png");
      pillowpeer::WriteFile(p, c.files[k].data(), c.files[k].size());
      s += "files.append(open('" + p.string() + "', 'rb').read())\n";
    }
    const std::string reps = std::to_string(c.repetitions);
    const std::string number = c.pictures[0].width > 1000 ? "1" : "20";
    s += "def dec():\n    out = []\n    for d in files:\n        im = Image.open(io.BytesIO(d)); im.load(); out.append(im)\n"
         "    return out\n"
         "ims = dec()\n"
         "def enc():\n    for im in ims:\n        b = io.BytesIO(); im.save(b, 'PNG', compress_level=7)\n"
         "print('PngDecode/" + c.name + "', min(timeit.repeat(dec, number=" + number + ", repeat=" + reps + ")) / " +
         number + ")\n"
         "print('PngEncode/" + c.name + "', min(timeit.repeat(enc, number=" + number + ", repeat=" + reps + ")) / " +
         number + ")\n";
  }
  return s;
}

// ------------------------------------------------------------------ ICO

// The seven images: 256 (stored as PNG in the file to load), then 48, 32 and
// 16 at 32 bits with alpha and at 8 bits with a palette and a mask.
struct TIcoImages {
  std::vector<TRaw> rgba;     // 256, 48, 32, 16
  std::vector<TRaw> indexed;  // 48, 32, 16: channels 1, the index
  std::vector<TRaw> masks;    // 48, 32, 16: channels 1, 1 = transparent
};

int32_t PaletteColour(int i) { return int32_t((i * 7 & 255) | ((255 - i) << 8) | ((i * 3 & 255) << 16)); }

const TIcoImages& IcoImages() {
  static const TIcoImages images = [] {
    TIcoImages m;
    for (int s : {256, 48, 32, 16}) m.rgba.push_back(IconArt(s));
    for (int s : {48, 32, 16}) {
      TRaw idx{s, s, 1, Bytes(size_t(s) * size_t(s))}, mask{s, s, 1, Bytes(size_t(s) * size_t(s))};
      for (int y = 0; y < s; y++)
        for (int x = 0; x < s; x++) {
          *idx.At(x, y) = uint8_t((x * 5 + y * 3) & 255);
          *mask.At(x, y) = std::hypot(x - s / 2.0 + 0.5, y - s / 2.0 + 0.5) > s / 2.0 ? 1 : 0;
        }
      m.indexed.push_back(idx);
      m.masks.push_back(mask);
    }
    return m;
  }();
  return images;
}

struct TIcoBitmaps {
  std::vector<std::unique_ptr<TBitmap>> colour, mask;  // mask null for 32-bit images
};

TIcoBitmaps MakeIcoBitmaps() {
  const TIcoImages& m = IcoImages();
  TIcoBitmaps b;
  for (const TRaw& r : m.rgba) {
    b.colour.push_back(std::make_unique<TBitmap>());
    ToBitmap(r, *b.colour.back());
    b.mask.push_back(nullptr);
  }
  int32_t colours[256];
  for (int i = 0; i < 256; i++) colours[i] = PaletteColour(i);
  for (size_t k = 0; k < m.indexed.size(); k++) {
    const TRaw& idx = m.indexed[k];
    auto c = std::make_unique<TBitmap>();
    c->SetPixelFormat(pf8bit);
    c->SetSize(idx.width, idx.height);
    WritePaletteColours(c.get(), colours, 256);
    auto mk = std::make_unique<TBitmap>();
    mk->SetPixelFormat(pf1bit);
    mk->SetSize(idx.width, idx.height);
    for (int y = 0; y < idx.height; y++) {
      std::memcpy(c->ScanLine(y), &idx.px[size_t(y) * size_t(idx.width)], size_t(idx.width));
      auto* row = static_cast<uint8_t*>(mk->ScanLine(y));
      std::memset(row, 0, size_t(DwordRowSize(idx.width, 1)));
      for (int x = 0; x < idx.width; x++)
        if (m.masks[k].px[size_t(y) * size_t(idx.width) + size_t(x)]) row[x >> 3] |= uint8_t(0x80 >> (x & 7));
    }
    b.colour.push_back(std::move(c));
    b.mask.push_back(std::move(mk));
  }
  return b;
}

void BuildIcon(TIcoBitmaps& b, TAdvancedIcon& icon) {
  for (size_t k = 0; k < b.colour.size(); k++) icon.Images().AddBitmap(b.colour[k].get(), b.mask[k].get(), 0);
}

// The file both sides load: the 256 image as PNG, the others as bitmaps.
const Bytes& IcoFile() {
  static const Bytes file = [] {
    TIcoBitmaps b = MakeIcoBitmaps();
    TAdvancedIcon icon;
    BuildIcon(b, icon);
    EncodePNG(*icon.Images().GetItem(0), *icon.Images().GetItem(0));
    TMemoryStream s;
    icon.SaveToStream(s);
    return Bytes(s.Memory(), s.Memory() + s.Size());
  }();
  return file;
}

void BM_IcoLoadOurs(benchmark::State& state) {
  const Bytes& file = IcoFile();
  for (auto _ : state) {
    TCustomMemoryStream s(file.data(), int64_t(file.size()));
    TAdvancedIcon icon;
    icon.LoadFromStream(s);
    for (int i = 0; i < icon.Count(); i++) {
      TSubIcon& image = *icon.Images().GetItem(i);
      // What a caller shows: the colours, and the mask where alpha does not say it.
      TBitmap raw, mask;
      const bool alpha = image.HasPNGBits() || image.Head().wBitCount == 32;
      ExtractBitmaps(image, nullptr, &raw, kNoBackground, alpha ? nullptr : &mask);
      benchmark::DoNotOptimize(raw.ScanLine(0));
    }
  }
}

void BM_IcoSaveOurs(benchmark::State& state) {
  TIcoBitmaps b = MakeIcoBitmaps();
  for (auto _ : state) {
    TAdvancedIcon icon;
    BuildIcon(b, icon);
    TMemoryStream out;
    icon.SaveToStream(out);
    benchmark::DoNotOptimize(out.Memory());
  }
}

std::string PillowIcoScript() {
  const TIcoImages& m = IcoImages();
  const fs::path ico = WorkDir() / "seven.ico";
  pillowpeer::WriteFile(ico, IcoFile().data(), IcoFile().size());
  std::string s = "import io, timeit\nfrom PIL import Image, IcoImagePlugin\n"
                  "data = open('" + ico.string() + "', 'rb').read()\n"
                  // frame() leaves a PNG image undecoded until load(): every
                  // image is decoded here, as ours are.
                  "def load():\n    f = IcoImagePlugin.IcoFile(io.BytesIO(data))\n"
                  "    ims = [f.frame(i) for i in range(len(f.entry))]\n"
                  "    for im in ims: im.load()\n"
                  "    return ims\n"
                  "assert len(load()) == 7\n"
                  "ims = []\n";
  for (size_t k = 0; k < m.rgba.size(); k++) {
    const fs::path p = WorkDir() / ("rgba" + std::to_string(k));
    pillowpeer::WriteFile(p, m.rgba[k].px.data(), m.rgba[k].px.size());
    const std::string side = std::to_string(m.rgba[k].width);
    s += "ims.append(Image.frombytes('RGBA', (" + side + ", " + side + "), open('" + p.string() + "', 'rb').read()))\n";
  }
  std::string palette = "pal = []\nfor i in range(256): pal += [i * 7 & 255, 255 - i, i * 3 & 255]\n";
  s += palette;
  for (size_t k = 0; k < m.indexed.size(); k++) {
    const fs::path p = WorkDir() / ("index" + std::to_string(k));
    pillowpeer::WriteFile(p, m.indexed[k].px.data(), m.indexed[k].px.size());
    const std::string side = std::to_string(m.indexed[k].width);
    s += "im = Image.frombytes('P', (" + side + ", " + side + "), open('" + p.string() +
         "', 'rb').read())\nim.putpalette(pal)\nims.append(im)\n";
  }
  s += "def save():\n    b = io.BytesIO()\n"
       "    ims[0].save(b, 'ICO', sizes=[(256, 256), (48, 48), (32, 32), (16, 16)], append_images=ims[1:],"
       " bitmap_format='bmp')\n    return b\n"
       "print('IcoLoad', min(timeit.repeat(load, number=20, repeat=5)) / 20)\n"
       "print('IcoSave', min(timeit.repeat(save, number=20, repeat=5)) / 20)\n";
  return s;
}

// ------------------------------------------------------------------ resampler

struct TResampleCase {
  std::string name;
  int srcW, srcH, dstW, dstH;
  bool photo, soft;
};

const std::vector<TResampleCase>& ResampleCases() {
  static const std::vector<TResampleCase> cases = {
      {"4000x3000 to 192x144 photo", 4000, 3000, 192, 144, true, false},
      {"1000x500 to 192x96 photo", 1000, 500, 192, 96, true, false},
      {"256 to 48 opaque", 256, 256, 48, 48, false, false},
      {"256 to 32 opaque", 256, 256, 32, 32, false, false},
      {"256 to 16 opaque", 256, 256, 16, 16, false, false},
      {"256 to 48 soft", 256, 256, 48, 48, false, true},
      {"256 to 32 soft", 256, 256, 32, 32, false, true},
      {"256 to 16 soft", 256, 256, 16, 16, false, true},
      {"48 to 256 opaque", 48, 48, 256, 256, false, false},
      {"48 to 256 soft", 48, 48, 256, 256, false, true},
  };
  return cases;
}

const TRaw& ResampleSource(const TResampleCase& c) {
  static std::map<std::string, TRaw> made;
  const std::string key = std::to_string(c.srcW) + "x" + std::to_string(c.srcH) + (c.soft ? "s" : "o");
  auto it = made.find(key);
  if (it == made.end()) it = made.emplace(key, c.photo ? Photo(c.srcW, c.srcH, 4) : Art(c.srcW, c.soft)).first;
  return it->second;
}

struct TFilterPair {
  const char* name;
  TIconResampleFilter ours;
  const char* pillow;
};
constexpr TFilterPair kFilters[] = {{"Lanczos3", irfLanczos3, "LANCZOS"}, {"Mitchell", irfMitchell, "BICUBIC"}};

void BM_Resample(benchmark::State& state, size_t caseIndex, size_t filterIndex) {
  const TResampleCase& c = ResampleCases()[caseIndex];
  TBitmap src;
  ToBitmap(ResampleSource(c), src);
  auto dst = NewBitmap32(c.dstW, c.dstH);
  for (auto _ : state) {
    ResampleBitmap(&src, dst.get(), kFilters[filterIndex].ours);
    benchmark::DoNotOptimize(Block32(dst.get()));
  }
}

std::string PillowResampleScript() {
  std::string s = "import timeit\nfrom PIL import Image\n";
  for (size_t i = 0; i < ResampleCases().size(); i++) {
    const TResampleCase& c = ResampleCases()[i];
    const TRaw& r = ResampleSource(c);
    const fs::path p = WorkDir() / ("resample" + std::to_string(i));
    pillowpeer::WriteFile(p, r.px.data(), r.px.size());
    s += "im = Image.frombytes('RGBA', (" + std::to_string(c.srcW) + ", " + std::to_string(c.srcH) + "), open('" +
         p.string() + "', 'rb').read())\n";
    const std::string number = c.srcW * c.srcH > 1000000 ? "1" : "20";
    for (const TFilterPair& f : kFilters)
      s += "print('Resample" + std::string(f.name) + "/" + c.name + "', min(timeit.repeat(lambda: im.resize((" +
           std::to_string(c.dstW) + ", " + std::to_string(c.dstH) + "), Image." + f.pillow + "), number=" + number +
           ", repeat=5)) / " + number + ")\n";
  }
  return s;
}

// ------------------------------------------------------------------ peak memory

const char* kPeakChildFlag = "--peak-child=";

long MaxRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// In the child: the PNG picture loaded from the file, then a TBitmap assigned
// from it, then the picture freed. Prints the resident kilobytes before, the
// peak after loading and the peak at the end.
int PeakChild(const std::string& path) {
  const long before = StatusKb("VmRSS");
  long loaded = 0;
  TBitmap bitmap;
  {
    TPNGImage png;
    png.LoadFromFile(path);
    loaded = MaxRssKb();
    bitmap.Assign(&png);
  }
  benchmark::DoNotOptimize(bitmap.ScanLine(0));
  std::printf("%ld %ld %ld\n", before, loaded, MaxRssKb());
  return 0;
}

void PrintPeakMemory(const char* self) {
  const TRaw photo = Photo(6000, 4000, 3);
  const Bytes file = pngpeer::Encode(photo.width, photo.height, 2, photo.px.data(), false, PNG_FILTER_SUB, 7);
  const fs::path path = WorkDir() / "photo.png";
  pillowpeer::WriteFile(path, file.data(), file.size());
  const std::string cmd = std::string(self) + " " + kPeakChildFlag + path.string();
  long before = 0, loaded = 0, end = 0;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    if (std::fscanf(p, "%ld %ld %ld", &before, &loaded, &end) != 3) before = loaded = end = 0;
    pclose(p);
  }
  const double pixelKb = double(photo.px.size()) / 1024;
  if (end > 0)
    std::printf("peak memory / pixel bytes, 6000x4000 RGB PNG: loaded %.2f, into a TBitmap %.2f (goal 1.2 or less)\n",
                (loaded - before) / pixelKb, (end - before) / pixelKb);
}

// ------------------------------------------------------------------ report

void PrintRatios(const TLeastTimeReporter& r, const std::map<std::string, double>& pillow) {
  auto peer = [&](const std::string& key) {
    auto it = pillow.find(key);
    return it == pillow.end() ? 0.0 : it->second;
  };
  auto ratio = [](double a, double b) { return a > 0 && b > 0 ? a / b : 0.0; };
  std::printf("\nours / peer time (below 1: we are faster)\n");
  std::printf("  %-44s %8s %8s   %s\n", "case", "libpng", "Pillow", "ours ms");
  for (const TPngCase& c : PngCases())
    for (const char* op : {"PngDecode", "PngEncode"}) {
      const double ours = r.Time(std::string(op) + "Ours/" + c.name);
      const double lib = r.Time(std::string(op) + "Libpng/" + c.name);
      std::printf("  %-44s %8.3f %8.3f   %.3f\n", (std::string(op) + " " + c.name).c_str(), ratio(ours, lib),
                  ratio(ours, peer(std::string(op) + "/" + c.name)), ours * 1e3);
    }
  for (const char* op : {"IcoLoad", "IcoSave"}) {
    const double ours = r.Time(std::string(op) + "Ours");
    std::printf("  %-44s %8s %8.3f   %.3f\n", (std::string(op) + " 7 images").c_str(), "-", ratio(ours, peer(op)),
                ours * 1e3);
  }
  for (const TFilterPair& f : kFilters)
    for (const TResampleCase& c : ResampleCases()) {
      const std::string key = std::string("Resample") + f.name + "/" + c.name;
      const double ours = r.Time(key);
      std::printf("  %-44s %8s %8.3f   %.3f\n", key.c_str(), "-", ratio(ours, peer(key)), ours * 1e3);
    }
  std::printf("goals: PNG 0.8 x libpng, ICO 0.5 x Pillow, resampler 0.5 x Pillow\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strncmp(argv[1], kPeakChildFlag, std::strlen(kPeakChildFlag)) == 0)
    return PeakChild(argv[1] + std::strlen(kPeakChildFlag));
  for (size_t i = 0; i < PngCases().size(); i++) {
    using TBench = void (*)(benchmark::State&, size_t);
    const std::pair<std::string, TBench> ops[] = {{"PngDecodeOurs/", BM_PngDecodeOurs},
                                                  {"PngDecodeLibpng/", BM_PngDecodeLibpng},
                                                  {"PngEncodeOurs/", BM_PngEncodeOurs},
                                                  {"PngEncodeLibpng/", BM_PngEncodeLibpng}};
    for (const auto& [op, fn] : ops)
      benchmark::RegisterBenchmark((op + PngCases()[i].name).c_str(), fn, i)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime()
          ->Repetitions(PngCases()[i].repetitions);
  }
  benchmark::RegisterBenchmark("IcoLoadOurs", BM_IcoLoadOurs)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5);
  benchmark::RegisterBenchmark("IcoSaveOurs", BM_IcoSaveOurs)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5);
  for (size_t f = 0; f < std::size(kFilters); f++)
    for (size_t i = 0; i < ResampleCases().size(); i++)
      benchmark::RegisterBenchmark(
          (std::string("Resample") + kFilters[f].name + "/" + ResampleCases()[i].name).c_str(), BM_Resample, i, f)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime()
          ->Repetitions(5);
  benchmark::Initialize(&argc, argv);
  PrintPeakMemory(argv[0]);
  std::map<std::string, double> pillow = pillowpeer::RunTimes(WorkDir(), PillowPngScript());
  for (auto& [k, v] : pillowpeer::RunTimes(WorkDir(), PillowIcoScript())) pillow[k] = v;
  for (auto& [k, v] : pillowpeer::RunTimes(WorkDir(), PillowResampleScript())) pillow[k] = v;
  TLeastTimeReporter reporter(true);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintRatios(reporter, pillow);
  benchmark::Shutdown();
  fs::remove_all(WorkDir());
  return 0;
}
