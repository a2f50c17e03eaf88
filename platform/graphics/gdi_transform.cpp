// Coordinate spaces: map modes, window and viewport extents and the world
// transform, composed into one logical-to-device map per DC; the clip calls
// that take regions in every mode; béziers and the poly-line calls built on the
// line drawing.
#include <algorithm>
#include <cmath>

#include "platform/graphics/gdi_metafile_internal.h"

namespace qvgdi {

namespace {

// Fixed map modes: window units per inch, y up.
bool FixedMode(int mode, int& unitsPerInch) {
  switch (mode) {
    case MM_LOMETRIC: unitsPerInch = 254; return true;
    case MM_HIMETRIC: unitsPerInch = 2540; return true;
    case MM_LOENGLISH: unitsPerInch = 100; return true;
    case MM_HIENGLISH: unitsPerInch = 1000; return true;
    case MM_TWIPS: unitsPerInch = 1440; return true;
    default: return false;
  }
}

// In MM_ISOTROPIC the viewport extent shrinks on one axis so both scale alike.
void FixIsotropic(DCState& s) {
  if (s.mapMode != MM_ISOTROPIC || !s.windowExt.cx || !s.windowExt.cy) return;
  double sx = std::abs(double(s.viewportExt.cx) / s.windowExt.cx);
  double sy = std::abs(double(s.viewportExt.cy) / s.windowExt.cy);
  if (sx < sy) {
    double v = std::abs(double(s.windowExt.cy) * sx);
    s.viewportExt.cy = static_cast<LONG>(std::lround((s.viewportExt.cy < 0 ? -v : v)));
  } else if (sy < sx) {
    double v = std::abs(double(s.windowExt.cx) * sy);
    s.viewportExt.cx = static_cast<LONG>(std::lround((s.viewportExt.cx < 0 ? -v : v)));
  }
}

DCObj* DC(HDC hdc) { return FindDC(hdc); }

bool ExtentValid(int x, int y) { return x != 0 && y != 0 && std::abs(x) < (1 << 27) && std::abs(y) < (1 << 27); }

}  // namespace

Matrix PageMatrix(const DCState& s) {
  double sx = 1, sy = 1;
  if (s.mapMode != MM_TEXT && s.windowExt.cx && s.windowExt.cy) {
    sx = double(s.viewportExt.cx) / s.windowExt.cx;
    sy = double(s.viewportExt.cy) / s.windowExt.cy;
  }
  return Matrix{sx, 0, 0, sy, s.viewportOrg.x - s.windowOrg.x * sx, s.viewportOrg.y - s.windowOrg.y * sy};
}

Matrix DeviceMatrix(const DCObj* dc) {
  const DCState& s = dc->state;
  return s.play.After(PageMatrix(s).After(s.world));
}

void UpdatePlain(DCState& s) { s.plain = s.mapMode == MM_TEXT && s.world == Matrix() && s.play == Matrix(); }

double DeviceScale(const DCObj* dc) {
  if (dc->state.plain) return 1;
  Matrix m = DeviceMatrix(dc);
  return std::sqrt(std::abs(m.m11 * m.m22 - m.m12 * m.m21));
}

int DevPenWidth(const DCObj* dc, int width) {
  if (width <= 1 || dc->state.plain) return width;
  double w = width * DeviceScale(dc);
  return static_cast<int>(std::clamp(std::floor(w + 0.5), 1.0, double(1 << 16)));
}

// Bézier segments flattened into points at about a pixel apart on the device.
std::vector<POINT> FlattenBeziers(DCObj* dc, POINT start, const POINT* pts, size_t count) {
  std::vector<POINT> out{start};
  double scale = DeviceScale(dc);
  for (size_t i = 0; i + 2 < count; i += 3) {
    POINT p0 = out.back(), p1 = pts[i], p2 = pts[i + 1], p3 = pts[i + 2];
    double len = std::hypot(p1.x - p0.x, p1.y - p0.y) + std::hypot(p2.x - p1.x, p2.y - p1.y) +
                 std::hypot(p3.x - p2.x, p3.y - p2.y);
    int steps = static_cast<int>(std::clamp(len * scale / 2, 1.0, 4096.0));
    for (int k = 1; k <= steps; ++k) {
      double t = double(k) / steps, u = 1 - t;
      double x = u * u * u * p0.x + 3 * u * u * t * p1.x + 3 * u * t * t * p2.x + t * t * t * p3.x;
      double y = u * u * u * p0.y + 3 * u * u * t * p1.y + 3 * u * t * t * p2.y + t * t * t * p3.y;
      out.push_back(POINT{static_cast<LONG>(std::lround(x)), static_cast<LONG>(std::lround(y))});
    }
    out.back() = p3;
  }
  return out;
}

}  // namespace qvgdi

using namespace qvgdi;

