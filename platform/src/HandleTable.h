// Handle tables shared by the layer's sources. Values are never reused, so a stale handle is recognised
// instead of being taken for a newer object; look-ups lock one shard, never the whole table.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace kwsplat {

template <class T> class HandleTable {
public:
  // Values run first, first + step, first + 2 * step, ...
  HandleTable(uintptr_t first, uintptr_t step) : Next(first), Step(step) {}

  uintptr_t Add(std::shared_ptr<T> object) {
    uintptr_t value = Next.fetch_add(Step, std::memory_order_relaxed);
    Shard& shard = ShardOf(value);
    std::lock_guard<std::mutex> guard(shard.Lock);
    shard.Items.emplace(value, std::move(object));
    return value;
  }

  std::shared_ptr<T> Find(uintptr_t value) const {
    const Shard& shard = ShardOf(value);
    std::lock_guard<std::mutex> guard(shard.Lock);
    auto it = shard.Items.find(value);
    return it == shard.Items.end() ? nullptr : it->second;
  }

  std::shared_ptr<T> Remove(uintptr_t value) {
    Shard& shard = ShardOf(value);
    std::lock_guard<std::mutex> guard(shard.Lock);
    auto it = shard.Items.find(value);
    if (it == shard.Items.end())
      return nullptr;
    std::shared_ptr<T> object = std::move(it->second);
    shard.Items.erase(it);
    return object;
  }

  // Visits a snapshot shard by shard; f must not call back into this table.
  template <class F> void ForEach(F f) const {
    for (const Shard& shard : Shards) {
      std::lock_guard<std::mutex> guard(shard.Lock);
      for (const auto& [value, object] : shard.Items)
        f(value, object);
    }
  }

  size_t Size() const {
    size_t total = 0;
    for (const Shard& shard : Shards) {
      std::lock_guard<std::mutex> guard(shard.Lock);
      total += shard.Items.size();
    }
    return total;
  }

private:
  static constexpr size_t kShards = 64;
  struct Shard {
    mutable std::mutex Lock; // guards Items
    std::unordered_map<uintptr_t, std::shared_ptr<T>> Items;
  };

  Shard& ShardOf(uintptr_t value) { return Shards[(value / Step) % kShards]; }
  const Shard& ShardOf(uintptr_t value) const { return Shards[(value / Step) % kShards]; }

  std::array<Shard, kShards> Shards;
  std::atomic<uintptr_t> Next;
  const uintptr_t Step;
};

} // namespace kwsplat
