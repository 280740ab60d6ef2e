// Threads (with a small pool of ended OS threads), events and the waits.
#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <iterator>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>
#include <vector>

#include "platform/src/KernelObjects.h"
#include "platform/src/ThreadState.h"
#include "platform/src/Threading.h"
#include "platform/src/posix/threadstart.h"
#include "platform/win32.h"

namespace kwsplat {
namespace {

// ---- thread records -------------------------------------------------------------------------------

class ThreadRegistry {
public:
  std::shared_ptr<ThreadState> Add() {
    std::unique_lock<std::shared_mutex> guard(Lock);
    uint32_t id;
    do {
      id = NextId;
      NextId += 4;
    } while (id == 0 || Threads.count(id) != 0); // a wrapped counter skips live ids
    auto state = std::make_shared<ThreadState>(id);
    Threads.emplace(id, state);
    return state;
  }

  std::shared_ptr<ThreadState> Find(uint32_t id) {
    std::shared_lock<std::shared_mutex> guard(Lock);
    auto it = Threads.find(id);
    return it == Threads.end() ? nullptr : it->second;
  }

  void Remove(uint32_t id) {
    std::unique_lock<std::shared_mutex> guard(Lock);
    Threads.erase(id);
  }

private:
  std::shared_mutex Lock; // guards Threads, NextId
  std::unordered_map<uint32_t, std::shared_ptr<ThreadState>> Threads;
  uint32_t NextId = 4;
};

ThreadRegistry& Registry() {
  static auto* registry = new ThreadRegistry(); // never destroyed
  return *registry;
}

thread_local ThreadState* tCurrent = nullptr;
ThreadState* gMain = nullptr;                        // written once before main
std::shared_ptr<ThreadState>* gMainRecord = nullptr; // keeps it; written once before main

std::array<std::atomic<ThreadResetHook>, kMaxThreadResets> gResetHooks{};
std::atomic<int> gResetCount{0};

void EndThread(ThreadState& state) {
  DestroyThreadWindows(state);
  state.Queue.Close();
  Registry().Remove(state.Id);
}

// Ends the record of a thread the layer did not start when that thread exits.
struct ForeignThread {
  std::shared_ptr<ThreadState> State;
  ~ForeignThread() {
    if (!State)
      return;
    EndThread(*State);
    tCurrent = nullptr;
  }
};

// ---- waitable objects ----------------------------------------------------------------------------

class Waitable : public KernelObject {
public:
  Waitable(bool autoReset, bool signaled) : Signaled(signaled), AutoReset(autoReset) {}
  bool IsWaitable() const override { return true; }

  // True when signalled (taking an auto-reset signal); otherwise the next Set wakes w.
  bool AcquireOrWatch(Waiter& w) {
    std::lock_guard<std::mutex> guard(Lock);
    if (Signaled) {
      if (AutoReset)
        Signaled = false;
      return true;
    }
    if (std::find(Watchers.begin(), Watchers.end(), &w) == Watchers.end())
      Watchers.push_back(&w);
    return false;
  }

  void Unwatch(Waiter& w) {
    std::lock_guard<std::mutex> guard(Lock);
    Watchers.erase(std::remove(Watchers.begin(), Watchers.end(), &w), Watchers.end());
  }

  void Set() {
    std::lock_guard<std::mutex> guard(Lock);
    Signaled = true;
    for (Waiter* w : Watchers)
      w->Wake();
  }

  void Reset() {
    std::lock_guard<std::mutex> guard(Lock);
    Signaled = false;
  }

protected:
  std::mutex Lock; // guards Signaled, Watchers and the fields of subclasses that say so
  bool Signaled;
  const bool AutoReset;
  std::vector<Waiter*> Watchers;
};

class EventObject : public Waitable {
public:
  using Waitable::Waitable;
};

class ThreadObject : public Waitable {
public:
  ThreadObject(std::shared_ptr<ThreadState> state, LPTHREAD_START_ROUTINE routine, LPVOID param,
               size_t stackBytes, bool suspended)
      : Waitable(false, false), Routine(routine), Param(param), StackBytes(stackBytes),
        Pending(std::move(state)), Suspends(suspended ? 1 : 0), Started(!suspended) {}

  const LPTHREAD_START_ROUTINE Routine;
  const LPVOID Param;
  const size_t StackBytes;
  std::atomic<DWORD> ExitCode{STILL_ACTIVE};

