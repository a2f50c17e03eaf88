// The painters the engine runs itself: blends, wipes, slides, row moves,
// random points and boxes, centre wipes and zooms, page flips, cube rotations,
// soft wipes and the pan-zoom. Pixel painters walk the row tables and weigh
// colours 0..1024 with a shift by 10; the others blit on the bitmaps' canvases.
#include <algorithm>
#include <cmath>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_helpers.h"
#include "imaging/extras/transitions/transition_engine.h"
#include "imaging/views/image_view.h"
#include "platform/graphics/gdi.h"
#include "platform/rtl/random.h"
#include "platform/rtl/rounding.h"
#include "platform/win/system_info.h"

namespace {

inline int Shr10(int64_t v) { return static_cast<int>(v >> 10); }

// out = (a * (1024 - w) + b * w) >> 10 over n pixels.
void BlendRow(uint8_t* out, const uint8_t* a, const uint8_t* b, int n, int w) {
  const int wa = 1024 - w;
  int i = 0;
#ifdef __SSE2__
  // Sixteen bytes at a time: a and b side by side as 16-bit pairs, each pair
  // times (1024 - w, w) summed exactly in 32 bits, shifted and packed back.
  const __m128i weights = _mm_set1_epi32(int(uint32_t(uint16_t(wa)) | (uint32_t(uint16_t(w)) << 16)));
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= n * 3; i += 16) {
    const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
    const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    const __m128i a0 = _mm_unpacklo_epi8(va, zero), a1 = _mm_unpackhi_epi8(va, zero);
    const __m128i b0 = _mm_unpacklo_epi8(vb, zero), b1 = _mm_unpackhi_epi8(vb, zero);
    auto part = [&](__m128i x, __m128i y) {
      const __m128i lo = _mm_srai_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(x, y), weights), 10);
      const __m128i hi = _mm_srai_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(x, y), weights), 10);
      return _mm_packs_epi32(lo, hi);
    };
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(part(a0, b0), part(a1, b1)));
  }
#endif
  for (; i < n * 3; ++i) out[i] = static_cast<uint8_t>((a[i] * wa + b[i] * w) >> 10);
}

// out = (colour * (1024 - w) + p * w) >> 10 over n pixels, colour as b, g, r.
void ShadeRow(uint8_t* out, const uint8_t* p, int n, const int c[3], int w) {
  const int wc = 1024 - w;
  for (int i = 0; i < n; ++i)
    for (int k = 0; k < 3; ++k) out[3 * i + k] = static_cast<uint8_t>((c[k] * wc + p[3 * i + k] * w) >> 10);
}

void BackgroundTriple(TColor color, int c[3]) {
  TRGB px;
  ColorToRGBPixel(color, px);
  c[0] = px.b, c[1] = px.g, c[2] = px.r;
}

}  // namespace

bool TIETransitionEffects::PaintBuiltIn() {
  const int s = std::clamp(CurrentStep, 0, 1024);
  const int t = Transition;
  if (t >= iettCrossDissolve && t <= iettFadeOutIn) PaintBlend(t, s);
  else if (t >= iettLeftRight1 && t <= iettDownUp2) PaintWipe(s);
  else if (t >= iettFromUpLeft && t <= iettFromBottomRight) PaintSlide(s);
  else if (t >= iettMoveLeftRight1 && t <= iettMoveDownUp2) PaintRowMove(s);
  else if (t == iettRandomPoints) PaintRandomPoints(s);
  else if (t == iettRandomBoxes) PaintRandomBoxes(s);
  else if (t >= iettCenter1 && t <= iettCenterZoom2) PaintCenter(s);
  else if (t >= iettPageFlipEffect && t <= iettReversePageFlip2) PaintPageFlip(s);
  else if (t >= iettCubeRotateFromLeft && t <= iettCubeRotateFromBottom) PaintCubeRotation(s);
  else if (t >= iettSoftWipeFromLeft && t <= iettSoftWipeFromBottom) PaintSoftWipe(s);
  else if (t == iettPanZoom) PaintPanZoom(s);
  else return false;
  return true;
}

