// Lines and shapes: pens (styled one-pixel lines, wide lines with round ends),
// filled shapes, rectangles of user32 (FillRect, FrameRect, DrawEdge,
// DrawFocusRect) and region painting. Pens and shape interiors mix with the
// destination through the DC's binary raster operation.
#include <algorithm>
#include <cmath>
#include <functional>

#include "platform/graphics/gdi_metafile_internal.h"
#include "platform/graphics/graphics_types.h"

namespace qvgdi {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Shapes are only rasterised over the rows of the surface.
struct Painter {
  DCObj* dc;
  Surface* s;
  PixelCodec codec;
  Region area;
  uint8_t rop;

  explicit Painter(DCObj* d)
      : dc(d), s(DCSurface(d)), codec(*s), area(DrawableArea(d)), rop(Rop2ToRop3(d->state.rop2)) {}

  int RowMin() const { return 0; }
  int RowMax() const { return s->height; }

  void Plot(int x, int y, uint32_t value) {
    if (!area.Contains(x, y)) return;
    uint8_t* row = s->Row(y);
    codec.Write(row, x, ApplyRop3(rop, value, 0, codec.Read(row, x)));
  }

  void FillRegion(const Region& r, uint32_t value) {
    Region clipped = Region::Combine(r, area, RGN_AND);
    for (const Band& b : clipped.Bands())
      for (int y = b.y0; y < b.y1; ++y) {
        uint8_t* row = s->Row(y);
        for (const Span& sp : b.spans)
          for (int x = sp.x0; x < sp.x1; ++x) codec.Write(row, x, ApplyRop3(rop, value, 0, codec.Read(row, x)));
      }
  }

  void FillRegionWithBrush(const Region& r) {
    auto* brush = static_cast<BrushObj*>(FindHeld(dc->state.brush));
    BrushPainter bp(dc, brush, codec);
    if (bp.IsNull()) return;
    Region clipped = Region::Combine(r, area, RGN_AND);
    for (const Band& b : clipped.Bands())
      for (int y = b.y0; y < b.y1; ++y) FillSpansWithBrush(dc, *s, codec, bp, rop, y, b.spans);
  }
};

PenObj* CurrentPen(DCObj* dc) { return static_cast<PenObj*>(FindHeld(dc->state.pen)); }

bool PenIsNull(const PenObj* pen) { return !pen || pen->Kind() == PS_NULL; }

// On and off runs of the styled one-pixel pens, in pixels.
std::vector<int> DashPattern(UINT kind) {
  switch (kind) {
    case PS_DASH: return {18, 6};
    case PS_DOT: return {3, 3};
    case PS_DASHDOT: return {9, 6, 3, 6};
    case PS_DASHDOTDOT: return {9, 3, 3, 3, 3, 3};
    case PS_ALTERNATE: return {1, 1};
    default: return {};
  }
}

// Draws one-pixel lines between device points, leaving out each last point.
class ThinLine {
public:
  ThinLine(Painter& p, const PenObj* pen)
      : FPainter(p), FPattern(DashPattern(pen->Kind())), FValue(p.codec.FromColor(pen->color)),
        FBack(p.codec.FromColor(p.dc->state.bkColor)), FOpaque(p.dc->state.bkMode == OPAQUE) {}

  void Draw(int x0, int y0, int x1, int y1) {
    int64_t steps = std::max(std::abs(int64_t{x1} - x0), std::abs(int64_t{y1} - y0));
    int64_t reach = int64_t{2} * (FPainter.s->width + FPainter.s->height) + 16;
    if (steps > reach && !ClipToReach(x0, y0, x1, y1)) return;
    int64_t dx = std::abs(int64_t{x1} - x0), dy = -std::abs(int64_t{y1} - y0);
    int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int64_t err = dx + dy;
    steps = std::max(dx, -dy);
    for (int64_t i = 0; i < steps; ++i) {
      Pixel(x0, y0);
      int64_t e2 = 2 * err;
      if (e2 >= dy) {
        err += dy;
        x0 += sx;
      }
      if (e2 <= dx) {
        err += dx;
        y0 += sy;
      }
    }
  }

  // Cuts a very long line down to the part near the surface, so its length
  // cannot make the loop run for long.
  bool ClipToReach(int& x0, int& y0, int& x1, int& y1) const {
    double lo = -2, hiX = FPainter.s->width + 2.0, hiY = FPainter.s->height + 2.0;
    double t0 = 0, t1 = 1, dx = double(x1) - x0, dy = double(y1) - y0;
    auto cut = [&](double p, double q) {
      if (p == 0) return q >= 0;
      double r = q / p;
      if (p < 0) t0 = std::max(t0, r);
      else t1 = std::min(t1, r);
      return t0 <= t1;
    };
    if (!cut(-dx, x0 - lo) || !cut(dx, hiX - x0) || !cut(-dy, y0 - lo) || !cut(dy, hiY - y0)) return false;
    double ax = x0 + t0 * dx, ay = y0 + t0 * dy, bx = x0 + t1 * dx, by = y0 + t1 * dy;
    x0 = static_cast<int>(std::lround(ax));
    y0 = static_cast<int>(std::lround(ay));
    x1 = static_cast<int>(std::lround(bx));
    y1 = static_cast<int>(std::lround(by));
    return true;
  }

private:
  void Pixel(int x, int y) {
    if (FPattern.empty()) {
      FPainter.Plot(x, y, FValue);
      return;
    }
    bool on = (FIndex % 2) == 0;
    if (on) FPainter.Plot(x, y, FValue);
    else if (FOpaque) FPainter.Plot(x, y, FBack);
    if (++FCount >= FPattern[FIndex]) {
      FCount = 0;
      FIndex = (FIndex + 1) % FPattern.size();
    }
  }

