// One fixed-capacity block of a socket's send queue: bytes are appended at the end and consumed from the
// front; the block becomes reusable from its start once everything written into it has been consumed.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/win32.h"

class TBuffer {
public:
  static constexpr int32_t kDefaultCapacity = 1514;

  // A capacity of 0 or less gives a block of kDefaultCapacity bytes. Standard-size storage is taken from,
  // and given back to, a small per-thread stock of spares.
  explicit TBuffer(int32_t capacity);
  // A block that sends length bytes of an open file from offset; it owns the handle and closes it. Bytes go
  // through its storage (made at the first read, kFileChunkSize bytes) only where the system cannot send
  // straight from the file.
  TBuffer(HANDLE file, uint64_t offset, uint64_t length);
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

  static constexpr int32_t kFileChunkSize = 256 * 1024;
  bool HasFile() const { return File != nullptr; }
  HANDLE FileHandle() const { return File; }
  uint64_t FileOffset() const { return FFileOffset; }
  // Bytes of the file neither read into the storage nor sent straight from it.
  uint64_t FileLeft() const { return FFileLeft; }
  // With the storage drained, reads the file's next bytes into it; false when the file ends before them
  // (it shrank) or cannot be read.
  bool ReadMore();
  // The system sent count bytes straight from the file.
  void FileSent(uint64_t count);

  int32_t Capacity() const { return FCapacity; }
  int32_t WritePos() const { return FWritePos; }
  int32_t ReadPos() const { return FReadPos; }

private:
  std::unique_ptr<char[]> Storage;
  int32_t FCapacity;
  int32_t FWritePos = 0;
  int32_t FReadPos = 0;
  HANDLE File = nullptr; // owned; only for a block fed from a file
  uint64_t FFileOffset = 0;
  uint64_t FFileLeft = 0;
};
