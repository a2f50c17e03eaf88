#pragma once
// A view of a picture's rows: row y (0 = top) starts at Base + y * Stride. The
// framework's bottom-up bitmaps have a negative stride; buffers of our own are
// top-down. Nothing here owns memory.
#include <cstddef>
#include <cstdint>
#include <vector>

struct TPixelRows {
  uint8_t* Base = nullptr;
  ptrdiff_t Stride = 0;
  int Width = 0;
  int Height = 0;
  uint8_t* Row(int y) const { return Base + y * Stride; }
};

// A top-down buffer of its own, for temporaries and tests.
struct TPixelBuffer {
  std::vector<uint8_t> Bytes;
  int Width = 0, Height = 0, PixelBytes = 4;
  TPixelBuffer() = default;
  TPixelBuffer(int width, int height, int pixelBytes, uint8_t fill = 0)
      : Bytes(static_cast<size_t>(width) * height * pixelBytes, fill), Width(width), Height(height),
        PixelBytes(pixelBytes) {}
  TPixelRows Rows() {
    return TPixelRows{Bytes.data(), static_cast<ptrdiff_t>(Width) * PixelBytes, Width, Height};
  }
  uint32_t* Pixels32() { return reinterpret_cast<uint32_t*>(Bytes.data()); }
};
