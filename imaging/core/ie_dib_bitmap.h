#pragma once
// Two small bitmaps beside TIEBitmap. TIEDibbitmap keeps its pixels in a DIB
// section selected into a memory device context of its own, so that GDI can
// draw into it (metafiles, video frames, placeholders), and the result is then
// copied into a TIEBitmap. TIEWorkBitmap is a bare scratch buffer for the
// intermediate passes of the resamplers; several threads may write it at once,
// each its own rows.
#include <cstdint>

#include "imaging/core/ie_bitmap.h"
#include "platform/graphics/dib_types.h"
#include "platform/graphics/gdi.h"

class TIEDibbitmap : public TIEBaseBitmap {
public:
  TIEDibbitmap();
  ~TIEDibbitmap() override;
  TIEDibbitmap(const TIEDibbitmap&) = delete;
  TIEDibbitmap& operator=(const TIEDibbitmap&) = delete;

  // Row 0 is the top row; nil while there are no pixels.
  uint8_t* ScanLine(int row) override;
  int BitCount() override { return FBitCount; }
  int Height() override { return FHeight; }
  int Width() override { return FWidth; }
  // ie1g for 1 bit, ie24RGB for 24 bits, else ieNoFormat.
  TIEBitmapFormat PixelFormat() override;
  int64_t RowLen() override { return FRowLen; }
  TRGB* Palette() override { return nullptr; }
  void GetPaletteColor(int index, TRGB& rgb) override;
  void SetPaletteColor(int, const TRGB&) override {}
  int PaletteLength() override { return 0; }
  // ie1g and ie24RGB only; false (and nothing made) for any other format.
  bool Allocate(int width, int height, TIEBitmapFormat format) override;
  // From another TIEDibbitmap only: same geometry, same pixels.
  void Assign(TObject* source) override;
  void CopyPaletteTo(TIEBaseBitmap*) override {}

  // A bottom-up DIB section of width x height at 1 or 24 bits, selected into a
  // new memory DC. False, with the bitmap left empty, when it cannot be made.
  bool AllocateDIB(int width, int height, int bitCount);
  void FreeDIB();
  // The memory DC the section is selected into, for GDI drawing; nil when empty.
  HDC DC() const { return FDC; }
  HBITMAP Handle() const { return FDib; }

private:
  int32_t FWidth = 0;
  int32_t FHeight = 0;
  int32_t FBitCount = 0;
  int32_t FRowLen = 0;
  HDC FDC = nullptr;
  HBITMAP FDib = nullptr;
  HGDIOBJ FOldBitmap = nullptr;
  struct {
    BITMAPINFOHEADER header;
    RGBQUAD colors[2];
  } FInfo{};
  uint8_t* FBits = nullptr;
};

class TIEWorkBitmap : public TObject {
public:
  TIEWorkBitmap() = default;
  // Allocates when both sizes are positive (see IsAllocated).
  TIEWorkBitmap(int width, int bitsPerPixel, int height);
  ~TIEWorkBitmap() override { FreeBits(); }
  TIEWorkBitmap(const TIEWorkBitmap&) = delete;
  TIEWorkBitmap& operator=(const TIEWorkBitmap&) = delete;

  // Keeps the block when nothing changed. When the block cannot be had the
  // result is false and the bitmap is empty (every field 0, no rows).
  bool Allocate(int width, int height, int bitsPerPixel);
  void FreeBits();
  bool IsAllocated() const { return FBits != nullptr; }
  // Row 0 is the top row; rows are 32-bit aligned and stored bottom-up.
  uint8_t* ScanLine(int row) { return FBits ? FBits + FRowLen * (int64_t(FHeight) - row - 1) : nullptr; }
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  int BitsPerPixel() const { return FBitsPerPixel; }
  int64_t RowLen() const { return FRowLen; }

private:
  int32_t FWidth = 0;
  int32_t FHeight = 0;
  int32_t FBitsPerPixel = 0;
  int64_t FRowLen = 0;
  uint8_t* FBits = nullptr;
};
