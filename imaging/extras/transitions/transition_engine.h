#pragma once
// TIETransitionEffects: animates a view's change from one picture to another.
// A 1 ms timer works out how far the transition has come (a step 0..1024 from
// the elapsed time and a timing curve), paints that frame into FrameImage,
// copies it onto the view's canvas and fires the events; when the duration has
// passed it stops. 43 kinds are painted by the engine's own painters, the rest
// by the step procedures of EffectTable.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "imaging/core/ie_resample.h"
#include "imaging/extras/transitions/transition_types.h"
#include "imaging/views/transition_link.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/win/win_types.h"

class TIEBitmap;
class TIEView;
class TTimer;

// The resampling filter of the pan-zoom frames; nothing changes it.
extern TResampleFilter IEPanZoomFilter;

class TIETransitionEffects : public TObject, public TIETransitionEngine {
public:
  explicit TIETransitionEffects(TIEView* view);
  ~TIETransitionEffects() override;

  // ---- TIETransitionEngine ----
  void Stop() override;
  bool Running() const override { return FRunning; }
  void SetOnTransitionPaint(TIEOnTransitionPaint handler) override { FOnTransitionPaint = std::move(handler); }
  const TIEOnTransitionPaint& OnTransitionPaint() const override { return FOnTransitionPaint; }

  // Paints the frame of CurrentStep into FrameImage and copies it onto the
  // canvas (none: only the frame).
  void PaintStep(TCanvas* canvas);
  void TimerTick(TObject* sender);
  void PaintExtraTransitionStep(TIETransitionType transition, int step);

  // ---- the start operation ----
  // Sizes the three bitmaps to width x height (24-bit, bottom-up rows),
  // stretches the pictures into StartImage and EndImage (either may be nil,
  // leaving its image black), fills the row tables and resets the progress
  // (step 0, first frame, no points yet). Sizes below 1 become 1.
  void Prepare(TBitmap* startPicture, TBitmap* endPicture, int width, int height);
  // Runs a prepared transition: Transition (not iettNone), Duration, Timing,
  // BackgroundColor, UpdateOnStop and for a pan-zoom its source and rectangles
  // set first. Takes one level of the view's paint lock, which Stop gives back.
  // False (nothing started) for iettNone or a pan-zoom without a source.
  bool Start();

  // ---- fields ----
  TBitmap* StartImage() { return FStartImage.get(); }
  TBitmap* EndImage() { return FEndImage.get(); }
  TBitmap* FrameImage() { return FFrameImage.get(); }
  TIEBitmap* PanZoomSource = nullptr;  // not owned
  // Row i of each image (from the top); FrameWidth pixels of 3 bytes, BGR.
  std::vector<uint8_t*> StartRows, EndRows, FrameRows;
  int FrameWidth = 0;
  int FrameHeight = 0;
  TIEView* View() const { return FView; }
  TTimer* Timer() const { return FTimer.get(); }
  int CurrentStep = 0;
  bool FirstStep = false;
  int PreviousCount = 0;
  TIETransitionType Transition = iettNone;
  int Duration = 1000;
  DWORD StartTick = 0;
  bool UpdateOnStop = false;
  TRect PanZoomStartRect{};
  TRect PanZoomEndRect{};
  uint8_t Timing = 0;  // 0 linear, 1 exponential, 2 logarithmic
  TColor BackgroundColor = 0;
  // Least and greatest left, top, bottom and right edge used so far.
  int PanZoomBounds[8] = {};
  int FrameCount = 0;
  // Where the engine reads the time; tests put their own clock here.
  std::function<DWORD()> TickCount;

  // The step the timing curve gives after elapsed of duration milliseconds
  // (unclamped curves clamped to 0..1024); current is kept for an unknown curve.
  static int StepAt(uint8_t timing, DWORD elapsed, int duration, int current);

private:
  // ---- the built-in painters ----
  bool PaintBuiltIn();
  void Restart(int s);
  void PaintBlend(int kind, int s);
  void PaintWipe(int s);
  void PaintSlide(int s);
  void PaintRowMove(int s);
  void PaintRandomPoints(int s);
  void PaintRandomBoxes(int s);
  void PaintCenter(int s);
  void PaintPageFlip(int s);
  void PaintCubeRotation(int s);
  void PaintSoftWipe(int s);
  void PaintPanZoom(int s);
  void Shade(int left, int top, int right, int bottom, int weight);
  void CopyFrom(TBitmap* source, int x, int y, int w, int h);
  void StretchFrom(TBitmap* source, int sx, int sy, int sw, int sh, int x, int y, int w, int h);
  void FillRowTables();
  void ClearRowTables();
  void SetFrameSize(int width, int height);

  TIEView* FView;
  std::unique_ptr<TBitmap> FStartImage;
  std::unique_ptr<TBitmap> FEndImage;
  std::unique_ptr<TBitmap> FFrameImage;
  std::unique_ptr<TTimer> FTimer;
  bool FRunning = false;
  TIEOnTransitionPaint FOnTransitionPaint;
};
