// The selection of the image view: the polygon the user sees and edits, the
// mask it is filled into, moving and resizing, the selection stream and stack,
// copying the selected area, and the outline with its animation.
#include <algorithm>
#include <chrono>
#include <cmath>

#include "imaging/core/ie_helpers.h"
#include "imaging/core/ie_magic_wand.h"
#include "imaging/views/image_view.h"
#include "platform/graphics/gdi.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/rtl/rounding.h"
#include "platform/rtl/streams.h"

namespace {

int R(double v) { return static_cast<int>(Round(v)); }

constexpr UINT_PTR kOutlineTimerId = 2;

}  // namespace

// ---- coordinates ----

void TImageLibView::ToBitmapCoordinates(int& x, int& y) {
  if (FSelectionBase != iesbClientArea) return;
  x = ScreenToBitmapX(x);
  y = ScreenToBitmapY(y);
}

POINT TImageLibView::ClampToBitmap(int x, int y) {
  POINT p;
  p.x = std::clamp(x, 0, std::max(FBmpW, 0));
  p.y = std::clamp(y, 0, std::max(FBmpH, 0));
  return p;
}

// ---- building ----

void TImageLibView::Select(int x1, int y1, int x2, int y2, int op) {
  if (FIsNavigator) LockPaint();
  SelectRect(x1, y1, x2, y2, op, false, false);
  if (op == 0) FMask->Clear();
  EndSelect();
  if (FIsNavigator) UnlockPaintNoRefresh();
  else FDirty = true;
  Invalidate();
}

bool TImageLibView::SelectRect(int x1, int y1, int x2, int y2, int op, bool constrain, bool shiftInside) {
  if (x1 == x2) return false;
  const double ratio = FSelectionAspectRatio;
  const bool derivesY = ratio > 0 || (constrain && ratio == -1);
  // A height that the ratio gives is worked out before giving up on y1 = y2.
  if (y1 == y2 && !derivesY) return false;
  if (FSelectionBase == iesbClientArea) {
    x1 = ScreenToBitmapX(x1);
    y1 = ScreenToBitmapY(y1);
    x2 = ScreenToBitmapX(x2);
    y2 = ScreenToBitmapY(y2);
  }
  const int w = FBmpW, h = FBmpH;
  if (constrain && ratio == -1) y2 = y1 + (x2 - x1);
  if (ratio > 0) {
    y2 = R((x2 - x1) * ratio) + y1;
    if (y2 >= h) x2 = R((h - y1 - 1 + x1 * ratio) / ratio);
    if (y2 < 0) x2 = R((x1 * ratio - y1) / ratio);
  }
  if (shiftInside) {
    if (x1 < 0) {
      x2 -= x1;
      x1 = 0;
    }
    if (x2 >= w) {
      x1 += w - x2 - 1;
      x2 = w - 1;
    }
    if (y1 < 0) {
      y2 -= y1;
      y1 = 0;
    }
    if (y2 >= h) {
      y1 += h - y2 - 1;
      y2 = h - 1;
    }
  }
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  x1 = std::clamp(x1, 0, std::max(w - 1, 0));
  y1 = std::clamp(y1, 0, std::max(h - 1, 0));
  x2 = std::clamp(x2, 0, std::max(w, 0));
  y2 = std::clamp(y2, 0, std::max(h, 0));
  if (x1 == x2 || y1 == y2) return false;
  FSelected = true;
  if (op == 1 && FPolygon.Count() > 0) FPolygon.AddBreak();
  else FPolygon.Clear();
  if (op == 0) FMask->Clear();
  FPolygon.Add(x1, y1);
  FPolygon.Add(x2, y1);
  FPolygon.Add(x2, y2);
  FPolygon.Add(x1, y2);
  FPolygon.UpdateBox();
  FPolygon.Visible = true;
  Invalidate();
  return true;
}

void TImageLibView::AddSelectionPoint(int x, int y) {
  ToBitmapCoordinates(x, y);
  const POINT p = ClampToBitmap(x, y);
  FPolygon.Add(p.x, p.y);
  FPolygon.UpdateBox();
  FPolygon.Visible = true;
  FDirty = true;
  if (FPaintLock == 0) Invalidate();
}

