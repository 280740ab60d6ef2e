#include "platform/src/posix/startup.h"

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

namespace kwsplat::posix {

void IgnoreBrokenPipes() {
  signal(SIGPIPE, SIG_IGN);
}

void RaiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max)
    return;
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}

int ProcessId() {
  return static_cast<int>(getpid());
}

} // namespace kwsplat::posix
