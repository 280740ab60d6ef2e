// A plain blocking TCP client on 127.0.0.1 for tests that talk to a server over loopback.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace kwstest {

class tLoopbackClient {
public:
  tLoopbackClient() = default;
  ~tLoopbackClient();
  tLoopbackClient(const tLoopbackClient&) = delete;
  tLoopbackClient& operator=(const tLoopbackClient&) = delete;

  // Connects to 127.0.0.1:port; false when refused or timed out.
  bool Connect(uint16_t port, std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Sends all bytes; false on error.
  bool Send(const std::string& bytes);
  // Reads until the server closes, or at most until the time-out; TimedOut tells which.
  std::string ReadToEnd(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Reads at most `count` bytes, waiting up to the time-out for the first; "" at end or time-out.
  std::string ReadSome(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Sets the receive buffer before connecting, so a slow reader holds little in the kernel.
  void SetReceiveBuffer(int bytes) { ReceiveBuffer = bytes; }
  void ShutdownSending();
  void Close();
  bool IsOpen() const { return Fd >= 0; }

  bool TimedOut = false;
  bool Reset = false; // the connection ended by a reset instead of an orderly close

private:
  int Fd = -1;
  int ReceiveBuffer = 0;
};

// One connection, one request, everything until the server closes.
std::string HttpExchange(uint16_t port, const std::string& request,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10));

} // namespace kwstest
