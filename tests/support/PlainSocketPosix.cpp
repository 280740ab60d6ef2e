#include "tests/support/PlainSocket.h"

#include <algorithm>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kwstest {

namespace {

sockaddr_in LocalAddress(uint16_t port, bool anyAddress = false) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(anyAddress ? INADDR_ANY : INADDR_LOOPBACK);
  return address;
}

int Fd(tPlainSocket s) {
  return static_cast<int>(s);
}

} // namespace

tPlainSocket PlainNewSocket(int receiveBuffer) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && receiveBuffer > 0)
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  return fd;
}

// The send time-out bounds the connect.
bool PlainConnect(tPlainSocket s, uint16_t port, std::chrono::milliseconds timeout) {
  timeval limit{timeout.count() / 1000, timeout.count() % 1000 * 1000};
  setsockopt(Fd(s), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  const sockaddr_in address = LocalAddress(port);
  if (connect(Fd(s), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return false;
  limit = {};
  setsockopt(Fd(s), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  return true;
}

uint16_t PlainListen(tPlainSocket s, bool anyAddress) {
  sockaddr_in address = LocalAddress(0, anyAddress);
  socklen_t length = sizeof address;
  if (bind(Fd(s), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(Fd(s), 16) != 0 || getsockname(Fd(s), reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return 0;
  return ntohs(address.sin_port);
}

long PlainSend(tPlainSocket s, const char* data, size_t size) {
  ssize_t n;
  while ((n = send(Fd(s), data, size, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
  }
  return n;
}

long PlainReceive(tPlainSocket s, char* buffer, size_t size, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd readable{Fd(s), POLLIN, 0};
    const int ready = poll(&readable, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
    if (ready < 0 && errno == EINTR)
      continue;
    if (ready == 0)
      return kPlainTimedOut;
    const ssize_t n = ready == 1 ? recv(Fd(s), buffer, size, 0) : -1;
    if (n >= 0)
      return n;
    return errno == ECONNRESET ? kPlainReset : kPlainFailed;
  }
}

void PlainShutdownSending(tPlainSocket s) {
  shutdown(Fd(s), SHUT_WR);
}

void PlainReset(tPlainSocket s) {
  const linger option{1, 0};
  setsockopt(Fd(s), SOL_SOCKET, SO_LINGER, &option, sizeof option);
  PlainClose(s);
}

void PlainClose(tPlainSocket s) {
  close(Fd(s));
}

} // namespace kwstest