  // Resume: decrements the suspend count; reports whether the thread must now be started.
  DWORD Resume(bool& start) {
    std::lock_guard<std::mutex> guard(Lock);
    DWORD previous = Suspends;
    start = false;
    if (Suspends == 0)
      return previous;
    if (--Suspends == 0) {
      if (!Started) {
        Started = true;
        start = true;
      } else if (Running) {
        Running->Wakeup.Wake();
      }
    }
    return previous;
  }

  void StartFailed() {
    std::lock_guard<std::mutex> guard(Lock);
    Started = false;
    Suspends = 1;
  }

  // The calling thread is this one: stays here until another thread resumes it.
  DWORD SuspendSelf(ThreadState& self) {
    DWORD previous;
    {
      std::lock_guard<std::mutex> guard(Lock);
      previous = Suspends++;
    }
    for (;;) {
      {
        std::lock_guard<std::mutex> guard(Lock);
        if (Suspends == 0)
          return previous;
      }
      self.Wakeup.SleepUntil(nullptr);
    }
  }

  std::shared_ptr<ThreadState> BeginRun() {
    std::lock_guard<std::mutex> guard(Lock);
    Running = Pending.get();
    return std::move(Pending);
  }

  // Before the record goes: nothing may reach it through Running afterwards.
  void LeaveRecord() {
    std::lock_guard<std::mutex> guard(Lock);
    Running = nullptr;
  }

  void EndRun(DWORD code) {
    ExitCode = code;
    Set();
  }

private:
  std::shared_ptr<ThreadState> Pending; // guarded by Lock; the record until the thread starts
  ThreadState* Running = nullptr;       // guarded by Lock
  DWORD Suspends;                       // guarded by Lock
  bool Started;                         // guarded by Lock
};

// ---- the pool --------------------------------------------------------------------------------------

struct PoolWorker {
  explicit PoolWorker(std::shared_ptr<ThreadObject> job) : StackBytes(job->StackBytes), Job(std::move(job)) {}
  const size_t StackBytes;
  std::mutex Lock; // guards Job
  std::condition_variable Cv;
  std::shared_ptr<ThreadObject> Job;
};

class ThreadPool {
public:
  bool Launch(const std::shared_ptr<ThreadObject>& job) {
    {
      std::lock_guard<std::mutex> guard(Lock);
      // The most recently parked first: its stack is the likeliest to be warm.
      for (auto it = Idle.rbegin(); it != Idle.rend(); ++it) {
        PoolWorker* worker = *it;
        if (worker->StackBytes != job->StackBytes)
          continue;
        Idle.erase(std::next(it).base());
        std::lock_guard<std::mutex> workerGuard(worker->Lock);
        worker->Job = job;
        worker->Cv.notify_one();
        return true;
      }
    }
    auto worker = std::make_unique<PoolWorker>(job);
    if (!posix::StartDetachedThread(job->StackBytes, &ThreadPool::WorkerMain, worker.get()))
      return false;
    worker.release(); // owned by the new thread
    return true;
  }

private:
  // Enough that a steady load of a few dozen connections at a time creates no thread; the idle time bounds
  // what a burst leaves behind.
  static constexpr size_t kMaxIdle = 64;
  static constexpr auto kIdleTime = std::chrono::seconds(30);

  static void WorkerMain(void* raw);
  static DWORD RunJob(ThreadObject& job);

  // Adds the worker to the idle list; false when the list is full and the worker should end.
  bool Park(PoolWorker* worker) {
    std::lock_guard<std::mutex> guard(Lock);
    if (Idle.size() >= kMaxIdle)
      return false;
    Idle.push_back(worker);
    return true;
  }

  // After an idle time-out: true when a job arrived meanwhile, else the worker leaves the list.
  bool Unpark(PoolWorker* worker) {
    std::lock_guard<std::mutex> guard(Lock);
    std::lock_guard<std::mutex> workerGuard(worker->Lock);
    if (worker->Job)
      return true;
    Idle.erase(std::remove(Idle.begin(), Idle.end(), worker), Idle.end());
    return false;
  }

