#include "imaging/core/ie_thread_pool.h"

#include <algorithm>
#include <exception>

#include "imaging/core/ie_startup.h"
#include "platform/rtl/row_bands.h"

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

void IERunRowBands(int rowCount, bool fileBacked, const std::function<void(int, int, int)>& work) {
  if (rowCount <= 0) return;
  const int workers = IERowBandWorkers(rowCount, fileBacked);
  if (workers == 1) {
    work(0, rowCount - 1, 0);
    return;
  }
  if (RunRowBandsOnCrew(workers, rowCount, work)) return;
  // The parked threads are busy (a band that starts bands of its own, or
  // another thread's run): this run gets threads of its own.
  TIEThreadPool pool;
  for (int i = 0; i < workers; ++i) {
    int first = 0, last = 0;
    RowBand(rowCount, workers, i, first, last);
    pool.Add(std::make_unique<TIERowBandThread>(work, first, last, i));
  }
  pool.WaitAll();
}

void IERunRowBands(int rowCount, bool fileBacked, const std::function<void(int firstRow, int lastRow)>& work) {
  IERunRowBands(rowCount, fileBacked, [&work](int first, int last, int) { work(first, last); });
}
