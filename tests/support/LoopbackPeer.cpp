#include "tests/support/LoopbackPeer.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <cstdint>
#include <stdexcept>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/support/Wait.h"

namespace kwstest {

namespace {

using tClock = std::chrono::steady_clock;

int RemainingMs(tClock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - tClock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

sockaddr_in LocalAddress(uint16_t port, bool anyAddress = false) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(anyAddress ? INADDR_ANY : INADDR_LOOPBACK);
  return address;
}

int NewSocket(int receiveBuffer) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && receiveBuffer > 0)
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  return fd;
}

// A blocking socket connected to 127.0.0.1:port, or -1 when refused or timed out.
int ConnectLoopback(uint16_t port, std::chrono::milliseconds timeout, int receiveBuffer) {
  const int fd = NewSocket(receiveBuffer);
  if (fd < 0)
    return -1;
  const int flags = fcntl(fd, F_GETFL);
  fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  const sockaddr_in address = LocalAddress(port);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    pollfd p{fd, POLLOUT, 0};
    int error = 0;
    socklen_t length = sizeof error;
    if (errno != EINPROGRESS || poll(&p, 1, static_cast<int>(timeout.count())) != 1 ||
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
      close(fd);
      return -1;
    }
  }
  fcntl(fd, F_SETFL, flags);
  return fd;
}

bool WaitReadable(int fd, tClock::time_point deadline) {
  pollfd p{fd, POLLIN, 0};
  for (;;) {
    const int n = poll(&p, 1, RemainingMs(deadline));
    if (n < 0 && errno == EINTR)
      continue;
    return n == 1;
  }
}

} // namespace

tLoopbackPeer::~tLoopbackPeer() {
  Close();
  if (ListenFd >= 0)
    close(ListenFd);
}

bool tLoopbackPeer::Connect(uint16_t port, std::chrono::milliseconds timeout) {
  Close();
  Fd = ConnectLoopback(port, timeout, ReceiveBuffer);
  return Fd >= 0;
}

uint16_t tLoopbackPeer::Listen(bool anyAddress) {
  ListenFd = NewSocket(ReceiveBuffer);
  sockaddr_in address = LocalAddress(0, anyAddress);
  socklen_t length = sizeof address;
  if (ListenFd < 0 || bind(ListenFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(ListenFd, 16) != 0 || getsockname(ListenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return 0;
  return ntohs(address.sin_port);
}

bool tLoopbackPeer::Accept(std::chrono::milliseconds timeout) {
  if (!WaitReadable(ListenFd, tClock::now() + timeout))
    return false;
  Close();
  Fd = accept4(ListenFd, nullptr, nullptr, SOCK_CLOEXEC);
  return Fd >= 0;
}

bool tLoopbackPeer::Send(const std::string& bytes) {
  for (size_t sent = 0; sent < bytes.size();) {
    const ssize_t n = send(Fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0 && errno != EINTR)
      return false;
    sent += static_cast<size_t>(std::max<ssize_t>(n, 0));
  }
  return true;
}

std::string tLoopbackPeer::Read(size_t count, std::chrono::milliseconds timeout) {
  Closed = Reset = TimedOut = false;
  std::string bytes;
  const auto deadline = tClock::now() + timeout;
  char chunk[65536];
  while (Fd >= 0 && bytes.size() < count) {
    if (!WaitReadable(Fd, deadline)) {
      TimedOut = true;
      break;
    }
    const ssize_t n = recv(Fd, chunk, std::min(sizeof chunk, count - bytes.size()), 0);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0) {
      Reset = errno == ECONNRESET;
      break;
    }
    if (n == 0) {
      Closed = true;
      break;
    }
    bytes.append(chunk, static_cast<size_t>(n));
  }
  return bytes;
}

std::string tLoopbackPeer::ReadSome(size_t count, std::chrono::milliseconds timeout) {
  Closed = Reset = TimedOut = false;
  if (Fd < 0)
    return "";
  if (!WaitReadable(Fd, tClock::now() + timeout)) {
    TimedOut = true;
    return "";
  }
  std::string bytes(count, '\0');
  const ssize_t n = recv(Fd, bytes.data(), count, 0);
  Reset = n < 0 && errno == ECONNRESET;
  Closed = n == 0;
  bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return bytes;
}

std::string tLoopbackPeer::ReadToEnd(std::chrono::milliseconds timeout) {
  return Read(SIZE_MAX, timeout);
}

void tLoopbackPeer::ShutdownSending() {
  if (Fd >= 0)
    shutdown(Fd, SHUT_WR);
}

void tLoopbackPeer::ResetConnection() {
  if (Fd < 0)
    return;
  const linger option{1, 0};
  setsockopt(Fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
  Close();
}

void tLoopbackPeer::Close() {
  if (Fd >= 0)
    close(Fd);
  Fd = -1;
}

std::string HttpExchange(uint16_t port, const std::string& request, std::chrono::milliseconds timeout) {
  tLoopbackPeer client;
  if (!client.Connect(port) || !client.Send(request))
    return "";
  return client.ReadToEnd(timeout);
}

int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = LocalAddress(0);
  socklen_t length = sizeof address;
  const bool ok = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  if (fd >= 0)
    close(fd);
  if (!ok)
    throw std::runtime_error("cannot find a free loopback port");
  return ntohs(address.sin_port);
}

bool WaitForLoopbackPort(int port, std::chrono::milliseconds timeout) {
  return WaitUntil(
      [port] {
        const int fd = ConnectLoopback(static_cast<uint16_t>(port), 1s, 0);
        if (fd >= 0)
          close(fd);
        return fd >= 0;
      },
      timeout, tPump::None);
}

int OpenDescriptorCount() {
  // Less the iterator's own descriptor.
  return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {})) - 1;
}

} // namespace kwstest
