// The step procedures that reveal the end picture through a clip region:
// curved wipes, bars and crisscrosses, shredded and speckled wipes, polygon
// wipes, zigzags, sweeps, grids of growing or random shapes, blinds, shape
// wipes and turning shapes.
#include <algorithm>
#include <cmath>
#include <vector>

#include "imaging/extras/transitions/transition_regions.h"
#include "imaging/extras/transitions/transition_steps.h"
#include "platform/graphics/gdi.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/rtl/random.h"
#include "platform/rtl/rounding.h"
#include "platform/win/system_info.h"

namespace {

struct TClipFrame {
  HDC dc;
  TBitmap* start;
  TBitmap* end;
  int W, H, wp, hp, cx, cy, percent, step;
};

// Selects the region as the clip, copies the whole picture through it and
// deletes it; nothing for no region.
void ClipCopy(const TClipFrame& f, HRGN region, TBitmap* picture) {
  if (!region) return;
  SelectClipRgn(f.dc, region);
  BitBlt(f.dc, 0, 0, f.W, f.H, picture->Canvas()->Handle(), 0, 0, SRCCOPY);
  SelectClipRgn(f.dc, nullptr);
  DeleteObject(region);
}

HRGN CutOut(const TClipFrame& f, const std::vector<HRGN>& shapes) {
  HRGN region = CreateRectRgn(0, 0, f.W, f.H);
  for (HRGN s : shapes) {
    if (!s) continue;
    CombineRgn(region, region, s, RGN_XOR);
    DeleteObject(s);
  }
  return region;
}

HRGN Triangles(const std::vector<int>& c) {
  HRGN region = nullptr;
  for (size_t i = 0; i + 5 < c.size(); i += 6)
    region = UnionRegion(region, TriangleRegion(c[i], c[i + 1], c[i + 2], c[i + 3], c[i + 4], c[i + 5]));
  return region;
}

// ---- curved, bars, shredded, speckled ----

HRGN CurvedRegion(int type, const TClipFrame& f) {
  const int W = f.W, H = f.H, wp = f.wp, hp = f.hp;
  switch (type) {
    case 77: return CreateRoundRectRgn(-2 * W, 0, 2 * wp, H + 1, 2 * W, 2 * W);
    case 78: return CreateRoundRectRgn(W - 2 * wp, 0, 3 * W, H + 1, 2 * W, 2 * W);
    case 79: return CreateRoundRectRgn(0, -2 * H, W + 1, 2 * hp, 2 * H, 2 * H);
    case 80: return CreateRoundRectRgn(0, H - 2 * hp, W + 1, 3 * H, 2 * H, 2 * H);
    case 81: return CreateRoundRectRgn(-W, -H, 3 * wp / 2, 3 * hp / 2, 2 * W, 2 * H);
    case 82: return CreateRoundRectRgn(W - 3 * wp / 2, -H, 2 * W, 3 * hp / 2, 2 * W, 2 * H);
    case 83: return CreateRoundRectRgn(-W, H - 3 * hp / 2, 3 * wp / 2, 2 * H, 2 * W, 2 * H);
    default: return CreateRoundRectRgn(W - 3 * wp / 2, H - 3 * hp / 2, 2 * W, 2 * H, 2 * W, 2 * H);
  }
}

HRGN BarsRegion(int type, const TClipFrame& f) {
  const int wp = f.wp, hp = f.hp;
  struct TBars { int type, x, y, hm, vm; };
  // Reach factors: 2 for the one-sided patterns, 1 for the two-sided ones.
  static constexpr TBars kBars[] = {
      {85, 2, 0, 2, 0}, {86, 2, 0, 1, 0}, {87, 0, 2, 0, 2}, {88, 0, 2, 0, 1}, {89, 2, 0, 4, 0},
      {90, 2, 0, 5, 0}, {91, 0, 2, 0, 4}, {92, 0, 2, 0, 5}, {93, 1, 0, 3, 0}, {94, 0, 1, 0, 3},
      {119, 2, 2, 2, 2}, {120, 2, 2, 1, 2}, {121, 2, 2, 2, 1}, {122, 2, 2, 1, 1}, {123, 2, 2, 4, 4},
      {124, 2, 2, 5, 4}, {125, 2, 2, 4, 5}, {126, 2, 2, 5, 5}, {127, 1, 1, 3, 2}, {128, 1, 1, 3, 1},
      {129, 1, 1, 2, 3}, {130, 1, 1, 3, 3}, {131, 1, 1, 1, 3}};
  if (type == 132) {
    HRGN a = BuildBarsRegion(2 * wp, 2 * hp, f.W, f.H, 1, 1);
    HRGN b = BuildBarsRegion(2 * wp, 2 * hp, f.W, f.H, 2, 2);
    if (!a || !b) {
      if (a) DeleteObject(a);
      if (b) DeleteObject(b);
      return nullptr;
    }
    CombineRgn(a, a, b, RGN_AND);
    DeleteObject(b);
    return a;
  }
  for (const TBars& b : kBars)
    if (b.type == type) return BuildBarsRegion(b.x * wp, b.y * hp, f.W, f.H, b.hm, b.vm);
  return nullptr;
}

HRGN ShreddedRegion(int type, const TClipFrame& f) {
  struct TShred { int type, x, y, hm, vm; };
  static constexpr TShred kShreds[] = {
      {95, 1, 0, 2, 0},  {96, 1, 0, 1, 0},  {97, 0, 1, 0, 2},  {98, 0, 1, 0, 1},  {99, 1, 1, 2, 2},
      {100, 1, 1, 1, 2}, {101, 1, 1, 2, 1}, {102, 1, 1, 1, 1}, {103, 1, 1, 2, 3}, {104, 1, 1, 1, 3},
      {105, 1, 1, 3, 2}, {106, 1, 1, 3, 1}, {107, 1, 1, 3, 3}, {108, 1, 1, 4, 4}, {109, 0, 1, 0, 4},
      {110, 1, 0, 4, 0}, {111, 0, 1, 0, 3}, {112, 1, 0, 3, 0}};
  for (const TShred& s : kShreds)
    if (s.type == type) return BuildShreddedRegion(s.x * f.wp, s.y * f.hp, f.W, f.H, s.hm, s.vm);
  return nullptr;
}

HRGN SpeckledRegion(int type, const TClipFrame& f) {
  switch (type) {
    case 147: return BuildSpeckledRegion(f.wp, f.hp, f.W, f.H, 2, 0);
    case 148: return BuildSpeckledRegion(f.wp, f.hp, f.W, f.H, 1, 0);
    case 149: return BuildSpeckledRegion(f.wp, f.hp, f.W, f.H, 0, 2);
    default: return BuildSpeckledRegion(f.wp, f.hp, f.W, f.H, 0, 1);
  }
}

// ---- polygons ----

HRGN PolygonWipeRegion(int type, const TClipFrame& f) {
  const int W = f.W, H = f.H, wp = f.wp, hp = f.hp, cx = f.cx, cy = f.cy;
  switch (type) {
    case 133: return Triangles({0, 0, 2 * wp, 0, 0, 2 * hp});
    case 134: return Triangles({W, 0, W - 2 * wp, 0, W, 2 * hp});
    case 135: return Triangles({0, H, 2 * wp, H, 0, H - 2 * hp});
    case 136: return Triangles({W, H, W - 2 * wp, H, W, H - 2 * hp});
    case 137: return Triangles({W, 0, 0, 0, W, hp, W, H, 0, H, 0, H - hp});
    case 138: return Triangles({0, H, 0, 0, wp, H, W, H, W, 0, W - wp, 0});
    case 141:
      return Triangles({cx, cy, 0, 0, wp, 0, cx, cy, 0, H, 0, H - hp, cx, cy, W, H, W - wp, H, cx, cy, W, 0, W, hp});
    case 142:
      return Triangles({cx, cy, 0, 0, 0, hp, cx, cy, 0, H, wp, H, cx, cy, W, H, W, H - hp, cx, cy, W, 0, W - wp, 0});
    case 171: return Triangles({0, cy - hp, 2 * wp, cy, 0, cy + hp});
    case 172: return Triangles({W, cy - hp, W - 2 * wp, cy, W, cy + hp});
    case 173: return Triangles({cx - wp, 0, cx, 2 * hp, cx + wp, 0});
    case 174: return Triangles({cx - wp, H, cx, H - 2 * hp, cx + wp, H});
    case 175: return Triangles({0, cy - hp, wp, cy, 0, cy + hp, W, cy - hp, W - wp, cy, W, cy + hp});
    case 176: return Triangles({cx - wp, 0, cx, 2 * hp, cx + wp, 0, cx - wp, H, cx, H - 2 * hp, cx + wp, H});
    case 177: case 178: {
      const int a = type == 178 ? wp / 2 : (W - wp) / 2, b = type == 178 ? hp / 2 : (H - hp) / 2;
      const std::vector<int> t = {0,  cy - b, a,      cy, 0,      cy + b, W,      cy - b, W - a,  cy, W,      cy + b,
                                  cx - a, 0,  cx,     b,  cx + a, 0,      cx - a, H,      cx,     H - b, cx + a, H};
      if (type == 178) return Triangles(t);
      std::vector<HRGN> shapes;
      for (size_t i = 0; i < t.size(); i += 6)
        shapes.push_back(TriangleRegion(t[i], t[i + 1], t[i + 2], t[i + 3], t[i + 4], t[i + 5]));
      return CutOut(f, shapes);
    }
    case 181: return PolygonRegionFromInts({cx - wp, cy, cx, cy - hp, cx + wp, cy, cx, cy + hp});
    case 182:
      return CutOut(f, {PolygonRegionFromInts({wp - cx, cy, cx, hp - cy, 3 * cx - wp, cy, cx, 3 * cy - hp})});
  }
  return nullptr;
}

// A band between two zigzag lines of twelve points; along the rows for the
// horizon members, along the columns for the vertical-centre ones.
HRGN ZigzagRegion(bool columns, const TClipFrame& f, int percent, int wp, int hp) {
  const int s = columns ? f.H / 10 : f.W / 10;
  const int n = columns ? f.W / 10 : f.H / 10;
  const int c = columns ? f.cx : f.cy;
  const int b = MulDiv(n, percent, 100) + (columns ? wp : hp) / 2;
  const int y0 = c + n - b, y1 = c - n - b, y2 = c + n + b, y3 = c + b - n;
  std::vector<POINT> points(24);
  for (int k = 0; k < 12; ++k) {
    points[size_t(k)] = POINT{k * s, k % 2 == 0 ? y0 : y1};
    points[size_t(23 - k)] = POINT{k * s, k % 2 == 0 ? y2 : y3};
  }
  if (columns)
    for (POINT& p : points) std::swap(p.x, p.y);
  return CreatePolygonRgn(points.data(), 24, WINDING);
}

// ---- grids ----

// Centres at odd multiples of the cell, column by column.
template <class F>
void ForGrid(int cellX, int cellY, int W, int H, F&& visit, int extraRows = 0) {
  if (cellX <= 0 || cellY <= 0) return;
  for (int x = cellX; x - cellX < W; x += 2 * cellX)
    for (int y = cellY; y - cellY < H + extraRows; y += 2 * cellY) visit(x, y);
}

HRGN ShapeInBox(int code, int left, int top, int right, int bottom) {
  if (code == 255) return CreateEllipticRgn(left, top, right, bottom);
  return BuildShapeRegion(code, left, top, right - left, bottom - top);
}

HRGN GridRegion(int type, const TClipFrame& f) {
  const int W = f.W, H = f.H, p = f.percent;
  const int c = std::min(W, H) / 10 + 1;
  HRGN region = nullptr;
  switch (type) {
    case 113: {
      TComplexRegion rects;
      const int a = MulDiv(c, p, 100);
      ForGrid(c, c, W, H, [&](int x, int y) { rects.AddRect(x - a, y - a, x + a, y + a); });
      return rects.CreateRegion();
    }
    case 116: {
      const int a = MulDiv(c, p, 50);
      ForGrid(c, c, W, H, [&](int x, int y) {
        region = UnionRegion(region, PolygonRegionFromInts({x - a, y, x, y - a, x + a, y, x, y + a}));
      });
      return region;
    }
    case 114: {
      const int cw = W / 10 + 1, ch = H / 10 + 1;
      const int a = MulDiv(cw, p, 50), b = MulDiv(ch, p, 50);
      ForGrid(
          cw, ch, W, H,
          [&](int x, int y) { region = UnionRegion(region, TriangleRegion(x - a, y - b, x, y + b, x + a, y - b)); },
          ch);
      return region;
    }
  }
  int code = 255;
  float factor = 3;
  switch (type) {
    case 115: factor = 3, code = 255; break;
    case 196: factor = 3, code = 15; break;
    case 197: factor = 4, code = 0; break;
    case 198: factor = 4, code = 1; break;
    case 199: factor = 4, code = 8; break;
    default: factor = 6, code = 6; break;
  }
  const int r = MulDiv(static_cast<int>(Round(c * static_cast<double>(factor))), p, 200);
  ForGrid(c, c, W, H,
          [&](int x, int y) { region = UnionRegion(region, ShapeInBox(code, x - r, y - r, x + r, y + r)); });
  return region;
}

// ---- blinds ----

HRGN BlindsRegion(int type, const TClipFrame& f) {
  const int W = f.W, H = f.H, p = f.percent;
  TComplexRegion rects;
  switch (type) {
    case 159: {
      const int s = H / 40 + 1, a = MulDiv(s, p, 100);
      for (int y = s; y - s < H; y += 2 * s) rects.AddRect(0, y - a, W, y + a);
      break;
    }
    case 160: {
      const int s = W / 40 + 1, a = MulDiv(s, p, 100);
      for (int x = s; x - s < W; x += 2 * s) rects.AddRect(x - a, 0, x + a, H);
      break;
    }
    case 161: case 162: case 163: case 164: {
      const bool columns = type <= 162;
      const int n = columns ? f.wp : f.hp;
      if (n <= 0) break;
      const int a = MulDiv(n, p, 100);
      const int size = columns ? W : H;
      if (type == 161 || type == 163) {
        for (int v = 0; v < size; v += n)
          columns ? rects.AddRect(v, 0, v + a, H) : rects.AddRect(0, v, W, v + a);
      } else {
        for (int v = size; v > 0; v -= n)
          columns ? rects.AddRect(v - a, 0, v, H) : rects.AddRect(0, v - a, W, v);
      }
      break;
    }
    default: {  // 165..168: bands across, then uneven blinds
      const bool fromSide = type <= 166;
      const int n = fromSide ? f.wp : f.hp;
      const int m = fromSide ? H / 20 : W / 20;
      if (n <= 0 || m <= 0) break;
      const int a = MulDiv(m, p, 100);
      for (int v = -m; v < (fromSide ? H : W); v += 3 * m)
        fromSide ? rects.AddRect(0, v - a, W, v + a) : rects.AddRect(v - a, 0, v + a, H);
      const int b = MulDiv(n, p, 100);
      const int size = fromSide ? W : H;
      if (type == 165 || type == 167) {
        for (int v = 0; v < size; v += n) fromSide ? rects.AddRect(v, 0, v + b, H) : rects.AddRect(0, v, W, v + b);
      } else {
        for (int v = size; v > 0; v -= n) fromSide ? rects.AddRect(v - b, 0, v, H) : rects.AddRect(0, v - b, W, v);
      }
    }
  }
  return rects.CreateRegion();
}

// ---- random patterns ----

// Every frame of one transition draws the same sequence: the seed is the end
// picture's handle, and the caller's seed comes back afterwards.
class TSeedScope {
public:
  explicit TSeedScope(TBitmap* end) : FSaved(RandSeed) {
    RandSeed = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(end->Handle()));
  }
  ~TSeedScope() { RandSeed = FSaved; }

private:
  uint32_t FSaved;
};

