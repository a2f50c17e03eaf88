// The image view as a whole: construction, zoom, scrolling, the mapping between
// view and bitmap coordinates, scroll bars, the wheel and the refresh (Update).
#include "imaging/views/image_view.h"

#include <algorithm>
#include <cmath>

#include "imaging/core/ie_canvas.h"
#include "imaging/core/ie_render.h"
#include "imaging/io/image_lib_io.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/rtl/rounding.h"
#include "platform/rtl/streams.h"
#include "platform/ui/forms.h"
#include "platform/win/system_info.h"

namespace {

constexpr UINT kMsgUpdate = kIEViewMsgUpdate;
constexpr UINT kMsgProgress = kIEViewMsgProgress;
constexpr UINT kMsgFinish = kIEViewMsgFinish;

int R(double v) { return static_cast<int>(Round(v)); }

}  // namespace

// ---- the polygon record ----

void TIESelectionPolygon::Add(int x, int y) {
  POINT p;
  p.x = x;
  p.y = y;
  Points.push_back(p);
}

void TIESelectionPolygon::UpdateBox() {
  bool any = false;
  for (const POINT& p : Points) {
    if (p.x == kIEPolygonSeparator) continue;
    if (!any) {
      X1 = X2 = p.x;
      Y1 = Y2 = p.y;
      any = true;
    } else {
      X1 = std::min<int>(X1, p.x);
      Y1 = std::min<int>(Y1, p.y);
      X2 = std::max<int>(X2, p.x);
      Y2 = std::max<int>(Y2, p.y);
    }
  }
  if (!any) X1 = Y1 = X2 = Y2 = 0;
}

bool TIESelectionPolygon::IsRectangle() const {
  if (Points.size() != 4) return false;
  for (const POINT& p : Points)
    if (p.x == kIEPolygonSeparator) return false;
  const POINT* p = Points.data();
  const bool xFirst = p[0].x == p[3].x && p[0].y == p[1].y && p[1].x == p[2].x && p[2].y == p[3].y;
  const bool yFirst = p[0].y == p[3].y && p[0].x == p[1].x && p[1].y == p[2].y && p[2].x == p[3].x;
  return xFirst || yFirst;
}

// ---- construction ----

TImageLibView::TImageLibView(TComponent* owner) : TIEView(owner), FMask(std::make_unique<TIEMask>()) {
  FUpdateLock = 1;  // nothing refreshes while the view is being made
  FCreatedWithOwner = owner != nullptr;
  SetInitialBounds(105, 105);
  auto* bitmap = new TIEBitmap();
  bitmap->SetLocation(ieTBitmap);
  bitmap->Allocate(Width(), Height(), ie24RGB);
  auto layer = std::make_unique<TIELayer>(this, true, bitmap);
  layer->VisibleBox = false;
  layer->Locked = true;
  FIEBitmap = layer->Bitmap();
  FLayers.push_back(std::move(layer));
  FMask->Allocate(FIEBitmap->Width(), FIEBitmap->Height(), FMaskDepth);
  SetZoomValues(100, 100);
  SetDPI(gDefaultDPIX, gDefaultDPIY);
  // The hint box weighs its colour over the picture through GDI+.
  StartGdiPlus();
  FBackBuffer = std::make_unique<TIEBitmap>();
  FBackBuffer->SetLocation(ieTBitmap);
  LoadViewCursors();
  SetViewCursor(kIECursorCross);
  SetTabStop(true);
  SetMessageHandler(WM_HSCROLL, [this](TMessage& m) { HandleScrollMessage(m, true); });
  SetMessageHandler(WM_VSCROLL, [this](TMessage& m) { HandleScrollMessage(m, false); });
  SetMessageHandler(WM_TIMER, [this](TMessage& m) { HandleTimer(m); });
  SetMessageHandler(WM_ERASEBKGND, [](TMessage& m) { m.Result = 0; });
  SetMessageHandler(WM_SETFOCUS, [this](TMessage& m) {
    DefaultHandler(m);
    Invalidate();
  });
  SetMessageHandler(WM_KILLFOCUS, [this](TMessage& m) {
    DefaultHandler(m);
    Invalidate();
  });
  SetMessageHandler(kMsgUpdate, [this](TMessage& m) {
    Update();
    if (m.WParam == 1) ImageChange();
  });
  SetMessageHandler(kMsgProgress, [this](TMessage& m) {
    if (FOnProgress) FOnProgress(this, static_cast<int>(m.WParam));
  });
  SetMessageHandler(kMsgFinish, [this](TMessage&) {
    if (FOnFinishWork) FOnFinishWork(this);
  });
  FUpdateLock = 0;
}

TImageLibView::~TImageLibView() {
  // The engine's timer and its events point at this view: it goes first.
  FTransition.reset();
  // The components that follow this view hear of its end while it is whole.
  NotifyViewDestroying();
  StopSmoothScroll();
  StopPlayTimer();
  if (FOutlineTimer && HandleAllocated()) KillTimer(Handle(), FOutlineTimer);
  FOutlineTimer = 0;
  if (FNavigator) SetNavigator(nullptr);
  if (FNavigatorOf && FNavigatorOf->FNavigator == this) FNavigatorOf->FNavigator = nullptr;
  FAuxObjects.clear();
  // The attached components are owned (and freed) by the component layer.
  FIO = nullptr;
  FProc = nullptr;
  FLayers.clear();
  StopGdiPlus();
}