int SetMapMode(HDC hdc, int mode) {
  auto lock = Lock();
  DCObj* dc = DC(hdc);
  if (!dc || mode < MM_TEXT || mode > MM_ANISOTROPIC) return 0;
  if (dc->recorder) RecState(dc, EMR_SETMAPMODE, {static_cast<uint32_t>(mode)});
  DCState& s = dc->state;
  int old = s.mapMode;
  s.mapMode = mode;
  int perInch = 0;
  if (FixedMode(mode, perInch)) {
    s.windowExt = SIZE{perInch, perInch};
    s.viewportExt = SIZE{kRefDpi, -kRefDpi};
  } else if (mode == MM_TEXT) {
    s.windowExt = s.viewportExt = SIZE{1, 1};
  } else if (old != MM_ISOTROPIC && old != MM_ANISOTROPIC && old != mode) {
    // Switching from a fixed mode keeps its extents, as the documented behaviour says.
  }
  FixIsotropic(s);
  UpdatePlain(s);
  return old;
}

int GetMapMode(HDC hdc) {
  auto lock = Lock();
  DCObj* dc = DC(hdc);
  return dc ? dc->state.mapMode : 0;
}

namespace {

BOOL SetExtent(HDC hdc, SIZE DCState::*field, uint32_t record, int x, int y, SIZE* old) {
  auto lock = Lock();
  DCObj* dc = DC(hdc);
  if (!dc) return FALSE;
  DCState& s = dc->state;
  if (old) *old = s.*field;
  // Fixed modes keep their extents; the call succeeds and changes nothing.
  if (s.mapMode != MM_ISOTROPIC && s.mapMode != MM_ANISOTROPIC) return TRUE;
  if (!ExtentValid(x, y)) return FALSE;
  if (dc->recorder) RecState(dc, record, {static_cast<uint32_t>(x), static_cast<uint32_t>(y)});
  s.*field = SIZE{x, y};
  FixIsotropic(s);
  UpdatePlain(s);
  return TRUE;
}

BOOL ScaleExtent(HDC hdc, SIZE DCState::*field, uint32_t record, int xNum, int xDenom, int yNum, int yDenom,
                 SIZE* old) {
  auto lock = Lock();
  DCObj* dc = DC(hdc);
  if (!dc || !xDenom || !yDenom) return FALSE;
  DCState& s = dc->state;
  if (old) *old = s.*field;
  if (s.mapMode != MM_ISOTROPIC && s.mapMode != MM_ANISOTROPIC) return TRUE;
  int64_t x = int64_t{(s.*field).cx} * xNum / xDenom, y = int64_t{(s.*field).cy} * yNum / yDenom;
  if (!ExtentValid(static_cast<int>(std::clamp<int64_t>(x, -(1 << 28), 1 << 28)),
                   static_cast<int>(std::clamp<int64_t>(y, -(1 << 28), 1 << 28))))
    return FALSE;
  if (dc->recorder)
    RecState(dc, record, {static_cast<uint32_t>(xNum), static_cast<uint32_t>(xDenom), static_cast<uint32_t>(yNum),
                          static_cast<uint32_t>(yDenom)});
  s.*field = SIZE{static_cast<LONG>(x), static_cast<LONG>(y)};
  FixIsotropic(s);
  UpdatePlain(s);
  return TRUE;
}

}  // namespace

BOOL SetWindowExtEx(HDC hdc, int x, int y, SIZE* oldSize) {
  return SetExtent(hdc, &DCState::windowExt, EMR_SETWINDOWEXTEX, x, y, oldSize);
}
BOOL SetViewportExtEx(HDC hdc, int x, int y, SIZE* oldSize) {
  return SetExtent(hdc, &DCState::viewportExt, EMR_SETVIEWPORTEXTEX, x, y, oldSize);
}
BOOL ScaleViewportExtEx(HDC hdc, int xNum, int xDenom, int yNum, int yDenom, SIZE* oldSize) {
  return ScaleExtent(hdc, &DCState::viewportExt, EMR_SCALEVIEWPORTEXTEX, xNum, xDenom, yNum, yDenom, oldSize);
}
BOOL ScaleWindowExtEx(HDC hdc, int xNum, int xDenom, int yNum, int yDenom, SIZE* oldSize) {
  return ScaleExtent(hdc, &DCState::windowExt, EMR_SCALEWINDOWEXTEX, xNum, xDenom, yNum, yDenom, oldSize);
}

BOOL GetWindowExtEx(HDC hdc, SIZE* size) {
  auto lock = Lock();
  DCObj* dc = DC(hdc);
  if (!dc || !size) return FALSE;
  *size = dc->state.windowExt;
  return TRUE;
}

BOOL GetViewportExtEx(HDC hdc, SIZE* size) {
  auto lock = Lock();
  DCObj* dc = DC(hdc);
  if (!dc || !size) return FALSE;
  *size = dc->state.viewportExt;
  return TRUE;
}

