// The blit-drawn step procedures: each is a few copies, stretches or
// parallelogram blits of the end (or start, or previous) frame per call.
#include "imaging/extras/transitions/transition_steps.h"

#include <algorithm>

#include "imaging/extras/transitions/transition_regions.h"
#include "platform/graphics/gdi.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/rtl/rounding.h"
#include "platform/win/system_info.h"

void ScaleProgress(const TRect& rect, int percent, int& W, int& H, int& wp, int& hp) {
  W = rect.right - rect.left;
  H = rect.bottom - rect.top;
  if (W <= 0 || H <= 0) {
    // MulDiv by a zero size gives -1: an empty frame reaches nothing.
    wp = hp = 0;
    return;
  }
  percent = std::clamp(percent, 0, 100);
  if (W >= H) {
    wp = MulDiv(W, percent, 100);
    hp = MulDiv(wp, H, W);
  } else {
    hp = MulDiv(H, percent, 100);
    wp = MulDiv(hp, W, H);
  }
  wp = std::clamp(wp, 0, W);
  hp = std::clamp(hp, 0, H);
}

namespace {

// The frame's blits, with the axes exchanged for the across-the-height twin
// of a procedure written across the width.
struct TBlits {
  HDC frame;
  bool swap;
  void Copy(TBitmap* b, int sx, int sy, int w, int h, int x, int y) const {
    if (swap) std::swap(sx, sy), std::swap(w, h), std::swap(x, y);
    BitBlt(frame, x, y, w, h, b->Canvas()->Handle(), sx, sy, SRCCOPY);
  }
  void CopyFrame(int sx, int sy, int w, int h, int x, int y) const {
    if (swap) std::swap(sx, sy), std::swap(w, h), std::swap(x, y);
    BitBlt(frame, x, y, w, h, frame, sx, sy, SRCCOPY);
  }
  void Stretch(TBitmap* b, int sx, int sy, int sw, int sh, int x, int y, int w, int h) const {
    if (swap) std::swap(sx, sy), std::swap(sw, sh), std::swap(x, y), std::swap(w, h);
    StretchBlt(frame, x, y, w, h, b->Canvas()->Handle(), sx, sy, sw, sh, SRCCOPY);
  }
  void StretchFrame(int sx, int sy, int sw, int sh, int x, int y, int w, int h) const {
    if (swap) std::swap(sx, sy), std::swap(sw, sh), std::swap(x, y), std::swap(w, h);
    StretchBlt(frame, x, y, w, h, frame, sx, sy, sw, sh, SRCCOPY);
  }
};

// The edge family across the width; the twins come here with the axes
// exchanged (type is the across-the-width member).
void EdgeStep(int type, TCanvas* canvas, TBitmap* end, const TBlits& g, int W, int H, int wp) {
  switch (type) {
    case 31: g.Stretch(end, 0, 0, W, H, 0, 0, wp, H); break;
    case 32: g.Stretch(end, 0, 0, W, H, W - wp, 0, wp, H); break;
    case 65: g.Copy(end, 0, 0, W, H, wp - W, 0); break;
    case 66: g.Copy(end, 0, 0, W, H, W - wp, 0); break;
    case 39: g.Stretch(end, W - wp, 0, wp, H, wp - W, 0, 2 * W - wp, H); break;
    case 40: g.Stretch(end, 0, 0, wp, H, 0, 0, 2 * W - wp, H); break;
    case 43: g.Stretch(end, (W - wp) / 2, 0, wp, H, wp - W, 0, 3 * W - 2 * wp, H); break;
    case 48: g.Stretch(end, 0, 0, W, H, (W - wp) / 2, 0, wp, H); break;
    case 56: g.Copy(end, (W - wp) / 2, 0, wp, H, (W - wp) / 2, 0); break;
    case 55: {
      const int q = wp / 2;
      g.Copy(end, 0, 0, q, H, 0, 0);
      g.Copy(end, W - q, 0, q, H, W - q, 0);
      break;
    }
    case 45: {
      const int q = wp / 2, h2 = W / 2;
      g.Stretch(end, 0, 0, h2, H, 0, 0, q, H);
      g.Stretch(end, h2, 0, h2, H, W - q, 0, q, H);
      break;
    }
    case 57: {
      g.Copy(end, W - wp, 0, wp, H, W - wp, 0);
      const int sx = std::max(W - wp - W / 10, 0);
      g.Stretch(end, sx, 0, W - wp - sx, H, 0, 0, W - wp, H);
      break;
    }
    case 58:
      g.Copy(end, 0, 0, wp, H, 0, 0);
      g.Stretch(end, wp, 0, std::min(W - wp, W / 10), H, wp, 0, W - wp, H);
      break;
    case 61: {
      const int d = wp < W / 5 ? wp + wp / 2 : W < wp + W / 5 ? wp + (W - wp) / 2 : wp + W / 10;
      auto r = [&](int l, int rr) { return g.swap ? TRect{0, l, H, rr} : TRect{l, 0, rr, H}; };
      StretchPartTo(canvas, r(wp, d), end, r(d, 2 * d - wp), !g.swap, g.swap);
      g.Copy(end, 0, 0, wp, H, 0, 0);
      break;
    }
    case 62: {
      const int rr = W - wp;
      const int l = W < rr + W / 5 ? rr - wp / 2 : rr < W / 5 ? rr - rr / 2 : rr - W / 10;
      auto r = [&](int a, int b) { return g.swap ? TRect{0, a, H, b} : TRect{a, 0, b, H}; };
      StretchPartTo(canvas, r(l, rr), end, r(2 * l - rr, l), !g.swap, g.swap);
      g.Copy(end, W - wp, 0, wp, H, W - wp, 0);
      break;
    }
  }
}

int AcrossMember(int type) {
  switch (type) {
    case 33: return 31; case 34: return 32; case 67: return 65; case 68: return 66;
    case 41: return 39; case 42: return 40; case 44: return 43; case 47: return 48;
    case 54: return 56; case 53: return 55; case 46: return 45; case 63: return 61;
    case 64: return 62; case 59: return 57; case 60: return 58;
    default: return 0;
  }
}

void CornerStep(int type, TBitmap* end, const TBlits& g, int W, int H, int wp, int hp) {
  const int qw = wp / 2, qh = hp / 2, hw = W / 2, hh = H / 2;
  switch (type) {
    case 35: g.Stretch(end, 0, 0, W, H, 0, 0, wp, hp); break;
    case 36: g.Stretch(end, 0, 0, W, H, W - wp, 0, wp, hp); break;
    case 37: g.Stretch(end, 0, 0, W, H, 0, H - hp, wp, hp); break;
    case 38: g.Stretch(end, 0, 0, W, H, W - wp, H - hp, wp, hp); break;
    case 49: g.Copy(end, 0, 0, wp, hp, 0, 0); break;
    case 50: g.Copy(end, W - wp, 0, wp, hp, W - wp, 0); break;
    case 51: g.Copy(end, 0, H - hp, wp, hp, 0, H - hp); break;
    case 52: g.Copy(end, W - wp, H - hp, wp, hp, W - wp, H - hp); break;
    case 69: g.Stretch(end, 0, 0, wp, hp, 0, 0, 2 * W - wp, 2 * H - hp); break;
    case 70: g.Stretch(end, W - wp, 0, wp, hp, wp - W, 0, 2 * W - wp, 2 * H - hp); break;
    case 71: g.Stretch(end, 0, H - hp, wp, hp, 0, hp - H, 2 * W - wp, 2 * H - hp); break;
    case 72: g.Stretch(end, W - wp, H - hp, wp, hp, wp - W, hp - H, 2 * W - wp, 2 * H - hp); break;
    case 73:
      g.Stretch(end, (W - wp) / 2, (H - hp) / 2, wp, hp, wp - W, hp - H, 3 * W - 2 * wp, 3 * H - 2 * hp);
      break;
    case 74:
      g.Copy(end, 0, 0, qw, qh, 0, 0);
      g.Copy(end, 0, H - qh, qw, qh, 0, H - qh);
      g.Copy(end, W - qw, H - qh, qw, qh, W - qw, H - qh);
      g.Copy(end, W - qw, 0, qw, qh, W - qw, 0);
      break;
    case 75:
      g.Stretch(end, 0, 0, hw, hh, 0, 0, qw, qh);
      g.Stretch(end, 0, hh, hw, hh, 0, H - qh, qw, qh);
      g.Stretch(end, hw, hh, hw, hh, W - qw, H - qh, qw, qh);
      g.Stretch(end, hw, 0, hw, hh, W - qw, 0, qw, qh);
      break;
    case 76:
      g.Copy(end, 0, 0, hw, hh, qw - hw, 0);
      g.Copy(end, hw, 0, hw, hh, hw, qh - hh);
      g.Copy(end, hw, hh, hw, hh, W - qw, hh);
      g.Copy(end, 0, hh, hw, hh, 0, H - qh);
      break;
  }
}

void PushStep(int type, TBitmap* end, const TBlits& g, int W, int H, int wp, int hp) {
  switch (type) {
    case 151: g.CopyFrame(wp, 0, W - wp, H, 0, 0); g.Copy(end, 0, 0, wp, H, W - wp, 0); break;
    case 152: g.CopyFrame(0, 0, W - wp, H, wp, 0); g.Copy(end, W - wp, 0, wp, H, 0, 0); break;
    case 153: g.CopyFrame(0, hp, W, H - hp, 0, 0); g.Copy(end, 0, 0, W, hp, 0, H - hp); break;
    case 154: g.CopyFrame(0, 0, W, H - hp, 0, hp); g.Copy(end, 0, H - hp, W, hp, 0, 0); break;
    case 155: g.StretchFrame(0, 0, W, H, 0, 0, W - wp, H); g.Copy(end, 0, 0, wp, H, W - wp, 0); break;
    case 156: g.StretchFrame(0, 0, W, H, wp, 0, W - wp, H); g.Copy(end, W - wp, 0, wp, H, 0, 0); break;
    case 157: g.StretchFrame(0, 0, W, H, 0, 0, W, H - hp); g.Copy(end, 0, 0, W, hp, 0, H - hp); break;
    case 158: g.StretchFrame(0, 0, W, H, 0, hp, W, H - hp); g.Copy(end, 0, H - hp, W, hp, 0, 0); break;
  }
}

void Parallelogram(HDC frame, TBitmap* b, int sx, int sy, int w, int h, POINT p0, POINT p1, POINT p2) {
  const POINT points[3] = {p0, p1, p2};
  PlgBlt(frame, points, b->Canvas()->Handle(), sx, sy, w, h, nullptr, 0, 0);
}

void TwistStep(int type, TBitmap* start, TBitmap* end, HDC frame, int W, int H, int wp, int hp, int step) {
  switch (type) {
    case 223:
      Parallelogram(frame, end, 0, 0, W, H, {(W - wp) / 2, (H - hp) / 2}, {W, 0}, {0, H});
      return;
    case 224:
      BitBlt(frame, 0, 0, W, H, end->Canvas()->Handle(), 0, 0, SRCCOPY);
      Parallelogram(frame, start, 0, 0, W, H, {wp / 2, hp / 2}, {W, 0}, {0, H});
      return;
  }
  const int cw = static_cast<int>(Round(W / 6.0)), ch = static_cast<int>(Round(H / 4.0));
  if (cw <= 0 || ch <= 0) {
    // A frame too small for its tiles shows the end picture.
    BitBlt(frame, 0, 0, W, H, end->Canvas()->Handle(), 0, 0, SRCCOPY);
    return;
  }
  int ox, oy;
  if (type == 225) {
    ox = (cw - MulDiv(cw, step, 1024)) / 2, oy = (ch - MulDiv(ch, step, 1024)) / 2;
  } else {
    BitBlt(frame, 0, 0, W, H, end->Canvas()->Handle(), 0, 0, SRCCOPY);
    ox = MulDiv(cw, step, 1024) / 2, oy = MulDiv(ch, step, 1024) / 2;
  }
  for (int r = 0; r < 4; ++r)
    for (int i = 0; i < 6; ++i) {
      const int x = i * cw, y = r * ch;
      if (type == 225)
        Parallelogram(frame, end, x, y, cw, ch, {x + ox, y + oy}, {x + cw, y - 1}, {x - 1, y + ch});
      else
        Parallelogram(frame, start, x, y, cw, ch, {x + ox, y + oy}, {x + cw, y}, {x, y + ch});
    }
}

}  // namespace