// ---- base operations ----

TBitmap* TImageLibView::GetBitmap() {
  if (!FLegacyBitmap || !FIEBitmap) return nullptr;
  return FIEBitmap->VclBitmap();
}

TIEBitmap* TImageLibView::GetIEBitmap() { return FIEBitmap; }
TIEBitmap* TImageLibView::GetAlphaChannel() { return FIEBitmap->AlphaChannel(); }
bool TImageLibView::GetHasAlphaChannel() { return FIEBitmap->HasAlphaChannel(); }

void TImageLibView::RemoveAlphaChannel(bool merge) {
  FIEBitmap->RemoveAlphaChannel(merge, ColorToRGB(FBackground));
  Update();
}

void TImageLibView::LockPaint() { ++FPaintLock; }

int TImageLibView::UnlockPaint() {
  if (FPaintLock > 0) --FPaintLock;
  if (FPaintLock == 0) Update();
  return FPaintLock;
}

int TImageLibView::UnlockPaintNoRefresh() {
  if (FPaintLock > 0) --FPaintLock;
  return FPaintLock;
}

void TImageLibView::UnlockUpdate() {
  if (FUpdateLock > 0) --FUpdateLock;
  if (FUpdateLock == 0) Update();
}

void TImageLibView::UnlockUpdateNoRefresh() {
  if (FUpdateLock > 0) --FUpdateLock;
}

void TImageLibView::SetBackground(uint32_t color) {
  TIEView::SetBackground(color);
  FUpdateReason = 4;
  Update();
  // A new background is no new picture.
  FUpdateReason = 4;
  ImageChange();
  FUpdateReason = 0;
}

void TImageLibView::ImageChange() {
  if (OnImageChange) OnImageChange(this);
  StartPlayTimer();
  if (FUpdateReason != 4) FImageSet = true;
}

void TImageLibView::SetScrollBars(TScrollStyle style) {
  FScrollBars = style;
  if (HandleAllocated()) {
    if (style != ssVertical && style != ssBoth) {
      ShowScrollBar(Handle(), SB_VERT, FALSE);
      FVBarShown = false;
    }
    if (style != ssHorizontal && style != ssBoth) {
      ShowScrollBar(Handle(), SB_HORZ, FALSE);
      FHBarShown = false;
    }
  }
  FUpdateReason = 4;
  Update();
}

void TImageLibView::SetFlatScrollBars(bool value) {
  if (value == FFlatScrollBars) return;
  FFlatScrollBars = value;
  if (!HandleAllocated()) return;
  if (value) {
    SetScrollRange(Handle(), SB_HORZ, 0, 65535, FALSE);
    SetScrollRange(Handle(), SB_VERT, 0, 65535, FALSE);
    InitializeFlatSB(Handle());
    ShowScrollBar(Handle(), SB_BOTH, FALSE);
    FHBarShown = FVBarShown = false;
  } else {
    UninitializeFlatSB(Handle());
  }
}

void TImageLibView::DoViewChange(TIEViewChange change) {
  if (OnViewChange) OnViewChange(this, change);
  if (FNavigator) SyncNavigator();
}

void TImageLibView::DoViewChanging(TIEViewChanging change, double newValue) {
  if (OnViewChanging) OnViewChanging(this, change, newValue);
}

bool TImageLibView::HasParentWindow() { return Parent() != nullptr; }

int TImageLibView::GetViewWidth() {
  if (HasParentWindow() && HandleAllocated()) return ClientWidth();
  return 50;
}

int TImageLibView::GetViewHeight() {
  if (HasParentWindow() && HandleAllocated()) return ClientHeight();
  return 50;
}

bool TImageLibView::IsEmptyBitmap() { return !FIEBitmap || (FIEBitmap->Width() < 2 && FIEBitmap->Height() < 2); }
bool TImageLibView::IsEmpty() { return IsEmptyBitmap() || !FImageSet; }

// ---- zoom ----

void TImageLibView::SetZoomValues(double zx, double zy) {
  FZoomX = zx;
  FZoomY = zy;
  FZZX = zx / 100.0;
  FZZY = zy / 100.0;
  FIZX = 100.0 / zx;
  FIZY = 100.0 / zy;
}

void TImageLibView::ArmDelayedFilter(bool changedX, bool changedY) {
  if (FDelayZoomFilter && FZoomFilter != rfNone && ((changedX && FZoomX != 100) || (changedY && FZoomY != 100)))
    FDelayedFilterFrames = 4;
}

void TImageLibView::SetZoom(double zoom) {
  StopSmoothScroll();
  DoViewChanging(ievgZoom, zoom);
  if (zoom <= 0) return;
  if (zoom == FZoomX && zoom == FZoomY) return;
  ArmDelayedFilter(true, true);
  FOutlinePause = 2;
  LockPaint();
  if (FNavigator) FNavigator->LockPaint();
  ApplyZoom(zoom);
  FUpdateReason = 2;
  Update();
  FUpdateReason = 2;
  Update();
  ComputeVisibleArea();
  BuildCoordinateTables();
  UnlockPaintNoRefresh();
  if (FNavigator) FNavigator->UnlockPaintNoRefresh();
  FWholeDirty = true;
  FDirty = true;
  Invalidate();
  DoViewChange(ievcZoom);
}

