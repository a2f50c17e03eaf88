// Regions as horizontal bands of spans, the shapes that fill them (ellipses,
// rounded rectangles, polygons) and the region calls.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "platform/graphics/gdi_internal.h"

namespace qvgdi {

namespace {

// Shapes are rasterised only inside this range of rows, so a huge shape cannot
// make a huge region.
constexpr int kRowLimit = 1 << 15;

}  // namespace

void Normalise(std::vector<Span>& spans) {
  if (spans.size() <= 1) {
    if (!spans.empty() && spans[0].x1 <= spans[0].x0) spans.clear();
    return;
  }
  std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.x0 < b.x0; });
  std::vector<Span> out;
  for (const Span& s : spans) {
    if (s.x1 <= s.x0) continue;
    if (!out.empty() && s.x0 <= out.back().x1) out.back().x1 = std::max(out.back().x1, s.x1);
    else out.push_back(s);
  }
  spans.swap(out);
}

namespace {

bool Apply(int mode, bool a, bool b) {
  switch (mode) {
    case RGN_AND: return a && b;
    case RGN_OR: return a || b;
    case RGN_XOR: return a != b;
    case RGN_DIFF: return a && !b;
    default: return a;
  }
}

std::vector<Span> CombineSpans(const std::vector<Span>* a, const std::vector<Span>* b, int mode) {
  static const std::vector<Span> none;
  const auto& sa = a ? *a : none;
  const auto& sb = b ? *b : none;
  std::vector<int> xs;
  xs.reserve(2 * (sa.size() + sb.size()));
  for (const Span& s : sa) xs.insert(xs.end(), {s.x0, s.x1});
  for (const Span& s : sb) xs.insert(xs.end(), {s.x0, s.x1});
  std::sort(xs.begin(), xs.end());
  xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
  std::vector<Span> out;
  size_t ia = 0, ib = 0;
  for (size_t i = 0; i + 1 < xs.size(); ++i) {
    int x = xs[i];
    while (ia < sa.size() && sa[ia].x1 <= x) ++ia;
    while (ib < sb.size() && sb[ib].x1 <= x) ++ib;
    bool inA = ia < sa.size() && sa[ia].x0 <= x;
    bool inB = ib < sb.size() && sb[ib].x0 <= x;
    if (!Apply(mode, inA, inB)) continue;
    if (!out.empty() && out.back().x1 == x) out.back().x1 = xs[i + 1];
    else out.push_back({x, xs[i + 1]});
  }
  return out;
}

int Clamp(int64_t v, int lo, int hi) { return static_cast<int>(std::min<int64_t>(std::max<int64_t>(v, lo), hi)); }

}  // namespace

void Region::AppendBand(int y0, int y1, std::vector<Span> spans) {
  if (spans.empty() || y1 <= y0) return;
  if (!FBands.empty() && FBands.back().y1 == y0 && FBands.back().spans == spans) {
    FBands.back().y1 = y1;
    return;
  }
  FBands.push_back(Band{y0, y1, std::move(spans)});
}

Region Region::FromRect(int left, int top, int right, int bottom) {
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
  Region r;
  if (left < right) r.AppendBand(top, bottom, {Span{left, right}});
  return r;
}

void Region::AppendRow(int y, const std::vector<Span>& spans) {
  if (spans.empty()) return;
  if (!FBands.empty() && FBands.back().y1 == y && FBands.back().spans == spans) {
    FBands.back().y1 = y + 1;
    return;
  }
  FBands.push_back(Band{y, y + 1, spans});
}

Region Region::FromRows(int y, Rows rows) {
  auto byRow = [](const auto& a, const auto& b) { return a.first < b.first; };
  if (!std::is_sorted(rows.items.begin(), rows.items.end(), byRow))
    std::stable_sort(rows.items.begin(), rows.items.end(), byRow);
  Region r;
  std::vector<Span> spans;
  for (size_t i = 0; i < rows.items.size();) {
    uint32_t row = rows.items[i].first;
    spans.clear();
    for (; i < rows.items.size() && rows.items[i].first == row; ++i) spans.push_back(rows.items[i].second);
    Normalise(spans);
    r.AppendRow(y + static_cast<int>(row), spans);
  }
  return r;
}

