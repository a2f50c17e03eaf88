// Mouse and keyboard interaction of the image view: the interaction set and
// the rules that keep it consistent, the button and move dispatch for zooming,
// scrolling and selecting, edge and smooth scrolling, cursors and hints.
#include <algorithm>
#include <cmath>

#include "imaging/core/ie_helpers.h"
#include "imaging/views/image_view.h"
#include "platform/rtl/rounding.h"
#include "platform/ui/forms.h"

namespace {

int R(double v) { return static_cast<int>(Round(v)); }

constexpr UINT_PTR kSmoothTimerId = 3;
constexpr UINT_PTR kEdgeTimerId = 4;
constexpr UINT_PTR kPlayTimerId = 1;
constexpr UINT_PTR kOutlineTimerId = 2;

TIEMouseInteract Keep(TIEMouseInteract set, std::initializer_list<TIEMouseInteractItems> items) {
  TIEMouseInteract out;
  for (TIEMouseInteractItems i : items)
    if (set.Contains(i)) out.Include(i);
  for (int i = 11; i < 16; ++i)
    if (set.Contains(TIEMouseInteractItems(i))) out.Include(TIEMouseInteractItems(i));
  return out;
}

}  // namespace

// ---- the interaction set ----

void TImageLibView::SetMouseInteract(TIEMouseInteract value) {
  if (value == FMouseInteract) return;
  const TIEMouseInteract old = FMouseInteract;
  if (FBuildingPolygon && old.Contains(miSelectPolygon)) {
    if (!FPolygon.Points.empty()) FPolygon.Points.pop_back();
    FMask->Clear();
    EndSelect();
    FBuildingPolygon = false;
    Invalidate();
  }
  auto added = [&](TIEMouseInteractItems i) { return value.Contains(i) && !old.Contains(i); };
  TIEMouseInteract result = value;
  if (added(miScroll)) result = Keep(value, {miZoom, miScroll});
  else if (added(miSelect)) result = Keep(value, {miZoom, miSelect});
  else if (added(miSelectPolygon)) result = Keep(value, {miSelectPolygon});
  else if (added(miSelectCircle)) result = Keep(value, {miZoom, miSelectCircle});
  else if (added(miSelectLasso)) result = Keep(value, {miZoom, miSelectLasso});
  else if (added(miSelectZoom)) result = Keep(value, {miZoom, miSelectZoom});
  else if (added(miZoom))
    result = Keep(value, {miZoom, miScroll, miSelect, miSelectCircle, miSelectZoom, miSelectLasso});
  else if (added(miSelectMagicWand)) result = Keep(value, {miSelectMagicWand});
  else if (value.Contains(miRotateLayers)) result = Keep(value, {miMoveLayers, miRotateLayers});
  else if (value.Contains(miResizeLayers)) {
    for (int i = 0; i <= 7; ++i) result.Exclude(TIEMouseInteractItems(i));
    result.Exclude(miRotateLayers);
  } else if (value.Contains(miMoveLayers)) {
    for (int i = 0; i <= 7; ++i) result.Exclude(TIEMouseInteractItems(i));
  }
  // Leaving the rotate mode bakes pending rotations; entering it may crop
  // the layers to what they show.
  if (!result.Contains(miRotateLayers)) {
    bool pending = false;
    for (auto& l : FLayers) pending = pending || l->Rotate() != 0;
    FMouseInteract = result;
    if (pending) ApplyLayerRotations(-1);
  } else if (FCropOnRotate) {
    FMouseInteract = result;
    CropLayersTransparentBorder(-1);
  }
  FMouseInteract = result;
  Update();
}

// ---- cursors and hints ----

void TImageLibView::SetViewCursor(TCursor cursor) {
  if (OnSetCursor) OnSetCursor(this, cursor);
  FDefaultCursor = cursor;
  FShownCursor = cursor;
  TControl::SetCursor(cursor);
}

void TImageLibView::SetTempCursor(TCursor cursor) {
  if (OnSetCursor) OnSetCursor(this, cursor);
  if (!FCreatedWithOwner) return;
  FShownCursor = cursor;
  TControl::SetCursor(cursor);
}

