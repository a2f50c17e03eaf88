// The painters of objects that carry text or measures: one-line texts
// (straight or along a curve), memos, line labels, rulers and angles.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "imaging/core/ie_canvas.h"
#include "imaging/core/ie_utils.h"
#include "imaging/extras/vector/image_lib_vect.h"
#include "platform/graphics/gdi.h"
#include "platform/graphics/gdi_glyph.h"
#include "platform/rtl/rounding.h"
#include "platform/rtl/sysutils.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

int TruncD(double v) {
  if (!(v == v)) return 0;
  return static_cast<int>(std::clamp(std::trunc(v), -1073741824.0, 1073741824.0));
}

// A font made for one drawing, selected into the DC and given back on the way out.
class TSelectedFont {
public:
  TSelectedFont(HDC dc, const LOGFONTA& lf) : FDC(dc) {
    FFont = CreateFontIndirect(&lf);
    FOld = SelectObject(dc, FFont);
  }
  ~TSelectedFont() {
    SelectObject(FDC, FOld);
    DeleteObject(FFont);
  }
  TSelectedFont(const TSelectedFont&) = delete;
  TSelectedFont& operator=(const TSelectedFont&) = delete;
  // Replaces the font by lf (the previous one deleted).
  void Replace(const LOGFONTA& lf) {
    HFONT next = CreateFontIndirect(&lf);
    SelectObject(FDC, next);
    DeleteObject(FFont);
    FFont = next;
  }

private:
  HDC FDC;
  HFONT FFont;
  HGDIOBJ FOld;
};

SIZE Extent(HDC dc, const std::string& text) {
  SIZE s{0, 0};
  GetTextExtentPoint32(dc, text.data(), static_cast<int>(text.size()), &s);
  return s;
}

// The object font as a text or a label draws it.
LOGFONTA ObjectFont(const TIEVObject& r, double zy, int boxHeight) {
  LOGFONTA lf = r.Font ? *r.Font : LOGFONTA{};
  if (!r.Font) std::memcpy(lf.lfFaceName, "Arial", 5);
  lf.lfQuality = IEVFontQualityValue(r.FontQuality);
  lf.lfHeight = lf.lfHeight == 0 ? boxHeight : TruncD(lf.lfHeight * zy);
  return lf;
}

// The font of rulers and angles: the object's face at a size in points.
LOGFONTA MeasureFont(const LOGFONTA* font, double iy) {
  LOGFONTA lf{};
  const int h = font ? font->lfHeight : 12;
  const int points = std::max(3, TruncD(std::abs(h) / iy));
  lf.lfHeight = -TruncD(points * 96.0 / 72.0 + 0.5);
  lf.lfWeight = font ? font->lfWeight : FW_NORMAL;
  lf.lfItalic = font ? font->lfItalic : 0;
  lf.lfCharSet = font ? font->lfCharSet : ANSI_CHARSET;
  if (font)
    std::memcpy(lf.lfFaceName, font->lfFaceName, sizeof(lf.lfFaceName));
  else
    std::memcpy(lf.lfFaceName, "Arial", 5);
  lf.lfFaceName[LF_FACESIZE - 1] = 0;
  return lf;
}

void TextAt(HDC dc, int x, int y, const std::string& text, const RECT* clip) {
  ExtTextOut(dc, x, y, clip ? ETO_CLIPPED : 0, clip, text.data(), static_cast<UINT>(text.size()), nullptr);
}

}  // namespace

// ---- texts and memos ----