void TIETransitionEffects::PaintBlend(int kind, int s) {
  if (kind == iettFadeOutIn) {
    if (s < 512) kind = iettFadeOut, s = 2 * s;
    else kind = iettFadeIn, s = 2 * s - 1024;
  }
  int c[3];
  BackgroundTriple(BackgroundColor, c);
  const int W = FrameWidth;
  for (int y = 0; y < FrameHeight; ++y) {
    switch (kind) {
      case iettCrossDissolve: BlendRow(FrameRows[y], StartRows[y], EndRows[y], W, s); break;
      case iettFadeOut: ShadeRow(FrameRows[y], StartRows[y], W, c, 1024 - s); break;
      default: ShadeRow(FrameRows[y], EndRows[y], W, c, s); break;
    }
  }
}

void TIETransitionEffects::PaintWipe(int s) {
  const int W = FrameWidth, H = FrameHeight;
  Restart(s);
  TBitmap* end = FEndImage.get();
  TCanvas* canvas = FFrameImage->Canvas();
  auto redLine = [canvas](int x1, int y1, int x2, int y2) {
    canvas->Pen()->SetColor(255);
    canvas->MoveTo(x1, y1);
    canvas->LineTo(x2, y2);
  };
  switch (Transition) {
    case iettLeftRight1: case iettLeftRight2: {
      const int x = Shr10(int64_t(s) * W);
      CopyFrom(end, 0, 0, x, H);
      if (Transition == iettLeftRight2) redLine(x, 0, x, H);
      break;
    }
    case iettRightLeft1: case iettRightLeft2: {
      const int x = static_cast<int>(Round(W * (1024 - s) / 1024.0));
      CopyFrom(end, x, 0, static_cast<int>(Round(s * double(W) / 1024)), H);
      if (Transition == iettRightLeft2) redLine(x, 0, x, H);
      break;
    }
    case iettUpDown1: case iettUpDown2: {
      const int y = static_cast<int>(Round(s * double(H) / 1024));
      CopyFrom(end, 0, 0, W, y);
      if (Transition == iettUpDown2) redLine(0, y, W, y);
      break;
    }
    default: {
      const int y = static_cast<int>(Round(H * (1024 - s) / 1024.0));
      CopyFrom(end, 0, y, W, static_cast<int>(Round(s * double(H) / 1024)));
      if (Transition == iettDownUp2) redLine(0, y, W, y);
      break;
    }
  }
}

void TIETransitionEffects::PaintSlide(int s) {
  const int W = FrameWidth, H = FrameHeight;
  TCanvas* canvas = FFrameImage->Canvas();
  if (Transition == iettFromUpLeft) {
    if (s == 0) canvas->Draw(0, 0, FStartImage.get());
  } else {
    Restart(s);
  }
  const int dx = Shr10(int64_t(1024 - s) * W), dy = Shr10(int64_t(1024 - s) * H);
  switch (Transition) {
    case iettFromUpLeft: canvas->Draw(-dx, -dy, FEndImage.get()); break;
    case iettFromUpRight: canvas->Draw(dx, -dy, FEndImage.get()); break;
    case iettFromBottomLeft: canvas->Draw(-dx, dy, FEndImage.get()); break;
    default: canvas->Draw(dx, dy, FEndImage.get()); break;
  }
}

