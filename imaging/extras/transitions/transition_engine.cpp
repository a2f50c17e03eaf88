#include "imaging/extras/transitions/transition_engine.h"

#include <algorithm>
#include <cmath>

#include "imaging/core/ie_helpers.h"
#include "imaging/views/ie_view.h"
#include "platform/graphics/gdi.h"
#include "platform/rtl/rounding.h"
#include "platform/ui/ext_ctrls.h"
#include "platform/win/system_info.h"

TResampleFilter IEPanZoomFilter = rfNone;

TIETransitionEffects::TIETransitionEffects(TIEView* view)
    : FView(view),
      FStartImage(std::make_unique<TBitmap>()),
      FEndImage(std::make_unique<TBitmap>()),
      FFrameImage(std::make_unique<TBitmap>()) {
  for (TBitmap* b : {FStartImage.get(), FEndImage.get(), FFrameImage.get()}) {
    b->SetPixelFormat(pf24bit);
    b->SetSize(1, 1);
  }
  // The timer is the engine's alone: the view frees the engine, the engine
  // its timer, so neither frees it twice.
  FTimer = std::make_unique<TTimer>(nullptr);
  FTimer->SetEnabled(false);
  FTimer->SetInterval(1);
  FTimer->OnTimer = [this](TObject* sender) { TimerTick(sender); };
  TickCount = [] { return GetTickCount(); };
}

TIETransitionEffects::~TIETransitionEffects() {
  ClearRowTables();
  FTimer.reset();
}

void TIETransitionEffects::ClearRowTables() {
  StartRows.clear();
  EndRows.clear();
  FrameRows.clear();
}

void TIETransitionEffects::FillRowTables() {
  ClearRowTables();
  for (int y = 0; y < FrameHeight; ++y) {
    StartRows.push_back(static_cast<uint8_t*>(FStartImage->ScanLine(y)));
    EndRows.push_back(static_cast<uint8_t*>(FEndImage->ScanLine(y)));
    FrameRows.push_back(static_cast<uint8_t*>(FFrameImage->ScanLine(y)));
  }
}

void TIETransitionEffects::SetFrameSize(int width, int height) {
  for (TBitmap* b : {FFrameImage.get(), FStartImage.get(), FEndImage.get()}) {
    b->SetPixelFormat(pf24bit);
    b->SetWidth(width);
    b->SetHeight(height);
  }
}

void TIETransitionEffects::Prepare(TBitmap* startPicture, TBitmap* endPicture, int width, int height) {
  FrameWidth = std::max(width, 1);
  FrameHeight = std::max(height, 1);
  SetFrameSize(FrameWidth, FrameHeight);
  auto fill = [this](TBitmap* image, TBitmap* picture) {
    TCanvas* c = image->Canvas();
    c->Brush()->SetColor(0);
    c->FillRect(TRect{0, 0, FrameWidth, FrameHeight});
    if (!picture || picture->GetEmpty()) return;
    SetStretchBltMode(c->Handle(), HALFTONE);
    c->StretchDraw(TRect{0, 0, FrameWidth, FrameHeight}, picture);
  };
  fill(FStartImage.get(), startPicture);
  fill(FEndImage.get(), endPicture);
  BitBlt(FFrameImage->Canvas()->Handle(), 0, 0, FrameWidth, FrameHeight, FStartImage->Canvas()->Handle(), 0, 0,
         SRCCOPY);
  FillRowTables();
  CurrentStep = 0;
  FirstStep = true;
  PreviousCount = 0;
  FrameCount = 0;
}

bool TIETransitionEffects::Start() {
  if (Transition == iettNone || Transition >= kTransitionTypeCount) return false;
  if (Transition == iettPanZoom && !PanZoomSource) return false;
  if (FRunning) Stop();
  if (StartRows.size() != size_t(FrameHeight)) FillRowTables();
  CurrentStep = 0;
  FirstStep = true;
  PreviousCount = 0;
  StartTick = TickCount();
  if (FView) FView->LockPaint();
  FRunning = true;
  FTimer->SetEnabled(true);
  return true;
}

void TIETransitionEffects::Stop() {
  if (!FRunning || Transition == iettNone) return;
  FTimer->SetEnabled(false);
  FRunning = false;
  SetFrameSize(1, 1);
  // The rows pointed into the pictures just shrunk.
  ClearRowTables();
  FrameWidth = FrameHeight = 1;
  if (!FView) return;
  FView->UnlockPaintNoRefresh();
  if (UpdateOnStop) static_cast<TIEViewLink*>(FView)->Update();  // the view's refresh
  if (OnTransitionStop) OnTransitionStop(FView);
}