  std::mutex Lock; // guards Idle; taken before a worker's Lock
  std::vector<PoolWorker*> Idle;
};

ThreadPool& Pool() {
  static auto* pool = new ThreadPool(); // never destroyed
  return *pool;
}

DWORD ThreadPool::RunJob(ThreadObject& job) {
  std::shared_ptr<ThreadState> state = job.BeginRun();
  tCurrent = state.get();
  LastErrorSlot() = 0;
  int hooks = gResetCount.load(std::memory_order_acquire);
  for (int i = 0; i < hooks; ++i)
    gResetHooks[i].load(std::memory_order_relaxed)();
  DWORD code = job.Routine(job.Param);
  job.LeaveRecord();
  EndThread(*state);
  state->Object.reset();
  tCurrent = nullptr;
  return code;
}

void ThreadPool::WorkerMain(void* raw) {
  std::unique_ptr<PoolWorker> worker(static_cast<PoolWorker*>(raw));
  for (;;) {
    std::shared_ptr<ThreadObject> job;
    {
      std::lock_guard<std::mutex> guard(worker->Lock);
      job = std::move(worker->Job);
    }
    DWORD code = RunJob(*job);
    // Parked before the end is signalled, so a thread created after a wait for this one can reuse it.
    bool parked = Pool().Park(worker.get());
    job->EndRun(code);
    job.reset();
    if (!parked)
      return;
    std::unique_lock<std::mutex> guard(worker->Lock);
    if (worker->Cv.wait_for(guard, kIdleTime, [&] { return worker->Job != nullptr; }))
      continue;
    guard.unlock();
    if (!Pool().Unpark(worker.get()))
      return;
  }
}

// ---- helpers for the calls ------------------------------------------------------------------------

const HANDLE kCurrentThreadPseudo = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2));

std::shared_ptr<KernelObject> Resolve(HANDLE handle) {
  if (handle == kCurrentThreadPseudo)
    return CurrentThread().Object;
  return KernelHandles().Find(FromHandle(handle));
}

std::shared_ptr<ThreadObject> ResolveThread(HANDLE handle) {
  return std::dynamic_pointer_cast<ThreadObject>(Resolve(handle));
}

size_t StackBytesFor(SIZE_T requested) {
  constexpr size_t kDefault = 1024 * 1024;
  constexpr size_t kMinimum = 64 * 1024;
  size_t bytes = requested == 0 ? kDefault : std::max<size_t>(requested, kMinimum);
#ifdef KWS_SANITIZER_BUILD
  bytes *= 4; // sanitizers need far more stack per frame
#endif
  return bytes;
}

DWORD Fail(DWORD error) {
  SetLastError(error);
  return WAIT_FAILED;
}

DWORD WaitAny(DWORD count, const HANDLE* handles, DWORD milliseconds, bool messages) {
  if (count > MAXIMUM_WAIT_OBJECTS || (count > 0 && !handles))
    return Fail(ERROR_INVALID_PARAMETER);
  std::array<std::shared_ptr<Waitable>, MAXIMUM_WAIT_OBJECTS> objects;
  for (DWORD i = 0; i < count; ++i) {
    objects[i] = std::dynamic_pointer_cast<Waitable>(Resolve(handles[i]));
    if (!objects[i])
      return Fail(ERROR_INVALID_HANDLE);
  }
  ThreadState& self = CurrentThread();
  const bool timed = milliseconds != INFINITE;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timed ? milliseconds : 0);
  DWORD result = WAIT_TIMEOUT;
  for (;;) {
    DWORD i = 0;
    while (i < count && !objects[i]->AcquireOrWatch(self.Wakeup))
      ++i;
    if (i < count) {
      result = WAIT_OBJECT_0 + i;
      break;
    }
    if (messages && self.Queue.HasAny(true)) {
      result = WAIT_OBJECT_0 + count;
      break;
    }
    if (timed && Clock::now() >= deadline)
      break;
    self.Wakeup.SleepUntil(timed ? &deadline : nullptr);
  }
  for (DWORD i = 0; i < count; ++i)
    objects[i]->Unwatch(self.Wakeup);
  if (messages)
    self.Queue.Disarm();
  return result;
}

} // namespace

// ---- internal interface ----------------------------------------------------------------------------

ThreadState& CurrentThread() {
  if (tCurrent)
    return *tCurrent;
  thread_local ForeignThread foreign;
  foreign.State = Registry().Add();
  tCurrent = foreign.State.get();
  return *tCurrent;
}