void TImageLibView::SetZoomX(double zoom) {
  StopSmoothScroll();
  DoViewChanging(ievgZoom, zoom);
  if (zoom <= 0 || zoom == FZoomX) return;
  ArmDelayedFilter(true, false);
  FOutlinePause = 2;
  LockPaint();
  ApplyZoomX(zoom);
  FUpdateReason = 2;
  Update();
  FUpdateReason = 2;
  Update();
  ComputeVisibleArea();
  BuildCoordinateTables();
  UnlockPaintNoRefresh();
  FWholeDirty = FDirty = true;
  Invalidate();
  DoViewChange(ievcZoom);
}

void TImageLibView::SetZoomY(double zoom) {
  StopSmoothScroll();
  DoViewChanging(ievgZoom, zoom);
  if (zoom <= 0 || zoom == FZoomY) return;
  ArmDelayedFilter(false, true);
  FOutlinePause = 2;
  LockPaint();
  ApplyZoomY(zoom);
  FUpdateReason = 2;
  Update();
  FUpdateReason = 2;
  Update();
  ComputeVisibleArea();
  BuildCoordinateTables();
  UnlockPaintNoRefresh();
  FWholeDirty = FDirty = true;
  Invalidate();
  DoViewChange(ievcZoom);
}

void TImageLibView::ApplyZoom(double zoom) {
  const int cx = GetViewWidth() / 2, cy = GetViewHeight() / 2;
  const int bx = R((cx + FViewX - FOffsetX) * FIZX);
  const int by = R((cy + FViewY - FOffsetY) * FIZY);
  FViewX = R(bx * zoom / 100.0 - cx);
  FViewY = R(by * zoom / 100.0 - cy);
  SetZoomValues(zoom, zoom);
  ComputeImageExtent();
  BuildCoordinateTables();
  int maxX = 0, maxY = 0;
  GetMaxViewXY(maxX, maxY);
  FViewX = std::clamp(FViewX, 0, maxX);
  FViewY = std::clamp(FViewY, 0, maxY);
}

void TImageLibView::ApplyZoomX(double zoom) {
  const int cx = GetViewWidth() / 2;
  const int bx = R((cx + FViewX - FOffsetX) * FIZX);
  FViewX = R(bx * zoom / 100.0 - cx);
  SetZoomValues(zoom, FZoomY);
  ComputeImageExtent();
  BuildCoordinateTables();
  int maxX = 0, maxY = 0;
  GetMaxViewXY(maxX, maxY);
  FViewX = std::clamp(FViewX, 0, maxX);
}

void TImageLibView::ApplyZoomY(double zoom) {
  const int cy = GetViewHeight() / 2;
  const int by = R((cy + FViewY - FOffsetY) * FIZY);
  FViewY = R(by * zoom / 100.0 - cy);
  SetZoomValues(FZoomX, zoom);
  ComputeImageExtent();
  BuildCoordinateTables();
  int maxX = 0, maxY = 0;
  GetMaxViewXY(maxX, maxY);
  FViewY = std::clamp(FViewY, 0, maxY);
}

void TImageLibView::ZoomAt(int x, int y, double zoom, bool centre) {
  LockPaint();
  if (FNavigator) FNavigator->LockPaint();
  DoViewChanging(ievgZoom, x);
  DoViewChanging(ievgZoom, y);
  const int bx = ScreenToBitmapX(x), by = ScreenToBitmapY(y);
  SetZoom(zoom);
  const double z = FZoomX / 100.0;
  if (centre)
    SetViewXY(R(bx * z - GetViewWidth() / 2), R(by * z - GetViewHeight() / 2));
  else
    SetViewXY(R(bx * z - x + z), R(by * z - y + z));
  UnlockPaint();
  ComputeVisibleArea();
  BuildCoordinateTables();
  if (FNavigator) {
    FNavigator->UnlockPaintNoRefresh();
    SyncNavigator();
  }
}

bool TImageLibView::BorderedNoCtl3D() const { return !Ctl3D(); }

void TImageLibView::FitMargins(int& mx, int& my) {
  switch (FBackgroundStyle) {
    case iebsCropped:
      mx = GetSystemMetrics(SM_CXEDGE);
      my = GetSystemMetrics(SM_CYEDGE);
      return;
    case iebsCropShadow:
      mx = my = 5;
      return;
    case iebsSoftShadow:
      mx = my = 9;
      return;
    default:
      break;
  }
  if (BorderStyle() == bsSingle) {
    mx = GetSystemMetrics(Ctl3D() ? SM_CXEDGE : SM_CXBORDER);
    my = GetSystemMetrics(Ctl3D() ? SM_CYEDGE : SM_CYBORDER);
  } else {
    mx = my = 0;
  }
}

double TImageLibView::GetFitZoom() {
  if (FBmpW <= 0 || FBmpH <= 0) return 100;
  int mx = 0, my = 0;
  FitMargins(mx, my);
  const double zx = (Width() - 2 * mx) / (FBmpW / 100.0);
  const double zy = (Height() - 2 * my) / (FBmpH / 100.0);
  return std::min(zx, zy);
}

void TImageLibView::Fit() {
  if (FBmpW == 0 || FBmpH == 0) return;
  if (HandleAllocated()) {
    if (FHBarShown) ShowScrollBar(Handle(), SB_HORZ, FALSE);
    if (FVBarShown) ShowScrollBar(Handle(), SB_VERT, FALSE);
    FHBarShown = FVBarShown = false;
  }
  SetZoom(GetFitZoom());
}

