#include "tests/support/LoopbackPeer.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <stdexcept>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/support/Wait.h"

namespace kwstest {

namespace {

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

// A blocking socket connected to 127.0.0.1:port, or -1. The send time-out bounds the connect.
int ConnectLoopback(uint16_t port, std::chrono::milliseconds timeout, int receiveBuffer) {
  const int fd = NewSocket(receiveBuffer);
  timeval limit{timeout.count() / 1000, timeout.count() % 1000 * 1000};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  const sockaddr_in address = LocalAddress(port);
  if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  limit = {};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  return fd;
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

bool tLoopbackPeer::Send(const std::string& bytes) {
  for (size_t sent = 0; sent < bytes.size();) {
    const ssize_t n = send(Fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0 && errno != EINTR)
      return false;
    sent += static_cast<size_t>(std::max<ssize_t>(n, 0));
  }
  return true;
}

std::string tLoopbackPeer::Receive(size_t count, std::chrono::milliseconds timeout, bool once) {
  Closed = Reset = TimedOut = false;
  std::string bytes;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  char chunk[65536];
  while (Fd >= 0 && bytes.size() < count) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd readable{Fd, POLLIN, 0};
    const int ready = poll(&readable, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
    if (ready < 0 && errno == EINTR)
      continue;
    const ssize_t n = ready == 1 ? recv(Fd, chunk, std::min(sizeof chunk, count - bytes.size()), 0) : -1;
    TimedOut = ready == 0;
    Reset = ready == 1 && n < 0 && errno == ECONNRESET;
    Closed = n == 0;
    if (n <= 0)
      break;
    bytes.append(chunk, static_cast<size_t>(n));
    if (once)
      break;
  }
  return bytes;
}

void tLoopbackPeer::ShutdownSending() {
  if (Fd >= 0)
    shutdown(Fd, SHUT_WR);
}

void tLoopbackPeer::ResetConnection() {
  const linger option{1, 0};
  if (Fd >= 0)
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
  return client.Connect(port) && client.Send(request) ? client.ReadToEnd(timeout) : "";
}

int FreeLoopbackPort() {
  tLoopbackPeer probe;
  if (const uint16_t port = probe.Listen())
    return port;
  throw std::runtime_error("cannot find a free loopback port");
}

bool WaitForLoopbackPort(int port, std::chrono::milliseconds timeout) {
  return WaitUntil([port] { return tLoopbackPeer().Connect(static_cast<uint16_t>(port), 1s); }, timeout,
                   tPump::None);
}

int OpenDescriptorCount() {
  // Less the iterator's own descriptor.
  return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {})) - 1;
}

} // namespace kwstest