HRGN RandomRegion(int type, const TClipFrame& f) {
  const int W = f.W, H = f.H, p = f.percent;
  TSeedScope seed(f.end);
  if (type == 185) {
    const int c = std::min(W, H) / 20 + 1;
    TComplexRegion rects;
    ForGrid(c, c, W, H, [&](int x, int y) {
      if (Random(100) < p) rects.AddRect(x - c, y - c, x + c, y + c);
    });
    return rects.CreateRegion();
  }
  float factor;
  int q, code;
  switch (type) {
    case 192: factor = 0.6f, q = 12, code = 15; break;
    case 193: factor = 0.4f, q = 14, code = 0; break;
    case 194: factor = 0.4f, q = 14, code = 1; break;
    default: factor = 0.5f, q = 18, code = p % 2 ? 9 : 8; break;
  }
  const int r = std::min(W, H) / q + 1;
  const int d = static_cast<int>(Trunc(r * static_cast<double>(factor)));
  HRGN region = nullptr;
  ForGrid(d, d, W, H, [&](int x, int y) {
    if (Random(100) < p) region = UnionRegion(region, BuildShapeRegion(code, x - r, y - r, 2 * r, 2 * r));
  });
  return region;
}

// ---- shape wipes ----

HRGN ShapeWipeRegion(float factor, bool inward, int code, const TClipFrame& f) {
  const int W = f.W, H = f.H, wp = f.wp, hp = f.hp, cx = f.cx, cy = f.cy;
  const double fd = factor;
  if (!inward) {
    if (factor == 1.0f) {
      if (code == 255) return CreateRoundRectRgn(cx - wp, cy - hp, cx + wp, cy + hp, wp * 9 / 5, hp * 9 / 5);
      return ShapeInBox(code, cx - wp, cy - hp, cx + wp, cy + hp);
    }
    const int u = static_cast<int>(Round(fd * wp)), v = static_cast<int>(Round(fd * hp));
    return ShapeInBox(code, cx - u, cy - v, cx + u, cy + v);
  }
  const int g = factor == 1.0f ? 0 : static_cast<int>(Round(fd * (W - wp))) / 2;
  const int l = factor == 1.0f ? 0 : static_cast<int>(Round(fd * (H - hp))) / 2;
  const int left = wp - cx - g, top = hp - cy - l, right = 3 * cx + g - wp, bottom = 3 * cy + l - hp;
  HRGN shape = code == 255 && factor == 1.0f
                   ? CreateRoundRectRgn(left, top, right, bottom, (W - wp) * 9 / 5, (H - hp) * 9 / 5)
                   : ShapeInBox(code, left, top, right, bottom);
  return CutOut(f, {shape});
}