void TImageLibVect::DrawTextObject(TIECanvas& canvas, TIEVObject& R, int id, int x1, int y1, int x2, int y2, double zx,
                                   double zy, bool drawingAlpha) {
  (void)drawingAlpha;
  if (id == FTextEditId && id >= 0) {
    canvas.Brush()->SetStyle(bsClear);
    canvas.Rectangle(x1 - 1, y1 - 1, x2 + 1, y2 + 1);
    return;
  }
  HDC dc = canvas.GetHandle();
  if (R.Kind == ievkMemo) {
    // Until the rich text control lays memos out, a memo shows its text in the
    // object font, line by line, inside its margins.
    if (R.BrushStyle != bsClear || R.MemoBorderStyle != psClear) {
      canvas.Pen()->SetColor(R.MemoBorderColor);
      canvas.Pen()->SetStyle(static_cast<TPenStyle>(R.MemoBorderStyle));
      canvas.Rectangle(std::min(x1, x2), std::min(y1, y2), std::max(x1, x2) + 1, std::max(y1, y2) + 1);
    }
    if (R.Text.empty()) return;
    LOGFONTA lf = ObjectFont(R, zy, 0);
    if (R.Font && R.Font->lfHeight == 0) lf.lfHeight = TruncD(-13 * zy);
    TSelectedFont font(dc, lf);
    SetTextColor(dc, ColorToRGB(R.PenColor) | (R.PenColor & 0x02000000));
    SetBkMode(dc, TRANSPARENT);
    const int bx1 = std::min(x1, x2), by1 = std::min(y1, y2), bx2 = std::max(x1, x2), by2 = std::max(y1, y2);
    const int w = bx2 - bx1 + 1, h = by2 - by1 + 1;
    const int left = bx1 + TruncD(w * R.MemoFrame[0] / 100), top = by1 + TruncD(h * R.MemoFrame[1] / 100);
    const int right = bx2 + 1 - TruncD(w * R.MemoFrame[2] / 100), bottom = by2 + 1 - TruncD(h * R.MemoFrame[3] / 100);
    const RECT clip{left, top, right, bottom};
    int y = top;
    size_t start = 0;
    while (start <= R.Text.size() && y < bottom) {
      size_t end = R.Text.find_first_of("\r\n", start);
      if (end == std::string::npos) end = R.Text.size();
      const std::string line = R.Text.substr(start, end - start);
      const SIZE s = Extent(dc, line.empty() ? std::string(" ") : line);
      int x = left;
      if (R.TextAlign == 1) x = right - s.cx;
      if (R.TextAlign == 2) x = left + (right - left - s.cx) / 2;
      TextAt(dc, x, y, line, &clip);
      y += std::max<int>(s.cy, 1) + TruncD(R.MemoLineSpacing * zy);
      if (end < R.Text.size() && R.Text[end] == '\r' && end + 1 < R.Text.size() && R.Text[end + 1] == '\n') ++end;
      start = end + 1;
    }
    return;
  }
  if (R.Text.empty()) return;
  LOGFONTA lf = ObjectFont(R, zy, y2 - y1);
  TSelectedFont font(dc, lf);
  SetTextColor(dc, ColorToRGB(R.PenColor) | (R.PenColor & 0x02000000));
  SetBkMode(dc, TRANSPARENT);
  if (!R.CurvePoints.empty()) {
    const UINT oldAlign = SetTextAlign(dc, TA_CENTER | TA_BASELINE);
    const double W = std::abs(double(x2) - x1), H = std::abs(double(y2) - y1);
    double total = 0;
    for (size_t k = 1; k < R.CurvePoints.size(); ++k)
      total += std::hypot(std::abs(R.CurvePoints[k].x - R.CurvePoints[k - 1].x) * W,
                          std::abs(R.CurvePoints[k].y - R.CurvePoints[k - 1].y) * H);
    // At least one pixel apart, so that a curve shorter than its text still walks.
    const double s = std::max(1, TruncD(total / double(R.Text.size())));
    double px = R.CurvePoints[0].x * W, py = R.CurvePoints[0].y * H;
    double d = 0;
    size_t next = 0;
    int escapement = lf.lfEscapement;
    for (size_t k = 1; k < R.CurvePoints.size() && next < R.Text.size(); ++k) {
      const double qx = R.CurvePoints[k].x * W, qy = R.CurvePoints[k].y * H;
      const double seg = std::hypot(qx - px, qy - py);
      d += std::hypot(R.CurvePoints[k].x * W - R.CurvePoints[k - 1].x * W,
                      R.CurvePoints[k].y * H - R.CurvePoints[k - 1].y * H);
      if (seg == 0) continue;  // a zero-length segment gives no direction
      while (d >= s && next < R.Text.size()) {
        const double cur = std::hypot(qx - px, qy - py);
        if (cur == 0) break;
        const double nx = px + (qx - px) * s / d, ny = py + (qy - py) * s / d;
        int angle = R.CurveCharAngle;
        if (angle == -10) {
          const double dx = nx - px, dy = ny - py;
          if (std::abs(dx) >= 0.01) {
            double a = std::atan2(-dy / dx, 1);
            if (nx < px) a += kPi;
            angle = TruncD(a * 1800 / kPi + 0.5);
          } else {
            angle = dy > 0 ? 2700 : 900;
          }
        }
        if (angle != escapement) {
          lf.lfEscapement = angle;
          lf.lfOrientation = angle;
          font.Replace(lf);
          escapement = angle;
        }
        const int cx = TruncD(px) + x1, cy = TruncD(py) + y1;
        const std::string ch(1, R.Text[next]);
        TextAt(dc, cx, cy, ch, nullptr);
        GLYPHMETRICS gm{};
        const MAT2 identity{{0, 1}, {0, 0}, {0, 0}, {0, 1}};
        ExtendDrawn(R, cx, cy);
        if (GetGlyphOutline(dc, static_cast<uint8_t>(R.Text[next]), GGO_METRICS, &gm, 0, nullptr, &identity) !=
            GDI_ERROR) {
          ExtendDrawn(R, cx - int(gm.gmBlackBoxX), cy - int(gm.gmBlackBoxY));
          ExtendDrawn(R, cx + int(gm.gmBlackBoxX), cy + int(gm.gmBlackBoxY));
        }
        ++next;
        px = nx;
        py = ny;
        d -= s;
      }
    }
    SetTextAlign(dc, oldAlign);
    return;
  }
  // A straight text.
  const double alpha = lf.lfEscapement / 10.0 * kPi / 180;
  const SIZE ext = Extent(dc, R.Text);
  const double tw = ext.cx, th = ext.cy;
  const double ca = std::cos(alpha), sa = std::sin(alpha);
  if (R.TextAutoSize) {
    x2 = TruncD(x1 + std::abs(ca * tw) + std::abs(sa * th));
    y2 = TruncD(y1 + std::abs(sa * tw) + std::abs(ca * th));
    ExtendDrawn(R, x2, y2);
  }
  const int v = TruncD((y2 - y1) - ca * th + sa * tw) / 2;
  const bool penTerm = R.PenStyle != psClear && FZoomObjectsWidth;
  int h = 0;
  switch (R.TextAlign) {
    case 0: h = std::abs(TruncD(sa * th)) + (penTerm ? int(Round(zx * (R.PenWidth + 1))) : 0); break;
    case 1: h = TruncD((x2 - x1) - ca * tw) - (penTerm ? int(Round(zx * (R.PenWidth + 1))) : 0); break;
    case 2:
    case 3: h = TruncD((x2 - x1) - ca * tw - sa * th) / 2; break;
    default: h = 0; break;
  }
  if (R.BrushStyle != bsClear || R.PenStyle != psClear) canvas.Rectangle(x1, y1, x2 + 1, y2 + 1);
  canvas.Brush()->SetStyle(bsClear);
  const RECT clip{x1, y1, x2 + 1, y2 + 1};
  TextAt(dc, x1 + h, y1 + v, R.Text, &clip);
}

