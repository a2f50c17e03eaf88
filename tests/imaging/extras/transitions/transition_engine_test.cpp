// The engine on a view of a headless form: timing curves, ticks, stopping,
// events, the percent the step procedures get, and the view's hooks.
#include <gtest/gtest.h>

#include "imaging/extras/extras_registration.h"
#include "imaging/extras/transitions/transition_engine.h"
#include "imaging/extras/transitions/transition_steps.h"
#include "imaging/views/view_test_support.h"
#include "platform/ui/ext_ctrls.h"
#include "platform/win/system_info.h"
#include "transition_test_support.h"

using namespace transitiontest;

namespace {

TEST(TransitionCurves, GiveTheTabledStepsAndStayInRange) {
  struct Case {
    DWORD elapsed;
    int linear, exponential, logarithmic;
  };
  const Case cases[] = {{100, 102, 11, 556}, {250, 256, 23, 744}, {500, 512, 82, 886}, {750, 768, 287, 969},
                        {900, 921, 608, 1006}};
  for (const Case& c : cases) {
    EXPECT_EQ(TIETransitionEffects::StepAt(0, c.elapsed, 1000, -1), c.linear) << c.elapsed;
    EXPECT_EQ(TIETransitionEffects::StepAt(1, c.elapsed, 1000, -1), c.exponential) << c.elapsed;
    EXPECT_EQ(TIETransitionEffects::StepAt(2, c.elapsed, 1000, -1), c.logarithmic) << c.elapsed;
  }
  // The exponential curve starts at 6 and ends near 1003; the logarithmic one
  // is ln 0 at the start and negative just after: step 0 there, then clamped.
  EXPECT_EQ(TIETransitionEffects::StepAt(1, 0, 1000, -1), 6);
  EXPECT_EQ(TIETransitionEffects::StepAt(1, 1000, 1000, -1), 1003);
  EXPECT_EQ(TIETransitionEffects::StepAt(2, 0, 1000, -1), 0);
  EXPECT_EQ(TIETransitionEffects::StepAt(2, 5, 1000, -1), 0);
  EXPECT_EQ(TIETransitionEffects::StepAt(2, 980, 1000, -1), 1024);
  EXPECT_EQ(TIETransitionEffects::StepAt(0, 5000, 1000, -1), 1024);
  EXPECT_EQ(TIETransitionEffects::StepAt(1, 0xFFFFFFFF, 1, -1), 1024);
  EXPECT_EQ(TIETransitionEffects::StepAt(7, 500, 1000, 321), 321);
  EXPECT_EQ(TIETransitionEffects::StepAt(0, 0, 0, 5), 1024);
}

TEST(TransitionPercent, ScaleProgressKeepsProportionsAndEmptyFramesReachNothing) {
  int W, H, wp, hp;
  ScaleProgress(TRect{0, 0, 200, 100}, 50, W, H, wp, hp);
  EXPECT_EQ((std::vector<int>{W, H, wp, hp}), (std::vector<int>{200, 100, 100, 50}));
  ScaleProgress(TRect{0, 0, 100, 200}, 50, W, H, wp, hp);
  EXPECT_EQ((std::vector<int>{wp, hp}), (std::vector<int>{50, 100}));
  // MulDiv by a zero width is -1: the reach is 0, not negative.
  ScaleProgress(TRect{0, 0, 0, 0}, 50, W, H, wp, hp);
  EXPECT_EQ((std::vector<int>{wp, hp}), (std::vector<int>{0, 0}));
  ScaleProgress(TRect{0, 0, 10, 0}, 100, W, H, wp, hp);
  EXPECT_EQ((std::vector<int>{wp, hp}), (std::vector<int>{0, 0}));
}

class TransitionEngineTest : public ViewTest {
protected:
  void SetUp() override {
    ViewTest::SetUp();
    RegisterImagingExtras();
    MakeView(120, 80);
  }
  // An engine of the view, prepared with two random pictures.
  std::unique_ptr<TIETransitionEffects> Prepared(TIEView* owner, int w = 120, int h = 80) {
    auto e = std::make_unique<TIETransitionEffects>(owner);
    start = RandomPicture(w, h, 1);
    end = RandomPicture(w, h, 2);
    e->Prepare(start.get(), end.get(), w, h);
    e->TickCount = [this] { return now; };
    return e;
  }
  DWORD now = 1000;
  std::unique_ptr<TBitmap> start, end;
};

TEST_F(TransitionEngineTest, TicksPaintTheStepOfThePreviousTickAndFireEventsWithTheView) {
  auto e = Prepared(view);
  std::vector<std::pair<TObject*, int>> steps, paints;
  TBitmap* painted = nullptr;
  TIETransitionEffects* sentEngine = nullptr;
  e->OnTransitionStep = [&](TObject* s, int step) { steps.push_back({s, step}); };
  e->SetOnTransitionPaint([&](TObject* s, TBitmap* b, TIETransitionEffects* t, int step) {
    paints.push_back({s, step});
    painted = b;
    sentEngine = t;
  });
  e->Transition = iettCrossDissolve;
  e->Duration = 1000;
  ASSERT_TRUE(e->Start());
  EXPECT_EQ(view->PaintLockCount(), 1);
  e->TimerTick(nullptr);  // paints step 0, then works out the next
  now += 500;
  e->TimerTick(nullptr);
  ASSERT_EQ(steps.size(), 2u);
  EXPECT_EQ(steps[0], std::make_pair(static_cast<TObject*>(view), 0));
  EXPECT_EQ(steps[1], std::make_pair(static_cast<TObject*>(view), 0));
  EXPECT_EQ(e->CurrentStep, 512);
  ASSERT_EQ(paints.size(), 2u);
  EXPECT_EQ(paints[1].first, static_cast<TObject*>(view));
  EXPECT_EQ(painted, e->FrameImage());
  EXPECT_EQ(sentEngine, e.get());
  EXPECT_EQ(e->FrameCount, 2);
  // The frame painted was the start picture; the view's canvas shows it.
  EXPECT_EQ(Pixels(e->FrameImage()), Pixels(start.get()));
}

TEST_F(TransitionEngineTest, TheTickCounterWrappingKeepsTheElapsedTime) {
  auto e = Prepared(view);
  e->Transition = iettFadeOut;
  e->Duration = 1000;
  now = 0xFFFFFF00u;
  ASSERT_TRUE(e->Start());
  now = 0x64;  // 356 ms later, across the wrap
  e->TimerTick(nullptr);
  EXPECT_TRUE(e->Running());
  EXPECT_EQ(e->CurrentStep, 364);
}

TEST_F(TransitionEngineTest, TheLastTickShowsTheEndPictureAndStops) {
  auto e = Prepared(view);
  std::vector<int> paintSteps;
  int stops = 0;
  TObject* stopSender = nullptr;
  e->SetOnTransitionPaint([&](TObject*, TBitmap*, TIETransitionEffects*, int step) { paintSteps.push_back(step); });
  e->OnTransitionStop = [&](TObject* s) { ++stops, stopSender = s; };
  e->Transition = iettLeftRight1;
  e->UpdateOnStop = true;
  ASSERT_TRUE(e->Start());
  now += 1000;
  e->TimerTick(nullptr);
  EXPECT_FALSE(e->Running());
  EXPECT_EQ(paintSteps, (std::vector<int>{0, 1024}));
  EXPECT_EQ(stops, 1);
  EXPECT_EQ(stopSender, static_cast<TObject*>(view));
  EXPECT_EQ(view->PaintLockCount(), 0);
  // Stopped: 1 x 1 pictures and no row tables pointing into the old ones.
  EXPECT_EQ(e->FrameImage()->GetWidth(), 1);
  EXPECT_EQ(e->StartImage()->GetHeight(), 1);
  EXPECT_TRUE(e->FrameRows.empty() && e->StartRows.empty() && e->EndRows.empty());
  EXPECT_FALSE(e->Timer()->Enabled());
}

TEST_F(TransitionEngineTest, WithoutUpdateOnStopOrForAPanZoomTheEndPictureIsNotPainted) {
  for (TIETransitionType type : {iettCrossDissolve, iettPanZoom}) {
    auto e = Prepared(view);
    TIEBitmap source(50, 40, ie24RGB);
    std::vector<int> paintSteps;
    e->SetOnTransitionPaint([&](TObject*, TBitmap*, TIETransitionEffects*, int step) { paintSteps.push_back(step); });
    e->Transition = type;
    e->UpdateOnStop = type == iettPanZoom;
    e->PanZoomSource = &source;
    e->PanZoomStartRect = TRect{0, 0, 50, 40};
    e->PanZoomEndRect = TRect{10, 10, 30, 30};
    ASSERT_TRUE(e->Start());
    now += 2000;
    e->TimerTick(nullptr);
    EXPECT_FALSE(e->Running());
    EXPECT_EQ(paintSteps, (std::vector<int>{0})) << int(type);
  }
}

TEST_F(TransitionEngineTest, ADurationOfZeroEndsAtTheFirstTick) {
  auto e = Prepared(view);
  e->Transition = iettFadeIn;
  e->Duration = 0;
  ASSERT_TRUE(e->Start());
  e->TimerTick(nullptr);
  EXPECT_FALSE(e->Running());
}

TEST_F(TransitionEngineTest, StopIgnoresAnIdleEngineAndOneWithoutATransition) {
  auto e = Prepared(view);
  int stops = 0;
  e->OnTransitionStop = [&](TObject*) { ++stops; };
  e->Stop();  // idle
  EXPECT_EQ(e->FrameImage()->GetWidth(), 120);
  e->Transition = iettNone;
  EXPECT_FALSE(e->Start());
  e->Stop();
  EXPECT_EQ(stops, 0);
  EXPECT_EQ(e->FrameImage()->GetWidth(), 120);
}

TEST_F(TransitionEngineTest, StopWithoutAViewShrinksAndFiresNothing) {
  auto e = Prepared(nullptr);
  int stops = 0;
  e->OnTransitionStop = [&](TObject*) { ++stops; };
  e->Transition = iettRandomPoints;
  ASSERT_TRUE(e->Start());
  e->Stop();
  EXPECT_FALSE(e->Running());
  EXPECT_FALSE(e->Timer()->Enabled());
  EXPECT_EQ(e->FrameImage()->GetWidth(), 1);
  EXPECT_EQ(stops, 0);
}

TEST_F(TransitionEngineTest, StepProceduresGetTheRoundedPercent) {
  // A wipe from the top left reaches wp x hp: 100 x 50 at 50 percent of a
  // 200 x 100 frame, nothing at 0 percent (steps 1..5), 2 x 1 at 1 percent.
  auto e = Prepared(view, 200, 100);
  struct Case {
    int step, wp, hp;
  };
  for (const Case& c : {Case{512, 100, 50}, Case{5, 0, 0}, Case{6, 2, 1}, Case{1024, 200, 100}}) {
    const std::vector<uint8_t> frame = FrameAt(*e, iettWipeFromTopLeft, c.step);
    const std::vector<uint8_t> a = Pixels(start.get()), b = Pixels(end.get());
    int wrong = 0;
    for (int y = 0; y < 100; ++y)
      for (int x = 0; x < 200; ++x) {
        const size_t i = (size_t(y) * 200 + x) * 3;
        const auto& want = x < c.wp && y < c.hp ? b : a;
        wrong += !std::equal(want.begin() + long(i), want.begin() + long(i) + 3, frame.begin() + long(i));
      }
    EXPECT_EQ(wrong, 0) << c.step;
  }
}

TEST_F(TransitionEngineTest, TheViewMakesItsEngineOnFirstAssignmentAndStopsIt) {
  EXPECT_EQ(view->TransitionEngine(), nullptr);
  std::vector<TObject*> stops;
  view->SetOnTransitionStop([&](TObject* s) { stops.push_back(s); });
  auto* engine = dynamic_cast<TIETransitionEffects*>(view->TransitionEngine());
  ASSERT_NE(engine, nullptr);
  EXPECT_EQ(engine->View(), view);
  EXPECT_TRUE(view->OnTransitionStop());
  view->SetOnTransitionStep([](TObject*, int) {});
  view->SetOnTransitionPaint([](TObject*, TBitmap*, TIETransitionEffects*, int) {});
  EXPECT_EQ(view->TransitionEngine(), engine);  // one engine for all three
  EXPECT_TRUE(view->OnTransitionPaint());

  auto picture = RandomPicture(40, 30, 3);
  engine->Prepare(picture.get(), picture.get(), 40, 30);
  engine->Transition = iettCenter1;
  ASSERT_TRUE(engine->Start());
  view->Blank();
  EXPECT_FALSE(engine->Running());
  ASSERT_EQ(stops.size(), 1u);
  EXPECT_EQ(stops[0], static_cast<TObject*>(view));

  engine->Prepare(picture.get(), picture.get(), 40, 30);
  ASSERT_TRUE(engine->Start());
  view->SetBounds(0, 0, 100, 70);  // a resize stops it too
  EXPECT_FALSE(engine->Running());
  EXPECT_EQ(stops.size(), 2u);
}

TEST_F(TransitionEngineTest, PaintBackgroundToPaintsTheViewsBackground) {
  view->SetBackground(0x00336699);
  TBitmap target;
  target.SetPixelFormat(pf24bit);
  target.SetSize(30, 20);
  view->PaintBackgroundTo(target.Canvas(), 30, 20);
  EXPECT_EQ(target.Canvas()->Pixels(0, 0), TColor(0x00336699));
  EXPECT_EQ(target.Canvas()->Pixels(29, 19), TColor(0x00336699));
}

}  // namespace