std::shared_ptr<ThreadState> FindThread(uint32_t id) {
  return Registry().Find(id);
}

void InitMainThread() {
  gMainRecord = new std::shared_ptr<ThreadState>(Registry().Add()); // never destroyed
  gMain = gMainRecord->get();
  tCurrent = gMain;
}

bool IsMainThread() {
  return gMain != nullptr && tCurrent == gMain;
}

uint32_t MainThreadId() {
  return gMain ? gMain->Id : 0;
}

void RegisterThreadReset(ThreadResetHook hook) {
  static std::mutex lock; // serialises registrations
  std::lock_guard<std::mutex> guard(lock);
  int count = gResetCount.load(std::memory_order_relaxed);
  if (count >= kMaxThreadResets)
    return;
  gResetHooks[count].store(hook, std::memory_order_relaxed);
  gResetCount.store(count + 1, std::memory_order_release);
}

} // namespace kwsplat

using namespace kwsplat;

extern "C" {

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T dwStackSize, LPTHREAD_START_ROUTINE lpStartAddress,
                           LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId) {
  if (!lpStartAddress) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const bool suspended = (dwCreationFlags & CREATE_SUSPENDED) != 0;
  std::shared_ptr<ThreadState> state = Registry().Add();
  const uint32_t id = state->Id;
  auto object = std::make_shared<ThreadObject>(state, lpStartAddress, lpParameter, StackBytesFor(dwStackSize),
                                               suspended);
  state->Object = object;
  if (!suspended) {
    if (!Pool().Launch(object)) {
      object->BeginRun();
      state->Object.reset();
      EndThread(*state);
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
  }
  HANDLE handle = ToHandle(KernelHandles().Add(object));
  if (lpThreadId)
    *lpThreadId = id;
  return handle;
}

DWORD WINAPI ResumeThread(HANDLE hThread) {
  auto thread = ResolveThread(hThread);
  if (!thread)
    return Fail(ERROR_INVALID_HANDLE);
  bool start = false;
  DWORD previous = thread->Resume(start);
  if (start && !Pool().Launch(thread)) {
    thread->StartFailed();
    return Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
  return previous;
}

DWORD WINAPI SuspendThread(HANDLE hThread) {
  auto thread = ResolveThread(hThread);
  if (!thread)
    return Fail(ERROR_INVALID_HANDLE);
  ThreadState& self = CurrentThread();
  if (self.Object != thread)
    return Fail(ERROR_NOT_SUPPORTED); // only a thread's own suspension can be honoured safely
  return thread->SuspendSelf(self);
}

HANDLE WINAPI GetCurrentThread(void) {
  return kCurrentThreadPseudo;
}

DWORD WINAPI GetCurrentThreadId(void) {
  return CurrentThread().Id;
}

BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
  auto thread = ResolveThread(hThread);
  if (!thread || !lpExitCode) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *lpExitCode = thread->ExitCode;
  return TRUE;
}

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName) {
  if (lpName && *lpName) {
    SetLastError(ERROR_NOT_SUPPORTED); // no other process could open it
    return nullptr;
  }
  auto event = std::make_shared<EventObject>(!bManualReset, bInitialState != FALSE);
  return ToHandle(KernelHandles().Add(std::move(event)));
}

BOOL WINAPI SetEvent(HANDLE hEvent) {
  auto event = FindKernelObject<EventObject>(hEvent);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  event->Set();
  return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE hEvent) {
  auto event = FindKernelObject<EventObject>(hEvent);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  event->Reset();
  return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  return WaitAny(1, &hHandle, dwMilliseconds, false);
}

DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                                    DWORD dwMilliseconds) {
  if (nCount == 0)
    return Fail(ERROR_INVALID_PARAMETER);
  if (bWaitAll && nCount > 1)
    return Fail(ERROR_NOT_SUPPORTED);
  return WaitAny(nCount, lpHandles, dwMilliseconds, false);
}

DWORD WINAPI MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll,
                                       DWORD dwMilliseconds, DWORD dwWakeMask) {
  if (fWaitAll && nCount > 0)
    return Fail(ERROR_NOT_SUPPORTED);
  return WaitAny(nCount, pHandles, dwMilliseconds, dwWakeMask != 0);
}

} // extern "C"
