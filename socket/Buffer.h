// One fixed-capacity block of a socket's send queue: bytes are appended at the end and consumed from the
// front; the block becomes reusable from its start once everything written into it has been consumed.
#pragma once

#include <cstdint>
#include <memory>

class TBuffer {
public:
  static constexpr int32_t kDefaultCapacity = 1514;

  // A capacity of 0 or less gives a block of kDefaultCapacity bytes. Standard-size storage is taken from,
  // and given back to, a small per-thread stock of spares.
  explicit TBuffer(int32_t capacity);
  ~TBuffer();
  TBuffer(const TBuffer&) = delete;
  TBuffer& operator=(const TBuffer&) = delete;

  // Copies as much of data as fits after WritePos (the consumed front is not reused while bytes remain
  // unread) and returns the count copied.
  int32_t Write(const void* data, int32_t length);

  struct TUnread {
    const char* Data; // nullptr when nothing is unread
    int32_t Length;
  };
  TUnread Peek() const;

  // Consumes up to count unread bytes and returns how many were consumed.
  int32_t Remove(int32_t count);

  int32_t Capacity() const { return FCapacity; }
  int32_t WritePos() const { return FWritePos; }
  int32_t ReadPos() const { return FReadPos; }

private:
  std::unique_ptr<char[]> Storage;
  int32_t FCapacity;
  int32_t FWritePos = 0;
  int32_t FReadPos = 0;
};