const std::vector<Span>* Region::SpansAt(int y) const {
  auto it = std::upper_bound(FBands.begin(), FBands.end(), y, [](int v, const Band& b) { return v < b.y1; });
  if (it == FBands.end() || it->y0 > y) return nullptr;
  return &it->spans;
}

Region Region::Combine(const Region& a, const Region& b, int mode) {
  if (mode == RGN_COPY) return a;
  std::vector<int> ys;
  for (const Band& band : a.FBands) ys.insert(ys.end(), {band.y0, band.y1});
  for (const Band& band : b.FBands) ys.insert(ys.end(), {band.y0, band.y1});
  std::sort(ys.begin(), ys.end());
  ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
  Region r;
  for (size_t i = 0; i + 1 < ys.size(); ++i)
    r.AppendBand(ys[i], ys[i + 1], CombineSpans(a.SpansAt(ys[i]), b.SpansAt(ys[i]), mode));
  return r;
}

RECT Region::Bounds() const {
  if (FBands.empty()) return RECT{};
  RECT r{INT32_MAX, FBands.front().y0, INT32_MIN, FBands.back().y1};
  for (const Band& b : FBands) {
    r.left = std::min(r.left, b.spans.front().x0);
    r.right = std::max(r.right, b.spans.back().x1);
  }
  return r;
}

int Region::Type() const {
  if (FBands.empty()) return NULLREGION;
  return FBands.size() == 1 && FBands[0].spans.size() == 1 ? SIMPLEREGION : COMPLEXREGION;
}

bool Region::Contains(int x, int y) const {
  const auto* spans = SpansAt(y);
  if (!spans) return false;
  for (const Span& s : *spans)
    if (x >= s.x0 && x < s.x1) return true;
  return false;
}

bool Region::IntersectsRect(const RECT& r) const {
  for (const Band& b : FBands) {
    if (b.y1 <= r.top || b.y0 >= r.bottom) continue;
    for (const Span& s : b.spans)
      if (s.x1 > r.left && s.x0 < r.right) return true;
  }
  return false;
}

void Region::Offset(int dx, int dy) {
  // A move past the ends of the coordinate range stops there; what it squeezes
  // to nothing goes.
  auto move = [](int v, int d) { return static_cast<int>(std::clamp<int64_t>(int64_t{v} + d, INT32_MIN, INT32_MAX)); };
  for (Band& b : FBands) {
    b.y0 = move(b.y0, dy);
    b.y1 = move(b.y1, dy);
    for (Span& s : b.spans) {
      s.x0 = move(s.x0, dx);
      s.x1 = move(s.x1, dx);
    }
    std::erase_if(b.spans, [](const Span& s) { return s.x1 <= s.x0; });
  }
  std::erase_if(FBands, [](const Band& b) { return b.y1 <= b.y0 || b.spans.empty(); });
}

std::vector<RECT> Region::Rects() const {
  std::vector<RECT> out;
  for (const Band& b : FBands)
    for (const Span& s : b.spans) out.push_back(RECT{s.x0, b.y0, s.x1, b.y1});
  return out;
}

bool Region::operator==(const Region& other) const {
  if (FBands.size() != other.FBands.size()) return false;
  for (size_t i = 0; i < FBands.size(); ++i) {
    const Band &a = FBands[i], &b = other.FBands[i];
    if (a.y0 != b.y0 || a.y1 != b.y1 || a.spans != b.spans) return false;
  }
  return true;
}

// Pixels whose centres lie inside the shape belong to it; a shape covers the
// box from left/top up to, not including, right/bottom.
Rows EllipseRows(int left, int top, int right, int bottom, int yMin, int yMax) {
  Rows rows;
  if (right <= left || bottom <= top) return rows;
  int y0 = std::max(top, yMin), y1 = std::min(bottom, yMax);
  if (y1 <= y0) return rows;
  double cx = (static_cast<double>(left) + right) / 2, cy = (static_cast<double>(top) + bottom) / 2;
  double a = (static_cast<double>(right) - left) / 2, b = (static_cast<double>(bottom) - top) / 2;
  rows.resize(static_cast<size_t>(y1 - y0));
  for (int y = y0; y < y1; ++y) {
    double t = (y + 0.5 - cy) / b;
    double q = 1 - t * t;
    if (q < 0) continue;
    double dx = a * std::sqrt(q);
    int x0 = static_cast<int>(std::ceil(cx - dx - 0.5));
    int x1 = static_cast<int>(std::floor(cx + dx - 0.5)) + 1;
    x0 = std::max(x0, left);
    x1 = std::min(x1, right);
    if (x1 > x0) rows.Add(static_cast<size_t>(y - y0), {x0, x1});
  }
  return rows;
}

