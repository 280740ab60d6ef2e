#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
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
  std::vector<std::thread> destroyers;
  std::atomic<int> destroyed{0};
  for (int batch = 0; batch < 100; ++batch) {
    std::vector<std::unique_ptr<TWSocket>> here, elsewhere;
    for (int i = 0; i < 100; ++i) {
      auto socket = std::make_unique<TWSocket>();
      windows.push_back(socket->WindowHandle());
      socket->SetAddr("127.0.0.1");
      socket->SetPort("0");
      socket->Listen();
      EXPECT_EQ(socket->State(), wsListening);
      (i % 2 ? elsewhere : here).push_back(std::move(socket));
    }
    destroyers.emplace_back([&destroyed, doomed = std::move(elsewhere)]() mutable {
      doomed.clear();
      ++destroyed;
    });
    here.clear();
    WaitUntil([] { return true; }, 0ms); // takes the close requests of windows freed elsewhere so far
  }
  EXPECT_TRUE(WaitUntil([&] { return destroyed == 100; }, 60s));
  for (std::thread& destroyer : destroyers)
    destroyer.join();
  EXPECT_TRUE(WaitUntil([&] { return std::none_of(windows.begin(), windows.end(), IsWindow); }));
  EXPECT_EQ(LiveSocketCount(), 0);
  EXPECT_FALSE(SocketsLibraryLoaded());
  EXPECT_TRUE(DescriptorsBackTo(descriptorsBefore));
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

} // namespace
