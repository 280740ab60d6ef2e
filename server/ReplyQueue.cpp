#include "server/ReplyQueue.h"

#include <chrono>
#include <utility>

tReplyQueue::tReplyQueue(size_t capacity, std::function<void()> announce)
    : Capacity(capacity), Announce(std::move(announce)) {}

tReplyQueue::~tReplyQueue() {
  std::unique_lock<std::mutex> lock(Lock);
  DropPieces(lock);
}

tReplyQueue::tPutResult tReplyQueue::Put(tPiece& piece, DWORD waitMs, bool force) {
  std::unique_lock<std::mutex> lock(Lock);
  const auto fits = [&] { return IsClosed || Pieces.empty() || Bytes + piece.Text.size() <= Capacity; };
  if (!force && !Room.wait_for(lock, std::chrono::milliseconds(waitMs), fits))
    return prFull;
  if (IsClosed || Complete)
    return prClosed;
  Bytes += piece.Text.size();
  Pieces.push_back(std::move(piece));
  piece = tPiece{};
  if (Announced)
    return prQueued;
  Announced = true;
  lock.unlock();
  Announce();
  return prQueued;
}

void tReplyQueue::MarkComplete() {
  std::unique_lock<std::mutex> lock(Lock);
  if (Complete || IsClosed)
    return;
  Complete = true;
  if (Announced)
    return;
  Announced = true;
  lock.unlock();
  Announce();
}

std::optional<tReplyQueue::tPiece> tReplyQueue::Take() {
  std::lock_guard<std::mutex> lock(Lock);
  Announced = false;
  if (Pieces.empty())
    return std::nullopt;
  tPiece piece = std::move(Pieces.front());
  Pieces.pop_front();
  Bytes -= piece.Text.size();
  Room.notify_all();
  return piece;
}

bool tReplyQueue::Drained() const {
  std::lock_guard<std::mutex> lock(Lock);
  return Complete && Pieces.empty();
}

void tReplyQueue::Close() {
  std::unique_lock<std::mutex> lock(Lock);
  IsClosed = true;
  DropPieces(lock);
  Room.notify_all();
}

bool tReplyQueue::Closed() const {
  std::lock_guard<std::mutex> lock(Lock);
  return IsClosed;
}

// The files' handles are closed without the lock: closing may take a moment.
void tReplyQueue::DropPieces(std::unique_lock<std::mutex>& lock) {
  std::deque<tPiece> dropped;
  dropped.swap(Pieces);
  Bytes = 0;
  lock.unlock();
  for (const tPiece& piece : dropped)
    if (piece.File != nullptr)
      CloseHandle(piece.File);
  lock.lock();
}
