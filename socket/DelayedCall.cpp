#include "socket/DelayedCall.h"

#include <chrono>

TDelayedCall::TDelayedCall(DWORD delayMs, std::function<void()> action) {
  Waiter = std::thread([this, delayMs, action = std::move(action)] {
    std::unique_lock<std::mutex> held(Lock);
    if (!Wake.wait_for(held, std::chrono::milliseconds(delayMs), [this] { return Cancelled; })) {
      held.unlock();
      action();
    }
  });
}

TDelayedCall::~TDelayedCall() {
  {
    std::lock_guard<std::mutex> held(Lock);
    Cancelled = true;
  }
  Wake.notify_all();
  Waiter.join();
}
