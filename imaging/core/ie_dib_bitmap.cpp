#include "imaging/core/ie_dib_bitmap.h"

#include <cstring>

#include "imaging/core/ie_helpers.h"
#include "imaging/core/ie_memory.h"

// ---- TIEDibbitmap ----

TIEDibbitmap::TIEDibbitmap() {
  FInfo.header.biSize = sizeof(BITMAPINFOHEADER);
  FInfo.header.biPlanes = 1;
  FInfo.header.biCompression = BI_RGB;
  FInfo.colors[1] = RGBQUAD{255, 255, 255, 0};
}

TIEDibbitmap::~TIEDibbitmap() { FreeDIB(); }

uint8_t* TIEDibbitmap::ScanLine(int row) {
  if (!FBits) return nullptr;
  return FBits + (int64_t(FHeight) - row - 1) * FRowLen;
}

TIEBitmapFormat TIEDibbitmap::PixelFormat() {
  if (FBitCount == 1) return ie1g;
  if (FBitCount == 24) return ie24RGB;
  return ieNoFormat;
}

void TIEDibbitmap::GetPaletteColor(int, TRGB& rgb) { rgb = TRGB{}; }

bool TIEDibbitmap::Allocate(int width, int height, TIEBitmapFormat format) {
  if (format == ie1g) return AllocateDIB(width, height, 1);
  if (format == ie24RGB) return AllocateDIB(width, height, 24);
  return false;
}

void TIEDibbitmap::Assign(TObject* source) {
  auto* src = dynamic_cast<TIEDibbitmap*>(source);
  if (!src || src == this || !src->FBits) return;
  if (!AllocateDIB(src->FWidth, src->FHeight, src->FBitCount)) return;
  GdiFlush();
  std::memcpy(FBits, src->FBits, size_t(int64_t(FRowLen) * FHeight));
}

bool TIEDibbitmap::AllocateDIB(int width, int height, int bitCount) {
  if (width <= 0 || height <= 0 || (bitCount != 1 && bitCount != 24)) return false;
  const int64_t rowLen = AlignedRowLength(width, bitCount, 32);
  // A DIB's image size is a 32-bit field.
  if (rowLen * height > INT32_MAX || IEAllocationRefused(rowLen * height)) return false;
  FreeDIB();
  FDC = CreateCompatibleDC(nullptr);
  if (!FDC) return false;
  FInfo.header.biWidth = width;
  FInfo.header.biHeight = height;  // positive: bottom-up
  FInfo.header.biBitCount = WORD(bitCount);
  FInfo.header.biSizeImage = DWORD(rowLen * height);
  void* bits = nullptr;
  FDib = CreateDIBSection(FDC, reinterpret_cast<const BITMAPINFO*>(&FInfo), DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!FDib || !bits) {
    FreeDIB();
    return false;
  }
  FOldBitmap = SelectObject(FDC, FDib);
  FBits = static_cast<uint8_t*>(bits);
  FWidth = width;
  FHeight = height;
  FBitCount = bitCount;
  FRowLen = int32_t(rowLen);
  return true;
}

void TIEDibbitmap::FreeDIB() {
  if (FDC && FOldBitmap) SelectObject(FDC, FOldBitmap);
  if (FDib) DeleteObject(FDib);
  if (FDC) DeleteDC(FDC);
  FDC = nullptr;
  FDib = nullptr;
  FOldBitmap = nullptr;
  FBits = nullptr;
  FWidth = FHeight = FBitCount = FRowLen = 0;
}

// ---- TIEWorkBitmap ----

TIEWorkBitmap::TIEWorkBitmap(int width, int bitsPerPixel, int height) {
  if (width > 0 && height > 0) Allocate(width, height, bitsPerPixel);
}

bool TIEWorkBitmap::Allocate(int width, int height, int bitsPerPixel) {
  if (width == FWidth && height == FHeight && bitsPerPixel == FBitsPerPixel && FBits) return true;
  FreeBits();
  if (width < 1 || height < 1 || bitsPerPixel < 1) return false;
  const int64_t rowLen = AlignedRowLength(width, bitsPerPixel, 32);
  // The block is checked: a failed allocation leaves no rows to write through.
  FBits = static_cast<uint8_t*>(AllocLargeBlock(rowLen * height));
  if (!FBits) return false;
  FWidth = width;
  FHeight = height;
  FBitsPerPixel = bitsPerPixel;
  FRowLen = rowLen;
  return true;
}

void TIEWorkBitmap::FreeBits() {
  void* block = FBits;
  FreeLargeBlock(block);
  FBits = nullptr;
  FWidth = FHeight = FBitsPerPixel = 0;
  FRowLen = 0;
}