void TImageLibView::EndSelect() {
  if (FMask->Width() != FBmpW || FMask->Height() != FBmpH) FMask->Allocate(FBmpW, FBmpH, FMaskDepth);
  if (FPolygon.Count() > 0) FMask->FillPolygons(FMaskFill, FPolygon.Points.data(), FPolygon.Count());
  if (FMask->IsEmpty()) {
    FSelected = false;
    FPolygon.Clear();
    FPolygon.Visible = false;
  } else {
    FSelected = true;
  }
}

void TImageLibView::Deselect() {
  if (FSelected) {
    FSelected = false;
    FPolygon.Visible = false;
    Invalidate();
  }
  FPolygon.Clear();
  FMask->Clear();
  FBuildingPolygon = FLasso = FBuildingRect = FBuildingEllipse = false;
  FGrip = 0;
  FMoveIndex = -1;
  FRectMoved = false;
  RestoreCursor();
  FUpdateReason = 3;
  Update();
}

void TImageLibView::MagicWand(int x, int y, bool add) {
  ToBitmapCoordinates(x, y);
  if (x < 0 || y < 0 || x >= FBmpW || y >= FBmpH) return;
  if (FWandMode == 1 || FWandMode == 2) {
    if (!add) {
      FPolygon.Clear();
      FMask->Clear();
    }
    if (FMask->Width() != FBmpW || FMask->Height() != FBmpH) FMask->Allocate(FBmpW, FBmpH, FMaskDepth);
    if (FWandMode == 1) FloodFillToMask(*FIEBitmap, x, y, FMaskFill, *FMask, FWandTolerance, FWandOption);
    else SelectColorToMask(*FIEBitmap, x, y, FMaskFill, *FMask, FWandTolerance);
    FMask->UpdateBoundingBox();
    FSelected = !FMask->IsEmpty();
    FPolygon.Visible = FSelected;
  } else {
    int count = 0;
    std::unique_ptr<POINT[]> contour = TraceMagicWandContour(*FIEBitmap, x, y, count, FWandTolerance, FWandOption);
    if (contour && count > 0) {
      FSelected = true;
      if (add && FPolygon.Count() > 0) FPolygon.AddBreak();
      else {
        FPolygon.Clear();
        FMask->Clear();
      }
      for (int i = 0; i < count; ++i) {
        const POINT p = ClampToBitmap(contour[size_t(i)].x, contour[size_t(i)].y);
        FPolygon.Add(p.x, p.y);
      }
      FPolygon.UpdateBox();
      if (!add) FMask->Clear();
      EndSelect();
      FPolygon.Visible = FSelected;
    }
  }
  FDirty = true;
  Invalidate();
}

// ---- moving and resizing ----

void TImageLibView::MovePolygon(int dx, int dy, bool cutBorders) {
  FPolygon.UpdateBox();
  const int w = FBmpW, h = FBmpH;
  if (!cutBorders) {
    dx = std::clamp(dx, -FPolygon.X1, std::max(w - FPolygon.X2, -FPolygon.X1));
    dy = std::clamp(dy, -FPolygon.Y1, std::max(h - FPolygon.Y2, -FPolygon.Y1));
  } else {
    // Only kept from leaving the picture entirely.
    dx = std::clamp(dx, -FPolygon.X2 + 1, std::max(w - FPolygon.X1 - 1, -FPolygon.X2 + 1));
    dy = std::clamp(dy, -FPolygon.Y2 + 1, std::max(h - FPolygon.Y1 - 1, -FPolygon.Y2 + 1));
  }
  for (POINT& p : FPolygon.Points) {
    if (p.x == kIEPolygonSeparator) continue;
    p = ClampToBitmap(p.x + dx, p.y + dy);
  }
  FPolygon.UpdateBox();
  Invalidate();
}

void TImageLibView::MoveSelection(int dx, int dy, bool cutBorders) {
  if (dx == 0 && dy == 0) return;
  if (FPolygon.IsRectangle()) {
    // The mask is made again from the moved rectangle when the drag ends.
    MovePolygon(dx, dy, cutBorders);
    FMask->Clear();
    FRectMoved = true;
    return;
  }
  FMask->MoveBy(dx, dy, cutBorders);
  MovePolygon(dx, dy, cutBorders);
}

