#include "imaging/core/ie_canvas.h"

#include <algorithm>
#include <cmath>

#include "imaging/core/ie_helpers.h"
#include "imaging/core/ie_utils.h"
#include "platform/graphics/gdi_plus.h"
#include "platform/rtl/exceptions.h"
#include "platform/win/resources.h"

using namespace Gdiplus;

bool IEGdiPlusEnabled = true;

namespace {

// Looked up in this order; a missing one stays null without failing the rest.
const char* const kEntryNames[] = {
    "GdiplusStartup", "GdiplusShutdown", "GdipCreateFromHDC", "GdipDeleteGraphics", "GdipCreatePen1",
    "GdipDeletePen", "GdipDrawLine", "GdipSetSmoothingMode", "GdipSetPenWidth", "GdipSetPenColor",
    "GdipSetPenDashStyle", "GdipSetPenDashArray", "GdipDeleteBrush", "GdipCreateSolidFill", "GdipFillRectangle",
    "GdipDrawRectangle", "GdipCreateHatchBrush", "GdipDrawEllipse", "GdipFillEllipse", "GdipDrawPolygonI",
    "GdipFillPolygonI", "GdipDrawPie", "GdipFillPie", "GdipDrawLinesI", "GdipDrawArc",
    "GdipCreatePath", "GdipAddPathArc", "GdipDrawPath", "GdipFillPath", "GdipDeletePath",
    "GdipAddPathLine", "GdipSetPenLineJoin", "GdipSetWorldTransform", "GdipGetWorldTransform",
    "GdipResetWorldTransform", "GdipCreateMatrix", "GdipCreateMatrix2", "GdipDeleteMatrix", "GdipGetDC",
    "GdipReleaseDC", "GdipFlush", "GdipRotateWorldTransform", "GdipTranslateWorldTransform",
    "GdipScaleWorldTransform", "GdipStartPathFigure", "GdipClosePathFigure", "GdipResetPath"};
constexpr int kEntryCount = sizeof(kEntryNames) / sizeof(kEntryNames[0]);
static_assert(kEntryCount == 47);

// Indexes into kEntryNames of the calls this unit makes.
enum TGdipEntry : uint8_t {
  epStartup = 0, epShutdown = 1, epCreateFromHDC = 2, epDeleteGraphics = 3, epCreatePen1 = 4, epDeletePen = 5,
  epDrawLine = 6, epSetSmoothingMode = 7, epSetPenWidth = 8, epSetPenColor = 9, epSetPenDashStyle = 10,
  epDeleteBrush = 12, epCreateSolidFill = 13, epFillRectangle = 14, epDrawRectangle = 15, epCreateHatchBrush = 16,
  epDrawEllipse = 17, epFillEllipse = 18, epDrawPolygonI = 19, epFillPolygonI = 20, epDrawLinesI = 23,
  epDrawArc = 24, epCreatePath = 25, epAddPathArc = 26, epDrawPath = 27, epFillPath = 28, epDeletePath = 29,
  epSetPenLineJoin = 31, epClosePathFigure = 45
};

struct TGdiPlusState {
  HMODULE Module = nullptr;
  int32_t StartCount = 0;
  ULONG_PTR Token = 0;
  FARPROC Entries[kEntryCount] = {};
};

// Plain globals: the canvas runs on the user-interface thread only.
TGdiPlusState gGdiPlus;

template <class F>
F Entry(TGdipEntry e) {
  return reinterpret_cast<F>(gGdiPlus.Entries[e]);
}

void UnloadGdiPlus() {
  FreeLibrary(gGdiPlus.Module);
  gGdiPlus.Module = nullptr;
  gGdiPlus.Token = 0;
  std::fill(std::begin(gGdiPlus.Entries), std::end(gGdiPlus.Entries), nullptr);
}

uint32_t ARGBOf(TColor color, int32_t transparency) {
  return ColorToARGB(static_cast<uint32_t>(color), static_cast<uint8_t>(std::clamp(transparency, 0, 255)));
}

GpGraphics* Graphics(void* g) { return static_cast<GpGraphics*>(g); }
GpPen* PenOf(const TIEPen* pen) { return static_cast<GpPen*>(pen->GdiPlusHandle()); }
GpBrush* BrushOf(const TIEBrush* brush) { return static_cast<GpBrush*>(brush->GdiPlusHandle()); }

void OrderCorners(TRect& r) {
  if (r.left > r.right) std::swap(r.left, r.right);
  if (r.top > r.bottom) std::swap(r.top, r.bottom);
}

std::vector<GpPoint> GdiPlusPoints(const TPoint* points, int lastIndex) {
  std::vector<GpPoint> out;
  if (!points || lastIndex < 0) return out;
  out.reserve(size_t(lastIndex) + 1);
  for (int i = 0; i <= lastIndex; ++i) out.push_back(GpPoint{points[i].x, points[i].y});
  return out;
}

constexpr double kDegreesPerRadian = 57.295779513082320877;

}  // namespace

