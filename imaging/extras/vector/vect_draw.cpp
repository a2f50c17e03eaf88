// Drawing of vector objects: the frame common to every object (coordinates,
// pen, brush, visibility, events), the shapes, bitmaps and polylines, and the
// composition through a work bitmap for shadows, blending and alpha targets.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_blend.h"
#include "imaging/core/ie_canvas.h"
#include "imaging/core/ie_helpers.h"
#include "imaging/core/ie_proc_blur.h"
#include "imaging/extras/vector/image_lib_vect.h"
#include "platform/graphics/gdi.h"
#include "platform/graphics/graphics_bitmap.h"

namespace {

// Drawing coordinates stay well inside what the drawing layer can take.
constexpr int64_t kCoordLimit = int64_t(1) << 30;

int ClampCoord(int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, -kCoordLimit, kCoordLimit)); }
int ClampCoord(double v) {
  if (!(v == v)) return 0;
  return static_cast<int>(std::clamp<double>(v, -double(kCoordLimit), double(kCoordLimit)));
}

// A mapping x -> a + b x taken from two points of an integer mapping, used for
// values too large to pass through it.
template <class F>
int64_t MapLinear(int64_t x, F map) {
  if (x > -(int64_t(1) << 20) && x < (int64_t(1) << 20)) return map(static_cast<int>(x));
  const double a = map(0);
  const double b = (map(1 << 16) - a) / 65536.0;
  return static_cast<int64_t>(std::clamp(a + b * double(x), -4e18, 4e18));
}

int TruncD(double v) { return ClampCoord(std::trunc(v)); }

// The grey palette DIB the alpha pass draws on.
void MakeGreyDib(TBitmap& b, int w, int h) {
  b.SetPixelFormat(pf8bit);
  SetGrayColorTable(b);
  b.SetSize(w, h);
}

}  // namespace

// ---- coordinates ----

int64_t TImageLibVect::ObjToViewX(int64_t x, int layer) {
  if (FObjectsOnLayers && layer >= 0 && layer < GetLayersCount())
    return MapLinear(x, [&](int v) { return GetLayer(layer)->LayerToScreenX(v); });
  return MapLinear(x, [&](int v) { return BitmapToScreenX(v); });
}

int64_t TImageLibVect::ObjToViewY(int64_t y, int layer) {
  if (FObjectsOnLayers && layer >= 0 && layer < GetLayersCount())
    return MapLinear(y, [&](int v) { return GetLayer(layer)->LayerToScreenY(v); });
  return MapLinear(y, [&](int v) { return BitmapToScreenY(v); });
}

int TImageLibVect::ViewToObjX(int x, int layer) {
  if (FObjectsOnLayers && layer >= 0 && layer < GetLayersCount()) return GetLayer(layer)->ScreenToLayerX(x);
  return ScreenToBitmapX(x);
}

int TImageLibVect::ViewToObjY(int y, int layer) {
  if (FObjectsOnLayers && layer >= 0 && layer < GetLayersCount()) return GetLayer(layer)->ScreenToLayerY(y);
  return ScreenToBitmapY(y);
}

int TImageLibVect::ObjToDrawX(int64_t x, bool zoomed, int layer, int f) {
  return ClampCoord(int64_t(f) * (zoomed ? ObjToViewX(x, layer) : x));
}

int TImageLibVect::ObjToDrawY(int64_t y, bool zoomed, int layer, int f) {
  return ClampCoord(int64_t(f) * (zoomed ? ObjToViewY(y, layer) : y));
}

TRect TImageLibVect::GetLayerViewRect(int layer) {
  if (FObjectsOnLayers && layer >= 0 && layer < GetLayersCount()) {
    TIELayer* l = GetLayer(layer);
    return TRect{l->ScreenRect[0], l->ScreenRect[1], l->ScreenRect[2], l->ScreenRect[3]};
  }
  return TRect{OffsetX(), OffsetY(), OffsetX() + ScreenWidthOfSource(), OffsetY() + ScreenHeightOfSource()};
}

void TImageLibVect::ExtendDrawn(TIEVObject& r, int x, int y) {
  r.DrawnRect.left = std::min(r.DrawnRect.left, x);
  r.DrawnRect.top = std::min(r.DrawnRect.top, y);
  r.DrawnRect.right = std::max(r.DrawnRect.right, x);
  r.DrawnRect.bottom = std::max(r.DrawnRect.bottom, y);
}

std::vector<int> TImageLibVect::IdsToDraw(int id) const {
  if (id == IEV_ALL_OBJECTS) return std::vector<int>(FObjectIds.begin(), FObjectIds.end());
  return std::vector<int>{id};
}

