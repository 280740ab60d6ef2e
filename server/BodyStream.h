// The part of a request body that arrives after the request was dispatched, on its way from the socket (main
// thread) to whoever reads it (the worker, or a plug-in's thread). Bounded: while it holds its capacity the
// socket is left unread, so a client that sends faster than the body is read waits, and nothing is dropped.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "platform/win32.h"

// What one read of the body gave: Count bytes; 0 with TimedOut false is the end (the whole body was read,
// or it will never come: the connection is down or the exchange over).
struct tBodyRead {
  size_t Count = 0;
  bool TimedOut = false;
};

class tBodyStream {
public:
  // readSocket(false) runs when the stream fills up, readSocket(true) when a read makes room again or the
  // stream ends while paused; both under the stream's lock, so that they never overtake each other.
  tBodyStream(size_t capacity, std::function<void(bool reading)> readSocket);

  // The body's bytes still to come after dispatch.
  void Begin(uint64_t left);
  // Keeps what of the bytes belongs to the body (the rest is nobody's) and returns that count.
  size_t Append(const char* bytes, size_t count);
  // True when the stream holds its capacity: the socket is then left unread until a read makes room.
  bool PauseIfFull();
  // Up to size bytes into the buffer, waiting at most timeoutMs for the first of them.
  tBodyRead Read(void* buffer, size_t size, DWORD timeoutMs);
  // Everything held now.
  std::string TakeAll();
  // No more bytes come; with drop, what is held goes too. Readers waiting return.
  void End(bool drop);

private:
  size_t Unread() const { return Held.size() - ReadPos; }
  // Under the lock, after a read: reading goes on when there is room again.
  void TookSome();
  void ResumeReading();

  const size_t Capacity;
  const std::function<void(bool)> ReadSocket;
  mutable std::mutex Lock; // guards everything below
  std::condition_variable Arrived;
  std::string Held;
  size_t ReadPos = 0;  // bytes of Held already read
  uint64_t Left = 0;   // body bytes still to come
  bool Ended = false;  // nothing more comes
  bool Paused = false; // the socket is left unread until a read makes room
};
