#include "tests/support/LoopbackPeer.h"

#include <algorithm>
#include <stdexcept>

#include "tests/support/Wait.h"

namespace kwstest {

tLoopbackPeer::~tLoopbackPeer() {
  Close();
  if (ListenFd != kNoPlainSocket)
    PlainClose(ListenFd);
}

bool tLoopbackPeer::Connect(uint16_t port, std::chrono::milliseconds timeout) {
  Close();
  Fd = PlainNewSocket(ReceiveBuffer);
  if (Fd != kNoPlainSocket && !PlainConnect(Fd, port, timeout))
    Close();
  return Fd != kNoPlainSocket;
}

uint16_t tLoopbackPeer::Listen(bool anyAddress) {
  ListenFd = PlainNewSocket(ReceiveBuffer);
  return ListenFd == kNoPlainSocket ? 0 : PlainListen(ListenFd, anyAddress);
}

bool tLoopbackPeer::Send(const std::string& bytes) {
  for (size_t sent = 0; sent < bytes.size();) {
    const long n = PlainSend(Fd, bytes.data() + sent, bytes.size() - sent);
    if (n <= 0)
      return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

std::string tLoopbackPeer::Receive(size_t count, std::chrono::milliseconds timeout, bool once) {
  Closed = Reset = TimedOut = false;
  std::string bytes;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  char chunk[65536];
  while (Fd != kNoPlainSocket && bytes.size() < count) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    const long n = PlainReceive(Fd, chunk, std::min(sizeof chunk, count - bytes.size()), left);
    TimedOut = n == kPlainTimedOut;
    Reset = n == kPlainReset;
    Closed = n == kPlainClosed;
    if (n <= 0)
      break;
    bytes.append(chunk, static_cast<size_t>(n));
    if (once)
      break;
  }
  return bytes;
}

void tLoopbackPeer::ShutdownSending() {
  if (Fd != kNoPlainSocket)
    PlainShutdownSending(Fd);
}

void tLoopbackPeer::ResetConnection() {
  if (Fd != kNoPlainSocket)
    PlainReset(Fd);
  Fd = kNoPlainSocket;
}

void tLoopbackPeer::Close() {
  if (Fd != kNoPlainSocket)
    PlainClose(Fd);
  Fd = kNoPlainSocket;
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

} // namespace kwstest