// ---- one object ----

bool TImageLibVect::DrawObject(TIEVObject& R, int id, int layer, bool drawingAlpha, int f, TIEBitmap* workTarget,
                               bool zoomed, bool clipToView, TBitmap& destination) {
  if (FObjectsOnLayers) {
    if (layer == -1) layer = R.Layer;
    if (R.Layer != layer) return false;
  }
  double zx = zoomed ? ZoomX() / 100.0 : 1.0;
  double zy = zoomed ? ZoomY() / 100.0 : 1.0;
  if (f > 1) {
    zx *= f;
    zy *= f;
  }
  int x1 = ObjToDrawX(R.X1, zoomed, R.Layer, f);
  int y1 = ObjToDrawY(R.Y1, zoomed, R.Layer, f);
  int x2 = ObjToDrawX(R.X2, zoomed, R.Layer, f);
  int y2 = ObjToDrawY(R.Y2, zoomed, R.Layer, f);
  const int x2p = ObjToDrawX(int64_t(R.X2) + 1, zoomed, R.Layer, f);
  const int y2p = ObjToDrawY(int64_t(R.Y2) + 1, zoomed, R.Layer, f);
  if (R.AndFill) R.PenWidth = 1;
  // A pen no wider than the picture's diagonal: wider ones only cost time.
  const double diagonal = std::max(1.0, std::hypot(double(destination.GetWidth()), double(destination.GetHeight())));
  const double penWidth = std::min<double>(R.PenWidth, diagonal);
  int pw;
  if (FZoomObjectsWidth) {
    pw = IECeil(std::max(std::min(zx, zy) * penWidth, 1.0));
    if (R.Kind == ievkBitmap) {
      if (zy != 1) y2 = y2p - 1;
      if (zx != 1) x2 = x2p - 1;
    }
  } else {
    pw = static_cast<int>(penWidth);
  }
  FDrawWidth = destination.GetWidth();
  FDrawHeight = destination.GetHeight();
  TIECanvas canvas(destination.Canvas(), true, FObjAntialias && !FMouseDrawing);
  canvas.Pen()->SetStyle(static_cast<TPenStyle>(R.PenStyle));
  canvas.Pen()->SetWidth(float(pw));
  canvas.Pen()->SetMode(pmCopy);
  canvas.Pen()->SetColor(R.PenColor);
  // The alpha pass draws the shape opaque in the grey of its transparency.
  const int32_t opacity = drawingAlpha ? 255 : R.Transparency;
  canvas.Pen()->SetTransparency(opacity);
  canvas.Brush()->SetTransparency(opacity);
  R.DrawnRect = TRect{2000000000, 2000000000, -2000000000, -2000000000};
  R.DrawnPenWidth = pw;
  if ((R.Flags & ievfVisible) == 0) return false;
  if (clipToView) {
    TRect v = GetLayerViewRect(R.Layer);
    v = TRect{v.left * f, v.top * f, v.right * f, v.bottom * f};
    const int lx = std::min(x1, x2), hx = std::max(x1, x2), ly = std::min(y1, y2), hy = std::max(y1, y2);
    if (hx < v.left || lx >= v.right || hy < v.top || ly >= v.bottom) return false;
  }
  const TRect destRect{x1, y1, x2, y2};
  bool handled = false;
  if (OnBeforeDrawObject) OnBeforeDrawObject(this, id, &destination, destRect, drawingAlpha, handled);
  ExtendDrawn(R, x1, y1);
  ExtendDrawn(R, x2, y2);
  if (!handled && R.Kind >= ievkLine && R.Kind <= ievkExtended) {
    DrawKind(canvas, R, id, layer, drawingAlpha, f, workTarget, zoomed, destination, x1, y1, x2, y2, zx, zy, pw);
    ++FDrawnObjectCount;
  }
  bool afterHandled = false;
  if (OnAfterDrawObject) OnAfterDrawObject(this, id, &destination, destRect, drawingAlpha, afterHandled);
  ExtendDrawn(R, x1, y1);
  ExtendDrawn(R, x2, y2);
  return true;
}