bool GdiPlusLoaded() { return gGdiPlus.Module != nullptr; }

bool GdiPlusAvailable() { return IEGdiPlusEnabled && GdiPlusLoaded(); }

int32_t GdiPlusStartCount() { return gGdiPlus.StartCount; }

void ResetGdiPlusState() {
  // A library still loaded (a second start-up in one process) is shut down
  // properly rather than forgotten with its session open.
  if (gGdiPlus.Module) {
    if (auto shutdown = Entry<TGdiplusShutdown>(epShutdown)) shutdown(gGdiPlus.Token);
    UnloadGdiPlus();
  }
  IEGdiPlusEnabled = true;
  gGdiPlus.StartCount = 0;
}

void StartGdiPlus() {
  ++gGdiPlus.StartCount;
  if (!IEGdiPlusEnabled || gGdiPlus.Module) return;
  // The platform's drawing layer offers GDI+ as a system library once asked to.
  RegisterGdiPlusLibrary();
  HMODULE module = LoadLibraryA("gdiplus.dll");
  if (!module) return;
  gGdiPlus.Module = module;
  for (int i = 0; i < kEntryCount; ++i) gGdiPlus.Entries[i] = GetProcAddress(module, kEntryNames[i]);
  GdiplusStartupInput input;  // version 1, no debug callback, our own thread, codecs allowed
  ULONG_PTR token = 0;
  auto startup = Entry<TGdiplusStartup>(epStartup);
  if (!startup || startup(&token, &input, nullptr) != Ok) {
    // Unloaded here without touching the count: the caller's StopGdiPlus still
    // pairs with this start.
    UnloadGdiPlus();
    return;
  }
  gGdiPlus.Token = token;
}

void StopGdiPlus() {
  if (gGdiPlus.StartCount > 0) --gGdiPlus.StartCount;
  if (!gGdiPlus.Module || gGdiPlus.StartCount > 0) return;
  if (auto shutdown = Entry<TGdiplusShutdown>(epShutdown)) shutdown(gGdiPlus.Token);
  UnloadGdiPlus();
}

// ---------------------------------------------------------------------------
// TIEPen
// ---------------------------------------------------------------------------
TIEPen::TIEPen(TPen* pen)
    : FPen(pen), FColor(pen->Color()), FWidth(float(pen->Width())), FStyle(pen->Style()), FMode(pen->Mode()) {
  if (GdiPlusAvailable()) RecreateHandle();
}

TIEPen::~TIEPen() {
  if (FHandle && GdiPlusAvailable())
    if (auto del = Entry<TGdipDeletePen>(epDeletePen)) del(PenOf(this));
}

uint32_t TIEPen::GetARGB() const { return ARGBOf(FColor, FStyle == psClear ? 0 : FTransparency); }

