#pragma once
// Small helpers of the drawing-layer tests: DIB sections of any format selected
// into their own memory DC, and direct access to their pixel bytes.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/graphics/gdi.h"

namespace gditest {

// A DIB section selected into a fresh memory DC; both go away with the object.
class Dib {
public:
  Dib(int width, int height, int bitCount, std::vector<RGBQUAD> colors = {}, bool topDown = true) {
    std::vector<uint8_t> info(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD));
    auto* h = reinterpret_cast<BITMAPINFOHEADER*>(info.data());
    *h = BITMAPINFOHEADER();
    h->biWidth = width;
    h->biHeight = topDown ? -height : height;
    h->biBitCount = static_cast<WORD>(bitCount);
    if (bitCount <= 8) {
      if (colors.empty()) colors = GreyTable(bitCount);
      h->biClrUsed = static_cast<DWORD>(colors.size());
      std::memcpy(info.data() + sizeof(BITMAPINFOHEADER), colors.data(), colors.size() * sizeof(RGBQUAD));
    }
    FBitmap = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(info.data()), DIB_RGB_COLORS, &FBits, nullptr, 0);
    FDC = CreateCompatibleDC(nullptr);
    FOld = SelectObject(FDC, FBitmap);
    FWidth = width;
    FHeight = height;
    FBitCount = bitCount;
    FTopDown = topDown;
  }
  ~Dib() {
    SelectObject(FDC, FOld);
    DeleteDC(FDC);
    DeleteObject(FBitmap);
  }
  Dib(const Dib&) = delete;
  Dib& operator=(const Dib&) = delete;

  HDC dc() const { return FDC; }
  HBITMAP bitmap() const { return FBitmap; }
  int Stride() const { return static_cast<int>(DibRowBytes(FWidth, FBitCount)); }
  uint8_t* Row(int y) const {
    return static_cast<uint8_t*>(FBits) + static_cast<size_t>(FTopDown ? y : FHeight - 1 - y) * Stride();
  }
  uint32_t Pixel32(int x, int y) const {
    uint32_t v;
    std::memcpy(&v, Row(y) + 4 * x, 4);
    return v;
  }
  void SetPixel32(int x, int y, uint32_t v) const { std::memcpy(Row(y) + 4 * x, &v, 4); }
  void Fill32(uint32_t v) const {
    for (int y = 0; y < FHeight; ++y)
      for (int x = 0; x < FWidth; ++x) SetPixel32(x, y, v);
  }
  // Raw value of a pixel of any depth.
  uint32_t Index(int x, int y) const {
    const uint8_t* r = Row(y);
    switch (FBitCount) {
      case 1: return (r[x >> 3] >> (7 - (x & 7))) & 1;
      case 4: return (r[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF;
      case 8: return r[x];
      case 16: return r[2 * x] | (r[2 * x + 1] << 8);
      case 24: return r[3 * x] | (r[3 * x + 1] << 8) | (r[3 * x + 2] << 16);
      default: return Pixel32(x, y);
    }
  }

  static std::vector<RGBQUAD> GreyTable(int bitCount) {
    int n = 1 << bitCount;
    std::vector<RGBQUAD> t(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
      BYTE v = static_cast<BYTE>(i * 255 / (n - 1));
      t[static_cast<size_t>(i)] = RGBQUAD{v, v, v, 0};
    }
    return t;
  }

private:
  HBITMAP FBitmap = nullptr;
  HDC FDC = nullptr;
  HGDIOBJ FOld = nullptr;
  void* FBits = nullptr;
  int FWidth = 0, FHeight = 0, FBitCount = 0;
  bool FTopDown = true;
};

// The header of a top-down 32-bit DIB.
inline BITMAPINFO Info32(int width, int height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  return info;
}

inline RGBQUAD Quad(BYTE r, BYTE g, BYTE b) { return RGBQUAD{b, g, r, 0}; }

// A 32-bit pixel value as it sits in memory: 0xAARRGGBB.
constexpr uint32_t Argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) { return (a << 24) | (r << 16) | (g << 8) | b; }

// The smallest rectangle holding every pixel of a 32-bit DIB that is not `background`.
inline RECT InkBox(const Dib& d, int w, int h, uint32_t background) {
  RECT r{w, h, -1, -1};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (d.Pixel32(x, y) != background) {
        r.left = std::min<LONG>(r.left, x);
        r.top = std::min<LONG>(r.top, y);
        r.right = std::max<LONG>(r.right, x + 1);
        r.bottom = std::max<LONG>(r.bottom, y + 1);
      }
  return r;
}

// The top left w x h of a 32-bit DIB as a PNG in the build's test output, for a
// person to look at.
inline void SavePng(const std::string& name, const Dib& d, int w, int h) {
  const auto dir = std::filesystem::path(QV_BINARY_DIR) / "test-output";
  std::filesystem::create_directories(dir);
  std::vector<uint8_t> rgb;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint32_t p = d.Pixel32(x, y);
      rgb.insert(rgb.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
    }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(w);
  image.height = static_cast<png_uint_32>(h);
  image.format = PNG_FORMAT_RGB;
  EXPECT_TRUE(png_image_write_to_file(&image, (dir / name).string().c_str(), 0, rgb.data(), 0, nullptr));
}

}  // namespace gditest