HRGN InAndOutRegion(float factor, int code, const TClipFrame& f) {
  const int a = f.wp / 2, b = f.hp / 2, G = 2 * f.cx, K = 2 * f.cy, cx = f.cx, cy = f.cy;
  HRGN outer, inner;
  if (code == 255) {
    outer = PolygonRegionFromInts({-a, cy, cx, -b, a + G, cy, cx, K + b});
    inner = PolygonRegionFromInts({a, cy, cx, b, G - a, cy, cx, K - b});
  } else {
    const int u = static_cast<int>(Round(static_cast<double>(factor) * a));
    const int v = static_cast<int>(Round(static_cast<double>(factor) * b));
    outer = ShapeInBox(code, -u, -v, u + G, v + K);
    inner = ShapeInBox(code, a, b, G - a, K - b);
  }
  if (!outer || !inner) {
    if (inner) DeleteObject(inner);
    return outer;
  }
  CombineRgn(outer, outer, inner, RGN_XOR);
  DeleteObject(inner);
  return outer;
}

// ---- turning shapes ----

HRGN TurningRegion(int type, const TClipFrame& f) {
  const int wp = f.wp, hp = f.hp, cx = f.cx, cy = f.cy, a = wp / 2, b = hp / 2;
  double angle = f.percent * M_PI / 50;
  if (type == 144 || type == 146 || type == 170) angle = -angle;
  std::vector<POINT> points;
  int px = cx, py = cy;
  if (type == 145 || type == 146) {
    points = {{cx - 2 * wp, cy}, {cx - a, cy - b}, {cx, cy - 2 * hp}, {cx + a, cy - b},
              {cx + 2 * wp, cy}, {cx + a, cy + b}, {cx, cy + 2 * hp}, {cx - a, cy + b}};
  } else {
    points = {{cx - a, cy - b}, {cx + a, cy - b}, {cx + a, cy + b}, {cx - a, cy + b}};
    if (type == 169 || type == 170) px = wp, py = hp;
  }
  RotatePoints(points.data(), static_cast<int>(points.size()) - 1, px, py, angle);
  return CreatePolygonRgn(points.data(), static_cast<int>(points.size()), WINDING);
}

