// The animation painter on a virtual clock: its timing, looping, stopping, the
// thread its drawing runs on, failures, and the pictures it composes.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "gif_test_util.h"
#include "pictures/gif/gif_painter.h"
#include "platform/graphics/graphics_canvas.h"
#include "test_support.h"

using namespace giftest;

namespace {

// Time passes only when the painter waits or sleeps; waits without end really block.
class VirtualClock : public TGIFClock {
public:
  uint32_t Now() override { return FNow.load(); }
  TWaitResult WaitFor(TEvent& event, uint32_t ms) override {
    if (ms == kInfiniteWait) {
      Record(ms);
      return event.WaitFor(kInfiniteWait);
    }
    if (event.WaitFor(0) == wrSignaled) return wrSignaled;
    Record(ms);
    FNow += ms;
    return wrTimeout;
  }
  void Sleep(uint32_t ms) override { FNow += ms; }
  void Yield() override { std::this_thread::yield(); }
  std::vector<uint32_t> Waits() {
    std::lock_guard<std::mutex> lock(FLock);
    return FWaits;
  }
  void Reset() {
    std::lock_guard<std::mutex> lock(FLock);
    FWaits.clear();
  }

private:
  void Record(uint32_t ms) {
    std::lock_guard<std::mutex> lock(FLock);
    FWaits.push_back(ms);
  }
  std::atomic<uint32_t> FNow{1000};
  std::mutex FLock;
  std::vector<uint32_t> FWaits;
};

class GifPainter : public ::testing::Test {
protected:
  void SetUp() override { SetGIFClock(&clock); }
  void TearDown() override { SetGIFClock(nullptr); }

  // Frames of 4x4 in one colour each, with these delays (-1: no control extension).
  void Build(TGIFImage& image, const std::vector<int>& delays, int loop = -1) {
    for (size_t i = 0; i < delays.size(); ++i) {
      TGIFSubImage* f = AddIndexedFrame(image, 0, 0, 4, 4, std::vector<uint8_t>(16, static_cast<uint8_t>(i % 2)),
                                        {0x0000FF, 0x00FF00});
      if (delays[i] >= 0) {
        auto g = std::make_unique<TGIFGraphicControlExtension>(f);
        g->SetFrameDelay(delays[i]);
        f->ExtensionBlocks().AppendItem(std::move(g));
      }
    }
    if (loop >= 0) {
      auto l = std::make_unique<TGIFAppExtNSLoop>(image.Frames()[0]);
      l->LoopCount = static_cast<uint16_t>(loop);
      image.Frames()[0]->ExtensionBlocks().InsertItem(0, std::move(l));
    }
  }

  // Pumps the main thread's queue until the condition holds (or a real-time bound).
  template <class F> bool PumpUntil(F&& done) {
    for (int i = 0; i < 4000 && !done(); ++i) CheckSynchronize(5);
    return done();
  }

