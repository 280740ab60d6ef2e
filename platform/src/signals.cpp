// While the main window exists, SIGINT, SIGTERM and SIGHUP close it, as its close button would.
#include <mutex>
#include <thread>

#include "platform/src/WindowSystem.h"
#include "platform/src/posix/signalpipe.h"
#include "platform/win32.h"

namespace kwsplat {
namespace {

std::mutex gLock; // guards gMainWindow
HWND gMainWindow = nullptr;

// The handlers only write to a pipe; this thread turns each signal into a WM_CLOSE post.
void ForwardSignals() {
  for (;;) {
    posix::WaitForEndingSignal();
    HWND target;
    {
      std::lock_guard<std::mutex> guard(gLock);
      target = gMainWindow;
    }
    if (target)
      PostMessageA(target, WM_CLOSE, 0, 0);
  }
}

} // namespace

void MainWindowCreated(HWND window) {
  static std::once_flag started;
  std::call_once(started, [] { std::thread(ForwardSignals).detach(); });
  {
    std::lock_guard<std::mutex> guard(gLock);
    gMainWindow = window;
  }
  posix::InstallEndingSignals();
}

void MainWindowDestroyed(HWND window) {
  {
    std::lock_guard<std::mutex> guard(gLock);
    if (gMainWindow != window)
      return;
    gMainWindow = nullptr;
  }
  posix::RestoreEndingSignals();
}

} // namespace kwsplat