void TImageLibView::ZoomSelection(bool keepAspect, bool fireZoomIn) {
  if (!FSelected) return;
  int left = 0, top = 0, right = 0, bottom = 0;
  SelectedRect(left, top, right, bottom);
  const int w = right - left + 1, h = bottom - top + 1;
  if (left < 0 || top < 0 || w < 2 || h < 2) return;
  Deselect();
  double z = std::min(Height() / (h / 100.0), Width() / (w / 100.0));
  if (fireZoomIn && OnZoomIn) OnZoomIn(this, z);
  if (keepAspect) {
    SetZoom(z);
  } else {
    SetZoomX(Width() / (w / 100.0));
    SetZoomY(Height() / (h / 100.0));
  }
  SetViewXY(R(left * FZoomX / 100.0) - (GetViewWidth() - R(w * FZoomX / 100.0)) / 2,
            R(top * FZoomY / 100.0) - (GetViewHeight() - R(h * FZoomY / 100.0)) / 2);
}

void TImageLibView::SetZoomFilter(TResampleFilter filter) {
  FSavedZoomFilter = filter;
  if (filter == FZoomFilter) return;
  FZoomFilter = filter;
  Update();
}

void TImageLibView::SetAutoFit(bool value) {
  if (value == FAutoFit) return;
  FAutoFit = value;
  Update();
}
void TImageLibView::SetAutoStretch(bool value) {
  if (value == FAutoStretch) return;
  FAutoStretch = value;
  Update();
}
void TImageLibView::SetAutoShrink(bool value) {
  if (value == FAutoShrink) return;
  FAutoShrink = value;
  Update();
}

void TImageLibView::SetHorizontalAlignment(int value) {
  FHAlign = value;
  FUpdateReason = 1;
  Update();
}
void TImageLibView::SetVerticalAlignment(int value) {
  FVAlign = value;
  FUpdateReason = 1;
  Update();
}
void TImageLibView::SetCenter(bool value) {
  FHAlign = FVAlign = value ? 1 : 0;
  FUpdateReason = 1;
  Update();
}

// ---- scrolling ----

void TImageLibView::GetMaxViewXY(int& maxX, int& maxY) {
  const int vw = GetViewWidth(), vh = GetViewHeight();
  int w = R(FBmpW * FZZX), h = R(FBmpH * FZZY);
  // One more pixel of room lets the last column and row come fully into view.
  if (FZoomX != FZoomY) {
    if (vw + 10 < w) w = R((FBmpW + 1) * FZZX);
    if (vh + 10 < h) h = R((FBmpH + 1) * FZZY);
  } else if ((w > vw + 10 || h > vh + 10) && FScrollBars != ssNone) {
    w = R((FBmpW + 1) * FZZX);
    h = R((FBmpH + 1) * FZZY);
  }
  if (w < 1 || h < 1) {
    maxX = maxY = 0;
    return;
  }
  maxX = w - vw;
  if (maxX < 0 || ScreenToBitmapX(maxX) == 0) maxX = 0;
  maxY = h - vh;
  if (maxY < 0 || ScreenToBitmapY(maxY) == 0) maxY = 0;
  if (FZoomX != FZoomY) {
    if (Width() >= w) maxX = 0;
    if (Height() >= h) maxY = 0;
  } else if (Width() >= w && Height() >= h) {
    maxX = maxY = 0;
  }
}

void TImageLibView::SetViewX(int x) { SetViewXY(x, FViewY, true, false); }
void TImageLibView::SetViewY(int y) { SetViewXY(FViewX, y, false, true); }
void TImageLibView::SetViewXY(int x, int y) { SetViewXY(x, y, true, true); }

void TImageLibView::SetViewXY(int x, int y, bool horizontal, bool vertical) {
  if (horizontal) DoViewChanging(ievgHorizontalScroll, x);
  if (vertical) DoViewChanging(ievgVerticalScroll, y);
  if ((!horizontal || x == FViewX) && (!vertical || y == FViewY)) return;
  int maxX = 0, maxY = 0;
  GetMaxViewXY(maxX, maxY);
  const int nx = horizontal ? std::clamp(x, 0, maxX) : FViewX;
  const int ny = vertical ? std::clamp(y, 0, maxY) : FViewY;
  const bool changedX = nx != FViewX, changedY = ny != FViewY;
  if (!changedX && !changedY) return;
  FViewX = nx;
  FViewY = ny;
  ArmDelayedFilter(changedX, changedY);
  FOutlinePause = 2;
  ComputeVisibleArea();
  BuildCoordinateTables();
  FDirty = true;
  FWholeDirty = true;
  Invalidate();
  DoViewChange(ievcScroll);
  if (HandleAllocated()) {
    if (changedX && (FScrollBars == ssHorizontal || FScrollBars == ssBoth) && FHBarShown)
      SetScrollPos(Handle(), SB_HORZ, R(FViewX / FHScrollFactor), TRUE);
    if (changedY && (FScrollBars == ssVertical || FScrollBars == ssBoth) && FVBarShown)
      SetScrollPos(Handle(), SB_VERT, R(FViewY / FVScrollFactor), TRUE);
  }
}

