// Paths: BeginPath opens a path on a DC, the line and shape calls then add
// figures of device points to it instead of drawing, and EndPath closes it for
// one use: filled with the brush, stroked with the pen, or made the clip. The
// path is in device units as the map stood when each call was made, so a
// metafile that records the calls rebuilds the same path when it plays.
#include "platform/graphics/gdi_metafile_internal.h"

namespace qvgdi {

namespace {

// Bounds of a path record: the device box of the figures (empty when none).
RECT PathBounds(const DCPath& path) {
  RECT r{0, 0, -1, -1};
  bool any = false;
  for (const PathFigure& f : path.figures)
    for (const POINT& p : f.points) {
      if (!any) r = RECT{p.x, p.y, p.x, p.y};
      any = true;
      r.left = std::min(r.left, p.x);
      r.top = std::min(r.top, p.y);
      r.right = std::max(r.right, p.x);
      r.bottom = std::max(r.bottom, p.y);
    }
  return r;
}

void RecBounds(DCObj* dc, uint32_t type) {
  RECT r = PathBounds(dc->state.path);
  dc->recorder->AddValues(type, {static_cast<uint32_t>(r.left), static_cast<uint32_t>(r.top),
                                 static_cast<uint32_t>(r.right), static_cast<uint32_t>(r.bottom)});
}

// The figures as polygons for filling or clipping (every figure closes there).
std::vector<std::vector<POINT>> Polygons(const DCPath& path) {
  std::vector<std::vector<POINT>> out;
  for (const PathFigure& f : path.figures)
    if (f.points.size() >= 2) out.push_back(f.points);
  return out;
}

enum class Use { Fill, Stroke, Both };

BOOL UsePath(HDC hdc, Use use, uint32_t record) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc) return FALSE;
  if (dc->recorder) {
    RecBounds(dc, record);
    dc->state.path = DCPath();
    return TRUE;
  }
  DCPath& path = dc->state.path;
  if (path.open || !path.ready) return FALSE;
  DCPath taken = std::move(path);
  path = DCPath();
  if (use != Use::Stroke) FillDevicePolygons(dc, Polygons(taken), dc->state.polyFillMode);
  if (use != Use::Fill)
    for (const PathFigure& f : taken.figures) StrokeDevicePoints(dc, f.points, f.closed);
  return TRUE;
}

}  // namespace

void PathMove(DCObj* dc, POINT device) {
  DCPath& path = dc->state.path;
  // A figure of one point draws nothing; a new move replaces it.
  if (!path.figures.empty() && path.figures.back().points.size() == 1 && !path.figures.back().closed) {
    path.figures.back().points[0] = device;
  } else if (path.points < kMaxPathPoints) {
    path.figures.push_back(PathFigure{{device}, false});
    ++path.points;
  }
}

void PathAdd(DCObj* dc, const std::vector<POINT>& device, bool newFigure, bool close) {
  if (device.empty()) return;
  DCPath& path = dc->state.path;
  bool moveFirst = !newFigure && (path.figures.empty() || path.figures.back().closed);
  if (device.size() + (moveFirst ? 1 : 0) > kMaxPathPoints - std::min(path.points, kMaxPathPoints)) return;
  size_t from = 0;
  if (newFigure) {
    PathMove(dc, device[0]);
    from = 1;
  } else if (moveFirst) {
    // Lines on from the current position start where the last figure ended.
    POINT start = DevPoint(dc, dc->state.position.x, dc->state.position.y);
    PathMove(dc, start);
  }
  if (path.figures.empty()) return;
  PathFigure& f = path.figures.back();
  f.points.insert(f.points.end(), device.begin() + static_cast<std::ptrdiff_t>(from), device.end());
  path.points += device.size() - from;
  if (close) f.closed = true;
}

}  // namespace qvgdi

using namespace qvgdi;

BOOL BeginPath(HDC hdc) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc) return FALSE;
  if (dc->recorder) dc->recorder->AddValues(EMR_BEGINPATH, {});
  dc->state.path = DCPath();
  dc->state.path.open = true;
  return TRUE;
}

BOOL EndPath(HDC hdc) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc || !dc->state.path.open) return FALSE;
  if (dc->recorder) dc->recorder->AddValues(EMR_ENDPATH, {});
  dc->state.path.open = false;
  dc->state.path.ready = true;
  return TRUE;
}

