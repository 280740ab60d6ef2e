// The one wait of the tests: runs this thread's message loop until a condition holds or a deadline passes.
#pragma once

#include <chrono>
#include <functional>

namespace kwstest {

using namespace std::chrono_literals;

enum class tPump { Messages, None };

// Dispatches this thread's messages (unless pump is None) until condition() holds or timeout passes, and
// returns condition(). The condition is looked at again at least every few milliseconds, so one set by
// another thread ends the wait as promptly as a message does.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s,
               tPump pump = tPump::Messages);

// Runs the loop for a while with nothing to wait for: to show that something does not happen.
inline void PumpFor(std::chrono::milliseconds duration) {
  WaitUntil([] { return false; }, duration);
}

} // namespace kwstest