void TImageLibView::ScrollAxis(bool horizontal, int kind, int value) {
  const TIEScrollBarParams& p = horizontal ? FHScrollParams : FVScrollParams;
  const double zoom = horizontal ? FZoomX : FZoomY;
  const int pixel = std::max(R(zoom / 100.0), 1);
  const int line = p.LineStep == -1 ? pixel : pixel * p.LineStep;
  const int page = p.PageStep == -1 ? (horizontal ? GetViewWidth() : GetViewHeight()) : pixel * p.PageStep;
  const int current = horizontal ? FViewX : FViewY;
  int maxX = 0, maxY = 0;
  int target = 0;
  switch (kind) {
    case 0: target = value; break;
    case 1:
      GetMaxViewXY(maxX, maxY);
      target = horizontal ? maxX : maxY;
      break;
    case 3: target = current + line; break;
    case 4: target = current - line; break;
    case 5: target = current + page; break;
    case 6: target = current - page; break;
    default: target = 0; break;
  }
  if (horizontal) SetViewX(target);
  else SetViewY(target);
}

void TImageLibView::ScrollHorizontal(int kind, int value) { ScrollAxis(true, kind, value); }
void TImageLibView::ScrollVertical(int kind, int value) { ScrollAxis(false, kind, value); }

void TImageLibView::HandleScrollMessage(TMessage& message, bool horizontal) {
  const WORD code = LOWORD(static_cast<DWORD>(message.WParam));
  const int pos = HIWORD(static_cast<DWORD>(message.WParam));
  const double factor = horizontal ? FHScrollFactor : FVScrollFactor;
  const TIEScrollBarParams& p = horizontal ? FHScrollParams : FVScrollParams;
  switch (code) {
    case SB_LINEUP: ScrollAxis(horizontal, 4, 0); break;
    case SB_LINEDOWN: ScrollAxis(horizontal, 3, 0); break;
    case SB_PAGEUP: ScrollAxis(horizontal, 6, 0); break;
    case SB_PAGEDOWN: ScrollAxis(horizontal, 5, 0); break;
    case SB_TOP: ScrollAxis(horizontal, 2, 0); break;
    case SB_BOTTOM: ScrollAxis(horizontal, 1, 0); break;
    case SB_THUMBPOSITION: ScrollAxis(horizontal, 0, R(pos * factor)); break;
    case SB_THUMBTRACK:
      if (p.Tracking) ScrollAxis(horizontal, 0, R(pos * factor));
      break;
    default: break;
  }
  message.Result = 0;
}

bool TImageLibView::DoMouseWheel(TShiftState shift, int wheelDelta, TPoint mousePos) {
  bool handled = false;
  if (OnMouseWheel) OnMouseWheel(this, shift, wheelDelta, mousePos, handled);
  if (handled) return true;
  const TPoint p = ScreenToClient(mousePos);
  const bool ctrl = shift.Contains(ssCtrl);
  if (FWheelParams.Action == 0 || FAutoFit) return true;
  int d = wheelDelta > 0 ? -1 : 1;
  if (FWheelParams.InvertWheel) d = -d;
  if (FWheelParams.Action == 1) {
    int maxX = 0, maxY = 0;
    GetMaxViewXY(maxX, maxY);
    const bool horizontal = ctrl || (maxX > 0 && maxY == 0);
    const double zoom = horizontal ? FZoomX : FZoomY;
    const int size = horizontal ? GetViewWidth() : GetViewHeight();
    const int step = FWheelParams.Variation == 0 ? d * FWheelParams.Value * std::max(R(zoom / 100.0), 1)
                                                 : d * std::max(R(size * FWheelParams.Value / 100.0), 1);
    if (horizontal) SetViewX(FViewX + step);
    else SetViewY(FViewY + step);
    return true;
  }
  if (FWheelParams.Action == 2) {
    double z = FWheelParams.Variation == 0 ? FZoomX + d * FWheelParams.Value
                                           : FZoomX + d * std::max(R(FWheelParams.Value * FZoomX / 100.0), 1);
    if (z > FZoomX && OnZoomIn) OnZoomIn(this, z);
    else if (z < FZoomX && OnZoomOut) OnZoomOut(this, z);
    if (FWheelParams.ZoomPosition) ZoomAt(p.x, p.y, z, false);
    else SetZoom(z);
  }
  return true;
}

// ---- coordinates ----

int TImageLibView::Snap(int v, bool horizontal) const {
  const AxisTables& t = horizontal ? FTablesX : FTablesY;
  if (v < 0) v = 0;
  if (v < static_cast<int>(t.v2b.size())) {
    const int b = t.v2b[size_t(v)];
    if (b >= 0 && b < static_cast<int>(t.b2v.size())) return t.b2v[size_t(b)];
  }
  return v;
}

int TImageLibView::ScreenToBitmapX(int x) {
  const int xx = x - FOffsetX;
  if (xx >= 0 && xx < FDrawW) {
    const int i = Snap(FViewX, true) + xx;
    if (i >= 0 && i < static_cast<int>(FTablesX.v2b.size())) return FTablesX.v2b[size_t(i)];
  }
  // Beyond the drawn area too, above 100 % a column names the pixel it would show.
  if (FZoomX > 100) return static_cast<int>(std::floor(xx * FIZX)) + FSrcX;
  return R(xx * FIZX + FSrcX);
}

int TImageLibView::ScreenToBitmapY(int y) {
  const int yy = y - FOffsetY;
  if (yy >= 0 && yy < FDrawH) {
    const int i = Snap(FViewY, false) + yy;
    if (i >= 0 && i < static_cast<int>(FTablesY.v2b.size())) return FTablesY.v2b[size_t(i)];
  }
  if (FZoomY > 100) return static_cast<int>(std::floor(yy * FIZY)) + FSrcY;
  return R(yy * FIZY + FSrcY);
}

