// Painting of the image view: the back buffer is composed from the background
// and the layers only when something changed, then copied to the window; the
// selection outline, the grips and the hint box go over the copy.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "imaging/core/ie_canvas.h"
#include "platform/rtl/exceptions.h"
#include "imaging/core/ie_pixel_convert.h"
#include "imaging/core/ie_proc_blur.h"
#include "imaging/views/image_view.h"
#include "imaging/core/ie_render.h"
#include "platform/graphics/gdi.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/rtl/rounding.h"
#include "platform/win/system_info.h"

namespace {

int R(double v) { return static_cast<int>(Round(v)); }

TRGB RGBOf(TColor color) {
  const TColor c = ColorToRGB(color);
  return MakeRGB(uint8_t(c & 0xFF), uint8_t((c >> 8) & 0xFF), uint8_t((c >> 16) & 0xFF));
}

// The columns of row y that an area's painting leaves to the picture: the
// part of [x1, x2) under keep, as [l, r) (empty when the row misses it).
void KeptColumns(const TRect* keep, int y, int x1, int x2, int& l, int& r) {
  l = r = x2;
  if (!keep || y < keep->top || y >= keep->bottom) return;
  l = std::clamp<int>(keep->left, x1, x2);
  r = std::clamp<int>(keep->right, l, x2);
}

void FillRows(TIEBitmap& dest, int x1, int y1, int x2, int y2, const TRGB& c, const TRect* keep = nullptr) {
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, dest.Width());
  y2 = std::min(y2, dest.Height());
  for (int y = y1; y < y2; ++y) {
    auto* p = reinterpret_cast<TRGB*>(dest.ScanLine(y));
    int l = 0, r = 0;
    KeptColumns(keep, y, x1, x2, l, r);
    std::fill(p + x1, p + l, c);
    std::fill(p + r, p + x2, c);
  }
}

// Squares of size alternate between a and b, counted from the area's corner.
void Chessboard(TIEBitmap& dest, int x1, int y1, int x2, int y2, int size, const TRGB& a, const TRGB& b,
                const TRect* keep = nullptr) {
  size = std::max(size, 1);
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, dest.Width());
  y2 = std::min(y2, dest.Height());
  if (x1 >= x2) return;
  // The two kinds of row, made once and copied: one starting with a square of
  // a, the other with b.
  const size_t width = size_t(x2 - x1);
  std::vector<TRGB> rows(2 * width);
  for (size_t x = 0; x < width; ++x) {
    const bool odd = (x / size_t(size)) & 1;
    rows[x] = odd ? b : a;
    rows[width + x] = odd ? a : b;
  }
  for (int y = y1; y < y2; ++y) {
    const bool rowOdd = ((y - y1) / size) & 1;
    TRGB* d = reinterpret_cast<TRGB*>(dest.ScanLine(y)) + x1;
    const TRGB* s = rows.data() + (rowOdd ? width : 0);
    int l = 0, r = 0;
    KeptColumns(keep, y, x1, x2, l, r);
    std::memcpy(d, s, 3 * size_t(l - x1));
    std::memcpy(d + (r - x1), s + (r - x1), 3 * size_t(x2 - r));
  }
}

// Every channel of the strip's pixels multiplied by exp(-0.1 - t^2 / 6), t = (6 - k) / 2.
void ShadowFactor(TRGB& p, int k) {
  const double t = (6 - k) / 2.0;
  const double f = std::exp(-0.1 - t * t / 6.0);
  p.r = uint8_t(R(p.r * f));
  p.g = uint8_t(R(p.g * f));
  p.b = uint8_t(R(p.b * f));
}

void RightEdgeShadow(TIEBitmap& dest, const TRect& r) {
  for (int k = 0; k < 6; ++k) {
    const int x = r.right + k;
    if (x < 0 || x >= dest.Width()) continue;
    for (int y = r.top + 6; y <= r.bottom - 3 + k; ++y)
      if (y >= 0 && y < dest.Height()) ShadowFactor(reinterpret_cast<TRGB*>(dest.ScanLine(y))[x], k);
  }
}