void TImageLibView::MoveSelectionAndEnd(int dx, int dy) {
  MoveSelection(dx, dy, FSelectionOptions.Contains(iesoCutBorders));
  if (FRectMoved) FMask->Clear();
  EndSelect();
  FRectMoved = false;
}

int TImageLibView::GripAtPoint(int x, int y, TShiftState shift) {
  if (!FPolygon.Visible || !FPolygon.Sizeable || !FPolygon.IsRectangle() || FBuildingRect) return 0;
  if (shift.Contains(ssShift)) return 0;
  int sx[4], sy[4];
  for (int i = 0; i < 4; ++i) {
    sx[i] = BitmapToScreenX(FPolygon.Points[size_t(i)].x);
    sy[i] = BitmapToScreenY(FPolygon.Points[size_t(i)].y);
  }
  for (int i = 0; i < 4; ++i)
    if (std::abs(x - sx[i]) <= FGripSize && std::abs(y - sy[i]) <= FGripSize) return i + 1;
  const int left = std::min(sx[0], sx[2]), right = std::max(sx[0], sx[2]);
  const int top = std::min(sy[0], sy[2]), bottom = std::max(sy[0], sy[2]);
  if (DistanceToSegment(x, y, left, top, left, bottom) < 3) return 5;
  if (DistanceToSegment(x, y, right, top, right, bottom) < 3) return 6;
  if (DistanceToSegment(x, y, left, top, right, top) < 3) return 7;
  if (DistanceToSegment(x, y, left, bottom, right, bottom) < 3) return 8;
  return 0;
}

int TImageLibView::ResizeSelection(int grip, int x, int y, bool constrain) {
  if (!FPolygon.IsRectangle()) return grip;
  int bx = ScreenToBitmapX(x), n = ScreenToBitmapY(y);
  const RECT g = FGripBox;  // x1, y1 inclusive; x2, y2 inclusive (the box less one at the far edges)
  const int w = FBmpW, h = FBmpH;
  if (constrain) {
    double q = 0;
    if (FSelectionAspectRatio > 0) q = 1.0 / FSelectionAspectRatio;
    else if (g.bottom - g.top + 1 != 0) q = double(g.right - g.left + 1) / double(g.bottom - g.top + 1);
    if (q != 0) {
      int guard = 0;
      switch (grip) {
        case 1:
        case 5:
          do n = R(g.bottom + 1 + (bx - g.right - 1) / q);
          while (n < 0 && ++bx && ++guard < 100000);
          grip = 1;
          break;
        case 2:
          do n = R(g.bottom + (g.left - bx - 1) / q);
          while (n < 0 && bx-- && ++guard < 100000);
          break;
        case 3:
        case 6:
          n = R(g.top + (bx - g.left + 1) / q - 1);
          grip = 3;
          break;
        case 4:
          do n = R(g.top + 1 + (g.right - bx + 1) / q);
          while (n > h && ++bx && ++guard < 100000);
          break;
        case 7:
          do bx = R(g.right + 1 - q * (g.bottom - n + 1));
          while (bx < 0 && ++n && ++guard < 100000);
          grip = 1;
          break;
        case 8:
          do bx = R(g.left - 1 + q * (n - g.top + 1));
          while (bx > w && n-- && ++guard < 100000);
          grip = 3;
          break;
        default: break;
      }
    }
  }
  if (grip == 2 || grip == 3 || grip == 6) ++bx;
  if (grip == 3 || grip == 4 || grip == 8) ++n;
  FPolygon.UpdateBox();
  int x1 = FPolygon.X1, y1 = FPolygon.Y1, x2 = FPolygon.X2, y2 = FPolygon.Y2;
  if (grip == 2 || grip == 3 || grip == 6) x2 = bx == x1 ? x1 + 1 : bx;
  if (grip == 1 || grip == 4 || grip == 5) x1 = bx == x2 ? x2 - 1 : bx;
  if (grip == 1 || grip == 2 || grip == 7) y1 = n == y2 ? y2 - 1 : n;
  if (grip == 3 || grip == 4 || grip == 8) y2 = n == y1 ? y1 + 1 : n;
  if (x2 < x1) {
    static const int flipX[9] = {0, 2, 1, 4, 3, 6, 5, 7, 8};
    grip = flipX[grip];
  }
  if (y2 < y1) {
    static const int flipY[9] = {0, 4, 3, 2, 1, 5, 6, 8, 7};
    grip = flipY[grip];
  }
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  const POINT a = ClampToBitmap(x1, y1), b = ClampToBitmap(x2, y2);
  FPolygon.Clear();
  FPolygon.Add(a.x, a.y);
  FPolygon.Add(b.x, a.y);
  FPolygon.Add(b.x, b.y);
  FPolygon.Add(a.x, b.y);
  FPolygon.UpdateBox();
  Invalidate();
  return grip;
}

