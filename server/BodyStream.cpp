#include "server/BodyStream.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

tBodyStream::tBodyStream(size_t capacity, std::function<void(bool)> readSocket)
    : Capacity(capacity), ReadSocket(std::move(readSocket)) {}

void tBodyStream::Begin(uint64_t left) {
  std::lock_guard<std::mutex> lock(Lock);
  Left = left;
}

size_t tBodyStream::Append(const char* bytes, size_t count) {
  std::lock_guard<std::mutex> lock(Lock);
  const size_t taken = static_cast<size_t>(std::min<uint64_t>(count, Left));
  Left -= taken;
  if (Ended || taken == 0)
    return 0;
  // The front already read goes first, so what is held never outgrows the capacity and one arrival.
  Held.erase(0, ReadPos);
  ReadPos = 0;
  Held.append(bytes, taken);
  Arrived.notify_all();
  return taken;
}

bool tBodyStream::PauseIfFull() {
  std::lock_guard<std::mutex> lock(Lock);
  if (Unread() < Capacity || Ended)
    return false;
  if (!Paused)
    ReadSocket(false);
  Paused = true;
  return true;
}

tBodyRead tBodyStream::Read(void* buffer, size_t size, DWORD timeoutMs) {
  std::unique_lock<std::mutex> lock(Lock);
  const auto ready = [this] { return Unread() > 0 || Left == 0 || Ended; };
  if (!Arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready))
    return {0, true};
  const size_t count = std::min(size, Unread());
  std::memcpy(buffer, Held.data() + ReadPos, count);
  ReadPos += count;
  TookSome();
  return {count, false};
}

std::string tBodyStream::TakeAll() {
  std::lock_guard<std::mutex> lock(Lock);
  std::string taken = Held.substr(ReadPos);
  Held.clear();
  ReadPos = 0;
  TookSome();
  return taken;
}

void tBodyStream::TookSome() {
  if (Unread() == 0) {
    Held.clear();
    ReadPos = 0;
  }
  if (Unread() < Capacity)
    ResumeReading();
}

void tBodyStream::ResumeReading() {
  if (!Paused)
    return;
  Paused = false;
  ReadSocket(true);
}

void tBodyStream::End(bool drop) {
  std::lock_guard<std::mutex> lock(Lock);
  Ended = true;
  if (drop) {
    Held.clear();
    ReadPos = 0;
    // Whatever still comes is read past.
    ResumeReading();
  }
  Arrived.notify_all();
}
