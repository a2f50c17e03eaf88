#pragma once
// TGIFPainter: plays the frames of an animated GIF onto a canvas. A threaded
// painter only keeps time on its own thread; every drawing call and event runs
// on the main thread through TThread::Synchronize. Time and waits go through
// TGIFClock, which tests replace.
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

#include "pictures/gif/gif_image.h"
#include "platform/rtl/threads.h"

class TGIFClock {
public:
  virtual ~TGIFClock() = default;
  // Milliseconds, wrapping as timeGetTime does.
  virtual uint32_t Now();
  // Waits for the event at most ms milliseconds (kInfiniteWait: until set).
  virtual TWaitResult WaitFor(TEvent& event, uint32_t ms);
  virtual void Sleep(uint32_t ms);
  // Gives up the rest of the time slice.
  virtual void Yield();
};

// The clock every painter uses; nullptr restores the system clock.
void SetGIFClock(TGIFClock* clock);
TGIFClock& GIFClock();

class TGIFPainter : public TThread {
public:
  TGIFPainter(TGIFImage* image, TGIFDrawFlags flags, const TRect& rect, TCanvas* canvas);
  TGIFPainter(TGIFPainter** slot, TGIFDrawFlags flags, const TRect& rect, TCanvas* canvas, TGIFImage* image);
  ~TGIFPainter() override;

  void Stop();
  // Detaches the painter from an image that is going away.
  void ForgetImage() { FOwnerImage = nullptr; }

  TGIFImage* OwnerImage() const { return FOwnerImage; }
  TCanvas* TargetCanvas() const { return FTargetCanvas; }
  const TRect& TargetRect() const { return FTargetRect; }
  TGIFDrawFlags PaintFlags() const { return FPaintFlags; }
  bool Threaded() const { return (FPaintFlags & dfThreaded) != 0; }
  int FrameIndex() const { return FFrameIndex; }
  void SetFrameIndex(int value) { FFrameIndex = value; }
  bool Started() const { return FStarted; }
  void Restart() { FRestartWanted = true; }
  // The exception that ended the animation, if any.
  std::exception_ptr Failure() const { return FFailure; }

  TNotifyEvent OnPaintStart;
  TNotifyEvent OnBeforeFrame;
  TNotifyEvent OnAfterFrame;
  TNotifyEvent OnPassStart;
  TNotifyEvent OnPaintEnd;

  // Runs the animation on the calling thread (a painter that is not threaded).
  void RunInline() { Execute(); }

protected:
  void Execute() override;

private:
  void Setup();
  void Cleanup();
  void Gate(const std::function<void()>& call);
  void Fire(const TNotifyEvent& event);
  void WaitFrame(int delay);
  void DrawCurrentFrame(TGIFSubImage* frame);
  void DrawWithDisposal(TGIFSubImage* frame);
  void RestoreBackground(TGIFSubImage* frame, TBitmap* buffer);
  void Signal();
  bool Stopped() const { return Terminated(); }

  TGIFImage* FOwnerImage;
  TCanvas* FTargetCanvas;
  TRect FTargetRect;
  TGIFDrawFlags FPaintFlags;
  int FSpeedPercent;
  std::atomic<int> FFrameIndex{-1};
  int FCurrentDisposal = 1;
  int FPreviousDisposal = 1;
  std::unique_ptr<TBitmap> FSceneBuffer;
  std::unique_ptr<TBitmap> FComposeBuffer;
  std::unique_ptr<TBitmap> FSavedBackground;
  HDC FCanvasHandle = nullptr;
  std::atomic<bool> FRestartWanted{false};
  std::atomic<bool> FStarted{false};
  TGIFPainter** FPainterSlot = nullptr;
  std::unique_ptr<TEvent> FWakeEvent;
  TColor FBackground = 0;
  std::exception_ptr FFailure;
  uint32_t FTimeStamp = 0;
  int FPreviousWait = 0;
  bool FCleanedUp = false;
};

// Runs the main thread's queued work once (waiting up to waitMs for some); its
// failures pass to the caller. Elsewhere than on the main thread it only yields.
void PumpForPainter(uint32_t waitMs);