void TIEPen::RecreateHandle() {
  if (FHandle)
    if (auto del = Entry<TGdipDeletePen>(epDeletePen)) del(PenOf(this));
  FHandle = nullptr;
  GpPen* pen = nullptr;
  if (auto create = Entry<TGdipCreatePen1>(epCreatePen1)) create(GetARGB(), FWidth, UnitPixel, &pen);
  if (!pen) throw Exception("Cannot create TIEPen. GdipCreatePen1 failed.");
  FHandle = pen;
  ApplyStyle();
  if (auto join = Entry<TGdipSetPenLineJoin>(epSetPenLineJoin)) join(pen, static_cast<Gdiplus::LineJoin>(FLineJoin));
}

void TIEPen::ApplyStyle() {
  if (auto color = Entry<TGdipSetPenColor>(epSetPenColor)) color(PenOf(this), GetARGB());
  // psClear and psInsideFrame draw solid (a clear pen by its alpha of 0).
  const DashStyle dash = FStyle <= psDashDotDot ? static_cast<DashStyle>(FStyle) : DashStyleSolid;
  if (auto style = Entry<TGdipSetPenDashStyle>(epSetPenDashStyle)) style(PenOf(this), dash);
}

void TIEPen::SetColor(TColor value) {
  FColor = value;
  if (GdiPlusAvailable() && FHandle)
    if (auto color = Entry<TGdipSetPenColor>(epSetPenColor)) color(PenOf(this), GetARGB());
  FPen->SetColor(value);
}

void TIEPen::SetTransparency(int32_t value) {
  FTransparency = value;
  if (GdiPlusAvailable() && FHandle)
    if (auto color = Entry<TGdipSetPenColor>(epSetPenColor)) color(PenOf(this), GetARGB());
}

void TIEPen::SetWidth(float value) {
  FWidth = value;
  if (GdiPlusAvailable() && FHandle)
    if (auto width = Entry<TGdipSetPenWidth>(epSetPenWidth)) width(PenOf(this), value);
  FPen->SetWidth(static_cast<int>(std::trunc(value)));
}

void TIEPen::SetStyle(TPenStyle value) {
  FStyle = value;
  if (GdiPlusAvailable() && FHandle) ApplyStyle();
  FPen->SetStyle(value);
}

void TIEPen::SetMode(TPenMode value) {
  FMode = value;
  FPen->SetMode(value);
}

void TIEPen::SetLineJoin(uint8_t value) {
  FLineJoin = value;
  if (GdiPlusAvailable() && FHandle)
    if (auto join = Entry<TGdipSetPenLineJoin>(epSetPenLineJoin))
      join(PenOf(this), static_cast<Gdiplus::LineJoin>(value));
}

void TIEPen::SetHandle(HPEN value) { FPen->SetHandle(value); }

// ---------------------------------------------------------------------------
// TIEBrush
// ---------------------------------------------------------------------------
TIEBrush::TIEBrush(TBrush* brush) : FBrush(brush), FColor(brush->Color()), FStyle(brush->Style()) {
  if (GdiPlusAvailable()) RecreateHandle();
}

TIEBrush::~TIEBrush() {
  if (FHandle && GdiPlusAvailable())
    if (auto del = Entry<TGdipDeleteBrush>(epDeleteBrush)) del(BrushOf(this));
}

uint32_t TIEBrush::GetARGB() const { return ARGBOf(FColor, FStyle == bsClear ? 0 : FTransparency); }

void TIEBrush::RecreateHandle() {
  if (FHandle)
    if (auto del = Entry<TGdipDeleteBrush>(epDeleteBrush)) del(BrushOf(this));
  FHandle = nullptr;
  if (FStyle == bsSolid || FStyle == bsClear) {
    GpSolidFill* brush = nullptr;
    if (auto create = Entry<TGdipCreateSolidFill>(epCreateSolidFill)) create(GetARGB(), &brush);
    if (!brush) throw Exception("Cannot create TIEBrush. GdipCreateSolidFill failed.");
    FHandle = brush;
  } else if (FStyle >= bsHorizontal && FStyle <= bsDiagCross) {
    GpHatch* brush = nullptr;
    if (auto create = Entry<TGdipCreateHatchBrush>(epCreateHatchBrush))
      create(static_cast<HatchStyle>(FStyle - 2), GetARGB(), ARGBOf(FBackColor, FBackTransparency), &brush);
    if (!brush) throw Exception("Cannot create TIEBrush. GdipCreateHatchBrush failed.");
    FHandle = brush;
  }
}

