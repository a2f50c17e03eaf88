#include "platform/graphics/gdi_plus.h"

#include <cairo.h>

#include <cmath>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/graphics/gdi_internal.h"

namespace Gdiplus {

// A figure is a run of points joined by straight lines; curves are flattened
// when they are added, finely enough that no facet shows.
struct Figure {
  std::vector<qvgdi::PointD> points;
  bool closed = false;
};
using Shape = std::vector<Figure>;

struct GpGraphics {
  HDC hdc = nullptr;
  SmoothingMode smoothing = SmoothingModeDefault;
};

struct GpPen {
  ARGB color = 0;
  REAL width = 1;
  DashStyle dash = DashStyleSolid;
  LineJoin join = LineJoinMiter;
};

struct GpBrush {
  bool hatched = false;
  HatchStyle hatch = HatchStyleHorizontal;
  ARGB fore = 0;
  ARGB back = 0;
};

struct GpPath {
  FillMode fillMode = FillModeAlternate;
  Shape figures;
  bool open = false;  // the last figure takes the next points
};

}  // namespace Gdiplus

namespace {

using namespace Gdiplus;
using qvgdi::PointD;

// Every object handed out, so that a stale or foreign pointer is refused
// instead of being followed; the last shutdown frees what callers left behind.
struct Module {
  std::set<ULONG_PTR> tokens;
  ULONG_PTR nextToken = 1;
  Status startupFailure = Ok;
  std::set<GpGraphics*> graphics;
  std::set<GpPen*> pens;
  std::set<GpBrush*> brushes;
  std::set<GpPath*> paths;
};

Module& State() {
  static Module module;
  return module;
}

bool Started() { return !State().tokens.empty(); }

template <class T>
bool Known(const std::set<T*>& set, T* object) {
  return object && set.count(object) != 0;
}

template <class T>
void FreeAll(std::set<T*>& set) {
  for (T* object : set) delete object;
  set.clear();
}

// ---------------------------------------------------------------------------
// Geometry
// ---------------------------------------------------------------------------
constexpr double kPi = 3.14159265358979323846;
constexpr double kFlatness = 0.1;  // largest gap between a curve and its chords, in pixels

// The parameter of the point that the ray at angle theta (radians, clockwise on
// the screen) meets on an ellipse: GDI+ angles are true angles, not parameters.
double EllipseParameter(double rx, double ry, double theta) {
  if (rx <= 0 || ry <= 0) return theta;
  return std::atan2(rx * std::sin(theta), ry * std::cos(theta));
}

// Appends the arc of the ellipse in the box (x, y, w, h) from startDeg sweeping
// sweepDeg (clockwise when positive) to the points, its first point included.
void AppendArc(std::vector<PointD>& out, double x, double y, double w, double h, double startDeg, double sweepDeg) {
  if (w < 0) x += w, w = -w;
  if (h < 0) y += h, h = -h;
  const double rx = w / 2, ry = h / 2, cx = x + rx, cy = y + ry;
  const double theta0 = startDeg * kPi / 180;
  const double t0 = EllipseParameter(rx, ry, theta0);
  double t1;
  if (std::abs(sweepDeg) >= 360) {
    t1 = t0 + (sweepDeg > 0 ? 2 * kPi : -2 * kPi);
  } else {
    t1 = EllipseParameter(rx, ry, (startDeg + sweepDeg) * kPi / 180);
    if (rx > 0 && ry > 0) {
      if (sweepDeg > 0)
        while (t1 < t0) t1 += 2 * kPi;
      else if (sweepDeg < 0)
        while (t1 > t0) t1 -= 2 * kPi;
      else
        t1 = t0;
    }
  }
  const double r = std::max(rx, ry);
  const double step = r > kFlatness ? 2 * std::acos(1 - kFlatness / r) : kPi / 2;
  const double span = std::abs(t1 - t0);
  const int n = static_cast<int>(std::clamp(std::ceil(span / step), 1.0, 4096.0));
  for (int i = 0; i <= n; ++i) {
    const double t = t0 + (t1 - t0) * i / n;
    out.push_back({cx + rx * std::cos(t), cy + ry * std::sin(t)});
  }
}

Figure RectangleFigure(double x, double y, double w, double h) {
  return Figure{{{x, y}, {x + w, y}, {x + w, y + h}, {x, y + h}}, true};
}

Figure EllipseFigure(double x, double y, double w, double h) {
  Figure f;
  AppendArc(f.points, x, y, w, h, 0, 360);
  f.points.pop_back();  // the closing point repeats the first
  f.closed = true;
  return f;
}

Figure PointsFigure(const GpPoint* points, INT count, bool closed) {
  Figure f;
  f.closed = closed;
  f.points.reserve(static_cast<size_t>(count));
  for (INT i = 0; i < count; ++i) f.points.push_back({double(points[i].X), double(points[i].Y)});
  return f;
}

// ---------------------------------------------------------------------------
// Painting: figure -> 32-bit scratch of its clipped bounds -> the DC's bitmap
// ---------------------------------------------------------------------------
struct Paint {
  const GpPen* pen = nullptr;      // stroke with this pen, or
  const GpBrush* brush = nullptr;  // fill with this brush
  FillMode fillMode = FillModeAlternate;
};

bool Antialiased(SmoothingMode mode) {
  return mode == SmoothingModeHighQuality || mode == SmoothingModeAntiAlias || mode == SmoothingModeAntiAlias8x8;
}

// Cairo keeps coordinates in 24.8 fixed point; far-away points are pulled in.
constexpr double kCairoLimit = double(1 << 21);

void AddShape(cairo_t* cr, const Shape& shape, const qvgdi::Matrix& m, double ox, double oy) {
  for (const Figure& f : shape) {
    if (f.points.empty()) continue;
    bool first = true;
    for (const PointD& p : f.points) {
      // GDI+ puts pixel centres on whole numbers, Cairo on halves.
      double x = std::clamp(m.m11 * p.x + m.m21 * p.y + m.dx + 0.5 - ox, -kCairoLimit, kCairoLimit);
      double y = std::clamp(m.m12 * p.x + m.m22 * p.y + m.dy + 0.5 - oy, -kCairoLimit, kCairoLimit);
      if (first)
        cairo_move_to(cr, x, y);
      else
        cairo_line_to(cr, x, y);
      first = false;
    }
    if (f.closed) cairo_close_path(cr);
  }
}

void SetStroke(cairo_t* cr, const GpPen& pen, double scale) {
  // GDI+ draws no line thinner than a pixel.
  const double width = std::max(1.0, double(pen.width) * scale);
  cairo_set_line_width(cr, width);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
  static const cairo_line_join_t joins[] = {CAIRO_LINE_JOIN_MITER, CAIRO_LINE_JOIN_BEVEL, CAIRO_LINE_JOIN_ROUND,
                                            CAIRO_LINE_JOIN_MITER};
  cairo_set_line_join(cr, joins[pen.join]);
  cairo_set_miter_limit(cr, 10);
  // Dash lengths are in pen widths.
  static const std::vector<double> dashes[] = {{}, {3, 1}, {1, 1}, {3, 1, 1, 1}, {3, 1, 1, 1, 1, 1}};
  const std::vector<double>& pattern = dashes[pen.dash <= DashStyleDashDotDot ? pen.dash : 0];
  std::vector<double> lengths;
  for (double d : pattern) lengths.push_back(d * width);
  cairo_set_dash(cr, lengths.data(), static_cast<int>(lengths.size()), 0);
}

void SetColor(cairo_t* cr, ARGB c) {
  cairo_set_source_rgba(cr, ((c >> 16) & 0xFF) / 255.0, ((c >> 8) & 0xFF) / 255.0, (c & 0xFF) / 255.0,
                        (c >> 24) / 255.0);
}

uint32_t Premultiplied(ARGB c) {
  const uint32_t a = c >> 24;
  auto ch = [a](uint32_t v) { return (v * a + 127) / 255; };
  return (a << 24) | (ch((c >> 16) & 0xFF) << 16) | (ch((c >> 8) & 0xFF) << 8) | ch(c & 0xFF);
}

// The hatch tiles repeat from the device origin, whatever the figure's bounds.
cairo_pattern_t* HatchPattern(const GpBrush& brush, double ox, double oy) {
  cairo_surface_t* tile = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 8, 8);
  cairo_surface_flush(tile);
  uint8_t* data = cairo_image_surface_get_data(tile);
  const int stride = cairo_image_surface_get_stride(tile);
  const uint32_t fore = Premultiplied(brush.fore), back = Premultiplied(brush.back);
  for (int y = 0; y < 8; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(data + y * stride);
    for (int x = 0; x < 8; ++x) row[x] = (qvgdi::kHatches[brush.hatch][y] >> (7 - x)) & 1 ? fore : back;
  }
  cairo_surface_mark_dirty(tile);
  cairo_pattern_t* pattern = cairo_pattern_create_for_surface(tile);
  cairo_surface_destroy(tile);
  cairo_pattern_set_extend(pattern, CAIRO_EXTEND_REPEAT);
  cairo_pattern_set_filter(pattern, CAIRO_FILTER_NEAREST);
  cairo_matrix_t m;
  cairo_matrix_init_translate(&m, ox, oy);
  cairo_pattern_set_matrix(pattern, &m);
  return pattern;
}