void TImageLibView::SelectedRect(int& left, int& top, int& right, int& bottom) {
  if (FBuildingRect || FBuildingEllipse || FBuildingPolygon || FRectMoved || FGrip != 0 || FMask->IsEmpty()) {
    FPolygon.UpdateBox();
    left = FPolygon.X1;
    top = FPolygon.Y1;
    right = FPolygon.X2 - 1;
    bottom = FPolygon.Y2 - 1;
    return;
  }
  left = FMask->X1();
  top = FMask->Y1();
  right = FMask->X2();
  bottom = FMask->Y2();
}

void TImageLibView::SetSelectionOptions(TIESelectionOptionsSet value) {
  FSelectionOptions = value;
  FPolygon.Animated = value.Contains(iesoAnimated);
  FPolygon.Sizeable = value.Contains(iesoSizeable);
  FUpdateReason = 3;
  Update();
}

void TImageLibView::SetSelectionAspectRatio(double ratio) {
  if (ratio == FSelectionAspectRatio) return;
  FSelectionAspectRatio = ratio;
  if (ratio != 0) FSelectionOptions.Include(iesoSizeable);
  else FSelectionOptions.Exclude(iesoSizeable);
  FPolygon.Sizeable = FSelectionOptions.Contains(iesoSizeable);
}

// ---- copying ----

void TImageLibView::CopySelectionToIEBitmap(TIEBitmap& dest, bool fill) {
  if (FGrip != 0 || FMoveIndex >= 0 || FBuildingRect || FRectMoved) {
    FMask->Clear();
    EndSelect();
  }
  if (fill) CopyMaskedArea(*FIEBitmap, dest, *FMask, ColorToRGB(FBackground));
  else FIEBitmap->CopySelection(dest, *FMask);
}

void TImageLibView::CopySelectionToBitmap(TBitmap& dest) {
  TIEBitmap copy;
  CopySelectionToIEBitmap(copy, true);
  if (copy.IsEmpty()) return;
  if (copy.PixelFormat() != ie1g && copy.PixelFormat() != ie24RGB) copy.ConvertToPixelFormat(ie24RGB);
  copy.CopyToTBitmap(dest);
}

// ---- the selection stream ----

void TImageLibView::SaveSelectionToStream(TStream& stream) {
  stream.WriteValue<int32_t>(FMask->Width());
  stream.WriteValue<int32_t>(FMask->Height());
  stream.WriteValue<int32_t>(FPolygon.Count());
  for (const POINT& p : FPolygon.Points) {
    stream.WriteValue<int32_t>(p.x);
    stream.WriteValue<int32_t>(p.y);
  }
  stream.WriteValue<int32_t>(FPolygon.X1);
  stream.WriteValue<int32_t>(FPolygon.Y1);
  stream.WriteValue<int32_t>(FPolygon.X2);
  stream.WriteValue<int32_t>(FPolygon.Y2);
  stream.WriteValue<uint8_t>(FSelected ? 1 : 0);
  TIELayer* layer = CurrentLayerRecord();
  stream.WriteValue<int32_t>(layer ? layer->PosX : 0);
  stream.WriteValue<int32_t>(layer ? layer->PosY : 0);
  stream.WriteValue<int32_t>(FMask->BitsPerPixel() == 8 ? 8 : 1);
  stream.WriteValue<int32_t>(FMask->X1());
  stream.WriteValue<int32_t>(FMask->Y1());
  stream.WriteValue<int32_t>(FMask->X2());
  stream.WriteValue<int32_t>(FMask->Y2());
  stream.WriteValue<uint8_t>(FMask->Full() ? 1 : 0);
  const int64_t bytes = FMask->RowLen() * FMask->Height();
  if (bytes > 0) stream.WriteBuffer(FMask->Bits(), bytes);
}

