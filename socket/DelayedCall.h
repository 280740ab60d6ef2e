// TDelayedCall: runs one action on a thread of its own after a delay, unless destroyed first. The platform
// has no timers; an action that posts a message brings the time-out back to the thread that owns the
// window. Used to bound a SOCKS negotiation that a silent proxy would keep open for ever.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/win32.h"

class TDelayedCall {
public:
  TDelayedCall(DWORD delayMs, std::function<void()> action);
  // Cancels the action if it has not started; waits for one that has (a post returns at once).
  ~TDelayedCall();
  TDelayedCall(const TDelayedCall&) = delete;
  TDelayedCall& operator=(const TDelayedCall&) = delete;

private:
  std::mutex Lock;
  std::condition_variable Wake; // notified after Cancelled is set
  bool Cancelled = false;       // guarded by Lock
  std::thread Waiter;           // started last: it reads the members above
};
