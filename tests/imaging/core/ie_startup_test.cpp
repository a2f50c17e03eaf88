#include "imaging/core/ie_startup.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>

#include "imaging/core/ie_thread_pool.h"
#include "platform/rtl/exceptions.h"

namespace {

// Borrows two start-up slots for a test and gives them back empty.
struct StepSlots {
  ~StepSlots() {
    SetLibraryStartupStep(iessVectUnit, nullptr, nullptr);
    SetLibraryStartupStep(iessImageIO, nullptr, nullptr);
  }
};

class TFailingThread : public TThread {
public:
  explicit TFailingThread(std::atomic<int>& done) : TThread(true), FDone(done) {}

protected:
  void Execute() override { throw EAbort("worker failed"); }
  std::atomic<int>& FDone;
};

class TCountingThread : public TThread {
public:
  explicit TCountingThread(std::atomic<int>& done) : TThread(true), FDone(done) {}

protected:
  void Execute() override { ++FDone; }
  std::atomic<int>& FDone;
};

}  // namespace

TEST(IELibraryStartup, EachStepRunsOncePerProcessLifetime) {
  StepSlots slots;
  const int base = LibraryStartupCount();
  int inits = 0, dones = 0;
  SetLibraryStartupStep(iessVectUnit, [&] { ++inits; }, [&] { ++dones; });
  LibraryStaticInit();
  LibraryStaticInit();
  EXPECT_EQ(LibraryStartupCount(), base + 2);
  EXPECT_EQ(inits, base == 0 ? 1 : 0);
  EXPECT_EQ(IEGrayWeightRed + IEGrayWeightGreen + IEGrayWeightBlue, 100);
  EXPECT_EQ(InterpolationTable[0], 0);
  EXPECT_EQ(InterpolationTable[255], 128);
  LibraryStaticDone();
  EXPECT_EQ(dones, 0);
  LibraryStaticDone();
  EXPECT_EQ(dones, base == 0 ? 1 : 0);
  EXPECT_EQ(LibraryStartupCount(), base);
  if (base == 0) {
    LibraryStaticDone();  // a shutdown without start-up does nothing
    EXPECT_EQ(dones, 1);
    EXPECT_EQ(LibraryStartupCount(), 0);
  }
}

// A step that raises leaves the count alone; the next start-up finishes the
// list without running again the steps that had already run.
TEST(IELibraryStartup, FailedStepDoesNotRerunTheOthers) {
  StepSlots slots;
  if (LibraryStartupCount() != 0) GTEST_SKIP() << "library already started";
  int first = 0, second = 0;
  bool fail = true;
  SetLibraryStartupStep(iessVectUnit, [&] { ++first; }, nullptr);
  SetLibraryStartupStep(iessImageIO, [&] {
    ++second;
    if (fail) throw Exception("cannot start");
  }, nullptr);
  EXPECT_THROW(LibraryStaticInit(), Exception);
  EXPECT_EQ(LibraryStartupCount(), 0);
  fail = false;
  LibraryStaticInit();
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 2);
  EXPECT_EQ(LibraryStartupCount(), 1);
  LibraryStaticDone();
}

TEST(IELibraryStartup, CoreCount) {
  const int n = GetProcessorCoreCount();
  EXPECT_GE(n, 1);
  EXPECT_LE(n, static_cast<int>(std::thread::hardware_concurrency()));
  EXPECT_EQ(GetProcessorCoreCount(), n);
}

TEST(IEThreadPool, EmptyPoolAndReuse) {
  TIEThreadPool pool;
  pool.WaitAll();
  std::atomic<int> done{0};
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 3; ++i) pool.Add(std::make_unique<TCountingThread>(done));
    pool.WaitAll();
    EXPECT_EQ(pool.Count(), 0);
  }
  EXPECT_EQ(done, 6);
}

// A failed pass must not report success: the worker's exception reaches the caller.
TEST(IEThreadPool, WorkerExceptionReachesTheCaller) {
  std::atomic<int> done{0};
  TIEThreadPool pool;
  pool.Add(std::make_unique<TCountingThread>(done));
  pool.Add(std::make_unique<TFailingThread>(done));
  pool.Add(std::make_unique<TCountingThread>(done));
  try {
    pool.WaitAll();
    FAIL() << "the worker's failure was lost";
  } catch (const EAbort& e) {
    EXPECT_EQ(e.Message(), "worker failed");
  }
  EXPECT_EQ(done, 2);  // the others ran to their end and were joined
  EXPECT_EQ(pool.Count(), 0);
}

TEST(IEThreadPool, RowBandsCoverEveryRowOnce) {
  for (bool fileBacked : {false, true}) {
    for (int rows : {1, 2, 7, 1000}) {
      std::vector<std::atomic<int>> hits(static_cast<size_t>(rows));
      std::mutex lock;
      std::set<std::thread::id> threads;
      IERunRowBands(rows, fileBacked, [&](int a, int b) {
        {
          std::lock_guard<std::mutex> g(lock);
          threads.insert(std::this_thread::get_id());
        }
        for (int y = a; y <= b; ++y) ++hits[static_cast<size_t>(y)];
      });
      for (auto& h : hits) EXPECT_EQ(h, 1);
      if (fileBacked) EXPECT_EQ(threads.size(), 1u);
      else EXPECT_LE(threads.size(), static_cast<size_t>(std::min(rows, GetProcessorCoreCount())));
    }
  }
  EXPECT_THROW(IERunRowBands(100, false, [](int a, int b) {
                 if (a <= 50 && 50 <= b) throw EAbort("band failed");  // exactly one band
               }),
               EAbort);
}