  VirtualClock clock;
  TBitmap target;
};

TEST_F(GifPainter, ThreadedTimingFollowsDelaysAndSpeed) {
  struct Case {
    std::vector<int> delays;
    int speed;
    std::vector<uint32_t> waits;
  };
  const Case cases[] = {
      {{10, 10, 10}, 100, {120, 120}},  // 12 ms per unit
      {{10, 10, 10}, 200, {60, 60}},
      {{10, 1, 0}, 100, {120, 36}},     // at least 3 units; 0 means 10
      {{-1, 2, 5}, 100, {120, 36}},     // no control extension: 10 units
  };
  for (const Case& c : cases) {
    TGIFImage image;
    Build(image, c.delays);
    image.SetSpeedPercent(c.speed);
    image.SetDrawFlags(dfThreaded | dfAnimated | dfPaintInPlace);
    std::atomic<int> ended{0};
    image.OnPaintEnd = [&](TObject*) { ++ended; };
    target.SetSize(8, 8);
    image.Draw(target.Canvas(), TRect{0, 0, 8, 8});
    ASSERT_TRUE(PumpUntil([&] { return ended.load() == 1; }));
    ASSERT_TRUE(PumpUntil([&] { return image.ActivePainter() == nullptr; }));
    EXPECT_EQ(clock.Waits(), c.waits) << c.speed;
    clock.Reset();
  }
}

TEST_F(GifPainter, LoopsCountPassesAndRunOnlyOnTheMainThread) {
  struct Case {
    int loop;
    TGIFDrawFlags flags;
    int frames;  // drawn before the painter ends by itself; 0: until stopped
  };
  const Case cases[] = {
      {2, dfThreaded | dfAnimated | dfRepeat | dfPaintInPlace, 6},
      {-1, dfThreaded | dfAnimated | dfRepeat | dfPaintInPlace, 3},
      {0, dfThreaded | dfAnimated | dfRepeat | dfPaintInPlace, 0},
      {0, dfAnimated | dfRepeat | dfPaintInPlace, 3},  // not threaded: loop 0 plays once
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.loop);
    TGIFImage image;
    Build(image, {10, 10, 10}, c.loop);
    image.SetDrawFlags(c.flags);
    std::atomic<int> drawn{0};
    std::atomic<bool> offThread{false};
    auto onMain = [&](TObject*) {
      if (std::this_thread::get_id() != MainThreadID()) offThread = true;
    };
    image.OnAfterFrame = [&](TObject* s) {
      onMain(s);
      ++drawn;
    };
    image.OnBeforeFrame = onMain;
    image.OnPaintStart = onMain;
    image.OnPaintEnd = onMain;
    target.SetSize(8, 8);
    target.Canvas()->OnChange = [&](TObject* s) { onMain(s); };
    image.Draw(target.Canvas(), TRect{0, 0, 8, 8});
    if (c.frames > 0) {
      ASSERT_TRUE(PumpUntil([&] { return image.ActivePainter() == nullptr; }));
      EXPECT_EQ(drawn.load(), c.frames);
    } else {
      ASSERT_TRUE(PumpUntil([&] { return drawn.load() >= 10; }));
      image.StopActivePainter();
      EXPECT_EQ(image.ActivePainter(), nullptr);
    }
    EXPECT_FALSE(offThread.load());
    target.Canvas()->OnChange = nullptr;
  }
}

TEST_F(GifPainter, SpeedZeroHoldsTheFirstFrameUntilStopped) {
  for (int speed : {0, -5}) {
    TGIFImage image;
    Build(image, {10, 10});
    image.SetSpeedPercent(speed);
    image.SetDrawFlags(dfThreaded | dfAnimated | dfPaintInPlace);
    std::atomic<int> drawn{0};
    image.OnAfterFrame = [&](TObject*) { ++drawn; };
    target.SetSize(8, 8);
    image.Draw(target.Canvas(), TRect{0, 0, 8, 8});
    ASSERT_TRUE(PumpUntil([&] { return drawn.load() == 1; }));
    for (int i = 0; i < 20; ++i) CheckSynchronize(2);
    EXPECT_EQ(drawn.load(), 1);
    image.StopActivePainter();
    EXPECT_EQ(image.ActivePainter(), nullptr);
    EXPECT_EQ(clock.Waits(), (std::vector<uint32_t>{kInfiniteWait}));
    clock.Reset();
  }
}

TEST_F(GifPainter, DrawOfOneFrameStartsNoPainterAndDrawWaitsForTheFirstFrame) {
  TGIFImage one;
  Build(one, {10});
  target.SetSize(8, 8);
  one.Draw(target.Canvas(), TRect{0, 0, 8, 8});
  EXPECT_EQ(one.ActivePainter(), nullptr);
  EXPECT_EQ(target.Canvas()->Pixels(1, 1), TColor(0x0000FF));

  TGIFImage two;
  Build(two, {10, 10});
  two.SetDrawFlags(dfThreaded | dfAnimated | dfRepeat | dfRepeatForever);
  std::atomic<int> changes{0};
  two.OnChange = [&](TObject*) { ++changes; };
  two.Draw(target.Canvas(), TRect{0, 0, 8, 8});
  // Draw came back with the first frame in the image's bitmap, shown on the canvas.
  EXPECT_NE(two.ActivePainter(), nullptr);
  EXPECT_EQ(target.Canvas()->Pixels(1, 1), TColor(0x0000FF));
  ASSERT_TRUE(PumpUntil([&] { return changes.load() >= 3; }));
  two.StopActivePainter();
}

