// What connects the image view with other components: the input/output and
// processing components it makes on first use, playback of multi-frame files,
// a linked navigator view and the auxiliary objects; and the view's cursors.
#include <cstdio>

#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"
#include "imaging/views/image_view.h"
#include "platform/rtl/rounding.h"
#include "platform/ui/cursors.h"
#include "platform/ui/forms.h"
#include "platform/win/resources.h"

namespace {

constexpr UINT_PTR kPlayTimerId = 1;

}  // namespace

// ---- attached components ----

TImageLibIO* TImageLibView::GetIO() {
  if (!FIO) {
    FIO = new TImageLibIO(this);
    FIO->SetAttachedImageLib(this);
    FIO->OnProgress = FOnProgress;
    FIO->OnFinishWork = FOnFinishWork;
  }
  return FIO;
}

TImageLibProc* TImageLibView::GetProc() {
  if (!FProc) {
    FProc = new TImageLibProc(this);
    FProc->SetAttachedImageLib(this);
    FProc->OnProgress = FOnProgress;
    FProc->OnFinishWork = FOnFinishWork;
    FProc->OnSaveUndo = FOnSaveUndo;
  }
  return FProc;
}

void TImageLibView::CopyHandlersToComponents() {
  if (FIO) {
    FIO->OnProgress = FOnProgress;
    FIO->OnFinishWork = FOnFinishWork;
  }
  if (FProc) {
    FProc->OnProgress = FOnProgress;
    FProc->OnFinishWork = FOnFinishWork;
    FProc->OnSaveUndo = FOnSaveUndo;
  }
}

void TImageLibView::SetOnProgress(TIEProgressEvent handler) {
  FOnProgress = std::move(handler);
  CopyHandlersToComponents();
}

void TImageLibView::SetOnFinishWork(TNotifyEvent handler) {
  FOnFinishWork = std::move(handler);
  CopyHandlersToComponents();
}

TIEProgressEvent TImageLibView::GetOnProgress() { return FOnProgress; }
TNotifyEvent TImageLibView::GetOnFinishWork() { return FOnFinishWork; }

void TImageLibView::SetOnSaveUndo(TIESaveUndoEvent handler) {
  FOnSaveUndo = std::move(handler);
  CopyHandlersToComponents();
}

// ---- playback ----

void TImageLibView::SetPlaying(bool value) {
  if (value == FPlaying) return;
  FPlaying = value;
  if (value) StartPlayTimer();
  else StopPlayTimer();
}

void TImageLibView::StartPlayTimer() {
  StopPlayTimer();
  if (!FPlaying) return;
  FPlayDelay = 0;
  if (FIO && FIO->Params().ImageCount >= 2) {
    if (FIO->Params().FileType == 2) FPlayDelay = FIO->Params().GifDelay * 10;
    else if (FIO->Params().FileType == 15) FPlayDelay = static_cast<int>(Round(FIO->Params().AviFrameDelay));
  }
  if (HasParentWindow() && HandleAllocated() && FPlayDelay > 0) {
    SetTimer(Handle(), kPlayTimerId, UINT(FPlayDelay), nullptr);
    FPlayTimerRunning = true;
  }
}

void TImageLibView::StopPlayTimer() {
  if (!FPlayTimerRunning) return;
  if (HandleAllocated()) KillTimer(Handle(), kPlayTimerId);
  FPlayTimerRunning = false;
}

void TImageLibView::PlayTimerFired() {
  StopPlayTimer();
  if (!FIO) return;
  const TIOParamsVals& p = FIO->Params();
  // The next frame through the component's page stepping, which reloads the
  // file at the new index; after the last, the first, where playback ends
  // unless it loops.
  if (p.ImageIndex < p.ImageCount - 1) {
    FIO->SeekPage(2, std::wstring());
  } else {
    FIO->SeekPage(0, std::wstring());
    if (!FPlayLoop) FPlaying = false;
  }
  if (FPlaying && !FIO->Aborting()) StartPlayTimer();
  else StopPlayTimer();
}

// ---- navigator ----

void TImageLibView::SetNavigator(TImageLibView* navigator, int options) {
  if (FNavigator) {
    FNavigator->OnSelectionChanging = nullptr;
    FNavigator->AttachBitmap(nullptr);
    FNavigator->FIsNavigator = false;
    FNavigator->FNavigatorOf = nullptr;
    FNavigator->RemoveFreeNotification(this);
  }
  FNavigator = navigator;
  if (!navigator) return;
  navigator->FIsNavigator = true;
  navigator->FNavigatorOf = this;
  navigator->SetEnableAlphaChannel(FEnableAlpha);
  navigator->SetAutoFit(true);
  navigator->SetMouseInteract(TIEMouseInteract{miSelect});
  navigator->SetSelectionBase(iesbBitmap);
  navigator->SetSelectionOptions(TIESelectionOptionsSet{iesoMoveable, iesoCanScroll});
  navigator->AttachBitmap(FIEBitmap);
  navigator->OnSelectionChanging = [this](TObject* sender) { NavigatorSelectionChanging(sender); };
  FNavigatorOptions = options;
  navigator->FNavigatorOptions = options;
  if (options & 1)
    navigator->OnMouseWheel = [this](TObject* s, TShiftState sh, int d, TPoint p, bool& h) {
      NavigatorMouseWheel(s, sh, d, p, h);
    };
  navigator->FreeNotification(this);
  SyncNavigator();
}