void Rasterise(cairo_t* cr, const Shape& shape, const Paint& paint, const qvgdi::Matrix& m, double scale,
               double ox, double oy, bool antialias) {
  cairo_set_antialias(cr, antialias ? CAIRO_ANTIALIAS_GRAY : CAIRO_ANTIALIAS_NONE);
  AddShape(cr, shape, m, ox, oy);
  if (paint.pen) {
    SetStroke(cr, *paint.pen, scale);
    SetColor(cr, paint.pen->color);
    cairo_stroke(cr);
    return;
  }
  cairo_set_fill_rule(cr, paint.fillMode == FillModeWinding ? CAIRO_FILL_RULE_WINDING : CAIRO_FILL_RULE_EVEN_ODD);
  if (paint.brush->hatched) {
    cairo_pattern_t* pattern = HatchPattern(*paint.brush, ox, oy);
    cairo_set_source(cr, pattern);
    cairo_pattern_destroy(pattern);
  } else {
    SetColor(cr, paint.brush->fore);
  }
  cairo_fill(cr);
}

// The device pixels the figure may touch, or an empty rectangle.
RECT FigureBounds(const Shape& shape, const Paint& paint, const qvgdi::Matrix& m, double scale) {
  cairo_surface_t* probe = cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
  cairo_t* cr = cairo_create(probe);
  AddShape(cr, shape, m, 0, 0);
  double x1, y1, x2, y2;
  if (paint.pen) {
    SetStroke(cr, *paint.pen, scale);
    cairo_set_dash(cr, nullptr, 0, 0);
    cairo_stroke_extents(cr, &x1, &y1, &x2, &y2);
  } else {
    cairo_fill_extents(cr, &x1, &y1, &x2, &y2);
  }
  cairo_destroy(cr);
  cairo_surface_destroy(probe);
  if (!(x2 > x1) || !(y2 > y1)) return RECT{0, 0, 0, 0};
  // One pixel more on each side for the anti-aliased fringe.
  return RECT{int(std::floor(x1)) - 1, int(std::floor(y1)) - 1, int(std::ceil(x2)) + 1, int(std::ceil(y2)) + 1};
}