BOOL OffsetWindowOrgEx(HDC hdc, int dx, int dy, POINT* oldOrg) {
  auto lock = Lock();
  DCObj* dc = DC(hdc);
  if (!dc) return FALSE;
  POINT o = dc->state.windowOrg;
  if (oldOrg) *oldOrg = o;
  return SetWindowOrgEx(hdc, o.x + dx, o.y + dy, nullptr);
}

int SetGraphicsMode(HDC hdc, int mode) {
  auto lock = Lock();
  DCObj* dc = DC(hdc);
  if (!dc || (mode != GM_COMPATIBLE && mode != GM_ADVANCED)) return 0;
  int old = dc->state.graphicsMode;
  // Back to the compatible mode only with the identity transform, as documented.
  if (mode == GM_COMPATIBLE && !(dc->state.world == Matrix())) return 0;
  dc->state.graphicsMode = mode;
  return old;
}

int GetGraphicsMode(HDC hdc) {
  auto lock = Lock();
  DCObj* dc = DC(hdc);
  return dc ? dc->state.graphicsMode : 0;
}

namespace {

bool XformValid(const XFORM& x) {
  for (float v : {x.eM11, x.eM12, x.eM21, x.eM22, x.eDx, x.eDy})
    if (!std::isfinite(v) || std::abs(v) > 1e7f) return false;
  return x.eM11 * x.eM22 - x.eM12 * x.eM21 != 0;
}

}  // namespace

BOOL SetWorldTransform(HDC hdc, const XFORM* xform) {
  auto lock = Lock();
  DCObj* dc = DC(hdc);
  if (!dc || !xform || dc->state.graphicsMode != GM_ADVANCED || !XformValid(*xform)) return FALSE;
  if (dc->recorder) RecWorld(dc, EMR_SETWORLDTRANSFORM, *xform, 0);
  dc->state.world = Matrix{xform->eM11, xform->eM12, xform->eM21, xform->eM22, xform->eDx, xform->eDy};
  UpdatePlain(dc->state);
  return TRUE;
}

BOOL ModifyWorldTransform(HDC hdc, const XFORM* xform, DWORD mode) {
  auto lock = Lock();
  DCObj* dc = DC(hdc);
  if (!dc || dc->state.graphicsMode != GM_ADVANCED) return FALSE;
  if (mode != MWT_IDENTITY && (!xform || !XformValid(*xform))) return FALSE;
  if (mode < MWT_IDENTITY || mode > MWT_RIGHTMULTIPLY) return FALSE;
  XFORM x = xform ? *xform : XFORM();
  if (dc->recorder) RecWorld(dc, EMR_MODIFYWORLDTRANSFORM, x, mode);
  Matrix m{x.eM11, x.eM12, x.eM21, x.eM22, x.eDx, x.eDy};
  DCState& s = dc->state;
  if (mode == MWT_IDENTITY) s.world = Matrix();
  else if (mode == MWT_LEFTMULTIPLY) s.world = s.world.After(m);  // the new one applies first
  else s.world = m.After(s.world);
  UpdatePlain(s);
  return TRUE;
}

BOOL GetWorldTransform(HDC hdc, XFORM* xform) {
  auto lock = Lock();
  DCObj* dc = DC(hdc);
  if (!dc || !xform) return FALSE;
  const Matrix& m = dc->state.world;
  *xform = XFORM{float(m.m11), float(m.m12), float(m.m21), float(m.m22), float(m.dx), float(m.dy)};
  return TRUE;
}

BOOL LPtoDP(HDC hdc, POINT* points, int count) {
  auto lock = Lock();
  DCObj* dc = DC(hdc);
  if (!dc || (count > 0 && !points)) return FALSE;
  for (int i = 0; i < count; ++i) points[i] = DevPoint(dc, points[i].x, points[i].y);
  return TRUE;
}

BOOL DPtoLP(HDC hdc, POINT* points, int count) {
  auto lock = Lock();
  DCObj* dc = DC(hdc);
  if (!dc || (count > 0 && !points)) return FALSE;
  Matrix m = DeviceMatrix(dc);
  double det = m.m11 * m.m22 - m.m12 * m.m21;
  if (det == 0) return FALSE;
  for (int i = 0; i < count; ++i) {
    double x = points[i].x - m.dx, y = points[i].y - m.dy;
    points[i] = POINT{RoundDevice((x * m.m22 - y * m.m21) / det), RoundDevice((y * m.m11 - x * m.m12) / det)};
  }
  return TRUE;
}