  Painter& FPainter;
  std::vector<int> FPattern;
  uint32_t FValue;
  uint32_t FBack;
  bool FOpaque;
  size_t FIndex = 0;
  int FCount = 0;
};

// The area a wide pen covers along a path of device points: a band of the pen's
// width around every segment and, for round ends and joins, a disc at each point.
Region WidePath(const std::vector<POINT>& pts, const PenObj* pen, int width, bool closed, int yMin, int yMax) {
  double hw = width / 2.0;
  UINT cap = pen->style & PS_ENDCAP_MASK;
  UINT join = pen->style & PS_JOIN_MASK;
  Region out;
  size_t n = pts.size();
  size_t segs = closed ? n : n - 1;
  for (size_t i = 0; i < segs; ++i) {
    PointD a{pts[i].x + 0.5, pts[i].y + 0.5}, b{pts[(i + 1) % n].x + 0.5, pts[(i + 1) % n].y + 0.5};
    double dx = b.x - a.x, dy = b.y - a.y, len = std::hypot(dx, dy);
    if (len == 0) continue;
    double ux = dx / len * hw, uy = dy / len * hw;
    bool firstEnd = !closed && i == 0, lastEnd = !closed && i + 1 == segs;
    if (cap == PS_ENDCAP_SQUARE) {
      if (firstEnd) a = PointD{a.x - ux, a.y - uy};
      if (lastEnd) b = PointD{b.x + ux, b.y + uy};
    }
    std::vector<PointD> quad{{a.x - uy, a.y + ux}, {b.x - uy, b.y + ux}, {b.x + uy, b.y - ux}, {a.x + uy, a.y - ux}};
    int first = 0;
    auto rows = PolygonRowsD({quad}, WINDING, yMin, yMax, first);
    out = Region::Combine(out, Region::FromRows(first, std::move(rows)), RGN_OR);
  }
  for (size_t i = 0; i < n; ++i) {
    bool end = !closed && (i == 0 || i + 1 == n);
    bool round = end ? cap == PS_ENDCAP_ROUND : join == PS_JOIN_ROUND;
    if (!round) continue;
    double cx = pts[i].x + 0.5, cy = pts[i].y + 0.5;
    int l = static_cast<int>(std::floor(cx - hw)), t = static_cast<int>(std::floor(cy - hw));
    int w = width;
    auto rows = EllipseRows(l, t, l + w, t + w, yMin, yMax);
    out = Region::Combine(out, Region::FromRows(std::max(t, yMin), std::move(rows)), RGN_OR);
  }
  return out;
}

void StrokePath(Painter& p, const std::vector<POINT>& devPts, bool closed) {
  const PenObj* pen = CurrentPen(p.dc);
  if (PenIsNull(pen) || devPts.size() < 2) return;
  int width = DevPenWidth(p.dc, pen->width);
  if (width <= 1) {
    ThinLine line(p, pen);
    for (size_t i = 0; i + 1 < devPts.size(); ++i)
      line.Draw(devPts[i].x, devPts[i].y, devPts[i + 1].x, devPts[i + 1].y);
    if (closed) line.Draw(devPts.back().x, devPts.back().y, devPts.front().x, devPts.front().y);
    return;
  }
  p.FillRegion(WidePath(devPts, pen, width, closed, p.RowMin(), p.RowMax()), p.codec.FromColor(pen->color));
}

}  // namespace

void StrokeDevicePoints(DCObj* dc, const std::vector<POINT>& device, bool closed) {
  Painter p(dc);
  StrokePath(p, device, closed);
}

Region PenStrokeRegion(const PenObj* pen, int width, const std::vector<POINT>& device, bool closed, int yMin,
                       int yMax) {
  if (device.size() < 2) return Region();
  return WidePath(device, pen, std::max(width, 1), closed, yMin, yMax);
}

void FillDevicePolygons(DCObj* dc, const std::vector<std::vector<POINT>>& polygons, int fillMode) {
  if (polygons.empty()) return;
  Painter p(dc);
  int first = 0;
  auto rows = PolygonRows(polygons, fillMode, p.RowMin(), p.RowMax(), first);
  p.FillRegionWithBrush(Region::FromRows(first, std::move(rows)));
}