void BlitStep(int type, TCanvas* canvas, TBitmap* start, TBitmap* end, const TRect& rect, int step, int percent) {
  if (!canvas || !start || !end) return;
  int W, H, wp, hp;
  ScaleProgress(rect, percent, W, H, wp, hp);
  if (W <= 0 || H <= 0) return;
  const HDC frame = canvas->Handle();
  if (const int across = AcrossMember(type)) {
    EdgeStep(across, canvas, end, TBlits{frame, true}, H, W, hp);
    return;
  }
  if (type == 31 || type == 32 || type == 39 || type == 40 || type == 43 || type == 45 || type == 48 ||
      (type >= 55 && type <= 58) || type == 61 || type == 62 || type == 65 || type == 66) {
    EdgeStep(type, canvas, end, TBlits{frame, false}, W, H, wp);
  } else if ((type >= 35 && type <= 38) || (type >= 49 && type <= 52) || (type >= 69 && type <= 76)) {
    CornerStep(type, end, TBlits{frame, false}, W, H, wp, hp);
  } else if (type >= 151 && type <= 158) {
    PushStep(type, end, TBlits{frame, false}, W, H, wp, hp);
  } else if (type >= 223 && type <= 226) {
    TwistStep(type, start, end, frame, W, H, wp, hp, std::clamp(step, 0, 1024));
  }
}
