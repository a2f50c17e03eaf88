#pragma once
// Icon images with known pixels, and PNG streams read and written by libpng,
// for the tests of PNG-compressed icon images. The expected pixels come from
// the fixture's own definition, never from the code under test.
#include <png.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "icon_test_util.h"
#include "icons/sub_icon_render.h"
#include "platform/graphics/graphics_bitmap.h"

namespace icontest {

// Pixels top-down, each red, green, blue, alpha.
struct Rgba {
  int w = 0, h = 0;
  std::vector<uint8_t> px;
  uint8_t* At(int x, int y) { return px.data() + (size_t(y) * size_t(w) + size_t(x)) * 4; }
  const uint8_t* At(int x, int y) const { return px.data() + (size_t(y) * size_t(w) + size_t(x)) * 4; }
};

// An icon image of w x h at a depth, with colours taken in turn from a palette
// (0xRRGGBB; entry 0 is what transparent pixels hold). masked: every fifth
// pixel transparent. softAlpha (32 bits): alpha runs over the whole range.
struct IconFixture {
  const char* name;
  int w, h, bpp;
  std::vector<uint32_t> palette;
  bool masked;
  bool softAlpha;

  bool Transparent(int x, int y) const { return masked && (x + y) % 5 == 0; }
  size_t Index(int x, int y) const {
    if (Transparent(x, y) && !softAlpha) return 0;
    return size_t(x + y * w) % palette.size();
  }
  uint8_t Alpha(int x, int y) const {
    if (softAlpha) return uint8_t((x * 37 + y * 11) % 256);
    return Transparent(x, y) ? 0 : 255;
  }

  Rgba Pixels() const {
    Rgba out;
    out.w = w;
    out.h = h;
    out.px.resize(size_t(w) * size_t(h) * 4);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint32_t c = palette[Index(x, y)];
        uint8_t* p = out.At(x, y);
        p[0] = uint8_t(c >> 16);
        p[1] = uint8_t(c >> 8);
        p[2] = uint8_t(c);
        p[3] = Alpha(x, y);
      }
    return out;
  }

  // The packed DIB an ICO file would hold.
  std::vector<uint8_t> Dib() const {
    const size_t colours = bpp <= 8 ? (size_t(1) << bpp) : 0;
    const size_t rowBytes = RowBytes(w, bpp), maskRow = RowBytes(w, 1);
    std::vector<uint8_t> d(40 + colours * 4 + rowBytes * size_t(h) + maskRow * size_t(h), 0);
    Put32(d, 0, 40);
    Put32(d, 4, uint32_t(w));
    Put32(d, 8, uint32_t(2 * h));
    Put16(d, 12, 1);
    Put16(d, 14, uint32_t(bpp));
    for (size_t i = 0; i < colours && i < palette.size(); ++i) {
      d[40 + i * 4] = uint8_t(palette[i]);
      d[41 + i * 4] = uint8_t(palette[i] >> 8);
      d[42 + i * 4] = uint8_t(palette[i] >> 16);
    }
    const size_t colourAt = 40 + colours * 4, maskAt = colourAt + rowBytes * size_t(h);
    for (int y = 0; y < h; ++y) {
      uint8_t* row = d.data() + colourAt + rowBytes * size_t(h - 1 - y);
      uint8_t* mrow = d.data() + maskAt + maskRow * size_t(h - 1 - y);
      for (int x = 0; x < w; ++x) {
        const size_t k = Index(x, y);
        const uint32_t c = palette[k];
        switch (bpp) {
          case 1: row[x / 8] |= uint8_t(k << (7 - x % 8)); break;
          case 4: row[x / 2] |= uint8_t(k << (x % 2 ? 0 : 4)); break;
          case 8: row[x] = uint8_t(k); break;
          case 16: {
            const uint32_t v = ((c >> 19) & 31) << 10 | ((c >> 11) & 31) << 5 | ((c >> 3) & 31);
            row[x * 2] = uint8_t(v);
            row[x * 2 + 1] = uint8_t(v >> 8);
            break;
          }
          default: {
            const int n = bpp / 8;
            row[x * n] = uint8_t(c);
            row[x * n + 1] = uint8_t(c >> 8);
            row[x * n + 2] = uint8_t(c >> 16);
            if (n == 4) row[x * n + 3] = Alpha(x, y);
          }
        }
        if (Alpha(x, y) == 0) mrow[x / 8] |= uint8_t(0x80 >> (x % 8));
      }
    }
    return d;
  }
};

