#include "pictures/gif/gif_painter.h"

#include <algorithm>
#include <atomic>
#include <chrono>

#include "platform/graphics/graphics_canvas.h"
#include "platform/rtl/rounding.h"
#include "platform/win/system_info.h"

// ---- Clock ----

uint32_t TGIFClock::Now() { return timeGetTime(); }
TWaitResult TGIFClock::WaitFor(TEvent& event, uint32_t ms) { return event.WaitFor(ms); }
void TGIFClock::Sleep(uint32_t ms) { ::Sleep(ms); }
void TGIFClock::Yield() { ::Sleep(0); }

namespace {

std::atomic<TGIFClock*> gClock{nullptr};

TGIFClock& SystemClock() {
  static TGIFClock clock;
  return clock;
}

bool OnMainThread() { return std::this_thread::get_id() == MainThreadID(); }

// Lets queued work of painter threads run while the main thread waits for them.
// While painters are being stopped (also from a destructor) a failure that
// comes out of the queue belongs to a painter that is going away: it is dropped.
void PumpMainThread(uint32_t waitMs, bool dropFailures) {
  if (!OnMainThread()) {
    GIFClock().Yield();
    return;
  }
  try {
    CheckSynchronize(waitMs);
    if (ProcessPendingMessages) ProcessPendingMessages();
  } catch (...) {
    if (!dropFailures) throw;
  }
}

// How long the main thread waits for painters before it lets go of them.
constexpr auto kStopPatience = std::chrono::seconds(5);

// What the animation loop needs to know of a frame, taken on the main thread.
struct TFrameInfo {
  bool exists = false;
  bool empty = true;
  int loopCount = -1;  // -1: no looping extension
  bool hasControl = false;
  int disposal = 1;
  int delay = 0;
};

}  // namespace

void SetGIFClock(TGIFClock* clock) { gClock = clock; }

TGIFClock& GIFClock() {
  TGIFClock* c = gClock.load();
  return c ? *c : SystemClock();
}

// ---- Making and ending a painter ----

TGIFPainter::TGIFPainter(TGIFImage* image, TGIFDrawFlags flags, const TRect& rect, TCanvas* canvas)
    : TThread(true), FOwnerImage(image), FTargetCanvas(canvas), FTargetRect(rect), FPaintFlags(flags) {
  Setup();
}

TGIFPainter::TGIFPainter(TGIFPainter** slot, TGIFDrawFlags flags, const TRect& rect, TCanvas* canvas,
                         TGIFImage* image)
    : TThread(true), FOwnerImage(image), FTargetCanvas(canvas), FTargetRect(rect), FPaintFlags(flags) {
  FPainterSlot = slot;
  if (slot) *slot = this;
  Setup();
}

void TGIFPainter::Setup() {
  FSpeedPercent = FOwnerImage->SpeedPercent();
  if (Threaded()) {
    SetFreeOnTerminate(true);
    OnTerminate = [this](TObject*) { Cleanup(); };
    // Every threaded painter can be woken, so no wait of it ever spins or
    // outlasts a stop.
    FWakeEvent = std::make_unique<TEvent>(false, false);
  }
  if (FOwnerImage->PaintBackground() != kGIFNoPaintBackground) {
    FBackground = ColorToRGB(FOwnerImage->PaintBackground());
  } else if (FOwnerImage->GlobalColorMap().EntryCount() == 0) {
    FBackground = static_cast<TColor>(GetSysColor(COLOR_WINDOW));
  } else {
    FBackground = FOwnerImage->BackgroundColor();
  }
  bool used[8] = {};
  TGIFImageList& frames = FOwnerImage->Frames();
  for (int i = 0; i < frames.Count(); ++i)
    if (TGIFGraphicControlExtension* g = frames[i]->ControlExtension()) used[g->DisposalMethod()] = true;
  if (FPaintFlags & dfClearEachPass) used[2] = true;
  const int w = FTargetRect.right - FTargetRect.left;
  const int h = FTargetRect.bottom - FTargetRect.top;
  const TRect whole{0, 0, w, h};
  auto copyOfTarget = [&] {
    auto b = std::make_unique<TBitmap>();
    b->SetSize(w, h);
    b->Canvas()->Brush()->SetColor(FBackground);
    b->Canvas()->CopyRect(whole, FTargetCanvas, FTargetRect);
    return b;
  };
  if (used[2] && (FPaintFlags & dfMasked)) FSavedBackground = copyOfTarget();
  if (used[2] || used[3]) {
    FSceneBuffer = copyOfTarget();
    FComposeBuffer = std::make_unique<TBitmap>();
    FComposeBuffer->SetSize(w, h);
    FComposeBuffer->Canvas()->Brush()->SetColor(FBackground);
  }
}

