// The library's four preset picture frames, drawn here and written as PNG with
// a background colour (bKGD) and a physical size (pHYs):
//   0 a white card with a soft shadow and a light panel   162 x 159 RGBA
//   1 a blue film strip with white perforations          112 x 100 RGB
//   2 a spiral-bound notepad page                        163 x 108 palette + tRNS
//   3 a bluish metal frame, black inside                 150 x 150 palette
// Each opening (where a picture goes) shows the panel, not the frame.
// Usage: presetgen outdir  -> outdir/preset0.png .. preset3.png
#include <png.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "drawkit.h"

using namespace drawkit;

namespace {

enum Kind { kRgba, kRgb, kPaletteAlpha, kPalette };

struct Opening {
  int l, t, r, b;
};

bool Write(const std::string& file, const Image& img, Kind kind, uint32_t background) {
  std::vector<uint8_t> rgba = img.Rgba8();
  const int w = img.W, h = img.H;
  FILE* f = std::fopen(file.c_str(), "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_set_compression_level(png, 9);
  std::vector<std::vector<uint8_t>> rows(static_cast<size_t>(h));
  png_color_16 bkgd{};
  const uint8_t br = uint8_t(background >> 16), bg = uint8_t(background >> 8), bb = uint8_t(background);
  if (kind == kRgba || kind == kRgb) {
    const int channels = kind == kRgba ? 4 : 3;
    png_set_IHDR(png, info, w, h, 8, kind == kRgba ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < channels; ++c) rows[size_t(y)].push_back(rgba[(size_t(y) * w + x) * 4 + size_t(c)]);
    bkgd.red = br, bkgd.green = bg, bkgd.blue = bb;
  } else {
    // Colours to a palette: the transparent pixels share entry 0, the others
    // are rounded until they fit in the rest.
    std::vector<png_color> palette;
    std::vector<uint8_t> alpha;
    std::map<uint32_t, uint8_t> index;
    const bool transparent = kind == kPaletteAlpha;
    if (transparent) palette.push_back(png_color{255, 255, 255}), alpha.push_back(0);
    for (int shift = 0; shift <= 5; ++shift) {
      palette.resize(transparent ? 1 : 0);
      index.clear();
      bool fits = true;
      for (size_t i = 0; i < size_t(w) * h && fits; ++i) {
        if (transparent && rgba[i * 4 + 3] < 128) continue;
        const uint32_t key = (uint32_t(rgba[i * 4] >> shift) << 16) | (uint32_t(rgba[i * 4 + 1] >> shift) << 8) |
                             uint32_t(rgba[i * 4 + 2] >> shift);
        if (index.count(key)) continue;
        if (palette.size() >= 255) fits = false;
        index[key] = uint8_t(palette.size());
        const int half = shift ? 1 << (shift - 1) : 0;
        palette.push_back(png_color{uint8_t(((key >> 16) << shift) + half), uint8_t((((key >> 8) & 0xFF) << shift) + half),
                                    uint8_t(((key & 0xFF) << shift) + half)});
      }
      if (!fits) continue;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const size_t i = size_t(y) * w + x;
          if (transparent && rgba[i * 4 + 3] < 128) {
            rows[size_t(y)].push_back(0);
            continue;
          }
          const uint32_t key = (uint32_t(rgba[i * 4] >> shift) << 16) |
                               (uint32_t(rgba[i * 4 + 1] >> shift) << 8) | uint32_t(rgba[i * 4 + 2] >> shift);
          rows[size_t(y)].push_back(index[key]);
        }
      break;
    }
    // The background colour is an entry of its own, the last.
    palette.push_back(png_color{br, bg, bb});
    png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_PLTE(png, info, palette.data(), int(palette.size()));
    if (transparent) png_set_tRNS(png, info, alpha.data(), int(alpha.size()), nullptr);
    bkgd.index = uint8_t(palette.size() - 1);
  }
  png_set_bKGD(png, info, &bkgd);
  png_set_pHYs(png, info, 2835, 2835, PNG_RESOLUTION_METER);  // 72 dpi
  png_write_info(png, info);
  for (auto& row : rows) png_write_row(png, row.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return std::fclose(f) == 0;
}

Image Card() {
  Image img(162, 159);
  const Opening o{18, 29, 140, 119};
  img.Fill(Offset(RoundRect(8, 10, 158, 155, 6), 3), Hex(0x000000, 0.12));
  img.Fill(RoundRect(6, 7, 154, 151, 5), Hex(0x000000, 0.18));
  img.Fill(RoundRect(3, 3, 150, 147, 4), Linear({0, 0}, Hex(0xFFFFFF), {0, 147}, Hex(0xF1F1EE)));
  img.Fill(RoundRect(o.l - 2, o.t - 2, o.r + 2, o.b + 2, 1), Hex(0xD8D8D4));
  img.Fill(RoundRect(o.l, o.t, o.r, o.b, 0), Linear({0, double(o.t)}, Hex(0xDDE4EC), {0, double(o.b)}, Hex(0xD2DAE4)));
  return img;
}

Image FilmStrip() {
  Image img(112, 100);
  const Opening o{13, 1, 95, 98};
  img.Fill(RoundRect(0, 0, 112, 100, 0), Linear({0, 0}, Hex(0x1F4F9A), {112, 0}, Hex(0x163A78)));
  for (int y = 4; y < 100; y += 12) {
    img.Fill(RoundRect(3, y, 10, y + 7, 1.5), Hex(0xFFFFFF));
    img.Fill(RoundRect(101, y, 108, y + 7, 1.5), Hex(0xFFFFFF));
  }
  img.Fill(RoundRect(o.l, o.t, o.r, o.b, 0), Hex(0xDDE6F2));
  return img;
}

Image Notepad() {
  Image img(163, 108);
  const Opening o{30, 14, 147, 92};
  img.Fill(RoundRect(14, 4, 160, 105, 3), Hex(0xFFFDF0));
  for (int y = 24; y < 100; y += 10) img.Fill(RoundRect(16, y, 158, y + 1, 0), Hex(0xB8CDE6));
  img.Fill(RoundRect(26, 4, 27, 105, 0), Hex(0xE39A9A));
  for (int y = 9; y < 104; y += 9) {
    img.Fill(Circle(20, y + 0.5, 2.5), Hex(0x5A5A5A));
    img.Fill(Arc(13, y + 0.5, 7, 2, 120, 250), Hex(0x9A9AA4));
  }
  img.Fill(RoundRect(o.l, o.t, o.r, o.b, 0), Hex(0xDCE6F0));
  return img;
}

Image MetalFrame() {
  Image img(150, 150);
  const Opening o{17, 17, 131, 131};
  img.Fill(RoundRect(0, 0, 150, 150, 0), Linear({0, 0}, Hex(0xC7D3E3), {150, 150}, Hex(0x6D7F99)));
  img.Fill(Rim(RoundRect(0, 0, 150, 150, 0), 3), Hex(0xE8EEF6));
  img.Fill(RoundRect(o.l - 5, o.t - 5, o.r + 5, o.b + 5, 0), Linear({0, 0}, Hex(0x56657C), {150, 150}, Hex(0xA9B7CB)));
  img.Fill(RoundRect(o.l, o.t, o.r, o.b, 0), Hex(0x000000));
  return img;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: presetgen outdir\n");
    return 2;
  }
  const std::string dir = argv[1];
  const bool ok = Write(dir + "/preset0.png", Card(), kRgba, 0xFFFFFF) &&
                  Write(dir + "/preset1.png", FilmStrip(), kRgb, 0x1F4F9A) &&
                  Write(dir + "/preset2.png", Notepad(), kPaletteAlpha, 0xFFFDF0) &&
                  Write(dir + "/preset3.png", MetalFrame(), kPalette, 0x8A9AB2);
  if (!ok) std::fprintf(stderr, "presetgen: cannot write the frames in %s\n", dir.c_str());
  return ok ? 0 : 1;
}
