#pragma once
// The icon side's toolbox for framework bitmaps: pixel-format arithmetic, making
// and filling bitmaps, 32-bit pixel blocks, masks and alpha, palette entries for
// transparency, comparisons.
//
// A pf32bit bitmap is one block of width x height pixels, rows bottom-up, each
// pixel blue, green, red, alpha (0xAARRGGBB as a value), not premultiplied.
// A mask is a bitmap of the picture's size, white for transparent pixels.
// Colours given as arguments are framework colours (0x00BBGGRR); clNone
// (0x1FFFFFFF) means "no colour".
#include <cstdint>
#include <memory>

#include "base/toolbox/palette_tables.h"
#include "base/toolbox/pixel_rows.h"
#include "platform/graphics/dib_types.h"
#include "platform/graphics/gdi.h"
#include "platform/graphics/graphics.h"

// Pixel formats and row sizes.
int PixelFormatBits(TPixelFormat format);
int PixelFormatColors(TPixelFormat format);
TPixelFormat BitsToPixelFormat(int bits);
int BytesPerRow(int width, int bits, int alignment);
int DwordRowSize(int width, int bits);
int BitmapRowSize(TBitmap* bitmap);
int DibHeaderSize(const BITMAPINFOHEADER& header);
int ScreenBitsPerPixel();

// Rows of a bitmap with direct access (row 0 at the top). Empty for an empty bitmap.
TPixelRows BitmapRows(TBitmap* bitmap);
// The first pixel of the 32-bit block (the bottom row); nullptr when empty.
uint32_t* Block32(TBitmap* bitmap);
bool Is32(TBitmap* bitmap);

// The 66-byte BMP file of a 1 x 1 one-bit picture, colour 0 black and 1 white.
extern const uint8_t MonoBitmapTemplate[66];

void MakeMonochrome(TBitmap* bitmap);
// Makes mask a 1-bit picture of the size with colour 0 black and 1 white and
// every pixel black (opaque): rows ready to be written straight into.
void MakeOpaqueMask(TBitmap* mask, int width, int height);
std::unique_ptr<TBitmap> NewMonoBitmap();
// A new bitmap filled with the colour. For pf32bit the colour becomes the
// pixel with red and blue in pixel order and alpha 0 (a plain colour is a
// transparent pixel of that colour); clNone leaves every pixel 0.
std::unique_ptr<TBitmap> NewBitmap(TPixelFormat format, int width, int height, TColor colour);
std::unique_ptr<TBitmap> NewBitmap32(int width, int height);
void SetBitmapFormat(TBitmap* bitmap, int width, int height, TPixelFormat format);
void SetBitmapFormatAndFill(TBitmap* bitmap, int width, int height, TColor colour, TPixelFormat format);
void ResizeAndFill(TBitmap* bitmap, int width, int height, TColor colour);
void FillBitmap(TBitmap* bitmap, TColor colour);
void FillRectWithColor(TBitmap* bitmap, TColor colour, const TRect& rect);
std::unique_ptr<TBitmap> CloneBitmap(TBitmap* bitmap);
std::unique_ptr<TBitmap> CopyTo24Bit(TBitmap* bitmap);
void MakeCheckerBitmap(TBitmap* bitmap, int width, int height, TColor background, TColor colour);
// An 8 x 8 checker of colour b on a and a pattern brush of it; the caller owns both.
HBRUSH MakeCheckerBrush(TColor a, TColor b, std::unique_ptr<TBitmap>& bitmap);

// 32-bit blocks. Each routine checks that its bitmaps are pf32bit and clips to them.
void FillRect32(TBitmap* bitmap, uint32_t value, const TRect& rect);
void Fill32(TBitmap* bitmap, uint32_t value);
void SetSize32AndFill(TBitmap* bitmap, int width, int height, uint32_t value);
inline void SetSize32AndFill2(TBitmap* bitmap, int width, int height, uint32_t value) {
  SetSize32AndFill(bitmap, width, height, value);
}
void CopyRect32(TBitmap* source, TBitmap* target, const TRect& sourceRect, int x, int y);
void DrawBitmap32At(TBitmap* source, TBitmap* target, int x, int y);
uint32_t GetPixel32(TBitmap* bitmap, int x, int y);
void FixZeroAlpha(TBitmap* bitmap);
bool HasPartialAlpha(TBitmap* bitmap);
void ReplaceColor32(TBitmap* bitmap, uint32_t oldValue, uint32_t newValue, bool keepAlpha);

