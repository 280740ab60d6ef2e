#include "socket/Buffer.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

// Standard-size storage of destroyed blocks, kept for the next blocks. A queue that streams replaces every
// block it drains, and 1514 bytes is above what the C library's fast per-thread cache serves: without this,
// each block costs a slow allocation and a free, and lands in cold memory. One stock for the process, not one
// per thread: a thread's own objects are not destroyed reliably everywhere (mingw-w64's runtime frees their
// storage before running their destructors).
class tSpareStorage {
public:
  static constexpr size_t kLimit = 192; // about 284 KiB

  ~tSpareStorage() { Gone.store(true, std::memory_order_release); }

  std::unique_ptr<char[]> Take() {
    {
      std::lock_guard<std::mutex> hold(Lock);
      if (!Spares.empty()) {
        std::unique_ptr<char[]> storage = std::move(Spares.back());
        Spares.pop_back();
        return storage;
      }
    }
    return std::make_unique_for_overwrite<char[]>(TBuffer::kDefaultCapacity);
  }

  void Give(std::unique_ptr<char[]> storage) {
    std::lock_guard<std::mutex> hold(Lock);
    if (Spares.size() >= kLimit) {
      return; // freed here
    }
    Spares.reserve(kLimit);
    Spares.push_back(std::move(storage));
  }

  // Set once the stock is destroyed: blocks that die later in the program's tear-down allocate and free
  // plainly. Trivially destructible, so it stays readable after the destructor has run.
  static std::atomic<bool> Gone;

private:
  std::mutex Lock; // guards Spares
  std::vector<std::unique_ptr<char[]>> Spares;
};

std::atomic<bool> tSpareStorage::Gone{false};
tSpareStorage SpareStorage;

bool StockAvailable() {
  return !tSpareStorage::Gone.load(std::memory_order_acquire);
}

} // namespace

TBuffer::TBuffer(int32_t capacity) : FCapacity(capacity > 0 ? capacity : kDefaultCapacity) {
  // Not zeroed: every byte is written before it is read.
  if (FCapacity == kDefaultCapacity && StockAvailable()) {
    Storage = SpareStorage.Take();
    return;
  }
  Storage = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(FCapacity));
}

TBuffer::TBuffer(HANDLE file, uint64_t offset, uint64_t length)
    : FCapacity(kFileChunkSize), File(file), FFileOffset(offset), FFileLeft(length) {}

TBuffer::~TBuffer() {
  if (File != nullptr) {
    CloseHandle(File);
  }
  if (FCapacity == kDefaultCapacity && Storage && StockAvailable()) {
    SpareStorage.Give(std::move(Storage));
  }
}

bool TBuffer::ReadMore() {
  if (File == nullptr || FFileLeft == 0 || FWritePos != FReadPos) {
    return false;
  }
  if (!Storage) {
    Storage = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(FCapacity));
  }
  LONG high = static_cast<LONG>(FFileOffset >> 32);
  SetLastError(0);
  if (SetFilePointer(File, static_cast<LONG>(FFileOffset & 0xFFFFFFFF), &high, FILE_BEGIN) ==
          INVALID_SET_FILE_POINTER &&
      GetLastError() != 0) {
    return false;
  }
  const DWORD wanted = static_cast<DWORD>(std::min<uint64_t>(FFileLeft, static_cast<uint64_t>(FCapacity)));
  DWORD got = 0;
  if (!ReadFile(File, Storage.get(), wanted, &got, nullptr) || got == 0) {
    return false;
  }
  FReadPos = 0;
  FWritePos = static_cast<int32_t>(got);
  FileSent(got);
  return true;
}

void TBuffer::FileSent(uint64_t count) {
  const uint64_t taken = std::min(count, FFileLeft);
  FFileOffset += taken;
  FFileLeft -= taken;
}

int32_t TBuffer::Write(const void* data, int32_t length) {
  const int32_t space = FCapacity - FWritePos;
  if (space <= 0 || length <= 0 || File != nullptr) {
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