namespace {

// Reads a little-endian value when that many bytes are left.
template <class T> bool Take(TStream& s, T& v) {
  if (s.Remaining() < int64_t(sizeof(T))) return false;
  s.ReadBuffer(&v, sizeof(T));
  return true;
}

}  // namespace

bool TImageLibView::LoadSelectionFromStream(TStream& stream, int mode) {
  // Everything is read and checked before anything of the view changes.
  const int64_t start = stream.Position();
  int32_t maskW = 0, maskH = 0, count = 0;
  if (!Take(stream, maskW) || !Take(stream, maskH) || !Take(stream, count) || maskW < 0 || maskH < 0 || count < 0 || int64_t(count) * 8 > stream.Remaining()) {
    stream.SetPosition(start);
    return false;
  }
  std::vector<POINT> points(static_cast<size_t>(count));
  for (POINT& p : points) {
    int32_t x = 0, y = 0;
    Take(stream, x);
    Take(stream, y);
    p.x = x;
    p.y = y;
  }
  int32_t box[4] = {}, layerX = 0, layerY = 0, depth = 0, maskBox[4] = {};
  uint8_t present = 0, full = 0;
  bool ok = Take(stream, box[0]) && Take(stream, box[1]) && Take(stream, box[2]) && Take(stream, box[3]) &&
            Take(stream, present) && Take(stream, layerX) && Take(stream, layerY) && Take(stream, depth) &&
            Take(stream, maskBox[0]) && Take(stream, maskBox[1]) && Take(stream, maskBox[2]) &&
            Take(stream, maskBox[3]) && Take(stream, full);
  if (!ok || (depth != 1 && depth != 8)) {
    stream.SetPosition(start);
    return false;
  }
  auto mask = std::make_unique<TIEMask>();
  mask->Allocate(maskW, maskH, depth);
  const int64_t bytes = mask->RowLen() * int64_t(maskH);
  if (bytes < 0 || bytes > stream.Remaining()) {
    stream.SetPosition(start);
    return false;
  }
  if (bytes > 0) {
    mask->EnsureBits();
    stream.ReadBuffer(mask->Bits(), bytes);
  }
  mask->UpdateBoundingBox();
  mask->CheckFull();
  // Points beyond the stored plane cannot be part of the selection.
  for (POINT& p : points)
    if (p.x != kIEPolygonSeparator) {
      p.x = std::clamp<LONG>(p.x, 0, maskW);
      p.y = std::clamp<LONG>(p.y, 0, maskH);
    }

  LockUpdate();
  FPolygon.Points = std::move(points);
  FPolygon.UpdateBox();
  FMask = std::move(mask);
  const int w = FIEBitmap->Width(), h = FIEBitmap->Height();
  FBmpW = Layer0()->Bitmap()->Width();
  FBmpH = Layer0()->Bitmap()->Height();
  if (mode == 2) {
    TIELayer* layer = CurrentLayerRecord();
    const int64_t moveX = int64_t(layerX) - (layer ? layer->PosX : 0);
    const int64_t moveY = int64_t(layerY) - (layer ? layer->PosY : 0);
    FPolygon.Clear();
    // A layer moved past both planes leaves nothing; otherwise the work plane
    // stays within twice their size.
    const int64_t spanW = int64_t(std::max(w, maskW)), spanH = int64_t(std::max(h, maskH));
    if (std::abs(moveX) >= spanW || std::abs(moveY) >= spanH) {
      FMask->Clear();
    } else if (!FMask->IsEmpty()) {
      int dx = int(moveX), dy = int(moveY);
      FMask->Resize(int(spanW) + std::abs(dx), int(spanH) + std::abs(dy));
      FMask->UpdateBoundingBox();
      FMask->MoveBy(dx, dy, true);
    }
    FMask->Resize(w, h);
    FMask->UpdateBoundingBox();
    FMask->CheckFull();
  } else if (w != maskW || h != maskH) {
    if (FMask->IsEmpty()) {
      FMask->Allocate(w, h, depth);
    } else {
      // A picture that shrank: the selection moves back inside it first.
      if (mode == 1) {
        const int dx = w <= FMask->X2() ? w - FMask->X2() - 1 : 0;
        const int dy = h <= FMask->Y2() ? h - FMask->Y2() - 1 : 0;
        if (dx != 0 || dy != 0) {
          const int keepW = FBmpW, keepH = FBmpH;
          FBmpW = maskW;  // moves happen in the stored plane
          FBmpH = maskH;
          MoveSelectionAndEnd(dx, dy);
          FBmpW = keepW;
          FBmpH = keepH;
        }
      }
      FMask->Resize(w, h);
      FMask->UpdateBoundingBox();
      FMask->CheckFull();
      for (POINT& p : FPolygon.Points)
        if (p.x != kIEPolygonSeparator) p = ClampToBitmap(p.x, p.y);
      FPolygon.UpdateBox();
    }
  }
  if (FMask->IsEmpty()) {
    Deselect();
  } else {
    FSelected = true;
    FPolygon.Visible = true;
  }
  UnlockUpdate();
  return true;
}

