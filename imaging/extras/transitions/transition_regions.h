#pragma once
// The geometry behind the clip-region transitions: shapes fitted into a box
// (stars, arrows, lightning bolts, explosions, a cross, a heart), a growable
// list of rectangles made into one region, the bar, shredded and speckled
// patterns built on it, a pie slice, point rotation and a mirrored stretch
// copy. Every region returned is a new GDI region the caller deletes.
#include <cstdint>
#include <vector>

#include "platform/graphics/gdi.h"
#include "platform/graphics/graphics_types.h"

class TBitmap;
class TCanvas;

// The shape of code (low seven bits) in the box; nil for codes 16..127.
HRGN BuildShapeRegion(int code, int x, int y, int width, int height);
HRGN BuildShapeRegionInRect(int code, const TRect& rect);

// A list of rectangles kept as the RGNDATA block ExtCreateRegion takes.
class TComplexRegion {
public:
  TComplexRegion() { Clear(); }
  ~TComplexRegion();
  TComplexRegion(const TComplexRegion&) = delete;
  TComplexRegion& operator=(const TComplexRegion&) = delete;

  void Clear();
  void AddRect(int left, int top, int right, int bottom);
  // Nil when no rectangle was added.
  HRGN CreateRegion();

  int Capacity() const { return FCapacity; }
  int Count() const { return FCount; }
  const TRect& Bounds() const { return FBounds; }

private:
  uint8_t* FData = nullptr;
  int FCapacity = 0;
  int FCount = 0;
  TRect FBounds{};
  RECT* FNext = nullptr;
};

// X and Y are the reach of the pattern across the width and the height, W
// and H the frame size; the modes shape the bars along the rows (HorzMode)
// and the columns (VertMode). Nil when no rectangle was added.
HRGN BuildBarsRegion(int X, int Y, int W, int H, int HorzMode, int VertMode);
HRGN BuildShreddedRegion(int X, int Y, int W, int H, int HorzMode, int VertMode);
HRGN BuildSpeckledRegion(int X, int Y, int W, int H, int HorzMode, int VertMode);
// The centre and count points on the circle from startAngle towards endAngle
// (radians, screen coordinates), the last one step short of it.
HRGN BuildPieRegion(int cx, int cy, int R, int count, double endAngle, double startAngle);
// a combined with b (RGN_OR); b is deleted. Either may be nil: the other is
// the result.
HRGN UnionRegion(HRGN a, HRGN b);
// A WINDING polygon of the points (x1, y1, x2, y2, ...).
HRGN PolygonRegionFromInts(const std::vector<int>& coords);
HRGN TriangleRegion(int x1, int y1, int x2, int y2, int x3, int y3);
// Turns points 0..high about (cx, cy); a positive angle turns clockwise on screen.
void RotatePoints(POINT* points, int high, int cx, int cy, double angle);
// Stretches the source part (clipped to the bitmap) into the destination,
// mirrored as asked, with HALFTONE.
void StretchPartTo(TCanvas* canvas, const TRect& destRect, TBitmap* bitmap, const TRect& sourceRect,
                   bool mirrorHorizontally, bool mirrorVertically);
// The point at radius and bearing (degrees clockwise from straight up).
TPoint PolarPoint(TPoint centre, double radius, double bearing);
