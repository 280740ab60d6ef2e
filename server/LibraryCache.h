// The plug-in libraries one listener has loaded: one per distinct file, found without regard to case, shared
// by every connection of the listener from the main thread and from workers.
#pragma once

#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include "platform/win32.h"
#include "server/LoadedLibrary.h"

class tLibraryCache;
// A library class: its virtual constructor, called with the producer of the request that loads it and the
// file name in upper case.
using tLibraryClass = std::unique_ptr<tLoadedLibrary> (*)(tWSIOBase& producer, const std::string& fileName);

class tLibraryCache : public std::enable_shared_from_this<tLibraryCache> {
  struct tEntry;

public:
  // One use of a cached library: while any lease lives the library is not unloaded.
  class tLease {
  public:
    tLease() = default;
    tLease(tLease&& other) noexcept;
    tLease& operator=(tLease&& other) noexcept;
    ~tLease();
    tLease(const tLease&) = delete;
    tLease& operator=(const tLease&) = delete;

    tLoadedLibrary* Library() const;
    // The class the library was made with.
    tLibraryClass Class() const;
    // Another use of the same library, for work that may outlive this one.
    tLease Share() const;
    void Reset();

  private:
    friend class tLibraryCache;
    tLease(std::shared_ptr<tLibraryCache> cache, tEntry* entry);
    std::shared_ptr<tLibraryCache> Cache;
    tEntry* Entry = nullptr;
  };

  tLibraryCache() = default;
  ~tLibraryCache();
  tLibraryCache(const tLibraryCache&) = delete;
  tLibraryCache& operator=(const tLibraryCache&) = delete;

  // The library of the file, made with libraryClass the first time (whether or not it loads: a file that
  // failed is not tried again). An empty lease once the cache is unloaded.
  tLease Acquire(const std::string& fileName, tLibraryClass libraryClass, tWSIOBase& producer);
  // Runs each library's termination entry as soon as no call into it runs, then waits until no lease is
  // left, all within timeoutMs, and unloads the libraries in the order they were loaded. A library still in
  // use then stays loaded for good: unloading code that may still run would crash the process. Returns the
  // number left loaded.
  size_t UnloadAll(DWORD timeoutMs);
  size_t Count() const;

private:
  struct tEntry {
    std::string Key; // the file name in upper case
    tLibraryClass Class = nullptr;
    std::unique_ptr<tLoadedLibrary> Library;
    int Users = 0; // guarded by the cache's Lock
  };
  void Release(tEntry* entry);
  bool InUse() const;

  mutable std::mutex Lock; // guards Entries, each entry's Users, and Closed
  std::condition_variable Idle;
  std::list<tEntry> Entries; // in load order; entries stay where they are
  // Still in use when unloaded: kept loaded for good (their leases refer to them).
  std::list<tEntry> Abandoned;
  bool Closed = false;
};
