#pragma once
// The library's drawing surface for anti-aliased figures. TIECanvas wraps a
// framework TCanvas and draws each figure through GDI+ when GDI+ is loaded and
// the caller asked for it, through the TCanvas (plain GDI) otherwise. GDI+ is
// not linked: "gdiplus.dll" is loaded on the first StartGdiPlus and its flat
// calls are bound by name; the last StopGdiPlus unloads it.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/graphics/graphics_canvas.h"
#include "platform/rtl/object.h"

// The GDI+ switch: start-up turns it on (ResetGdiPlusState); while it is off
// StartGdiPlus loads nothing and every canvas draws through GDI.
extern bool IEGdiPlusEnabled;

bool GdiPlusLoaded();
// The switch is on and the library is loaded.
bool GdiPlusAvailable();
// Library start-up: switch on, no library, count 0.
void ResetGdiPlusState();
// Reference counted: each StartGdiPlus is paired with one StopGdiPlus, whether
// or not GDI+ could be loaded.
void StartGdiPlus();
void StopGdiPlus();
// Starts not yet matched by a stop.
int32_t GdiPlusStartCount();

// A framework pen with a GDI+ pen kept in step with it.
class TIEPen : public TObject {
public:
  explicit TIEPen(TPen* pen);
  ~TIEPen() override;
  TIEPen(const TIEPen&) = delete;
  TIEPen& operator=(const TIEPen&) = delete;

  // ColorToARGB of the colour, alpha 0 for psClear.
  uint32_t GetARGB() const;
  // Makes the GDI+ pen anew; raises "Cannot create TIEPen. GdipCreatePen1 failed."
  void RecreateHandle();

  TColor Color() const { return FColor; }
  void SetColor(TColor value);
  int32_t Transparency() const { return FTransparency; }  // 255 opaque
  void SetTransparency(int32_t value);
  float Width() const { return FWidth; }
  void SetWidth(float value);
  TPenStyle Style() const { return FStyle; }
  void SetStyle(TPenStyle value);
  TPenMode Mode() const { return FMode; }
  void SetMode(TPenMode value);
  uint8_t LineJoin() const { return FLineJoin; }  // 0 miter, 1 bevel, 2 round
  void SetLineJoin(uint8_t value);
  // Gives the framework pen a GDI pen's properties.
  void SetHandle(HPEN value);
  // The GDI+ pen; null without GDI+.
  void* GdiPlusHandle() const { return FHandle; }

private:
  void ApplyStyle();
  void* FHandle = nullptr;
  TPen* FPen;
  TColor FColor;
  int32_t FTransparency = 255;
  float FWidth;
  TPenStyle FStyle;
  TPenMode FMode;
  uint8_t FLineJoin = 0;
};

// A framework brush with a GDI+ brush kept in step with it.
class TIEBrush : public TObject {
public:
  explicit TIEBrush(TBrush* brush);
  ~TIEBrush() override;
  TIEBrush(const TIEBrush&) = delete;
  TIEBrush& operator=(const TIEBrush&) = delete;

  // ColorToARGB of the colour, alpha 0 for bsClear.
  uint32_t GetARGB() const;
  // Makes the GDI+ brush anew: solid for bsSolid and bsClear, hatched for the six
  // hatch styles, none for any other; raises when GDI+ refuses.
  void RecreateHandle();

  TColor Color() const { return FColor; }
  void SetColor(TColor value);
  int32_t Transparency() const { return FTransparency; }
  void SetTransparency(int32_t value);
  TBrushStyle Style() const { return FStyle; }
  void SetStyle(TBrushStyle value);
  void* GdiPlusHandle() const { return FHandle; }

private:
  void* FHandle = nullptr;
  TBrush* FBrush;
  TColor FColor;
  int32_t FTransparency = 255;
  TColor FBackColor = clBlack;
  int32_t FBackTransparency = 0;
  TBrushStyle FStyle;
};

class TIECanvas : public TObject {
public:
  // Raises "Cannot create TIECanvas. GdipCreateFromHDC failed." when GDI+ is
  // used and refuses the device context.
  TIECanvas(TCanvas* canvas, bool useGdiPlus = true, bool antialias = true);
  ~TIECanvas() override;
  TIECanvas(const TIECanvas&) = delete;
  TIECanvas& operator=(const TIECanvas&) = delete;

  HDC GetHandle();
  TCanvas* Canvas() const { return FCanvas; }
  TIEPen* Pen() const { return FPen.get(); }
  TIEBrush* Brush() const { return FBrush.get(); }
  // True when figures go through GDI+.
  bool UsesGdiPlus() const { return FUseGdiPlus; }
  // 5 anti-aliased, 2 not (GDI+'s own modes plus one).
  void SetSmoothingMode(int mode);

  TPoint PenPos() const { return TPoint{FPenPosX, FPenPosY}; }
  void SetPenPos(TPoint point);
  void MoveTo(int x, int y);
  void LineTo(int x, int y);
  void DrawLine(int x1, int y1, int x2, int y2);
  // Fills the same pixels as GDI: left and top in, right and bottom out.
  void FillRect(const TRect& rect);
  void Rectangle(int x1, int y1, int x2, int y2);
  void RectangleRect(const TRect& rect);
  void Ellipse(int x1, int y1, int x2, int y2);
  void EllipseRect(const TRect& rect);
  // Uses points[0..lastIndex]; outlined, then filled.
  void Polygon(const TPoint* points, int lastIndex);
  void Polygon(const std::vector<TPoint>& points);
  void Polyline(const TPoint* points, int lastIndex);
  void Polyline(const std::vector<TPoint>& points);
  // Bounding box, start point, end point; counter-clockwise from start to end.
  void Arc(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4);
  void RoundRect(int x1, int y1, int x2, int y2, int cornerWidth, int cornerHeight);
  void RoundRect(const TRect& rect, int cornerWidth, int cornerHeight) {
    RoundRect(rect.left, rect.top, rect.right, rect.bottom, cornerWidth, cornerHeight);
  }

  int TextWidth(const std::string& text);
  int TextHeight(const std::string& text);
  void TextOut(int x, int y, const std::string& text);
  TFont* GetFont();
  void TextRect(const TRect& rect, int x, int y, const std::string& text);
  // ExtTextOut with the canvas's text flags, clipped to the rectangle.
  void TextRectEx(const TRect& rect, int x, int y, const std::string& text);

private:
  void* FGraphics = nullptr;
  TCanvas* FCanvas;
  std::unique_ptr<TIEPen> FPen;
  int32_t FPenPosX = 0;
  int32_t FPenPosY = 0;
  std::unique_ptr<TIEBrush> FBrush;
  bool FUseGdiPlus = false;
};