// Lays the premultiplied scratch over the DC's bitmap inside the drawable area.
void Composite(qvgdi::DCObj* dc, const qvgdi::Region& area, cairo_surface_t* scratch, const RECT& b) {
  qvgdi::Surface* s = qvgdi::DCSurface(dc);
  const qvgdi::PixelCodec codec(*s);
  cairo_surface_flush(scratch);
  const uint8_t* data = cairo_image_surface_get_data(scratch);
  const int stride = cairo_image_surface_get_stride(scratch);
  for (int y = b.top; y < b.bottom; ++y) {
    const std::vector<qvgdi::Span>* spans = area.SpansAt(y);
    if (!spans) continue;
    const auto* src = reinterpret_cast<const uint32_t*>(data + size_t(y - b.top) * stride);
    uint8_t* row = s->Row(y);
    for (const qvgdi::Span& span : *spans) {
      const int x0 = std::max<int>(span.x0, b.left), x1 = std::min<int>(span.x1, b.right);
      for (int x = x0; x < x1; ++x) {
        const uint32_t p = src[x - b.left];
        const uint32_t a = p >> 24;
        if (a == 0) continue;
        const COLORREF under = codec.ToColor(codec.Read(row, x));
        const uint32_t keep = 255 - a;
        auto mix = [keep](uint32_t top, uint32_t bottom) { return std::min<uint32_t>(255, top + (bottom * keep + 127) / 255); };
        const uint32_t r = mix((p >> 16) & 0xFF, GetRValue(under));
        const uint32_t g = mix((p >> 8) & 0xFF, GetGValue(under));
        const uint32_t bl = mix(p & 0xFF, GetBValue(under));
        codec.Write(row, x, codec.FromColor(RGB(r, g, bl)));
      }
    }
  }
}