void TImageLibView::SetInteractionHint(const std::string& text, int x, int y, const std::string& widthTemplate) {
  FHintText = text;
  FHintX = x;
  FHintY = y;
  FHintTemplate = widthTemplate;
  Invalidate();
}

double TImageLibView::SnapRotation(double angle) const {
  if (FRotationSnap <= 0) return angle;  // no snapping rather than a division by zero
  return double(Round(angle / FRotationSnap)) * FRotationSnap;
}

void TImageLibView::ShiftMousePoints(int dx, int dy) {
  FRubber.x -= dx;
  FRubber.y -= dy;
  FLastClamped.x -= dx;
  FLastClamped.y -= dy;
  FLastRaw.x -= dx;
  FLastRaw.y -= dy;
}

// ---- scrolling while dragging ----

bool TImageLibView::ScrollableImage() {
  int maxX = 0, maxY = 0;
  GetMaxViewXY(maxX, maxY);
  return maxX > 0 || maxY > 0;
}

bool TImageLibView::AutoScrollWhileDragging() {
  POINT screen{};
  GetCursorPos(&screen);
  const TPoint p = ScreenToClient(screen);
  int dx = 0, dy = 0;
  if (p.x < FOffsetX) dx = p.x - FOffsetX;
  else if (p.x > FOffsetX + FDrawW - 1) dx = p.x - (FOffsetX + FDrawW - 1);
  if (p.y < FOffsetY) dy = p.y - FOffsetY;
  else if (p.y > FOffsetY + FDrawH - 1) dy = p.y - (FOffsetY + FDrawH - 1);
  if (dx == 0 && dy == 0) return false;
  const int oldX = FViewX, oldY = FViewY;
  FAutoScrolling = true;
  SetViewXY(FViewX + dx, FViewY + dy);
  FAutoScrolling = false;
  const int sx = FViewX - oldX, sy = FViewY - oldY;
  if (sx == 0 && sy == 0) return false;
  // The points taken at the press move with the picture.
  FDownRaw.x -= sx;
  FDownRaw.y -= sy;
  FDownClamped.x -= sx;
  FDownClamped.y -= sy;
  FDownImage.x -= sx;
  FDownImage.y -= sy;
  ShiftMousePoints(sx, sy);
  // While the button stays down outside, the picture keeps scrolling.
  if (HandleAllocated()) SetTimer(Handle(), kEdgeTimerId, 30, nullptr);
  return true;
}

void TImageLibView::SmoothScrollTo(int x, int y) {
  if (FSmoothDivisor == 0) {
    SetViewXY(x, y);
    return;
  }
  FSmoothTargetX = x;
  FSmoothTargetY = y;
  if (FSmoothTimer == 0 && HandleAllocated()) {
    FSmoothTimer = SetTimer(Handle(), kSmoothTimerId, 30, nullptr);
    SmoothScrollStep();
  }
}

void TImageLibView::SmoothScrollStep() {
  const int oldX = FViewX, oldY = FViewY;
  SetViewXY(R(FViewX - (FViewX - FSmoothTargetX) / double(FSmoothDivisor)),
            R(FViewY - (FViewY - FSmoothTargetY) / double(FSmoothDivisor)));
  if ((FViewX == oldX && FViewY == oldY) || (GetKeyState(VK_LBUTTON) & 0x8000)) StopSmoothScroll();
}

void TImageLibView::StopSmoothScroll() {
  if (FSmoothTimer == 0) return;
  if (HandleAllocated()) KillTimer(Handle(), kSmoothTimerId);
  FSmoothTimer = 0;
  if (OnFinishSmoothTask) OnFinishSmoothTask(this, 0);
}

void TImageLibView::HandleTimer(TMessage& message) {
  switch (message.WParam) {
    case kOutlineTimerId: OutlineTick(); break;
    case kSmoothTimerId: SmoothScrollStep(); break;
    case kPlayTimerId: PlayTimerFired(); break;
    case kEdgeTimerId:
      KillTimer(Handle(), kEdgeTimerId);
      if (FMouseDown && MouseCapture()) MouseMove(KeyboardShiftState(), FLastRaw.x, FLastRaw.y);
      break;
    default: break;
  }
}