void BottomEdgeShadow(TIEBitmap& dest, const TRect& r) {
  for (int k = 0; k < 6; ++k) {
    const int y = r.bottom + k;
    if (y < 0 || y >= dest.Height()) continue;
    auto* row = reinterpret_cast<TRGB*>(dest.ScanLine(y));
    for (int x = r.left + 6; x <= r.right - 1 + k; ++x)
      if (x >= 0 && x < dest.Width()) ShadowFactor(row[x], k);
  }
}

// A blurred shadow around the image rectangle: the pixels within 5 of it, outside
// it, darkened by a blurred plane of the rectangle moved 2 pixels down and right.
void SoftShadow(TIEBitmap& dest, const TRect& r) {
  const int iw = r.right - r.left, ih = r.bottom - r.top;
  if (iw < 2 || ih < 2) return;
  TIEBitmap plane(iw + 11, ih + 11, ie8g);
  if (plane.IsEmpty()) return;
  plane.Fill(0);
  plane.FillRect(5, 5, iw + 6, ih + 6, 255);
  GaussianBlurRect(plane, 0, 0, 2.5, ih + 10, iw + 10);
  for (int py = 0; py < ih + 11; ++py) {
    const int y = r.top - 5 + py;
    if (y < 0 || y >= dest.Height()) continue;
    auto* row = reinterpret_cast<TRGB*>(dest.ScanLine(y));
    const uint8_t* shade = plane.ScanLine(py);
    for (int px = 0; px < iw + 11; ++px) {
      const int x = r.left - 5 + px;
      if (x < 0 || x >= dest.Width() || (x >= r.left && x < r.right && y >= r.top && y < r.bottom)) continue;
      const double f = 1.0 - shade[px] / 255.0;
      row[x].r = uint8_t(R(row[x].r * f));
      row[x].g = uint8_t(R(row[x].g * f));
      row[x].b = uint8_t(R(row[x].b * f));
    }
  }
}

}  // namespace

