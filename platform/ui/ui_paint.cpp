#include "platform/ui/ui_paint.h"

#include <algorithm>

TRect InflateRect(const TRect& r, int dx, int dy) { return Rect(r.left - dx, r.top - dy, r.right + dx, r.bottom + dy); }

bool PtInRect(const TRect& r, TPoint p) { return p.x >= r.left && p.y >= r.top && p.x < r.right && p.y < r.bottom; }

void Frame3D(TCanvas* canvas, TRect& rect, TColor topColor, TColor bottomColor, int width) {
  canvas->Pen()->SetWidth(1);
  canvas->Pen()->SetStyle(psSolid);
  for (int i = 0; i < width; ++i) {
    --rect.right;
    --rect.bottom;
    canvas->Pen()->SetColor(topColor);
    canvas->Polyline({Point(rect.left, rect.bottom), Point(rect.left, rect.top), Point(rect.right, rect.top)});
    canvas->Pen()->SetColor(bottomColor);
    canvas->Polyline({Point(rect.right, rect.top), Point(rect.right, rect.bottom), Point(rect.left - 1, rect.bottom)});
    rect = InflateRect(rect, -1, -1);
    ++rect.right;
    ++rect.bottom;
  }
}

void DrawButtonFace(TCanvas* canvas, TRect& rect, bool pressed, bool isDefault, bool flat) {
  canvas->Brush()->SetStyle(bsSolid);
  canvas->Brush()->SetColor(clBtnFace);
  canvas->FillRect(rect);
  if (isDefault) {
    canvas->Brush()->SetColor(clWindowFrame);
    canvas->FrameRect(rect);
    rect = InflateRect(rect, -1, -1);
  }
  if (pressed) {
    Frame3D(canvas, rect, clBtnShadow, clBtnHighlight, 1);
  } else if (flat) {
    Frame3D(canvas, rect, clBtnHighlight, clBtnShadow, 1);
  } else {
    Frame3D(canvas, rect, clBtnHighlight, cl3DDkShadow, 1);
    Frame3D(canvas, rect, clBtnFace, clBtnShadow, 1);
  }
}

void DrawSunkenBox(TCanvas* canvas, TRect& rect, TColor fill) {
  Frame3D(canvas, rect, clBtnShadow, clBtnHighlight, 1);
  Frame3D(canvas, rect, cl3DDkShadow, clBtnFace, 1);
  canvas->Brush()->SetStyle(bsSolid);
  canvas->Brush()->SetColor(fill);
  canvas->FillRect(rect);
}

void DrawCheckMark(TCanvas* canvas, int x, int y, bool checked, bool enabled, bool radio, bool grayed) {
  TColor fill = enabled && !grayed ? clWindow : clBtnFace;
  TColor mark = enabled ? clWindowText : clGrayText;
  if (radio) {
    canvas->Pen()->SetColor(clBtnShadow);
    canvas->Brush()->SetColor(fill);
    canvas->Ellipse(x, y, x + 12, y + 12);
    if (checked) {
      canvas->Pen()->SetColor(mark);
      canvas->Brush()->SetColor(mark);
      canvas->Ellipse(x + 4, y + 4, x + 8, y + 8);
    }
    return;
  }
  TRect r = Rect(x, y, x + 13, y + 13);
  DrawSunkenBox(canvas, r, fill);
  if (!checked) return;
  canvas->Pen()->SetColor(grayed ? clGrayText : mark);
  for (int i = 0; i < 3; ++i) {
    canvas->MoveTo(x + 3, y + 5 + i);
    canvas->LineTo(x + 5, y + 7 + i);
    canvas->LineTo(x + 10, y + 2 + i);
  }
}

void DrawArrow(TCanvas* canvas, const TRect& rect, TArrowDirection direction, TColor color) {
  int cx = (rect.left + rect.right) / 2, cy = (rect.top + rect.bottom) / 2;
  canvas->Pen()->SetColor(color);
  canvas->Brush()->SetColor(color);
  canvas->Brush()->SetStyle(bsSolid);
  switch (direction) {
    case adUp: canvas->Polygon({Point(cx - 3, cy + 1), Point(cx + 3, cy + 1), Point(cx, cy - 2)}); break;
    case adDown: canvas->Polygon({Point(cx - 3, cy - 1), Point(cx + 3, cy - 1), Point(cx, cy + 2)}); break;
    case adLeft: canvas->Polygon({Point(cx + 1, cy - 3), Point(cx + 1, cy + 3), Point(cx - 2, cy)}); break;
    case adRight: canvas->Polygon({Point(cx - 1, cy - 3), Point(cx - 1, cy + 3), Point(cx + 2, cy)}); break;
  }
}