void TIEBrush::SetColor(TColor value) {
  FColor = value;
  if (GdiPlusAvailable()) RecreateHandle();
  FBrush->SetColor(value);
}

void TIEBrush::SetTransparency(int32_t value) {
  FTransparency = value;
  if (GdiPlusAvailable()) RecreateHandle();
}

void TIEBrush::SetStyle(TBrushStyle value) {
  FStyle = value;
  if (GdiPlusAvailable()) RecreateHandle();
  FBrush->SetStyle(value);
}

// ---------------------------------------------------------------------------
// TIECanvas
// ---------------------------------------------------------------------------
TIECanvas::TIECanvas(TCanvas* canvas, bool useGdiPlus, bool antialias)
    : FCanvas(canvas),
      FPen(std::make_unique<TIEPen>(canvas->Pen())),
      FBrush(std::make_unique<TIEBrush>(canvas->Brush())),
      FUseGdiPlus(useGdiPlus && GdiPlusAvailable()) {
  if (FUseGdiPlus) {
    GpGraphics* graphics = nullptr;
    if (auto create = Entry<TGdipCreateFromHDC>(epCreateFromHDC)) create(canvas->Handle(), &graphics);
    if (!graphics) throw Exception("Cannot create TIECanvas. GdipCreateFromHDC failed.");
    FGraphics = graphics;
  }
  SetSmoothingMode(antialias ? 5 : 2);
}

TIECanvas::~TIECanvas() {
  FBrush.reset();
  FPen.reset();
  if (FUseGdiPlus && FGraphics)
    if (auto del = Entry<TGdipDeleteGraphics>(epDeleteGraphics)) del(Graphics(FGraphics));
}

HDC TIECanvas::GetHandle() { return FCanvas->Handle(); }

void TIECanvas::SetSmoothingMode(int mode) {
  if (!FUseGdiPlus) return;
  if (auto set = Entry<TGdipSetSmoothingMode>(epSetSmoothingMode))
    set(Graphics(FGraphics), static_cast<SmoothingMode>(mode - 1));
}

void TIECanvas::SetPenPos(TPoint point) { MoveTo(point.x, point.y); }

void TIECanvas::MoveTo(int x, int y) {
  FPenPosX = x;
  FPenPosY = y;
  if (!FUseGdiPlus) FCanvas->MoveTo(x, y);
}

void TIECanvas::LineTo(int x, int y) {
  if (FUseGdiPlus) {
    if (auto draw = Entry<TGdipDrawLine>(epDrawLine))
      draw(Graphics(FGraphics), PenOf(FPen.get()), REAL(FPenPosX), REAL(FPenPosY), REAL(x), REAL(y));
  } else {
    FCanvas->LineTo(x, y);
  }
  FPenPosX = x;
  FPenPosY = y;
}

void TIECanvas::DrawLine(int x1, int y1, int x2, int y2) {
  if (FUseGdiPlus) {
    if (auto draw = Entry<TGdipDrawLine>(epDrawLine))
      draw(Graphics(FGraphics), PenOf(FPen.get()), REAL(x1), REAL(y1), REAL(x2), REAL(y2));
  } else {
    FCanvas->Polygon({TPoint{x1, y1}, TPoint{x2, y2}});
  }
}

