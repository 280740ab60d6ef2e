#include "server/LoadedLibrary.h"

tLoadedLibrary::tEntryCall::tEntryCall(tLoadedLibrary& library) : Library(library) {
  std::lock_guard<std::mutex> lock(Library.CallLock);
  Entered = !Library.Terminated;
  if (Entered)
    ++Library.Calls;
}

tLoadedLibrary::tEntryCall::~tEntryCall() {
  if (!Entered)
    return;
  std::lock_guard<std::mutex> lock(Library.CallLock);
  if (--Library.Calls == 0)
    Library.CallsDone.notify_all();
}

// The termination entry runs outside the lock: it may wait for the plug-in's own threads, whose callbacks
// do not call into the plug-in (once Terminated is set, nothing does).
bool tLoadedLibrary::TerminateWhenIdle(std::chrono::steady_clock::time_point deadline) {
  {
    std::unique_lock<std::mutex> lock(CallLock);
    if (Terminated)
      return true;
    if (!CallsDone.wait_until(lock, deadline, [this] { return Calls == 0; }))
      return false;
    Terminated = true;
  }
  Terminate();
  return true;
}

void tLoadedLibrary::TerminateOnce() {
  {
    std::lock_guard<std::mutex> lock(CallLock);
    if (Terminated)
      return;
    Terminated = true;
  }
  Terminate();
}
