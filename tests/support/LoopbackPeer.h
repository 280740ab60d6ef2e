// The one plain TCP endpoint of the tests, on loopback: it listens or connects, sends, reads with deadlines,
// closes half-way, resets, or simply never reads.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "tests/support/PlainSocket.h"

namespace kwstest {

class tLoopbackPeer {
public:
  tLoopbackPeer() = default;
  ~tLoopbackPeer();
  tLoopbackPeer(const tLoopbackPeer&) = delete;
  tLoopbackPeer& operator=(const tLoopbackPeer&) = delete;

  // Before Connect or Listen: a small receive buffer makes a peer that never reads fill up quickly.
  void SetReceiveBuffer(int bytes) { ReceiveBuffer = bytes; }
  // To 127.0.0.1:port; false when refused or timed out.
  bool Connect(uint16_t port, std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // On a free port of 127.0.0.1, or of every local address so that nobody else can listen on it; 0 on
  // failure.
  uint16_t Listen(bool anyAddress = false);

  bool Send(const std::string& bytes);
  // Exactly count bytes or until end, reset or time-out; Closed, Reset and TimedOut tell which.
  std::string Read(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    return Receive(count, timeout, false);
  }
  // What one receive gives, at most count bytes.
  std::string ReadSome(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    return Receive(count, timeout, true);
  }
  std::string ReadToEnd(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    return Receive(SIZE_MAX, timeout, false);
  }

  void ShutdownSending();
  void ResetConnection(); // the other side sees a reset
  void Close();

  bool Closed = false;   // the other side closed in order
  bool Reset = false;    // the other side reset the connection
  bool TimedOut = false; // the time-out passed first

private:
  std::string Receive(size_t count, std::chrono::milliseconds timeout, bool once);

  tPlainSocket Fd = kNoPlainSocket;
  tPlainSocket ListenFd = kNoPlainSocket;
  int ReceiveBuffer = 0;
};

// One connection, one request, everything until the server closes.
std::string HttpExchange(uint16_t port, const std::string& request,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10));
// A TCP port on 127.0.0.1 that nothing listened on a moment ago.
int FreeLoopbackPort();
bool WaitForLoopbackPort(int port, std::chrono::milliseconds timeout);

} // namespace kwstest