namespace {

std::vector<POINT> ToDevice(DCObj* dc, const POINT* pts, int count) {
  std::vector<POINT> out(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) out[i] = DevPoint(dc, pts[i].x, pts[i].y);
  return out;
}

struct Box {
  int l, t, r, b;
};

// ---------------------------------------------------------------------------
// Shapes under a map that turns or shears them: the outline is traced in
// logical units, mapped point by point, and filled and stroked as a polygon.
// ---------------------------------------------------------------------------

bool Turned(const DCObj* dc) { return !AxisAligned(dc); }

std::vector<PointD> MapOutline(DCObj* dc, const std::vector<PointD>& logical) {
  Matrix m = DeviceMatrix(dc);
  std::vector<PointD> out;
  out.reserve(logical.size());
  for (const PointD& p : logical) out.push_back(PointD{m.m11 * p.x + m.m21 * p.y + m.dx, m.m12 * p.x + m.m22 * p.y + m.dy});
  return out;
}

std::vector<POINT> RoundedPoints(const std::vector<PointD>& pts) {
  std::vector<POINT> out;
  out.reserve(pts.size());
  for (const PointD& p : pts) out.push_back(POINT{RoundDevice(p.x), RoundDevice(p.y)});
  return out;
}

// Points along an ellipse from one angle over a sweep (counter-clockwise on the
// screen when the map keeps y down), enough that neighbours lie about two
// device pixels apart.
std::vector<PointD> EllipsePoints(DCObj* dc, double cx, double cy, double rx, double ry, double start, double sweep) {
  double reach = (std::abs(rx) + std::abs(ry)) * DeviceScale(dc) * std::abs(sweep);
  int steps = static_cast<int>(std::clamp(reach / 2, 8.0, 4096.0));
  std::vector<PointD> out;
  out.reserve(static_cast<size_t>(steps) + 1);
  for (int i = 0; i <= steps; ++i) {
    double a = start + sweep * i / steps;
    out.push_back(PointD{cx + rx * std::cos(a), cy - ry * std::sin(a)});
  }
  return out;
}

// The outline of a closed shape, filled with the brush and stroked with the pen.
void DrawTurned(DCObj* dc, const std::vector<PointD>& logical, bool fill, bool closed) {
  std::vector<PointD> dev = MapOutline(dc, logical);
  if (fill && closed) {
    Painter p(dc);
    int first = 0;
    auto rows = PolygonRowsD({dev}, dc->state.polyFillMode, p.RowMin(), p.RowMax(), first);
    p.FillRegionWithBrush(Region::FromRows(first, std::move(rows)));
  }
  StrokeDevicePoints(dc, RoundedPoints(dev), closed);
}

std::vector<PointD> RectOutline(int l, int t, int r, int b) {
  return {{double(l), double(t)}, {double(r), double(t)}, {double(r), double(b)}, {double(l), double(b)}};
}

std::vector<PointD> EllipseOutline(DCObj* dc, int l, int t, int r, int b) {
  std::vector<PointD> pts = EllipsePoints(dc, (l + r) / 2.0, (t + b) / 2.0, (r - l) / 2.0, (b - t) / 2.0, 0, 2 * kPi);
  pts.pop_back();
  return pts;
}

std::vector<PointD> RoundRectOutline(DCObj* dc, int l, int t, int r, int b, int w, int h) {
  if (l > r) std::swap(l, r);
  if (t > b) std::swap(t, b);
  double rx = std::min(std::abs(w) / 2.0, (r - l) / 2.0), ry = std::min(std::abs(h) / 2.0, (b - t) / 2.0);
  std::vector<PointD> out;
  // Corners counter-clockwise from the upper right, each a quarter ellipse.
  const PointD centres[4] = {{r - rx, t + ry}, {l + rx, t + ry}, {l + rx, b - ry}, {r - rx, b - ry}};
  for (int i = 0; i < 4; ++i) {
    auto quarter = EllipsePoints(dc, centres[i].x, centres[i].y, rx, ry, i * kPi / 2, kPi / 2);
    out.insert(out.end(), quarter.begin(), quarter.end());
  }
  return out;
}

// Angle of a point around a centre in logical units, counter-clockwise, 0..2pi.
double LogicalAngle(double cx, double cy, double x, double y) {
  double a = std::atan2(cy - y, x - cx);
  return a < 0 ? a + 2 * kPi : a;
}

// The logical outline of an arc from the radial through the start point to the
// one through the end point; a pie adds the centre (a chord closes on itself).
std::vector<PointD> ArcOutline(DCObj* dc, int left, int top, int right, int bottom, int xs, int ys, int xe, int ye,
                               bool pie) {
  // Without the advanced graphics mode arcs run counter-clockwise on the device,
  // so a map that mirrors turns the logical sweep round.
  Matrix m = DeviceMatrix(dc);
  if (dc->state.graphicsMode == GM_COMPATIBLE && m.m11 * m.m22 - m.m12 * m.m21 < 0) {
    std::swap(xs, xe);
    std::swap(ys, ye);
  }
  double cx = (left + right) / 2.0, cy = (top + bottom) / 2.0;
  double rx = std::abs(right - left) / 2.0, ry = std::abs(bottom - top) / 2.0;
  double start = LogicalAngle(cx, cy, xs, ys), end = LogicalAngle(cx, cy, xe, ye);
  double sweep = std::fmod(end - start + 4 * kPi, 2 * kPi);
  if (sweep == 0) sweep = 2 * kPi;
  // The parametric angle whose point lies on the radial at a given angle.
  auto param = [&](double a) { return std::atan2(std::sin(a) * rx, std::cos(a) * ry); };
  double p0 = param(start), p1 = param(start + sweep);
  double psweep = std::fmod(p1 - p0 + 4 * kPi, 2 * kPi);
  if (psweep == 0) psweep = 2 * kPi;
  std::vector<PointD> pts = EllipsePoints(dc, cx, cy, rx, ry, p0, psweep);
  if (pie) pts.push_back(PointD{cx, cy});
  return pts;
}

Box DeviceBox(DCObj* dc, int left, int top, int right, int bottom) {
  Box box{DevX(dc, left), DevY(dc, top), DevX(dc, right), DevY(dc, bottom)};
  if (box.l > box.r) std::swap(box.l, box.r);
  if (box.t > box.b) std::swap(box.t, box.b);
  return box;
}

// A closed shape: the interior with the brush, then the outline band with the pen.
// Without a pen the shape is one pixel smaller to the right and bottom; an
// inside-frame pen keeps to the box, other pens centre on its edge.
using OutlineFn = std::function<std::vector<PointD>(DCObj*)>;

template <class RowsOf>
BOOL DrawShape(HDC hdc, int left, int top, int right, int bottom, RowsOf rowsOf, uint32_t recordType,
               std::initializer_list<int32_t> extra, bool isRect, const OutlineFn& outline) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc) return FALSE;
  if (dc->recorder) return RecBox(dc, recordType, left, top, right, bottom, extra);
  if (PathOpen(dc)) {
    PathAdd(dc, RoundedPoints(MapOutline(dc, outline(dc))), true, true);
    return TRUE;
  }
  if (Turned(dc)) {
    DrawTurned(dc, outline(dc), true, true);
    return TRUE;
  }
  Painter p(dc);
  Box box = DeviceBox(dc, left, top, right, bottom);
  const PenObj* pen = CurrentPen(dc);
  int y0 = p.RowMin(), y1 = p.RowMax();
  if (PenIsNull(pen)) {
    p.FillRegionWithBrush(Region::FromRows(std::max(box.t, y0), rowsOf(box.l, box.t, box.r - 1, box.b - 1, 0, y0, y1)));
    return TRUE;
  }
  int w = DevPenWidth(dc, pen->width);
  Box outer = box;
  if (w > 1 && pen->Kind() != PS_INSIDEFRAME)
    outer = Box{box.l - w / 2, box.t - w / 2, box.r + (w - 1) / 2, box.b + (w - 1) / 2};
  Box inner{outer.l + w, outer.t + w, outer.r - w, outer.b - w};
  Region outerR = Region::FromRows(std::max(outer.t, y0), rowsOf(outer.l, outer.t, outer.r, outer.b, 0, y0, y1));
  Region innerR;
  if (inner.r > inner.l && inner.b > inner.t)
    innerR = Region::FromRows(std::max(inner.t, y0), rowsOf(inner.l, inner.t, inner.r, inner.b, w, y0, y1));
  p.FillRegionWithBrush(innerR);
  Region ring = Region::Combine(outerR, innerR, RGN_DIFF);
  if (isRect && w <= 1 && pen->Kind() != PS_SOLID && pen->Kind() != PS_INSIDEFRAME) {
    // Styled one-pixel outlines keep their dashes along the edges.
    std::vector<POINT> corners{{box.l, box.t}, {box.r - 1, box.t}, {box.r - 1, box.b - 1}, {box.l, box.b - 1}};
    StrokePath(p, corners, true);
    return TRUE;
  }
  p.FillRegion(ring, p.codec.FromColor(pen->color));
  return TRUE;
}

