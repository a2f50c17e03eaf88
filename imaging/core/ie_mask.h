#pragma once
// The selection of the imaging library: a plane of the picture's size that says,
// pixel by pixel, whether (1 bit) or how strongly (8 bits) a pixel is selected.
// The view fills it from polygons, moves it, draws its outline and shades the
// rest; operations copy pixels and alpha through it; readers and writers use an
// 8-bit mask as a transparency plane.
//
// The plane is stored bottom-up like a DIB: image row y starts at
// Bits() + (Height() - y - 1) * RowLen(). It is allocated, zero-filled, on the
// first operation that touches pixels.
#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/core/ie_types.h"
#include "platform/graphics/dib_types.h"
#include "platform/graphics/graphics_types.h"
#include "platform/rtl/object.h"
#include "platform/win/win_types.h"

class TBitmap;
class TCanvas;
class TIEBitmap;

// Point of a polygon list that separates two polygons (its y is not read).
constexpr LONG kIEPolygonSeparator = 0xFFFFF;

class TIEMask : public TObject {
public:
  TIEMask();
  ~TIEMask() override;
  TIEMask(const TIEMask&) = delete;
  TIEMask& operator=(const TIEMask&) = delete;

  // ---- shape ----
  // Drops the plane and takes the new size and depth (1 or 8); the box is empty.
  void Allocate(int width, int height, int bitsPerPixel);
  void FreeBits();
  // Keeps the content anchored at the top-left corner and clips the box.
  void Resize(int width, int height);
  void EnsureBits();
  uint8_t* Bits();
  uint8_t* ScanLine(int y);

  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  int BitsPerPixel() const { return FBitsPerPixel; }
  int64_t RowLen() const { return FRowLen; }
  bool HasBits() const { return !FBits.empty(); }
  // Bounding box of the selected pixels, inclusive; X1 is MaxInt when empty.
  int X1() const { return FX1; }
  int Y1() const { return FY1; }
  int X2() const { return FX2; }
  int Y2() const { return FY2; }
  bool Full() const { return FFull; }
  void SetFull(bool full) { FFull = full; }

  // ---- pixels ----
  // Outside the plane: ignored. A non-zero value extends the box.
  void SetPixel(int x, int y, int value);
  // 0 or 1 (1 bit), 0..255 (8 bits); 0 outside the plane.
  int GetPixel(int x, int y) const;
  bool IsPointSelected(int x, int y) const;
  // Pixels x1..x2 of row y, clipped to the plane; a row outside writes nothing.
  // Returns the number of pixels written. The box is not touched.
  int FillSpan(int value, int x1, int x2, int y);
  // Every byte of the plane becomes value; the box becomes what it selects.
  void Fill(int value);
  void Clear();
  bool IsEmpty() const { return FX1 == kEmptyX1; }
  void UpdateBoundingBox();
  void CheckFull();

  // ---- polygons and moving ----
  // Polygons separated by a point of x kIEPolygonSeparator.
  void FillPolygons(int value, const POINT* points, int count);
  // Scan-line fill: columns from the left edge up to, not including, the right
  // edge, rows from the top vertex up to, not including, the bottom one; clipped
  // to the plane.
  void FillPolygon(int value, const POINT* points, int count);
  // Moves the selection; with cut, pixels that would leave the plane are dropped,
  // without, the offset is limited (dx and dy return what was applied).
  void MoveBy(int& dx, int& dy, bool cut);

  // ---- drawing (the visible part srcX, srcY, srcW, srcH shown at xDest, yDest, dstW x dstH) ----
  // Selected pixels of a 1-bit mask invert the canvas.
  void DrawInverted(TCanvas* canvas, int xDest, int yDest, int dstW, int dstH, int srcX, int srcY, int srcW,
                    int srcH);
  // The animated dashed border: dashes of 4 pixels of colours a and b along the
  // diagonals, shifted by phase. outRect (when given) receives the drawn box.
  void DrawOutline(TCanvas* canvas, int xDest, int yDest, int dstW, int dstH, int srcX, int srcY, int srcW,
                   int srcH, int phase, TColor colorA, TColor colorB, RECT* outRect);
  // Paints the unselected part of the visible area into a 24-bit bitmap: a grey
  // checker for opacity -1, else the colour blended by opacity / 255.
  void ShadeUnselected(TBitmap* bitmap, int xDest, int yDest, int dstW, int dstH, int srcX, int srcY, int srcW,
                       int srcH, int opacity, TColor color);

  // ---- copying through the mask ----
  // Copies source pixels where the mask selects them (weighted by an 8-bit mask)
  // over the box. A box-sized bitmap is addressed from the box's top-left corner,
  // the other in image coordinates. Formats that differ go through a copy of the
  // source in the destination's format.
  void CopyBitmapMasked(TIEBitmap& destination, TIEBitmap& source, bool destinationBoxSized, bool sourceBoxSized,
                        bool withAlpha);
  // The destination's alpha over the box: source alpha where selected (at most
  // the mask value of an 8-bit mask). A box-sized destination is a cut-out and
  // becomes transparent where nothing is selected; a picture written back in
  // image coordinates keeps its alpha there.
  void CopyAlphaMasked(TIEBitmap& destination, TIEBitmap& source, bool destinationBoxSized, bool sourceBoxSized);

  // The zoomed copy of the plane that the drawers read; kept per destination size.
  void StretchMaskBits(int dstW, int dstH, int srcX, int srcY, int srcW, int srcH);
  int ZoomWidth() const { return FZoomWidth; }
  int ZoomHeight() const { return FZoomHeight; }
  const uint8_t* ZoomRow(int row) const { return FZoomRows[size_t(row)]; }

private:
  static constexpr int kEmptyX1 = 2147483647;
  struct Region;
  bool ClipRegion(TIEBitmap& destination, TIEBitmap& source, bool destinationBoxSized, bool sourceBoxSized,
                  Region& region) const;
  void CopyRegion(TIEBitmap& destination, TIEBitmap& source, const Region& region);
  void CopyAlphaRegion(TIEBitmap& destination, TIEBitmap& source, const Region& region, bool cutOut);
  void SetEmptyBox();
  void ClampBox();
  void WriteFullAfter(bool selectsFully);
  void MoveBits1(int dx, int dy);
  void MoveBits8(int dx, int dy);
  void FreeZoom();
  int ZoomPixel(int row, int column) const;
  void StampDot(TCanvas* canvas, int x, int y, const TRGB& color);

  int32_t FWidth = 0;
  int32_t FHeight = 0;
  int32_t FBitsPerPixel = 0;
  int64_t FRowLen = 0;
  std::vector<uint8_t> FBits;
  int32_t FX1 = kEmptyX1;
  int32_t FY1 = kEmptyX1;
  int32_t FX2 = 0;
  int32_t FY2 = 0;
  struct {
    BITMAPINFOHEADER header;
    RGBQUAD colors[2];
  } FDrawInfo{};
  std::vector<uint8_t> FZoomBuffer;
  int32_t FZoomWidth = 0;
  int32_t FZoomHeight = 0;
  int64_t FZoomRowLen = 0;
  std::vector<uint8_t*> FZoomRows;
  bool FFull = false;
  std::unique_ptr<TBitmap> FDotBitmap;
  uint8_t* FDotPixel = nullptr;
};

// Extends box (left, top, right, bottom) to hold (x, y), clamped to the plane.
void GrowBoundingBox(int x, int y, RECT& box, int width, int height);