Status Draw(GpGraphics* g, const Shape& shape, const Paint& paint) {
  auto lock = qvgdi::Lock();
  qvgdi::DCObj* dc = qvgdi::FindDC(g->hdc);
  if (!dc || dc->recorder) return Win32Error;
  const ARGB color = paint.pen ? paint.pen->color : paint.brush->fore | (paint.brush->hatched ? paint.brush->back : 0);
  if ((color >> 24) == 0) return Ok;  // nothing shows
  const qvgdi::Matrix m = qvgdi::DeviceMatrix(dc);
  const double scale = qvgdi::DeviceScale(dc);
  const qvgdi::Region area = qvgdi::DrawableArea(dc);
  RECT b = FigureBounds(shape, paint, m, scale);
  const RECT clip = area.Bounds();
  b = RECT{std::max(b.left, clip.left), std::max(b.top, clip.top), std::min(b.right, clip.right),
           std::min(b.bottom, clip.bottom)};
  if (b.right <= b.left || b.bottom <= b.top) return Ok;
  cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, b.right - b.left, b.bottom - b.top);
  if (cairo_surface_status(scratch) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(scratch);
    return OutOfMemory;
  }
  cairo_t* cr = cairo_create(scratch);
  Rasterise(cr, shape, paint, m, scale, b.left, b.top, Antialiased(g->smoothing));
  cairo_destroy(cr);
  Composite(dc, area, scratch, b);
  cairo_surface_destroy(scratch);
  return Ok;
}

// ---------------------------------------------------------------------------
// The flat calls
// ---------------------------------------------------------------------------
Status Startup(ULONG_PTR* token, const GdiplusStartupInput* input, GdiplusStartupOutput* output) {
  auto lock = qvgdi::Lock();
  if (!token || !input) return InvalidParameter;
  if (input->GdiplusVersion != 1) return UnsupportedGdiplusVersion;
  // Without our own background thread the caller must take the hooks.
  if (input->SuppressBackgroundThread && !output) return InvalidParameter;
  Module& m = State();
  if (m.startupFailure != Ok) return m.startupFailure;
  if (output) *output = GdiplusStartupOutput{nullptr, nullptr};
  *token = m.nextToken++;
  m.tokens.insert(*token);
  return Ok;
}