// Pixels of a bitmap as colours (0x00BBGGRR), read and written on its rows for
// 1-, 4-, 8-, 24- and 32-bit bitmaps: indexes resolve through the colour table
// read once, and a colour written takes the nearest entry, first of equals, as
// SetPixel does (32-bit pixels get alpha 0, as drawing leaves it). Other
// formats go through the canvas. Callers keep to the bitmap's area.
class TColourPixels {
public:
  explicit TColourPixels(TBitmap* bitmap);
  TColor Get(int x, int y) const;
  void Set(int x, int y, TColor colour);

private:
  uint32_t IndexOf(TColor colour);

  TBitmap* FBitmap;
  TPixelRows FRows;
  int FBits = 0;  // 0: through the canvas
  int FCount = 0;
  RGBQUAD FTable[256] = {};
  // The last colours written and their indexes: a caller mostly writes a few.
  TColor FLastColour[4] = {clNone, clNone, clNone, clNone};
  uint32_t FLastIndex[4] = {};
  int FNextSlot = 0;
};

// Mask pixels, read and written straight from a 1-bit mask's rows (through its
// colour table) and through the device context for other formats.
class TMaskPixels {
public:
  explicit TMaskPixels(TBitmap* mask);
  bool Valid() const { return FMask != nullptr; }
  bool IsWhite(int x, int y);
  void Set(int x, int y, bool white);

private:
  TBitmap* FMask;
  TPixelRows FRows;
  bool FDirect = false;
  int FWhiteIndex = 1;
};

// Masks and alpha.
void MaskColor24(TColor colour, TBitmap* bitmap, TBitmap* mask);
void MaskColor32(TColor colour, TBitmap* bitmap, TBitmap* mask);
void ClearColor32(TBitmap* bitmap, TColor colour);
void MaskColor(TColor colour, TBitmap* bitmap, TBitmap* mask);
void ToBitmap32(TBitmap* source, TBitmap* mask, TBitmap* target);
void AlphaToKeyMask(TBitmap* bitmap, TBitmap* mask);
void AlphaToMask(TBitmap* source, TBitmap* target, TBitmap* mask, int threshold, bool keepWhite);
void AddAlphaToMask(TBitmap* source, TBitmap* mask, int threshold, bool keep);
void AlphaThresholdMask(TBitmap* source, TBitmap* mask, int threshold);
void ApplyAlphaThreshold(TBitmap* source, TBitmap* target, TBitmap* mask, int threshold, bool keepWhite);
void SplitAlphaToColorAndMask(TBitmap* source, TBitmap* target, TBitmap* mask, int threshold, bool keepWhite);
void SetAlphaFromMask(TBitmap* bitmap, TBitmap* mask, uint8_t alpha);
void ApplyMaskBlack(TBitmap* bitmap, TBitmap* mask, bool keepWhite);
void SplitToColorAndAlpha(TBitmap* source, TBitmap* colour, TBitmap* alpha, bool& anyAlpha, bool& notAllOpaque);
void JoinColorAndAlpha(TBitmap* target, TBitmap* colour, TBitmap* alpha);
// Writes an 8-bit plane into one channel: "B" blue, "G" green, "R" red, any
// other letter alpha; with "a" a pixel left as exactly 0x00FFFFFF becomes 0.
void SetChannelFromPlane(TBitmap* bitmap, TBitmap* plane, char letter);

// Palette entries of 8-bit pictures for their transparent pixels.
void ReserveTransparentIndex(TBitmap* bitmap, TBitmap* mask, int& index, TColor colour);
void PaintMaskedWithColor(TBitmap* bitmap, TBitmap* mask, TColor colour);
void ApplyMaskIndex8(TBitmap* bitmap, TBitmap* mask, TColor colour);

// Queries.
bool BitmapsEqual(TBitmap* a, TBitmap* b);
bool BitmapHasColor(TBitmap* bitmap, TColor colour);

// Reading any bitmap as 24-bit rows: direct for pf24bit, else a pf24bit copy.
class TRows24 {
public:
  explicit TRows24(TBitmap* bitmap);
  const TPixelRows& Rows() const { return FRows; }

private:
  std::unique_ptr<TBitmap> FCopy;
  TPixelRows FRows;
};

// A framework colour as a pixel value (red and blue exchanged) and back.
constexpr uint32_t ColourToPixel(uint32_t colour) {
  return ((colour & 0xFF) << 16) | (colour & 0xFF00) | ((colour >> 16) & 0xFF);
}
constexpr uint32_t PixelToColour(uint32_t pixel) { return ColourToPixel(pixel & 0xFFFFFF); }

// Reads and writes the colour table of a bitmap of up to 8 bits (256 entries
// at most, as 0x00BBGGRR), and sets palette handle and table together.
int ReadPaletteColours(TBitmap* bitmap, int32_t* colours, int room);
void WritePaletteColours(TBitmap* bitmap, const int32_t* colours, int count);