void PaintViewBackground(TIEBitmap& dest, TIEBackgroundStyle style, TColor color, TColor gradientColor,
                         int chessSize, const TRect& imageRect, int width, int height, const TRect* keep) {
  if (width < 0) width = dest.Width();
  if (height < 0) height = dest.Height();
  const TRGB a = RGBOf(color);
  switch (style) {
    case iebsSolid:
      FillRows(dest, 0, 0, width, height, a, keep);
      break;
    case iebsSoftShadow:
      FillRows(dest, 0, 0, width, height, a);
      SoftShadow(dest, imageRect);
      break;
    case iebsHorizontal:
    case iebsVertical:
    case iebsFDiagonal:
    case iebsBDiagonal:
    case iebsCross:
    case iebsDiagCross: {
      static const TBrushStyle brushes[] = {bsSolid, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross,
                                            bsDiagCross};
      TCanvas* canvas = dest.Canvas();
      if (!canvas) break;
      FillRows(dest, 0, 0, width, height, RGBOf(clWhite));
      canvas->Brush()->SetColor(color);
      canvas->Brush()->SetStyle(brushes[style]);
      canvas->FillRect(Rect(0, 0, width, height));
      canvas->Brush()->SetStyle(bsSolid);
      break;
    }
    case iebsChessboard:
      Chessboard(dest, 0, 0, width, height, chessSize, a, RGBOf(TColor(~uint32_t(color))), keep);
      break;
    case iebsDiagonals: {
      FillRows(dest, 0, 0, width, height, a);
      TCanvas* canvas = dest.Canvas();
      if (!canvas) break;
      canvas->Pen()->SetStyle(psSolid);
      canvas->Pen()->SetMode(pmCopy);
      canvas->Pen()->SetWidth(1);
      canvas->Pen()->SetColor(TColor(~uint32_t(ColorToRGB(color)) & 0xFFFFFF));
      canvas->MoveTo(0, 0);
      canvas->LineTo(width, height);
      canvas->MoveTo(width, 0);
      canvas->LineTo(0, height);
      break;
    }
    case iebsCropped: {
      FillRows(dest, 0, 0, width, height, RGBOf(clBtnFace));
      if (imageRect.right - imageRect.left >= 2 && imageRect.bottom - imageRect.top >= 2) {
        TCanvas* canvas = dest.Canvas();
        if (!canvas) break;
        TRect r = imageRect;
        r.left -= GetSystemMetrics(SM_CXEDGE);
        r.top -= GetSystemMetrics(SM_CYEDGE);
        r.right += GetSystemMetrics(SM_CXEDGE);
        r.bottom += GetSystemMetrics(SM_CYEDGE);
        DrawEdge(canvas->Handle(), &r, EDGE_SUNKEN, BF_RECT);
      }
      break;
    }
    case iebsCropShadow:
      FillRows(dest, 0, 0, width, height, a);
      if (imageRect.right - imageRect.left >= 2 && imageRect.bottom - imageRect.top >= 2) {
        RightEdgeShadow(dest, imageRect);
        BottomEdgeShadow(dest, imageRect);
      }
      break;
    case iebsGradient: {
      TCanvas* canvas = dest.Canvas();
      if (!canvas) break;
      const TColor c1 = ColorToRGB(color), c2 = ColorToRGB(gradientColor);
      TRIVERTEX v[2];
      v[0].x = 0;
      v[0].y = 0;
      v[0].Red = COLOR16(GetRValue(COLORREF(c1)) << 8);
      v[0].Green = COLOR16(GetGValue(COLORREF(c1)) << 8);
      v[0].Blue = COLOR16(GetBValue(COLORREF(c1)) << 8);
      v[1].x = width;
      v[1].y = height;
      v[1].Red = COLOR16(GetRValue(COLORREF(c2)) << 8);
      v[1].Green = COLOR16(GetGValue(COLORREF(c2)) << 8);
      v[1].Blue = COLOR16(GetBValue(COLORREF(c2)) << 8);
      GRADIENT_RECT g;
      g.UpperLeft = 0;
      g.LowerRight = 1;
      GradientFill(canvas->Handle(), v, 2, &g, 1, GRADIENT_FILL_RECT_V);
      break;
    }
    case iebsPhotoLike: {
      FillRows(dest, 0, 0, width, height, MakeRGB(0xB0, 0xB0, 0xB0));
      const TRect& r = imageRect;
      const TRGB black = MakeRGB(0, 0, 0);
      FillRows(dest, r.left - 1, r.top - 1, r.right + 1, r.top, black);
      FillRows(dest, r.left - 1, r.bottom, r.right + 1, r.bottom + 1, black);
      FillRows(dest, r.left - 1, r.top, r.left, r.bottom, black);
      FillRows(dest, r.right, r.top, r.right + 1, r.bottom, black);
      Chessboard(dest, r.left, r.top, r.right, r.bottom, chessSize, a, RGBOf(TColor(~uint32_t(color))));
      break;
    }
  }
}

// ---- the back buffer ----

void TImageLibView::EnsureBackBuffer() {
  const int w = std::max(GetViewWidth(), 1), h = std::max(GetViewHeight(), 1);
  if (FBackBuffer->Width() != w || FBackBuffer->Height() != h || FBackBuffer->PixelFormat() != ie24RGB) {
    FBackBuffer->Allocate(w, h, ie24RGB);
    FDirty = true;
  }
}

void TImageLibView::InvalidateRectDirty(const TRect& rect) {
  FDirty = true;
  Invalidate();
}

void TImageLibView::DrawBackground(TCanvas* canvas, int width, int height) {
  if (width < 0) width = GetViewWidth();
  if (height < 0) height = GetViewHeight();
  TIEBitmap work(std::max(width, 1), std::max(height, 1), ie24RGB);
  work.SetLocation(ieTBitmap);
  ::PaintViewBackground(work, FBackgroundStyle, FBackground, FGradientEndColor, FChessSize, TRect{}, width, height);
  if (TCanvas* c = work.Canvas()) BitBlt(canvas->Handle(), 0, 0, width, height, c->Handle(), 0, 0, SRCCOPY);
}

void TImageLibView::PaintBackgroundTo(TCanvas* canvas, int width, int height) {
  if (!canvas) return;
  if (width < 0) width = GetViewWidth();
  if (height < 0) height = GetViewHeight();
  if (width < 1 || height < 1) return;
  TIEBitmap work(width, height, ie24RGB);
  work.SetLocation(ieTBitmap);
  PaintViewBackground(&work, TRect{}, width, height);
  if (TCanvas* c = work.Canvas()) BitBlt(canvas->Handle(), 0, 0, width, height, c->Handle(), 0, 0, SRCCOPY);
}