namespace {

void SetBrush(TIECanvas& c, const TIEVObject& R) {
  c.Brush()->SetColor(R.BrushColor);
  c.Brush()->SetStyle(static_cast<TBrushStyle>(R.BrushStyle));
}

// Each pixel of the rectangle AND-ed with the colour (24-bit), or set to its
// red byte (8-bit: the alpha pass gives the transparency there).
void AndFill(TBitmap& b, int x1, int y1, int x2, int y2, TColor color) {
  const int w = b.GetWidth(), h = b.GetHeight();
  if (w <= 0 || h <= 0) return;
  x1 = std::clamp(x1, 0, w - 1);
  x2 = std::clamp(x2, 0, w - 1);
  y1 = std::clamp(y1, 0, h - 1);
  y2 = std::clamp(y2, 0, h - 1);
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  const TColor c = ColorToRGB(color);
  const uint8_t r = GetRValue(c), g = GetGValue(c), bl = GetBValue(c);
  const TPixelFormat pf = b.PixelFormat();
  for (int y = y1; y <= y2; ++y) {
    auto* row = static_cast<uint8_t*>(b.ScanLine(y));
    if (pf == pf24bit) {
      for (int x = x1; x <= x2; ++x) {
        row[3 * x] &= bl;
        row[3 * x + 1] &= g;
        row[3 * x + 2] &= r;
      }
    } else if (pf == pf8bit) {
      std::memset(row + x1, r, static_cast<size_t>(x2 - x1 + 1));
    } else {
      return;
    }
  }
}

}  // namespace

void TImageLibVect::DrawLineShape(TIECanvas& canvas, TIEVObject& R, int shape, TPoint tip, TPoint other, int sw,
                                  int sl) {
  if (shape != 1 && shape != 2) return;
  double ux, uy;
  const double dx = double(other.x) - tip.x, dy = double(other.y) - tip.y;
  if (dx == 0 && dy == 0) {
    ux = 0;
    uy = -1;
  } else if (dx == 0) {
    ux = 0;
    uy = dy > 0 ? 1 : -1;
  } else {
    const double len = std::hypot(dx, dy);
    ux = dx / len;
    uy = dy / len;
  }
  const double nx = -uy, ny = ux;
  const double half = sw / 2.0;
  const TPoint B{tip.x + TruncD(sl * ux), tip.y + TruncD(sl * uy)};
  TPoint pts[3];
  if (shape == 1) {
    pts[0] = TPoint{tip.x + TruncD(half * nx), tip.y + TruncD(half * ny)};
    pts[1] = TPoint{tip.x + TruncD(-half * nx), tip.y + TruncD(-half * ny)};
    pts[2] = B;
  } else {
    pts[0] = TPoint{tip.x + TruncD(sl * ux + half * nx), tip.y + TruncD(sl * uy + half * ny)};
    pts[1] = TPoint{tip.x + TruncD(sl * ux - half * nx), tip.y + TruncD(sl * uy - half * ny)};
    pts[2] = tip;
  }
  canvas.Polygon(pts, 2);
  for (const TPoint& p : pts) ExtendDrawn(R, p.x, p.y);
}

