#include "imaging/core/ie_thread_pool.h"

#include <algorithm>

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

namespace {

class TIERowBandThread : public TThread {
public:
  TIERowBandThread(const std::function<void(int, int)>& work, int first, int last)
      : TThread(true), FWork(work), FFirst(first), FLast(last) {}

protected:
  void Execute() override { FWork(FFirst, FLast); }

private:
  const std::function<void(int, int)>& FWork;
  int FFirst;
  int FLast;
};

}  // namespace

void IERunRowBands(int rowCount, bool fileBacked, const std::function<void(int firstRow, int lastRow)>& work) {
  if (rowCount <= 0) return;
  const int workers = fileBacked ? 1 : std::clamp(GetProcessorCoreCount(), 1, rowCount);
  if (workers == 1) {
    work(0, rowCount - 1);
    return;
  }
  TIEThreadPool pool;
  const int band = (rowCount + workers - 1) / workers;
  for (int first = 0; first < rowCount; first += band)
    pool.Add(std::make_unique<TIERowBandThread>(work, first, std::min(rowCount, first + band) - 1));
  pool.WaitAll();
}
