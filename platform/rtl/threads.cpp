#include "platform/rtl/threads.h"

#include <chrono>
#include <deque>

namespace {

// Read before main() runs, on the thread that runs it.
const std::thread::id gMainThread = std::this_thread::get_id();

struct TSyncItem {
  TThread* Thread = nullptr;
  TThreadMethod Method;
  // Synchronize waits for these; Queue leaves Waiting false.
  bool Waiting = false;
  bool Done = false;
  std::exception_ptr Error;
};

// One lock and condition for the queue and for threads finishing, so the main
// thread can wait for either in WaitFor.
std::mutex gSyncLock;
std::condition_variable gSyncCond;
std::deque<std::shared_ptr<TSyncItem>> gSyncQueue;

std::mutex gWakeLock;
std::function<void()> gWakeMainThread;

void Wake() {
  std::function<void()> wake;
  {
    std::lock_guard<std::mutex> lock(gWakeLock);
    wake = gWakeMainThread;
  }
  if (wake) wake();
}

}  // namespace

void SetWakeMainThread(std::function<void()> wake) {
  std::lock_guard<std::mutex> lock(gWakeLock);
  gWakeMainThread = std::move(wake);
}
std::function<void()> ProcessPendingMessages;

std::thread::id MainThreadID() { return gMainThread; }

bool CheckSynchronize(uint32_t timeoutMs) {
  if (std::this_thread::get_id() != gMainThread)
    throw EThread("CheckSynchronize called from a thread that is not the main thread");
  std::unique_lock<std::mutex> lock(gSyncLock);
  if (gSyncQueue.empty() && timeoutMs > 0) {
    auto ready = [] { return !gSyncQueue.empty(); };
    if (timeoutMs == kInfiniteWait) gSyncCond.wait(lock, ready);
    else gSyncCond.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
  }
  // Only what is queued now: work that queues more work cannot keep us here.
  size_t count = gSyncQueue.size();
  bool ran = false;
  for (size_t i = 0; i < count && !gSyncQueue.empty(); ++i) {
    std::shared_ptr<TSyncItem> item = gSyncQueue.front();
    gSyncQueue.pop_front();
    lock.unlock();
    ran = true;
    if (item->Waiting) {
      try {
        item->Method();
      } catch (...) {
        item->Error = std::current_exception();
      }
      lock.lock();
      item->Done = true;
      gSyncCond.notify_all();
    } else {
      item->Method();  // an exception leaves here; the rest stays queued
      lock.lock();
    }
  }
  return ran;
}

// ---- TEvent ----

void TEvent::SetEvent() {
  std::lock_guard<std::mutex> lock(FLock);
  FSignaled = true;
  if (FManualReset) FCond.notify_all();
  else FCond.notify_one();
}

void TEvent::ResetEvent() {
  std::lock_guard<std::mutex> lock(FLock);
  FSignaled = false;
}

TWaitResult TEvent::WaitFor(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(FLock);
  auto signaled = [&] { return FSignaled; };
  if (timeoutMs == kInfiniteWait) FCond.wait(lock, signaled);
  else if (!FCond.wait_for(lock, std::chrono::milliseconds(timeoutMs), signaled)) return wrTimeout;
  if (!FManualReset) FSignaled = false;
  return wrSignaled;
}

// ---- TThread ----

TThread::TThread(bool createSuspended) : FCreateSuspended(createSuspended) {}

TThread::~TThread() {
  StopAndJoin();
  RemoveQueuedEvents(this);
}

void TThread::operator delete(TThread* thread, std::destroying_delete_t) {
  thread->StopAndJoin();
  void* memory = dynamic_cast<void*>(thread);  // the start of the whole object
  thread->~TThread();
  ::operator delete(memory);
}

void* TThread::operator new(std::size_t size) { return ::operator new(size); }

void TThread::operator delete(void* memory) { ::operator delete(memory); }

void TThread::StopAndJoin() {
  if (!FThread.joinable()) return;
  if (std::this_thread::get_id() == FThread.get_id()) {
    // A thread freeing itself (FreeOnTerminate) cannot join its own thread.
    FThread.detach();
    return;
  }
  Terminate();
  bool running;
  {
    // Deleted by its owner before it finished: it must not free itself as well.
    std::lock_guard<std::mutex> lock(gSyncLock);
    running = !FFinished;
    if (running) FFreeOnTerminate = false;
  }
  if (running) WaitFor();
  if (FThread.joinable()) FThread.join();
}

