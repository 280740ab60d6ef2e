// The one plain TCP endpoint of the tests, on loopback: it listens or connects, sends, reads with deadlines,
// closes half-way, resets, or simply never reads.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace kwstest {

class tLoopbackPeer {
public:
  tLoopbackPeer() = default;
  ~tLoopbackPeer();
  tLoopbackPeer(const tLoopbackPeer&) = delete;
  tLoopbackPeer& operator=(const tLoopbackPeer&) = delete;

  // Set before Connect or Listen: a small receive buffer makes a peer that never reads fill up quickly.
  void SetReceiveBuffer(int bytes) { ReceiveBuffer = bytes; }

  // Connects to 127.0.0.1:port; false when refused or timed out.
  bool Connect(uint16_t port, std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Listens on a free port of 127.0.0.1 (of every local address with anyAddress, so that nobody else can
  // listen on it); the port, or 0 on failure.
  uint16_t Listen(bool anyAddress = false);
  // Takes one pending connection of Listen; false on time-out.
  bool Accept(std::chrono::milliseconds timeout = std::chrono::seconds(5));

  // Sends every byte (blocking); false on error.
  bool Send(const std::string& bytes);
  // Reads exactly count bytes or until end, reset or time-out; Closed, Reset and TimedOut tell which.
  std::string Read(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Reads what one receive gives, at most count bytes, waiting up to the time-out for the first.
  std::string ReadSome(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Reads until the other side closes or resets, or the time-out passes.
  std::string ReadToEnd(std::chrono::milliseconds timeout = std::chrono::seconds(10));

  void ShutdownSending();
  // Closes with linger on and a zero time: the other side sees a reset.
  void ResetConnection();
  void Close();
  bool IsOpen() const { return Fd >= 0; }

  bool Closed = false;   // the other side closed in order
  bool Reset = false;    // the other side reset the connection
  bool TimedOut = false; // the time-out passed first

private:
  int Fd = -1;
  int ListenFd = -1;
  int ReceiveBuffer = 0;
};

// One connection, one request, everything until the server closes.
std::string HttpExchange(uint16_t port, const std::string& request,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10));
// A TCP port on 127.0.0.1 that nothing listened on a moment ago.
int FreeLoopbackPort();
// Waits until a connection to 127.0.0.1:port succeeds.
bool WaitForLoopbackPort(int port, std::chrono::milliseconds timeout);
// Descriptors open in this process, counted in /proc/self/fd.
int OpenDescriptorCount();

} // namespace kwstest