Rows RectRows(int l, int t, int r, int b, int yMin, int yMax) {
  Rows rows;
  int y0 = std::max(t, yMin), y1 = std::min(b, yMax);
  if (r <= l || y1 <= y0) return rows;
  rows.resize(static_cast<size_t>(y1 - y0));
  for (int y = y0; y < y1; ++y) rows.Add(static_cast<size_t>(y - y0), {l, r});
  return rows;
}

// Angle of a point around a centre, counter-clockwise on the screen, 0..2pi.
double AngleOf(double cx, double cy, double x, double y) {
  double a = std::atan2(cy - y, x - cx);
  return a < 0 ? a + 2 * kPi : a;
}

bool InSweep(double start, double end, double a) {
  double sweep = std::fmod(end - start + 4 * kPi, 2 * kPi);
  if (sweep == 0) return true;  // start and end on one radial: the whole ellipse
  return std::fmod(a - start + 4 * kPi, 2 * kPi) <= sweep;
}

Region AngularPart(const Region& r, double cx, double cy, double start, double end) {
  Rows rows;
  if (r.Empty()) return Region();
  RECT bounds = r.Bounds();
  rows.resize(static_cast<size_t>(bounds.bottom - bounds.top));
  for (const Band& b : r.Bands())
    for (int y = b.y0; y < b.y1; ++y)
      for (const Span& sp : b.spans)
        for (int x = sp.x0; x < sp.x1; ++x)
          if (InSweep(start, end, AngleOf(cx, cy, x + 0.5, y + 0.5)))
            rows.Add(static_cast<size_t>(y - bounds.top), {x, x + 1});
  return Region::FromRows(bounds.top, std::move(rows));
}

// The two points where the radials at the start and end angles meet the ellipse.
std::pair<PointD, PointD> RadialEnds(const Box& box, double cx, double cy, double start, double end) {
  double a = (box.r - box.l) / 2.0, b = (box.b - box.t) / 2.0;
  PointD out[2];
  int i = 0;
  for (double ang : {start, end}) {
    double c = std::cos(ang), s = -std::sin(ang);
    double k = (a > 0 && b > 0) ? 1 / std::sqrt((c * c) / (a * a) + (s * s) / (b * b)) : 0;
    out[i++] = PointD{cx + c * k, cy + s * k};
  }
  return {out[0], out[1]};
}

// A chord: the part of the ellipse on the arc's side of the line between the
// radial ends, filled with the brush, outlined by the arc and the line.
BOOL DrawChord(Painter& p, const Box& box, const Region& outer, const Region& inner, double cx, double cy,
               double start, double end, const PenObj* pen, int w) {
  const auto ends = RadialEnds(box, cx, cy, start, end);
  const auto a = ends.first;
  const auto b = ends.second;
  // Pixels whose centres lie on the arc's side of the line from a to b: the
  // sweep runs counter-clockwise, which with y growing downwards is the side
  // where the cross product is not positive.
  auto onArcSide = [&](double x, double y) {
    double cross = (b.x - a.x) * (y - a.y) - (b.y - a.y) * (x - a.x);
    return cross <= 0;
  };
  auto cut = [&](const Region& r) {
    Rows rows;
    if (r.Empty()) return Region();
    RECT bounds = r.Bounds();
    rows.resize(static_cast<size_t>(bounds.bottom - bounds.top));
    for (const Band& band : r.Bands())
      for (int y = band.y0; y < band.y1; ++y)
        for (const Span& sp : band.spans)
          for (int x = sp.x0; x < sp.x1; ++x)
            if (onArcSide(x + 0.5, y + 0.5)) rows.Add(static_cast<size_t>(y - bounds.top), {x, x + 1});
    return Region::FromRows(bounds.top, std::move(rows));
  };
  p.FillRegionWithBrush(cut(inner));
  if (PenIsNull(pen)) return TRUE;
  Region ring = AngularPart(Region::Combine(outer, inner, RGN_DIFF), cx, cy, start, end);
  p.FillRegion(ring, p.codec.FromColor(pen->color));
  (void)w;
  std::vector<POINT> line{{LONG(std::floor(a.x - 0.5)), LONG(std::floor(a.y - 0.5))},
                          {LONG(std::floor(b.x - 0.5)), LONG(std::floor(b.y - 0.5))}};
  StrokePath(p, line, false);
  return TRUE;
}