void Shutdown(ULONG_PTR token) {
  auto lock = qvgdi::Lock();
  Module& m = State();
  if (!m.tokens.erase(token) || !m.tokens.empty()) return;
  FreeAll(m.graphics);
  FreeAll(m.pens);
  FreeAll(m.brushes);
  FreeAll(m.paths);
}

Status CreateFromHDC(HDC hdc, GpGraphics** graphics) {
  auto lock = qvgdi::Lock();
  if (!Started()) return GdiplusNotInitialized;
  if (!graphics) return InvalidParameter;
  *graphics = nullptr;
  qvgdi::DCObj* dc = qvgdi::FindDC(hdc);
  if (!dc) return OutOfMemory;  // what GDI+ answers for a handle that is no DC
  if (dc->recorder) return NotImplemented;  // metafile DCs are not drawn through here
  auto* g = new GpGraphics{hdc, SmoothingModeDefault};
  State().graphics.insert(g);
  *graphics = g;
  return Ok;
}

Status DeleteGraphics(GpGraphics* graphics) {
  auto lock = qvgdi::Lock();
  if (!Started()) return GdiplusNotInitialized;
  if (!State().graphics.erase(graphics)) return InvalidParameter;
  delete graphics;
  return Ok;
}

Status SetSmoothing(GpGraphics* graphics, SmoothingMode mode) {
  auto lock = qvgdi::Lock();
  if (!Started()) return GdiplusNotInitialized;
  if (!Known(State().graphics, graphics) || mode < SmoothingModeDefault || mode > SmoothingModeAntiAlias8x8)
    return InvalidParameter;
  graphics->smoothing = mode;
  return Ok;
}

Status CreatePen(ARGB color, REAL width, Unit unit, GpPen** pen) {
  auto lock = qvgdi::Lock();
  if (!Started()) return GdiplusNotInitialized;
  if (!pen) return InvalidParameter;
  *pen = nullptr;
  // Pens measured in pixels or world units (which are pixels here) only.
  if (unit != UnitPixel && unit != UnitWorld) return NotImplemented;
  if (!(width >= 0) || !std::isfinite(width)) return InvalidParameter;
  auto* p = new GpPen{color, width, DashStyleSolid, LineJoinMiter};
  State().pens.insert(p);
  *pen = p;
  return Ok;
}

Status DeletePen(GpPen* pen) {
  auto lock = qvgdi::Lock();
  if (!Started()) return GdiplusNotInitialized;
  if (!State().pens.erase(pen)) return InvalidParameter;
  delete pen;
  return Ok;
}

Status SetPenWidth(GpPen* pen, REAL width) {
  auto lock = qvgdi::Lock();
  if (!Started()) return GdiplusNotInitialized;
  if (!Known(State().pens, pen) || !(width >= 0) || !std::isfinite(width)) return InvalidParameter;
  pen->width = width;
  return Ok;
}

Status SetPenColor(GpPen* pen, ARGB color) {
  auto lock = qvgdi::Lock();
  if (!Started()) return GdiplusNotInitialized;
  if (!Known(State().pens, pen)) return InvalidParameter;
  pen->color = color;
  return Ok;
}

Status SetPenDashStyle(GpPen* pen, DashStyle style) {
  auto lock = qvgdi::Lock();
  if (!Started()) return GdiplusNotInitialized;
  if (!Known(State().pens, pen) || style < DashStyleSolid || style > DashStyleCustom) return InvalidParameter;
  if (style == DashStyleCustom) return NotImplemented;  // there is no call here that sets the array
  pen->dash = style;
  return Ok;
}

Status SetPenLineJoin(GpPen* pen, LineJoin join) {
  auto lock = qvgdi::Lock();
  if (!Started()) return GdiplusNotInitialized;
  if (!Known(State().pens, pen) || join < LineJoinMiter || join > LineJoinMiterClipped) return InvalidParameter;
  pen->join = join;
  return Ok;
}