void TIETransitionEffects::PaintRowMove(int s) {
  const int W = FrameWidth, H = FrameHeight;
  auto px = [](int n) { return size_t(n) * 3; };
  switch (Transition) {
    case iettMoveLeftRight1: case iettMoveLeftRight2: {
      const int k = Shr10(int64_t(s) * W);
      for (int y = 0; y < H; ++y) {
        std::memcpy(FrameRows[y], EndRows[y] + (Transition == iettMoveLeftRight1 ? px(W - k) : 0), px(k));
        std::memcpy(FrameRows[y] + px(k), StartRows[y], px(W - k));
      }
      break;
    }
    case iettMoveRightLeft1: case iettMoveRightLeft2: {
      const int k = Shr10(int64_t(1024 - s) * W);
      for (int y = 0; y < H; ++y) {
        std::memcpy(FrameRows[y], StartRows[y] + (Transition == iettMoveRightLeft1 ? px(W - k) : 0), px(k));
        std::memcpy(FrameRows[y] + px(k), EndRows[y], px(W - k));
      }
      break;
    }
    case iettMoveUpDown1: case iettMoveUpDown2: {
      const int k = Shr10(int64_t(s) * H);
      for (int y = 0; y < k; ++y)
        std::memcpy(FrameRows[y], EndRows[Transition == iettMoveUpDown1 ? H - k + y : y], px(W));
      for (int y = k; y < H; ++y) std::memcpy(FrameRows[y], StartRows[y - k], px(W));
      break;
    }
    default: {
      const int k = Shr10(int64_t(1024 - s) * H);
      for (int y = 0; y < k; ++y) std::memcpy(FrameRows[y], StartRows[H - k + y], px(W));
      for (int y = k; y < H; ++y)
        std::memcpy(FrameRows[y], EndRows[Transition == iettMoveDownUp1 ? y - k : y], px(W));
      break;
    }
  }
}

void TIETransitionEffects::PaintRandomPoints(int s) {
  const int W = FrameWidth, H = FrameHeight;
  if (s == 0 || FirstStep) {
    // The rows lie bottom-up in one block: one move from the last row pointer.
    std::memcpy(FrameRows[H - 1], StartRows[H - 1], size_t(AlignedRowLength(W, 24, 32)) * H);
    return;
  }
  const int64_t target = Round(s * double(W) * (s / 180.0) / 1024);
  const int64_t n = target - PreviousCount;
  PreviousCount = static_cast<int>(target);
  for (int y = 0; y < H; ++y) {
    uint8_t* frame = FrameRows[y];
    const uint8_t* end = EndRows[y];
    for (int64_t i = 0; i < n; ++i) {
      const int x = Random(W) * 3;
      frame[x] = end[x], frame[x + 1] = end[x + 1], frame[x + 2] = end[x + 2];
    }
  }
}

void TIETransitionEffects::PaintRandomBoxes(int s) {
  const int W = FrameWidth, H = FrameHeight;
  if (s == 0) {
    FFrameImage->Canvas()->Draw(0, 0, FStartImage.get());
    return;
  }
  const int64_t cells = (int64_t(W) * H) / 64;
  const int64_t target = Round(s * double(cells) * (s / 180.0) / 1024);
  const int64_t n = target - PreviousCount;
  PreviousCount = static_cast<int>(target);
  for (int64_t i = 0; i < n; ++i) {
    const int x = Random(W) & ~7;
    const int y = Random(H) & ~7;
    CopyFrom(FEndImage.get(), x, y, 8, 8);
  }
}

void TIETransitionEffects::PaintCenter(int s) {
  const int W = FrameWidth, H = FrameHeight;
  TCanvas* canvas = FFrameImage->Canvas();
  const bool inward = Transition == iettCenter2 || Transition == iettCenterZoom2;
  const int d = inward ? 1024 - s : s;
  const int x = W / 2 - Shr10(int64_t(d) * (W / 2)), y = H / 2 - Shr10(int64_t(d) * (H / 2));
  const int w = Shr10(int64_t(d) * W), h = Shr10(int64_t(d) * H);
  if (inward) canvas->Draw(0, 0, FEndImage.get());
  else Restart(s);
  switch (Transition) {
    case iettCenter1: CopyFrom(FEndImage.get(), x, y, w, h); break;
    case iettCenter2: CopyFrom(FStartImage.get(), x, y, w, h); break;
    case iettCenterZoom1:
      SetStretchBltMode(canvas->Handle(), HALFTONE);
      StretchFrom(FEndImage.get(), 0, 0, W, H, x, y, w, h);
      break;
    default:
      SetStretchBltMode(canvas->Handle(), HALFTONE);
      StretchFrom(FStartImage.get(), 0, 0, W, H, x, y, w, h);
      break;
  }
}