// ---- selections made by the mouse ----

void TImageLibView::FireSelectionChanging() {
  const TIESelectionBase base = FSelectionBase;
  FSelectionBase = FSavedSelectionBase;
  if (OnSelectionChanging) OnSelectionChanging(this);
  FSelectionBase = base;
}

void TImageLibView::FireSelectionChange() {
  const TIESelectionBase base = FSelectionBase;
  FSelectionBase = FSavedSelectionBase;
  if (OnSelectionChange) OnSelectionChange(this);
  FSelectionBase = base;
}

void TImageLibView::RemoveLastSubPolygon(int countAtDown) {
  if (FPolygon.Count() == countAtDown) return;
  auto& pts = FPolygon.Points;
  while (!pts.empty() && pts.back().x != kIEPolygonSeparator) pts.pop_back();
  if (!pts.empty()) pts.pop_back();  // the break before it
}

void TImageLibView::SelectRectFromMouse(int x, int y, TShiftState shift) {
  if (FSelectionOptions.Contains(iesoCanScroll)) AutoScrollWhileDragging();
  int x1 = FDownClamped.x, y1 = FDownClamped.y, x2 = x, y2 = y;
  if (FSelectionAspectRatio == 0) {
    const int hw = R(FFixedWidth * FZoomX / 100.0) / 2, hh = R(FFixedHeight * FZoomY / 100.0) / 2;
    x1 = x - hw;
    y1 = y - hh;
    x2 = x + hw - 1;
    y2 = y + hh - 1;
  }
  const bool constrain = shift.Contains(ssAlt) || FConstrain;
  const bool shiftInside = !FSelectionOptions.Contains(iesoSizeable);
  if (shift.Contains(ssShift) && FAdditiveSelection) {
    RemoveLastSubPolygon(FDownPointCount);
    SelectRect(x1, y1, x2, y2, 1, constrain, shiftInside);
  } else {
    SelectRect(x1, y1, x2, y2, 0, constrain, shiftInside);
  }
  FireSelectionChanging();
}

void TImageLibView::SelectEllipseFromMouse(int x, int y, TShiftState shift) {
  int cx = FDownClamped.x, cy = FDownClamped.y;
  int rx = 0, ry = 0;
  if (FSelectionAspectRatio == 0) {
    cx = x;
    cy = y;
    rx = R(FFixedWidth * FZoomX / 100.0) / 2;
    ry = R(FFixedHeight * FZoomY / 100.0) / 2;
  } else {
    const int dx = std::abs(x - cx), dy = std::abs(y - cy);
    const bool constrain = shift.Contains(ssAlt) || FConstrain;
    if (constrain && FSelectionAspectRatio == -1) rx = ry = std::max(dx, dy);
    else if (FSelectionAspectRatio > 0) {
      rx = std::max(dx, dy);
      ry = R(rx * FSelectionAspectRatio);
    } else {
      rx = dx;
      ry = dy;
    }
  }
  if (shift.Contains(ssShift) && FAdditiveSelection) {
    RemoveLastSubPolygon(FDownPointCount);
    if (FPolygon.Count() > 0) FPolygon.AddBreak();
  } else {
    FPolygon.Clear();
  }
  const int ex = R(rx * 100.0 / FZoomX), ey = R(ry * 100.0 / FZoomY);
  const double bcx = ScreenToBitmapX(cx), bcy = ScreenToBitmapY(cy);
  const int n = std::max(R(std::min(ex, ey) * 2 * M_PI), 50);
  for (int k = 0; k < n; ++k) {
    const double a = 2 * M_PI * k / n;
    const POINT p = ClampToBitmap(R(bcx + std::cos(a) * ex), R(bcy + std::sin(a) * ey));
    FPolygon.Add(p.x, p.y);
  }
  FPolygon.UpdateBox();
  FPolygon.Visible = true;
  FSelected = true;
  Invalidate();
  FireSelectionChanging();
}

