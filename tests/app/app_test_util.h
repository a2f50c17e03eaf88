#pragma once
// Pictures for the icon maker's tests and a plain reading of icon images
// (colour, alpha and AND mask per pixel, rows top-down).
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "icons/advanced_icon.h"
#include "icons/sub_icon_render.h"
#include "platform/graphics/graphics_bitmap.h"

namespace apptest {

// Pixel values as 0xAARRGGBB.
using PixelFn = std::function<uint32_t(int x, int y)>;

inline std::unique_ptr<TBitmap> Bitmap32(int w, int h, const PixelFn& fn) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(pf32bit);
  b->SetSize(w, h);
  for (int y = 0; y < h; ++y) {
    auto* row = static_cast<uint32_t*>(b->ScanLine(y));
    for (int x = 0; x < w; ++x) row[x] = fn(x, y);
  }
  return b;
}

// The alpha byte of fn is ignored.
inline std::unique_ptr<TBitmap> Bitmap24(int w, int h, const PixelFn& fn) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(pf24bit);
  b->SetSize(w, h);
  for (int y = 0; y < h; ++y) {
    auto* row = static_cast<uint8_t*>(b->ScanLine(y));
    for (int x = 0; x < w; ++x) {
      const uint32_t v = fn(x, y);
      row[x * 3] = uint8_t(v), row[x * 3 + 1] = uint8_t(v >> 8), row[x * 3 + 2] = uint8_t(v >> 16);
    }
  }
  return b;
}

inline uint32_t Pixel32(TBitmap& b, int x, int y) { return static_cast<uint32_t*>(b.ScanLine(y))[x]; }

struct Image {
  int w = 0, h = 0, bits = 0;
  std::vector<uint32_t> px;     // 0xAARRGGBB; alpha 255 for images without alpha
  std::vector<uint8_t> masked;  // 1 where the AND mask is set (transparent)
  uint32_t at(int x, int y) const { return px[size_t(y) * size_t(w) + size_t(x)]; }
  uint8_t alpha(int x, int y) const { return uint8_t(at(x, y) >> 24); }
  bool isMasked(int x, int y) const { return masked[size_t(y) * size_t(w) + size_t(x)] != 0; }
};

inline Image Read(TSubIcon& im) {
  TBitmap raw, mask;
  ExtractBitmaps(im, nullptr, &raw, kNoBackground, &mask);
  Image out;
  out.bits = im.GetBitsPerPixel();
  out.w = raw.GetWidth();
  out.h = raw.GetHeight();
  const bool alpha = raw.PixelFormat() == pf32bit;
  if (!alpha) raw.SetPixelFormat(pf24bit);
  mask.SetPixelFormat(pf24bit);
  for (int y = 0; y < out.h; ++y) {
    const auto* row = static_cast<const uint8_t*>(raw.ScanLine(y));
    const auto* m = static_cast<const uint8_t*>(mask.ScanLine(y));
    for (int x = 0; x < out.w; ++x) {
      const uint8_t* p = row + x * (alpha ? 4 : 3);
      out.px.push_back(uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) |
                       (uint32_t(alpha ? p[3] : 255) << 24));
      out.masked.push_back(m[x * 3] != 0 ? 1 : 0);
    }
  }
  return out;
}

// "48x48x32" for each image, in order.
inline std::vector<std::string> Shapes(TAdvancedIcon& icon) {
  std::vector<std::string> s;
  for (int i = 0; i < icon.Count(); ++i) {
    TSubIcon* im = icon.Images().GetItem(i);
    s.push_back(std::to_string(im->GetWidth()) + "x" + std::to_string(im->GetHeight()) + "x" +
                std::to_string(im->GetBitsPerPixel()));
  }
  return s;
}

}  // namespace apptest
