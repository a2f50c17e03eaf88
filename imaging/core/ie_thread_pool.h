#pragma once
// The worker threads of one parallel job: started together, joined together.
// An exception that ends a worker's Execute is not lost: WaitAll raises it
// again in the caller once every worker has finished.
#include <functional>
#include <memory>
#include <vector>

#include "platform/rtl/threads.h"

class TIEThreadPool : public TObject {
public:
  TIEThreadPool() = default;
  // Waits for every thread; a worker's exception cannot leave a destructor, so
  // callers that care call WaitAll first.
  ~TIEThreadPool() override;
  // Takes a thread created suspended and starts it; the pool owns it.
  void Add(std::unique_ptr<TThread> thread);
  // Waits for each thread in the order added and frees it; then raises the first
  // exception that ended a worker, if any. The pool is empty afterwards either way.
  void WaitAll();
  int Count() const { return static_cast<int>(FThreads.size()); }

private:
  std::vector<std::unique_ptr<TThread>> FThreads;
};

// When above 0, the number of workers IERunRowBands uses in place of the core
// count (tests run the banded passes with 1, 2, 3 ... workers).
extern int IEWorkerCountOverride;

// The number of workers a pass over rowCount rows gets: 1 for a bitmap kept in
// a temporary file (its rows must not be mapped from several threads), else
// one per processor core, never more than there are rows.
int IERowBandWorkers(int rowCount, bool fileBacked);

// Runs work(firstRow, lastRow, worker) over rows 0..rowCount-1: each of the n
// workers gets rowCount div n consecutive rows and the last one the rest (4
// workers and 10 rows give 2, 2, 2 and 4). Worker 0 runs on a thread of its
// own like the others; the call returns when all have finished, raising the
// exception of the first band (by worker) that failed. The threads are kept
// parked between runs; a run that starts while another is going (from a band,
// or from another thread) gets threads of its own.
void IERunRowBands(int rowCount, bool fileBacked,
                   const std::function<void(int firstRow, int lastRow, int worker)>& work);
void IERunRowBands(int rowCount, bool fileBacked, const std::function<void(int firstRow, int lastRow)>& work);