// Triangles on an 11 x 11 grid of cells about a tenth of the frame, their
// half legs growing with the percent: none at 0, the whole frame at 100.
HRGN TriangularRegion(const TClipFrame& f) {
  const int cw = f.W / 10 + 1, ch = f.H / 10 + 1;
  const int a = MulDiv(cw, f.percent, 100), b = MulDiv(ch, f.percent, 100);
  if (a <= 0 || b <= 0) return nullptr;
  HRGN region = nullptr;
  for (int i = 10; i >= 0; --i)
    for (int j = 10; j >= 0; --j) {
      const int x = j * cw, y = i * ch;
      region = UnionRegion(region, TriangleRegion(x - a, y - b, x + a, y - b, x - a, y + b));
    }
  return region;
}

}  // namespace

void ClippedStep(int type, TCanvas* canvas, TBitmap* start, TBitmap* end, const TRect& rect, int step,
                 int percent) {
  if (!canvas || !start || !end) return;
  TClipFrame f{canvas->Handle(), start, end, 0, 0, 0, 0, 0, 0, std::clamp(percent, 0, 100), std::clamp(step, 0, 1024)};
  ScaleProgress(rect, f.percent, f.W, f.H, f.wp, f.hp);
  if (f.W <= 0 || f.H <= 0) return;
  f.cx = f.W / 2, f.cy = f.H / 2;
  HRGN region = nullptr;
  if (type >= 77 && type <= 84) region = CurvedRegion(type, f);
  else if ((type >= 85 && type <= 94) || (type >= 119 && type <= 132)) region = BarsRegion(type, f);
  else if (type >= 95 && type <= 112) region = ShreddedRegion(type, f);
  else if (type >= 147 && type <= 150) region = SpeckledRegion(type, f);
  else if ((type >= 133 && type <= 138) || type == 141 || type == 142 || (type >= 171 && type <= 178) ||
           type == 181 || type == 182)
    region = PolygonWipeRegion(type, f);
  else if (type == 179 || type == 180) region = ZigzagRegion(type == 180, f, f.percent, f.wp, f.hp);
  else if (type == 190 || type == 191) {
    // The band closes: the end picture first, the start picture through the band.
    TClipFrame g = f;
    g.percent = 100 - f.percent;
    ScaleProgress(rect, g.percent, g.W, g.H, g.wp, g.hp);
    BitBlt(f.dc, 0, 0, f.W, f.H, end->Canvas()->Handle(), 0, 0, SRCCOPY);
    ClipCopy(f, ZigzagRegion(type == 191, g, g.percent, g.wp, g.hp), start);
    return;
  } else if (type == 139 || type == 140) {
    const double endAngle = (type == 139 ? 1 : -1) * f.percent * M_PI / 50 - M_PI / 2;
    region = BuildPieRegion(f.cx, f.cy, static_cast<int>(std::ceil(std::hypot(f.cy, f.cx))), f.percent, endAngle,
                            -M_PI / 2);
  } else if ((type >= 113 && type <= 116) || (type >= 196 && type <= 200)) region = GridRegion(type, f);
  else if (type >= 159 && type <= 168) region = BlindsRegion(type, f);
  else if (type == 185 || (type >= 192 && type <= 195)) region = RandomRegion(type, f);
  else if (type == 117 || type == 118 || (type >= 201 && type <= 210)) {
    struct TWipe { int type; float factor; bool inward; int code; };
    static constexpr TWipe kWipes[] = {{117, 1, false, 255},   {118, 1, true, 255},    {201, 1.3f, false, 15},
                                       {202, 1.3f, true, 15},  {203, 1.6f, false, 0},  {204, 1.6f, true, 0},
                                       {205, 1.3f, false, 1},  {206, 1.3f, true, 1},   {207, 1, false, 8},
                                       {208, 1, true, 8},      {209, 3.6f, false, 10}, {210, 3.5f, true, 10}};
    for (const TWipe& w : kWipes)
      if (w.type == type) {
        if (w.code == 10) BitBlt(f.dc, 0, 0, f.W, f.H, start->Canvas()->Handle(), 0, 0, SRCCOPY);
        region = ShapeWipeRegion(w.factor, w.inward, w.code, f);
      }
  } else if (type == 183 || (type >= 211 && type <= 214)) {
    switch (type) {
      case 183: region = InAndOutRegion(1, 255, f); break;
      case 211: region = InAndOutRegion(1.6f, 15, f); break;
      case 212: region = InAndOutRegion(2.4f, 0, f); break;
      case 213: region = InAndOutRegion(1.6f, 1, f); break;
      default: region = InAndOutRegion(1.1f, 8, f); break;
    }
  } else if ((type >= 143 && type <= 146) || type == 169 || type == 170) region = TurningRegion(type, f);
  else if (type == 184) region = TriangularRegion(f);
  ClipCopy(f, region, end);
}
