#include "imaging/core/ie_thread_pool.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include "imaging/core/ie_startup.h"

TIEThreadPool::~TIEThreadPool() {
  try {
    WaitAll();
  } catch (...) {
    // Already joined; nobody is left to tell.
  }
}

void TIEThreadPool::Add(std::unique_ptr<TThread> thread) {
  if (!thread) return;
  TThread* t = thread.get();
  FThreads.push_back(std::move(thread));
  t->Resume();
}

void TIEThreadPool::WaitAll() {
  std::exception_ptr first;
  std::vector<std::unique_ptr<TThread>> threads = std::move(FThreads);
  FThreads.clear();
  for (auto& t : threads) {
    if (!t->Suspended()) t->WaitFor();
    if (!first && t->FatalExceptionPtr()) first = t->FatalExceptionPtr();
    t.reset();
  }
  if (first) std::rethrow_exception(first);
}

int IEWorkerCountOverride = 0;

namespace {

class TIERowBandThread : public TThread {
public:
  using Work = std::function<void(int, int, int)>;
  TIERowBandThread(const Work& work, int first, int last, int worker)
      : TThread(true), FWork(work), FFirst(first), FLast(last), FWorker(worker) {}

protected:
  void Execute() override { FWork(FFirst, FLast, FWorker); }

private:
  const Work& FWork;
  int FFirst;
  int FLast;
  int FWorker;
};

}  // namespace

int IERowBandWorkers(int rowCount, bool fileBacked) {
  if (rowCount <= 1 || fileBacked) return 1;
  const int wanted = IEWorkerCountOverride > 0 ? IEWorkerCountOverride : GetProcessorCoreCount();
  return std::clamp(wanted, 1, rowCount);
}

namespace {

// Threads that stay parked between row-band runs: a screen's worth of drawing
// takes a millisecond or two, and starting and joining a thread per band each
// time cost a good share of that. One run at a time uses the crew; a run that
// finds it busy (a band that starts bands of its own, or another thread's
// run) starts threads of its own as before.
class TRowBandCrew {
public:
  using Work = std::function<void(int, int, int)>;

  static TRowBandCrew& Get() {
    static TRowBandCrew crew;
    return crew;
  }

  ~TRowBandCrew() {
    {
      std::lock_guard<std::mutex> guard(FLock);
      FStop = true;
    }
    FWake.notify_all();
    for (std::thread& t : FThreads) t.join();
  }

  // False when the crew is busy or cannot grow; the caller then runs the
  // bands itself.
  bool TryRun(int workers, int rowCount, const Work& work) {
    std::unique_lock<std::mutex> run(FRunLock, std::try_to_lock);
    if (!run.owns_lock()) return false;
    try {
      while (int(FThreads.size()) < workers) {
        const int index = int(FThreads.size());
        FThreads.emplace_back([this, index] { Serve(index); });
      }
    } catch (const std::system_error&) {
      return false;
    }
    std::vector<std::exception_ptr> failures(static_cast<size_t>(workers));
    {
      std::lock_guard<std::mutex> guard(FLock);
      FWork = &work;
      FWorkers = workers;
      FRowCount = rowCount;
      FFailures = &failures;
      FPending = workers;
      ++FGeneration;
    }
    FWake.notify_all();
    {
      std::unique_lock<std::mutex> guard(FLock);
      FDone.wait(guard, [this] { return FPending == 0; });
      FWork = nullptr;
      FFailures = nullptr;
    }
    for (const std::exception_ptr& failure : failures)
      if (failure) std::rethrow_exception(failure);
    return true;
  }

private:
  void Serve(int index) {
    uint64_t seen = 0;
    std::unique_lock<std::mutex> guard(FLock);
    for (;;) {
      FWake.wait(guard, [&] { return FStop || FGeneration != seen; });
      if (FStop) return;
      seen = FGeneration;
      if (index >= FWorkers) continue;
      const Work& work = *FWork;
      const int band = FRowCount / FWorkers;
      const int first = index * band;
      const int last = index == FWorkers - 1 ? FRowCount - 1 : first + band - 1;
      std::exception_ptr& failure = (*FFailures)[size_t(index)];
      guard.unlock();
      try {
        work(first, last, index);
      } catch (...) {
        failure = std::current_exception();
      }
      guard.lock();
      if (--FPending == 0) FDone.notify_all();
    }
  }

  std::mutex FRunLock;
  std::mutex FLock;
  std::condition_variable FWake, FDone;
  std::vector<std::thread> FThreads;
  uint64_t FGeneration = 0;
  bool FStop = false;
  const Work* FWork = nullptr;
  int FWorkers = 0, FRowCount = 0, FPending = 0;
  std::vector<std::exception_ptr>* FFailures = nullptr;
};

}  // namespace

void IERunRowBands(int rowCount, bool fileBacked, const std::function<void(int, int, int)>& work) {
  if (rowCount <= 0) return;
  const int workers = IERowBandWorkers(rowCount, fileBacked);
  if (workers == 1) {
    work(0, rowCount - 1, 0);
    return;
  }
  if (TRowBandCrew::Get().TryRun(workers, rowCount, work)) return;
  TIEThreadPool pool;
  const int band = rowCount / workers;
  for (int i = 0; i < workers; ++i) {
    const int first = i * band;
    const int last = i == workers - 1 ? rowCount - 1 : first + band - 1;
    pool.Add(std::make_unique<TIERowBandThread>(work, first, last, i));
  }
  pool.WaitAll();
}

void IERunRowBands(int rowCount, bool fileBacked, const std::function<void(int firstRow, int lastRow)>& work) {
  IERunRowBands(rowCount, fileBacked, [&work](int first, int last, int) { work(first, last); });
}