// ---- line labels ----

void TImageLibVect::DrawLineLabel(TIECanvas& canvas, TIEVObject& R, int x1, int y1, int x2, int y2, double zx,
                                  double zy) {
  (void)zx;
  if (R.Text.empty()) return;
  if (R.LabelPosition == 1) {
    std::swap(x1, x2);
    std::swap(y1, y2);
  }
  const TPoint A{x1, y1}, E{x2, y2};
  HDC dc = canvas.GetHandle();
  LOGFONTA lf = ObjectFont(R, zy, 0);
  if (lf.lfHeight == 0) lf.lfHeight = TruncD(-13 * zy);
  TSelectedFont font(dc, lf);
  const SIZE ext = Extent(dc, R.Text);
  const int tw = ext.cx, th = ext.cy;
  int left = A.x - (A.x < E.x ? tw : 0);
  int top = A.y - (A.y < E.y ? th : 0);
  const int right = left + tw, bottom = top + th;
  canvas.Pen()->SetColor(R.PenColor);
  canvas.Pen()->SetStyle(R.LabelBorder != 0 ? psSolid : psClear);
  canvas.Brush()->SetColor(R.LabelBrushColor);
  canvas.Brush()->SetStyle(static_cast<TBrushStyle>(R.LabelBrushStyle));
  if (R.LabelBorder == 2) {
    canvas.RoundRect(left, top, right + 1, bottom + 1, 10, 10);
  } else if (R.LabelBorder == 3) {
    canvas.Ellipse(left, top - th, right + 1, bottom + th + 1);
    ExtendDrawn(R, left, top - th);
    ExtendDrawn(R, right, bottom + th);
  } else {
    canvas.Rectangle(left, top, right + 1, bottom + 1);
  }
  ExtendDrawn(R, left, top);
  ExtendDrawn(R, right + 1, bottom + 1);
  // The text's own offsets in its box: those of a straight text without the pen.
  const double alpha = lf.lfEscapement / 10.0 * kPi / 180;
  const double ca = std::cos(alpha), sa = std::sin(alpha);
  const int v = TruncD((bottom - top) - ca * th + sa * tw) / 2;
  int h = 0;
  switch (R.TextAlign) {
    case 0: h = std::abs(TruncD(sa * th)); break;
    case 1: h = TruncD((right - left) - ca * tw); break;
    case 2:
    case 3: h = TruncD((right - left) - ca * tw - sa * th) / 2; break;
    default: break;
  }
  SetTextColor(dc, ColorToRGB(R.PenColor) | (R.PenColor & 0x02000000));
  SetBkMode(dc, TRANSPARENT);
  canvas.Brush()->SetStyle(bsClear);
  const RECT clip{left, top, right + 1, bottom + 1};
  TextAt(dc, left + h, top + v, R.Text, &clip);
  R.LabelRect = TRect{ViewToObjX(left, R.Layer), ViewToObjY(top, R.Layer), ViewToObjX(right, R.Layer),
                      ViewToObjY(bottom, R.Layer)};
}