int TImageLibView::SelectionMoveHit(int x, int y) {
  if (!FSelected || !FSelectionOptions.Contains(iesoMoveable) || !FPolygon.Visible) return -1;
  const int bx = ScreenToBitmapX(x), by = ScreenToBitmapY(y);
  if (FPolygon.IsRectangle()) {
    FPolygon.UpdateBox();
    return bx >= FPolygon.X1 && bx < FPolygon.X2 && by >= FPolygon.Y1 && by < FPolygon.Y2 ? 0 : -1;
  }
  return FMask->IsPointSelected(bx, by) ? 0 : -1;
}

void TImageLibView::FinishPolygonSelection(bool add, bool dropLast) {
  if (dropLast && !FPolygon.Points.empty()) FPolygon.Points.pop_back();
  if (!add) FMask->Clear();
  EndSelect();
  FBuildingPolygon = false;
  FLasso = false;
  FUpdateReason = 3;
  Update();
  FireSelectionChange();
}

// ---- the mouse ----

void TImageLibView::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  TIEView::MouseDown(button, shift, x, y);
  if (CanFocus()) SetFocus();
  FSavedZoomFilter = FZoomFilter;
  if (button == mbRight && FMouseDown && FDownButton == mbLeft) return;
  // The second press of a double click ends a polygon (DblClick); it adds no point.
  if (shift.Contains(ssDouble) && FMouseInteract.Contains(miSelectPolygon)) return;
  if (button != mbLeft && !(FMouseInteract.Contains(miZoom) ||
                            (button == mbRight && FSelectionOptions.Contains(iesoRightButtonSelectLayers))))
    return;
  if (!FMouseInteract.Contains(miScroll) && FDelayZoomFilter) FZoomFilter = rfNone;
  FSavedSelectionBase = FSelectionBase;
  FSelectionBase = iesbClientArea;
  FMouseDown = true;
  FDownButton = button;
  FMoved = false;
  FChanged = false;
  FDownRaw = Point(x, y);
  FDownClamped = Point(std::clamp(x, FOffsetX, FOffsetX + std::max(FDrawW, 1)),
                       std::clamp(y, FOffsetY, FOffsetY + std::max(FDrawH, 1)));
  FDownImage = Point(std::clamp(x, FOffsetX, FOffsetX + std::max(FDrawW - 1, 0)),
                     std::clamp(y, FOffsetY, FOffsetY + std::max(FDrawH - 1, 0)));
  FLastRaw = FDownRaw;
  FLastClamped = FDownClamped;
  FRubber = FDownRaw;
  FDownViewX = FViewX;
  FDownViewY = FViewY;
  FDownPointCount = FPolygon.Count();
  if (button == mbLeft) {
    if (FMouseInteract.Contains(miSelectPolygon) || FMouseInteract.Contains(miSelectLasso)) {
      if (OnBeforeSelectionChange) OnBeforeSelectionChange(this);
      FMoveIndex = FBuildingPolygon ? -1 : SelectionMoveHit(x, y);
      if (FMoveIndex == -1) {
        int px = FDownClamped.x, py = FDownClamped.y;
        if ((shift.Contains(ssAlt) || FConstrain) && FBuildingPolygon && !FPolygon.Points.empty() &&
            FPolygon.Points.back().x != kIEPolygonSeparator) {
          int ax = BitmapToScreenX(FPolygon.Points.back().x), ay = BitmapToScreenY(FPolygon.Points.back().y);
          SnapLineAngle(ax, ay, px, py);
        }
        if (!FBuildingPolygon) {
          if (shift.Contains(ssShift) && FAdditiveSelection && FPolygon.Count() > 0) FPolygon.AddBreak();
          else if (!FSelectionOptions.Contains(iesoDisableOneClickDeselect)) {
            FPolygon.Clear();
            FMask->Clear();
            FSelected = false;
          }
        }
        AddSelectionPoint(px, py);
        FBuildingPolygon = true;
        FLasso = FMouseInteract.Contains(miSelectLasso);
        FSelected = true;
        FireSelectionChanging();
      }
    } else if (FMouseInteract.Contains(miSelect)) {
      if (OnBeforeSelectionChange) OnBeforeSelectionChange(this);
      FGrip = GripAtPoint(x, y, shift);
      FMoveIndex = FGrip == 0 ? SelectionMoveHit(x, y) : -1;
      if (FGrip == 0 && FMoveIndex == -1) {
        FBuildingRect = true;
        if (FSelectionAspectRatio == 0) SelectRectFromMouse(x, y, shift);
        FireSelectionChanging();
      } else if (FGrip != 0) {
        FPolygon.UpdateBox();
        FGripBox = Rect(FPolygon.X1, FPolygon.Y1, FPolygon.X2 - 1, FPolygon.Y2 - 1);
      }
    } else if (FMouseInteract.Contains(miSelectZoom)) {
      FBuildingRect = true;
      FireSelectionChanging();
      SaveSelection();
    } else if (FMouseInteract.Contains(miSelectCircle)) {
      if (OnBeforeSelectionChange) OnBeforeSelectionChange(this);
      FMoveIndex = SelectionMoveHit(x, y);
      if (FMoveIndex == -1) {
        FBuildingEllipse = true;
        FPolygon.Visible = true;
        if (FSelectionAspectRatio == 0) SelectEllipseFromMouse(x, y, shift);
      }
      FireSelectionChanging();
    } else if (FMouseInteract.Contains(miSelectMagicWand)) {
      if (OnBeforeSelectionChange) OnBeforeSelectionChange(this);
      FMoveIndex = SelectionMoveHit(x, y);
    }
  }
  const bool layerButton =
      button == mbLeft || (button == mbRight && FSelectionOptions.Contains(iesoRightButtonSelectLayers));
  const bool layerMode = FMouseInteract.Contains(miMoveLayers) || FMouseInteract.Contains(miResizeLayers) ||
                         FMouseInteract.Contains(miRotateLayers);
  bool selecting = false;
  for (int i = miSelect; i <= miSelectLasso; ++i) selecting = selecting || FMouseInteract.Contains(TIEMouseInteractItems(i));
  if (layerButton && layerMode && !selecting) LayerMouseDown(x, y, shift);
  if (FMouseInteract.Contains(miScroll) && ScrollableImage()) {
    FDragScrolling = true;
    SetTempCursor(kIECursorHand);
  }
}

