// The one wait of the tests: runs this thread's message loop until a condition holds or a deadline passes.
#pragma once

#include <chrono>
#include <functional>

namespace kwstest {

using namespace std::chrono_literals;

enum class tPump { Messages, None };

// Returns condition(), looked at again every few milliseconds so that one set by another thread is seen
// promptly; dispatches this thread's messages meanwhile unless pump is None.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s,
               tPump pump = tPump::Messages);

// Runs the loop with nothing to wait for: to show that something does not happen.
inline void PumpFor(std::chrono::milliseconds duration) {
  WaitUntil([] { return false; }, duration);
}

} // namespace kwstest
