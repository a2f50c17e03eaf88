#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "platform/rtl/row_bands.h"
#include "platform/rtl/threads.h"

namespace {

// A thread whose body is a lambda, so each test states what it does.
class TLambdaThread : public TThread {
public:
  TLambdaThread(bool suspended, std::function<void(TLambdaThread*)> body)
      : TThread(suspended), FBody(std::move(body)) {}
  ~TLambdaThread() override {
    TThread::Terminate();
    if (FGone) FGone->SetEvent();
  }
  using TThread::Queue;
  using TThread::SetReturnValue;
  using TThread::Synchronize;
  TEvent* FGone = nullptr;

protected:
  void Execute() override { FBody(this); }

private:
  std::function<void(TLambdaThread*)> FBody;
};

constexpr uint32_t kLongEnough = 20000;  // a bound against hanging, never expected to pass

}  // namespace

TEST(Thread, RunsTerminatesAndReturnsItsValue) {
  TSimpleEvent running;
  auto* t = TThread::New<TLambdaThread>(false, [&](TLambdaThread* self) {
    running.SetEvent();
    while (!self->Terminated()) std::this_thread::yield();
    self->SetReturnValue(42);
  });
  EXPECT_FALSE(t->Suspended());
  ASSERT_EQ(running.WaitFor(kLongEnough), wrSignaled);
  t->Terminate();
  EXPECT_EQ(t->WaitFor(), 42);
  EXPECT_TRUE(t->Finished());
  EXPECT_EQ(t->FatalException(), nullptr);
  EXPECT_THROW(t->Start(), EThread);
  delete t;
}

TEST(Thread, SuspendedThreadRunsOnlyWhenStarted) {
  std::atomic<int> runs{0};
  // Terminated before it ran: Execute is skipped altogether.
  TLambdaThread early(true, [&](TLambdaThread*) { ++runs; });
  early.Terminate();
  early.Start();
  early.WaitFor();
  {
    TLambdaThread never(true, [&](TLambdaThread*) { ++runs; });
    EXPECT_TRUE(never.Suspended());
    EXPECT_THROW(never.WaitFor(), EThread);
  }
  EXPECT_EQ(runs, 0);
  TLambdaThread t(true, [&](TLambdaThread*) { ++runs; });
  t.Start();
  t.WaitFor();
  EXPECT_EQ(runs, 1);
}

TEST(Thread, ExceptionInExecuteIsKept) {
  TLambdaThread t(true, [](TLambdaThread*) { throw EInvalidGraphic("bad picture"); });
  t.Start();
  t.WaitFor();
  ASSERT_NE(t.FatalException(), nullptr);
  EXPECT_EQ(t.FatalException()->Message(), "bad picture");
  EXPECT_THROW(std::rethrow_exception(t.FatalExceptionPtr()), EInvalidGraphic);
}

TEST(Thread, SynchronizeRunsOnTheMainThreadWhileItWaits) {
  std::vector<std::thread::id> where;
  std::vector<std::string> order;
  TLambdaThread t(true, [&](TLambdaThread* self) {
    self->Synchronize([&] {
      where.push_back(std::this_thread::get_id());
      order.push_back("sync");
    });
    try {
      self->Synchronize([] { throw EConvertError("from main"); });
    } catch (const EConvertError& e) {
      order.push_back(std::string("caught ") + e.Message());
    }
  });
  t.OnTerminate = [&](TObject* sender) {
    EXPECT_EQ(sender, &t);
    where.push_back(std::this_thread::get_id());
    order.push_back("terminate");
  };
  t.Start();
  t.WaitFor();  // the main thread drains the queue meanwhile
  EXPECT_EQ(order, (std::vector<std::string>{"sync", "caught from main", "terminate"}));
  ASSERT_EQ(where.size(), 2u);
  EXPECT_EQ(where[0], MainThreadID());
  EXPECT_EQ(where[1], MainThreadID());
}

TEST(Thread, QueuedWorkWaitsForCheckSynchronize) {
  std::vector<int> got;
  TSimpleEvent queued;
  int wakes = 0;
  std::atomic<int> wakesSeen{0};
  SetWakeMainThread([&] { ++wakesSeen; });
  TLambdaThread t(true, [&](TLambdaThread* self) {
    for (int i = 1; i <= 3; ++i) self->Queue([&got, i] { got.push_back(i); });
    queued.SetEvent();
  });
  t.Start();
  ASSERT_EQ(queued.WaitFor(kLongEnough), wrSignaled);
  EXPECT_TRUE(got.empty());
  EXPECT_TRUE(CheckSynchronize());
  EXPECT_EQ(got, (std::vector<int>{1, 2, 3}));
  t.WaitFor();
  EXPECT_FALSE(CheckSynchronize());
  SetWakeMainThread(nullptr);
  wakes = wakesSeen;
  EXPECT_GE(wakes, 3);

  // Off the main thread CheckSynchronize refuses.
  TLambdaThread other(true, [](TLambdaThread*) { EXPECT_THROW(CheckSynchronize(), EThread); });
  other.Start();
  other.WaitFor();
}