BOOL ArcOrPie(HDC hdc, int left, int top, int right, int bottom, int xs, int ys, int xe, int ye, bool pie,
              bool chord = false) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc) return FALSE;
  if (dc->recorder)
    return RecBox(dc, chord ? EMR_CHORD : pie ? EMR_PIE : EMR_ARC, left, top, right, bottom, {xs, ys, xe, ye});
  if (PathOpen(dc) || Turned(dc)) {
    std::vector<PointD> outline = ArcOutline(dc, left, top, right, bottom, xs, ys, xe, ye, pie);
    // In a path an arc is an open figure of its own; pies and chords close theirs.
    if (PathOpen(dc)) PathAdd(dc, RoundedPoints(MapOutline(dc, outline)), true, pie || chord);
    else DrawTurned(dc, outline, pie || chord, pie || chord);
    return TRUE;
  }
  Painter p(dc);
  Box box = DeviceBox(dc, left, top, right, bottom);
  double cx = (box.l + box.r) / 2.0, cy = (box.t + box.b) / 2.0;
  double start = AngleOf(cx, cy, DevX(dc, xs), DevY(dc, ys)), end = AngleOf(cx, cy, DevX(dc, xe), DevY(dc, ye));
  const PenObj* pen = CurrentPen(dc);
  int w = PenIsNull(pen) ? 1 : DevPenWidth(dc, pen->width);
  int y0 = p.RowMin(), y1 = p.RowMax();
  // Cut to the drawable area first: the angle test goes pixel by pixel.
  Region outer = Region::Combine(
      Region::FromRows(std::max(box.t, y0), EllipseRows(box.l, box.t, box.r, box.b, y0, y1)), p.area, RGN_AND);
  Region inner = Region::Combine(Region::FromRows(std::max(box.t + w, y0),
                                                  EllipseRows(box.l + w, box.t + w, box.r - w, box.b - w, y0, y1)),
                                 p.area, RGN_AND);
  if (chord) return DrawChord(p, box, outer, inner, cx, cy, start, end, pen, w);
  if (pie) p.FillRegionWithBrush(AngularPart(inner, cx, cy, start, end));
  if (PenIsNull(pen)) return TRUE;
  Region ring = AngularPart(Region::Combine(outer, inner, RGN_DIFF), cx, cy, start, end);
  if (pie) {
    // The two radii close the pie: from the centre to where each radial meets the ellipse.
    double a = (box.r - box.l) / 2.0, b = (box.b - box.t) / 2.0;
    for (double ang : {start, end}) {
      double c = std::cos(ang), s = -std::sin(ang);
      double k = 1 / std::sqrt((c * c) / (a * a) + (s * s) / (b * b));
      std::vector<POINT> radius{{LONG(std::floor(cx)), LONG(std::floor(cy))},
                                {LONG(std::floor(cx + c * k - 0.5)), LONG(std::floor(cy + s * k - 0.5))}};
      StrokePath(p, radius, false);
    }
  }
  p.FillRegion(ring, p.codec.FromColor(pen->color));
  return TRUE;
}

}  // namespace

}  // namespace qvgdi

using namespace qvgdi;

BOOL MoveToEx(HDC hdc, int x, int y, POINT* oldPos) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc) return FALSE;
  if (dc->recorder) RecState(dc, EMR_MOVETOEX, {static_cast<uint32_t>(x), static_cast<uint32_t>(y)});
  else if (PathOpen(dc)) PathMove(dc, DevPoint(dc, x, y));
  if (oldPos) *oldPos = dc->state.position;
  dc->state.position = POINT{x, y};
  return TRUE;
}

BOOL LineTo(HDC hdc, int x, int y) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc) return FALSE;
  if (dc->recorder) {
    POINT pts[2] = {dc->state.position, POINT{x, y}};
    dc->recorder->AddValues(EMR_LINETO, {static_cast<uint32_t>(x), static_cast<uint32_t>(y)});
    int w = CurrentPen(dc) ? DevPenWidth(dc, CurrentPen(dc)->width) : 1;
    dc->recorder->TouchPoints(dc, pts, 2, w <= 1 ? 0 : w / 2 + 1);
    dc->state.position = POINT{x, y};
    return TRUE;
  }
  if (PathOpen(dc)) {
    PathAdd(dc, {DevPoint(dc, x, y)}, false, false);
    dc->state.position = POINT{x, y};
    return TRUE;
  }
  Painter p(dc);
  POINT pts[2] = {dc->state.position, POINT{x, y}};
  StrokePath(p, ToDevice(dc, pts, 2), false);
  dc->state.position = POINT{x, y};
  return TRUE;
}

BOOL Polyline(HDC hdc, const POINT* points, int count) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc || !points || count < 2 || count > (1 << 20)) return FALSE;
  if (dc->recorder) return RecPoints(dc, EMR_POLYLINE16, EMR_POLYLINE, points, static_cast<size_t>(count));
  if (PathOpen(dc)) {
    PathAdd(dc, ToDevice(dc, points, count), true, false);
    return TRUE;
  }
  Painter p(dc);
  StrokePath(p, ToDevice(dc, points, count), false);
  return TRUE;
}

