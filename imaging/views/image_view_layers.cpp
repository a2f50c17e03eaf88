// The layers of the image view beyond layer 0: the list operations, composing
// positioned, sized, rotated, masked and cropped layers, the conversions and
// grips used by the mouse, and baking sizes and rotations into the pixels.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "imaging/core/ie_canvas.h"
#include "imaging/core/ie_proc.h"
#include "imaging/core/ie_resample.h"
#include "imaging/core/ie_utils.h"
#include "imaging/views/image_view.h"
#include "platform/graphics/gdi.h"
#include "platform/rtl/rounding.h"

namespace {

int R(double v) { return static_cast<int>(Round(v)); }

// The largest side LayersDrawTo makes: beyond it positions far apart would ask
// for a bitmap no machine holds.
constexpr int64_t kMaxComposedSide = 65535;
constexpr int64_t kMaxComposedPixels = int64_t(1) << 30;

uint8_t GreyOf(TIEBitmap& b, int x, int y) {
  switch (b.PixelFormat()) {
    case ie8g: return b.GetPixel8(x, y);
    case ie1g: return (b.ScanLine(y)[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
    default: {
      const TRGB p = b.GetPixelAsRGB(x, y);
      return uint8_t((21 * p.r + 71 * p.g + 8 * p.b) / 100);
    }
  }
}

}  // namespace

// ---- the list ----

void TImageLibView::MakeCurrentAfterRemoval(int index) {
  index = std::clamp(index, 0, GetLayersCount() - 1);
  while (FHonourSelectable && index > 0 && !FLayers[size_t(index)]->Selectable) --index;
  FCurrentLayer = index;
  FIEBitmap = FLayers[size_t(index)]->Bitmap();
}

void TImageLibView::DeleteLayer(int index) {
  const bool wasCurrent = index == FCurrentLayer;
  FLayers.erase(FLayers.begin() + index);
  if (wasCurrent) MakeCurrentAfterRemoval(index);
  else if (index < FCurrentLayer) MakeCurrentAfterRemoval(FCurrentLayer - 1);
}

int TImageLibView::AddLayer() {
  SyncLayers();
  FLayers.push_back(std::make_unique<TIELayer>(this, false, FIEBitmap));
  const int index = GetLayersCount() - 1;
  // The new layer is selectable, so the honour flag cannot step past it.
  SetCurrentLayer(index);
  Clear();
  Update();
  return index;
}

void TImageLibView::RemoveLayer(int index) {
  if (GetLayersCount() < 2 || index < 0 || index >= GetLayersCount()) return;
  SyncLayers();
  if (index + 1 < GetLayersCount() && FLayers[size_t(index) + 1]->IsMask && GetLayersCount() > 2)
    DeleteLayer(index + 1);
  DeleteLayer(index);
  NotifyBitmapChange();
  Update();
}

void TImageLibView::ClearLayers() {
  SyncLayers();
  FCurrentLayer = 0;
  FIEBitmap = Layer0()->Bitmap();
  FLayers.resize(1);
  TIELayer* layer = Layer0();
  layer->Reset();
  layer->VisibleBox = false;
  layer->Locked = true;
  NotifyBitmapChange();
  Clear();
  Update();
}

void TImageLibView::CopyLayerIn(int index, TObject& source) {
  TIELayer* target = GetLayer(index);
  auto* layer = dynamic_cast<TIELayer*>(&source);
  if (!target || !layer) return;
  SyncLayers();
  target->CopyFrom(*layer);
  target->SetRotate(layer->Rotate());
  target->RotationCentreX = layer->RotationCentreX;
  target->RotationCentreY = layer->RotationCentreY;
  target->DropCache();
  Update();
}

void TImageLibView::MakeTransparentLayer(int index, int width, int height) {
  TIELayer* layer = GetLayer(index);
  if (!layer) return;
  layer->Reset();
  TIEBitmap* b = layer->Bitmap();
  if (!b->Allocate(std::max(width, 1), std::max(height, 1), ie24RGB)) return;
  b->Fill(0);
  b->AlphaChannel()->Fill(0);
  b->AlphaChannel()->SetFull(false);
  Update();
}

std::vector<TObject*> TImageLibView::LayerRecords() {
  SyncLayers();
  std::vector<TObject*> out;
  for (auto& l : FLayers) out.push_back(l.get());
  return out;
}

void TImageLibView::TakeReadLayers(const std::vector<TObject*>& layers, bool replace, int width, int height) {
  if (layers.empty()) return;
  auto* first = dynamic_cast<TIELayer*>(layers.front());
  if (!first) return;
  if (replace) ClearLayers();
  int target = replace ? 0 : AddLayer();
  // A first layer away from the corner lies on a clear canvas of the document's size.
  if (first->PosX != 0 || first->PosY != 0) {
    MakeTransparentLayer(target, width, height);
    target = AddLayer();
  }
  CopyLayerIn(target, *first);
  for (size_t i = 1; i < layers.size(); ++i) CopyLayerIn(AddLayer(), *layers[i]);
}

void TImageLibView::SetLayersExtend(bool value) {
  FLayersExtend = value;
  Update();
}

void TImageLibView::SetLayerClipMode(int mode, int amount) {
  FLayerClipMode = std::clamp(mode, 0, 3);
  FLayerClipAmount = std::clamp(amount, 0, 255);
  Update();
}

void TImageLibView::SetShowEveryLayerBox(bool value) {
  FShowEveryBox = value;
  Update();
}

void TImageLibView::SetShowPixelGrid(bool value) {
  FShowPixelGrid = value;
  Update();
}

void TImageLibView::SetHighlightedPixel(int x, int y) {
  FHighlightedPixel = TPoint{x, y};
  Update();
}

// ---- masks ----

TIEBitmap* TImageLibView::PrepareLayerAlpha(int index) {
  TIELayer* layer = GetLayer(index);
  if (!layer || layer->IsMask || layer->Rotate() != 0) return nullptr;
  TIELayer* mask = GetLayer(index + 1);
  const bool byMask = mask && mask->IsMask;
  const bool byClip = !byMask && index > 0 && FLayerClipMode == 1;
  if (!byMask && !byClip) return nullptr;
  if (layer->Cache()) return layer->Cache();
  TIEBitmap* b = layer->Bitmap();
  const int bw = b->Width(), bh = b->Height();
  if (bw < 1 || bh < 1) return nullptr;
  auto alpha = std::make_unique<TIEBitmap>(bw, bh, ie8g);
  // The mask's rectangle in layer-0 pixels: another layer (its bitmap read as
  // grey) or, for clipping, layer 0 itself at 255 with the amount outside.
  TIELayer* m = byMask ? mask : Layer0();
  TIEBitmap* mb = m->Bitmap();
  const int mx = byMask ? m->PosX : Layer0()->PosX, my = byMask ? m->PosY : Layer0()->PosY;
  const int mdw = std::max(m->GetDisplayWidth(), 1), mdh = std::max(m->GetDisplayHeight(), 1);
  const int dw = std::max(layer->GetDisplayWidth(), 1), dh = std::max(layer->GetDisplayHeight(), 1);
  const uint8_t outside = byClip ? uint8_t(FLayerClipAmount) : 0;
  TIEBitmap* own = b->HasAlphaChannel() ? b->AlphaChannel() : nullptr;
  std::vector<int> maskColumn(static_cast<size_t>(bw));
  for (int x = 0; x < bw; ++x) {
    const int64_t vx = layer->PosX + int64_t(x) * dw / bw - mx;
    maskColumn[size_t(x)] = vx < 0 || vx >= mdw ? -1 : int(vx * mb->Width() / mdw);
  }
  for (int y = 0; y < bh; ++y) {
    const int64_t vy = layer->PosY + int64_t(y) * dh / bh - my;
    const int maskRow = vy < 0 || vy >= mdh ? -1 : int(vy * mb->Height() / mdh);
    uint8_t* a = alpha->ScanLine(y);
    const uint8_t* o = own ? own->ScanLine(y) : nullptr;
    for (int x = 0; x < bw; ++x) {
      const int mc = maskColumn[size_t(x)];
      const uint8_t v = (maskRow < 0 || mc < 0) ? outside : (byMask ? GreyOf(*mb, mc, maskRow) : uint8_t(255));
      a[x] = std::min<uint8_t>(o ? o[x] : 255, v);
    }
  }
  alpha->SetFull(false);
  layer->CacheSlot() = std::move(alpha);
  return layer->Cache();
}

// ---- composing ----

// One layer into dest: toScreen maps layer-0 pixels through the view's zoom and
// scroll, else pixel (x, y) of layer 0 lands at (originX + x, originY + y).
void TImageLibView::ComposeLayer(TIEBitmap& dest, int index, bool toScreen, int originX, int originY,
                                 TResampleFilter filter, const RECT& clip) {
  TIELayer* layer = FLayers[size_t(index)].get();
  TIEBitmap* b = layer->Bitmap();
  const auto mapX = [&](int64_t bx) -> int {
    return toScreen ? BitmapToScreenX(int(std::clamp<int64_t>(bx, INT32_MIN / 4, INT32_MAX / 4)))
                    : int(std::clamp<int64_t>(bx + originX, INT32_MIN / 4, INT32_MAX / 4));
  };
  const auto mapY = [&](int64_t by) -> int {
    return toScreen ? BitmapToScreenY(int(std::clamp<int64_t>(by, INT32_MIN / 4, INT32_MAX / 4)))
                    : int(std::clamp<int64_t>(by + originY, INT32_MIN / 4, INT32_MAX / 4));
  };
  int px = layer->PosX, py = layer->PosY;
  int dw = layer->GetDisplayWidth(), dh = layer->GetDisplayHeight();
  if (index > 0 && layer->Magnify.Enabled && layer->Magnify.Rate >= 1 && dw > 0 && dh > 0) {
    FillMagnifier(dest, *layer, mapX(px), mapY(py), mapX(int64_t(px) + dw), mapY(int64_t(py) + dh), filter);
    b = layer->Bitmap();
  }
  std::unique_ptr<TIEBitmap> turned;
  TIEBitmap* source = b;
  if (layer->Rotate() != 0) {
    // Sized, then turned with its alpha; the corners left empty are transparent.
    turned = std::make_unique<TIEBitmap>();
    turned->SetLocation(ieMemory);
    if (!turned->Allocate(std::max(dw, 1), std::max(dh, 1), b->PixelFormat())) return;
    b->CopyPaletteTo(turned.get());
    ResampleIEBitmap(b, turned.get(), filter);
    if (turned->PixelFormat() != ie24RGB) turned->ConvertToPixelFormat(ie24RGB);
    turned->AlphaChannel();
    turned->Rotate(FRotateAntiAlias, FRotateQuality, nullptr, nullptr, 0, layer->Rotate());
    turned->AlphaChannel()->SetFull(false);
    POINT corners[4] = {{0, 0}, {dw, 0}, {dw, dh}, {0, dh}};
    RotatePolygonPoints(corners, 3, R(dw * layer->RotationCentreX), R(dh * layer->RotationCentreY), layer->Rotate());
    int minX = corners[0].x, minY = corners[0].y;
    for (const POINT& p : corners) {
      minX = std::min<int>(minX, p.x);
      minY = std::min<int>(minY, p.y);
    }
    for (int i = 0; i < 4; ++i) {
      layer->Outline[2 * i] = mapX(int64_t(px) + corners[i].x);
      layer->Outline[2 * i + 1] = mapY(int64_t(py) + corners[i].y);
    }
    px += minX;
    py += minY;
    dw = turned->Width();
    dh = turned->Height();
    source = turned.get();
  }
  if (dw < 1 || dh < 1) return;
  int sx = 0, sy = 0, sw = source->Width(), sh = source->Height();
  int64_t bx1 = px, by1 = py, bx2 = int64_t(px) + dw, by2 = int64_t(py) + dh;
  if (layer->Cropped && index > 0) {
    // Only what lies over layer 0 is drawn.
    const int64_t w0 = Layer0()->GetDisplayWidth(), h0 = Layer0()->GetDisplayHeight();
    const int64_t cx1 = std::max<int64_t>(bx1, 0), cy1 = std::max<int64_t>(by1, 0);
    const int64_t cx2 = std::min<int64_t>(bx2, w0), cy2 = std::min<int64_t>(by2, h0);
    if (cx1 >= cx2 || cy1 >= cy2) return;
    sx = int((cx1 - bx1) * sw / dw);
    sy = int((cy1 - by1) * sh / dh);
    const int ex = int((cx2 - bx1) * sw / dw), ey = int((cy2 - by1) * sh / dh);
    sw = std::max(ex - sx, 1);
    sh = std::max(ey - sy, 1);
    bx1 = cx1, by1 = cy1, bx2 = cx2, by2 = cy2;
  }
  const int x1 = mapX(bx1), y1 = mapY(by1), x2 = mapX(bx2), y2 = mapY(by2);
  if (x2 <= x1 || y2 <= y1) return;
  // The mask's alpha stands in for the layer's own while it is drawn.
  std::unique_ptr<TIEBitmap> ownAlpha;
  bool swapped = false;
  if (!turned && PrepareLayerAlpha(index)) {
    ownAlpha = AttachAlphaChannel(*source, std::move(layer->CacheSlot()));
    swapped = true;
  }
  source->RenderToTIEBitmapEx(dest, nullptr, nullptr, nullptr, &clip, x1, y1, x2 - x1, y2 - y1, sx, sy, sw, sh,
                              FEnableAlpha || swapped, false, uint8_t(std::clamp(layer->Transparency, 0, 255)),
                              filter, true, static_cast<TIEBlendMode>(layer->Operation));
  if (swapped) layer->CacheSlot() = AttachAlphaChannel(*source, std::move(ownAlpha));
  layer->ScreenRect[0] = x1;
  layer->ScreenRect[1] = y1;
  layer->ScreenRect[2] = x2;
  layer->ScreenRect[3] = y2;
  const int32_t drawn[8] = {x1, y1, x2 - x1, y2 - y1, sx, sy, sw, sh};
  std::copy(drawn, drawn + 8, layer->DrawnRects);
}

// A magnifier shows, at its display size, the part under its centre made rate
// times larger: from layer 0's pixels (source 0) or from what is already drawn
// below it (source 1). Shape 1 shows it in an ellipse.
void TImageLibView::FillMagnifier(TIEBitmap& dest, TIELayer& layer, int x1, int y1, int x2, int y2,
                                  TResampleFilter filter) {
  const int dw = layer.GetDisplayWidth(), dh = layer.GetDisplayHeight();
  TIEBitmap* b = layer.Bitmap();
  if (!b->Allocate(dw, dh, ie24RGB)) return;
  layer.Width = layer.Height = 0;
  const double rate = layer.Magnify.Rate;
  if (layer.Magnify.Source == 1) {
    const double sw = double(x2 - x1) / rate, sh = double(y2 - y1) / rate;
    const double sx = (x1 + x2) / 2.0 - sw / 2, sy = (y1 + y2) / 2.0 - sh / 2;
    for (int y = 0; y < dh; ++y) {
      TRGB* row = reinterpret_cast<TRGB*>(b->ScanLine(y));
      const int dy = std::clamp(int(sy + (y + 0.5) * sh / dh), 0, dest.Height() - 1);
      const TRGB* src = reinterpret_cast<const TRGB*>(dest.ScanLine(dy));
      for (int x = 0; x < dw; ++x) row[x] = src[std::clamp(int(sx + (x + 0.5) * sw / dw), 0, dest.Width() - 1)];
    }
  } else {
    TIEBitmap* base = Layer0()->Bitmap();
    const double aw = dw / rate, ah = dh / rate;
    const double ax = layer.PosX + dw / 2.0 - aw / 2, ay = layer.PosY + dh / 2.0 - ah / 2;
    b->Fill(0);
    if (ax >= 0 && ay >= 0 && ax + aw <= base->Width() && ay + ah <= base->Height()) {
      const int rx = int(ax), ry = int(ay);
      const int rw = std::max(1, int(std::ceil(aw))), rh = std::max(1, int(std::ceil(ah)));
      TIEBitmap part(std::min(rw, base->Width() - rx), std::min(rh, base->Height() - ry), base->PixelFormat());
      base->CopyPaletteTo(&part);
      base->CopyRectTo(part, rx, ry, part.Width(), part.Height(), 0, 0);
      TIEBitmap sized(dw, dh, ie24RGB);
      ResampleIEBitmap(&part, &sized, filter);
      if (sized.PixelFormat() != ie24RGB) sized.ConvertToPixelFormat(ie24RGB);
      sized.RemoveAlphaChannel(false);
      b->Assign(&sized);
    }
  }
  TIEBitmap* alpha = b->AlphaChannel();
  if (layer.Magnify.Shape == 1) {
    alpha->Fill(0);
    const double cx = dw / 2.0, cy = dh / 2.0;
    for (int y = 0; y < dh; ++y)
      for (int x = 0; x < dw; ++x) {
        const double nx = (x + 0.5 - cx) / cx, ny = (y + 0.5 - cy) / cy;
        if (nx * nx + ny * ny <= 1.0) alpha->SetPixel8(x, y, 255);
      }
    alpha->SetFull(false);
  } else {
    alpha->Fill(255);
    alpha->SetFull(true);
  }
  layer.DropCache();
}

void TImageLibView::DimOutside(TIEBitmap* dest, const TRect& keep, int mode) {
  // Mode 0: the current layer's surroundings dimmed to a grey 97 checker;
  // 2: layer 0's surroundings checkered grey 128; 3: lightened by the amount.
  for (int y = 0; y < dest->Height(); ++y) {
    TRGB* row = reinterpret_cast<TRGB*>(dest->ScanLine(y));
    const bool rowInside = y >= keep.top && y < keep.bottom;
    for (int x = 0; x < dest->Width(); ++x) {
      if (rowInside && x >= keep.left && x < keep.right) continue;
      if (mode == 3) {
        row[x].r = uint8_t(std::min(255, row[x].r + FLayerClipAmount));
        row[x].g = uint8_t(std::min(255, row[x].g + FLayerClipAmount));
        row[x].b = uint8_t(std::min(255, row[x].b + FLayerClipAmount));
      } else if (((x + y) & 1) == 0) {
        const uint8_t g = mode == 2 ? 128 : 97;
        row[x] = MakeRGB(g, g, g);
      }
    }
  }
}

// ---- layers into one picture ----

bool TImageLibView::LayersDrawToChecked(TIEBitmap& dest) {
  SyncLayers();
  TIELayer* first = Layer0();
  int64_t right = int64_t(first->PosX) + first->GetDisplayWidth();
  int64_t bottom = int64_t(first->PosY) + first->GetDisplayHeight();
  int64_t e = 0, f = 0;
  for (auto& l : FLayers) {
    if (l->Cropped) continue;
    right = std::max<int64_t>(right, int64_t(l->PosX) + l->GetDisplayWidth());
    bottom = std::max<int64_t>(bottom, int64_t(l->PosY) + l->GetDisplayHeight());
    e = std::max<int64_t>(e, -int64_t(l->PosX));
    f = std::max<int64_t>(f, -int64_t(l->PosY));
  }
  const int64_t w = right + e, h = bottom + f;
  if (w < 1 || h < 1 || w > kMaxComposedSide || h > kMaxComposedSide || w * h > kMaxComposedPixels) return false;
  if (!dest.Allocate(int(w), int(h), ie24RGB)) return false;
  const TColor bg = ColorToRGB(FBackground);
  dest.Fill(bg);
  dest.AlphaChannel()->Fill(255);
  const RECT clip = {0, 0, int(w), int(h)};
  for (int i = 0; i < GetLayersCount(); ++i) {
    TIELayer* l = FLayers[size_t(i)].get();
    if (!l->Visible || (l->Bitmap()->Width() < 2 && l->Bitmap()->Height() < 2)) continue;
    const TResampleFilter filter =
        (l->Width != 0 || l->Height != 0) ? (l->UseResampleFilter ? l->ResampleFilter : FZoomFilter) : rfNone;
    ComposeLayer(dest, i, false, int(e), int(f), filter, clip);
  }
  // The screen rectangles belong to the view again.
  FDirty = true;
  ComputeVisibleArea();
  BuildCoordinateTables();
  return true;
}

void TImageLibView::LayersDrawTo(TIEBitmap* dest) {
  if (dest) LayersDrawToChecked(*dest);
}

void TImageLibView::FlattenLayers() {
  TIEBitmap flat;
  flat.SetLocation(ieMemory);
  if (!LayersDrawToChecked(flat)) return;
  ClearLayers();
  if (flat.HasAlphaChannel() && flat.AlphaChannel()->CheckFull()) flat.RemoveAlphaChannel(false);
  FIEBitmap->Assign(&flat);
  Update();
}

// ---- hit tests and grips ----

int TImageLibView::LayerAt(int x, int y, bool selectableOnly) {
  for (int i = GetLayersCount() - 1; i >= 0; --i) {
    TIELayer* l = FLayers[size_t(i)].get();
    if (!l->Visible || !IsPointOnLayer(x, y, i)) continue;
    if (selectableOnly && FHonourSelectable && !l->Selectable) continue;
    TIEBitmap* b = l->Bitmap();
    if (!b->HasAlphaChannel() || FSelectionOptions.Contains(iesoSelectTranspLayers)) return i;
    const int lx = std::clamp(l->ScreenToLayerX(x), 0, std::max(b->Width() - 1, 0));
    const int ly = std::clamp(l->ScreenToLayerY(y), 0, std::max(b->Height() - 1, 0));
    if (l->Rotate() != 0 || b->GetAlpha(lx, ly) != 0) return i;
  }
  return -1;
}

bool TImageLibView::IsPointOnLayer(int x, int y, int index) {
  TIELayer* l = GetLayer(index);
  if (!l || !l->Visible) return false;
  if (l->Rotate() != 0) {
    POINT pts[4];
    for (int i = 0; i < 4; ++i) pts[i] = POINT{l->Outline[2 * i], l->Outline[2 * i + 1]};
    return PointInPolygon(x, y, pts, 3);
  }
  return x >= l->ScreenRect[0] && x <= l->ScreenRect[2] && y >= l->ScreenRect[1] && y <= l->ScreenRect[3];
}

std::array<TRect, 9> TImageLibView::LayerGripRects(int index) {
  std::array<TRect, 9> out{};
  TIELayer* l = GetLayer(index);
  if (!l) return out;
  const int s = FLayerGripSize;
  POINT p[9];
  if (l->Rotate() != 0) {
    POINT c[4];
    for (int i = 0; i < 4; ++i) c[i] = POINT{l->Outline[2 * i], l->Outline[2 * i + 1]};
    const auto mid = [](POINT a, POINT b) { return POINT{(a.x + b.x) / 2, (a.y + b.y) / 2}; };
    p[0] = c[0], p[1] = c[1], p[2] = c[2], p[3] = c[3];
    p[4] = mid(c[0], c[3]);
    p[5] = mid(c[1], c[2]);
    p[6] = mid(c[0], c[1]);
    p[7] = mid(c[3], c[2]);
  } else {
    const int x1 = l->ScreenRect[0], y1 = l->ScreenRect[1], x2 = l->ScreenRect[2], y2 = l->ScreenRect[3];
    p[0] = {x1, y1}, p[1] = {x2, y1}, p[2] = {x2, y2}, p[3] = {x1, y2};
    p[4] = {x1, (y1 + y2) / 2}, p[5] = {x2, (y1 + y2) / 2};
    p[6] = {(x1 + x2) / 2, y1}, p[7] = {(x1 + x2) / 2, y2};
  }
  TIEBitmap* b = l->Bitmap();
  p[8] = POINT{l->LayerToScreenX(R(b->Width() * l->RotationCentreX)), l->LayerToScreenY(R(b->Height() * l->RotationCentreY))};
  for (int i = 0; i < 9; ++i) out[size_t(i)] = Rect(p[i].x - s, p[i].y - s, p[i].x + s, p[i].y + s);
  return out;
}

int TImageLibView::LayerGripAt(int x, int y) {
  const std::array<TRect, 9> grips = LayerGripRects(FCurrentLayer);
  for (int i = 0; i < 9; ++i) {
    const TRect& r = grips[size_t(i)];
    if (x >= r.left && x <= r.right && y >= r.top && y <= r.bottom) {
      if (i == 8 && !FMouseInteract.Contains(miRotateLayers)) continue;
      return i + 1;
    }
  }
  return 0;
}

// ---- baking ----

void TImageLibView::ApplyLayerSizes(int index) {
  SyncLayers();
  const int saved = FCurrentLayer;
  for (int i = 0; i < GetLayersCount(); ++i) {
    if (index >= 0 && i != index) continue;
    TIELayer* l = FLayers[size_t(i)].get();
    if (l->Width == 0 && l->Height == 0) continue;
    const int w = l->GetDisplayWidth(), h = l->GetDisplayHeight();
    const TResampleFilter filter = l->UseResampleFilter ? l->ResampleFilter : FZoomFilter;
    TIEBitmap sized;
    sized.SetLocation(ieMemory);
    if (!sized.Allocate(std::max(w, 1), std::max(h, 1), l->Bitmap()->PixelFormat())) continue;
    l->Bitmap()->CopyPaletteTo(&sized);
    ResampleIEBitmap(l->Bitmap(), &sized, filter);
    l->Bitmap()->Assign(&sized);
    l->Width = l->Height = 0;
    l->DropCache();
  }
  MakeCurrentAfterRemoval(saved);
  NotifyBitmapChange();
  Update();
}

void TImageLibView::ApplyLayerRotations(int index) {
  SyncLayers();
  const int saved = FCurrentLayer;
  for (int i = 0; i < GetLayersCount(); ++i) {
    if (index >= 0 && i != index) continue;
    TIELayer* l = FLayers[size_t(i)].get();
    if (l->Rotate() == 0) continue;
    ApplyLayerSizes(i);
    TIEBitmap* b = l->Bitmap();
    const int w = b->Width(), h = b->Height();
    POINT corners[4] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
    RotatePolygonPoints(corners, 3, R(w * l->RotationCentreX), R(h * l->RotationCentreY), l->Rotate());
    int minX = corners[0].x, minY = corners[0].y;
    for (const POINT& p : corners) {
      minX = std::min<int>(minX, p.x);
      minY = std::min<int>(minY, p.y);
    }
    if (b->PixelFormat() != ie24RGB && b->PixelFormat() != ie1g) b->ConvertToPixelFormat(ie24RGB);
    b->AlphaChannel();
    b->Rotate(FRotateAntiAlias, FRotateQuality, nullptr, nullptr, ColorToRGB(FBackground), l->Rotate());
    b->AlphaChannel()->SetFull(false);
    l->Width = l->Height = 0;
    l->SetRotate(0);
    if (i == 0) continue;  // layer 0 keeps its place
    l->PosX += minX;
    l->PosY += minY;
    RECT opaque;
    if (GetOpaqueBounds(*b, opaque) &&
        (opaque.left > 0 || opaque.top > 0 || opaque.right < b->Width() - 1 || opaque.bottom < b->Height() - 1)) {
      const int cw = opaque.right - opaque.left + 1, ch = opaque.bottom - opaque.top + 1;
      TIEBitmap cut(cw, ch, b->PixelFormat());
      b->CopyRectTo(cut, opaque.left, opaque.top, cw, ch, 0, 0);
      b->AlphaChannel()->CopyRectTo(*cut.AlphaChannel(), opaque.left, opaque.top, cw, ch, 0, 0);
      cut.AlphaChannel()->SetFull(false);
      b->Assign(&cut);
      l->PosX += opaque.left;
      l->PosY += opaque.top;
    }
    l->DropCache();
  }
  MakeCurrentAfterRemoval(saved);
  NotifyBitmapChange();
  Update();
}

void TImageLibView::CropLayersTransparentBorder(int index) {
  SyncLayers();
  for (int i = 0; i < GetLayersCount(); ++i) {
    if (index >= 0 && i != index) continue;
    TIEBitmap* b = FLayers[size_t(i)]->Bitmap();
    if (!b->HasAlphaChannel()) continue;
    auto proc = TImageLibProc::CreateForBitmap(b);
    proc->SetAutoUndo(false);
    proc->CropTransparentBorder();
    FLayers[size_t(i)]->DropCache();
  }
  Update();
}