void TImageLibView::SaveSelection() {
  auto stream = std::make_unique<TMemoryStream>();
  SaveSelectionToStream(*stream);
  FSelectionStack.push_back(std::move(stream));
}

bool TImageLibView::RestoreSelection(bool pop, int mode) {
  if (FSelectionStack.empty()) return false;
  TMemoryStream* top = FSelectionStack.back().get();
  top->SetPosition(0);
  LoadSelectionFromStream(*top, mode);
  if (pop) FSelectionStack.pop_back();
  return true;
}

// ---- outline ----

void TImageLibView::NoteOutlineDrawTime(int ms) {
  if (FOutlineAutoInterval) FOutlineInterval = std::max(210, 5 * ms);
}

void TImageLibView::StartOutlineTimer() {
  if (!HandleAllocated()) return;
  const bool wanted = FDelayedFilterFrames > 0 || FOutlinePause > 0 ||
                      (FPolygon.Visible && FPolygon.Animated && FSelected);
  if (wanted && (!FOutlineTimerOn || FOutlineTimer == 0)) {
    FOutlineTimer = SetTimer(Handle(), kOutlineTimerId, UINT(FOutlineInterval), nullptr);
    FOutlineTimerOn = true;
  } else if (!wanted && FOutlineTimerOn) {
    KillTimer(Handle(), kOutlineTimerId);
    FOutlineTimerOn = false;
  }
}

void TImageLibView::UpdateOutlineTimer() {
  if (!HandleAllocated()) return;
  if (FOutlineTimerOn) SetTimer(Handle(), kOutlineTimerId, UINT(FOutlineInterval), nullptr);
  StartOutlineTimer();
}

void TImageLibView::OutlineTick() {
  const bool interacting = FBuildingRect || FBuildingEllipse || FBuildingPolygon || FGrip != 0 || FMoveIndex >= 0;
  if (FPolygon.Visible && FPolygon.Animated && !interacting) {
    FPolygon.Phase = FPolygon.Phase >= 9 ? 0 : FPolygon.Phase + 1;
    ++FDashCounter;
  }
  if (FOutlinePause > 0) --FOutlinePause;
  if (FDelayedFilterFrames > 0 && --FDelayedFilterFrames == 0) Update();
  if (FPolygon.Visible) Invalidate();
  UpdateOutlineTimer();
}