TGIFPainter::~TGIFPainter() { Cleanup(); }

void TGIFPainter::Cleanup() {
  if (FCleanedUp) return;
  FCleanedUp = true;
  if (TGIFImage* image = FOwnerImage) {
    image->PainterLock().Enter();
    if (FPainterSlot && *FPainterSlot == this) *FPainterSlot = nullptr;
    auto& list = image->PainterList();
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    FOwnerImage = nullptr;
    image->PainterLock().Leave();
  }
  FSceneBuffer.reset();
  FComposeBuffer.reset();
  FSavedBackground.reset();
}

void TGIFPainter::Stop() {
  Terminate();
  if (FWakeEvent) FWakeEvent->SetEvent();
  SetPriority(tpNormal);
}

// ---- The gate to the main thread ----

void TGIFPainter::Gate(const std::function<void()>& call) {
  if (Stopped()) return;
  auto guarded = [&] {
    // Checked again on the main thread: the image may have let go of us meanwhile.
    if (!FOwnerImage || Stopped()) return;
    call();
  };
  if (Threaded()) {
    TThread::Synchronize(this, guarded);
  } else {
    guarded();
  }
}

void TGIFPainter::Fire(const TNotifyEvent& event) {
  if (event) Gate([&] { event(this); });
}

// ---- The animation loop ----

void TGIFPainter::WaitFrame(int delay) {
  TGIFClock& clock = GIFClock();
  if (delay < 1) {
    clock.Yield();
    return;
  }
  const int index = FFrameIndex;
  Gate([&] {
    if (index < FOwnerImage->Frames().Count()) FOwnerImage->Frames()[index]->GetRendering();
  });
  const uint32_t now = clock.Now();
  const bool infinite = FSpeedPercent < 1;
  int64_t wait = 0;
  if (!infinite) {
    const int64_t lag = static_cast<int32_t>(now - (FTimeStamp + static_cast<uint32_t>(FPreviousWait)));
    wait = Round(static_cast<double>(int64_t{delay} * 12 - lag / 2) * 100.0 / FSpeedPercent);
    FPreviousWait = static_cast<int>(wait);
  } else if (!Threaded()) {
    wait = 1000 * 12;
  }
  FTimeStamp = now;
  if (Threaded()) {
    if (wait > 0 || infinite) {
      const uint32_t ms = infinite ? kInfiniteWait : static_cast<uint32_t>(std::min<int64_t>(wait, 0xFFFFFFFE));
      if (clock.WaitFor(*FWakeEvent, ms) == wrSignaled) {
        FPreviousWait = 0;
        FTimeStamp = clock.Now();
      }
    }
    return;
  }
  // Inside Draw on the main thread: sleep in slices and keep the program alive.
  if (wait < 1) wait = 1;
  while (wait > 0 && !Stopped() && !FRestartWanted) {
    const uint32_t slice = static_cast<uint32_t>(std::min<int64_t>(wait, 100));
    const uint32_t before = clock.Now();
    clock.Sleep(slice);
    PumpMainThread(0, false);
    wait -= static_cast<int64_t>(clock.Now() - before);
  }
}