Status CreateSolidFill(ARGB color, GpSolidFill** brush) {
  auto lock = qvgdi::Lock();
  if (!Started()) return GdiplusNotInitialized;
  if (!brush) return InvalidParameter;
  auto* b = new GpBrush{false, HatchStyleHorizontal, color, 0};
  State().brushes.insert(b);
  *brush = b;
  return Ok;
}

Status CreateHatchBrush(HatchStyle style, ARGB fore, ARGB back, GpHatch** brush) {
  auto lock = qvgdi::Lock();
  if (!Started()) return GdiplusNotInitialized;
  if (!brush) return InvalidParameter;
  *brush = nullptr;
  if (style < HatchStyleHorizontal || style > HatchStyleDiagonalCross) return InvalidParameter;
  auto* b = new GpBrush{true, style, fore, back};
  State().brushes.insert(b);
  *brush = b;
  return Ok;
}

Status DeleteBrush(GpBrush* brush) {
  auto lock = qvgdi::Lock();
  if (!Started()) return GdiplusNotInitialized;
  if (!State().brushes.erase(brush)) return InvalidParameter;
  delete brush;
  return Ok;
}

// The common checks of the drawing calls.
Status CanStroke(GpGraphics* graphics, GpPen* pen) {
  if (!Started()) return GdiplusNotInitialized;
  return Known(State().graphics, graphics) && Known(State().pens, pen) ? Ok : InvalidParameter;
}
Status CanFill(GpGraphics* graphics, GpBrush* brush) {
  if (!Started()) return GdiplusNotInitialized;
  return Known(State().graphics, graphics) && Known(State().brushes, brush) ? Ok : InvalidParameter;
}

Status DrawLine(GpGraphics* graphics, GpPen* pen, REAL x1, REAL y1, REAL x2, REAL y2) {
  auto lock = qvgdi::Lock();
  if (Status s = CanStroke(graphics, pen); s != Ok) return s;
  return Draw(graphics, {Figure{{{x1, y1}, {x2, y2}}, false}}, Paint{pen});
}

Status FillRectangle(GpGraphics* graphics, GpBrush* brush, REAL x, REAL y, REAL w, REAL h) {
  auto lock = qvgdi::Lock();
  if (Status s = CanFill(graphics, brush); s != Ok) return s;
  if (!(w > 0) || !(h > 0)) return Ok;  // an empty rectangle fills nothing
  return Draw(graphics, {RectangleFigure(x, y, w, h)}, Paint{nullptr, brush});
}

Status DrawRectangle(GpGraphics* graphics, GpPen* pen, REAL x, REAL y, REAL w, REAL h) {
  auto lock = qvgdi::Lock();
  if (Status s = CanStroke(graphics, pen); s != Ok) return s;
  return Draw(graphics, {RectangleFigure(x, y, w, h)}, Paint{pen});
}

Status FillEllipse(GpGraphics* graphics, GpBrush* brush, REAL x, REAL y, REAL w, REAL h) {
  auto lock = qvgdi::Lock();
  if (Status s = CanFill(graphics, brush); s != Ok) return s;
  if (w == 0 || h == 0) return Ok;
  return Draw(graphics, {EllipseFigure(x, y, w, h)}, Paint{nullptr, brush});
}

Status DrawEllipse(GpGraphics* graphics, GpPen* pen, REAL x, REAL y, REAL w, REAL h) {
  auto lock = qvgdi::Lock();
  if (Status s = CanStroke(graphics, pen); s != Ok) return s;
  return Draw(graphics, {EllipseFigure(x, y, w, h)}, Paint{pen});
}

Status DrawPolygonI(GpGraphics* graphics, GpPen* pen, const GpPoint* points, INT count) {
  auto lock = qvgdi::Lock();
  if (Status s = CanStroke(graphics, pen); s != Ok) return s;
  if (!points || count < 2) return InvalidParameter;
  return Draw(graphics, {PointsFigure(points, count, true)}, Paint{pen});
}