void TImageLibView::PlotDash(TCanvas* canvas, int x, int y, int& counter) {
  if (x >= 0 && y >= 0 && x < GetViewWidth() && y < GetViewHeight())
    SetPixelV(canvas->Handle(), x, y, COLORREF(ColorToRGB(counter < 4 ? FPolygon.Color1 : FPolygon.Color2)));
  if (++counter > 7) counter = 0;
}

namespace {

// The pixels of a line from (x0, y0) to (x1, y1), the end included, cut to the
// box so a far-off point costs no time.
template <class F> void WalkLine(int x0, int y0, int x1, int y1, int limitW, int limitH, F plot) {
  const int64_t dx = std::abs(int64_t(x1) - x0), dy = -std::abs(int64_t(y1) - y0);
  const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
  if (std::max(dx, -dy) > 4 * int64_t(limitW + limitH) + 64) return;  // nothing sensible to walk
  int64_t err = dx + dy;
  int64_t x = x0, y = y0;
  for (;;) {
    plot(int(x), int(y));
    if (x == x1 && y == y1) break;
    const int64_t e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y += sy;
    }
  }
}

}  // namespace

void TImageLibView::DrawPolygonDashes(TCanvas* canvas) {
  const int vw = GetViewWidth(), vh = GetViewHeight();
  int counter = FPolygon.Phase;
  auto plot = [&](int x, int y) { PlotDash(canvas, x, y, counter); };
  if (FPolygon.IsRectangle()) {
    const int x1 = BitmapToScreenX(FPolygon.Points[0].x), y1 = BitmapToScreenY(FPolygon.Points[0].y);
    const int x2 = BitmapToScreenX(FPolygon.Points[2].x) - 1, y2 = BitmapToScreenY(FPolygon.Points[2].y) - 1;
    const int l = std::min(x1, x2), r = std::max(x1, x2), t = std::min(y1, y2), b = std::max(y1, y2);
    WalkLine(l, t, r, t, vw, vh, plot);
    if (OnDrawPolygon) OnDrawPolygon(this, 0, 0, canvas, l, t);
    WalkLine(r, t, r, b, vw, vh, plot);
    if (OnDrawPolygon) OnDrawPolygon(this, 0, 1, canvas, r, t);
    WalkLine(r, b, l, b, vw, vh, plot);
    if (OnDrawPolygon) OnDrawPolygon(this, 0, 2, canvas, r, b);
    WalkLine(l, b, l, t, vw, vh, plot);
    if (OnDrawPolygon) OnDrawPolygon(this, 0, 3, canvas, l, b);
    FOutlineRect = Rect(l, t, r, b);
    if (FBuildingRect || FRectMoved) DrawSelectionGrid(canvas, l, t, r, b);
    return;
  }
  const auto& pts = FPolygon.Points;
  size_t first = 0;
  for (size_t i = 0; i < pts.size(); ++i) {
    if (pts[i].x == kIEPolygonSeparator) {
      if (i > first + 1)
        WalkLine(BitmapToScreenX(pts[i - 1].x), BitmapToScreenY(pts[i - 1].y), BitmapToScreenX(pts[first].x),
                 BitmapToScreenY(pts[first].y), vw, vh, plot);
      first = i + 1;
      continue;
    }
    if (i + 1 < pts.size() && pts[i + 1].x != kIEPolygonSeparator) {
      const int x0 = BitmapToScreenX(pts[i].x), y0 = BitmapToScreenY(pts[i].y);
      WalkLine(x0, y0, BitmapToScreenX(pts[i + 1].x), BitmapToScreenY(pts[i + 1].y), vw, vh, plot);
      if (OnDrawPolygon) OnDrawPolygon(this, 0, int(i), canvas, x0, y0);
    }
  }
  if (!FBuildingPolygon && pts.size() > first + 1)
    WalkLine(BitmapToScreenX(pts.back().x), BitmapToScreenY(pts.back().y), BitmapToScreenX(pts[first].x),
             BitmapToScreenY(pts[first].y), vw, vh, plot);
}