void TImageLibView::MouseMove(TShiftState shift, int x, int y) {
  TIEView::MouseMove(shift, x, y);
  const int cx = std::clamp(x, FOffsetX - 1, FOffsetX + FDrawW + 1);
  const int cy = std::clamp(y, FOffsetY - 1, FOffsetY + FDrawH + 1);
  if (FMouseDown && MouseCapture()) {
    if (x != FDownRaw.x || y != FDownRaw.y) FMoved = true;
    const TIESelectionBase base = FSelectionBase;
    FSelectionBase = iesbClientArea;
    if (FMouseInteract.Contains(miScroll) && FDragScrolling) {
      SetViewXY(FDownViewX - R((x - FDownRaw.x) * FScrollDragFactor),
                FDownViewY - R((y - FDownRaw.y) * FScrollDragFactor));
    } else if (FGrip != 0) {
      AutoScrollWhileDragging();
      FGrip = ResizeSelection(FGrip, x, y, shift.Contains(ssAlt) || FConstrain || FSelectionAspectRatio > 0);
      FireSelectionChanging();
    } else if (FMoveIndex < 0) {
      if (FBuildingRect) {
        SelectRectFromMouse(x, y, shift);
      } else if (FBuildingPolygon) {
        AutoScrollWhileDragging();
        AddSelectionPoint(x, y);
        FireSelectionChanging();
      } else if (FBuildingEllipse) {
        SelectEllipseFromMouse(x, y, shift);
      } else {
        LayerMouseMove(x, y, shift);
      }
    } else {
      if (FSelectionOptions.Contains(iesoCanScroll)) AutoScrollWhileDragging();
      const int dx = ScreenToBitmapX(cx) - ScreenToBitmapX(FLastClamped.x);
      const int dy = ScreenToBitmapY(cy) - ScreenToBitmapY(FLastClamped.y);
      MoveSelection(dx, dy, FSelectionOptions.Contains(iesoCutBorders));
      FireSelectionChanging();
    }
    FSelectionBase = base;
  } else {
    UpdateHoverCursor(shift, x, y);
    if (FBuildingPolygon && !FLasso) {
      FRubber = Point(x, y);
      FireSelectionChanging();
    }
  }
  if (FMouseInteract.Contains(miMovingScroll) && !MouseCapture() && (x != FLastRaw.x || y != FLastRaw.y)) {
    int maxX = 0, maxY = 0;
    GetMaxViewXY(maxX, maxY);
    const double px = std::clamp(x, 0, std::max(GetViewWidth() - 1, 0));
    const double py = std::clamp(y, 0, std::max(GetViewHeight() - 1, 0));
    SmoothScrollTo(R((px / GetViewWidth() - 0.02) * 1.05 * maxX), R((py / GetViewHeight() - 0.02) * 1.05 * maxY));
  }
  if (OnMouseInSel && FSelected && FMask->IsPointSelected(ScreenToBitmapX(x), ScreenToBitmapY(y)))
    OnMouseInSel(this);
  FLastRaw = Point(x, y);
  FLastClamped = Point(cx, cy);
}