// ---- rulers ----

void TImageLibVect::DrawRuler(TIECanvas& canvas, TIEVObject* record, int x1, int y1, int x2, int y2,
                              const LOGFONTA* font, double iy, double ix, int rulerType, int penWidth, TColor color,
                              int unit, double length) {
  if (x1 == x2 && y1 == y2) return;
  auto extend = [&](int x, int y) {
    if (record) ExtendDrawn(*record, x, y);
  };
  canvas.Pen()->SetMode(pmCopy);
  canvas.Pen()->SetWidth(float(penWidth));
  canvas.Pen()->SetStyle(psSolid);
  canvas.Pen()->SetColor(color);
  canvas.Brush()->SetStyle(bsClear);
  HDC dc = canvas.GetHandle();
  LOGFONTA lf = MeasureFont(font, iy);
  TSelectedFont selected(dc, lf);
  SetTextColor(dc, ColorToRGB(color) | (color & 0x02000000));
  SetBkMode(dc, TRANSPARENT);

  const double dxl = double(x2) - x1, dyl = double(y2) - y1;
  const double B = std::hypot(dxl, dyl);
  double cq, sq;
  if (dyl == 0) {
    cq = 0;
    sq = -1;
  } else {
    cq = dyl / B;
    sq = -dxl / B;
    if (sq > 0) {
      cq = -cq;
      sq = -sq;
    }
  }
  canvas.DrawLine(x1, y1, x2, y2);
  extend(x1, y1);
  extend(x2, y2);
  const double ux = UnitFactorXOf(unit), uy = UnitFactorYOf(unit);
  if (rulerType == 0) {
    const int k6 = TruncD(6 / iy), k8 = TruncD(8 / iy), k12 = TruncD(12 / iy);
    if (ix * ux == 0 || iy * uy == 0) return;
    const double tx = 1 / (ix * ux * 10), ty = 1 / (iy * uy * 10);
    const double ddx = dxl / B, ddy = dyl / B;
    // Ticks closer than two view pixels are thinned by powers of ten; the
    // multiples of ten keep their long ticks and numbers.
    const double spacing = std::hypot(tx * ddx, ty * ddy);
    int64_t step = 1;
    while (spacing * double(step) < 2 && step < (int64_t(1) << 50)) step *= 10;
    const int lx = std::min(x1, x2), hx = std::max(x1, x2), ly = std::min(y1, y2), hy = std::max(y1, y2);
    const bool downRight = (dxl >= 0) == (dyl >= 0);
    // Only the ticks that can reach the destination are walked: a long line
    // seen through a small picture costs what shows.
    const double ax = tx * std::abs(ddx) * (ddx < 0 ? -1 : 1), ay = ty * std::abs(ddy) * (ddy < 0 ? -1 : 1);
    const double margin = double(k12) + 64;
    double tFrom = 0, tTo = 1e300;
    auto limit = [&](double a, int origin, int size) {
      if (a == 0) {
        if (origin < -margin || origin > size + margin) tTo = -1;
        return;
      }
      double t1 = (-margin - origin) / a, t2 = (size + margin - origin) / a;
      if (t1 > t2) std::swap(t1, t2);
      tFrom = std::max(tFrom, t1);
      tTo = std::min(tTo, t2);
    };
    limit(ax, x1, FDrawWidth);
    limit(ay, y1, FDrawHeight);
    if (tTo < tFrom) return;
    double prevDist = 0;
    const int64_t first = static_cast<int64_t>(std::min(std::floor(tFrom / double(step)), 4e18)) * step;
    for (int64_t i = first; prevDist < B && double(i) <= tTo + step; i += step) {
      const double X = double(i) * tx * std::abs(ddx) * (ddx < 0 ? -1 : 1);
      const double Y = double(i) * ty * std::abs(ddy) * (ddy < 0 ? -1 : 1);
      prevDist = std::trunc(std::hypot(X, Y));
      const int px = x1 + TruncD(X), py = y1 + TruncD(Y);
      if (px < lx || px > hx || py < ly || py > hy) continue;
      const int k = i % 10 == 0 ? k12 : i % 5 == 0 ? k8 : k6;
      const int G = x1 + TruncD(k * cq + X), H = y1 + TruncD(k * sq + Y);
      const int G2 = x1 + TruncD(-k * cq + X), H2 = y1 + TruncD(-k * sq + Y);
      canvas.DrawLine(G, H, G2, H2);
      extend(G, H);
      extend(G2, H2);
      if (i % 10 == 0) {
        const std::string number = IntToStr(i / 10);
        const SIZE ext = Extent(dc, number);
        const double L = 2.0 * ext.cy + 1;
        const int K = ext.cx / 2;
        int x, y;
        if (downRight) {
          x = TruncD(L * cq + G - 2 * K * cq + K * sq);
          y = TruncD(L * sq + H - K * cq) + 20;
        } else {
          x = TruncD(L * cq + G + K * sq);
          y = TruncD(L * sq + H + K * cq) + 20;
        }
        TextAt(dc, x, y, number, nullptr);
        extend(x - 15, y - 15);
        extend(x + 15, y + 15);
      }
    }
    return;
  }
  if (rulerType < 1 || rulerType > 3) return;
  const int bx = TruncD(9 / ix), by = TruncD(9 / iy);
  for (const TPoint& e : {TPoint{x1, y1}, TPoint{x2, y2}}) {
    const int ax = e.x + TruncD(cq * bx), ay = e.y + TruncD(sq * by);
    const int bx2 = e.x - TruncD(cq * bx), by2 = e.y - TruncD(sq * by);
    canvas.DrawLine(ax, ay, bx2, by2);
    extend(ax, ay);
    extend(bx2, by2);
  }
  const double lineAngle = LineAngle(x1, y1, x2, y2);
  double t = 2 * kPi - lineAngle;
  if (t > kPi / 2 && t <= 3 * kPi / 2) t -= kPi;
  LOGFONTA turned = lf;
  turned.lfEscapement = TruncD(-t * 1800 / kPi);
  turned.lfOrientation = turned.lfEscapement;
  selected.Replace(turned);
  const double value = length == -1 ? std::hypot(ix * std::abs(double(x2) - x1) * ux, iy * std::abs(double(y2) - y1) * uy)
                                    : length;
  std::string text = FloatToStrF(value, ffFixed, FFloatPrecision, FFloatDigits) + " " + IEUnitName(unit);
  if (OnPresentMeasure) OnPresentMeasure(this, text, value, 1);
  const bool forward = !(lineAngle >= 1.5707953267948966 && lineAngle <= 4.71238898038469);
  if (rulerType == 1) text = " " + text;
  if (rulerType == 3) text += " ";
  const SIZE ext = Extent(dc, text);
  const double tw = ext.cx, th = ext.cy;
  const double ct = std::cos(t), st = std::sin(t);
  TPoint A;
  if (rulerType == 1) {
    A = forward ? TPoint{x1, y1} : TPoint{x2, y2};
  } else if (rulerType == 2) {
    A = forward ? TPoint{x1 + TruncD(ct * (B - tw) / 2), y1 + TruncD(st * (B - tw) / 2)}
                : TPoint{x1 - TruncD(ct * (tw + B) / 2), y1 - TruncD(st * (tw + B) / 2)};
  } else {
    const TPoint s = forward ? TPoint{x1, y1} : TPoint{x2, y2};
    A = TPoint{s.x + TruncD(ct * (B - tw)), s.y + TruncD(st * (B - tw))};
  }
  if (!text.empty()) TextAt(dc, A.x, A.y, text, nullptr);
  const TPoint A2{A.x + TruncD(ct * tw - st * th), A.y + TruncD(st * tw + ct * th)};
  for (const TPoint& p : {A, A2}) {
    extend(p.x, p.y);
    extend(p.x - 15, p.y - 15);
    extend(p.x + 15, p.y + 15);
  }
}

