#include "tests/support/LoopbackPeer.h"
#include "tests/support/LoopbackSocket.h"

#include <algorithm>
#include <cstdint>

#include <arpa/inet.h>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kwstest {

namespace {

int NewSocket(int receiveBuffer) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && receiveBuffer > 0) {
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  }
  return fd;
}

bool WaitReadable(int fd, tClock::time_point deadline) {
  pollfd p{fd, POLLIN, 0};
  for (;;) {
    const int n = poll(&p, 1, RemainingMs(deadline));
    if (n < 0 && errno == EINTR) {
      continue;
    }
    return n == 1;
  }
}

} // namespace

tLoopbackPeer::~tLoopbackPeer() {
  Close();
  if (ListenFd >= 0) {
    close(ListenFd);
  }
}

bool tLoopbackPeer::Connect(uint16_t port, std::chrono::milliseconds timeout) {
  Close();
  Fd = ConnectLoopback(port, timeout, ReceiveBuffer);
  return Fd >= 0;
}

uint16_t tLoopbackPeer::Listen() {
  ListenFd = NewSocket(ReceiveBuffer);
  sockaddr_in address = LoopbackAddress(0);
  socklen_t length = sizeof address;
  if (ListenFd < 0 || bind(ListenFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(ListenFd, 16) != 0 ||
      getsockname(ListenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return 0;
  }
  return ntohs(address.sin_port);
}

bool tLoopbackPeer::Accept(std::chrono::milliseconds timeout) {
  if (!WaitReadable(ListenFd, tClock::now() + timeout)) {
    return false;
  }
  Close();
  Fd = accept4(ListenFd, nullptr, nullptr, SOCK_CLOEXEC);
  return Fd >= 0;
}

bool tLoopbackPeer::Send(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(Fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    sent += static_cast<size_t>(n);
  }
  return true;
}

std::string tLoopbackPeer::Read(size_t count, std::chrono::milliseconds timeout) {
  Closed = Reset = TimedOut = false;
  std::string bytes;
  const auto deadline = tClock::now() + timeout;
  char chunk[65536];
  while (bytes.size() < count) {
    if (!WaitReadable(Fd, deadline)) {
      TimedOut = true;
      break;
    }
    const size_t wanted = std::min(sizeof chunk, count - bytes.size());
    const ssize_t n = recv(Fd, chunk, wanted, 0);
    if (n < 0 && errno == EINTR) {
      continue;
    }
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

std::string tLoopbackPeer::ReadToEnd(std::chrono::milliseconds timeout) {
  std::string bytes = Read(SIZE_MAX, timeout);
  return bytes;
}

void tLoopbackPeer::ShutdownSending() {
  if (Fd >= 0) {
    shutdown(Fd, SHUT_WR);
  }
}

void tLoopbackPeer::ResetConnection() {
  if (Fd < 0) {
    return;
  }
  const linger option{1, 0};
  setsockopt(Fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
  Close();
}

void tLoopbackPeer::Close() {
  if (Fd >= 0) {
    close(Fd);
    Fd = -1;
  }
}

int OpenDescriptorCount() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) {
    return -1;
  }
  int count = 0;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') {
      ++count;
    }
  }
  closedir(dir);
  return count - 1; // the directory stream's own descriptor
}

} // namespace kwstest
