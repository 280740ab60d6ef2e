#include "platform/src/posix/ServiceSignals.h"

#include <mutex>
#include <vector>

#include <signal.h>

#include "platform/src/posix/SelfPipe.h"

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

SelfPipe gPipe;

std::mutex gLock; // guards gSaved
std::vector<std::pair<int, struct sigaction>> gSaved;

void OnSignal(int signal, siginfo_t* info, void*) {
  const bool queued = info != nullptr && info->si_code == SI_QUEUE;
  Record record{signal, queued ? 1 : 0, queued ? info->si_value.sival_int : 0};
  gPipe.Write(&record, sizeof record);
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
  if (!gPipe.Open())
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
  if (!gPipe.Open())
    return ServiceSignal{true, 0};
  Record record{};
  gPipe.Read(&record, sizeof record);
  return record.Signal == 0 ? ServiceSignal{true, 0} : ServiceSignal{false, CodeOf(record)};
}

void WakeServiceSignalWait() {
  if (!gPipe.Open())
    return;
  const Record record{0, 0, 0};
  gPipe.Write(&record, sizeof record);
}

} // namespace kwsplat::posix