Status FillPolygonI(GpGraphics* graphics, GpBrush* brush, const GpPoint* points, INT count, FillMode mode) {
  auto lock = qvgdi::Lock();
  if (Status s = CanFill(graphics, brush); s != Ok) return s;
  if (!points || count < 3 || (mode != FillModeAlternate && mode != FillModeWinding)) return InvalidParameter;
  return Draw(graphics, {PointsFigure(points, count, true)}, Paint{nullptr, brush, mode});
}

Status DrawLinesI(GpGraphics* graphics, GpPen* pen, const GpPoint* points, INT count) {
  auto lock = qvgdi::Lock();
  if (Status s = CanStroke(graphics, pen); s != Ok) return s;
  if (!points || count < 2) return InvalidParameter;
  return Draw(graphics, {PointsFigure(points, count, false)}, Paint{pen});
}

Status DrawArc(GpGraphics* graphics, GpPen* pen, REAL x, REAL y, REAL w, REAL h, REAL start, REAL sweep) {
  auto lock = qvgdi::Lock();
  if (Status s = CanStroke(graphics, pen); s != Ok) return s;
  if (!std::isfinite(start) || !std::isfinite(sweep)) return InvalidParameter;
  Figure f;
  AppendArc(f.points, x, y, w, h, start, sweep);
  return Draw(graphics, {f}, Paint{pen});
}

Status CreatePath(FillMode mode, GpPath** path) {
  auto lock = qvgdi::Lock();
  if (!Started()) return GdiplusNotInitialized;
  if (!path || (mode != FillModeAlternate && mode != FillModeWinding)) return InvalidParameter;
  auto* p = new GpPath{mode, {}, false};
  State().paths.insert(p);
  *path = p;
  return Ok;
}

Status DeletePath(GpPath* path) {
  auto lock = qvgdi::Lock();
  if (!Started()) return GdiplusNotInitialized;
  if (!State().paths.erase(path)) return InvalidParameter;
  delete path;
  return Ok;
}

// An arc joins the open figure with a straight line from its last point.
Status AddPathArc(GpPath* path, REAL x, REAL y, REAL w, REAL h, REAL start, REAL sweep) {
  auto lock = qvgdi::Lock();
  if (!Started()) return GdiplusNotInitialized;
  if (!Known(State().paths, path) || !std::isfinite(start) || !std::isfinite(sweep)) return InvalidParameter;
  if (!path->open) {
    path->figures.push_back(Figure{});
    path->open = true;
  }
  AppendArc(path->figures.back().points, x, y, w, h, start, sweep);
  return Ok;
}

Status ClosePathFigure(GpPath* path) {
  auto lock = qvgdi::Lock();
  if (!Started()) return GdiplusNotInitialized;
  if (!Known(State().paths, path)) return InvalidParameter;
  if (path->open) path->figures.back().closed = true;
  path->open = false;
  return Ok;
}

Status FillPath(GpGraphics* graphics, GpBrush* brush, GpPath* path) {
  auto lock = qvgdi::Lock();
  if (Status s = CanFill(graphics, brush); s != Ok) return s;
  if (!Known(State().paths, path)) return InvalidParameter;
  return Draw(graphics, path->figures, Paint{nullptr, brush, path->fillMode});
}

Status DrawPath(GpGraphics* graphics, GpPen* pen, GpPath* path) {
  auto lock = qvgdi::Lock();
  if (Status s = CanStroke(graphics, pen); s != Ok) return s;
  if (!Known(State().paths, path)) return InvalidParameter;
  return Draw(graphics, path->figures, Paint{pen});
}

// Each entry point with the type its callers cast it to.
template <class T>
FARPROC Entry(T function) {
  return reinterpret_cast<FARPROC>(function);
}

