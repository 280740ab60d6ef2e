// One per thread: where the thread sleeps in GetMessageA, WaitMessage and the waits, and what a post
// or a signalled event pokes to end that sleep.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace kwsplat {

using Clock = std::chrono::steady_clock;

class Waiter {
public:
  // Any thread. A wake that finds the owner awake is kept for its next sleep, so none is lost.
  void Wake() {
    std::lock_guard<std::mutex> guard(Lock);
    Woken = true;
    if (Sleeping)
      Cv.notify_one();
  }

  // Owner only. Returns once woken, or once the deadline has passed (never before it).
  void SleepUntil(const Clock::time_point* deadline) {
    std::unique_lock<std::mutex> guard(Lock);
    Sleeping = true;
    while (!Woken) {
      if (!deadline) {
        Cv.wait(guard);
      } else if (Cv.wait_until(guard, *deadline) == std::cv_status::timeout && Clock::now() >= *deadline) {
        break;
      }
    }
    Sleeping = false;
    Woken = false;
  }

private:
  std::mutex Lock; // guards Woken, Sleeping
  std::condition_variable Cv;
  bool Woken = false;
  bool Sleeping = false;
};

} // namespace kwsplat