Rows RoundRectRows(int left, int top, int right, int bottom, int w, int h, int yMin,
                                             int yMax) {
  Rows rows;
  if (right <= left || bottom <= top) return rows;
  int y0 = std::max(top, yMin), y1 = std::min(bottom, yMax);
  if (y1 <= y0) return rows;
  double rx = std::min(std::abs(w), right - left) / 2.0, ry = std::min(std::abs(h), bottom - top) / 2.0;
  rows.resize(static_cast<size_t>(y1 - y0));
  for (int y = y0; y < y1; ++y) {
    double yc = y + 0.5, inset = 0;
    double d = 0;
    if (yc < top + ry) d = top + ry - yc;
    else if (yc > bottom - ry) d = yc - (bottom - ry);
    if (d > 0 && ry > 0) {
      double t = d / ry;
      if (t > 1) continue;
      inset = rx - rx * std::sqrt(1 - t * t);
    }
    int x0 = static_cast<int>(std::ceil(left + inset - 0.5));
    int x1 = static_cast<int>(std::floor(right - inset - 0.5)) + 1;
    x0 = std::max(x0, left);
    x1 = std::min(x1, right);
    if (x1 > x0) rows.Add(static_cast<size_t>(y - y0), {x0, x1});
  }
  return rows;
}

Rows PolygonRows(const std::vector<std::vector<POINT>>& polygons, int fillMode,
                                           int yMin, int yMax, int& firstRow) {
  std::vector<std::vector<PointD>> converted;
  for (const auto& poly : polygons) {
    converted.emplace_back();
    for (const POINT& p : poly) converted.back().push_back({double(p.x), double(p.y)});
  }
  return PolygonRowsD(converted, fillMode, yMin, yMax, firstRow);
}

Rows PolygonRowsD(const std::vector<std::vector<PointD>>& polygons, int fillMode,
                                            int yMin, int yMax, int& firstRow) {
  Rows rows;
  double top = HUGE_VAL, bottom = -HUGE_VAL;
  for (const auto& poly : polygons)
    for (const PointD& p : poly) {
      top = std::min(top, p.y);
      bottom = std::max(bottom, p.y);
    }
  if (!(top < bottom)) return rows;
  // Rows whose centres lie between the top and bottom vertices.
  int y0 = Clamp(static_cast<int64_t>(std::max(-1e15, std::ceil(top - 0.5))), yMin, yMax);
  int y1 = Clamp(static_cast<int64_t>(std::min(1e15, std::ceil(bottom - 0.5))), yMin, yMax);
  firstRow = y0;
  if (y1 <= y0) return rows;
  struct Edge {
    double x0, y0, x1, y1;
    int dir;
  };
  std::vector<Edge> edges;
  for (const auto& poly : polygons) {
    for (size_t i = 0; i < poly.size(); ++i) {
      const PointD& a = poly[i];
      const PointD& b = poly[(i + 1) % poly.size()];
      if (a.y == b.y) continue;
      if (a.y < b.y) edges.push_back({a.x, a.y, b.x, b.y, 1});
      else edges.push_back({b.x, b.y, a.x, a.y, -1});
    }
  }
  rows.resize(static_cast<size_t>(y1 - y0));
  std::vector<std::pair<double, int>> xs;
  for (int y = y0; y < y1; ++y) {
    double yc = y + 0.5;
    xs.clear();
    for (const Edge& e : edges)
      if (yc >= e.y0 && yc < e.y1) xs.push_back({e.x0 + (yc - e.y0) * (e.x1 - e.x0) / (e.y1 - e.y0), e.dir});
    std::sort(xs.begin(), xs.end());
    int winding = 0;
    for (size_t i = 0; i + 1 < xs.size(); ++i) {
      winding += fillMode == WINDING ? xs[i].second : 1;
      bool inside = fillMode == WINDING ? winding != 0 : (winding & 1) != 0;
      if (!inside) continue;
      double a = std::clamp(xs[i].first, -1e9, 1e9), b = std::clamp(xs[i + 1].first, -1e9, 1e9);
      int x0 = static_cast<int>(std::ceil(a - 0.5));
      int x1 = static_cast<int>(std::ceil(b - 0.5));
      if (x1 > x0) rows.Add(static_cast<size_t>(y - y0), {x0, x1});
    }
  }
  return rows;
}

