#include "socket/Buffer.h"

#include <algorithm>
#include <cstring>

TBuffer::TBuffer(int32_t capacity) : FCapacity(capacity > 0 ? capacity : kDefaultCapacity) {
  // Not zeroed: every byte is written before it is read.
  Storage = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(FCapacity));
}

int32_t TBuffer::Write(const void* data, int32_t length) {
  const int32_t space = FCapacity - FWritePos;
  if (space <= 0 || length <= 0) {
    return 0;
  }
  const int32_t count = std::min(space, length);
  std::memcpy(Storage.get() + FWritePos, data, static_cast<size_t>(count));
  FWritePos += count;
  return count;
}

TBuffer::TUnread TBuffer::Peek() const {
  const int32_t unread = FWritePos - FReadPos;
  if (unread <= 0) {
    return {nullptr, 0};
  }
  return {Storage.get() + FReadPos, unread};
}

int32_t TBuffer::Remove(int32_t count) {
  const int32_t unread = FWritePos - FReadPos;
  if (unread <= 0 || count <= 0) {
    return 0;
  }
  const int32_t consumed = std::min(count, unread);
  FReadPos += consumed;
  if (FReadPos == FWritePos) {
    FReadPos = 0;
    FWritePos = 0;
  }
  return consumed;
}