void TImageLibView::SyncNavigator() {
  if (!FNavigator || FNavigatorReentered || FPaintLock > 0) return;
  FNavigatorReentered = true;
  Invalidate();
  const int a = ScreenToBitmapX(FOffsetX), b = ScreenToBitmapY(FOffsetY);
  const int c = ScreenToBitmapX(FOffsetX + FDrawW), d = ScreenToBitmapY(FOffsetY + FDrawH);
  FNavigator->SetSelectionFixedSize(c - a, d - b);
  FNavigator->SetSelectionAspectRatio(0);
  FNavigator->Select(a, b, c, d, 0);
  FNavigatorReentered = false;
}

void TImageLibView::NavigatorSelectionChanging(TObject*) {
  if (FNavigatorReentered || !FNavigator) return;
  FNavigatorReentered = true;
  int left = 0, top = 0, right = 0, bottom = 0;
  FNavigator->SelectedRect(left, top, right, bottom);
  SetViewXY(static_cast<int>(Round(left * FZoomX / 100.0)), static_cast<int>(Round(top * FZoomX / 100.0)));
  FNavigatorReentered = false;
}

void TImageLibView::NavigatorMouseWheel(TObject*, TShiftState, int delta, TPoint mousePos, bool& handled) {
  const TIEMouseWheelParams& p = FNavigator->MouseWheelParams();
  int d = delta <= 0 ? 1 : -1;
  if (p.InvertWheel) d = -d;
  double z = FZoomX;
  if (p.Variation == 0) z = FZoomX + d * p.Value;
  else if (p.Variation == 1) z = FZoomX + d * std::max<int>(static_cast<int>(Round(p.Value * FZoomX / 100.0)), 1);
  if (z > FZoomX && OnZoomIn) OnZoomIn(this, z);
  else if (z < FZoomX && OnZoomOut) OnZoomOut(this, z);
  const TPoint local = ScreenToClient(mousePos);
  if (p.ZoomPosition) ZoomAt(local.x, local.y, z, false);
  else SetZoom(z);
  handled = true;
}

void TImageLibView::RemoveAuxObject(int index) {
  if (index < 0 || index >= AuxObjectCount()) return;
  FAuxObjects.erase(FAuxObjects.begin() + index);
}

// ---- cursors ----

std::string ViewCursorResourceName(int id) {
  static const char* const names[] = {
      "ZOOMMENO", "ZOOMPIU", "CROCE",   "GOMMA",   "MANO",    "PENNA",  "CROCE1", "CROCE3", "MOVE2", "MOVEY",
      "MOVE1",    "MOVEX",   "MOVE",    "CROCE3+", "CROCE3-", "CROCE2", "CROCE2+", "CROCE2-", "CROCE2-"};
  if (id >= 1778 && id <= 1796) return names[id - 1778];
  if (id == 1806) return "1803";  // the table names that resource twice
  if (id >= 1797 && id <= 1805) return std::to_string(id - 2);
  if (id >= 1807 && id <= 1810) return std::to_string(id - 2);
  if (id >= 1811 && id <= 1814) return "ROT" + std::to_string(id - 1810);
  return {};
}

void LoadViewCursors() {
  if (!Screen) return;
  for (int id = 1778; id <= 1814; ++id) {
    if (Screen->Cursors(id)) continue;
    const std::string name = ViewCursorResourceName(id);
    const bool numeric = !name.empty() && name.find_first_not_of("0123456789") == std::string::npos;
    HCURSOR cursor = numeric ? LoadCursor(HInstance, MAKEINTRESOURCE(std::stoi(name)))
                             : LoadCursor(HInstance, name.c_str());
    if (cursor) Screen->SetCursors(id, cursor);
  }
}

// ---- transitions ----

namespace {
TIETransitionEngineFactory& EngineFactory() {
  static TIETransitionEngineFactory factory;
  return factory;
}
}  // namespace

void SetTransitionEngineFactory(TIETransitionEngineFactory factory) { EngineFactory() = std::move(factory); }

std::unique_ptr<TIETransitionEngine> CreateTransitionEngine(TIEView* view) {
  const TIETransitionEngineFactory& factory = EngineFactory();
  return factory ? factory(view) : nullptr;
}

TIETransitionEngine* TImageLibView::EnsureTransitionEngine() {
  if (!FTransition) FTransition = CreateTransitionEngine(this);
  return FTransition.get();
}

void TImageLibView::StopTransition() {
  if (FTransition && FTransition->Running()) FTransition->Stop();
}

TNotifyEvent TImageLibView::OnTransitionStop() const {
  return FTransition ? FTransition->OnTransitionStop : TNotifyEvent();
}

void TImageLibView::SetOnTransitionStop(TNotifyEvent handler) {
  if (TIETransitionEngine* engine = EnsureTransitionEngine()) engine->OnTransitionStop = std::move(handler);
}

TIETransitionStepEvent TImageLibView::OnTransitionStep() const {
  return FTransition ? FTransition->OnTransitionStep : TIETransitionStepEvent();
}

void TImageLibView::SetOnTransitionStep(TIETransitionStepEvent handler) {
  if (TIETransitionEngine* engine = EnsureTransitionEngine()) engine->OnTransitionStep = std::move(handler);
}

TIEOnTransitionPaint TImageLibView::OnTransitionPaint() const {
  return FTransition ? FTransition->OnTransitionPaint() : TIEOnTransitionPaint();
}

void TImageLibView::SetOnTransitionPaint(TIEOnTransitionPaint handler) {
  if (TIETransitionEngine* engine = EnsureTransitionEngine()) engine->SetOnTransitionPaint(std::move(handler));
}
