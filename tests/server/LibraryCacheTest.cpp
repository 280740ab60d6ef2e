#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "server/LibraryCache.h"
#include "server/WSIOBase.h"
#include "tests/support/ScriptedConnection.h"

using namespace kwstest;

namespace {

std::atomic<int> Made{0};
std::atomic<int> Unloaded{0};

class tFakeLibrary : public tLoadedLibrary {
public:
  tFakeLibrary() { ++Made; }
  ~tFakeLibrary() override { ++Unloaded; }
  bool IsValid() const override { return true; }
  void Run(tWSIOBase&, const std::string&) override {}
  static std::unique_ptr<tLoadedLibrary> Create(tWSIOBase&, const std::string&) {
    return std::make_unique<tFakeLibrary>();
  }
};

} // namespace

TEST(LibraryCache, OneLibraryPerFileIgnoringCaseKeptLoadedWhileLeased) {
  tScriptedConnection connection("/");
  tWSIOBase producer(connection, tVDirData{});
  auto cache = std::make_shared<tLibraryCache>();
  Made = 0;
  Unloaded = 0;
  auto first = cache->Acquire("/x/Plug.so", &tFakeLibrary::Create, producer);
  auto second = cache->Acquire("/X/PLUG.SO", &tFakeLibrary::Create, producer);
  EXPECT_EQ(first.Library(), second.Library());
  EXPECT_EQ(Made, 1);
  auto stillUsed = cache->Acquire("/x/other.so", &tFakeLibrary::Create, producer);

  // A use that ends while the listener waits lets its library go in time; one that does not keeps it.
  std::thread ending([lease = std::move(second)]() mutable {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    lease.Reset();
  });
  first.Reset();
  EXPECT_EQ(cache->UnloadAll(300), 1u);
  ending.join();
  EXPECT_EQ(Unloaded, 1); // the one still used stays loaded for good
  EXPECT_FALSE(cache->Acquire("/x/new.so", &tFakeLibrary::Create, producer).Library());
  stillUsed.Reset();
  cache.reset();
  EXPECT_EQ(Unloaded, 1);
}
