// Socket objects made on one thread and destroyed on another: no window, descriptor or notification is
// left behind, and nothing is ever dispatched into a destroyed object.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "socket/WSocket.h"
#include "socket/WinsockAPI.h"
#include "tests/socket/SocketTestSupport.h"
#include "tests/support/LoopbackPeer.h"

namespace {

using sockettest::RunLoopUntil;

// Destroys the sockets handed to it on a thread of its own.
class TDestroyerThread {
public:
  TDestroyerThread() : Thread([this] { Run(); }) {}
  ~TDestroyerThread() {
    Finish();
    if (Thread.joinable()) {
      Thread.join();
    }
  }

  void Hand(std::unique_ptr<TWSocket> socket) {
    std::lock_guard guard(Lock);
    Queue.push_back(std::move(socket));
    Wake.notify_one();
  }

  void Finish() {
    std::lock_guard guard(Lock);
    Finishing = true;
    Wake.notify_one();
  }

  bool Done() const { return Finished.load(); }

private:
  void Run() {
    std::unique_lock guard(Lock);
    for (;;) {
      Wake.wait(guard, [this] { return Finishing || !Queue.empty(); });
      if (Queue.empty()) {
        break;
      }
      std::unique_ptr<TWSocket> socket = std::move(Queue.front());
      Queue.pop_front();
      guard.unlock();
      socket.reset();
      guard.lock();
    }
    Finished = true;
  }

  std::mutex Lock; // guards Queue, Finishing
  std::condition_variable Wake;
  std::deque<std::unique_ptr<TWSocket>> Queue;
  bool Finishing = false;
  std::atomic<bool> Finished{false};
  std::thread Thread;
};

TEST(SocketLifetime, TenThousandObjectsHalfDestroyedOnAnotherThreadLeaveNothingBehind) {
  constexpr int kBatches = 100;
  constexpr int kPerBatch = 100;
  ASSERT_EQ(LiveSocketCount(), 0);
  const int descriptorsBefore = sockettest::BaselineDescriptors();
  std::vector<HWND> windows;
  windows.reserve(kBatches * kPerBatch);
  {
    TDestroyerThread destroyer;
    for (int batch = 0; batch < kBatches; ++batch) {
      std::vector<std::unique_ptr<TWSocket>> local;
      for (int i = 0; i < kPerBatch; ++i) {
        auto socket = std::make_unique<TWSocket>();
        ASSERT_NE(socket->WindowHandle(), nullptr);
        windows.push_back(socket->WindowHandle());
        socket->SetAddr("127.0.0.1");
        socket->SetPort("0");
        socket->Listen();
        ASSERT_EQ(socket->State(), wsListening);
        if (i % 2 == 0) {
          local.push_back(std::move(socket));
        } else {
          destroyer.Hand(std::move(socket));
        }
      }
      local.clear();
      RunLoopUntil([] { return true; }, 0); // take the close requests of windows freed elsewhere so far
    }
    destroyer.Finish();
    ASSERT_TRUE(RunLoopUntil([&] { return destroyer.Done(); }, 60000));
  }
  ASSERT_TRUE(RunLoopUntil([&] {
    for (HWND window : windows) {
      if (IsWindow(window)) {
        return false;
      }
    }
    return true;
  }));
  EXPECT_EQ(LiveSocketCount(), 0);
  EXPECT_FALSE(SocketsLibraryLoaded());
  EXPECT_TRUE(sockettest::DescriptorsBackTo(descriptorsBefore)) << kwstest::OpenDescriptorCount() << " open";
}

// Marks its destruction; unbinds first, so its own members are never touched by a notification after that.
class TWatchedSocket : public TWSocket {
public:
  explicit TWatchedSocket(std::atomic<bool>& destroyed) : Destroyed(destroyed) {}
  ~TWatchedSocket() override {
    UnbindWindow();
    Destroyed = true;
  }

private:
  std::atomic<bool>& Destroyed;
};

TEST(SocketLifetime, DestructionElsewhereWaitsForANotificationBeingHandled) {
  std::atomic<bool> destroyed{false};
  std::atomic<bool> inHandler{false};
  std::atomic<bool> destroyStarted{false};
  std::atomic<bool> destroyedDuringHandler{false};
  auto socket = std::make_unique<TWatchedSocket>(destroyed);
  socket->OnBgException = [&](TCustomWSocket&, Exception&, bool& canClose) {
    canClose = false;
    inHandler = true;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!destroyStarted && std::chrono::steady_clock::now() < until) {
      std::this_thread::yield();
    }
    // The other thread is inside the destructor now; for a while it must not get past the unbinding.
    const auto watchUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
    while (std::chrono::steady_clock::now() < watchUntil) {
      destroyedDuringHandler = destroyedDuringHandler || destroyed;
      std::this_thread::yield();
    }
  };
  std::thread destroyer([&] {
    while (!inHandler) {
      std::this_thread::yield();
    }
    destroyStarted = true;
    socket.reset();
  });
  PostMessageA(socket->WindowHandle(), MsgTestException, 0, 0);
  ASSERT_TRUE(RunLoopUntil([&] { return destroyed.load(); }));
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
  for (int i = 0; i < 20; ++i) {
    PostMessageA(window, MsgTestException, 0, 0);
  }
  std::thread([&] { socket.reset(); }).join();
  EXPECT_TRUE(RunLoopUntil([&] { return !IsWindow(window); }));
  EXPECT_EQ(handled, 0);
}

TEST(SocketLifetime, PostFreeDestroysTheObjectFromTheLoop) {
  std::atomic<bool> destroyed{false};
  auto* socket = new TWatchedSocket(destroyed); // PostFree takes ownership from here
  const HWND window = socket->WindowHandle();
  socket->PostFree();
  EXPECT_FALSE(destroyed);
  EXPECT_TRUE(RunLoopUntil([&] { return destroyed.load() && !IsWindow(window); }));
}

} // namespace