BOOL AbortPath(HDC hdc) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc) return FALSE;
  if (dc->recorder) dc->recorder->AddValues(EMR_ABORTPATH, {});
  dc->state.path = DCPath();
  return TRUE;
}

BOOL CloseFigure(HDC hdc) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc || !dc->state.path.open) return FALSE;
  if (dc->recorder) dc->recorder->AddValues(EMR_CLOSEFIGURE, {});
  auto& figures = dc->state.path.figures;
  if (!figures.empty()) figures.back().closed = true;
  return TRUE;
}

BOOL FlattenPath(HDC hdc) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc || dc->state.path.open) return FALSE;
  // Béziers are flattened as they are added, so a path has only lines already.
  if (dc->recorder) dc->recorder->AddValues(EMR_FLATTENPATH, {});
  return dc->state.path.ready || dc->recorder ? TRUE : FALSE;
}

BOOL WidenPath(HDC hdc) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc || dc->state.path.open) return FALSE;
  if (dc->recorder) {
    dc->recorder->AddValues(EMR_WIDENPATH, {});
    return TRUE;
  }
  DCPath& path = dc->state.path;
  if (!path.ready) return FALSE;
  const auto* pen = static_cast<const PenObj*>(FindHeld(dc->state.pen));
  if (!pen || pen->Kind() == PS_NULL) return FALSE;
  int width = DevPenWidth(dc, pen->width);
  if ((pen->style & PS_TYPE_MASK) != PS_GEOMETRIC && width <= 1) return FALSE;
  // Only the surface's rows can ever be drawn; the margin keeps the cut edges
  // of a shape that runs off the surface out of reach of a pen stroking them,
  // within a bound so that a huge pen cannot make the outline cost without end.
  int margin = std::min(2 * width + 2, 256);
  int yMin = -margin, yMax = DCSurface(dc)->height + margin;
  Region covered;
  for (const PathFigure& f : path.figures)
    covered = Region::Combine(covered, PenStrokeRegion(pen, width, f.points, f.closed, yMin, yMax), RGN_OR);
  path.figures.clear();
  path.points = 0;
  for (std::vector<POINT>& outline : RegionOutlines(covered)) {
    if (outline.size() > kMaxPathPoints - path.points) break;
    path.points += outline.size();
    path.figures.push_back(PathFigure{std::move(outline), true});
  }
  return TRUE;
}

BOOL FillPath(HDC hdc) { return UsePath(hdc, Use::Fill, EMR_FILLPATH); }
BOOL StrokePath(HDC hdc) { return UsePath(hdc, Use::Stroke, EMR_STROKEPATH); }
BOOL StrokeAndFillPath(HDC hdc) { return UsePath(hdc, Use::Both, EMR_STROKEANDFILLPATH); }

BOOL SelectClipPath(HDC hdc, int mode) {
  auto lock = Lock();
  DCObj* dc = FindDC(hdc);
  if (!dc || mode < RGN_AND || mode > RGN_COPY) return FALSE;
  if (dc->recorder) {
    dc->recorder->AddValues(EMR_SELECTCLIPPATH, {static_cast<uint32_t>(mode)});
    dc->state.path = DCPath();
    return TRUE;
  }
  DCPath& path = dc->state.path;
  if (path.open || !path.ready) return FALSE;
  // Only the surface's rows can ever be drawn, so the shape is cut to them.
  int first = 0;
  auto rows = PolygonRows(Polygons(path), dc->state.polyFillMode, 0, DCSurface(dc)->height, first);
  Region shape = Region::FromRows(first, std::move(rows));
  path = DCPath();
  // While a metafile plays, its clipping stays inside the clip it was played under.
  DCState& s = dc->state;
  Region next = shape;
  if (mode != RGN_COPY) {
    constexpr int kHuge = 1 << 27;
    Region current = s.clip ? *s.clip : Region::FromRect(-kHuge, -kHuge, kHuge, kHuge);
    next = Region::Combine(current, shape, mode);
  }
  s.clip = s.metaClip ? Region::Combine(next, *s.metaClip, RGN_AND) : next;
  return TRUE;
}