void TImageLibView::UpdateHoverCursor(TShiftState shift, int x, int y) {
  if (FMouseInteract.Contains(miMoveLayers) || FMouseInteract.Contains(miResizeLayers) ||
      FMouseInteract.Contains(miRotateLayers)) {
    UpdateLayerHoverCursor(x, y);
    return;
  }
  const bool selecting = FMouseInteract.Contains(miSelect) || FMouseInteract.Contains(miSelectPolygon) ||
                         FMouseInteract.Contains(miSelectCircle) || FMouseInteract.Contains(miSelectMagicWand) ||
                         FMouseInteract.Contains(miSelectLasso);
  if (!selecting || (FBuildingPolygon && !FLasso)) return;
  const int grip = GripAtPoint(x, y, shift);
  if (OnMouseInResizingGrip) OnMouseInResizingGrip(this, grip);
  switch (grip) {
    case 1:
    case 3: SetTempCursor(kIECursorMoveNWSE); return;
    case 2:
    case 4: SetTempCursor(kIECursorMoveNESW); return;
    case 5:
    case 6: SetTempCursor(kIECursorMoveWE); return;
    case 7:
    case 8: SetTempCursor(kIECursorMoveNS); return;
    default: break;
  }
  if (SelectionMoveHit(x, y) == 0) SetTempCursor(kIECursorMove);
  else if (shift.Contains(ssShift) && FAdditiveSelection) {
    if (FDefaultCursor == kIECursorCross) SetTempCursor(kIECursorCrossAdd);
    else if (FDefaultCursor == kIECursorCross2) SetTempCursor(kIECursorCross2Add);
    else RestoreCursor();
  } else {
    RestoreCursor();
  }
}

void TImageLibView::ApplyZoomClick(TMouseButton button, int x, int y) {
  static const double up[] = {2, 5, 10, 25, 33, 50, 75, 100};
  static const double down[] = {100, 75, 50, 33, 25, 10, 5, 2};
  double z = FZoomX;
  if (button == mbLeft) {
    if (z >= 100) z += 100;
    else
      for (double v : up)
        if (v > z) {
          z = v;
          break;
        }
    if (OnZoomIn) OnZoomIn(this, z);
  } else if (button == mbRight) {
    if (z >= 200) z -= 100;
    else {
      double next = 2;
      for (double v : down)
        if (v < z) {
          next = v;
          break;
        }
      z = next;
    }
    if (OnZoomOut) OnZoomOut(this, z);
  }
  if (z != FZoomX) ZoomAt(x, y, z, false);
}