void TImageLibView::PaintViewBackground(TIEBitmap* dest, const TRect& imageRect, int width, int height,
                                        const TRect* keep) {
  ::PaintViewBackground(*dest, FBackgroundStyle, FBackground, FGradientEndColor, FChessSize, imageRect, width,
                        height, FWallPaper ? nullptr : keep);
  if (!FWallPaper) return;
  TCanvas* canvas = dest->Canvas();
  if (!canvas) return;
  switch (FWallPaperStyle) {
    case iewoNormal: canvas->Draw(0, 0, FWallPaper.get()); break;
    case iewoStretch: canvas->StretchDraw(Rect(0, 0, width, height), FWallPaper.get()); break;
    case iewoTile: {
      const int w = FWallPaper->GetWidth(), h = FWallPaper->GetHeight();
      if (w < 1 || h < 1) break;
      for (int y = 0; y < height; y += h)
        for (int x = 0; x < width; x += w) canvas->Draw(x, y, FWallPaper.get());
      break;
    }
  }
}

void TImageLibView::PaintLayerBackground(TIEBitmap* dest, bool whole, const TRect* clip) {
  bool paintsItsRect = false;
  if (!whole) {
    TIELayer* first = Layer0();
    TIEBitmap* b = first->Bitmap();
    const bool covers = FOffsetX < 1 && FOffsetY < 1 && FScrW >= dest->Width() && FScrH >= dest->Height();
    const bool opaque = !FEnableAlpha || !b->HasAlphaChannel() || b->AlphaChannel()->Full();
    paintsItsRect = opaque && first->Operation == 0 && first->Transparency == 255 && FSrcW > 0 && FSrcH > 0;
    if (covers && paintsItsRect) return;
  }
  const TRect imageRect = Rect(FOffsetX, FOffsetY, FOffsetX + FScrW, FOffsetY + FScrH);
  if (OnDrawBackground) {
    bool handled = false;
    OnDrawBackground(this, dest->Canvas(), clip ? *clip : Rect(0, 0, dest->Width(), dest->Height()), handled);
    if (handled) return;
  }
  // An opaque picture paints every pixel of its rectangle (clipped to what is
  // drawn), so a fitted photo's background need only fill the margins.
  const TRect drawn = Rect(FOffsetX, FOffsetY, FOffsetX + std::min(FScrW, FDrawW), FOffsetY + std::min(FScrH, FDrawH));
  PaintViewBackground(dest, imageRect, dest->Width(), dest->Height(), paintsItsRect ? &drawn : nullptr);
}

void TImageLibView::RenderLayerImage(TIEBitmap& source, TIEBitmap& dest, bool firstSolid, TResampleFilter filter) {
  // The view's own tables are the renderer's maps, so what is painted at a
  // column is what ScreenToBitmapX names there.
  const int w = FScrW, h = FScrH;
  if (w <= 0 || h <= 0 || FSrcW <= 0 || FSrcH <= 0) return;
  const int sx = Snap(FViewX, true), sy = Snap(FViewY, false);
  const int lastX = std::max(source.Width() - 1, 0), lastY = std::max(source.Height() - 1, 0);
  std::vector<int32_t>& columns = FFrameColumns;
  std::vector<int32_t>& rows = FFrameRows;
  columns.resize(static_cast<size_t>(w));
  rows.resize(static_cast<size_t>(h));
  for (int i = 0; i < w; ++i) {
    const size_t k = size_t(sx + i);
    columns[size_t(i)] = k < FTablesX.v2b.size() ? std::min(FTablesX.v2b[k], lastX) : lastX;
  }
  for (int i = 0; i < h; ++i) {
    const size_t k = size_t(sy + i);
    rows[size_t(i)] = k < FTablesY.v2b.size() ? std::min(FTablesY.v2b[k], lastY) : lastY;
  }
  TIELayer* layer = Layer0();
  const RECT clip = Rect(FOffsetX, FOffsetY, FOffsetX + FDrawW, FOffsetY + FDrawH);
  source.RenderToTIEBitmapEx(dest, nullptr, &columns, &rows, &clip, FOffsetX, FOffsetY, w, h, FSrcX, FSrcY, FSrcW,
                             FSrcH, FEnableAlpha, filter == rfNone, uint8_t(std::clamp(layer->Transparency, 0, 255)),
                             filter, true, static_cast<TIEBlendMode>(layer->Operation));
  (void)firstSolid;
}