int ExtSelectClipRgn(HDC hdc, HRGN rgn, int mode) {
  auto lock = Lock();
  DCObj* dc = DC(hdc);
  if (!dc || mode < RGN_AND || mode > RGN_COPY) return ERROR;
  if (mode == RGN_COPY) return SelectClipRgn(hdc, rgn);
  RegionObj* r = FindRegion(rgn);
  if (!r) return ERROR;
  if (dc->recorder) RecSelectClip(dc, &r->region, mode);
  constexpr int kHuge = 1 << 27;
  Region current = dc->state.clip ? *dc->state.clip : Region::FromRect(-kHuge, -kHuge, kHuge, kHuge);
  dc->state.clip = Region::Combine(current, r->region, mode);
  return DrawableArea(dc).Type();
}

int OffsetClipRgn(HDC hdc, int dx, int dy) {
  auto lock = Lock();
  DCObj* dc = DC(hdc);
  if (!dc) return ERROR;
  if (dc->recorder) RecState(dc, EMR_OFFSETCLIPRGN, {static_cast<uint32_t>(dx), static_cast<uint32_t>(dy)});
  if (!dc->state.clip) return SIMPLEREGION;
  // Logical units: the offset scales with the page.
  POINT a = DevPoint(dc, 0, 0), b = DevPoint(dc, dx, dy);
  dc->state.clip->Offset(b.x - a.x, b.y - a.y);
  return DrawableArea(dc).Type();
}

BOOL PolyBezier(HDC hdc, const POINT* points, DWORD count) {
  auto lock = Lock();
  DCObj* dc = DC(hdc);
  if (!dc || !points || count < 4 || (count - 1) % 3 || count > (1u << 20)) return FALSE;
  if (dc->recorder) return RecPoints(dc, EMR_POLYBEZIER16, EMR_POLYBEZIER, points, count);
  std::vector<POINT> flat = FlattenBeziers(dc, points[0], points + 1, count - 1);
  return Polyline(hdc, flat.data(), static_cast<int>(flat.size()));
}

BOOL PolyBezierTo(HDC hdc, const POINT* points, DWORD count) {
  auto lock = Lock();
  DCObj* dc = DC(hdc);
  if (!dc || !points || count < 3 || count % 3 || count > (1u << 20)) return FALSE;
  if (dc->recorder) {
    RecPoints(dc, EMR_POLYBEZIERTO16, EMR_POLYBEZIERTO, points, count);
    dc->state.position = points[count - 1];
    return TRUE;
  }
  std::vector<POINT> flat = FlattenBeziers(dc, dc->state.position, points, count);
  if (PathOpen(dc)) {
    std::vector<POINT> dev;
    for (size_t i = 1; i < flat.size(); ++i) dev.push_back(DevPoint(dc, flat[i].x, flat[i].y));
    PathAdd(dc, dev, false, false);
    dc->state.position = points[count - 1];
    return TRUE;
  }
  BOOL ok = Polyline(hdc, flat.data(), static_cast<int>(flat.size()));
  dc->state.position = points[count - 1];
  return ok;
}

BOOL PolylineTo(HDC hdc, const POINT* points, DWORD count) {
  auto lock = Lock();
  DCObj* dc = DC(hdc);
  if (!dc || !points || count == 0 || count > (1u << 20)) return FALSE;
  if (dc->recorder) {
    RecPoints(dc, EMR_POLYLINETO16, EMR_POLYLINETO, points, count);
    dc->state.position = points[count - 1];
    return TRUE;
  }
  if (PathOpen(dc)) {
    std::vector<POINT> dev;
    for (DWORD i = 0; i < count; ++i) dev.push_back(DevPoint(dc, points[i].x, points[i].y));
    PathAdd(dc, dev, false, false);
    dc->state.position = points[count - 1];
    return TRUE;
  }
  std::vector<POINT> all{dc->state.position};
  all.insert(all.end(), points, points + count);
  BOOL ok = Polyline(hdc, all.data(), static_cast<int>(all.size()));
  dc->state.position = points[count - 1];
  return ok;
}

BOOL PolyPolyline(HDC hdc, const POINT* points, const DWORD* counts, DWORD polylines) {
  auto lock = Lock();
  DCObj* dc = DC(hdc);
  if (!dc || !points || !counts || polylines == 0 || polylines > (1u << 16)) return FALSE;
  uint64_t total = 0;
  for (DWORD i = 0; i < polylines; ++i) {
    if (counts[i] < 2) return FALSE;
    total += counts[i];
  }
  if (total > (1u << 20)) return FALSE;
  if (dc->recorder) {
    std::vector<uint32_t> c(counts, counts + polylines);
    return RecPolyPoly(dc, EMR_POLYPOLYLINE16, EMR_POLYPOLYLINE, points, c.data(), polylines);
  }
  const POINT* at = points;
  for (DWORD i = 0; i < polylines; ++i) {
    Polyline(hdc, at, static_cast<int>(counts[i]));
    at += counts[i];
  }
  return TRUE;
}