void TImageLibVect::DrawKind(TIECanvas& canvas, TIEVObject& R, int id, int layer, bool drawingAlpha, int f,
                             TIEBitmap* workTarget, bool zoomed, TBitmap& destination, int x1, int y1, int x2, int y2,
                             double zx, double zy, int pw) {
  switch (R.Kind) {
    case ievkLine:
    case ievkLineLabel: {
      HPEN geometric = nullptr;
      if (pw > 1 && !canvas.UsesGdiPlus()) {
        LOGBRUSH lb{BS_SOLID, static_cast<COLORREF>(ColorToRGB(R.PenColor)), 0};
        geometric = ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_ROUND | PS_JOIN_ROUND, DWORD(pw), &lb, 0, nullptr);
        if (geometric) canvas.Pen()->SetHandle(geometric);
      }
      canvas.DrawLine(x1, y1, x2, y2);
      ExtendDrawn(R, x1, y1);
      ExtendDrawn(R, x2, y2);
      SetBrush(canvas, R);
      const int sw = TruncD(R.ShapeWidth * zx), sl = TruncD(R.ShapeHeight * zy);
      DrawLineShape(canvas, R, R.BeginShape, TPoint{x1, y1}, TPoint{x2, y2}, sw, sl);
      DrawLineShape(canvas, R, R.EndShape, TPoint{x2, y2}, TPoint{x1, y1}, sw, sl);
      if (R.Kind == ievkLineLabel) DrawLineLabel(canvas, R, x1, y1, x2, y2, zx, zy);
      break;
    }
    case ievkBox:
      SetBrush(canvas, R);
      canvas.Pen()->SetLineJoin(0);
      ExtendDrawn(R, x1, y1);
      ExtendDrawn(R, x2, y2);
      if (R.AndFill)
        AndFill(destination, x1, y1, x2, y2, R.BrushColor);
      else
        canvas.Rectangle(x1, y1, x2 + 1, y2 + 1);
      break;
    case ievkEllipse:
      SetBrush(canvas, R);
      ExtendDrawn(R, x1, y1);
      ExtendDrawn(R, x2, y2);
      canvas.Ellipse(x1, y1, x2 + 1, y2 + 1);
      break;
    case ievkArc: {
      SetBrush(canvas, R);
      const double hw = (x2 - x1) / 2.0, hh = (y2 - y1) / 2.0;
      const int sx = x1 + TruncD(hw + std::cos(R.StartAngle) * hw), sy = y1 + TruncD(hh + std::sin(R.StartAngle) * hh);
      const int ex = x1 + TruncD(hw + std::cos(R.EndAngle) * hw), ey = y1 + TruncD(hh + std::sin(R.EndAngle) * hh);
      canvas.Arc(x1, y1, x2 + 1, y2 + 1, sx, sy, ex, ey);
      ExtendDrawn(R, x1, y1);
      ExtendDrawn(R, x2, y2);
      break;
    }
    case ievkBitmap:
      SetBrush(canvas, R);
      ExtendDrawn(R, x1, y1);
      ExtendDrawn(R, x2, y2);
      DrawObjectBitmap(destination, R, pw, workTarget, x1, y1, x2, y2);
      break;
    case ievkText:
    case ievkMemo:
      canvas.Pen()->SetLineJoin(0);
      SetBrush(canvas, R);
      ExtendDrawn(R, x1, y1);
      ExtendDrawn(R, x2, y2);
      if (R.Kind == ievkMemo && R.MemoHasBitmap && !drawingAlpha)
        DrawObjectBitmap(destination, R, pw, workTarget, x1, y1, x2, y2);
      DrawTextObject(canvas, R, id, x1, y1, x2, y2, zx, zy, drawingAlpha);
      break;
    case ievkRuler: {
      canvas.Pen()->SetLineJoin(0);
      SetBrush(canvas, R);
      const double ux = UnitFactorXOf(R.RulerUnit), uy = UnitFactorYOf(R.RulerUnit);
      const double length =
          std::sqrt(std::pow(std::abs(double(R.X2) - R.X1) * ux, 2) + std::pow(std::abs(double(R.Y2) - R.Y1) * uy, 2));
      DrawRuler(canvas, &R, x1, y1, x2, y2, R.Font.get(), 1 / zy, 1 / zx, R.RulerType, R.PenWidth, R.PenColor,
                R.RulerUnit, length);
      break;
    }
    case ievkPolyline: {
      SetBrush(canvas, R);
      canvas.Pen()->SetLineJoin(2);
      const TRect& base = R.PointsBase;
      if ((base.left != base.right || base.top != base.bottom) && R.PointCount() > 0) {
        const int n = R.PointCount();
        if (static_cast<int>(R.ViewPoints.size()) != n) {
          if (static_cast<int>(R.ViewPoints.capacity()) < n) R.ViewPoints.reserve(static_cast<size_t>(2 * n));
          R.ViewPoints.resize(static_cast<size_t>(n));
        }
        const double sx = base.right == base.left ? 1.0 : double(int64_t(R.X2) - R.X1) / (int64_t(base.right) - base.left);
        const double sy = base.bottom == base.top ? 1.0 : double(int64_t(R.Y2) - R.Y1) / (int64_t(base.bottom) - base.top);
        for (int i = 0; i < n; ++i) {
          const TPoint p = R.Points[static_cast<size_t>(i)];
          const int64_t ox = std::llround((double(p.x) - base.left) * sx) + R.X1;
          const int64_t oy = std::llround((double(p.y) - base.top) * sy) + R.Y1;
          R.ViewPoints[static_cast<size_t>(i)] =
              TPoint{ObjToDrawX(ox, zoomed, R.Layer, f), ObjToDrawY(oy, zoomed, R.Layer, f)};
        }
        if (R.Closed)
          canvas.Polygon(R.ViewPoints.data(), n - 1);
        else
          canvas.Polyline(R.ViewPoints.data(), n - 1);
        if (f != 1)
          for (TPoint& p : R.ViewPoints) p = TPoint{p.x / f, p.y / f};
      }
      ExtendDrawn(R, x1, y1);
      ExtendDrawn(R, x2, y2);
      break;
    }
    case ievkAngle:
      canvas.Pen()->SetLineJoin(0);
      SetBrush(canvas, R);
      DrawAngle(canvas, &R, R.AnglePoints, R.Layer, R.Font.get(), 1 / zy, 1 / zx, f, zoomed, R.PenWidth, R.PenColor);
      break;
    case ievkExtended:
      SetBrush(canvas, R);
      ExtendDrawn(R, x1, y1);
      ExtendDrawn(R, x2, y2);
      if (R.Extended) R.Extended->Draw(&destination, x1, y1, x2, y2, drawingAlpha, zx, zy);
      break;
    default: break;
  }
  (void)layer;
}