TEST_F(GifPainter, FailuresReachTheMainThreadAndFreeingTheImageStopsItsPainters) {
  // Not threaded: the failure leaves Draw.
  {
    TGIFImage image;
    Build(image, {10, 10});
    image.SetDrawFlags(dfAnimated | dfPaintInPlace);
    image.OnAfterFrame = [](TObject*) { throw EInvalidOperation("frame handler failed"); };
    target.SetSize(8, 8);
    EXPECT_THROW(image.Draw(target.Canvas(), TRect{0, 0, 8, 8}), EInvalidOperation);
    EXPECT_EQ(image.ActivePainter(), nullptr);
  }
  // Threaded: it comes out of CheckSynchronize, on the main thread.
  {
    TGIFImage image;
    Build(image, {10, 10});
    image.SetDrawFlags(dfThreaded | dfAnimated | dfPaintInPlace);
    image.OnAfterFrame = [](TObject*) { throw EInvalidOperation("frame handler failed"); };
    image.Draw(target.Canvas(), TRect{0, 0, 8, 8});
    bool caught = false;
    for (int i = 0; i < 4000 && !caught; ++i) {
      try {
        CheckSynchronize(5);
      } catch (const EInvalidOperation& e) {
        caught = true;
        EXPECT_EQ(e.Message(), "frame handler failed");
      }
    }
    EXPECT_TRUE(caught);
    ASSERT_TRUE(PumpUntil([&] { return image.ActivePainter() == nullptr; }));
  }
  // An image freed while its painter runs, and one painting forever.
  for (int i = 0; i < 3; ++i) {
    auto image = std::make_unique<TGIFImage>();
    Build(*image, {10, 10});
    image->SetDrawFlags(dfThreaded | dfAnimated | dfRepeat | dfRepeatForever | dfPaintInPlace);
    image->Draw(target.Canvas(), TRect{0, 0, 8, 8});
    for (int k = 0; k < i; ++k) CheckSynchronize(2);
    image.reset();
  }
  for (int k = 0; k < 20; ++k) CheckSynchronize(2);
}

// Frames over a full first frame, with transparency, composed as the painter
// draws them, against Pillow's composition of the same file.
TEST_F(GifPainter, OracleComposesDisposalLikePillow) {
  if (!HavePillow()) GTEST_SKIP() << "Pillow is not installed";
  for (int disposal : {0, 1, 3}) {
    SCOPED_TRACE(disposal);
    TGIFImage image;
    const std::vector<uint32_t> colours = {0x000000, 0x0000FF, 0x00FF00, 0xFF0000, 0xFFFFFF};
    std::vector<uint8_t> base(12 * 10);
    for (size_t i = 0; i < base.size(); ++i) base[i] = static_cast<uint8_t>(1 + i % 3);
    AddIndexedFrame(image, 0, 0, 12, 10, base, colours);
    for (int k = 1; k <= 3; ++k) {
      std::vector<uint8_t> p(5 * 4);
      for (size_t i = 0; i < p.size(); ++i) p[i] = (i + k) % 3 == 0 ? 0 : static_cast<uint8_t>(k + 1);
      TGIFSubImage* f = AddIndexedFrame(image, 2 * k, k, 5, 4, p, colours);
      auto g = std::make_unique<TGIFGraphicControlExtension>(f);
      g->SetTransparentEntry(0);
      g->SetTransparencyFlag(true);
      g->SetDisposalMethod(k == 2 ? disposal : 1);
      g->SetFrameDelay(5);
      f->ExtensionBlocks().AppendItem(std::move(g));
    }
    qvtest::TempDir dir;
    const std::string file = dir.File("d.gif");
    qvtest::WriteFileBytes(file, SaveToBytes(image));
    std::string expected;
    ASSERT_EQ(RunPython(R"(
from PIL import Image
im = Image.open(')" + file + R"(')
for i in range(im.n_frames):
    im.seek(i)
    rgb = im.convert('RGB')
    print(' '.join('%02x%02x%02x' % rgb.getpixel((x, y)) for y in range(10) for x in range(12)))
)",
                        &expected),
              0);
    target.SetPixelFormat(pf32bit);
    target.SetSize(12, 10);
    std::string ours;
    image.SetDrawFlags(dfAnimated | dfMasked | dfPaintInPlace);
    image.OnAfterFrame = [&](TObject*) {
      std::string line;
      for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 12; ++x) {
          const TColor c = target.Canvas()->Pixels(x, y);
          char buf[8];
          std::snprintf(buf, sizeof buf, "%02x%02x%02x", c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
          line += (line.empty() ? "" : " ") + std::string(buf);
        }
      ours += line + "\n";
    };
    image.Draw(target.Canvas(), TRect{0, 0, 12, 10});
    EXPECT_EQ(ours, expected);
  }
}

}  // namespace