int TImageLibView::BitmapToScreenX(int bx) {
  const int s = Snap(FViewX, true);
  const int d = bx - FSrcX;
  const int length = R(FScrW * FIZX);
  if (d >= 0 && d < length && bx < static_cast<int>(FTablesX.b2v.size())) return FTablesX.b2v[size_t(bx)] - s + FOffsetX;
  return R((bx - R(s * FIZX)) * FZZX + FOffsetX);
}

int TImageLibView::BitmapToScreenY(int by) {
  const int s = Snap(FViewY, false);
  const int d = by - FSrcY;
  const int length = R(FScrH * FIZY);
  if (d >= 0 && d < length && by < static_cast<int>(FTablesY.b2v.size())) return FTablesY.b2v[size_t(by)] - s + FOffsetY;
  return R((by - R(s * FIZY)) * FZZY + FOffsetY);
}

void TImageLibView::ComputeImageExtent() {
  FExtentX = R(FBmpW * FZZX);
  FExtentY = R(FBmpH * FZZY);
  FOffsetX = FOffsetY = 0;
  const int vw = GetViewWidth(), vh = GetViewHeight();
  FDrawW = std::min(FExtentX, vw);
  FDrawH = std::min(FExtentY, vh);
  if (FDrawW < vw) {
    if (FHAlign == 1) FOffsetX = (vw - FDrawW) / 2;
    else if (FHAlign == 2) FOffsetX = vw - FDrawW;
  }
  if (FDrawH < vh) {
    if (FVAlign == 1) FOffsetY = (vh - FDrawH) / 2;
    else if (FVAlign == 2) FOffsetY = vh - FDrawH;
  }
}

void TImageLibView::BuildAxisTable(bool horizontal) {
  AxisTables& t = horizontal ? FTablesX : FTablesY;
  const double zoom = horizontal ? FZoomX : FZoomY;
  const int extent = horizontal ? FExtentX : FExtentY;
  const int draw = horizontal ? FDrawW : FDrawH;
  const int size = horizontal ? FBmpW : FBmpH;
  const int span = extent + draw;
  if (t.zoom == zoom && t.span == span && t.bitmapSize == size) return;
  t.zoom = zoom;
  t.span = span;
  t.bitmapSize = size;
  if (draw <= 0) {
    t.v2b.clear();
    t.b2v.clear();
    return;
  }
  // Above 100 % the tables truncate, as the renderer's maps do, so a column
  // names the pixel painted there.
  IEBuildViewZoomTables(zoom, span, size, t.v2b, t.b2v);
}

void TImageLibView::BuildCoordinateTables() {
  BuildAxisTable(true);
  BuildAxisTable(false);
}

void TImageLibView::ComputeVisibleAxis(bool horizontal) {
  const int extent = horizontal ? FExtentX : FExtentY;
  if (extent == 0) return;
  const int size = horizontal ? FBmpW : FBmpH;
  const int draw = horizontal ? FDrawW : FDrawH;
  const double z = horizontal ? FZZX : FZZY;
  const int s = Snap(horizontal ? FViewX : FViewY, horizontal);
  int src = R(double(s) * size / extent);
  int srcSize = R(double(draw) * size / extent);
  if (src + srcSize > size) srcSize -= 1;
  src = std::clamp(src, 0, std::max(size - 1, 0));
  srcSize = std::clamp(srcSize, 0, size - src);
  int screen = draw;
  if (z > 1) {
    screen = R(srcSize * z);
    if (screen < draw && src + srcSize < size) {
      ++srcSize;
      screen = R(srcSize * z);
    }
  }
  if (horizontal) {
    FSrcX = src;
    FSrcW = srcSize;
    FScrW = screen;
  } else {
    FSrcY = src;
    FSrcH = srcSize;
    FScrH = screen;
  }
}

void TImageLibView::ComputeVisibleArea() {
  BuildCoordinateTables();
  ComputeVisibleAxis(true);
  ComputeVisibleAxis(false);
}

// ---- refresh ----

double TImageLibView::ComputeAutoZoom(int width, int height, bool shrink, bool stretch, int areaW, int areaH) {
  if (width == 0 || height == 0 || areaW <= 0 || areaH <= 0) return 100;
  const bool larger = double(width) / areaW > double(height) / areaH ? areaW < width : areaH < height;
  if ((larger && shrink) || (!larger && stretch)) return GetFitZoom();
  return 100;
}

void TImageLibView::ApplyAutoZoom() {
  DoViewChanging(ievgZoom, FZoomX);
  int mx = 0, my = 0;
  switch (FBackgroundStyle) {
    case iebsCropped:
      mx = GetSystemMetrics(SM_CXEDGE);
      my = GetSystemMetrics(SM_CYEDGE);
      break;
    case iebsCropShadow: mx = my = 5; break;
    case iebsSoftShadow: mx = my = 9; break;
    default:
      mx = (Width() - GetViewWidth()) / 2;
      my = (Height() - GetViewHeight()) / 2;
      break;
  }
  double z = 100;
  if (FBmpW > 1 || FBmpH > 1) {
    try {
      z = ComputeAutoZoom(FBmpW, FBmpH, FAutoShrink || FAutoFit, FAutoStretch || FAutoFit,
                          GetViewWidth() - 2 * mx, GetViewHeight() - 2 * my);
    } catch (...) {
      z = 100;
    }
  }
  if (z < 1) z = 1;
  SetZoomValues(z, z);
  ComputeImageExtent();
  ComputeVisibleArea();
  DoViewChange(ievcZoom);
  FDelayedFilterFrames = 0;
  FOutlinePause = 0;
}

