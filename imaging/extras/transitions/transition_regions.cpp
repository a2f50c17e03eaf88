#include "imaging/extras/transitions/transition_regions.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/graphics/graphics_bitmap.h"
#include "platform/rtl/random.h"
#include "platform/rtl/rounding.h"

namespace {

struct TFraction {
  long double fx, fy;
};

// Outlines as fractions of their box.
constexpr TFraction kStar5[] = {{0.5L, 0}, {0.62L, 0.36L}, {1, 0.36L}, {0.7L, 0.59L}, {0.81L, 0.95L}, {0.5L, 0.73L},
                                {0.19L, 0.95L}, {0.31L, 0.59L}, {0, 0.36L}, {0.39L, 0.36L}, {0.5L, 0}};
constexpr TFraction kStar6[] = {{0.5L, 0},      {0.625L, 0.25L}, {0.9L, 0.25L}, {0.75L, 0.5L}, {0.9L, 0.75L},
                                {0.625L, 0.75L}, {0.5L, 1},       {0.375L, 0.75L}, {0.1L, 0.75L}, {0.25L, 0.5L},
                                {0.1L, 0.25L},  {0.375L, 0.25L}, {0.5L, 0}};
constexpr TFraction kArrow[] = {{0, 0}, {0.4L, 0}, {0.3L, 0.1L}, {1, 0.8L}, {0.8L, 1}, {0.1L, 0.3L}, {0, 0.4L}, {0, 0}};
constexpr TFraction kFeatheredArrow[] = {
    {0.85L, 1},      {0.8L, 0.95L},   {0.8L, 0.85L},   {0.775L, 0.825L}, {0.775L, 0.925L}, {0.725L, 0.875L},
    {0.725L, 0.775L}, {0.7L, 0.75L},   {0.7L, 0.85L},   {0.65L, 0.8L},    {0.65L, 0.7L},    {0.15L, 0.2L},
    {0.15L, 0.3L},   {0, 0.15L},      {0, 0},          {0.15L, 0},       {0.3L, 0.15L},    {0.2L, 0.15L},
    {0.7L, 0.65L},   {0.8L, 0.65L},   {0.85L, 0.7L},   {0.75L, 0.7L},    {0.775L, 0.725L}, {0.875L, 0.725L},
    {0.925L, 0.775L}, {0.825L, 0.775L}, {0.85L, 0.8L},  {0.95L, 0.8L},    {1, 0.85L},       {0.85L, 0.85L},
    {0.85L, 1}};
constexpr TFraction kLightning[] = {{1, 0.19L},    {0.61L, 0.01L}, {0.41L, 0.29L}, {0.49L, 0.31L},
                                    {0.23L, 0.55L}, {0.33L, 0.6L},  {0, 1},         {0.51L, 0.69L},
                                    {0.46L, 0.65L}, {0.78L, 0.45L}, {0.66L, 0.39L}, {1, 0.19L}};
constexpr TFraction kExplosion[] = {
    {0.33L, 0},     {0.5L, 0.26L},  {0.62L, 0.11L}, {0.67L, 0.28L}, {0.99L, 0.1L},  {0.78L, 0.35L}, {1, 0.39L},
    {0.84L, 0.54L}, {0.99L, 0.66L}, {0.75L, 0.64L}, {0.78L, 0.81L}, {0.65L, 0.71L}, {0.61L, 1},     {0.51L, 0.69L},
    {0.38L, 0.89L}, {0.35L, 0.66L}, {0.17L, 0.83L}, {0.22L, 0.59L}, {0, 0.61L},     {0.19L, 0.48L}, {0.04L, 0.37L},
    {0.22L, 0.34L}, {0.16L, 0.2L},  {0.35L, 0.25L}, {0.33L, 0.01L}};

int RoundL(long double v) { return static_cast<int>(std::nearbyint(v)); }

template <size_t N>
HRGN FractionPolygon(const TFraction (&table)[N], int x, int y, int w, int h, bool mirrorX, bool mirrorY) {
  POINT points[N];
  for (size_t i = 0; i < N; ++i) {
    const long double fx = mirrorX ? 1 - table[i].fx : table[i].fx;
    const long double fy = mirrorY ? 1 - table[i].fy : table[i].fy;
    points[i] = POINT{x + RoundL((w - 1) * fx), y + RoundL((h - 1) * fy)};
  }
  return CreatePolygonRgn(points, static_cast<int>(N), WINDING);
}

void Square(int& x, int& y, int& w, int& h) {
  const int m = std::min(w, h);
  x += (w - m) / 2;
  y += (h - m) / 2;
  w = h = m;
}

HRGN CrossRegion(int x, int y, int w, int h) {
  const int d = static_cast<int>(Round(0.75 * h));
  if (w > d) {
    x += (w - d) / 2;
    w = d;
  }
  const int g = static_cast<int>(std::min(Round(0.22 * h), Round(0.2 * w)));
  const int vx = x + (w - g) / 2;
  HRGN region = CreateRectRgn(vx, y, vx + g, y + h);
  const int top = y + static_cast<int>(Round((h - g) * static_cast<double>(0.33f)));
  return UnionRegion(region, CreateRectRgn(x, top, x + w, top + g));
}

HRGN HeartRegion(int x, int y, int w, int h) {
  Square(x, y, w, h);
  const int m = w;
  const int half = m / 2, quarter = m / 4, lobe = half + 2, r = lobe / 2;
  HRGN region = CreateEllipticRgn(x, y, x + lobe, y + lobe);
  region = UnionRegion(region, CreateEllipticRgn(x + m - lobe, y, x + m, y + lobe));
  const TPoint a = PolarPoint(TPoint{quarter, quarter}, r - 1, 233.14);
  const TPoint b = PolarPoint(TPoint{m - quarter, quarter}, r - 1, 126.86);
  region = UnionRegion(region, TriangleRegion(x + a.x, y + a.y, x + b.x, y + b.y, x + half, y + m));
  return UnionRegion(region, CreateRectRgn(x + r, y + r, x + m - r, y + lobe));
}

}  // namespace