void TThread::AfterConstruction() {
  if (!FCreateSuspended && !FStarted) Start();
}

void TThread::Start() {
  if (FStarted) throw EThread("Cannot call Start on a running or finished thread");
  FStarted = true;
  // The new thread waits for this lock, so it cannot finish (and free itself)
  // before FThread has been set.
  std::lock_guard<std::mutex> lock(gSyncLock);
  FThread = std::thread(&TThread::ThreadProc, this);
  FThreadID = FThread.get_id();
}

void TThread::Resume() {
  if (!FStarted) Start();
}

void TThread::ThreadProc(TThread* thread) {
  { std::lock_guard<std::mutex> gate(gSyncLock); }
  try {
    if (!thread->FTerminated) thread->Execute();
  } catch (Exception& e) {
    thread->FFatalExceptionPtr = std::current_exception();
    thread->FFatalException = &e;  // lives as long as the exception_ptr holding it
  } catch (std::exception& e) {
    thread->FFatalExceptionPtr = std::current_exception();
    thread->FForeignException = std::make_unique<Exception>(e.what());
    thread->FFatalException = thread->FForeignException.get();
  } catch (...) {
    thread->FFatalExceptionPtr = std::current_exception();
    thread->FForeignException = std::make_unique<Exception>("Unknown exception in thread");
    thread->FFatalException = thread->FForeignException.get();
  }
  try {
    thread->DoTerminate();
  } catch (...) {
    // OnTerminate's failure cannot be given to anyone; the thread ends all the same.
  }
  bool freeIt;
  {
    std::lock_guard<std::mutex> lock(gSyncLock);
    freeIt = thread->FFreeOnTerminate;
    thread->FFinished = true;
    gSyncCond.notify_all();
  }
  Wake();
  if (freeIt) delete thread;
}

void TThread::DoTerminate() {
  if (OnTerminate) Synchronize([this] { OnTerminate(this); });
}

int TThread::WaitFor() {
  if (!FStarted) throw EThread("Cannot wait for a thread that was never started");
  if (std::this_thread::get_id() == FThreadID) throw EThread("A thread cannot wait for itself");
  if (FFreeOnTerminate) throw EThread("Cannot wait for a thread that frees itself");
  const bool onMain = std::this_thread::get_id() == gMainThread;
  while (true) {
    {
      std::unique_lock<std::mutex> lock(gSyncLock);
      gSyncCond.wait(lock, [&] { return FFinished || (onMain && !gSyncQueue.empty()); });
      if (FFinished) break;
    }
    CheckSynchronize();
  }
  if (FThread.joinable()) FThread.join();
  return FReturnValue;
}

namespace {

// Puts work on the main thread's queue and wakes the loop that drains it.
std::shared_ptr<TSyncItem> Enqueue(TThread* thread, const TThreadMethod& method, bool waiting) {
  auto item = std::make_shared<TSyncItem>();
  item->Thread = thread;
  item->Method = method;
  item->Waiting = waiting;
  {
    std::lock_guard<std::mutex> lock(gSyncLock);
    gSyncQueue.push_back(item);
    gSyncCond.notify_all();
  }
  Wake();
  return item;
}

}  // namespace

void TThread::Synchronize(TThread* thread, const TThreadMethod& method) {
  if (!method) return;
  if (std::this_thread::get_id() == gMainThread) {
    method();
    return;
  }
  std::shared_ptr<TSyncItem> item = Enqueue(thread, method, true);
  std::unique_lock<std::mutex> lock(gSyncLock);
  gSyncCond.wait(lock, [&] { return item->Done; });
  if (item->Error) std::rethrow_exception(item->Error);
}

void TThread::Queue(TThread* thread, const TThreadMethod& method) {
  if (!method) return;
  if (std::this_thread::get_id() == gMainThread) {
    method();
    return;
  }
  Enqueue(thread, method, false);
}

void TThread::RemoveQueuedEvents(TThread* thread) {
  std::lock_guard<std::mutex> lock(gSyncLock);
  // Synchronize callers wait for their item, so only queued (not waited-for) work goes.
  std::erase_if(gSyncQueue, [&](const std::shared_ptr<TSyncItem>& item) {
    return item->Thread == thread && !item->Waiting;
  });
}