void TIECanvas::FillRect(const TRect& rect) {
  if (!FUseGdiPlus) {
    FCanvas->FillRect(rect);
    return;
  }
  TRect r = rect;
  OrderCorners(r);
  // GDI fills left..right-1: the rectangle's edges go on the pixel borders, half
  // a pixel before the centres GDI+ counts from, so both paths fill the same pixels.
  if (auto fill = Entry<TGdipFillRectangle>(epFillRectangle))
    fill(Graphics(FGraphics), BrushOf(FBrush.get()), REAL(r.left - 0.5), REAL(r.top - 0.5), REAL(r.right - r.left),
         REAL(r.bottom - r.top));
}

void TIECanvas::Rectangle(int x1, int y1, int x2, int y2) { RectangleRect(TRect{x1, y1, x2, y2}); }

void TIECanvas::RectangleRect(const TRect& rect) {
  if (!FUseGdiPlus) {
    FCanvas->Rectangle(rect);
    return;
  }
  TRect r = rect;
  OrderCorners(r);
  const REAL x = REAL(r.left), y = REAL(r.top), w = REAL(r.right - r.left - 1), h = REAL(r.bottom - r.top - 1);
  if (auto fill = Entry<TGdipFillRectangle>(epFillRectangle)) fill(Graphics(FGraphics), BrushOf(FBrush.get()), x, y, w, h);
  if (auto draw = Entry<TGdipDrawRectangle>(epDrawRectangle)) draw(Graphics(FGraphics), PenOf(FPen.get()), x, y, w, h);
}

void TIECanvas::Ellipse(int x1, int y1, int x2, int y2) { EllipseRect(TRect{x1, y1, x2, y2}); }

void TIECanvas::EllipseRect(const TRect& rect) {
  if (!FUseGdiPlus) {
    FCanvas->Ellipse(rect);
    return;
  }
  // An inverted box is drawn as its ordered one, and a box of one pixel or none
  // as a line or a dot: no negative size reaches GDI+.
  TRect r = rect;
  OrderCorners(r);
  const REAL x = REAL(r.left), y = REAL(r.top);
  const REAL w = REAL(std::max(r.right - r.left - 1, 0)), h = REAL(std::max(r.bottom - r.top - 1, 0));
  if (auto fill = Entry<TGdipFillEllipse>(epFillEllipse)) fill(Graphics(FGraphics), BrushOf(FBrush.get()), x, y, w, h);
  if (auto draw = Entry<TGdipDrawEllipse>(epDrawEllipse)) draw(Graphics(FGraphics), PenOf(FPen.get()), x, y, w, h);
}

void TIECanvas::Polygon(const TPoint* points, int lastIndex) {
  if (!points || lastIndex < 0) return;
  if (!FUseGdiPlus) {
    FCanvas->Polygon(std::vector<TPoint>(points, points + lastIndex + 1));
    return;
  }
  const std::vector<GpPoint> pts = GdiPlusPoints(points, lastIndex);
  const INT count = static_cast<INT>(pts.size());
  if (auto draw = Entry<TGdipDrawPolygonI>(epDrawPolygonI)) draw(Graphics(FGraphics), PenOf(FPen.get()), pts.data(), count);
  if (auto fill = Entry<TGdipFillPolygonI>(epFillPolygonI))
    fill(Graphics(FGraphics), BrushOf(FBrush.get()), pts.data(), count, FillModeAlternate);
}

void TIECanvas::Polygon(const std::vector<TPoint>& points) {
  Polygon(points.data(), static_cast<int>(points.size()) - 1);
}

void TIECanvas::Polyline(const TPoint* points, int lastIndex) {
  if (!points || lastIndex < 0) return;
  if (!FUseGdiPlus) {
    FCanvas->Polyline(std::vector<TPoint>(points, points + lastIndex + 1));
    return;
  }
  const std::vector<GpPoint> pts = GdiPlusPoints(points, lastIndex);
  if (auto draw = Entry<TGdipDrawLinesI>(epDrawLinesI))
    draw(Graphics(FGraphics), PenOf(FPen.get()), pts.data(), static_cast<INT>(pts.size()));
}

void TIECanvas::Polyline(const std::vector<TPoint>& points) {
  Polyline(points.data(), static_cast<int>(points.size()) - 1);
}