BOOL PolyPolygon(HDC hdc, const POINT* points, const INT* counts, int polygons) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc || !points || !counts || polygons <= 0 || polygons > (1 << 16)) return FALSE;
  std::vector<std::vector<POINT>> polys;
  int64_t total = 0;
  for (int i = 0; i < polygons; ++i) {
    if (counts[i] < 2) return FALSE;
    total += counts[i];
    if (total > (1 << 20)) return FALSE;
  }
  if (dc->recorder) {
    std::vector<uint32_t> c(counts, counts + polygons);
    if (polygons == 1) return RecPoints(dc, EMR_POLYGON16, EMR_POLYGON, points, c[0]);
    return RecPolyPoly(dc, EMR_POLYPOLYGON16, EMR_POLYPOLYGON, points, c.data(), static_cast<size_t>(polygons));
  }
  const POINT* at = points;
  for (int i = 0; i < polygons; ++i) {
    polys.push_back(ToDevice(dc, at, counts[i]));
    at += counts[i];
  }
  if (PathOpen(dc)) {
    for (const auto& poly : polys) PathAdd(dc, poly, true, true);
    return TRUE;
  }
  Painter p(dc);
  int first = 0;
  auto rows = PolygonRows(polys, dc->state.polyFillMode, p.RowMin(), p.RowMax(), first);
  p.FillRegionWithBrush(Region::FromRows(first, std::move(rows)));
  for (const auto& poly : polys) StrokePath(p, poly, true);
  return TRUE;
}

BOOL Polygon(HDC hdc, const POINT* points, int count) {
  INT counts[1] = {count};
  return PolyPolygon(hdc, points, counts, 1);
}

BOOL Rectangle(HDC hdc, int left, int top, int right, int bottom) {
  return DrawShape(hdc, left, top, right, bottom, [](int l, int t, int r, int b, int, int y0, int y1) {
    return RectRows(l, t, r, b, y0, y1);
  }, EMR_RECTANGLE, {}, true, [=](DCObj*) { return RectOutline(left, top, right, bottom); });
}

BOOL Ellipse(HDC hdc, int left, int top, int right, int bottom) {
  return DrawShape(hdc, left, top, right, bottom, [](int l, int t, int r, int b, int, int y0, int y1) {
    return EllipseRows(l, t, r, b, y0, y1);
  }, EMR_ELLIPSE, {}, false, [=](DCObj* dc) { return EllipseOutline(dc, left, top, right, bottom); });
}

BOOL RoundRect(HDC hdc, int left, int top, int right, int bottom, int width, int height) {
  // The corner ellipse is given in logical units.
  int cw = width, ch = height;
  {
    auto lock = Lock();
    if (DCObj* dc = FindDC(hdc); dc && !dc->state.plain && !dc->recorder) {
      cw = std::abs(DevX(dc, width) - DevX(dc, 0));
      ch = std::abs(DevY(dc, height) - DevY(dc, 0));
    }
  }
  return DrawShape(hdc, left, top, right, bottom, [&](int l, int t, int r, int b, int inset, int y0, int y1) {
    return RoundRectRows(l, t, r, b, std::max(0, cw - 2 * inset), std::max(0, ch - 2 * inset), y0, y1);
  }, EMR_ROUNDRECT, {width, height}, false,
                   [=](DCObj* dc) { return RoundRectOutline(dc, left, top, right, bottom, width, height); });
}

BOOL Arc(HDC hdc, int left, int top, int right, int bottom, int xStart, int yStart, int xEnd, int yEnd) {
  return ArcOrPie(hdc, left, top, right, bottom, xStart, yStart, xEnd, yEnd, false);
}

BOOL Pie(HDC hdc, int left, int top, int right, int bottom, int xStart, int yStart, int xEnd, int yEnd) {
  return ArcOrPie(hdc, left, top, right, bottom, xStart, yStart, xEnd, yEnd, true);
}

BOOL Chord(HDC hdc, int left, int top, int right, int bottom, int xStart, int yStart, int xEnd, int yEnd) {
  return ArcOrPie(hdc, left, top, right, bottom, xStart, yStart, xEnd, yEnd, false, true);
}

namespace {

Region LogicalRect(DCObj* dc, const RECT& r) {
  Box b = DeviceBox(dc, r.left, r.top, r.right, r.bottom);
  return Region::FromRect(b.l, b.t, b.r, b.b);
}

// A brush handle, or a system colour index + 1 in its place as user32 accepts it.
BrushObj* FindBrush(HBRUSH h, BrushObj& sysColor) {
  uintptr_t v = reinterpret_cast<uintptr_t>(h);
  if (v >= 1 && v <= 31) {
    sysColor.style = BS_SOLID;
    sysColor.color = GetSysColor(static_cast<int>(v - 1));
    return &sysColor;
  }
  return FindAs<BrushObj>(h, Kind::Brush);
}

}  // namespace

namespace {

// The one-pixel frame just inside a rectangle (the whole rectangle when it is thinner than 3).
Region FrameOf(DCObj* dc, const RECT& r) {
  Region outer = LogicalRect(dc, r);
  RECT in{r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
  return in.right > in.left && in.bottom > in.top ? Region::Combine(outer, LogicalRect(dc, in), RGN_DIFF) : outer;
}

HBRUSH RecordableBrush(HBRUSH brush, const BrushObj* b, HBRUSH& temporary);

// FillRect and FrameRect are kept as region records over the one rectangle.
int RecRectBrush(DCObj* dc, const RECT& rect, HBRUSH brush, const BrushObj* b, bool frameOnly) {
  HBRUSH temp = nullptr;
  HBRUSH use = RecordableBrush(brush, b, temp);
  Region r = Region::FromRect(rect.left, rect.top, rect.right, rect.bottom);
  BOOL ok = RecRegion(dc, frameOnly ? EMR_FRAMERGN : EMR_FILLRGN, r, use, 1, 1);
  if (temp) DeleteObject(temp);
  return ok;
}

int BrushRect(HDC hdc, const RECT* rect, HBRUSH brush, bool frameOnly) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  BrushObj sys;
  BrushObj* b = FindBrush(brush, sys);
  if (!dc || !rect || !b) return 0;
  if (rect->right <= rect->left || rect->bottom <= rect->top) return 1;
  if (dc->recorder) return RecRectBrush(dc, *rect, brush, b, frameOnly);
  FillRegionWithBrush(dc, frameOnly ? FrameOf(dc, *rect) : LogicalRect(dc, *rect), b, 0xF0);
  return 1;
}

}  // namespace