// ---- angles ----

void TImageLibVect::DrawAngle(TIECanvas& canvas, TIEVObject* record, const TPoint* points, int layer,
                              const LOGFONTA* font, double iy, double ix, int f, bool zoomed, int penWidth,
                              TColor color) {
  (void)ix;
  if (points[0].x == kIEVUnsetPoint) return;
  auto extend = [&](int x, int y) {
    if (record) ExtendDrawn(*record, x, y);
  };
  canvas.Pen()->SetMode(pmCopy);
  canvas.Pen()->SetWidth(float(penWidth));
  canvas.Pen()->SetStyle(psSolid);
  canvas.Pen()->SetColor(color);
  canvas.Brush()->SetStyle(bsClear);
  const int n = GetAnglePointCount(points);
  TPoint v[3];
  for (int i = 0; i < n; ++i) {
    v[i] = TPoint{ObjToDrawX(points[i].x, zoomed, layer, f), ObjToDrawY(points[i].y, zoomed, layer, f)};
    extend(v[i].x, v[i].y);
    if (i > 0) canvas.DrawLine(v[i - 1].x, v[i - 1].y, v[i].x, v[i].y);
  }
  if (n < 3) return;
  HDC dc = canvas.GetHandle();
  TSelectedFont selected(dc, MeasureFont(font, iy));
  SetTextColor(dc, ColorToRGB(color) | (color & 0x02000000));
  SetBkMode(dc, TRANSPARENT);
  const double angle = AngleAtVertex(points[0].x, points[0].y, points[1].x, points[1].y, points[2].x, points[2].y) *
                       180 / kPi;
  const std::string text = FloatToStrF(angle, ffFixed, FFloatPrecision, FFloatDigits) + "\xB0";
  const SIZE ext = Extent(dc, text);
  TextAt(dc, v[1].x, v[1].y, text, nullptr);
  extend(v[1].x, v[1].y);
  extend(v[1].x + ext.cx, v[1].y + ext.cy);
  const int r = std::min(TruncD(std::hypot(double(v[1].x) - v[2].x, double(v[1].y) - v[2].y)) / 4,
                         TruncD(std::hypot(double(v[1].x) - v[0].x, double(v[1].y) - v[0].y)) / 4);
  canvas.Arc(v[1].x - r, v[1].y - r, v[1].x + r, v[1].y + r, v[0].x, v[0].y, v[2].x, v[2].y);
  extend(v[1].x - r, v[1].y - r);
  extend(v[1].x + r, v[1].y + r);
}
