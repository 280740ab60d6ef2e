#include "platform/src/posix/SelfPipe.h"

#include <cerrno>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace kwsplat::posix {

bool SelfPipe::Open() {
  std::call_once(Once, [this] {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
      return;
    fcntl(fds[1], F_SETFL, O_NONBLOCK);
    Fds[0] = fds[0];
    Fds[1] = fds[1];
  });
  return Fds[0] >= 0;
}

void SelfPipe::Write(const void* record, size_t size) const {
  const int saved = errno;
  [[maybe_unused]] ssize_t written = write(Fds[1], record, size);
  errno = saved;
}

void SelfPipe::Read(void* record, size_t size) const {
  for (;;) {
    ssize_t got = read(Fds[0], record, size);
    if (got == static_cast<ssize_t>(size))
      return;
    if (got < 0 && errno == EINTR)
      continue;
    pollfd fd{Fds[0], POLLIN, 0};
    poll(&fd, 1, -1);
  }
}

} // namespace kwsplat::posix