void TImageLibView::DrawLayers(TIEBitmap* dest, TIEBitmap* destAlpha, bool drawBoxes, bool drawBackground,
                               const TRect* clip) {
  SyncLayers();
  ComputeImageExtent();
  ComputeVisibleArea();
  BuildCoordinateTables();
  if (FIEBitmap->Width() == 0 || FIEBitmap->Height() == 0) {
    if (drawBackground) PaintViewBackground(dest, TRect{}, dest->Width(), dest->Height());
    return;
  }
  if (FIEBitmap->HasAlphaChannel()) {
    TIEBitmap* a = FIEBitmap->AlphaChannel();
    if (a->Width() != FIEBitmap->Width() || a->Height() != FIEBitmap->Height()) return;
  }
  ++FCompositions;
  bool first = true;
  const int count = GetLayersCount();
  // Layer 0 at the origin without size or rotation goes through the view's own
  // tables (so it shows exactly as a picture without layers); positioned
  // layers are placed one by one.
  const auto simple = [&](TIELayer* l) {
    return FLayersExtend || (l->PosX == 0 && l->PosY == 0 && l->Width == 0 && l->Height == 0 && l->Rotate() == 0);
  };
  const RECT full = Rect(0, 0, dest->Width(), dest->Height());
  std::unique_ptr<TIEBitmap> below;  // what lay under a magnifier of source 1
  for (int i = 0; i < count; ++i) {
    TIELayer* layer = FLayers[size_t(i)].get();
    TIEBitmap* b = layer->Bitmap();
    if (!layer->Visible || FScrW == 0 || FScrH == 0 || (b->Width() < 2 && b->Height() < 2)) continue;
    if (first && drawBackground) PaintLayerBackground(dest, false, clip);
    TResampleFilter filter = rfNone;
    if (FDelayedFilterFrames <= 0 && (layer->Width != 0 || layer->Height != 0 || FZoomX != 100 || FZoomY != 100))
      filter = layer->UseResampleFilter ? layer->ResampleFilter : FZoomFilter;
    if (simple(layer) && i == 0) {
      RenderLayerImage(*b, *dest, first && FBackgroundStyle == iebsSolid, filter);
      layer->ScreenRect[0] = FOffsetX;
      layer->ScreenRect[1] = FOffsetY;
      layer->ScreenRect[2] = FOffsetX + FScrW;
      layer->ScreenRect[3] = FOffsetY + FScrH;
      const int32_t drawn[8] = {FOffsetX, FOffsetY, FScrW, FScrH, FSrcX, FSrcY, FSrcW, FSrcH};
      std::copy(drawn, drawn + 8, layer->DrawnRects);
    } else {
      ComposeLayer(*dest, i, true, 0, 0, filter, full);
    }
    DrawLayerOverlay(i, dest, clip);
    if (drawBoxes && layer->DrawOuter && i == FCurrentLayer)
      DimOutside(dest, Rect(layer->ScreenRect[0], layer->ScreenRect[1], layer->ScreenRect[2], layer->ScreenRect[3]), 0);
    if (OnDrawLayer) OnDrawLayer(this, dest, i);
    first = false;
  }
  if (!first && count > 1 && (FLayerClipMode == 2 || FLayerClipMode == 3)) {
    TIELayer* l0 = Layer0();
    DimOutside(dest, Rect(l0->ScreenRect[0], l0->ScreenRect[1], l0->ScreenRect[2], l0->ScreenRect[3]), FLayerClipMode);
  }
  if (first && drawBackground) PaintLayerBackground(dest, true, clip);
  if (drawBoxes) {
    DrawLayerBoxes(dest);
    DrawSelectionFill(dest);
    DrawPixelGrid(dest);
  }
}

