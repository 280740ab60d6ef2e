#include "plugins/PluginSession.h"

#include <atomic>
#include <unordered_map>

namespace {

// Handles start well above small integers a plug-in might pass by mistake.
constexpr uintptr_t kFirstHandle = 0x10000;
constexpr uintptr_t kHandleStep = 0x10;

struct tSessionTable {
  std::mutex Lock; // guards Sessions
  std::unordered_map<uintptr_t, std::weak_ptr<tPluginSession>> Sessions;
  std::atomic<uintptr_t> Next{kFirstHandle};
};

// Never destroyed: plug-in threads may still call at process exit.
tSessionTable& Table() {
  static tSessionTable* const table = new tSessionTable;
  return *table;
}

} // namespace

tPluginSession::tPluginSession(tWSIOBase& producer)
    : Id(Table().Next.fetch_add(kHandleStep)), Producer(&producer) {}

tPluginSession::~tPluginSession() {
  tSessionTable& table = Table();
  std::lock_guard<std::mutex> lock(table.Lock);
  table.Sessions.erase(Id);
}

void tPluginSession::Enter(const std::shared_ptr<tPluginSession>& self) {
  tSessionTable& table = Table();
  std::lock_guard<std::mutex> lock(table.Lock);
  table.Sessions[Id] = self;
}

std::shared_ptr<tPluginSession> tPluginSession::FindAny(void* handle) {
  tSessionTable& table = Table();
  std::lock_guard<std::mutex> lock(table.Lock);
  const auto found = table.Sessions.find(reinterpret_cast<uintptr_t>(handle));
  return found == table.Sessions.end() ? nullptr : found->second.lock();
}

bool tPluginSession::Use(const std::function<void(tWSIOBase&)>& work) {
  tWSIOBase* producer = nullptr;
  {
    std::lock_guard<std::mutex> lock(Lock);
    if (Producer == nullptr)
      return false;
    producer = Producer;
    ++InFlight;
  }
  struct tDone {
    tPluginSession& Session;
    ~tDone() {
      std::lock_guard<std::mutex> lock(Session.Lock);
      if (--Session.InFlight == 0)
        Session.Idle.notify_all();
    }
  } done{*this};
  work(*producer);
  return true;
}

void tPluginSession::End() {
  std::unique_lock<std::mutex> lock(Lock);
  Producer = nullptr;
  Idle.wait(lock, [this] { return InFlight == 0; });
}
