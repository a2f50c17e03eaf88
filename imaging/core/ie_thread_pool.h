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

// Runs work(firstRow, lastRow) over rows 0..rowCount-1 split into one band per
// processor core (a single band for a bitmap kept in a temporary file, whose
// rows must not be mapped from several threads), and joins the workers.
void IERunRowBands(int rowCount, bool fileBacked, const std::function<void(int firstRow, int lastRow)>& work);