// ---- bitmap objects ----

namespace {

// The source stretched into (x1, y1)-(x2, y2) of the work target (both
// inclusive), its alpha capped at the transparency.
void StretchIntoWork(TIEBitmap& source, TIEBitmap& target, int x1, int y1, int x2, int y2, int transparency,
                     TResampleFilter filter) {
  const int w = x2 - x1 + 1, h = y2 - y1 + 1;
  if (w <= 0 || h <= 0 || source.Width() <= 0 || source.Height() <= 0) return;
  const int tw = target.Width(), th = target.Height();
  TIEBitmap scaled(w, h, ie24RGB);
  source.RenderToTIEBitmapEx(scaled, nullptr, nullptr, nullptr, nullptr, 0, 0, w, h, 0, 0, source.Width(),
                             source.Height(), false, false, 255, filter, true, iebmNormal);
  TIEBitmap* ta = target.AlphaChannel();
  TIEBitmap* sa = source.HasAlphaChannel() ? source.AlphaChannel() : nullptr;
  const uint8_t cap = static_cast<uint8_t>(std::clamp(transparency, 0, 255));
  for (int y = std::max(0, -y1); y < h && y1 + y < th; ++y) {
    const uint8_t* s = scaled.ScanLine(y);
    uint8_t* d = target.ScanLine(y1 + y);
    const int sy = static_cast<int>(int64_t(y) * source.Height() / h);
    for (int x = std::max(0, -x1); x < w && x1 + x < tw; ++x) {
      std::memcpy(d + 3 * (x1 + x), s + 3 * x, 3);
      const uint8_t a = sa ? sa->GetPixel8(static_cast<int>(int64_t(x) * source.Width() / w), sy) : 255;
      ta->SetPixel8(x1 + x, y1 + y, std::min(a, cap));
    }
  }
  ta->SetFull(false);
}

}  // namespace

void TImageLibVect::DrawObjectBitmap(TBitmap& destination, TIEVObject& R, int pw, TIEBitmap* workTarget, int x1,
                                     int y1, int x2, int y2) {
  TIEBitmap* bitmap = GetBitmapAt(R.BitmapIndex);
  if (bitmap == nullptr) {
    TCanvas* c = destination.Canvas();
    c->MoveTo(x1, y1);
    c->LineTo(x2, y2);
    c->MoveTo(x2, y1);
    c->LineTo(x1, y2);
    c->Brush()->SetStyle(bsClear);
    c->Rectangle(x1, y1, x2 + 1, y2 + 1);
    return;
  }
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  if (R.BitmapOption) {
    const int w = destination.GetWidth(), h = destination.GetHeight();
    const TColor c = ColorToRGB(R.PenColor);
    TIEBitmap* alpha = workTarget != nullptr ? workTarget->AlphaChannel() : nullptr;
    auto plot = [&](int x, int y) {
      if (x < 0 || y < 0 || x >= w || y >= h) return;
      auto* row = static_cast<uint8_t*>(destination.ScanLine(y));
      if (destination.PixelFormat() == pf24bit) {
        row[3 * x] = GetBValue(c);
        row[3 * x + 1] = GetGValue(c);
        row[3 * x + 2] = GetRValue(c);
      } else if (destination.PixelFormat() == pf8bit) {
        row[x] = GetRValue(c);
      }
      if (alpha) alpha->SetPixel8(x, y, 255);
    };
    for (int k = 0; k < pw && x1 <= x2 && y1 <= y2; ++k) {
      for (int x = std::max(x1, -1); x <= std::min(x2, w); ++x) {
        plot(x, y1);
        plot(x, y2);
      }
      for (int y = std::max(y1, -1); y <= std::min(y2, h); ++y) {
        plot(x1, y);
        plot(x2, y);
      }
      ++x1;
      ++y1;
      --x2;
      --y2;
    }
    if (x1 > x2 || y1 > y2) return;
  }
  const TResampleFilter filter = FObjectDragging ? rfNone : FBitmapResampleFilter;
  if (workTarget != nullptr) {
    StretchIntoWork(*bitmap, *workTarget, x1, y1, x2, y2, R.Transparency, filter);
  } else {
    bitmap->RenderToTBitmapEx(destination, nullptr, nullptr, nullptr, nullptr, x1, y1, x2 - x1 + 1, y2 - y1 + 1, 0, 0,
                              bitmap->Width(), bitmap->Height(), true, false,
                              static_cast<uint8_t>(std::clamp(R.Transparency, 0, 255)), filter, true, iebmNormal);
  }
}

// ---- composition ----

