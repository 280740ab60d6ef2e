// The reply of one connection on its way from its producer, which may write from any thread, to the socket,
// which only the main thread touches. Bounded: a producer that writes faster than its client reads waits for
// room here, and nothing it does waits for the main thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "platform/win32.h"

class tReplyQueue {
public:
  // A piece of the reply: a text, or the first FileLength bytes of an open file, whose handle goes with the
  // piece (the queue closes it when the piece is dropped).
  struct tPiece {
    std::string Text;
    HANDLE File = nullptr;
    uint64_t FileLength = 0;
    uint64_t FileOffset = 0;
  };
  enum tPutResult : uint8_t { prQueued = 0, prFull = 1, prClosed = 2 };

  // announce runs, outside the lock, whenever the queue gets work for the socket's thread that it has not
  // been told of yet: pieces, or the reply's end. capacity bounds the text bytes held.
  tReplyQueue(size_t capacity, std::function<void()> announce);
  ~tReplyQueue();
  tReplyQueue(const tReplyQueue&) = delete;
  tReplyQueue& operator=(const tReplyQueue&) = delete;

  // Queues the piece (moved from) when its text fits beside what waits, or whenever nothing waits; with
  // force, at once. Otherwise waits for room at most waitMs. prClosed, once the queue is closed or the
  // reply's end marked, leaves the piece as it was.
  tPutResult Put(tPiece& piece, DWORD waitMs, bool force = false);
  // The reply ends after what is queued now.
  void MarkComplete();
  // The socket's thread: the next piece, if any; taking it makes room.
  std::optional<tPiece> Take();
  // Nothing waits and the reply's end was marked.
  bool Drained() const;
  // Nothing more goes in, and what waits is dropped; writers waiting for room return prClosed.
  void Close();
  bool Closed() const;

private:
  void DropPieces(std::unique_lock<std::mutex>& lock);

  const size_t Capacity;
  const std::function<void()> Announce;
  mutable std::mutex Lock; // guards Pieces, Bytes, Announced, Complete and IsClosed
  std::condition_variable Room;
  std::deque<tPiece> Pieces;
  size_t Bytes = 0;       // text bytes in Pieces
  bool Announced = false; // the socket's thread was told of work it has not looked at yet
  bool Complete = false;
  bool IsClosed = false;
};
