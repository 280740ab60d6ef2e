#include "tests/support/Wait.h"

#include <algorithm>
#include <thread>

#include "platform/win32.h"

namespace kwstest {

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout, tPump pump) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    for (MSG msg; pump == tPump::Messages && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (condition())
      return true;
    const auto now = Clock::now();
    if (now >= deadline)
      return false;
    const auto slice =
        std::chrono::ceil<std::chrono::milliseconds>(std::min<Clock::duration>(2ms, deadline - now));
    if (pump == tPump::None)
      std::this_thread::sleep_for(slice);
    else
      MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(slice.count()), QS_ALLINPUT);
  }
}

} // namespace kwstest