void TImageLibVect::EnsureWorkBitmap(int width, int height) {
  if (FWorkBitmap && FWorkBitmap->Width() == width && FWorkBitmap->Height() == height) return;
  FWorkBitmap = std::make_unique<TIEBitmap>();
  FWorkBitmap->SetLocation(ieTBitmap);
  FWorkBitmap->Allocate(width, height, ie24RGB);
  FWorkBitmap->AlphaChannel();
}

namespace {

// The region of the work bitmap merged into a target with alpha: colours
// composed by their alpha (the blend mode applied to what lies under), the
// alphas joined.
void MergeRegion(TIEBitmap& work, TIEBitmap& target, int x1, int y1, int w, int h, TIEBlendMode mode) {
  TIEBitmap* wa = work.AlphaChannel();
  TIEBitmap* ta = target.AlphaChannel();
  for (int y = y1; y < y1 + h && y < target.Height(); ++y) {
    const uint8_t* s = work.ScanLine(y);
    uint8_t* d = target.ScanLine(y);
    const int bpp = target.PixelFormat() == ie32RGB ? 4 : 3;
    for (int x = x1; x < x1 + w && x < target.Width(); ++x) {
      const int a = wa->GetPixel8(x, y);
      if (a == 0) continue;
      const int da = ta->GetPixel8(x, y);
      TRGB src{s[3 * x], s[3 * x + 1], s[3 * x + 2]};
      TRGB under{d[bpp * x], d[bpp * x + 1], d[bpp * x + 2]};
      if (mode != iebmNormal) {
        TRGB mixed = under;
        BlendPixelByMode(src, mixed, mode, y);
        src = mixed;
      }
      const int outA = a + da * (255 - a) / 255;
      auto mix = [&](int sc, int dc) {
        return static_cast<uint8_t>(outA == 0 ? 0 : (sc * a * 255 + dc * da * (255 - a)) / (outA * 255));
      };
      d[bpp * x] = mix(src.b, under.b);
      d[bpp * x + 1] = mix(src.g, under.g);
      d[bpp * x + 2] = mix(src.r, under.r);
      ta->SetPixel8(x, y, static_cast<uint8_t>(outA));
    }
  }
  ta->SetFull(false);
}

}  // namespace