void TImageLibView::DrawLayerBoxes(TIEBitmap* dest) {
  TCanvas* canvas = dest->Canvas();
  if (!canvas) return;
  const bool moving = FMouseInteract.Contains(miMoveLayers), resizing = FMouseInteract.Contains(miResizeLayers),
             rotating = FMouseInteract.Contains(miRotateLayers);
  for (int i = 0; i < GetLayersCount(); ++i) {
    TIELayer* l = FLayers[size_t(i)].get();
    if (!l->VisibleBox || !l->Visible) continue;
    const bool current = i == FCurrentLayer;
    if (current ? !(moving || resizing || rotating) : !FShowEveryBox) continue;
    // The box: a dotted inverting outline of the layer's rectangle (or its turned corners).
    canvas->Pen()->SetStyle(psDot);
    canvas->Pen()->SetMode(pmNot);
    canvas->Pen()->SetWidth(1);
    canvas->Brush()->SetStyle(bsClear);
    if (l->Rotate() != 0) {
      canvas->MoveTo(l->Outline[6], l->Outline[7]);
      for (int k = 0; k < 4; ++k) canvas->LineTo(l->Outline[2 * k], l->Outline[2 * k + 1]);
    } else {
      canvas->Rectangle(l->ScreenRect[0], l->ScreenRect[1], l->ScreenRect[2], l->ScreenRect[3]);
    }
    canvas->Pen()->SetStyle(psSolid);
    canvas->Pen()->SetMode(pmCopy);
    canvas->Brush()->SetStyle(bsSolid);
    if (!current) continue;
    const std::array<TRect, 9> grips = LayerGripRects(i);
    canvas->Pen()->SetColor(FGripPen);
    canvas->Brush()->SetColor(FGripBrush);
    if (resizing && !l->Locked)
      for (int g = 0; g < 8; ++g) {
        const TRect& r = grips[size_t(g)];
        if (FGripShape == 0) canvas->Rectangle(r.left, r.top, r.right, r.bottom);
        else canvas->Ellipse(r.left, r.top, r.right, r.bottom);
      }
    if (rotating) canvas->Ellipse(grips[8].left, grips[8].top, grips[8].right, grips[8].bottom);
  }
}

void TImageLibView::DrawPixelGrid(TIEBitmap* dest) {
  if (!FShowPixelGrid) return;
  TIELayer* l = GetLayer(FGridLayer < 0 ? FCurrentLayer : FGridLayer);
  if (!l || !l->Visible || (FZoomX < kPixelGridZoom && FZoomY < kPixelGridZoom)) return;
  TIEBitmap* b = l->Bitmap();
  if (b->Width() <= 1 && b->Height() <= 1) return;
  // Lines between the pixels drawn (inverting, so they show on any picture).
  const int sx = l->DrawnRects[0], sy = l->DrawnRects[1], sw = l->DrawnRects[2], sh = l->DrawnRects[3];
  const int srcW = std::max(l->DrawnRects[6], 1), srcH = std::max(l->DrawnRects[7], 1);
  TCanvas* canvas = dest->Canvas();
  if (!canvas || sw <= 0 || sh <= 0) return;
  canvas->Pen()->SetStyle(psSolid);
  canvas->Pen()->SetMode(pmNot);
  canvas->Pen()->SetWidth(1);
  for (int i = 0; i <= srcW; ++i) {
    const int x = sx + R(double(i) * sw / srcW);
    canvas->MoveTo(x, sy);
    canvas->LineTo(x, sy + sh);
  }
  for (int i = 0; i <= srcH; ++i) {
    const int y = sy + R(double(i) * sh / srcH);
    canvas->MoveTo(sx, y);
    canvas->LineTo(sx + sw, y);
  }
  canvas->Pen()->SetMode(pmCopy);
  if (FHighlightedPixel.x >= 0 && FHighlightedPixel.y >= 0) {
    const int cx = sx + R(double(FHighlightedPixel.x - l->DrawnRects[4]) * sw / srcW);
    const int cy = sy + R(double(FHighlightedPixel.y - l->DrawnRects[5]) * sh / srcH);
    const int cw = R(double(sw) / srcW), ch = R(double(sh) / srcH);
    canvas->Pen()->SetColor(FHighlightColor);
    canvas->Pen()->SetWidth(2);
    canvas->Brush()->SetStyle(bsClear);
    canvas->RoundRect(cx, cy, cx + cw + 1, cy + ch + 1, 5, 5);
    canvas->Brush()->SetStyle(bsSolid);
    canvas->Pen()->SetWidth(1);
  }
}