inline std::vector<uint8_t> EncodeRgbaPng(const Rgba& img, bool withAlpha = true) {
  png_image p{};
  p.version = PNG_IMAGE_VERSION;
  p.width = uint32_t(img.w);
  p.height = uint32_t(img.h);
  p.format = withAlpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb;
  const void* data = img.px.data();
  if (!withAlpha) {
    for (size_t i = 0; i < img.px.size(); i += 4) rgb.insert(rgb.end(), {img.px[i], img.px[i + 1], img.px[i + 2]});
    data = rgb.data();
  }
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&p, nullptr, &size, 0, data, 0, nullptr)) return {};
  std::vector<uint8_t> out(size);
  if (!png_image_write_to_memory(&p, out.data(), &size, 0, data, 0, nullptr)) return {};
  out.resize(size);
  return out;
}

// Decodes with libpng; an empty picture when it fails.
inline Rgba DecodePngWithLibpng(const std::vector<uint8_t>& bytes) {
  png_image p{};
  p.version = PNG_IMAGE_VERSION;
  Rgba img;
  if (!png_image_begin_read_from_memory(&p, bytes.data(), bytes.size())) return img;
  p.format = PNG_FORMAT_RGBA;
  img.w = int(p.width);
  img.h = int(p.height);
  img.px.resize(PNG_IMAGE_SIZE(p));
  if (!png_image_finish_read(&p, nullptr, img.px.data(), 0, nullptr)) img = Rgba{};
  return img;
}

// Colour type and bit depth from the IHDR chunk, which the format puts first.
inline int PngColourType(const std::vector<uint8_t>& png) { return png.size() > 25 ? png[25] : -1; }
inline int PngBitDepth(const std::vector<uint8_t>& png) { return png.size() > 24 ? png[24] : -1; }
inline bool PngHasChunk(const std::vector<uint8_t>& png, const char* type) {
  return std::search(png.begin(), png.end(), type, type + 4) != png.end();
}

// Compares colour where both are visible, and visibility (or the alpha itself
// with exactAlpha) everywhere. Returns the first difference, empty when none.
inline std::string FirstDifference(const Rgba& want, const Rgba& got, bool exactAlpha) {
  if (want.w != got.w || want.h != got.h)
    return "size " + std::to_string(got.w) + "x" + std::to_string(got.h) + " want " + std::to_string(want.w) +
           "x" + std::to_string(want.h);
  for (int y = 0; y < want.h; ++y)
    for (int x = 0; x < want.w; ++x) {
      const uint8_t* a = want.At(x, y);
      const uint8_t* b = got.At(x, y);
      bool same = exactAlpha ? a[3] == b[3] : (a[3] != 0) == (b[3] != 0);
      if (a[3] != 0 && b[3] != 0) same = same && a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
      if (!same)
        return "pixel " + std::to_string(x) + "," + std::to_string(y) + " want " + std::to_string(a[0]) + "," +
               std::to_string(a[1]) + "," + std::to_string(a[2]) + "," + std::to_string(a[3]) + " got " +
               std::to_string(b[0]) + "," + std::to_string(b[1]) + "," + std::to_string(b[2]) + "," +
               std::to_string(b[3]);
    }
  return "";
}

// The image's pixels as ExtractBitmaps gives them: the colour part, and alpha
// from a 32-bit colour part or else from the AND mask.
inline Rgba PixelsOf(TSubIcon& im) {
  TBitmap raw, mask;
  ExtractBitmaps(im, nullptr, &raw, kNoBackground, &mask);
  const bool alpha = raw.PixelFormat() == pf32bit;
  if (!alpha) raw.SetPixelFormat(pf24bit);
  Rgba out;
  out.w = raw.GetWidth();
  out.h = raw.GetHeight();
  out.px.resize(size_t(out.w) * size_t(out.h) * 4);
  for (int y = 0; y < out.h; ++y) {
    const auto* row = static_cast<const uint8_t*>(raw.ScanLine(y));
    for (int x = 0; x < out.w; ++x) {
      const uint8_t* s = row + x * (alpha ? 4 : 3);
      uint8_t* p = out.At(x, y);
      p[0] = s[2];
      p[1] = s[1];
      p[2] = s[0];
      p[3] = alpha ? s[3] : (mask.Canvas()->Pixels(x, y) == clWhite ? 0 : 255);
    }
  }
  return out;
}

}  // namespace icontest