int FillRect(HDC hdc, const RECT* rect, HBRUSH brush) { return BrushRect(hdc, rect, brush, false); }

int FrameRect(HDC hdc, const RECT* rect, HBRUSH brush) { return BrushRect(hdc, rect, brush, true); }

BOOL InvertRect(HDC hdc, const RECT* rect) {
  if (!rect) return FALSE;
  return PatBlt(hdc, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, DSTINVERT);
}

namespace {

// A focus rectangle on a recording DC: the frame's edges inverted through an
// 8 x 8 checkerboard brush (white where x + y is even), which is what the
// direct drawing does pixel by pixel.
BOOL RecFocusRect(HDC hdc, const RECT& r) {
  std::vector<uint8_t> packed(sizeof(BITMAPINFOHEADER) + 8 * 24, 0);
  auto* bih = reinterpret_cast<BITMAPINFOHEADER*>(packed.data());
  *bih = BITMAPINFOHEADER();
  bih->biWidth = 8;
  bih->biHeight = -8;
  bih->biBitCount = 24;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      if (((x + y) & 1) == 0) std::memset(packed.data() + sizeof(BITMAPINFOHEADER) + 24 * y + 3 * x, 0xFF, 3);
  LOGBRUSH lb{BS_DIBPATTERNPT, DIB_RGB_COLORS, reinterpret_cast<ULONG_PTR>(packed.data())};
  HBRUSH checker = CreateBrushIndirect(&lb);
  if (!checker) return FALSE;
  POINT oldOrg;
  SetBrushOrgEx(hdc, 0, 0, &oldOrg);
  HGDIOBJ old = SelectObject(hdc, checker);
  int w = r.right - r.left, h = r.bottom - r.top;
  if (w < 3 || h < 3) {
    PatBlt(hdc, r.left, r.top, w, h, PATINVERT);
  } else {
    PatBlt(hdc, r.left, r.top, w, 1, PATINVERT);
    PatBlt(hdc, r.left, r.bottom - 1, w, 1, PATINVERT);
    PatBlt(hdc, r.left, r.top + 1, 1, h - 2, PATINVERT);
    PatBlt(hdc, r.right - 1, r.top + 1, 1, h - 2, PATINVERT);
  }
  SelectObject(hdc, old);
  SetBrushOrgEx(hdc, oldOrg.x, oldOrg.y, nullptr);
  DeleteObject(checker);
  return TRUE;
}

}  // namespace

BOOL DrawFocusRect(HDC hdc, const RECT* rect) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc || !rect) return FALSE;
  if (rect->right <= rect->left || rect->bottom <= rect->top) return TRUE;
  if (dc->recorder) return RecFocusRect(hdc, *rect);
  // Every other pixel of the frame is inverted, so drawing it twice removes it.
  Region frame = Region::Combine(FrameOf(dc, *rect), DrawableArea(dc), RGN_AND);
  Surface* s = DCSurface(dc);
  PixelCodec codec(*s);
  uint32_t white = codec.FromColor(RGB(255, 255, 255));
  for (const Band& b : frame.Bands())
    for (int y = b.y0; y < b.y1; ++y)
      for (const Span& sp : b.spans)
        for (int x = sp.x0; x < sp.x1; ++x)
          if (((x + y) & 1) == 0) codec.Write(s->Row(y), x, codec.Read(s->Row(y), x) ^ white);
  return TRUE;
}

namespace {

// A rectangle in one colour; a recording DC keeps it as a region filled with a
// solid brush, which plays to the same pixels.
void SolidRect(DCObj* dc, const RECT& r, COLORREF c) {
  if (r.right <= r.left || r.bottom <= r.top) return;
  if (dc->recorder) {
    HBRUSH brush = CreateSolidBrush(c);
    RecRectBrush(dc, r, brush, FindAs<BrushObj>(brush, Kind::Brush), false);
    DeleteObject(brush);
    return;
  }
  FillRegionSolid(dc, Region::Combine(LogicalRect(dc, r), DrawableArea(dc), RGN_AND), c);
}

void EdgeLines(DCObj* dc, RECT& r, UINT flags, COLORREF topLeft, COLORREF bottomRight) {
  auto line = [&](int x0, int y0, int x1, int y1, COLORREF c) { SolidRect(dc, RECT{x0, y0, x1, y1}, c); };
  if (r.right <= r.left || r.bottom <= r.top) return;
  if (flags & BF_TOP) line(r.left, r.top, r.right - 1, r.top + 1, topLeft);
  if (flags & BF_LEFT) line(r.left, r.top, r.left + 1, r.bottom - 1, topLeft);
  if (flags & BF_BOTTOM) line(r.left, r.bottom - 1, r.right, r.bottom, bottomRight);
  if (flags & BF_RIGHT) line(r.right - 1, r.top, r.right, r.bottom, bottomRight);
  if (flags & BF_LEFT) ++r.left;
  if (flags & BF_TOP) ++r.top;
  if (flags & BF_RIGHT) --r.right;
  if (flags & BF_BOTTOM) --r.bottom;
}

}  // namespace

