#include "platform/src/posix/signalpipe.h"

#include <cerrno>
#include <mutex>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

namespace kwsplat::posix {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kCount = sizeof kSignals / sizeof kSignals[0];

std::once_flag gPipeOnce;
int gPipe[2] = {-1, -1}; // written once under gPipeOnce

std::mutex gLock; // guards gSaved, gInstalled
struct sigaction gSaved[kCount];
bool gInstalled = false;

void OnSignal(int signal) {
  const int saved = errno;
  unsigned char byte = static_cast<unsigned char>(signal);
  [[maybe_unused]] ssize_t written = write(gPipe[1], &byte, 1); // full pipe: signals are already queued
  errno = saved;
}

bool MakePipe() {
  std::call_once(gPipeOnce, [] {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
      return;
    fcntl(fds[1], F_SETFL, O_NONBLOCK);
    gPipe[0] = fds[0];
    gPipe[1] = fds[1];
  });
  return gPipe[0] >= 0;
}

} // namespace

bool InstallEndingSignals() {
  if (!MakePipe())
    return false;
  std::lock_guard<std::mutex> guard(gLock);
  if (gInstalled)
    return true;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int i = 0; i < kCount; ++i)
    sigaction(kSignals[i], &action, &gSaved[i]);
  gInstalled = true;
  return true;
}

void RestoreEndingSignals() {
  std::lock_guard<std::mutex> guard(gLock);
  if (!gInstalled)
    return;
  for (int i = 0; i < kCount; ++i) {
    struct sigaction current {};
    sigaction(kSignals[i], nullptr, &current);
    if (current.sa_handler == OnSignal) // someone else's handler since: leave it
      sigaction(kSignals[i], &gSaved[i], nullptr);
  }
  gInstalled = false;
}

int WaitForEndingSignal() {
  if (!MakePipe())
    return 0;
  for (;;) {
    unsigned char byte = 0;
    ssize_t got = read(gPipe[0], &byte, 1);
    if (got == 1)
      return byte;
    if (got < 0 && errno == EINTR)
      continue;
    pollfd fd{gPipe[0], POLLIN, 0};
    poll(&fd, 1, -1);
  }
}

} // namespace kwsplat::posix