void TImageLibView::DrawGrips(TCanvas* canvas) {
  if (!FPolygon.Sizeable || !FPolygon.IsRectangle() || FBuildingRect || FMoveIndex >= 0) return;
  const int x1 = BitmapToScreenX(FPolygon.X1), y1 = BitmapToScreenY(FPolygon.Y1);
  const int x2 = BitmapToScreenX(FPolygon.X2), y2 = BitmapToScreenY(FPolygon.Y2);
  std::vector<TPoint> points = {Point(x1, y1), Point(x2, y1), Point(x2, y2), Point(x1, y2)};
  if (FEdgeGrips) {
    points.push_back(Point(x1, (y1 + y2) / 2));
    points.push_back(Point(x2, (y1 + y2) / 2));
    points.push_back(Point((x1 + x2) / 2, y1));
    points.push_back(Point((x1 + x2) / 2, y2));
  }
  canvas->Pen()->SetStyle(psSolid);
  canvas->Pen()->SetMode(pmCopy);
  canvas->Pen()->SetWidth(1);
  canvas->Pen()->SetColor(FGripPen);
  canvas->Brush()->SetStyle(bsSolid);
  canvas->Brush()->SetColor(FGripBrush);
  for (const TPoint& p : points) {
    if (FGripShape == 1) canvas->Ellipse(p.x - FGripSize, p.y - FGripSize, p.x + FGripSize, p.y + FGripSize);
    else canvas->Rectangle(p.x - FGripSize, p.y - FGripSize, p.x + FGripSize, p.y + FGripSize);
  }
  DrawSelectionGrid(canvas, x1, y1, x2, y2);
}

void TImageLibView::DrawSelectionGrid(TCanvas* canvas, int x1, int y1, int x2, int y2) {
  if (FGridColumns <= 1 && FGridRows <= 1) return;
  canvas->Pen()->SetStyle(psSolid);
  canvas->Pen()->SetMode(pmCopy);
  canvas->Pen()->SetWidth(1);
  canvas->Pen()->SetColor(0xA0A0A0);
  for (int i = 1; i < FGridRows; ++i) {
    const int y = y1 + R(double(y2 - y1) * i / FGridRows);
    canvas->MoveTo(x1, y);
    canvas->LineTo(x2, y);
  }
  for (int i = 1; i < FGridColumns; ++i) {
    const int x = x1 + R(double(x2 - x1) * i / FGridColumns);
    canvas->MoveTo(x, y1);
    canvas->LineTo(x, y2);
  }
}

void TImageLibView::DrawSelectionOutline(TCanvas* canvas) {
  if (!HasParentWindow() || !canvas) return;
  if (!FPolygon.Visible || FPaintLock > 0 || FAutoScrolling) return;
  DrawGrips(canvas);
  const bool interacting = FBuildingRect || FBuildingEllipse || FBuildingPolygon || FGrip != 0 || FMoveIndex >= 0 ||
                           FRectMoved;
  if (!interacting && !FMask->IsEmpty() && FOutlinePause <= 0) {
    const auto t0 = std::chrono::steady_clock::now();
    RECT drawn{};
    FMask->DrawOutline(canvas, FOffsetX, FOffsetY, std::min(FScrW, FDrawW), std::min(FScrH, FDrawH), FSrcX, FSrcY,
                       FSrcW, FSrcH, FDashCounter, FPolygon.Color1, FPolygon.Color2, &drawn);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    NoteOutlineDrawTime(int(ms));
    return;
  }
  DrawPolygonDashes(canvas);
}

void TImageLibView::DrawSelectionFill(TIEBitmap* dest) {
  if (!FPolygon.Visible || FMask->IsEmpty()) return;
  if (FSelectionOptions.Contains(iesoFilled))
    if (TCanvas* c = dest->Canvas())
      FMask->DrawInverted(c, FOffsetX, FOffsetY, std::min(FScrW, FDrawW), std::min(FScrH, FDrawH), FSrcX, FSrcY,
                          FSrcW, FSrcH);
  if (FSelectionOptions.Contains(iesoMarkOuter))
    if (TBitmap* b = dest->VclBitmap())
      FMask->ShadeUnselected(b, FOffsetX, FOffsetY, std::min(FScrW, FDrawW), std::min(FScrH, FDrawH), FSrcX, FSrcY,
                             FSrcW, FSrcH, -1, clWhite);
}
