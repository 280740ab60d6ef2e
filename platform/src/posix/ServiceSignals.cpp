#include "platform/src/posix/ServiceSignals.h"

#include <cerrno>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

namespace kwsplat::posix {
namespace {

// What one signal leaves in the pipe; smaller than PIPE_BUF, so written and read whole.
struct Record {
  int32_t Signal; // 0: a wake-up
  int32_t Queued; // sent with sigqueue, carrying Value
  int32_t Value;
};

constexpr uint32_t kStop = 1, kPause = 2, kContinue = 3, kInterrogate = 4, kShutdown = 5, kParamChange = 6;
constexpr uint32_t kFirstCustom = 128;

std::once_flag gPipeOnce;
int gPipe[2] = {-1, -1}; // written once under gPipeOnce

std::mutex gLock; // guards gSaved
std::vector<std::pair<int, struct sigaction>> gSaved;

void OnSignal(int signal, siginfo_t* info, void*) {
  const int saved = errno;
  Record record{signal, info != nullptr && info->si_code == SI_QUEUE ? 1 : 0,
                info != nullptr && info->si_code == SI_QUEUE ? info->si_value.sival_int : 0};
  [[maybe_unused]] ssize_t written = write(gPipe[1], &record, sizeof record);
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

std::vector<int> HandledSignals() {
  std::vector<int> signals{SIGTERM, SIGINT, SIGTSTP, SIGCONT, SIGUSR1, SIGPWR, SIGHUP};
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
    signals.push_back(signal);
  return signals;
}

uint32_t CodeOf(const Record& record) {
  switch (record.Signal) {
  case SIGTERM:
  case SIGINT:
    return kStop;
  case SIGTSTP:
    return kPause;
  case SIGCONT:
    return kContinue;
  case SIGUSR1:
    return kInterrogate;
  case SIGPWR:
    return kShutdown;
  case SIGHUP:
    return kParamChange;
  default:
    if (record.Signal == SIGRTMIN && record.Queued)
      return static_cast<uint32_t>(record.Value);
    return kFirstCustom + static_cast<uint32_t>(record.Signal - SIGRTMIN);
  }
}

} // namespace

bool InstallServiceSignals() {
  if (!MakePipe())
    return false;
  std::lock_guard<std::mutex> guard(gLock);
  if (!gSaved.empty())
    return true;
  struct sigaction action {};
  action.sa_sigaction = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART | SA_SIGINFO;
  for (int signal : HandledSignals()) {
    struct sigaction previous {};
    if (sigaction(signal, &action, &previous) == 0)
      gSaved.emplace_back(signal, previous);
  }
  return true;
}

void RestoreServiceSignals() {
  std::lock_guard<std::mutex> guard(gLock);
  for (const auto& [signal, previous] : gSaved)
    sigaction(signal, &previous, nullptr);
  gSaved.clear();
}

ServiceSignal WaitForServiceSignal() {
  if (!MakePipe())
    return ServiceSignal{true, 0};
  for (;;) {
    Record record{};
    ssize_t got = read(gPipe[0], &record, sizeof record);
    if (got == static_cast<ssize_t>(sizeof record))
      return record.Signal == 0 ? ServiceSignal{true, 0} : ServiceSignal{false, CodeOf(record)};
    if (got < 0 && errno == EINTR)
      continue;
    pollfd fd{gPipe[0], POLLIN, 0};
    poll(&fd, 1, -1);
  }
}

void WakeServiceSignalWait() {
  if (!MakePipe())
    return;
  Record record{0, 0, 0};
  [[maybe_unused]] ssize_t written = write(gPipe[1], &record, sizeof record);
}

} // namespace kwsplat::posix
