#include "platform/src/posix/signalpipe.h"

#include <mutex>

#include <signal.h>

#include "platform/src/posix/SelfPipe.h"

namespace kwsplat::posix {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kCount = sizeof kSignals / sizeof kSignals[0];

SelfPipe gPipe;

std::mutex gLock; // guards gSaved, gInstalled
struct sigaction gSaved[kCount];
bool gInstalled = false;

void OnSignal(int signal) {
  unsigned char byte = static_cast<unsigned char>(signal);
  gPipe.Write(&byte, 1); // full pipe: signals are already queued
}

} // namespace

bool InstallEndingSignals() {
  if (!gPipe.Open())
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
  if (!gPipe.Open())
    return 0;
  unsigned char byte = 0;
  gPipe.Read(&byte, 1);
  return byte;
}

} // namespace kwsplat::posix