void TImageLibVect::DrawThroughWork(TIEVObject& R, int id, int layer, int f, bool antialias, bool zoomed,
                                    TBitmap& destination, TIEBitmap* alphaTarget, bool supersampled) {
  const int dw = destination.GetWidth(), dh = destination.GetHeight();
  const int ww = dw * f, wh = dh * f;
  if (ww <= 0 || wh <= 0) return;
  EnsureWorkBitmap(ww, wh);
  TIEBitmap& work = *FWorkBitmap;
  if (!supersampled || antialias) work.Fill(double(ColorToRGB(R.PenColor) & 0xFFFFFF));
  if (R.AndFill) {
    // Bring the corners inside the destination, one image pixel at a time,
    // in a single clamp of 64-bit values.
    int64_t lx1 = R.X1, ly1 = R.Y1, lx2 = int64_t(R.X2) + 1, ly2 = int64_t(R.Y2) + 1;
    auto map = [&](int64_t& a, int64_t& b, int64_t& c, int64_t& d, int& px1, int& py1, int& px2, int& py2) {
      px1 = ObjToDrawX(a, zoomed, R.Layer, 1);
      py1 = ObjToDrawY(b, zoomed, R.Layer, 1);
      px2 = ObjToDrawX(c, zoomed, R.Layer, 1);
      py2 = ObjToDrawY(d, zoomed, R.Layer, 1);
    };
    int px1, py1, px2, py2;
    map(lx1, ly1, lx2, ly2, px1, py1, px2, py2);
    if (!zoomed) {
      lx1 = std::max<int64_t>(lx1, 0);
      ly1 = std::max<int64_t>(ly1, 0);
      lx2 = std::min<int64_t>(lx2, dw - 1);
      ly2 = std::min<int64_t>(ly2, dh - 1);
      map(lx1, ly1, lx2, ly2, px1, py1, px2, py2);
    } else {
      // zoomed: the view mapping is monotonic, so walk by halving steps
      for (int guard = 0; guard < 256 && (px1 < 0 || py1 < 0 || px2 >= dw || py2 >= dh); ++guard) {
        if (px1 < 0) lx1 += std::max<int64_t>(1, (lx2 - lx1) / 2);
        else if (py1 < 0) ly1 += std::max<int64_t>(1, (ly2 - ly1) / 2);
        else if (px2 >= dw) lx2 -= std::max<int64_t>(1, (lx2 - lx1) / 2);
        else ly2 -= std::max<int64_t>(1, (ly2 - ly1) / 2);
        map(lx1, ly1, lx2, ly2, px1, py1, px2, py2);
      }
    }
    if (px1 > px2) std::swap(px1, px2);
    if (py1 > py2) std::swap(py1, py2);
    px1 = std::max(px1, 0);
    py1 = std::max(py1, 0);
    px2 = std::min(px2, dw - 1);
    py2 = std::min(py2, dh - 1);
    if (px1 <= px2 && py1 <= py2) {
      TIEBitmap wrapped;
      wrapped.EncapsulateTBitmap(&destination, false);
      wrapped.RenderToTIEBitmapEx(work, nullptr, nullptr, nullptr, nullptr, px1 * f, py1 * f, (px2 - px1 + 1) * f,
                                  (py2 - py1 + 1) * f, px1, py1, px2 - px1 + 1, py2 - py1 + 1, false, false, 255, rfNone,
                                  true, iebmNormal);
    }
  }
  TBitmap* colour = work.VclBitmap();
  if (!DrawObject(R, id, layer, false, f, &work, zoomed, !supersampled && zoomed, *colour)) return;
  TIEBitmap* alpha = work.AlphaChannel();
  alpha->Fill(0);
  if (!(R.Kind == ievkBitmap && R.BitmapIndex >= 0)) {
    // The alpha pass: the shape again, in the grey of its transparency.
    TBitmap grey;
    MakeGreyDib(grey, ww, wh);
    for (int y = 0; y < wh; ++y) std::memset(grey.ScanLine(y), 0, static_cast<size_t>(ww));
    const TColor saved[4] = {R.PenColor, R.BrushColor, R.LabelBrushColor, R.MemoBorderColor};
    const TColor g = static_cast<TColor>(0x02000000u + uint32_t(std::clamp(R.Transparency, 0, 255)) * 0x010101u);
    R.PenColor = R.BrushColor = R.LabelBrushColor = R.MemoBorderColor = g;
    const TRect keepRect = R.DrawnRect;
    const int keepPen = R.DrawnPenWidth;
    DrawObject(R, id, layer, true, f, nullptr, zoomed, !supersampled && zoomed, grey);
    R.DrawnRect.left = std::min(R.DrawnRect.left, keepRect.left);
    R.DrawnRect.top = std::min(R.DrawnRect.top, keepRect.top);
    R.DrawnRect.right = std::max(R.DrawnRect.right, keepRect.right);
    R.DrawnRect.bottom = std::max(R.DrawnRect.bottom, keepRect.bottom);
    R.DrawnPenWidth = std::max(keepPen, R.DrawnPenWidth);
    R.PenColor = saved[0];
    R.BrushColor = saved[1];
    R.LabelBrushColor = saved[2];
    R.MemoBorderColor = saved[3];
    for (int y = 0; y < wh; ++y) std::memcpy(alpha->ScanLine(y), grey.ScanLine(y), static_cast<size_t>(ww));
  } else {
    DrawObject(R, id, layer, false, f, &work, zoomed, !supersampled && zoomed, *colour);
  }
  // The region the object touched, widened by its pen.
  int x1 = R.DrawnRect.left - R.DrawnPenWidth, y1 = R.DrawnRect.top - R.DrawnPenWidth;
  int x2 = R.DrawnRect.right + R.DrawnPenWidth, y2 = R.DrawnRect.bottom + R.DrawnPenWidth;
  x1 = std::clamp(x1, 0, ww - 1);
  x2 = std::clamp(x2, 0, ww - 1);
  y1 = std::clamp(y1, 0, wh - 1);
  y2 = std::clamp(y2, 0, wh - 1);
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  int w = std::min(x2 - x1 + 1, ww), h = std::min(y2 - y1 + 1, wh);
  if (supersampled && f > 1) {
    x1 = std::min(x1 + 2, ww - 1);
    y1 = std::min(y1 + 2, wh - 1);
    w = std::max(w - 4, 1);
    h = std::max(h - 4, 1);
  }
  if (R.SoftShadow.Enabled) {
    const RECT obj{x1, y1, x1 + w, y1 + h};
    const uint32_t shadowColour = RGB(R.SoftShadow.ShadowR, R.SoftShadow.ShadowG, R.SoftShadow.ShadowB);
    const int m = AddObjectSoftShadow(work, R.SoftShadow.OffsetX * f, R.SoftShadow.OffsetY * f, obj, shadowColour,
                                      R.SoftShadow.Intensity, R.SoftShadow.Radius * f);
    w = std::min(w + 2 * m, ww);
    h = std::min(h + 2 * m, wh);
    x1 = std::max(x1 - m, 0);
    y1 = std::max(y1 - m, 0);
  }
  alpha->SetFull(false);
  const TIEBlendMode mode = static_cast<TIEBlendMode>(R.BlendMode);
  if (!supersampled && alphaTarget != nullptr && alphaTarget->HasAlphaChannel()) {
    MergeRegion(work, *alphaTarget, x1, y1, w, h, mode);
  } else if (f == 1) {
    work.RenderToTBitmapEx(destination, nullptr, nullptr, nullptr, nullptr, x1, y1, w, h, x1, y1, w, h, true, false, 255,
                           rfNone, true, mode);
  } else {
    work.RenderToTBitmapEx(destination, nullptr, nullptr, nullptr, nullptr, x1 / f, y1 / f, w / f, h / f, x1, y1, w, h,
                           true, false, 255, rfTriangle, true, mode);
  }
}