void TIETransitionEffects::Shade(int left, int top, int right, int bottom, int weight) {
  left = std::max(left, 0), top = std::max(top, 0);
  right = std::min(right, FrameWidth), bottom = std::min(bottom, FrameHeight);
  if (left >= right || top >= bottom) return;
  int c[3];
  BackgroundTriple(BackgroundColor, c);
  for (int y = top; y < bottom; ++y) {
    uint8_t* row = FrameRows[y] + size_t(left) * 3;
    ShadeRow(row, row, right - left, c, weight);
  }
}

void TIETransitionEffects::PaintPageFlip(int s) {
  const int W = FFrameImage->GetWidth(), H = FFrameImage->GetHeight();
  TCanvas* canvas = FFrameImage->Canvas();
  if (s == 0 || FirstStep) {
    CopyFrom(FStartImage.get(), 0, 0, W, H);
    return;
  }
  SetStretchBltMode(canvas->Handle(), HALFTONE);
  canvas->Pen()->SetColor(0);
  canvas->Pen()->SetWidth(1);
  canvas->Pen()->SetStyle(psSolid);
  const int half = W / 2;
  const bool forward = Transition == iettPageFlipEffect || Transition == iettPageFlipEffect2;
  int edge;
  if (forward) {
    CopyFrom(FEndImage.get(), half, 0, half, H);
    if (s > 512) {
      const int a = MulDiv(W, s - 512, 512) / 2;
      CopyFrom(FStartImage.get(), 0, 0, half, H);
      StretchFrom(FEndImage.get(), 0, 0, half, H, half - a, 0, a, H);
      edge = half - a;
    } else {
      const int a = MulDiv(W, 512 - s, 1024);
      StretchFrom(FStartImage.get(), half, 0, half, H, half, 0, a, H);
      edge = half + a;
    }
  } else {
    CopyFrom(FEndImage.get(), 0, 0, half, H);
    if (s > 512) {
      const int a = MulDiv(W, s - 512, 512) / 2;
      CopyFrom(FStartImage.get(), half, 0, half, H);
      StretchFrom(FEndImage.get(), half, 0, half, H, half, 0, a, H);
      edge = half + a;
    } else {
      const int b = MulDiv(W, s, 1024);
      StretchFrom(FStartImage.get(), 0, 0, half, H, b, 0, half - b, H);
      edge = b;
    }
  }
  // Shade one side of the edge: beyond it for the forward flip, before it for
  // the reverse one.
  const int w = s >= 512 ? 1536 - s : s + 512;
  // Beyond the edge lies x < edge from the half way on, x > edge before.
  const bool late = s >= 512;
  if (forward) {
    if (late) Shade(0, 0, edge, H, w);
    else Shade(edge + 1, 0, W, H, w);
  } else {
    if (late) Shade(edge, 0, W, H, w);
    else Shade(0, 0, edge + 1, H, w);
  }
  canvas->MoveTo(edge, 0);
  canvas->LineTo(edge, H);
}

