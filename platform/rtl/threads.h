#pragma once
// Threads and their synchronisation: TThread, the main-thread queue that
// Synchronize and Queue feed and CheckSynchronize drains, TCriticalSection and
// TEvent.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <mutex>
#include <thread>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/object.h"

enum TWaitResult : uint8_t { wrSignaled, wrTimeout, wrAbandoned, wrError };
// A wait without end, as Windows spells it.
constexpr uint32_t kInfiniteWait = 0xFFFFFFFF;

// A lock that the thread holding it may take again, as Windows critical sections are.
class TCriticalSection : public TObject {
public:
  void Acquire() { FLock.lock(); }
  void Release() { FLock.unlock(); }
  void Enter() { Acquire(); }
  void Leave() { Release(); }
  bool TryEnter() { return FLock.try_lock(); }

private:
  std::recursive_mutex FLock;
};

// A manual-reset event stays signalled until ResetEvent; an auto-reset event lets
// one waiter through and resets itself.
class TEvent : public TObject {
public:
  explicit TEvent(bool manualReset = true, bool initialState = false)
      : FManualReset(manualReset), FSignaled(initialState) {}
  void SetEvent();
  void ResetEvent();
  // Waits at most timeoutMs milliseconds (kInfiniteWait: for ever).
  TWaitResult WaitFor(uint32_t timeoutMs = kInfiniteWait);

private:
  std::mutex FLock;
  std::condition_variable FCond;
  bool FManualReset;
  bool FSignaled;
};

// Manual reset, not signalled at first.
class TSimpleEvent : public TEvent {
public:
  TSimpleEvent() : TEvent(true, false) {}
};

using TThreadMethod = std::function<void()>;

enum TThreadPriority : uint8_t { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// The thread that runs the message loop; Synchronize and Queue hand work to it.
std::thread::id MainThreadID();
// Runs the work that other threads queued for the main thread; waits up to
// timeoutMs for some when there is none. True when anything ran. Called elsewhere
// than on the main thread it raises EThread. An exception of queued work comes out
// here; the work after it stays queued.
bool CheckSynchronize(uint32_t timeoutMs = 0);
// Set by the message loop (nil to stop): called on any thread when work was
// queued, so a sleeping loop wakes up and calls CheckSynchronize. Threads
// finishing read it while the loop may be set up or taken down, so it is
// reached only through this call.
void SetWakeMainThread(std::function<void()> wake);
// Set by the user-interface layer: takes and dispatches the messages waiting for
// the main thread, without idle processing. Code that must wait on the main thread
// for a while (an animation played inside a draw call) calls it between waits.
extern std::function<void()> ProcessPendingMessages;

// A thread of the framework's kind. Execute is the body; it should look at
// Terminated() and return soon after Terminate. An exception leaving Execute is
// kept in FatalException. OnTerminate runs on the main thread (through
// Synchronize) after Execute. A FreeOnTerminate thread deletes itself at the end.
//
// A C++ object cannot run a virtual Execute before its derived constructor has
// finished, so a thread created not suspended starts in AfterConstruction: create
// it with TThread::New<T>(...), which calls that, or call Start yourself.
class TThread : public TObject {
public:
  explicit TThread(bool createSuspended);
  // Terminates and waits for a running thread; a thread never started is not run.
  ~TThread() override;
  // Deleting a thread stops it (Terminate, then WaitFor) before any destructor runs,
  // so Execute never sees its object half destroyed. A thread that is not made with
  // new must be stopped by its owner before it goes out of scope.
  void operator delete(TThread* thread, std::destroying_delete_t);
  // The allocation that pairs with the delete above, and the release of a thread
  // whose constructor threw.
  static void* operator new(std::size_t size);
  void operator delete(void* memory);

  template <class T, class... A> static T* New(A&&... args) {
    T* t = new T(std::forward<A>(args)...);
    t->AfterConstruction();
    return t;
  }
  void AfterConstruction();

  // Starts a created-suspended thread; EThread when it has been started already.
  void Start();
  // Starts the thread when it has not run yet.
  void Resume();
  void Terminate() { FTerminated = true; }
  bool Terminated() const { return FTerminated; }
  bool Finished() const { return FFinished; }
  bool Suspended() const { return !FStarted; }
  // Waits until Execute and OnTerminate are done and returns ReturnValue. On the main
  // thread it keeps running synchronised work meanwhile, so a thread waiting in
  // Synchronize cannot deadlock it. Raises EThread for a thread that was never
  // started, frees itself, or is the caller.
  int WaitFor();

  bool FreeOnTerminate() const { return FFreeOnTerminate; }
  void SetFreeOnTerminate(bool value) { FFreeOnTerminate = value; }
  int ReturnValue() const { return FReturnValue; }
  // The exception that ended Execute, or nil.
  Exception* FatalException() const { return FFatalException; }
  std::exception_ptr FatalExceptionPtr() const { return FFatalExceptionPtr; }
  std::thread::id ThreadID() const { return FThreadID.load(); }
  // Kept for those who ask; threads here all run at the scheduler's normal level,
  // which an ordinary user cannot raise.
  TThreadPriority Priority() const { return FPriority; }
  void SetPriority(TThreadPriority priority) { FPriority = priority; }

  TNotifyEvent OnTerminate;

  // Runs method on the main thread and waits for it; its exception comes back here.
  // On the main thread it simply runs method.
  static void Synchronize(TThread* thread, const TThreadMethod& method);
  // Puts method on the main thread's queue without waiting (runs it at once on the main thread).
  static void Queue(TThread* thread, const TThreadMethod& method);
  // Drops queued work of thread that has not run yet.
  static void RemoveQueuedEvents(TThread* thread);

protected:
  virtual void Execute() = 0;
  virtual void DoTerminate();
  void Synchronize(const TThreadMethod& method) { Synchronize(this, method); }
  void Queue(const TThreadMethod& method) { Queue(this, method); }
  void SetReturnValue(int value) { FReturnValue = value; }

private:
  static void ThreadProc(TThread* thread);
  void StopAndJoin();

  std::thread FThread;
  std::atomic<std::thread::id> FThreadID{};
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
  bool FStarted = false;
  bool FCreateSuspended;
  std::atomic<bool> FFreeOnTerminate{false};
  int FReturnValue = 0;
  TThreadPriority FPriority = tpNormal;
  Exception* FFatalException = nullptr;
  std::exception_ptr FFatalExceptionPtr;
  std::unique_ptr<Exception> FForeignException;
};
