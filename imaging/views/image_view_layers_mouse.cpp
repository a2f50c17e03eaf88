// Moving, resizing and rotating layers with the mouse: picking on press,
// dragging with hints and layer events, and the cursors shown on hover.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "imaging/core/ie_proc.h"
#include "imaging/views/image_view.h"
#include "platform/rtl/rounding.h"

namespace {

int R(double v) { return static_cast<int>(Round(v)); }

constexpr TCursor kRotateLeftAbove = 1814;
constexpr TCursor kRotateLeftBelow = 1811;
constexpr TCursor kRotateRightAbove = 1812;
constexpr TCursor kRotateRightBelow = 1813;

TCursor GripCursor(int grip) {
  switch (grip) {
    case 1:
    case 3: return kIECursorMoveNWSE;
    case 2:
    case 4: return kIECursorMoveNESW;
    case 5:
    case 6: return kIECursorMoveWE;
    case 7:
    case 8: return kIECursorMoveNS;
    default: return 0;
  }
}

TPoint CentreOf(const TRect& r) { return TPoint{(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

}  // namespace

bool TImageLibView::LayerMouseDown(int x, int y, TShiftState shift) {
  FMovingLayer = FRotatingLayer = FMovingCentre = FLayerMoved = false;
  FLayerGrip = 0;
  FLayerUndoSaved = false;
  TIELayer* current = CurrentLayerRecord();
  if (!current) return false;
  if (FMouseInteract.Contains(miResizeLayers)) {
    const int grip = LayerGripAt(x, y);
    if (grip >= 1 && grip <= 8) {
      ApplyLayerRotations(FCurrentLayer);
      current = CurrentLayerRecord();
      FLayerGrip = grip;
      FLayerGripRect = Rect(current->ScreenRect[0], current->ScreenRect[1], current->ScreenRect[2],
                            current->ScreenRect[3]);
      FLayerRatio = current->GetDisplayWidth() > 0
                        ? double(current->GetDisplayHeight()) / current->GetDisplayWidth()
                        : 1.0;
      DoLayerNotify(FCurrentLayer, 7);
      return true;
    }
  }
  if (FMouseInteract.Contains(miRotateLayers)) {
    if (LayerGripAt(x, y) == 9) {
      FMovingCentre = true;
      return true;
    }
    if (!IsPointOnLayer(x, y, FCurrentLayer)) {
      FRotatingLayer = true;
      FRotateAccum = current->Rotate();
      return true;
    }
  }
  const int picked = LayerAt(x, y, true);
  if (picked < 0) return false;
  if (picked != FCurrentLayer) SetCurrentLayer(picked);
  DoLayerNotify(FCurrentLayer, 0);
  DoLayerNotify(FCurrentLayer, 8);
  if (!CurrentLayerRecord()->Locked && FMouseInteract.Contains(miMoveLayers)) {
    FMovingLayer = true;
    SetTempCursor(kIECursorMove);
  }
  return true;
}

void TImageLibView::ResizeLayer(int x, int y, bool constrain) {
  TIELayer* l = CurrentLayerRecord();
  const int grip = FLayerGrip;
  const bool keep = (FLayerAspectMode == 1 && constrain) || FLayerAspectMode == 2 ||
                    (FLayerAspectMode == 3 && grip >= 1 && grip <= 4);
  const double r = FLayerRatio > 0 ? FLayerRatio : 1.0;
  const int x1 = FLayerGripRect.left, y1 = FLayerGripRect.top, x2 = FLayerGripRect.right, y2 = FLayerGripRect.bottom;
  int g = grip;
  if (keep) {
    switch (grip) {
      case 1:
      case 3:
      case 6: y = y1 + R((x - x1) * r); break;
      case 2: y = y1 + R(r * (x2 - x)); break;
      case 4:
      case 5: y = y2 + R(r * (x1 - x)); break;
      case 7:
      case 8: x = x1 + R((y - y1) / r); break;
      default: break;
    }
    if (grip == 5) g = 4;
    else if (grip == 6) g = 3;
    else if (grip == 7) g = 1;
    else if (grip == 8) g = 3;
  }
  const int fx = ScreenToBitmapX(x), fy = ScreenToBitmapY(y);
  const int lastFx = ScreenToBitmapX(FLastRaw.x), lastFy = ScreenToBitmapY(FLastRaw.y);
  int w = l->GetDisplayWidth(), h = l->GetDisplayHeight(), px = l->PosX, py = l->PosY;
  const auto fromLeft = [&] {
    w = std::max(1, px + w - fx);
    if (w > 1) px = fx;
  };
  const auto fromTop = [&] {
    h = std::max(1, py + h - fy);
    if (h > 1) py = fy;
  };
  switch (g) {
    case 1: fromLeft(); fromTop(); break;
    case 2: w = std::max(1, fx - px); fromTop(); break;
    case 3:
      w = std::max(1, fx - ScreenToBitmapX(x1));
      h = std::max(1, fy - ScreenToBitmapY(y1));
      break;
    case 4: fromLeft(); h = std::max(1, fy - ScreenToBitmapY(y1)); break;
    case 5:
      w = std::max(1, w + lastFx - fx);
      px += fx - lastFx;
      break;
    case 6: w = std::max(1, fx - ScreenToBitmapX(x1)); break;
    case 7: fromTop(); break;
    case 8: h = std::max(1, h + fy - lastFy); break;
    default: return;
  }
  if (!keep) FLayerRatio = double(h) / w;
  l->Width = w;
  l->Height = h;
  l->PosX = px;
  l->PosY = py;
  l->DropCache();
}

bool TImageLibView::LayerMouseMove(int x, int y, TShiftState shift) {
  TIELayer* l = CurrentLayerRecord();
  if (!l) return false;
  const auto saveUndoOnce = [&](TIEUndoSource kind) {
    if (FLayerUndoSaved) return;
    FLayerUndoSaved = true;
    if (FProc && FProc->AutoUndo()) FProc->SaveUndo(kind);
  };
  char hint[64];
  if (FMovingLayer) {
    if (l->Locked) return true;
    const int dx = ScreenToBitmapX(x) - ScreenToBitmapX(FLastRaw.x);
    const int dy = ScreenToBitmapY(y) - ScreenToBitmapY(FLastRaw.y);
    if (dx == 0 && dy == 0) return true;
    saveUndoOnce(ieuLayer);
    AutoScrollWhileDragging();
    l->PosX += dx;
    l->PosY += dy;
    FLayerMoved = true;
    std::snprintf(hint, sizeof hint, "X=%d Y=%d", l->PosX, l->PosY);
    SetInteractionHint(hint, x, y, "X=000 Y=000");
    FChangedLayer = FCurrentLayer;
    Update();
    DoLayerNotify(FCurrentLayer, 3);
    return true;
  }
  if (FLayerGrip != 0) {
    if (l->Locked) return true;
    saveUndoOnce(ieuLayer);
    AutoScrollWhileDragging();
    ResizeLayer(x, y, shift.Contains(ssAlt) || FConstrain);
    std::snprintf(hint, sizeof hint, "%d x %d", l->GetDisplayWidth(), l->GetDisplayHeight());
    SetInteractionHint(hint, x, y, "0000 x 0000");
    FChangedLayer = FCurrentLayer;
    Update();
    DoLayerNotify(FCurrentLayer, 4);
    return true;
  }
  if (FMovingCentre) {
    TIEBitmap* b = l->Bitmap();
    if (b->Width() > 0 && b->Height() > 0) {
      l->RotationCentreX = double(l->ScreenToLayerX(x)) / b->Width();
      l->RotationCentreY = double(l->ScreenToLayerY(y)) / b->Height();
    }
    std::snprintf(hint, sizeof hint, "X=%d Y=%d", R(b->Width() * l->RotationCentreX),
                  R(b->Height() * l->RotationCentreY));
    SetInteractionHint(hint, x, y, "X=000 Y=000");
    Update();
    return true;
  }
  if (FRotatingLayer) {
    if (l->Locked) return true;
    saveUndoOnce(ieuLayerAndBitmap);
    const TPoint centre = CentreOf(LayerGripRects(FCurrentLayer)[8]);
    double h = (ScreenToBitmapX(x) - ScreenToBitmapX(FLastRaw.x)) / 4.0;
    double v = (ScreenToBitmapY(y) - ScreenToBitmapY(FLastRaw.y)) / 4.0;
    if (y < centre.y) h = -h;
    if (x > centre.x) v = -v;
    FRotateAccum += h + v;
    l->SetRotate(shift.Contains(ssShift) ? SnapRotation(FRotateAccum) : FRotateAccum);
    std::snprintf(hint, sizeof hint, "%g\xC2\xB0", l->Rotate());
    SetInteractionHint(hint, x, y, "0000\xC2\xB0");
    FChangedLayer = FCurrentLayer;
    Update();
    DoLayerNotify(FCurrentLayer, 5);
    return true;
  }
  return false;
}

void TImageLibView::LayerMouseUp(int x, int y) {
  const bool moved = x != FDownRaw.x || y != FDownRaw.y;
  if (FMovingLayer && FLayerMoved) DoLayerNotify(FCurrentLayer, 1);
  if (FRotatingLayer && moved) DoLayerNotify(FCurrentLayer, 6);
  if (FMouseInteract.Contains(miRotateLayers) && !moved) {
    const int picked = LayerAt(x, y, true);
    if (picked >= 0 && picked != FCurrentLayer) {
      SetCurrentLayer(picked);
      DoLayerNotify(FCurrentLayer, 0);
    }
  }
  if (FLayerGrip != 0 && moved) {
    DoLayerNotify(FCurrentLayer, 2);
    Update();
  }
  if (FMovingLayer) RestoreCursor();
  FMovingLayer = FRotatingLayer = FMovingCentre = FLayerMoved = false;
  FLayerGrip = 0;
}

void TImageLibView::UpdateLayerHoverCursor(int x, int y) {
  TIELayer* current = CurrentLayerRecord();
  if (!current) return;
  if (FMouseInteract.Contains(miRotateLayers)) {
    if (IsPointOnLayer(x, y, FCurrentLayer)) {
      RestoreCursor();
      return;
    }
    const TPoint c = CentreOf(LayerGripRects(FCurrentLayer)[8]);
    const bool left = x < c.x, above = y < c.y;
    SetTempCursor(left ? (above ? kRotateLeftAbove : kRotateLeftBelow)
                       : (above ? kRotateRightAbove : kRotateRightBelow));
    return;
  }
  if (FMouseInteract.Contains(miResizeLayers)) {
    const int grip = LayerGripAt(x, y);
    if (grip >= 1 && grip <= 8 && !current->Locked) {
      SetTempCursor(GripCursor(grip));
      return;
    }
  }
  const int under = LayerAt(x, y, true);
  if (under >= 0 && FMouseInteract.Contains(miMoveLayers) && !FLayers[size_t(under)]->Locked)
    SetTempCursor(kIECursorMove);
  else
    RestoreCursor();
}