void TImageLibView::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  TIEView::MouseUp(button, shift, x, y);
  FHintText.clear();
  if (!FMouseDown) return;
  const bool moved = FMoved || x != FDownRaw.x || y != FDownRaw.y;
  if (FMouseInteract.Contains(miZoom) && !moved && !IsEmptyBitmap()) {
    ApplyZoomClick(button, FDownClamped.x, FDownClamped.y);
    FBuildingPolygon = false;
  }
  if (FMouseInteract.Contains(miScroll) && button == mbLeft && FDragScrolling) {
    SetViewXY(FDownViewX - R((x - FDownRaw.x) * FScrollDragFactor),
              FDownViewY - R((y - FDownRaw.y) * FScrollDragFactor));
    FDragScrolling = false;
    RestoreCursor();
  }
  if (button == mbLeft) {
    const bool addMode = shift.Contains(ssShift) && FAdditiveSelection;
    if (FMouseInteract.Contains(miSelectZoom)) {
      FBuildingRect = false;
      ZoomSelection(true, true);
      RestoreSelection(true, 1);
    } else if (FMouseInteract.Contains(miSelect) || FMouseInteract.Contains(miSelectCircle) ||
               FMouseInteract.Contains(miSelectLasso)) {
      const bool building = FBuildingRect || FBuildingEllipse || FBuildingPolygon;
      if (moved || FGrip != 0 || FMoveIndex >= 0) {
        if (building || FGrip != 0 || FRectMoved) {
          if (!addMode || FGrip != 0 || FRectMoved) FMask->Clear();
          EndSelect();
        }
        FBuildingRect = FBuildingEllipse = FBuildingPolygon = FLasso = false;
        FChanged = true;
        if (FIsNavigator) Invalidate();
        else {
          FUpdateReason = 3;
          Update();
        }
      } else if (FSelected && !FSelectionOptions.Contains(iesoDisableOneClickDeselect)) {
        Deselect();
        FChanged = true;
      } else if (building) {
        FBuildingRect = FBuildingEllipse = FBuildingPolygon = FLasso = false;
        FPolygon.Clear();
        FPolygon.Visible = false;
      }
    } else if (FMouseInteract.Contains(miSelectPolygon)) {
      if (FMoveIndex >= 0) {
        FChanged = true;
        FUpdateReason = 3;
        Update();
      }
    } else if (FMouseInteract.Contains(miSelectMagicWand)) {
      if (FMoveIndex < 0) {
        const TCursor keep = FShownCursor;
        SetTempCursor(crHourGlass);
        MagicWand(x, y, addMode);
        SetTempCursor(keep);
        FChanged = true;
        FUpdateReason = 3;
        Update();
      }
    }
    LayerMouseUp(x, y);
    if (FRectMoved) {
      FMask->Clear();
      EndSelect();
      FRectMoved = false;
    }
    FGrip = 0;
    FMoveIndex = -1;
    FBuildingRect = FBuildingEllipse = false;
    if (FChanged) FireSelectionChange();
  } else if (button == mbRight && FSelectionOptions.Contains(iesoRightButtonTerminatePolySelect) &&
             FBuildingPolygon) {
    FinishPolygonSelection(shift.Contains(ssShift) && FAdditiveSelection, false);
  }
  FMouseDown = false;
  if (HandleAllocated()) KillTimer(Handle(), kEdgeTimerId);
  FZoomFilter = FSavedZoomFilter;
  FSelectionBase = FSavedSelectionBase;
  Invalidate();
}

void TImageLibView::DblClick() {
  TIEView::DblClick();
  if (FBuildingPolygon && !FLasso)
    FinishPolygonSelection(KeyboardShiftState().Contains(ssShift) && FAdditiveSelection, false);
}

// ---- keys ----

void TImageLibView::KeyDown(WORD& key, TShiftState shift) {
  TIEView::KeyDown(key, shift);
  if (shift.Contains(ssShift) && FAdditiveSelection) {
    if (FShownCursor == kIECursorCross) SetTempCursor(kIECursorCrossAdd);
    else if (FShownCursor == kIECursorCross2) SetTempCursor(kIECursorCross2Add);
  }
  if (OnVirtualKey) OnVirtualKey(this, key, 0, true);
}

void TImageLibView::KeyUp(WORD& key, TShiftState shift) {
  TIEView::KeyUp(key, shift);
  if (!shift.Contains(ssShift)) RestoreCursor();
  if (OnVirtualKey) OnVirtualKey(this, key, 0, false);
}

UINT TImageLibView::DialogCode() {
  UINT code = TIEView::DialogCode();
  if (OnSpecialKey) {
    bool handled = false;
    OnSpecialKey(this, 0, KeyboardShiftState(), handled);
    if (handled) code |= DLGC_WANTALLKEYS | DLGC_WANTARROWS;
  }
  return code;
}