namespace {

// The parts of spans a not covered by spans b (both sorted and disjoint).
std::vector<Span> SpansLess(const std::vector<Span>& a, const std::vector<Span>& b) {
  std::vector<Span> out;
  size_t j = 0;
  for (const Span& sp : a) {
    int x = sp.x0;
    while (j < b.size() && b[j].x1 <= x) ++j;
    for (size_t k = j; k < b.size() && b[k].x0 < sp.x1; ++k) {
      if (b[k].x0 > x) out.push_back({x, b[k].x0});
      x = std::max(x, b[k].x1);
    }
    if (x < sp.x1) out.push_back({x, sp.x1});
  }
  return out;
}

}  // namespace

std::vector<std::vector<POINT>> RegionOutlines(const Region& region) {
  // Every pixel edge between inside and outside, directed with the inside on
  // its right, then chained end to start into closed loops.
  struct Edge {
    POINT a, b;
  };
  std::vector<Edge> edges;
  const std::vector<Band>& bands = region.Bands();
  static const std::vector<Span> kNone;
  for (size_t i = 0; i < bands.size(); ++i) {
    const Band& band = bands[i];
    for (const Span& sp : band.spans) {
      edges.push_back({{sp.x0, band.y1}, {sp.x0, band.y0}});
      edges.push_back({{sp.x1, band.y0}, {sp.x1, band.y1}});
    }
    const std::vector<Span>& above = i > 0 && bands[i - 1].y1 == band.y0 ? bands[i - 1].spans : kNone;
    for (const Span& sp : SpansLess(band.spans, above)) edges.push_back({{sp.x0, band.y0}, {sp.x1, band.y0}});
    const std::vector<Span>& below = i + 1 < bands.size() && bands[i + 1].y0 == band.y1 ? bands[i + 1].spans : kNone;
    for (const Span& sp : SpansLess(band.spans, below)) edges.push_back({{sp.x1, band.y1}, {sp.x0, band.y1}});
  }
  auto key = [](POINT p) { return (static_cast<uint64_t>(static_cast<uint32_t>(p.x)) << 32) | static_cast<uint32_t>(p.y); };
  std::unordered_multimap<uint64_t, size_t> starts;
  starts.reserve(edges.size());
  for (size_t i = 0; i < edges.size(); ++i) starts.emplace(key(edges[i].a), i);
  std::vector<bool> used(edges.size(), false);
  std::vector<std::vector<POINT>> loops;
  for (size_t first = 0; first < edges.size(); ++first) {
    if (used[first]) continue;
    std::vector<POINT> loop;
    size_t e = first;
    for (;;) {
      used[e] = true;
      const Edge& edge = edges[e];
      // Corners only: a point where the outline goes straight on is left out.
      if (loop.size() >= 2) {
        const POINT& p = loop[loop.size() - 2];
        const POINT& q = loop.back();
        if ((p.x == q.x && q.x == edge.b.x) || (p.y == q.y && q.y == edge.b.y)) loop.pop_back();
      }
      if (loop.empty()) loop.push_back(edge.a);
      loop.push_back(edge.b);
      size_t next = edges.size();
      auto range = starts.equal_range(key(edge.b));
      for (auto it = range.first; it != range.second; ++it)
        if (!used[it->second]) {
          next = it->second;
          break;
        }
      if (next == edges.size()) break;
      e = next;
    }
    // The loop ends where it began; drop the repeated point and a straight start.
    if (loop.size() > 1 && loop.back().x == loop.front().x && loop.back().y == loop.front().y) loop.pop_back();
    if (loop.size() >= 3) {
      const POINT& p = loop.back();
      const POINT& q = loop.front();
      const POINT& r = loop[1];
      if ((p.x == q.x && q.x == r.x) || (p.y == q.y && q.y == r.y)) loop.erase(loop.begin());
    }
    if (loop.size() >= 3) loops.push_back(std::move(loop));
  }
  return loops;
}

}  // namespace qvgdi

