// A bounded cache of what was made from a file or folder, valid while its stamp (size, time, inode) holds.
// Something changed within the last two seconds is not kept: its time may not change again for a change
// made within the same tick of the file system's clock.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/src/posix/FileSystem.h"

namespace kwsplat {

template <class T> class FileStampCache {
public:
  explicit FileStampCache(size_t capacity) : Capacity(capacity) {}

  std::shared_ptr<const T> Find(const std::string& key, const posix::FileInfo& now) {
    std::lock_guard<std::mutex> guard(Lock);
    auto it = Entries.find(key);
    if (it == Entries.end() || !SameStamp(it->second.Stamp, now))
      return nullptr;
    return it->second.Value;
  }

  void Store(const std::string& key, const posix::FileInfo& stamp, std::shared_ptr<const T> value) {
    if (!Settled(stamp.ModifiedNs))
      return;
    std::lock_guard<std::mutex> guard(Lock);
    if (Entries.size() >= Capacity)
      Entries.clear();
    Entries[key] = Entry{stamp, std::move(value)};
  }

private:
  static constexpr int64_t kSettledNs = 2'000'000'000;

  struct Entry {
    posix::FileInfo Stamp;
    std::shared_ptr<const T> Value;
  };

  static bool SameStamp(const posix::FileInfo& a, const posix::FileInfo& b) {
    return a.Size == b.Size && a.ModifiedNs == b.ModifiedNs && a.Inode == b.Inode && a.Device == b.Device;
  }

  static bool Settled(int64_t modifiedNs) {
    auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
                   .count();
    return now - modifiedNs > kSettledNs;
  }

  const size_t Capacity;
  std::mutex Lock; // guards Entries
  std::unordered_map<std::string, Entry> Entries;
};

} // namespace kwsplat