void TIECanvas::Arc(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4) {
  if (!FUseGdiPlus) {
    FCanvas->Arc(x1, y1, x2, y2, x3, y3, x4, y4);
    return;
  }
  // GDI+ draws clockwise, so the arc runs from the end point back to the start.
  // The box is taken as the ellipse's: one pixel in from the right and bottom
  // edges, so that an arc lies on the outline Ellipse draws in the same box, and
  // where GDI puts it.
  const int cx = (x1 + x2) / 2, cy = (y1 + y2) / 2;
  const double start = -LineAngle(cx, cy, x4, y4) * kDegreesPerRadian;
  const double sweep = AngleAtVertex(x3, y3, cx, cy, x4, y4) * kDegreesPerRadian;
  if (auto draw = Entry<TGdipDrawArc>(epDrawArc))
    draw(Graphics(FGraphics), PenOf(FPen.get()), REAL(x1), REAL(y1), REAL(x2 - x1 - 1), REAL(y2 - y1 - 1), REAL(start),
         REAL(sweep));
}

void TIECanvas::RoundRect(int x1, int y1, int x2, int y2, int cornerWidth, int cornerHeight) {
  if (!FUseGdiPlus) {
    FCanvas->RoundRect(x1, y1, x2, y2, cornerWidth, cornerHeight);
    return;
  }
  TRect r{x1, y1, x2, y2};
  OrderCorners(r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  const int cw = std::min(cornerWidth, w), ch = std::min(cornerHeight, h);
  auto create = Entry<TGdipCreatePath>(epCreatePath);
  auto addArc = Entry<TGdipAddPathArc>(epAddPathArc);
  GpPath* path = nullptr;
  if (!create || !addArc || create(FillModeAlternate, &path) != Ok || !path) return;
  // Every corner is the same cw x ch ellipse quarter, the right and bottom ones
  // ending on the last pixel inside the box, as GDI's RoundRect draws it.
  const REAL left = REAL(r.left), top = REAL(r.top);
  const REAL right = REAL(r.left + w - cw - 1), bottom = REAL(r.top + h - ch - 1);
  addArc(path, left, top, REAL(cw), REAL(ch), 180, 90);
  addArc(path, right, top, REAL(cw), REAL(ch), 270, 90);
  addArc(path, right, bottom, REAL(cw), REAL(ch), 0, 90);
  addArc(path, left, bottom, REAL(cw), REAL(ch), 90, 90);
  if (auto close = Entry<TGdipClosePathFigure>(epClosePathFigure)) close(path);
  if (auto fill = Entry<TGdipFillPath>(epFillPath)) fill(Graphics(FGraphics), BrushOf(FBrush.get()), path);
  if (auto draw = Entry<TGdipDrawPath>(epDrawPath)) draw(Graphics(FGraphics), PenOf(FPen.get()), path);
  if (auto del = Entry<TGdipDeletePath>(epDeletePath)) del(path);
}

int TIECanvas::TextWidth(const std::string& text) { return FCanvas->TextWidth(text); }

int TIECanvas::TextHeight(const std::string& text) { return FCanvas->TextHeight(text); }

void TIECanvas::TextOut(int x, int y, const std::string& text) { FCanvas->TextOut(x, y, text); }

TFont* TIECanvas::GetFont() { return FCanvas->Font(); }

void TIECanvas::TextRect(const TRect& rect, int x, int y, const std::string& text) {
  FCanvas->TextRect(rect, x, y, text);
}

void TIECanvas::TextRectEx(const TRect& rect, int x, int y, const std::string& text) {
  // Right-to-left reading would move x past the text when the canvas runs right
  // to left; the framework canvas here always runs left to right.
  const UINT flags = static_cast<UINT>(FCanvas->TextFlags()) | ETO_CLIPPED;
  ExtTextOutA(GetHandle(), x, y, flags, &rect, text.data(), static_cast<UINT>(text.size()), nullptr);
}