void TImageLibView::CheckMaskAndAlphaSize() {
  if (FMask->Width() != FBmpW || FMask->Height() != FBmpH) {
    if (FSelected) {
      FMask->Resize(FBmpW, FBmpH);
      FMask->UpdateBoundingBox();
      FMask->CheckFull();
    } else {
      FMask->Allocate(FBmpW, FBmpH, FMaskDepth);
    }
  }
  if (FIEBitmap->HasAlphaChannel()) {
    TIEBitmap* alpha = FIEBitmap->AlphaChannel();
    if (alpha->Width() != FIEBitmap->Width() || alpha->Height() != FIEBitmap->Height()) {
      alpha->Allocate(FIEBitmap->Width(), FIEBitmap->Height(), ie8g);
      alpha->Fill(255);
      alpha->SetFull(true);
    }
  }
}

void TImageLibView::UpdateScrollBarsPass(bool& viewSizeChanged) {
  const int vw = GetViewWidth(), vh = GetViewHeight();
  FLastViewW = vw;
  FLastViewH = vh;
  ComputeImageExtent();
  ComputeVisibleArea();
  int maxX = 0, maxY = 0;
  GetMaxViewXY(maxX, maxY);
  if (FViewX > maxX || FViewY > maxY) {
    DoViewChanging(ievgHorizontalScroll, std::min(FViewX, maxX));
    DoViewChanging(ievgVerticalScroll, std::min(FViewY, maxY));
    FViewX = std::min(FViewX, maxX);
    FViewY = std::min(FViewY, maxY);
    ComputeVisibleArea();
    DoViewChange(ievcScroll);
  }
  auto setBar = [&](int bar, bool wanted, int maximum, int viewSize, int position, bool& shown, double& factor) {
    if (!wanted) return;
    if (maximum < 1) {
      if (FShowDisabledBars) {
        ShowScrollBar(Handle(), bar, TRUE);
        shown = true;
      } else {
        ShowScrollBar(Handle(), bar, FALSE);
        shown = false;
      }
      return;
    }
    shown = true;
    factor = double(viewSize + maximum) / 65536.0;
    SCROLLINFO si;
    si.fMask = SIF_ALL;
    si.nMin = 0;
    si.nMax = 65535;
    si.nPage = static_cast<UINT>(R(viewSize / factor));
    si.nPos = R(position / factor);
    SetScrollInfo(Handle(), bar, &si, TRUE);
    ShowScrollBar(Handle(), bar, TRUE);
  };
  try {
    setBar(SB_HORZ, FScrollBars == ssHorizontal || FScrollBars == ssBoth, maxX, vw, FViewX, FHBarShown,
           FHScrollFactor);
    setBar(SB_VERT, FScrollBars == ssVertical || FScrollBars == ssBoth, maxY, vh, FViewY, FVBarShown,
           FVScrollFactor);
  } catch (...) {
  }
  viewSizeChanged = GetViewWidth() != vw || GetViewHeight() != vh;
}

void TImageLibView::Update() {
  if (FUpdateLock != 0 || FInsideUpdate) return;
  FInsideUpdate = true;
  const int reason = FUpdateReason;
  try {
    if (FChangedLayer >= 0 && FChangedLayer < GetLayersCount()) FLayers[size_t(FChangedLayer)]->DropCache();
    else
      for (auto& l : FLayers) l->DropCache();
    FChangedLayer = -1;
    SyncLayers();
    if ((FAutoFit || FAutoStretch || FAutoShrink) && FBmpW != 0 && FBmpH != 0) ApplyAutoZoom();
    CheckMaskAndAlphaSize();
    if (HandleAllocated() && HasParentWindow()) {
      bool changed = false;
      UpdateScrollBarsPass(changed);
      if (changed && !FUpdateReentered) {
        // A bar appeared or went away: the view size changed, so once more.
        FUpdateReentered = true;
        FInsideUpdate = false;
        FUpdateReason = reason;
        Update();
        FInsideUpdate = true;
        FUpdateReentered = false;
      }
    }
    ComputeImageExtent();
    ComputeVisibleArea();
    FDirty = true;
    FWholeDirty = true;
    if (HasParentWindow()) Invalidate();
    if (FNavigator && FNavigator->PaintLockCount() == 0) {
      if (reason == 0) FNavigator->Update();
      SyncNavigator();
    }
  } catch (...) {
    FInsideUpdate = false;
    FUpdateReason = 0;
    throw;
  }
  FInsideUpdate = false;
  FUpdateReason = 0;
}

void TImageLibView::Resize() {
  // A transition paints frames of the old size onto the canvas.
  StopTransition();
  TIEView::Resize();
  if (FInsideUpdate) return;
  FUpdateReason = 4;
  Update();
}

void TImageLibView::RecreateWindow() {
  FUpdateReason = 4;
  Update();
}

