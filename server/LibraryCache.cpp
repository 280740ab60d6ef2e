#include "server/LibraryCache.h"

#include <algorithm>
#include <chrono>
#include <utility>
#include <vector>

#include "platform/rtl/thread.h"
#include "settings/CoreAPITools.h"

namespace {

constexpr auto kWaitSlice = std::chrono::milliseconds(20);

// Libraries still in use when their cache went: loaded for good, and held here, never destroyed.
struct tKeptLibraries {
  std::mutex Lock; // guards Libraries
  std::vector<std::unique_ptr<tLoadedLibrary>> Libraries;
};

tKeptLibraries& KeptLibraries() {
  static tKeptLibraries* const kept = new tKeptLibraries;
  return *kept;
}

} // namespace

tLibraryCache::tLease::tLease(std::shared_ptr<tLibraryCache> cache, tEntry* entry)
    : Cache(std::move(cache)), Entry(entry) {}

tLibraryCache::tLease::tLease(tLease&& other) noexcept
    : Cache(std::move(other.Cache)), Entry(std::exchange(other.Entry, nullptr)) {}

tLibraryCache::tLease& tLibraryCache::tLease::operator=(tLease&& other) noexcept {
  if (this != &other) {
    Reset();
    Cache = std::move(other.Cache);
    Entry = std::exchange(other.Entry, nullptr);
  }
  return *this;
}

tLibraryCache::tLease::~tLease() {
  Reset();
}

void tLibraryCache::tLease::Reset() {
  if (Entry != nullptr)
    Cache->Release(Entry);
  Entry = nullptr;
  Cache.reset();
}

tLoadedLibrary* tLibraryCache::tLease::Library() const {
  return Entry != nullptr ? Entry->Library.get() : nullptr;
}

tLibraryClass tLibraryCache::tLease::Class() const {
  return Entry != nullptr ? Entry->Class : nullptr;
}

tLibraryCache::tLease tLibraryCache::tLease::Share() const {
  if (Entry == nullptr)
    return {};
  std::lock_guard<std::mutex> lock(Cache->Lock);
  ++Entry->Users;
  return tLease(Cache, Entry);
}

// Lookup and construction under one lock: two first requests for one file make one library.
tLibraryCache::tLease tLibraryCache::Acquire(const std::string& fileName, tLibraryClass libraryClass,
                                             tWSIOBase& producer) {
  const std::string key = UpperCase(fileName);
  std::lock_guard<std::mutex> lock(Lock);
  if (Closed)
    return {};
  auto entry = std::find_if(Entries.begin(), Entries.end(), [&](const tEntry& e) { return e.Key == key; });
  if (entry == Entries.end()) {
    tEntry& added = Entries.emplace_back();
    added.Key = key;
    added.Class = libraryClass;
    try {
      added.Library = libraryClass(producer, key);
    } catch (...) {
      Entries.pop_back();
      throw;
    }
    entry = std::prev(Entries.end());
  }
  ++entry->Users;
  return tLease(shared_from_this(), &*entry);
}

void tLibraryCache::Release(tEntry* entry) {
  std::lock_guard<std::mutex> lock(Lock);
  --entry->Users;
  if (entry->Users == 0)
    Idle.notify_all();
}

bool tLibraryCache::InUse() const {
  return std::any_of(Entries.begin(), Entries.end(), [](const tEntry& e) { return e.Users > 0; });
}

// On the main thread the waits go in short slices, running the calls other threads queued for it meanwhile:
// plug-ins' replies go out through them, and requests end only once their replies are out.
size_t tLibraryCache::UnloadAll(DWORD timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  const auto slice = [deadline] { return std::min(deadline, std::chrono::steady_clock::now() + kWaitSlice); };
  const auto runQueuedCalls = [] {
    if (TThread::IsMainThread())
      TThread::CheckSynchronize();
  };
  std::unique_lock<std::mutex> lock(Lock);
  Closed = true;
  // Every library hears that it must unload as soon as no call into it runs, in the order they were
  // loaded, whatever requests it still holds: their ends may wait for it. Without the lock: a termination
  // entry may take its time, and nothing enters the list once it is closed.
  lock.unlock();
  for (tEntry& entry : Entries)
    while (!entry.Library->TerminateWhenIdle(slice()) && std::chrono::steady_clock::now() < deadline)
      runQueuedCalls();
  lock.lock();
  // Then it goes once nothing uses it any more.
  while (!Idle.wait_until(lock, slice(), [this] { return !InUse(); }) &&
         std::chrono::steady_clock::now() < deadline) {
    lock.unlock();
    runQueuedCalls();
    lock.lock();
  }
  std::list<tEntry> idle;
  for (auto entry = Entries.begin(); entry != Entries.end();) {
    auto next = std::next(entry);
    std::list<tEntry>& to = entry->Users == 0 ? idle : Abandoned;
    to.splice(to.end(), Entries, entry);
    entry = next;
  }
  const size_t leftLoaded = Abandoned.size();
  lock.unlock();
  for (tEntry& entry : idle)
    entry.Library.reset();
  return leftLoaded;
}

// Whichever thread drops the last lease of an abandoned library may be running inside it: it is not
// unloaded then either.
tLibraryCache::~tLibraryCache() {
  tKeptLibraries& kept = KeptLibraries();
  std::lock_guard<std::mutex> lock(kept.Lock);
  for (tEntry& entry : Abandoned)
    kept.Libraries.push_back(std::move(entry.Library));
}

size_t tLibraryCache::Count() const {
  std::lock_guard<std::mutex> lock(Lock);
  return Entries.size();
}