void TGIFPainter::Execute() {
  try {
    if (FPaintFlags & dfCheckCanvas) Gate([&] { FCanvasHandle = FTargetCanvas->Handle(); });
    FRestartWanted = true;
    while (FRestartWanted && !Stopped()) {
      FFrameIndex = 0;
      Fire(OnPaintStart);
      FStarted = false;
      FRestartWanted = false;
      int passesLeft = 1;
      int passStart = 0;
      bool loopSeen = false;
      int delay = Threaded() ? 0 : 1;
      FPreviousDisposal = 1;
      FTimeStamp = GIFClock().Now();
      FPreviousWait = 0;
      while ((passesLeft != 0 || (FPaintFlags & dfRepeatForever)) && !Stopped() && !FRestartWanted) {
        FFrameIndex = passStart;
        if (FStarted) Fire(OnPassStart);
        while (!Stopped() && !FRestartWanted) {
          TFrameInfo info;
          const int index = FFrameIndex;
          Gate([&] {
            TGIFImageList& frames = FOwnerImage->Frames();
            if (index < 0 || index >= frames.Count()) return;
            TGIFSubImage* f = frames[index];
            info.exists = true;
            info.empty = f->IsEmpty();
            TGIFExtensionList& list = f->ExtensionBlocks();
            for (int i = 0; i < list.Count(); ++i) {
              TGIFExtension* e = list.GetExtensionAt(i);
              if (auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(e)) {
                if (info.loopCount < 0) info.loopCount = loop->LoopCount;
              } else if (auto* g = dynamic_cast<TGIFGraphicControlExtension*>(e)) {
                info.disposal = g->DisposalMethod();
                if (!info.hasControl) info.delay = g->FrameDelay();
                info.hasControl = true;
              }
            }
          });
          if (!info.exists || info.empty) break;
          WaitFrame(delay);
          if (Stopped()) break;
          Fire(OnBeforeFrame);
          if (Stopped()) break;
          FCurrentDisposal = info.disposal;
          if (info.loopCount >= 0 && !loopSeen) {
            loopSeen = true;
            passesLeft = info.loopCount;
            passStart = index;
            if (info.loopCount == 0 || (FPaintFlags & dfRepeatForever)) passesLeft = Threaded() ? -1 : 0;
          }
          Gate([&] { DrawCurrentFrame(FOwnerImage->Frames()[index]); });
          FPreviousDisposal = FCurrentDisposal;
          if (Stopped()) break;
          delay = 10;
          if (info.hasControl && info.delay != 0) {
            delay = std::max(info.delay, 3);
            if (!Threaded()) delay = std::min(delay, 1000);
          }
          Fire(OnAfterFrame);
          if (Stopped()) break;
          if (FFrameIndex == index) FFrameIndex = index + 1;
          if (!(FPaintFlags & dfAnimated)) break;
        }
        if (passesLeft > 0) --passesLeft;
        if (!((FPaintFlags & dfAnimated) && (FPaintFlags & dfRepeat))) break;
      }
    }
    FFrameIndex = -1;
    Fire(OnPaintEnd);
  } catch (...) {
    FFailure = std::current_exception();
    Terminate();
  }
  if (FFailure && Threaded()) {
    // Handed to the main thread, which meets it in CheckSynchronize.
    TThread::Queue(nullptr, [failure = FFailure] { std::rethrow_exception(failure); });
  }
}

// ---- Drawing a frame (on the main thread) ----

void TGIFPainter::Signal() {
  if (FPaintFlags & dfPaintInPlace) {
    if (FTargetCanvas->OnChange) FTargetCanvas->OnChange(FTargetCanvas);
  } else if (FOwnerImage) {
    FOwnerImage->NotifyChanged(FOwnerImage);
  }
}

void TGIFPainter::DrawCurrentFrame(TGIFSubImage* frame) {
  const bool tiled = FPaintFlags & dfTiled;
  const bool masked = FPaintFlags & dfMasked;
  if (FSceneBuffer) {
    DrawWithDisposal(frame);
  } else {
    frame->DrawFrame(FTargetCanvas, FTargetRect, tiled, masked);
    FStarted = true;
  }
  Signal();
}

void TGIFPainter::DrawWithDisposal(TGIFSubImage* frame) {
  if (FPaintFlags & dfCheckCanvas) {
    const DWORD type = GetObjectType(FCanvasHandle);
    if (type != OBJ_DC && type != OBJ_MEMDC) {
      Stop();
      return;
    }
  }
  const bool tiled = FPaintFlags & dfTiled;
  const bool masked = FPaintFlags & dfMasked;
  const bool clearFirst = (FPaintFlags & dfClearEachPass) && FFrameIndex == 0;
  const TRect whole{0, 0, FSceneBuffer->Width(), FSceneBuffer->Height()};
  auto drawInto = [&](TBitmap* buffer, TCanvas* canvas, const TRect& rect) {
    if (clearFirst && buffer) RestoreBackground(frame, buffer);
    frame->DrawFrame(canvas, rect, tiled, masked);
  };
  auto show = [&](TBitmap* buffer) { FTargetCanvas->CopyRect(FTargetRect, buffer->Canvas(), whole); };
  switch (FCurrentDisposal) {
    case 0:
    case 1:
      drawInto(FSceneBuffer.get(), FSceneBuffer->Canvas(), whole);
      show(FSceneBuffer.get());
      break;
    case 2:
      drawInto(FSceneBuffer.get(), FSceneBuffer->Canvas(), whole);
      show(FSceneBuffer.get());
      RestoreBackground(frame, FSceneBuffer.get());
      break;
    case 3:
      if (FPreviousDisposal == 0 || FPreviousDisposal == 1) {
        // The scene keeps the picture without this frame for the next one.
        drawInto(nullptr, FTargetCanvas, FTargetRect);
      } else if (FPreviousDisposal == 2 || FPreviousDisposal == 3) {
        FComposeBuffer->Canvas()->CopyRect(whole, FSceneBuffer->Canvas(), whole);
        drawInto(FComposeBuffer.get(), FComposeBuffer->Canvas(), whole);
        show(FComposeBuffer.get());
      }
      break;
    default:
      break;  // methods 4 to 7 are not defined: nothing is drawn
  }
  FStarted = true;
}

