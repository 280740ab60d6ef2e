// TThread: start, end, self-freeing, and calls synchronized onto the main thread while its loop runs.
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "platform/rtl/sysutils.h"
#include "platform/rtl/thread.h"
#include "platform/win32.h"
#include "tests/platform/LayerTestHelpers.h"

namespace {

// Runs the main thread's loop (dispatching, so synchronized calls run) until done() or a deadline.
bool PumpMainUntil(const std::function<bool()>& done, int milliseconds = 10000) {
  const DWORD deadline = GetTickCount() + static_cast<DWORD>(milliseconds);
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (done())
      return true;
    if (static_cast<int>(deadline - GetTickCount()) <= 0)
      return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

// A thread whose body is given as a function.
class LambdaThread : public TThread {
public:
  explicit LambdaThread(std::function<void(LambdaThread&)> body, bool* destroyed = nullptr)
      : TThread(true), Body(std::move(body)), Destroyed(destroyed) {}
  ~LambdaThread() override {
    if (Destroyed)
      *Destroyed = true;
  }
  void SetReturnValue(DWORD value) { ReturnValue = value; }
  using TThread::Terminated;

protected:
  void Execute() override { Body(*this); }

private:
  std::function<void(LambdaThread&)> Body;
  bool* Destroyed;
};

} // namespace

TEST(Synchronize, RunsOnTheMainThreadWhileItsLoopRuns) {
  ASSERT_TRUE(TThread::IsMainThread());
  std::atomic<DWORD> ranOn{0};
  std::atomic<bool> done{false};
  LambdaThread thread([&](LambdaThread&) {
    TThread::Synchronize([&] { ranOn = GetCurrentThreadId(); });
    done = true;
  });
  thread.Resume();
  ASSERT_TRUE(PumpMainUntil([&] { return done.load(); }));
  EXPECT_EQ(ranOn.load(), TThread::MainThreadID());
  EXPECT_EQ(ranOn.load(), GetCurrentThreadId());
  thread.WaitFor();
}

TEST(Synchronize, OnTheMainThreadRunsDirectly) {
  bool ran = false;
  TThread::Synchronize([&] { ran = true; });
  EXPECT_TRUE(ran);
}

TEST(Synchronize, AnExceptionIsThrownAgainInTheCaller) {
  std::string caught;
  std::atomic<bool> done{false};
  LambdaThread thread([&](LambdaThread&) {
    try {
      TThread::Synchronize([] { throw EOSError("boom", 5); });
    } catch (const EOSError& e) {
      caught = std::string(e.ClassName()) + ":" + e.Message;
    }
    done = true;
  });
  thread.Resume();
  ASSERT_TRUE(PumpMainUntil([&] { return done.load(); }));
  thread.WaitFor();
  EXPECT_EQ(caught, "EOSError:boom");
}

TEST(Synchronize, WaitForOnTheMainThreadKeepsSynchronizedCallsRunning) {
  int calls = 0; // touched only on the main thread
  LambdaThread thread([&](LambdaThread&) {
    for (int i = 0; i < 50; ++i)
      TThread::Synchronize([&] { ++calls; });
  });
  thread.Resume();
  thread.WaitFor(); // no loop runs here: WaitFor itself must run the calls
  EXPECT_EQ(calls, 50);
}

TEST(Synchronize, CallsOfManyThreadsAreSerializedOnTheMainThread) {
  constexpr int kThreads = 8;
  constexpr int kCalls = 200;
  long total = 0; // unguarded on purpose: only the main thread may touch it
  std::vector<std::unique_ptr<LambdaThread>> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.push_back(std::make_unique<LambdaThread>([&](LambdaThread&) {
      for (int i = 0; i < kCalls; ++i)
        TThread::Synchronize([&] {
          EXPECT_TRUE(TThread::IsMainThread());
          ++total;
        });
    }));
    threads.back()->Resume();
  }
  ASSERT_TRUE(PumpMainUntil([&] {
    for (auto& t : threads)
      if (!t->Finished())
        return false;
    return true;
  }));
  threads.clear();
  EXPECT_EQ(total, kThreads * kCalls);
}