void TImageLibView::PaintToCanvas(TCanvas* canvas, const TRect& rect) {
  EnsureBackBuffer();
  if (FDirty) {
    DrawLayers(FBackBuffer.get(), nullptr, true, true, &rect);
    if (OnDrawBackBuffer) OnDrawBackBuffer(this);
    FDirty = false;
  }
  TCanvas* source = FBackBuffer->Canvas();
  if (!source || !canvas) return;
  const int w = std::min<int>(rect.right - rect.left, GetViewWidth());
  const int h = std::min<int>(rect.bottom - rect.top, GetViewHeight());
  if (FIsNavigator && (FNavigatorOptions & 2)) {
    PaintNavigatorFrame(canvas, rect, w, h);
    return;
  }
  BitBlt(canvas->Handle(), rect.left, rect.top, w, h, source->Handle(), rect.left, rect.top, SRCCOPY);
}

void TImageLibView::PaintNavigatorFrame(TCanvas* canvas, const TRect& rect, int w, int h) {
  // The picture with everything of the image outside the shown part darkened
  // (black at opacity 150), composed on a work copy so the back buffer stays clean.
  const int vw = std::max(GetViewWidth(), 1), vh = std::max(GetViewHeight(), 1);
  if (!FNavigatorWork) {
    FNavigatorWork = std::make_unique<TIEBitmap>();
    FNavigatorWork->SetLocation(ieTBitmap);
  }
  if (FNavigatorWork->Width() != vw || FNavigatorWork->Height() != vh) FNavigatorWork->Allocate(vw, vh, ie24RGB);
  TIEBitmap& work = *FNavigatorWork;
  for (int y = std::max<int>(rect.top, 0); y < std::min<int>(rect.top + h, vh); ++y)
    std::memcpy(work.ScanLine(y) + 3 * int64_t(rect.left), FBackBuffer->ScanLine(y) + 3 * int64_t(rect.left),
                3 * size_t(std::max(0, std::min(w, vw - int(rect.left)))));
  // The shown part: the navigator's selection on screen (its outline's rectangle).
  TRect keep{};
  if (FSelected) {
    int l = 0, t = 0, r = 0, b = 0;
    SelectedRect(l, t, r, b);
    keep = Rect(BitmapToScreenX(l), BitmapToScreenY(t), BitmapToScreenX(r + 1) - 1, BitmapToScreenY(b + 1) - 1);
  }
  TIELayer* layer = CurrentLayerRecord();
  if (layer && keep.right > keep.left && keep.bottom > keep.top) {
    const int x1 = std::max(layer->ScreenRect[0], 0), y1 = std::max(layer->ScreenRect[1], 0);
    const int x2 = std::min(layer->ScreenRect[2], vw), y2 = std::min(layer->ScreenRect[3], vh);
    for (int y = y1; y < y2; ++y) {
      TRGB* row = reinterpret_cast<TRGB*>(work.ScanLine(y));
      const bool rowInside = y >= keep.top && y <= keep.bottom;
      for (int x = x1; x < x2; ++x) {
        if (rowInside && x >= keep.left && x <= keep.right) continue;
        row[x].r = uint8_t(row[x].r * 105 / 255);
        row[x].g = uint8_t(row[x].g * 105 / 255);
        row[x].b = uint8_t(row[x].b * 105 / 255);
      }
    }
  }
  if (TCanvas* source = work.Canvas())
    BitBlt(canvas->Handle(), rect.left, rect.top, w, h, source->Handle(), rect.left, rect.top, SRCCOPY);
}

