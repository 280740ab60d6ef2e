#include "platform/rtl/thread.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "platform/rtl/sysutils.h"

namespace {

struct SyncRequest {
  const std::function<void()>* Method = nullptr;
  // A queued call owns its method and its request; nobody waits for it.
  std::function<void()> Owned;
  std::exception_ptr Error; // guarded by SyncState::Lock
  bool Done = false;        // guarded by SyncState::Lock
  // Its own, so a finished call wakes only the thread that waits for it.
  std::condition_variable Finished;
};

// Waiting synchronized calls and the main thread's hidden window that runs them.
struct SyncState {
  std::mutex Lock; // guards Pending and the requests' Error and Done
  std::deque<SyncRequest*> Pending;
  HANDLE Queued = nullptr; // auto-reset: set with each new request, for WaitFor on the main thread
  HWND Window = nullptr;
  DWORD MainThread = 0;
};

SyncState& Sync() {
  static auto* state = new SyncState(); // never destroyed: threads may synchronize during exit
  return *state;
}

LRESULT CALLBACK SyncWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == TThread::kSynchronizeMessage) {
    TThread::CheckSynchronize();
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// Static initialisation runs on the main thread, before main: that thread becomes the one synchronized
// calls run on, and its window exists before any worker can need it.
const bool gSyncReady = [] {
  SyncState& sync = Sync();
  sync.MainThread = GetCurrentThreadId();
  sync.Queued = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  WNDCLASSA wc{};
  wc.lpfnWndProc = SyncWindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "TThreadSynchronizeWindow";
  RegisterClassA(&wc);
  sync.Window =
      CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  return sync.Window != nullptr;
}();

// Takes the request back unless the main thread already took it; true when it was still waiting.
bool Withdraw(SyncState& sync, SyncRequest* request) {
  std::lock_guard<std::mutex> guard(sync.Lock);
  for (auto it = sync.Pending.begin(); it != sync.Pending.end(); ++it) {
    if (*it == request) {
      sync.Pending.erase(it);
      return true;
    }
  }
  return false;
}

} // namespace

TThread::TThread(bool createSuspended, SIZE_T stackSize) {
  ThreadHandle = CreateThread(nullptr, stackSize, ThreadProc, this, CREATE_SUSPENDED, &Id);
  if (!ThreadHandle)
    RaiseLastOSError();
  SuspendedFlag = true;
  if (!createSuspended)
    Resume();
}

TThread::~TThread() {
  const bool self = GetCurrentThreadId() == Id;
  if (!self && !FinishedFlag) {
    Terminate();
    // Never resumed: it runs to its end, skipping Execute because it is terminated.
    if (!Started) {
      try {
        Resume();
      } catch (const std::exception&) {
        // It cannot run, so there is no end to wait for; only its handle is left to close.
        CloseHandle(ThreadHandle);
        return;
      }
    }
    WaitFor();
  }
  CloseHandle(ThreadHandle);
}

void TThread::Resume() {
  // The first resume starts the thread; later ones end a suspension the thread clears itself.
  const bool first = !Started.exchange(true);
  if (first)
    SuspendedFlag = false;
  if (ResumeThread(ThreadHandle) == static_cast<DWORD>(-1)) {
    if (first) {
      Started = false;
      SuspendedFlag = true;
    }
    RaiseLastOSError();
  }
}

void TThread::Suspend() {
  SuspendedFlag = true;
  if (SuspendThread(ThreadHandle) == static_cast<DWORD>(-1)) {
    SuspendedFlag = false;
    RaiseLastOSError();
  }
  SuspendedFlag = false;
}