void TIETransitionEffects::PaintCubeRotation(int s) {
  const int W = FFrameImage->GetWidth(), H = FFrameImage->GetHeight();
  TCanvas* canvas = FFrameImage->Canvas();
  SetStretchBltMode(canvas->Handle(), HALFTONE);
  const int E = W < H ? MulDiv(MulDiv(H, s, 1024), W, H) : MulDiv(W, s, 1024);
  const int F = W < H ? MulDiv(H, s, 1024) : MulDiv(MulDiv(W, s, 1024), H, W);
  const int wIn = std::min<int>(1024, static_cast<int>(Round(s + 770.0 / 3)));
  const int wOut = std::min<int>(1024, static_cast<int>(Round(1024 - s + 770.0 / 3)));
  TBitmap* first;
  TBitmap* second;
  int e;
  const bool columns = Transition == iettCubeRotateFromLeft || Transition == iettCubeRotateFromRight;
  const bool endFirst = Transition == iettCubeRotateFromLeft || Transition == iettCubeRotateFromTop;
  first = endFirst ? FEndImage.get() : FStartImage.get();
  second = endFirst ? FStartImage.get() : FEndImage.get();
  switch (Transition) {
    case iettCubeRotateFromLeft: e = E; break;
    case iettCubeRotateFromRight: e = W - E; break;
    case iettCubeRotateFromTop: e = F; break;
    default: e = H - F; break;
  }
  const int wFirst = endFirst ? wIn : wOut, wSecond = endFirst ? wOut : wIn;
  if (columns) {
    StretchFrom(first, 0, 0, W, H, 0, 0, e, H);
    StretchFrom(second, 0, 0, W, H, e, 0, W - e, H);
    Shade(0, 0, e, H, wFirst);
    Shade(e, 0, W, H, wSecond);
  } else {
    StretchFrom(first, 0, 0, W, H, 0, 0, W, e);
    StretchFrom(second, 0, 0, W, H, 0, e, W, H - e);
    Shade(0, 0, W, e, wFirst);
    Shade(0, e, W, H, wSecond);
  }
}

void TIETransitionEffects::PaintSoftWipe(int s) {
  const int W = FrameWidth, H = FrameHeight;
  const bool columns = Transition == iettSoftWipeFromLeft || Transition == iettSoftWipeFromRight;
  const bool forward = Transition == iettSoftWipeFromLeft || Transition == iettSoftWipeFromTop;
  const int size = columns ? W : H;
  const int soft = size / 8;
  const int edge = MulDiv(size + soft, forward ? s : 1024 - s, 1024);
  // The weight of the end picture (start picture for the backward wipes) at
  // each column or row. Under 8 pixels the soft edge has no width: the edge
  // is hard, full weight up to it.
  std::vector<int> weights(static_cast<size_t>(size));
  for (int i = 0; i < size; ++i)
    weights[size_t(i)] = i > edge ? 0 : soft == 0 ? 1024 : std::min(1024, MulDiv(1024, edge - i, soft));
  // The weights fall from 1024 to 0 across the edge: whole runs are copies.
  const int full = int(std::find_if(weights.begin(), weights.end(), [](int w) { return w < 1024; }) - weights.begin());
  const int none = int(std::find(weights.begin(), weights.end(), 0) - weights.begin());
  for (int y = 0; y < H; ++y) {
    const uint8_t* a = forward ? StartRows[y] : EndRows[y];
    const uint8_t* b = forward ? EndRows[y] : StartRows[y];
    uint8_t* out = FrameRows[y];
    if (columns) {
      const int blendEnd = std::max(none, full);
      std::memcpy(out, b, size_t(full) * 3);
      for (int x = full; x < blendEnd; ++x) BlendRow(out + 3 * x, a + 3 * x, b + 3 * x, 1, weights[size_t(x)]);
      std::memcpy(out + size_t(blendEnd) * 3, a + size_t(blendEnd) * 3, size_t(W - blendEnd) * 3);
    } else {
      const int w = weights[size_t(y)];
      if (w == 1024) std::memcpy(out, b, size_t(W) * 3);
      else if (w == 0) std::memcpy(out, a, size_t(W) * 3);
      else BlendRow(out, a, b, W, w);
    }
  }
}

namespace {

// The source rectangle fitted into the frame, its proportions kept, centred.
TRect FitRectCentered(int w, int h, int W, int H) {
  if (w == 0 || h == 0 || W == 0 || H == 0) return TRect{};
  const double scale = double(w) / W > double(h) / H ? double(W) / w : double(H) / h;
  const int dw = static_cast<int>(Round(w * scale)), dh = static_cast<int>(Round(h * scale));
  const int x = static_cast<int>(Trunc(W / 2.0 - dw / 2.0)), y = static_cast<int>(Trunc(H / 2.0 - dh / 2.0));
  return TRect{x, y, x + dw, y + dh};
}

}  // namespace