int TIETransitionEffects::StepAt(uint8_t timing, DWORD elapsed, int duration, int current) {
  if (duration <= 0) return 1024;
  const long double t = static_cast<long double>(elapsed) / duration;
  long double v;
  switch (timing) {
    case 0: v = t * 1024; break;
    case 1: v = std::exp(5 * t - 2.718L) / 10 * 1024; break;
    case 2:
      // ln 0 is minus infinity and the curve is negative below t = 0.0066:
      // the transition has not begun there.
      if (t <= 0) return 0;
      v = (std::log(10 * t) + 2.718L) / 5 * 1024;
      if (v < 0) return 0;
      break;
    default: return current;
  }
  if (!(v < 1025)) return 1024;  // also infinity and NaN
  return static_cast<int>(std::trunc(v));
}

void TIETransitionEffects::TimerTick(TObject*) {
  if (!FRunning) return;
  TIEView* view = FView;
  if (OnTransitionStep) OnTransitionStep(view, CurrentStep);
  ++FrameCount;
  PaintStep(view ? view->GetCanvas() : nullptr);
  if (FOnTransitionPaint) FOnTransitionPaint(view, FFrameImage.get(), this, CurrentStep);
  const DWORD elapsed = TickCount() - StartTick;
  // A duration of 0 or less has passed at once.
  if (Duration <= 0 || elapsed >= static_cast<DWORD>(Duration)) {
    if (UpdateOnStop && Transition != iettPanZoom) {
      if (view && view->GetCanvas())
        BitBlt(view->GetCanvas()->Handle(), 0, 0, FrameWidth, FrameHeight, FEndImage->Canvas()->Handle(), 0, 0,
               SRCCOPY);
      if (FOnTransitionPaint) FOnTransitionPaint(view, FEndImage.get(), this, 1024);
    }
    Stop();
  }
  CurrentStep = StepAt(Timing, elapsed, Duration, CurrentStep);
  FirstStep = false;
}

void TIETransitionEffects::PaintStep(TCanvas* canvas) {
  // Only a frame whose three pictures and row tables agree is painted.
  const bool consistent = FrameWidth >= 1 && FrameHeight >= 1 && FFrameImage->GetWidth() == FrameWidth &&
                          FFrameImage->GetHeight() == FrameHeight && FStartImage->GetWidth() == FrameWidth &&
                          FStartImage->GetHeight() == FrameHeight && FEndImage->GetWidth() == FrameWidth &&
                          FEndImage->GetHeight() == FrameHeight && FrameRows.size() == size_t(FrameHeight) &&
                          StartRows.size() == size_t(FrameHeight) && EndRows.size() == size_t(FrameHeight);
  if (consistent && !PaintBuiltIn()) PaintExtraTransitionStep(Transition, CurrentStep);
  if (canvas && canvas->Handle())
    BitBlt(canvas->Handle(), 0, 0, FrameWidth, FrameHeight, FFrameImage->Canvas()->Handle(), 0, 0, SRCCOPY);
}

void TIETransitionEffects::PaintExtraTransitionStep(TIETransitionType transition, int step) {
  step = std::clamp(step, 0, 1024);
  if (step == 0 || FirstStep) {
    CopyFrom(FStartImage.get(), 0, 0, FrameWidth, FrameHeight);
    return;
  }
  if (transition < 1 || transition > kEffectCount) return;
  const TEffectStepProc proc = EffectTable[transition - 1].StepProc;
  if (!proc) return;
  TCanvas* canvas = FFrameImage->Canvas();
  SetStretchBltMode(canvas->Handle(), HALFTONE);
  const int percent = static_cast<int>(Round(step / 1024.0 * 100));
  proc(canvas, FStartImage.get(), FEndImage.get(), TRect{0, 0, FFrameImage->GetWidth(), FFrameImage->GetHeight()},
       step, percent);
}

void TIETransitionEffects::CopyFrom(TBitmap* source, int x, int y, int w, int h) {
  BitBlt(FFrameImage->Canvas()->Handle(), x, y, w, h, source->Canvas()->Handle(), x, y, SRCCOPY);
}

void TIETransitionEffects::StretchFrom(TBitmap* source, int sx, int sy, int sw, int sh, int x, int y, int w, int h) {
  StretchBlt(FFrameImage->Canvas()->Handle(), x, y, w, h, source->Canvas()->Handle(), sx, sy, sw, sh, SRCCOPY);
}

void TIETransitionEffects::Restart(int s) {
  if (s == 0 || FirstStep) FFrameImage->Canvas()->Draw(0, 0, FStartImage.get());
}
