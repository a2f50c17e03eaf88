#pragma once
// Colour reduction of bitmaps for GIF frames: palettes (system, grey, cube,
// octree or the caller's), colour lookups, error-diffusion ditherers, and the
// small DIB reader and writer through which frames meet framework bitmaps.
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/graphics/gdi.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/rtl/object.h"

enum TGIFReductionMethod : uint8_t {
  rdNone,
  rdSystem20,
  rdHalftone256,
  rdSystemGray4,
  rdMonochrome,
  rdGray256,
  rdCube216,
  rdOctree,
  rdOctreeWithSystem,
  rdCustomPalette
};

enum TGIFDitherKind : uint8_t {
  dkNearest,
  dkFloydSteinberg,
  dkStucki,
  dkSierra,
  dkJarvisJudiceNinke,
  dkStevensonArce,
  dkBurkes
};

class TColorLookup : public TObject {
public:
  explicit TColorLookup(int colorCount) : FColorCount(colorCount) {}
  // The palette index for the colour; red, green and blue become the chosen colour.
  virtual int FindIndex(int& red, int& green, int& blue) = 0;
  int ColorCount() const { return FColorCount; }

protected:
  int FColorCount;
};

// Nearest entry by the sum of channel differences, one answer per 15-bit cell.
class TFastColorLookup : public TColorLookup {
public:
  explicit TFastColorLookup(HPALETTE palette);
  int FindIndex(int& red, int& green, int& blue) override;

private:
  std::vector<PALETTEENTRY> FEntries;
  std::vector<int16_t> FCells;
};

class TNetscapeColorLookup : public TColorLookup {
public:
  TNetscapeColorLookup() : TColorLookup(216) {}
  int FindIndex(int& red, int& green, int& blue) override;
};

class TGrayScaleLookup : public TColorLookup {
public:
  TGrayScaleLookup() : TColorLookup(256) {}
  int FindIndex(int& red, int& green, int& blue) override;
};

class TMonochromeLookup : public TColorLookup {
public:
  TMonochromeLookup() : TColorLookup(2) {}
  int FindIndex(int& red, int& green, int& blue) override;
};

// The nearest-colour ditherer; rows go in alternating directions.
class TDitherEngine : public TObject {
public:
  TDitherEngine(int width, TColorLookup* lookup) : FLookup(lookup), FWidth(width) {}
  virtual int DitherPixel(int& red, int& green, int& blue);
  virtual void NextRow();
  int Column() const { return FColumn; }
  int Direction() const { return FDirection; }
  // Moves on one column without dithering (a transparent pixel).
  void AdvanceColumn() { FColumn += FDirection; }

protected:
  TColorLookup* FLookup;
  int FWidth;
  int FDirection = 1;
  int FColumn = 0;
};

// Error diffusion through a kernel of up to four rows; weights as the classic
// ditherers define them (Floyd-Steinberg, Stucki, Sierra, Jarvis-Judice-Ninke,
// Stevenson-Arce, Burkes).
class TKernelDitherer : public TDitherEngine {
public:
  struct Weight {
    int row;     // 0 the current row, 1.. the rows below
    int offset;  // columns further in the direction of travel
    int weight;
  };
  TKernelDitherer(int width, TColorLookup* lookup, int divisor, std::vector<Weight> weights, int margin);
  int DitherPixel(int& red, int& green, int& blue) override;
  void NextRow() override;

private:
  int FDivisor;
  std::vector<Weight> FWeights;
  int FMargin;
  int FRows;
  // Per row of the kernel, per channel: width + 2 * margin errors.
  std::vector<std::vector<int>> FErrors[3];
};

std::unique_ptr<TDitherEngine> MakeDitherer(TGIFDitherKind kind, int width, TColorLookup* lookup);

// New palettes, owned by the caller.
HPALETTE MakeCubePalette();
HPALETTE MakeGrayRampPalette();
HPALETTE MakeBlackWhitePalette();
HPALETTE MakeSystemGrayPalette();
HPALETTE MakeHalftonePalette();
HPALETTE MakeSystem20Palette();
HPALETTE MakePaletteOf(const PALETTEENTRY* entries, int count);

// Rows of a bitmap at 8 or 24 bits per pixel, read from a copy so that the
// caller's bitmap keeps its own format and alpha.
class TDIBReader : public TObject {
public:
  TDIBReader(TBitmap* bitmap, TPixelFormat format);
  uint8_t* RowPointer(int row);
  int Width() { return FCopy.Width(); }
  int Height() { return FCopy.Height(); }
  TBitmap& Bitmap() { return FCopy; }

private:
  TBitmap FCopy;
};

// Builds an 8- or 24-bit DIB row by row and loads it into the target bitmap
// when it is freed (or at Finish).
class TDIBWriter : public TObject {
public:
  TDIBWriter(TBitmap* target, HPALETTE palette, int height, int width, TPixelFormat format);
  ~TDIBWriter() override;
  uint8_t* RowPointer(int row);
  void Finish();

private:
  TBitmap* FTarget;
  int FHeight;
  int FBitCount;
  size_t FStride = 0;
  size_t FHeaderBytes = 0;
  std::vector<uint8_t> FFile;
  bool FDone = false;
};

HPALETTE MakeOctreePalette(TDIBReader& reader, int colorCount, int colorBits, bool withSystemColors);
HPALETTE MakeOctreePaletteOfBitmap(TBitmap* bitmap, int colorCount, int colorBits, bool withSystemColors);

// A new bitmap (owned by the caller) of at most 256 colours, or a 24-bit copy for rdNone.
std::unique_ptr<TBitmap> ReduceBitmapColors(TBitmap* bitmap, TGIFReductionMethod method, TGIFDitherKind dither,
                                            HPALETTE customPalette, int bits);

HGDIOBJ CheckGdiHandle(HGDIOBJ handle);
inline int RowBytes(int pixels, int bitsPerPixel, int alignment) {
  return static_cast<int>(((static_cast<int64_t>(pixels) * bitsPerPixel + alignment - 1) & ~int64_t(alignment - 1)) >> 3);
}
int BitsForColors(int n);
