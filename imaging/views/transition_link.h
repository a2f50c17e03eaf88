#pragma once
// What a view needs of a transition engine, and where it gets one. The engine
// itself (its painters and its table of effects) sits with the library's
// extras, above the views; their registration installs the factory, and a
// view without one simply has no engine (its transition events stay unset).
#include <functional>
#include <memory>

#include "platform/rtl/object.h"

class TBitmap;
class TIEView;
class TIETransitionEffects;  // the engine the extras make

using TIETransitionStepEvent = std::function<void(TObject* Sender, int step)>;
using TIEOnTransitionPaint =
    std::function<void(TObject* Sender, TBitmap* Bitmap, TIETransitionEffects* Transition, int Step)>;

class TIETransitionEngine {
public:
  virtual ~TIETransitionEngine() = default;
  // Ends a running transition; nothing when none runs.
  virtual void Stop() = 0;
  virtual bool Running() const = 0;
  virtual void SetOnTransitionPaint(TIEOnTransitionPaint handler) = 0;
  virtual const TIEOnTransitionPaint& OnTransitionPaint() const = 0;

  // Plain fields the view reads and writes directly; Sender is the view.
  TNotifyEvent OnTransitionStop;
  TIETransitionStepEvent OnTransitionStep;
};

using TIETransitionEngineFactory = std::function<std::unique_ptr<TIETransitionEngine>(TIEView* view)>;
void SetTransitionEngineFactory(TIETransitionEngineFactory factory);
// A new engine for the view, or nil while no factory is installed.
std::unique_ptr<TIETransitionEngine> CreateTransitionEngine(TIEView* view);