using namespace qvgdi;

namespace {

HRGN NewRegion(Region r) {
  auto o = std::make_unique<RegionObj>();
  o->region = std::move(r);
  return static_cast<HRGN>(Register(std::move(o)));
}

}  // namespace

HRGN CreateRectRgn(int left, int top, int right, int bottom) {
  auto lock = Lock();
  return NewRegion(Region::FromRect(left, top, right, bottom));
}

HRGN CreateRectRgnIndirect(const RECT* rect) {
  return rect ? CreateRectRgn(rect->left, rect->top, rect->right, rect->bottom) : nullptr;
}

HRGN CreateEllipticRgn(int left, int top, int right, int bottom) {
  auto lock = Lock();
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
  int y0 = std::max(top, -kRowLimit);
  return NewRegion(Region::FromRows(y0, EllipseRows(left, top, right, bottom, -kRowLimit, kRowLimit)));
}

HRGN CreateEllipticRgnIndirect(const RECT* rect) {
  return rect ? CreateEllipticRgn(rect->left, rect->top, rect->right, rect->bottom) : nullptr;
}

HRGN CreateRoundRectRgn(int left, int top, int right, int bottom, int width, int height) {
  auto lock = Lock();
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
  int y0 = std::max(top, -kRowLimit);
  return NewRegion(
      Region::FromRows(y0, RoundRectRows(left, top, right, bottom, width, height, -kRowLimit, kRowLimit)));
}

HRGN CreatePolygonRgn(const POINT* points, int count, int fillMode) {
  auto lock = Lock();
  if (!points || count < 2 || count > (1 << 20) || (fillMode != ALTERNATE && fillMode != WINDING)) return nullptr;
  std::vector<std::vector<POINT>> polys{std::vector<POINT>(points, points + count)};
  int first = 0;
  auto rows = PolygonRows(polys, fillMode, -kRowLimit, kRowLimit, first);
  return NewRegion(Region::FromRows(first, std::move(rows)));
}

HRGN ExtCreateRegion(const XFORM* xform, DWORD count, const RGNDATA* data) {
  auto lock = Lock();
  if (!data || count < sizeof(RGNDATAHEADER)) return nullptr;
  const RGNDATAHEADER& h = data->rdh;
  if (h.dwSize != sizeof(RGNDATAHEADER) || h.iType != RDH_RECTANGLES || h.nCount > (1u << 20) ||
      sizeof(RGNDATAHEADER) + static_cast<uint64_t>(h.nCount) * sizeof(RECT) > count)
    return nullptr;
  // Only scaling and moving keep rectangles rectangular.
  if (xform && (xform->eM12 != 0 || xform->eM21 != 0)) return nullptr;
  std::vector<RECT> rects(h.nCount);
  if (h.nCount) std::memcpy(rects.data(), data->Buffer, rects.size() * sizeof(RECT));
  for (RECT& r : rects) {
    if (xform) {
      r = RECT{static_cast<LONG>(std::lround(r.left * xform->eM11 + xform->eDx)),
               static_cast<LONG>(std::lround(r.top * xform->eM22 + xform->eDy)),
               static_cast<LONG>(std::lround(r.right * xform->eM11 + xform->eDx)),
               static_cast<LONG>(std::lround(r.bottom * xform->eM22 + xform->eDy))};
    }
    if (r.left > r.right) std::swap(r.left, r.right);
    if (r.top > r.bottom) std::swap(r.top, r.bottom);
  }
  // Sweep the rectangles top-down: between two consecutive edges the same set covers every row.
  std::vector<int> ys;
  for (const RECT& r : rects)
    if (r.left < r.right && r.top < r.bottom) ys.insert(ys.end(), {r.top, r.bottom});
  std::sort(ys.begin(), ys.end());
  ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
  std::sort(rects.begin(), rects.end(), [](const RECT& a, const RECT& b) { return a.top < b.top; });
  Region result;
  std::vector<const RECT*> active;
  size_t next = 0;
  for (size_t i = 0; i + 1 < ys.size(); ++i) {
    int y = ys[i];
    while (next < rects.size() && rects[next].top <= y) active.push_back(&rects[next++]);
    active.erase(std::remove_if(active.begin(), active.end(), [&](const RECT* r) { return r->bottom <= y; }),
                 active.end());
    std::vector<Span> spans;
    for (const RECT* r : active)
      if (r->left < r->right) spans.push_back({r->left, r->right});
    Normalise(spans);
    result.AppendBand(y, ys[i + 1], std::move(spans));
  }
  return NewRegion(std::move(result));
}

