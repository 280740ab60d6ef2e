// The WSAAsyncSelect notifier: one thread waiting on an edge-triggered epoll set that every registered socket
// joins once. It turns readiness into posted messages under Winsock's re-enabling rules; the socket calls
// that re-enable an event (recv, send, accept, connect) report to it through the After* hooks below.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/src/wsock32/Socket.h"
#include "platform/win32.h"

namespace kwsplat {

struct NotifierCounts {
  uint64_t SystemCalls = 0;   // made for notifications: epoll waits and changes, probes, accepts ahead
  uint64_t Notifications = 0; // messages posted (dropped ones for vanished windows included)
};

// Totals since the process started, for benchmarks.
NotifierCounts NotifierStats();

class Notifier {
public:
  static Notifier& Instance();

  // Starts the thread and its epoll set on first use; false when the system refuses (error in the result).
  int Start();

  // WSAAsyncSelect for s (s.Lock held): records the registration and makes the notifier look at what already
  // holds. Returns 0 or a Winsock error number.
  int Register(SOCKET handle, Socket& s, HWND window, UINT message, long mask);

  // The re-enabling calls, each with s.Lock held. Before* runs just before the system call.
  void BeforeReceive(Socket& s) { s.Marks &= ~FD_READ; }
  void AfterReceive(SOCKET handle, Socket& s, bool filledBuffer);
  void BeforeSend(Socket& s) { s.Marks &= ~FD_WRITE; }
  void AfterSend(SOCKET handle, Socket& s, bool spaceRanOut);
  // After an accept took a connection (or failed): posts again while more wait, also when the notifier could
  // not take them ahead (no descriptor left), so that the caller's next accept meets that error itself.
  void AfterAccept(SOCKET handle, Socket& s, bool failed);
  // A connect attempt ended (error 0 for success), seen by the caller or the notifier.
  void ConnectEnded(SOCKET handle, Socket& s, int error);

  // Accepts waiting connections into s.Backlog (s.Lock held), up to its limit.
  void FillBacklog(Socket& s);

private:
  struct Errors {
    int Connect = 0;
    int Close = 0;
  };

  Notifier() = default;
  void Run(int epoll);
  void Handle(SOCKET handle, uint32_t ready);
  // What a readiness report means for s, as the set of FD_* events to post now (s.Lock held).
  uint32_t ReadyEvents(Socket& s, uint32_t ready, Errors& errors);
  uint32_t ListenerEvents(Socket& s, uint32_t ready);
  uint32_t ConnectingEvents(Socket& s, uint32_t ready, Errors& errors);
  uint32_t ConnectedEvents(Socket& s, uint32_t ready, Errors& errors);
  uint32_t ConnectResult(Socket& s, int error);
  void Post(SOCKET handle, Socket& s, uint32_t event, int error);
  // Posts from a caller's thread without disturbing its last error.
  void PostKeepingLastError(SOCKET handle, Socket& s, uint32_t event, int error);
  void CountCall() { SystemCalls.fetch_add(1, std::memory_order_relaxed); }

  std::mutex StartLock; // guards Epoll's creation and the thread's start
  std::atomic<int> Epoll{-1};
  std::atomic<uint64_t> SystemCalls{0};
  std::atomic<uint64_t> Notifications{0};

  friend NotifierCounts NotifierStats();
};

} // namespace kwsplat