TEST(Thread, QueuedWorkOfAFreedThreadIsDropped) {
  bool ran = false;
  TSimpleEvent queued;
  {
    auto t = std::make_unique<TLambdaThread>(true, [&](TLambdaThread* self) {
      self->Queue([&] { ran = true; });
      queued.SetEvent();
    });
    t->Start();
    ASSERT_EQ(queued.WaitFor(kLongEnough), wrSignaled);
    while (!t->Finished()) std::this_thread::yield();
  }
  // Its work must not run once the thread object is gone.
  CheckSynchronize();
  EXPECT_FALSE(ran);
}

TEST(Thread, DeletingARunningThreadStopsItFirst) {
  // The body uses its object until told to stop; deleting must wait for that.
  TSimpleEvent running;
  auto* t = new TLambdaThread(true, [&](TLambdaThread* self) {
    running.SetEvent();
    while (!self->Terminated()) std::this_thread::yield();
    self->SetReturnValue(1);
  });
  t->Start();
  ASSERT_EQ(running.WaitFor(kLongEnough), wrSignaled);
  delete t;
  // Deleted before it ever got going: nothing is left running either.
  std::unique_ptr<TLambdaThread> quick(TThread::New<TLambdaThread>(false, [](TLambdaThread* self) {
    while (!self->Terminated()) std::this_thread::yield();
  }));
}

TEST(Thread, FreeOnTerminateDeletesItself) {
  TSimpleEvent gone;
  auto* t = new TLambdaThread(true, [](TLambdaThread*) {});
  t->FGone = &gone;
  t->SetFreeOnTerminate(true);
  EXPECT_THROW(t->WaitFor(), EThread);  // not started yet, and it would free itself
  t->Start();
  EXPECT_EQ(gone.WaitFor(kLongEnough), wrSignaled);
}

TEST(Event, ManualAndAutoReset) {
  TEvent manual(true, false);
  EXPECT_EQ(manual.WaitFor(0), wrTimeout);
  manual.SetEvent();
  EXPECT_EQ(manual.WaitFor(0), wrSignaled);
  EXPECT_EQ(manual.WaitFor(0), wrSignaled);  // stays signalled
  manual.ResetEvent();
  EXPECT_EQ(manual.WaitFor(1), wrTimeout);

  TEvent autoReset(false, true);
  EXPECT_EQ(autoReset.WaitFor(0), wrSignaled);
  EXPECT_EQ(autoReset.WaitFor(0), wrTimeout);  // let one waiter through

  // Wakes a waiter on another thread.
  TEvent go(false, false);
  std::atomic<bool> woke{false};
  TLambdaThread t(true, [&](TLambdaThread*) { woke = go.WaitFor(kLongEnough) == wrSignaled; });
  t.Start();
  go.SetEvent();
  t.WaitFor();
  EXPECT_TRUE(woke);
}

TEST(CriticalSection, ReentersAndExcludesOthers) {
  TCriticalSection cs;
  cs.Enter();
  EXPECT_TRUE(cs.TryEnter());  // the same thread may take it again
  std::atomic<int> otherGot{-1};
  TLambdaThread t(true, [&](TLambdaThread*) {
    otherGot = cs.TryEnter() ? 1 : 0;
    if (otherGot == 1) cs.Leave();
  });
  t.Start();
  t.WaitFor();
  EXPECT_EQ(otherGot, 0);
  cs.Leave();
  cs.Leave();

  int counter = 0;
  std::vector<std::unique_ptr<TLambdaThread>> workers;
  for (int i = 0; i < 4; ++i) {
    workers.push_back(std::make_unique<TLambdaThread>(true, [&](TLambdaThread*) {
      for (int k = 0; k < 10000; ++k) {
        cs.Acquire();
        ++counter;
        cs.Release();
      }
    }));
    workers.back()->Start();
  }
  for (auto& w : workers) w->WaitFor();
  EXPECT_EQ(counter, 40000);
}

// A copy is shared among threads only when it is big enough to be worth them;
// either way every row is done exactly once, small copies on the caller's thread.
TEST(RowBands, CopyBandsCoverEveryRowOnceAndSmallCopiesStayOnTheCaller) {
  struct Case {
    size_t bytes;
    int rows, processors;
    bool threaded;
  } cases[] = {
      {size_t(100) << 10, 500, 8, false},  // under a quarter megabyte a worker
      {size_t(8) << 20, 1, 8, false},      // one row cannot be split
      {size_t(8) << 20, 1080, 1, false},   // one processor
      {size_t(8) << 20, 1080, 3, true},    {size_t(8) << 20, 7, 8, true},
      {size_t(600) << 10, 1000, 8, true},  // worth two workers
  };
  for (const Case& c : cases) {
    RowBandProcessorOverride = c.processors;
    std::vector<std::atomic<int>> done(static_cast<size_t>(c.rows));
    std::atomic<int> calls{0}, elsewhere{0};
    const auto caller = std::this_thread::get_id();
    RunCopyBands(c.bytes, c.rows, [&](int first, int last) {
      ++calls;
      if (std::this_thread::get_id() != caller) ++elsewhere;
      for (int y = first; y <= last; ++y) ++done[size_t(y)];
    });
    RowBandProcessorOverride = 0;
    for (int y = 0; y < c.rows; ++y) EXPECT_EQ(done[size_t(y)].load(), 1) << c.rows << " rows, row " << y;
    EXPECT_EQ(elsewhere > 0, c.threaded) << c.bytes << " bytes over " << c.rows << " rows";
    if (!c.threaded) {
      EXPECT_EQ(calls.load(), 1);
    }
  }
}