const std::map<std::string, FARPROC>& EntryPoints() {
  static const std::map<std::string, FARPROC> table = {
      {"GdiplusStartup", Entry<TGdiplusStartup>(&Startup)},
      {"GdiplusShutdown", Entry<TGdiplusShutdown>(&Shutdown)},
      {"GdipCreateFromHDC", Entry<TGdipCreateFromHDC>(&CreateFromHDC)},
      {"GdipDeleteGraphics", Entry<TGdipDeleteGraphics>(&DeleteGraphics)},
      {"GdipSetSmoothingMode", Entry<TGdipSetSmoothingMode>(&SetSmoothing)},
      {"GdipCreatePen1", Entry<TGdipCreatePen1>(&CreatePen)},
      {"GdipDeletePen", Entry<TGdipDeletePen>(&DeletePen)},
      {"GdipSetPenWidth", Entry<TGdipSetPenWidth>(&SetPenWidth)},
      {"GdipSetPenColor", Entry<TGdipSetPenColor>(&SetPenColor)},
      {"GdipSetPenDashStyle", Entry<TGdipSetPenDashStyle>(&SetPenDashStyle)},
      {"GdipSetPenLineJoin", Entry<TGdipSetPenLineJoin>(&SetPenLineJoin)},
      {"GdipCreateSolidFill", Entry<TGdipCreateSolidFill>(&CreateSolidFill)},
      {"GdipCreateHatchBrush", Entry<TGdipCreateHatchBrush>(&CreateHatchBrush)},
      {"GdipDeleteBrush", Entry<TGdipDeleteBrush>(&DeleteBrush)},
      {"GdipDrawLine", Entry<TGdipDrawLine>(&DrawLine)},
      {"GdipFillRectangle", Entry<TGdipFillRectangle>(&FillRectangle)},
      {"GdipDrawRectangle", Entry<TGdipDrawRectangle>(&DrawRectangle)},
      {"GdipFillEllipse", Entry<TGdipFillEllipse>(&FillEllipse)},
      {"GdipDrawEllipse", Entry<TGdipDrawEllipse>(&DrawEllipse)},
      {"GdipDrawPolygonI", Entry<TGdipDrawPolygonI>(&DrawPolygonI)},
      {"GdipFillPolygonI", Entry<TGdipFillPolygonI>(&FillPolygonI)},
      {"GdipDrawLinesI", Entry<TGdipDrawLinesI>(&DrawLinesI)},
      {"GdipDrawArc", Entry<TGdipDrawArc>(&DrawArc)},
      {"GdipCreatePath", Entry<TGdipCreatePath>(&CreatePath)},
      {"GdipDeletePath", Entry<TGdipDeletePath>(&DeletePath)},
      {"GdipAddPathArc", Entry<TGdipAddPathArc>(&AddPathArc)},
      {"GdipClosePathFigure", Entry<TGdipClosePathFigure>(&ClosePathFigure)},
      {"GdipFillPath", Entry<TGdipFillPath>(&FillPath)},
      {"GdipDrawPath", Entry<TGdipDrawPath>(&DrawPath)},
  };
  return table;
}

FARPROC LookupEntryPoint(const char* name) {
  const auto& table = EntryPoints();
  auto it = table.find(name);
  return it == table.end() ? nullptr : it->second;
}

}  // namespace

namespace Gdiplus {

void RegisterGdiPlusLibrary() { RegisterBuiltinLibrary("gdiplus.dll", &LookupEntryPoint); }

void SetGdiPlusStartupFailure(Status status) {
  auto lock = qvgdi::Lock();
  State().startupFailure = status;
}

int GdiPlusObjectCount() {
  auto lock = qvgdi::Lock();
  const Module& m = State();
  return static_cast<int>(m.graphics.size() + m.pens.size() + m.brushes.size() + m.paths.size());
}

}  // namespace Gdiplus