void TImageLibVect::DrawObjectsToBitmap(bool imageCoords, TBitmap& destination, TIEBitmap* alphaTarget, int layer,
                                        int id, bool antialias) {
  const bool zoomed = !imageCoords;
  const bool direct = !FSupersampledDrawing || FObjectIds.empty() || GdiPlusAvailable();
  for (int oid : IdsToDraw(id)) {
    TIEVObject* R = GetObjectRec(oid);
    if (R == nullptr) continue;
    if (direct) {
      const bool throughWork =
          !FMouseDrawing && (R->SoftShadow.Enabled || R->AndFill ||
                             (R->Transparency < 255 && (R->Kind == ievkText || R->Kind == ievkMemo)) ||
                             R->BlendMode != 0 || (alphaTarget != nullptr && alphaTarget->HasAlphaChannel()));
      if (!throughWork)
        DrawObject(*R, oid, layer, false, 1, nullptr, zoomed, zoomed, destination);
      else
        DrawThroughWork(*R, oid, layer, 1, antialias, zoomed, destination, alphaTarget, false);
    } else {
      DrawThroughWork(*R, oid, layer, antialias ? 2 : 1, antialias, zoomed, destination, alphaTarget, true);
    }
  }
}

// ---- the view ----

void TImageLibVect::DrawAllObjects(TBitmap& destination) {
  FDrawnObjectCount = 0;
  if (!FObjectsOnLayers) DrawObjectsToBitmap(false, destination, nullptr, -1, IEV_ALL_OBJECTS, FObjAntialias);
  DrawSelectionGrips(*destination.Canvas());
  if (FMouseInteractVt.Contains(miEditPolyline)) DrawPolylineVertexMarks(*destination.Canvas());
}

void TImageLibVect::DrawPolylineVertexMarks(TCanvas& canvas) {
  if (SelObjectCount() != 1) return;
  TIEVObject* r = GetObjectRec(GetSelObject(0));
  if (r == nullptr || r->Kind != ievkPolyline) return;
  canvas.Brush()->SetColor(0x0000FF);
  canvas.Brush()->SetStyle(bsSolid);
  canvas.Pen()->SetColor(clBlack);
  canvas.Pen()->SetStyle(psSolid);
  canvas.Pen()->SetWidth(1);
  canvas.Pen()->SetMode(pmCopy);
  for (const TPoint& p : r->ViewPoints) canvas.Ellipse(p.x - 3, p.y - 3, p.x + 3, p.y + 3);
}

namespace {

// Runs draw on a framework bitmap over the TIEBitmap's pixels.
template <class F>
void WithFramework(TIEBitmap& b, F draw) {
  const TIEStorageLocation was = b.Location();
  if (was != ieTBitmap) b.SetLocation(ieTBitmap);
  if (TBitmap* vcl = b.VclBitmap()) draw(*vcl);
  if (was != ieTBitmap) b.SetLocation(was);
}

}  // namespace

void TImageLibVect::DrawLayers(TIEBitmap* dest, TIEBitmap* destAlpha, bool drawBoxes, bool drawBackground,
                               const TRect* clip) {
  TImageLibView::DrawLayers(dest, destAlpha, drawBoxes, drawBackground, clip);
  if (dest != nullptr && (!FObjectIds.empty() || drawBoxes || drawBackground))
    WithFramework(*dest, [&](TBitmap& b) { DrawAllObjects(b); });
}

void TImageLibVect::DrawLayerOverlay(int index, TIEBitmap* dest, const TRect* clip) {
  if (!FObjectsOnLayers || dest == nullptr || FObjectIds.empty()) return;
  WithFramework(*dest,
                [&](TBitmap& b) { DrawObjectsToBitmap(false, b, nullptr, index, IEV_ALL_OBJECTS, FObjAntialias); });
}
