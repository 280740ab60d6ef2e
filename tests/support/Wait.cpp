#include "tests/support/Wait.h"

#include <algorithm>
#include <thread>

#include "platform/win32.h"

namespace kwstest {

namespace {

// Long enough not to spin, short enough that a condition set by another thread is seen at once.
constexpr auto kSlice = 2ms;

void DispatchWaiting() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

} // namespace

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout, tPump pump) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (pump == tPump::Messages)
      DispatchWaiting();
    if (condition())
      return true;
    const auto now = Clock::now();
    if (now >= deadline)
      return false;
    const auto slice = std::min<Clock::duration>(kSlice, deadline - now);
    if (pump == tPump::None) {
      std::this_thread::sleep_for(slice);
      continue;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(slice).count();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(ms), QS_ALLINPUT);
  }
}

} // namespace kwstest