void TImageLibView::Paint() {
  if (!HandleAllocated()) return;
  const int vw = GetViewWidth(), vh = GetViewHeight();
  if (!HasParentWindow() || vw <= 0 || vh <= 0) return;
  TCanvas* canvas = Canvas();
  try {
    if (FPaintLock == 0) {
      TRect rect = Rect(0, 0, vw, vh);
      if (!FWholeDirty) {
        const TRect clip = canvas->ClipRect();
        if (clip.right != 0 && clip.bottom != 0) rect = clip;
      }
      PaintToCanvas(canvas, rect);
      if (OnDrawCanvas) OnDrawCanvas(this, canvas, Rect(0, 0, vw, vh));
    }
    FWholeDirty = false;
    if (!(FMoveIndex == 0 && FPolygon.IsRectangle())) DrawSelectionOutline(canvas);
    if (OnPaint) OnPaint(this);
  } catch (const std::bad_alloc&) {
    // A picture too large to compose this time leaves the window as it was;
    // anything else is a fault and is not hidden here.
  } catch (const Exception&) {
  }
  if (FDrawVersion) {
    canvas->Brush()->SetStyle(bsClear);
    canvas->Font()->SetColor(clBlack);
    canvas->TextOut(2, vh - canvas->TextHeight("4") - 2, "ImageLib " + GetImageLibVersion());
    canvas->Brush()->SetStyle(bsSolid);
  }
  if (!FHintText.empty() && FEnableHints) {
    int x = FHintX, y = FHintY;
    // Painting never raises: a device context GDI+ refuses leaves the hint out.
    try {
      DrawHintBox(canvas, x, y, FHintTemplate, FHintText);
    } catch (const Exception&) {
    }
  }
  StartOutlineTimer();
}

void TImageLibView::SetBackgroundStyle(TIEBackgroundStyle value) {
  FBackgroundStyle = value;
  Invalidate();
  FUpdateReason = 4;
  Update();
}

void TImageLibView::SetChessboardStyle(int size, TBrushStyle brushStyle) {
  FChessSize = std::max(size, 1);
  FChessBrush = brushStyle;
  FUpdateReason = 4;
  Update();
}

void TImageLibView::SetGradientEndColor(TColor value) {
  FGradientEndColor = value;
  FUpdateReason = 4;
  Update();
}

void TImageLibView::SetWallPaper(TGraphic* picture) {
  if (!picture) {
    FWallPaper.reset();
  } else {
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->Assign(picture);
    FWallPaper = std::move(bitmap);
  }
  FUpdateReason = 4;
  Update();
}

void TImageLibView::SetWallPaperStyle(TIEWallpaperStyle value) {
  FWallPaperStyle = value;
  FUpdateReason = 4;
  Update();
}

void TImageLibView::SetDrawVersion(bool value) {
  FDrawVersion = value;
  Invalidate();
}

// ---- text boxes ----

void Draw3DFrameIE(TIECanvas& canvas, int left, int top, TColor rightBottom, TColor leftTop, int bottom,
                   int right) {
  TIEPen* pen = canvas.Pen();
  pen->SetStyle(psSolid);
  pen->SetMode(pmCopy);
  pen->SetWidth(1);
  pen->SetColor(leftTop);
  canvas.MoveTo(left, bottom);
  canvas.LineTo(left, top);
  canvas.LineTo(right, top);
  pen->SetColor(rightBottom);
  canvas.MoveTo(left, bottom);
  canvas.LineTo(right, bottom);
  canvas.LineTo(right, top);
}

void TImageLibView::DrawHintBox(TCanvas* canvas, int& x, int& y, const std::string& widthTemplate,
                                const std::string& text) {
  // A light yellow box weighed half over the picture, so what lies under the
  // pointer stays visible; without GDI+ it is filled solid.
  TIECanvas ieCanvas(canvas, true, false);
  TFont* font = ieCanvas.GetFont();
  font->SetName("Arial");
  font->SetSize(9);
  font->SetColor(clBlack);
  ieCanvas.Brush()->SetColor(0x60FFFF);
  ieCanvas.Brush()->SetStyle(bsSolid);
  ieCanvas.Brush()->SetTransparency(128);
  const int w = std::max(ieCanvas.TextWidth(text), ieCanvas.TextWidth(widthTemplate)) + 12;
  const int h = ieCanvas.TextHeight(text) + 12;
  if (x < 0) x = 0;
  if (y < 0) y = 0;
  ieCanvas.FillRect(Rect(x + 6, y + 6, x + w, y + h));
  Draw3DFrameIE(ieCanvas, x + 6, y + 6, 0x808080, clWhite, y + h - 1, x + w - 1);
  canvas->Brush()->SetStyle(bsClear);
  ieCanvas.TextOut(x + 9, y + 9, text);
  canvas->Brush()->SetStyle(bsSolid);
}