int CombineRgn(HRGN dest, HRGN src1, HRGN src2, int mode) {
  auto lock = Lock();
  RegionObj* d = FindRegion(dest);
  RegionObj* a = FindRegion(src1);
  if (!d || !a || mode < RGN_AND || mode > RGN_COPY) return ERROR;
  if (mode == RGN_COPY) {
    d->region = a->region;
    return d->region.Type();
  }
  RegionObj* b = FindRegion(src2);
  if (!b) return ERROR;
  d->region = Region::Combine(a->region, b->region, mode);
  return d->region.Type();
}

BOOL SetRectRgn(HRGN rgn, int left, int top, int right, int bottom) {
  auto lock = Lock();
  RegionObj* r = FindRegion(rgn);
  if (!r) return FALSE;
  r->region = Region::FromRect(left, top, right, bottom);
  return TRUE;
}

int OffsetRgn(HRGN rgn, int dx, int dy) {
  auto lock = Lock();
  RegionObj* r = FindRegion(rgn);
  if (!r) return ERROR;
  r->region.Offset(dx, dy);
  return r->region.Type();
}

int GetRgnBox(HRGN rgn, RECT* rect) {
  auto lock = Lock();
  RegionObj* r = FindRegion(rgn);
  if (!r || !rect) return ERROR;
  *rect = r->region.Bounds();
  return r->region.Type();
}

BOOL PtInRegion(HRGN rgn, int x, int y) {
  auto lock = Lock();
  RegionObj* r = FindRegion(rgn);
  return r && r->region.Contains(x, y);
}

BOOL RectInRegion(HRGN rgn, const RECT* rect) {
  auto lock = Lock();
  RegionObj* r = FindRegion(rgn);
  if (!r || !rect) return FALSE;
  RECT n{std::min(rect->left, rect->right), std::min(rect->top, rect->bottom), std::max(rect->left, rect->right),
         std::max(rect->top, rect->bottom)};
  return r->region.IntersectsRect(n);
}

BOOL EqualRgn(HRGN a, HRGN b) {
  auto lock = Lock();
  RegionObj* ra = FindRegion(a);
  RegionObj* rb = FindRegion(b);
  if (!ra || !rb) return ERROR;
  return ra->region == rb->region;
}

DWORD GetRegionData(HRGN rgn, DWORD count, RGNDATA* data) {
  auto lock = Lock();
  RegionObj* r = FindRegion(rgn);
  if (!r) return 0;
  std::vector<RECT> rects = r->region.Rects();
  uint64_t needed = sizeof(RGNDATAHEADER) + rects.size() * sizeof(RECT);
  if (needed > UINT32_MAX) return 0;
  if (!data) return static_cast<DWORD>(needed);
  if (count < needed) return 0;
  data->rdh = RGNDATAHEADER();
  data->rdh.nCount = static_cast<DWORD>(rects.size());
  data->rdh.nRgnSize = static_cast<DWORD>(rects.size() * sizeof(RECT));
  data->rdh.rcBound = r->region.Bounds();
  if (!rects.empty()) std::memcpy(data->Buffer, rects.data(), rects.size() * sizeof(RECT));
  return count;
}