TEST(TThreadLifecycle, SuspendedStartRunsOnlyAfterResume) {
  std::atomic<bool> ran{false};
  LambdaThread thread([&](LambdaThread& self) {
    ran = true;
    self.SetReturnValue(17);
  });
  EXPECT_TRUE(thread.Suspended());
  EXPECT_EQ(WaitForSingleObject(thread.Handle(), 50), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_FALSE(ran.load());
  thread.Resume();
  EXPECT_EQ(thread.WaitFor(), 17u);
  EXPECT_TRUE(ran.load());
  EXPECT_TRUE(thread.Finished());
  EXPECT_NE(thread.ThreadID(), 0u);
}

TEST(TThreadLifecycle, TerminateIsSeenByTheRunningThread) {
  std::atomic<bool> started{false};
  LambdaThread thread([&](LambdaThread& self) {
    started = true;
    while (!self.Terminated())
      Sleep(1);
  });
  thread.Resume();
  ASSERT_TRUE(layertest::WaitUntil([&] { return started.load(); }));
  thread.Terminate();
  thread.WaitFor();
  EXPECT_TRUE(thread.Finished());
}

TEST(TThreadLifecycle, ANeverResumedThreadEndsWithoutExecuting) {
  bool ran = false;
  {
    LambdaThread thread([&](LambdaThread&) { ran = true; });
  }
  EXPECT_FALSE(ran);
}

TEST(TThreadLifecycle, FreeOnTerminateDeletesTheObjectOnItsOwnThread) {
  std::atomic<DWORD> deletedOn{0};
  std::atomic<DWORD> threadId{0};
  struct Tracked : LambdaThread {
    Tracked(std::atomic<DWORD>& deletedOn, std::atomic<DWORD>& threadId)
        : LambdaThread([&](LambdaThread&) { threadId = GetCurrentThreadId(); }), DeletedOn(deletedOn) {}
    ~Tracked() override { DeletedOn = GetCurrentThreadId(); }
    std::atomic<DWORD>& DeletedOn;
  };
  auto* thread = new Tracked(deletedOn, threadId); // frees itself
  thread->FreeOnTerminate = true;
  thread->Resume();
  ASSERT_TRUE(layertest::WaitUntil([&] { return deletedOn.load() != 0; }));
  EXPECT_EQ(deletedOn.load(), threadId.load());
}

TEST(TThreadLifecycle, AnExceptionEscapingExecuteIsKept) {
  LambdaThread thread([](LambdaThread&) { throw Exception("lost"); });
  thread.Resume();
  thread.WaitFor();
  ASSERT_TRUE(thread.FatalException());
  try {
    std::rethrow_exception(thread.FatalException());
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "lost");
  }
}

TEST(TThreadLifecycle, OnTerminateRunsOnTheMainThread) {
  std::atomic<DWORD> ranOn{0};
  LambdaThread thread([](LambdaThread&) {});
  thread.OnTerminate = [&](TThread&) { ranOn = GetCurrentThreadId(); };
  thread.Resume();
  thread.WaitFor();
  EXPECT_EQ(ranOn.load(), TThread::MainThreadID());
}

TEST(TThreadLifecycle, SuspendIsForTheThreadItself) {
  std::atomic<int> stage{0};
  LambdaThread thread([&](LambdaThread& self) {
    stage = 1;
    self.Suspend();
    stage = 2;
  });
  thread.Resume();
  ASSERT_TRUE(layertest::WaitUntil([&] { return stage.load() == 1 && thread.Suspended(); }));
  EXPECT_THROW(thread.Suspend(), EOSError);
  // The resume may come before the thread sleeps; it must run on either way.
  ASSERT_TRUE(layertest::WaitUntil([&] {
    thread.Resume();
    return stage.load() == 2;
  }));
  thread.WaitFor();
}

TEST(TThreadLifecycle, WaitingForItselfIsAnError) {
  std::atomic<bool> threw{false};
  LambdaThread thread([&](LambdaThread& self) {
    try {
      self.WaitFor();
    } catch (const Exception&) {
      threw = true;
    }
  });
  thread.Resume();
  thread.WaitFor();
  EXPECT_TRUE(threw.load());
}