BOOL DrawEdge(HDC hdc, RECT* rect, UINT edge, UINT flags) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc || !rect) return FALSE;
  RECT r = *rect;
  if (edge & BDR_OUTER) {
    bool raised = edge & BDR_RAISEDOUTER;
    EdgeLines(dc, r, flags, GetSysColor(raised ? COLOR_3DLIGHT : COLOR_3DSHADOW),
              GetSysColor(raised ? COLOR_3DDKSHADOW : COLOR_3DHIGHLIGHT));
  }
  if (edge & BDR_INNER) {
    bool raised = edge & BDR_RAISEDINNER;
    EdgeLines(dc, r, flags, GetSysColor(raised ? COLOR_3DHIGHLIGHT : COLOR_3DDKSHADOW),
              GetSysColor(raised ? COLOR_3DSHADOW : COLOR_3DLIGHT));
  }
  if (flags & BF_MIDDLE) SolidRect(dc, r, GetSysColor(COLOR_3DFACE));
  if (flags & BF_ADJUST) *rect = r;
  return TRUE;
}

BOOL DrawFrameControl(HDC hdc, RECT* rect, UINT type, UINT state) {
  if (type != DFC_BUTTON || (state & 0x1F) != DFCS_BUTTONPUSH) return FALSE;
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc || !rect) return FALSE;
  RECT r = *rect;
  if (state & DFCS_PUSHED) {
    // A pushed button is framed flat: the darkest shadow outside, the shadow inside.
    EdgeLines(dc, r, BF_RECT, GetSysColor(COLOR_3DDKSHADOW), GetSysColor(COLOR_3DDKSHADOW));
    EdgeLines(dc, r, BF_RECT, GetSysColor(COLOR_3DSHADOW), GetSysColor(COLOR_3DSHADOW));
  } else {
    // A raised button has its highlight outside and the light inside.
    EdgeLines(dc, r, BF_RECT, GetSysColor(COLOR_3DHIGHLIGHT), GetSysColor(COLOR_3DDKSHADOW));
    EdgeLines(dc, r, BF_RECT, GetSysColor(COLOR_3DLIGHT), GetSysColor(COLOR_3DSHADOW));
  }
  SolidRect(dc, r, GetSysColor(COLOR_3DFACE));
  if (state & DFCS_ADJUSTRECT) *rect = r;
  return TRUE;
}

namespace {

Region LogicalRegion(DCObj* dc, const Region& r) {
  Region out = r;
  if (dc->state.plain) {
    out.Offset(dc->state.viewportOrg.x - dc->state.windowOrg.x, dc->state.viewportOrg.y - dc->state.windowOrg.y);
    return out;
  }
  // Scaled: each rectangle goes through the map.
  out = Region();
  for (const RECT& rc : r.Rects()) {
    Box b = DeviceBox(dc, rc.left, rc.top, rc.right, rc.bottom);
    out = Region::Combine(out, Region::FromRect(b.l, b.t, b.r, b.b), RGN_OR);
  }
  return out;
}

// A brush handle for a record: system colour brushes become solid brushes of their colour.
HBRUSH RecordableBrush(HBRUSH brush, const BrushObj* b, HBRUSH& temporary) {
  uintptr_t v = reinterpret_cast<uintptr_t>(brush);
  if (v >= 1 && v <= 31) {
    temporary = CreateSolidBrush(b->color);
    return temporary;
  }
  return brush;
}

}  // namespace

BOOL FillRgn(HDC hdc, HRGN rgn, HBRUSH brush) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  RegionObj* r = FindRegion(rgn);
  BrushObj sys;
  BrushObj* b = FindBrush(brush, sys);
  if (!dc || !r || !b) return FALSE;
  if (dc->recorder) {
    HBRUSH temp = nullptr;
    BOOL ok = RecRegion(dc, EMR_FILLRGN, r->region, RecordableBrush(brush, b, temp), 0, 0);
    if (temp) DeleteObject(temp);
    return ok;
  }
  FillRegionWithBrush(dc, LogicalRegion(dc, r->region), b, 0xF0);
  return TRUE;
}

BOOL PaintRgn(HDC hdc, HRGN rgn) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  RegionObj* r = FindRegion(rgn);
  if (!dc || !r) return FALSE;
  if (dc->recorder) return RecRegion(dc, EMR_PAINTRGN, r->region, nullptr, 0, 0);
  Painter p(dc);
  p.FillRegionWithBrush(LogicalRegion(dc, r->region));
  return TRUE;
}

BOOL FrameRgn(HDC hdc, HRGN rgn, HBRUSH brush, int width, int height) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  RegionObj* r = FindRegion(rgn);
  BrushObj sys;
  BrushObj* b = FindBrush(brush, sys);
  if (!dc || !r || !b || width <= 0 || height <= 0) return FALSE;
  if (dc->recorder) {
    HBRUSH temp = nullptr;
    BOOL ok = RecRegion(dc, EMR_FRAMERGN, r->region, RecordableBrush(brush, b, temp), width, height);
    if (temp) DeleteObject(temp);
    return ok;
  }
  // The frame is what the region loses when shrunk by the frame's size on every side.
  Region inner = r->region;
  for (auto [dx, dy] : {std::pair{width, 0}, std::pair{-width, 0}, std::pair{0, height}, std::pair{0, -height}}) {
    Region moved = r->region;
    moved.Offset(dx, dy);
    inner = Region::Combine(inner, moved, RGN_AND);
  }
  FillRegionWithBrush(dc, LogicalRegion(dc, Region::Combine(r->region, inner, RGN_DIFF)), b, 0xF0);
  return TRUE;
}