void TImageLibView::Assign(TObject* source) {
  if (!source) {
    Clear();
    return;
  }
  if (auto* view = dynamic_cast<TImageLibView*>(source)) {
    FIEBitmap->Assign(view->GetIEBitmap());
    TIEView::SetBackground(view->Background());
    SetDPI(view->DpiX(), view->DpiY());
    Update();
    ImageChange();
    return;
  }
  if (auto* bitmap = dynamic_cast<TBitmap*>(source)) {
    FIEBitmap->CopyFromTBitmap(*bitmap);
    if (FIEBitmap->PixelFormat() != ie1g && FIEBitmap->PixelFormat() != ie24RGB)
      FIEBitmap->ConvertToPixelFormat(ie24RGB);
    Update();
    ImageChange();
  }
}

void TImageLibView::Clear() {
  FIEBitmap->Fill(ColorToRGB(FBackground));
  RemoveAlphaChannel(false);
}

void TImageLibView::Blank() {
  StopTransition();
  SetPlaying(false);
  StopPlayTimer();
  FIEBitmap->Allocate(1, 1, ie24RGB);
  Clear();
  FImageSet = false;
}

void TImageLibView::SetEnableAlphaChannel(bool value) {
  FEnableAlpha = value;
  Update();
}

// ---- layers: layer 0 and the list ----

TIELayer* TImageLibView::GetLayer(int index) {
  if (index < 0 || index >= GetLayersCount()) return nullptr;
  return FLayers[size_t(index)].get();
}

TIEBitmap* TImageLibView::LayerBitmap(int index) {
  TIELayer* l = GetLayer(index);
  return l ? l->Bitmap() : nullptr;
}

std::array<uint8_t, 16> TImageLibView::LayerGUID(int index) {
  TIELayer* l = GetLayer(index);
  return l ? l->GUID() : std::array<uint8_t, 16>{};
}

void TImageLibView::SaveLayerToStream(int index, TStream& stream, bool withBitmap) {
  if (TIELayer* l = GetLayer(index)) l->SaveToStream(stream, withBitmap);
}

void TImageLibView::LoadLayerFromStream(int index, TStream& stream) {
  if (TIELayer* l = GetLayer(index)) {
    l->LoadFromStream(stream);
    Update();
  }
}

// The layers stream belongs to the layers work; a view of one layer has nothing more to say.
void TImageLibView::SaveLayersToStream(TStream&, int) {}
void TImageLibView::LoadLayersFromStream(TStream&) {}
void TImageLibView::SaveLayersToFile(const std::string&) {}

void TImageLibView::SyncLayers() {
  if (FLayers.empty()) return;
  // A framework bitmap resized or redrawn behind our back is taken as it is now.
  if (FLegacyBitmap && FIEBitmap->Location() == ieTBitmap) {
    if (TBitmap* b = FIEBitmap->VclBitmap()) {
      if (b->GetWidth() != FIEBitmap->Width() || b->GetHeight() != FIEBitmap->Height()) FIEBitmap->SyncFromTBitmap();
    }
  }
  TIELayer* current = CurrentLayerRecord();
  if (current && current->Bitmap() != FIEBitmap) current->SetBitmap(FIEBitmap, current->OwnsBitmap());
  TIEBitmap* b0 = Layer0()->Bitmap();
  FBmpW = b0->Width();
  FBmpH = b0->Height();
}

void TImageLibView::AttachBitmap(TIEBitmap* bitmap) {
  TIELayer* layer = CurrentLayerRecord();
  if (!layer) return;
  if (!bitmap) {
    auto* own = new TIEBitmap();
    layer->SetBitmap(own, true);
    FIEBitmap = own;
  } else {
    layer->SetBitmap(bitmap, false);
    FIEBitmap = bitmap;
  }
  FLegacyBitmap = FIEBitmap->Location() == ieTBitmap;
  NotifyBitmapChange();
  Update();
}

void TImageLibView::SetCurrentLayer(int index) {
  if (index < 0 || index >= GetLayersCount() || index == FCurrentLayer) return;
  CurrentLayerRecord()->SetBitmap(FIEBitmap, CurrentLayerRecord()->OwnsBitmap());
  const bool hadSelection = FSelected;
  if (hadSelection) SaveSelection();
  while (index > 0 && !FLayers[size_t(index)]->Selectable) --index;
  FCurrentLayer = index;
  FIEBitmap = FLayers[size_t(index)]->Bitmap();
  if (hadSelection) RestoreSelection(true, 2);
  NotifyBitmapChange();
  Update();
}

void TImageLibView::DoLayerNotify(int layer, int event) {
  if (!OnLayerNotify) return;
  const TIESelectionBase base = FSelectionBase;
  FSelectionBase = FSavedSelectionBase;
  OnLayerNotify(this, layer, event);
  FSelectionBase = base;
}

// ---- legacy bitmap ----

void TImageLibView::SetLegacyBitmap(bool value) {
  if (value == FLegacyBitmap) return;
  if (value) {
    if (!FIEBitmap->SetLocation(ieTBitmap)) return;
  } else {
    FIEBitmap->SetLocation(ieFile);
  }
  FLegacyBitmap = value;
  NotifyBitmapChange();
  Update();
}

TBitmap* TImageLibView::GetBackBufferBitmap() {
  EnsureBackBuffer();
  return FBackBuffer->VclBitmap();
}

void TImageLibView::Notification(TComponent* component, TOperation operation) {
  TIEView::Notification(component, operation);
  if (operation != opRemove) return;
  if (component == FNavigator) FNavigator = nullptr;
  if (component == FIO) FIO = nullptr;
  if (component == FProc) FProc = nullptr;
}
