// Socket objects made on one thread and destroyed on another: no window, descriptor or notification is
// left behind, and nothing is ever dispatched into a destroyed object.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "socket/WSocket.h"
#include "socket/WinsockAPI.h"
#include "tests/support/SocketProbe.h"

using namespace kwstest;

namespace {

TEST(SocketLifetime, TenThousandObjectsHalfDestroyedOnAnotherThreadLeaveNothingBehind) {
  ASSERT_EQ(LiveSocketCount(), 0);
  const int descriptorsBefore = BaselineDescriptors();
  std::vector<HWND> windows;
  std::mutex lock; // guards handed, finished
  std::vector<std::unique_ptr<TWSocket>> handed;
  bool finished = false;
  std::atomic<bool> destroyerDone{false};
  std::thread destroyer([&] {
    for (bool last = false; !last;) {
      WaitUntil(
          [&] {
            std::lock_guard guard(lock);
            return finished || !handed.empty();
          },
          60s, tPump::None);
      std::vector<std::unique_ptr<TWSocket>> batch;
      {
        std::lock_guard guard(lock);
        batch.swap(handed);
        last = finished;
      }
    }
    destroyerDone = true;
  });
  for (int batch = 0; batch < 100; ++batch) {
    std::vector<std::unique_ptr<TWSocket>> local;
    for (int i = 0; i < 100; ++i) {
      auto socket = std::make_unique<TWSocket>();
      windows.push_back(socket->WindowHandle());
      socket->SetAddr("127.0.0.1");
      socket->SetPort("0");
      socket->Listen();
      ASSERT_EQ(socket->State(), wsListening);
      std::lock_guard guard(lock);
      (i % 2 == 0 ? local : handed).push_back(std::move(socket));
    }
    local.clear();
    WaitUntil([] { return true; }, 0ms); // takes the close requests of windows freed elsewhere so far
  }
  {
    std::lock_guard guard(lock);
    finished = true;
  }
  EXPECT_TRUE(WaitUntil([&] { return destroyerDone.load(); }, 60s));
  destroyer.join();
  EXPECT_TRUE(WaitUntil([&] { return std::none_of(windows.begin(), windows.end(), IsWindow); }));
  EXPECT_EQ(LiveSocketCount(), 0);
  EXPECT_FALSE(SocketsLibraryLoaded());
  EXPECT_TRUE(DescriptorsBackTo(descriptorsBefore)) << OpenDescriptorCount() << " open";
}

// Marks its destruction; unbinds first, so its own members are never touched by a notification after that.
class tWatchedSocket : public TWSocket {
public:
  explicit tWatchedSocket(std::atomic<bool>& destroyed) : Destroyed(destroyed) {}
  ~tWatchedSocket() override {
    UnbindWindow();
    Destroyed = true;
  }

private:
  std::atomic<bool>& Destroyed;
};

TEST(SocketLifetime, DestructionElsewhereWaitsForANotificationBeingHandled) {
  std::atomic<bool> destroyed{false}, inHandler{false}, destroyStarted{false}, destroyedDuringHandler{false};
  auto socket = std::make_unique<tWatchedSocket>(destroyed);
  socket->OnBgException = [&](TCustomWSocket&, Exception&, bool& canClose) {
    canClose = false;
    inHandler = true;
    WaitUntil([&] { return destroyStarted.load(); }, 5s, tPump::None);
    // The other thread is inside the destructor now; for a while it must not get past the unbinding.
    WaitUntil([&] { return destroyedDuringHandler = destroyed.load(); }, 100ms, tPump::None);
  };
  std::thread destroyer([&] {
    WaitUntil([&] { return inHandler.load(); }, 10s, tPump::None);
    destroyStarted = true;
    socket.reset();
  });
  PostMessageA(socket->WindowHandle(), MsgTestException, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return destroyed.load(); }));
  destroyer.join();
  EXPECT_FALSE(destroyedDuringHandler);
}

TEST(SocketLifetime, MessagesQueuedForAnObjectDestroyedElsewhereAreDropped) {
  int handled = 0;
  auto socket = std::make_unique<TWSocket>();
  socket->OnBgException = [&](TCustomWSocket&, Exception&, bool& canClose) {
    canClose = false;
    ++handled;
  };
  const HWND window = socket->WindowHandle();
  for (int i = 0; i < 20; ++i)
    PostMessageA(window, MsgTestException, 0, 0);
  std::thread([&] { socket.reset(); }).join();
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(window); }));
  EXPECT_EQ(handled, 0);
}

TEST(SocketLifetime, PostFreeDestroysTheObjectFromTheLoop) {
  std::atomic<bool> destroyed{false};
  auto* socket = new tWatchedSocket(destroyed); // PostFree takes ownership from here
  const HWND window = socket->WindowHandle();
  socket->PostFree();
  EXPECT_FALSE(destroyed);
  EXPECT_TRUE(WaitUntil([&] { return destroyed.load() && !IsWindow(window); }));
}

} // namespace