void TIETransitionEffects::PaintPanZoom(int s) {
  if (!PanZoomSource) return;
  const int W = FrameWidth, H = FrameHeight;
  const int srcW = PanZoomSource->Width(), srcH = PanZoomSource->Height();
  const TRect& a = PanZoomStartRect;
  const TRect& b = PanZoomEndRect;
  auto lerp = [s](int from, int to) {
    const double f = (from - to) / 1024.0;
    return static_cast<int>(Trunc(from - s * f));
  };
  int left = lerp(a.left, b.left), top = lerp(a.top, b.top);
  const int right = lerp(a.right, b.right), bottom = lerp(a.bottom, b.bottom);
  int w = right - left, h = bottom - top;
  // An inverted or empty rectangle shows nothing new.
  if (w <= 0 || h <= 0 || srcW <= 0 || srcH <= 0) return;
  bool clamped = false;
  if (left < 0) left = 0, clamped = true;
  if (srcW < w) w = srcW, clamped = true;
  if (srcW < left + w) left = srcW - w, clamped = true;
  // The height is clamped before the top, as the width before the left edge:
  // the other way round a rectangle higher than the source gets a top below 0.
  if (top < 0) top = 0, clamped = true;
  if (srcH < h) h = srcH, clamped = true;
  if (srcH < top + h) top = srcH - h, clamped = true;

  TRect dest{0, 0, W, H};
  TCanvas* canvas = FFrameImage->Canvas();
  if (clamped) {
    dest = FitRectCentered(w, h, W, H);
    if (auto* view = dynamic_cast<TImageLibView*>(FView)) {
      view->PaintBackgroundTo(canvas, W, H);
    } else {
      canvas->Brush()->SetColor(BackgroundColor);
      canvas->FillRect(TRect{0, 0, W, H});
    }
  }
  int* bounds = PanZoomBounds;  // least/greatest left, top, bottom, right
  if (s == 0 || FirstStep || bounds[0] == 0 || bounds[7] == 0 || clamped) {
    bounds[0] = bounds[1] = left;
    bounds[2] = bounds[3] = top;
    bounds[4] = bounds[5] = top + h;
    bounds[6] = bounds[7] = left + w;
  }
  // Each edge only moves the way the transition moves it.
  auto steady = [](int value, int from, int to, int least, int greatest) {
    return from > to ? std::min(value, least) : std::max(value, greatest);
  };
  left = steady(left, a.left, b.left, bounds[0], bounds[1]);
  top = steady(top, a.top, b.top, bounds[2], bounds[3]);
  int r = steady(w + left, a.right, b.right, bounds[6], bounds[7]);
  int btm = steady(h + top, a.bottom, b.bottom, bounds[4], bounds[5]);
  // The smoothing must not carry the rectangle off the source.
  left = std::clamp(left, 0, srcW - 1), top = std::clamp(top, 0, srcH - 1);
  r = std::clamp(r, left + 1, srcW), btm = std::clamp(btm, top + 1, srcH);
  if (dest.right > dest.left && dest.bottom > dest.top)
    PanZoomSource->RenderToTBitmap(*FFrameImage, dest.left, dest.top, dest.right - dest.left, dest.bottom - dest.top,
                                   left, top, r - left, btm - top, IEPanZoomFilter, 255);
  bounds[0] = std::min(bounds[0], left), bounds[1] = std::max(bounds[1], left);
  bounds[2] = std::min(bounds[2], top), bounds[3] = std::max(bounds[3], top);
  bounds[4] = std::min(bounds[4], btm), bounds[5] = std::max(bounds[5], btm);
  bounds[6] = std::min(bounds[6], r), bounds[7] = std::max(bounds[7], r);
}
