#include "tests/support/LoopbackClient.h"
#include "tests/support/LoopbackSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kwstest {

tLoopbackClient::~tLoopbackClient() {
  Close();
}

bool tLoopbackClient::Connect(uint16_t port, std::chrono::milliseconds timeout) {
  Close();
  Fd = ConnectLoopback(port, timeout, ReceiveBuffer);
  return Fd >= 0;
}

bool tLoopbackClient::Send(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(Fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

std::string tLoopbackClient::ReadSome(size_t count, std::chrono::milliseconds timeout) {
  TimedOut = false;
  if (Fd < 0)
    return "";
  pollfd p{Fd, POLLIN, 0};
  if (poll(&p, 1, static_cast<int>(timeout.count())) != 1) {
    TimedOut = true;
    return "";
  }
  std::string buffer(count, '\0');
  const ssize_t n = recv(Fd, buffer.data(), count, 0);
  if (n < 0 && errno == ECONNRESET)
    Reset = true;
  buffer.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return buffer;
}

std::string tLoopbackClient::ReadToEnd(std::chrono::milliseconds timeout) {
  TimedOut = false;
  std::string all;
  const auto deadline = tClock::now() + timeout;
  char buffer[65536];
  while (Fd >= 0) {
    pollfd p{Fd, POLLIN, 0};
    const int ready = poll(&p, 1, RemainingMs(deadline));
    if (ready == 0) {
      TimedOut = true;
      break;
    }
    if (ready < 0 && errno == EINTR)
      continue;
    const ssize_t n = recv(Fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 && errno == ECONNRESET)
      Reset = true;
    if (n <= 0)
      break;
    all.append(buffer, static_cast<size_t>(n));
  }
  return all;
}

void tLoopbackClient::ShutdownSending() {
  if (Fd >= 0)
    shutdown(Fd, SHUT_WR);
}

void tLoopbackClient::Close() {
  if (Fd >= 0)
    close(Fd);
  Fd = -1;
}

std::string HttpExchange(uint16_t port, const std::string& request, std::chrono::milliseconds timeout) {
  tLoopbackClient client;
  if (!client.Connect(port) || !client.Send(request))
    return "";
  return client.ReadToEnd(timeout);
}

} // namespace kwstest
