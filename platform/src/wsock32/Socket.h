// One socket of the built-in "wsock32.dll": its descriptor and what Winsock remembers about it beyond the
// kernel (mode, linger, shutdowns, the WSAAsyncSelect registration and its enable bits).
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "platform/src/HandleTable.h"
#include "platform/src/posix/net.h"
#include "platform/win32.h"

namespace kwsplat {

enum class SocketPhase { Fresh, Connecting, Connected, Listening };

// A connection the notifier accepted ahead of the caller, so that an accept notification is never a guess.
struct PendingConnection {
  int Fd = -1;
  net::Inet4 Peer;
};

class Socket {
public:
  Socket(int fd, int type) : Fd(fd), Type(type) {}
  ~Socket(); // closes the descriptor: only once nobody uses the socket any more
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  const int Fd;
  const int Type; // SOCK_STREAM, SOCK_DGRAM or SOCK_RAW

  // Threads inside a blocking call on Fd; closesocket wakes them.
  std::atomic<int> BlockedCalls{0};

  std::mutex Lock; // guards every field below
  bool Closed = false;
  bool NonBlocking = false;
  bool Bound = false;
  SocketPhase Phase = SocketPhase::Fresh;
  bool SendShut = false;    // own shutdown(SD_SEND or SD_BOTH)
  bool ReceiveShut = false; // own shutdown(SD_RECEIVE or SD_BOTH)
  bool LingerOn = false;
  uint16_t LingerSeconds = 0;
  bool ReuseAddress = false;   // recorded only: Linux's option is set at bind
  uint64_t LingerDeadline = 0; // a non-blocking lingering close gives up at this time (ms), 0: not started
  int ResetError = 0;          // the reset the notifier read from the kernel, reported by later calls

  // The WSAAsyncSelect registration.
  HWND Window = nullptr;
  UINT Message = 0;
  long Mask = 0;
  bool Joined = false;            // in the notifier's epoll set (once, for good)
  uint32_t Enabled = 0;           // FD_* events that may be posted now
  uint32_t Marks = 0;             // FD_* edges met while their event was disabled
  bool CloseReported = false;     // FD_CLOSE is posted once
  bool ConnectUnreported = false; // a connect attempt ended before anyone registered for FD_CONNECT
  int ConnectError = 0;

  // Connections accepted ahead of the caller (listening sockets registered for FD_ACCEPT).
  std::deque<PendingConnection> Backlog;
  bool KernelMayHoldMore = false; // the notifier stopped accepting on a full backlog or a failed accept

  bool IsStream() const { return Type == 1; }
  bool Registered() const { return Mask != 0 && !Closed; }
};

// The sockets by SOCKET value: multiples of 4 from 0x100, never reused.
HandleTable<Socket>& Sockets();

// True between the first WSAStartup and the last WSACleanup (startup.cpp).
bool WinsockStarted();
// Sets the calling thread's last error and returns SOCKET_ERROR.
int WinsockFail(int error);
// The socket behind a handle, or null with the last error set (10093 before start-up, 10038 unknown).
std::shared_ptr<Socket> UseSocket(SOCKET handle);
// closesocket; with 'atOnce' a lingering close does not wait but resets (sockets.cpp).
int CloseSocket(SOCKET handle, bool atOnce);

} // namespace kwsplat