DWORD TThread::WaitFor() {
  if (GetCurrentThreadId() == Id)
    throw Exception("Cannot wait for the thread itself");
  if (IsMainThread()) {
    HANDLE handles[2] = {ThreadHandle, Sync().Queued};
    for (;;) {
      DWORD result = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
      if (result == WAIT_OBJECT_0 + 1) {
        CheckSynchronize();
        continue;
      }
      if (result == WAIT_FAILED)
        RaiseLastOSError();
      break;
    }
  } else if (WaitForSingleObject(ThreadHandle, INFINITE) == WAIT_FAILED) {
    RaiseLastOSError();
  }
  DWORD code = 0;
  if (!GetExitCodeThread(ThreadHandle, &code))
    RaiseLastOSError();
  return code;
}

DWORD WINAPI TThread::ThreadProc(LPVOID parameter) {
  auto* thread = static_cast<TThread*>(parameter);
  if (!thread->Terminated()) {
    try {
      thread->Execute();
    } catch (...) {
      thread->Fatal = std::current_exception();
    }
  }
  const DWORD result = thread->ReturnValue;
  const bool freeIt = thread->FreeOnTerminate;
  if (thread->OnTerminate) {
    try {
      Synchronize([thread] { thread->OnTerminate(*thread); });
    } catch (...) {
      // Nobody is left to hear about it; the thread's end must not depend on the handler.
    }
  }
  thread->FinishedFlag = true;
  if (freeIt)
    FreeThread(thread);
  return result;
}

void TThread::FreeThread(TThread* thread) {
  delete thread; // the one place a thread object frees itself
}

void TThread::Synchronize(const std::function<void()>& method) {
  if (IsMainThread()) {
    method();
    return;
  }
  SyncState& sync = Sync();
  SyncRequest request;
  request.Method = &method;
  {
    std::lock_guard<std::mutex> guard(sync.Lock);
    sync.Pending.push_back(&request);
  }
  SetEvent(sync.Queued);
  if (!PostMessageA(sync.Window, kSynchronizeMessage, 0, 0)) {
    DWORD error = GetLastError();
    if (Withdraw(sync, &request))
      RaiseLastOSError(error);
  }
  std::unique_lock<std::mutex> guard(sync.Lock);
  request.Finished.wait(guard, [&] { return request.Done; });
  if (request.Error)
    std::rethrow_exception(request.Error);
}

void TThread::Queue(std::function<void()> method) {
  if (IsMainThread()) {
    method();
    return;
  }
  SyncState& sync = Sync();
  auto owned = std::make_unique<SyncRequest>();
  owned->Owned = std::move(method);
  owned->Method = &owned->Owned;
  SyncRequest* request = owned.release(); // owned by the queue from here on: CheckSynchronize frees it
  {
    std::lock_guard<std::mutex> guard(sync.Lock);
    sync.Pending.push_back(request);
  }
  SetEvent(sync.Queued);
  if (!PostMessageA(sync.Window, kSynchronizeMessage, 0, 0)) {
    const DWORD error = GetLastError();
    if (Withdraw(sync, request)) {
      owned.reset(request);
      RaiseLastOSError(error);
    }
  }
}

void TThread::CheckSynchronize() {
  if (!IsMainThread())
    return;
  SyncState& sync = Sync();
  for (;;) {
    SyncRequest* request;
    {
      std::lock_guard<std::mutex> guard(sync.Lock);
      if (sync.Pending.empty())
        return;
      request = sync.Pending.front();
      sync.Pending.pop_front();
    }
    // A queued call is owned by the queue until it ran; nobody is left to hear of its exception.
    const std::unique_ptr<SyncRequest> queued(request->Owned ? request : nullptr);
    std::exception_ptr error;
    try {
      (*request->Method)();
    } catch (...) {
      error = std::current_exception();
    }
    if (queued)
      continue;
    std::lock_guard<std::mutex> guard(sync.Lock);
    request->Error = std::move(error); // no reference stays here: the caller alone ends the exception
    request->Done = true;
    // Under the lock: once it is released the waiter may return and its request be gone.
    request->Finished.notify_one();
  }
}

bool TThread::IsMainThread() {
  return GetCurrentThreadId() == Sync().MainThread;
}

DWORD TThread::MainThreadID() {
  return Sync().MainThread;
}
