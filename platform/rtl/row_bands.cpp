#include "platform/rtl/row_bands.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

int RowBandProcessorOverride = 0;

int RowBandProcessors() {
  if (RowBandProcessorOverride > 0) return RowBandProcessorOverride;
  static const int count = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  return count;
}

void RowBand(int rowCount, int workers, int index, int& firstRow, int& lastRow) {
  const int band = rowCount / workers;
  firstRow = index * band;
  lastRow = index == workers - 1 ? rowCount - 1 : firstRow + band - 1;
}

namespace {

// One run at a time uses the crew; a run that finds it busy is told so.
class TRowBandCrew {
public:
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

  bool TryRun(int workers, int rowCount, const TRowBandWork& work) {
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
      const TRowBandWork& work = *FWork;
      int first = 0, last = 0;
      RowBand(FRowCount, FWorkers, index, first, last);
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
  const TRowBandWork* FWork = nullptr;
  int FWorkers = 0, FRowCount = 0, FPending = 0;
  std::vector<std::exception_ptr>* FFailures = nullptr;
};

}  // namespace

bool RunRowBandsOnCrew(int workers, int rowCount, const TRowBandWork& work) {
  if (workers < 1 || rowCount < workers) return false;
  return TRowBandCrew::Get().TryRun(workers, rowCount, work);
}

void RunCopyBands(size_t bytes, int rowCount, const std::function<void(int, int)>& work) {
  if (rowCount <= 0) return;
  // Below about a quarter of a megabyte a worker, waking the threads costs
  // more than it saves.
  constexpr size_t kBytesPerWorker = size_t(256) << 10;
  const size_t worth = bytes / kBytesPerWorker;
  const int workers = static_cast<int>(
      std::min<size_t>({worth, static_cast<size_t>(RowBandProcessors()), static_cast<size_t>(rowCount)}));
  if (workers > 1 && RunRowBandsOnCrew(workers, rowCount, [&work](int first, int last, int) { work(first, last); }))
    return;
  work(0, rowCount - 1);
}