void DrawScrollBar(TCanvas* canvas, const TRect& rect, bool horizontal, const SCROLLINFO& info, bool enabled) {
  canvas->Brush()->SetStyle(bsSolid);
  canvas->Brush()->SetColor(clScrollBar);
  canvas->FillRect(rect);
  int thick = horizontal ? rect.bottom - rect.top : rect.right - rect.left;
  TRect a = horizontal ? Rect(rect.left, rect.top, rect.left + thick, rect.bottom)
                       : Rect(rect.left, rect.top, rect.right, rect.top + thick);
  TRect b = horizontal ? Rect(rect.right - thick, rect.top, rect.right, rect.bottom)
                       : Rect(rect.left, rect.bottom - thick, rect.right, rect.bottom);
  TColor arrow = enabled ? clBtnText : clGrayText;
  TRect f = a;
  DrawButtonFace(canvas, f, false, false);
  DrawArrow(canvas, a, horizontal ? adLeft : adUp, arrow);
  f = b;
  DrawButtonFace(canvas, f, false, false);
  DrawArrow(canvas, b, horizontal ? adRight : adDown, arrow);
  if (!enabled) return;
  TRect t = ScrollBarThumbRect(rect, horizontal, info);
  if (t.right <= t.left || t.bottom <= t.top) return;
  DrawButtonFace(canvas, t, false, false);
}

namespace {

struct ThumbGeometry {
  int thick = 0, track = 0, thumb = 0, range = 1, offset = 0;
  bool ok = false;
};

ThumbGeometry Thumb(const TRect& rect, bool horizontal, const SCROLLINFO& info) {
  ThumbGeometry g;
  const int length = horizontal ? rect.right - rect.left : rect.bottom - rect.top;
  g.thick = horizontal ? rect.bottom - rect.top : rect.right - rect.left;
  g.track = length - 2 * g.thick;
  const int span = info.nMax - info.nMin + 1;
  if (g.track <= 8 || span <= 0) return g;
  const int page = info.nPage ? static_cast<int>(info.nPage) : 1;
  g.thumb = std::max(8, static_cast<int>(int64_t(g.track) * std::min(page, span) / span));
  g.range = std::max(span - page, 1);
  g.offset = static_cast<int>(int64_t(g.track - g.thumb) * (info.nPos - info.nMin) / g.range);
  g.ok = true;
  return g;
}

}  // namespace

TRect ScrollBarThumbRect(const TRect& rect, bool horizontal, const SCROLLINFO& info) {
  const ThumbGeometry g = Thumb(rect, horizontal, info);
  if (!g.ok) return TRect{};
  return horizontal ? Rect(rect.left + g.thick + g.offset, rect.top, rect.left + g.thick + g.offset + g.thumb, rect.bottom)
                    : Rect(rect.left, rect.top + g.thick + g.offset, rect.right, rect.top + g.thick + g.offset + g.thumb);
}

int ScrollBarPositionAt(const TRect& rect, bool horizontal, const SCROLLINFO& info, int offset) {
  const ThumbGeometry g = Thumb(rect, horizontal, info);
  if (!g.ok || g.track <= g.thumb) return info.nMin;
  offset = std::clamp(offset, 0, g.track - g.thumb);
  return info.nMin + static_cast<int>(int64_t(offset) * g.range / (g.track - g.thumb));
}

void DrawTextIn(TCanvas* canvas, const std::string& text, TRect rect, UINT format, bool enabled) {
  HDC dc = canvas->Handle();
  SetBkMode(dc, TRANSPARENT);
  if (!enabled) {
    TRect shifted = InflateRect(rect, 0, 0);
    shifted.left += 1;
    shifted.top += 1;
    shifted.right += 1;
    shifted.bottom += 1;
    SetTextColor(dc, static_cast<COLORREF>(ColorToRGB(clBtnHighlight)));
    DrawText(dc, text.c_str(), static_cast<int>(text.size()), &shifted, format);
    SetTextColor(dc, static_cast<COLORREF>(ColorToRGB(clBtnShadow)));
  } else {
    SetTextColor(dc, static_cast<COLORREF>(ColorToRGB(canvas->Font()->Color())));
  }
  DrawText(dc, text.c_str(), static_cast<int>(text.size()), &rect, format);
}