void TGIFPainter::RestoreBackground(TGIFSubImage* frame, TBitmap* buffer) {
  const int screenW = FOwnerImage->Width();
  const int screenH = FOwnerImage->Height();
  const TRect whole{0, 0, buffer->Width(), buffer->Height()};
  const bool tiled = FPaintFlags & dfTiled;
  auto eachTile = [&](auto&& f) {
    if (screenW <= 0 || screenH <= 0) return;
    for (int y = frame->Top(); y < whole.bottom; y += screenH)
      for (int x = frame->Left(); x < whole.right; x += screenW) f(TRect{x, y, x + frame->Width(), y + frame->Height()});
  };
  TCanvas* canvas = buffer->Canvas();
  if ((FPaintFlags & dfMasked) && FSavedBackground) {
    auto copyBack = [&](const TRect& r) { canvas->CopyRect(r, FSavedBackground->Canvas(), r); };
    if (tiled) eachTile(copyBack);
    else copyBack(frame->ScaleFrameRect(whole));
    return;
  }
  canvas->Brush()->SetColor(FBackground);
  auto fill = [&](const TRect& r) { canvas->FillRect(r); };
  if (tiled && frame->Width() < screenW && frame->Height() < screenH) eachTile(fill);
  else fill(frame->ScaleFrameRect(whole));
}

// ---- The image's side ----

TGIFPainter* TGIFImage::StartPainter(TGIFPainter** slot, TCanvas* canvas, TGIFDrawFlags flags, const TRect& rect) {
  if (GetEmpty() || rect.right <= rect.left || rect.bottom <= rect.top) {
    if (slot) *slot = nullptr;
    return nullptr;
  }
  if (Frames().Count() == 1) flags &= ~(dfThreaded | dfAnimated);
  auto* painter = new TGIFPainter(slot, flags, rect, canvas, this);
  {
    FPainterLock.Enter();
    FPainterList.push_back(painter);
    FPainterLock.Leave();
  }
  painter->OnPaintStart = OnPaintStart;
  painter->OnBeforeFrame = OnBeforeFrame;
  painter->OnAfterFrame = OnAfterFrame;
  painter->OnPassStart = OnPassStart;
  painter->OnPaintEnd = OnPaintEnd;
  if (flags & dfThreaded) {
    painter->SetPriority(FPainterPriority);
    return painter;
  }
  painter->RunInline();
  std::exception_ptr failure = painter->Failure();
  delete painter;
  if (slot && *slot == painter) *slot = nullptr;
  if (failure) std::rethrow_exception(failure);
  return nullptr;
}

void TGIFImage::StopActivePainter() {
  const auto deadline = std::chrono::steady_clock::now() + kStopPatience;
  while (true) {
    FPainterLock.Enter();
    TGIFPainter* p = FActivePainter;
    if (!p) {
      FPainterLock.Leave();
      break;
    }
    p->Stop();
    if (!p->Threaded() || p->Suspended()) {
      FPainterLock.Leave();
      break;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      // It will not stop in time: it lets go of this image and ends on its own.
      FActivePainter = nullptr;
      FPainterList.erase(std::remove(FPainterList.begin(), FPainterList.end(), p), FPainterList.end());
      p->ForgetImage();
      FPainterLock.Leave();
      break;
    }
    FPainterLock.Leave();
    PumpMainThread(5, true);
  }
  FCachedBitmap.reset();
}

void TGIFImage::StopAllPainters() {
  const auto deadline = std::chrono::steady_clock::now() + kStopPatience;
  while (true) {
    FPainterLock.Enter();
    if (FPainterList.empty()) {
      FPainterLock.Leave();
      break;
    }
    int threaded = 0;
    for (TGIFPainter* p : FPainterList) {
      p->Stop();
      if (p->Threaded() && !p->Suspended()) ++threaded;
    }
    if (threaded == 0 || std::chrono::steady_clock::now() > deadline) {
      // Painters never started, or that will not stop in time, let go of us.
      for (TGIFPainter* p : FPainterList) p->ForgetImage();
      FPainterList.clear();
      FActivePainter = nullptr;
      FPainterLock.Leave();
      break;
    }
    FPainterLock.Leave();
    PumpMainThread(5, true);
  }
  FCachedBitmap.reset();
}

void PumpForPainter(uint32_t waitMs) { PumpMainThread(waitMs, false); }
