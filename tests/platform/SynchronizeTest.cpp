// TThread: start, end, self-freeing, and calls synchronized onto the main thread.
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/rtl/sysutils.h"
#include "platform/rtl/thread.h"
#include "platform/win32.h"
#include "tests/support/Wait.h"

using kwstest::WaitUntil;

namespace {

// A thread whose body is a function; created suspended.
struct tLambdaThread : TThread {
  explicit tLambdaThread(std::function<void(tLambdaThread&)> body) : TThread(true), Body(std::move(body)) {}
  using TThread::ReturnValue;
  void Execute() override { Body(*this); }
  std::function<void(tLambdaThread&)> Body;
};

} // namespace

TEST(Synchronize, CallsAndOnTerminateRunOnTheMainThreadWhileItsLoopRunsAndDirectlyThere) {
  ASSERT_TRUE(TThread::IsMainThread());
  std::atomic<DWORD> ranOn{0}, terminatedOn{0};
  tLambdaThread thread([&](tLambdaThread&) { TThread::Synchronize([&] { ranOn = GetCurrentThreadId(); }); });
  thread.OnTerminate = [&](TThread&) { terminatedOn = GetCurrentThreadId(); };
  thread.Resume();
  ASSERT_TRUE(WaitUntil([&] { return terminatedOn != 0; }));
  EXPECT_EQ(ranOn, GetCurrentThreadId());
  EXPECT_EQ(terminatedOn, GetCurrentThreadId());
  bool ran = false;
  TThread::Synchronize([&] { ran = true; });
  EXPECT_TRUE(ran);
}

TEST(Synchronize, AnExceptionIsThrownAgainInTheCallerAndOneEscapingExecuteIsKept) {
  tLambdaThread thread([&](tLambdaThread&) {
    EXPECT_THROW(TThread::Synchronize([] { throw EOSError("boom", 5); }), EOSError);
    throw Exception("lost");
  });
  thread.Resume();
  thread.WaitFor();
  try {
    std::rethrow_exception(thread.FatalException());
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "lost");
  }
}

TEST(Synchronize, CallsOfManyThreadsAreSerializedOnTheMainThreadAndRunWhileItWaits) {
  constexpr int kThreads = 8, kCalls = 200;
  long total = 0; // unguarded on purpose: only the main thread may touch it
  std::vector<std::unique_ptr<tLambdaThread>> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.push_back(std::make_unique<tLambdaThread>([&](tLambdaThread&) {
      for (int i = 0; i < kCalls; ++i)
        TThread::Synchronize([&] {
          EXPECT_TRUE(TThread::IsMainThread());
          ++total;
        });
    }));
    threads.back()->Resume();
  }
  for (auto& thread : threads)
    thread->WaitFor(); // no loop runs here: WaitFor itself must run the calls
  EXPECT_EQ(total, kThreads * kCalls);
}

TEST(TThreadLifecycle, TerminateIsSeenByTheRunningThreadAndWaitForGivesItsReturnValueButNotToItself) {
  std::atomic<bool> started{false};
  tLambdaThread thread([&](tLambdaThread& self) {
    EXPECT_THROW(self.WaitFor(), Exception);
    started = true;
    while (!self.Terminated())
      Sleep(1);
    self.ReturnValue = 17;
  });
  thread.Resume();
  ASSERT_TRUE(WaitUntil([&] { return started.load(); }));
  thread.Terminate();
  EXPECT_EQ(thread.WaitFor(), 17u);
  EXPECT_TRUE(thread.Finished());
}

TEST(TThreadLifecycle, ANeverResumedThreadEndsWithoutExecuting) {
  bool ran = false;
  std::make_unique<tLambdaThread>([&](tLambdaThread&) { ran = true; }).reset();
  EXPECT_FALSE(ran);
}

TEST(TThreadLifecycle, FreeOnTerminateDeletesTheObjectOnItsOwnThread) {
  struct tTracked : tLambdaThread {
    tTracked(std::atomic<DWORD>& ranOn, std::atomic<DWORD>& deletedOn)
        : tLambdaThread([&](tLambdaThread&) { ranOn = GetCurrentThreadId(); }), DeletedOn(deletedOn) {}
    ~tTracked() override { DeletedOn = GetCurrentThreadId(); }
    std::atomic<DWORD>& DeletedOn;
  };
  std::atomic<DWORD> ranOn{0}, deletedOn{0};
  auto* thread = new tTracked(ranOn, deletedOn); // frees itself
  thread->FreeOnTerminate = true;
  thread->Resume();
  ASSERT_TRUE(WaitUntil([&] { return deletedOn != 0; }));
  EXPECT_EQ(deletedOn, ranOn);
}