HRGN BuildShapeRegion(int code, int x, int y, int width, int height) {
  code &= 0x7F;
  int w = width, h = height;
  switch (code) {
    case 0: Square(x, y, w, h); return FractionPolygon(kStar5, x, y, w, h, false, false);
    case 1: Square(x, y, w, h); return FractionPolygon(kStar6, x, y, w, h, false, false);
    case 2: case 3: case 4: case 5: {
      const int o = code - 2;
      Square(x, y, w, h);
      return FractionPolygon(kArrow, x, y, w, h, o == 1 || o == 3, o == 2 || o == 3);
    }
    case 6: case 7:
      if (w > h) {
        x += (w - h) / 2;
        w = h;
      }
      return FractionPolygon(kLightning, x, y, w, h, code == 7, false);
    case 8: case 9: return FractionPolygon(kExplosion, x, y, w, h, code == 9, code == 9);
    case 10: return CrossRegion(x, y, w, h);
    case 11: case 12: case 13: case 14: {
      const int o = code - 11;
      Square(x, y, w, h);
      return FractionPolygon(kFeatheredArrow, x, y, w, h, o == 1 || o == 3, o == 2 || o == 3);
    }
    case 15: return HeartRegion(x, y, w, h);
    default: return nullptr;
  }
}

HRGN BuildShapeRegionInRect(int code, const TRect& rect) {
  return BuildShapeRegion(code, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
}

// ---- TComplexRegion ----

namespace {
constexpr size_t kHeaderSize = sizeof(RGNDATAHEADER);
}

TComplexRegion::~TComplexRegion() { std::free(FData); }

void TComplexRegion::Clear() {
  std::free(FData);
  FData = nullptr;
  FNext = nullptr;
  FCount = 0;
  FCapacity = 0;
  FBounds = TRect{INT_MAX, INT_MAX, -INT_MAX, -INT_MAX};
}

void TComplexRegion::AddRect(int left, int top, int right, int bottom) {
  if (FCount == FCapacity) {
    const int capacity = FCapacity + 500;
    void* grown = std::realloc(FData, kHeaderSize + 16 * size_t(capacity) + 4);
    if (!grown) throw std::bad_alloc();
    FData = static_cast<uint8_t*>(grown);
    FCapacity = capacity;
  }
  FNext = reinterpret_cast<RECT*>(FData + kHeaderSize) + FCount;
  *FNext++ = RECT{left, top, right, bottom};
  ++FCount;
  FBounds.left = std::min<LONG>(FBounds.left, left);
  FBounds.top = std::min<LONG>(FBounds.top, top);
  FBounds.right = std::max<LONG>(FBounds.right, right);
  FBounds.bottom = std::max<LONG>(FBounds.bottom, bottom);
}

HRGN TComplexRegion::CreateRegion() {
  if (!FData) return nullptr;
  RGNDATAHEADER header;
  header.dwSize = kHeaderSize;
  header.iType = 1;
  header.nCount = static_cast<DWORD>(FCount);
  header.nRgnSize = 16;
  header.rcBound = FBounds;
  std::memcpy(FData, &header, kHeaderSize);
  return ExtCreateRegion(nullptr, static_cast<DWORD>(16 * FCount + 36), reinterpret_cast<const RGNDATA*>(FData));
}

// ---- patterns ----

HRGN BuildBarsRegion(int X, int Y, int W, int H, int HorzMode, int VertMode) {
  TComplexRegion region;
  const int e = std::min(W, H) / 50 + 1;
  if (HorzMode != 0) {
    for (int f = W < X ? e : 0; f < H + e; f += 2 * e) {
      if (W < X) {
        if (HorzMode == 1 || HorzMode == 4) region.AddRect(2 * W - X, f, W, f + e);
        if (HorzMode == 2 || HorzMode == 5) region.AddRect(0, f, X - W, f + e);
        region.AddRect(0, f - e, W, f);
      } else {
        if (HorzMode == 1 || HorzMode == 5) region.AddRect(W - X, f, W, f + e);
        if (HorzMode == 2 || HorzMode == 4) region.AddRect(0, f, X, f + e);
        if (HorzMode == 3) {
          region.AddRect(0, f + e, X, f + 2 * e);
          region.AddRect(W - X, f, W, f + e);
        }
      }
    }
  }
  if (VertMode != 0) {
    for (int h = H < Y ? e : 0; h < W + e; h += 2 * e) {
      if (H < Y) {
        if (VertMode == 1 || VertMode == 4) region.AddRect(h, 2 * H - Y, h + e, H);
        if (VertMode == 2 || VertMode == 5) region.AddRect(h, 0, h + e, Y - H);
        region.AddRect(h - e, 0, h, H);
      } else {
        if (VertMode == 1 || VertMode == 5) region.AddRect(h, H - Y, h + e, H);
        if (VertMode == 2 || VertMode == 4) region.AddRect(h, 0, h + e, Y);
        if (VertMode == 3) {
          region.AddRect(h, H - Y, h + e, H);
          region.AddRect(h + e, 0, h + 2 * e, Y);
        }
      }
    }
  }
  return region.CreateRegion();
}

HRGN BuildShreddedRegion(int X, int Y, int W, int H, int HorzMode, int VertMode) {
  TComplexRegion region;
  const int e = std::min(W, H) / 200 + 1;
  if (HorzMode != 0) {
    const int j = X < W ? W / 10 : 0;
    for (int o = 0; o < H; o += e) {
      int r = Random(2 * j) + X - j;
      const int t = o + e + H % e;
      switch (HorzMode) {
        case 1: region.AddRect(W - r, o, W, t); break;
        case 2: region.AddRect(0, o, r, t); break;
        case 3:
          r /= 2;
          region.AddRect(W / 2 - r, o, W / 2, t);
          region.AddRect(W / 2, o, W / 2 + r, t);
          break;
        default:
          r /= 2;
          region.AddRect(W - r, o, W, t);
          region.AddRect(0, o, r, t);
      }
    }
  }
  if (VertMode != 0) {
    const int j = Y < H ? H / 10 : 0;
    for (int o = 0; o < W; o += e) {
      int r = Random(2 * j) + Y - j;
      const int t = o + e + W % e;
      switch (VertMode) {
        case 1: region.AddRect(o, H - r, t, H); break;
        case 2: region.AddRect(o, 0, t, r); break;
        case 3:
          r /= 2;
          region.AddRect(o, H / 2 - r, t, H / 2);
          region.AddRect(o, H / 2, t, H / 2 + r);
          break;
        default:
          r /= 2;
          region.AddRect(o, H - r, t, H);
          region.AddRect(o, 0, t, r);
      }
    }
  }
  return region.CreateRegion();
}

HRGN BuildSpeckledRegion(int X, int Y, int W, int H, int HorzMode, int VertMode) {
  TComplexRegion region;
  auto speckle = [](int i, int L) { return Random(i) <= (i <= L ? 1 : 0); };
  if (HorzMode != 0) {
    const int g = X < W ? W / 10 : 0;
    const int s = std::max(g / 20, 2);
    const int n = g / s, L = (3 * g) / (4 * s);
    for (int y = 0; y < H; y += s / 2) {
      if (HorzMode == 1) {
        region.AddRect(W - X, y, W, y + s);
        for (int i = n; i >= 1; --i)
          if (speckle(i, L)) region.AddRect(W - X - s * i, y, W - X - s * i + s, y + s);
      } else {
        region.AddRect(0, y, X, y + s);
        for (int i = n; i >= 1; --i)
          if (speckle(i, L)) region.AddRect(X + s * i - s, y, X + s * i, y + s);
      }
    }
  }
  if (VertMode != 0) {
    const int g = Y < H ? H / 10 : 0;
    const int s = std::max(g / 20, 2);
    const int n = g / s, L = (3 * g) / (4 * s);
    for (int x = 0; x < W; x += s / 2) {
      if (VertMode == 1) {
        region.AddRect(x, H - Y, x + s, H);
        for (int i = n; i >= 1; --i)
          if (speckle(i, L)) region.AddRect(x, H - Y - s * i, x + s, H - Y - s * i + s);
      } else {
        region.AddRect(x, 0, x + s, Y);
        for (int i = n; i >= 1; --i)
          if (speckle(i, L)) region.AddRect(x, Y + s * i - s, x + s, Y + s * i);
      }
    }
  }
  return region.CreateRegion();
}

HRGN BuildPieRegion(int cx, int cy, int R, int count, double endAngle, double startAngle) {
  if (count < 1) count = 1;
  std::vector<POINT> points;
  points.reserve(size_t(count) + 1);
  points.push_back(POINT{cx, cy});
  const double stepAngle = (endAngle - startAngle) / count;
  for (int k = 0; k < count; ++k) {
    const double a = startAngle + k * stepAngle;
    points.push_back(
        POINT{cx + static_cast<int>(Round(R * std::cos(a))), cy + static_cast<int>(Round(R * std::sin(a)))});
  }
  return CreatePolygonRgn(points.data(), static_cast<int>(points.size()), WINDING);
}

HRGN UnionRegion(HRGN a, HRGN b) {
  if (!a) return b;
  if (!b) return a;
  CombineRgn(a, a, b, RGN_OR);
  DeleteObject(b);
  return a;
}

HRGN PolygonRegionFromInts(const std::vector<int>& coords) {
  std::vector<POINT> points;
  for (size_t i = 0; i + 1 < coords.size(); i += 2) points.push_back(POINT{coords[i], coords[i + 1]});
  return CreatePolygonRgn(points.data(), static_cast<int>(points.size()), WINDING);
}

HRGN TriangleRegion(int x1, int y1, int x2, int y2, int x3, int y3) {
  const POINT points[3] = {{x1, y1}, {x2, y2}, {x3, y3}};
  return CreatePolygonRgn(points, 3, WINDING);
}

void RotatePoints(POINT* points, int high, int cx, int cy, double angle) {
  const double c = std::cos(angle), s = std::sin(angle);
  for (int i = 0; i <= high; ++i) {
    const double dx = points[i].x - cx, dy = points[i].y - cy;
    points[i].x = cx + static_cast<int>(Round(c * dx - s * dy));
    points[i].y = cy + static_cast<int>(Round(s * dx + c * dy));
  }
}

void StretchPartTo(TCanvas* canvas, const TRect& destRect, TBitmap* bitmap, const TRect& sourceRect,
                   bool mirrorHorizontally, bool mirrorVertically) {
  if (!canvas || !bitmap) return;
  TRect source = sourceRect;
  source.left = std::max<LONG>(source.left, 0);
  source.top = std::max<LONG>(source.top, 0);
  source.right = std::min<LONG>(source.right, bitmap->GetWidth());
  source.bottom = std::min<LONG>(source.bottom, bitmap->GetHeight());
  TRect dest = destRect;
  if (mirrorHorizontally) {
    const LONG left = dest.left;
    dest.left = dest.right + 1;
    dest.right = left - 1;
  }
  if (mirrorVertically) {
    const LONG top = dest.top;
    dest.top = dest.bottom + 1;
    dest.bottom = top - 1;
  }
  SetStretchBltMode(canvas->Handle(), HALFTONE);
  StretchBlt(canvas->Handle(), dest.left, dest.top, dest.right - dest.left, dest.bottom - dest.top,
             bitmap->Canvas()->Handle(), source.left, source.top, source.right - source.left,
             source.bottom - source.top, SRCCOPY);
}

TPoint PolarPoint(TPoint centre, double radius, double bearing) {
  const double a = (bearing - 90) * M_PI / 180;
  return TPoint{static_cast<int>(Round(std::cos(a) * radius + centre.x)),
                static_cast<int>(Round(radius * std::sin(a) + centre.y))};
}
