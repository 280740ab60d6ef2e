// Threads, their reuse, events and waits.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "platform/win32.h"
#include "tests/platform/LayerTestHelpers.h"

using namespace layertest;

namespace {

using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point since) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

DWORD WINAPI ReturnParameter(LPVOID parameter) {
  return static_cast<DWORD>(reinterpret_cast<uintptr_t>(parameter));
}

struct StartRecord {
  std::atomic<bool> Ran{false};
  std::atomic<DWORD> Id{0};
  std::atomic<DWORD> LastErrorAtStart{1};
  std::atomic<bool> QueueWasEmpty{false};
  std::thread::id OsThread;
  DWORD LeaveError = 0;
};

DWORD WINAPI RecordStart(LPVOID parameter) {
  auto* record = static_cast<StartRecord*>(parameter);
  record->LastErrorAtStart = GetLastError();
  MSG msg;
  record->QueueWasEmpty = PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE) == FALSE;
  record->Id = GetCurrentThreadId();
  record->OsThread = std::this_thread::get_id();
  // Leave state behind for the next routine that may run on this OS thread.
  SetLastError(record->LeaveError);
  PostThreadMessageA(GetCurrentThreadId(), WM_USER, 0, 0);
  record->Ran = true;
  return 5;
}

DWORD WINAPI WaitForEvent(LPVOID event) {
  return WaitForSingleObject(static_cast<HANDLE>(event), 10000);
}

DWORD WINAPI SuspendOnce(LPVOID parameter) {
  auto* stage = static_cast<std::atomic<int>*>(parameter);
  *stage = 1;
  SuspendThread(GetCurrentThread());
  *stage = 2;
  return 0;
}

} // namespace

TEST(Threads, ExitCodeIsStillActiveUntilTheRoutineReturns) {
  HANDLE thread = CreateThread(nullptr, 0, ReturnParameter, reinterpret_cast<LPVOID>(uintptr_t{33}),
                               CREATE_SUSPENDED, nullptr);
  ASSERT_NE(thread, nullptr);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_EQ(ResumeThread(thread), 1u);
  ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 33u);
  EXPECT_TRUE(CloseHandle(thread));
}

TEST(Threads, SuspendedThreadRunsOnlyAfterResumeAndHasAQueueMeanwhile) {
  StartRecord record;
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, RecordStart, &record, CREATE_SUSPENDED, &id);
  ASSERT_NE(thread, nullptr);
  ASSERT_NE(id, 0u);
  EXPECT_EQ(WaitForSingleObject(thread, 100), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_FALSE(record.Ran.load());
  // Its queue exists while it is suspended.
  EXPECT_TRUE(PostThreadMessageA(id, WM_USER + 1, 0, 0));
  EXPECT_EQ(ResumeThread(thread), 1u);
  ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  EXPECT_TRUE(record.Ran.load());
  EXPECT_EQ(record.Id.load(), id);
  EXPECT_FALSE(record.QueueWasEmpty.load());
  // Once it ended, its queue is gone.
  EXPECT_FALSE(PostThreadMessageA(id, WM_USER + 1, 0, 0));
  CloseHandle(thread);
}

TEST(Threads, AReusedThreadGetsNewIdHandleAndCleanState) {
  StartRecord first;
  first.LeaveError = 1234;
  DWORD firstId = 0;
  HANDLE a = CreateThread(nullptr, 0, RecordStart, &first, 0, &firstId);
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(WaitForSingleObject(a, 10000), WAIT_OBJECT_0);
  ASSERT_TRUE(CloseHandle(a));

  StartRecord second;
  DWORD secondId = 0;
  HANDLE b = CreateThread(nullptr, 0, RecordStart, &second, 0, &secondId);
  ASSERT_NE(b, nullptr);
  ASSERT_EQ(WaitForSingleObject(b, 10000), WAIT_OBJECT_0);
  // The ended OS thread is reused for the same stack size.
  EXPECT_EQ(first.OsThread, second.OsThread);
  EXPECT_NE(firstId, secondId);
  EXPECT_NE(a, b);
  EXPECT_EQ(second.LastErrorAtStart.load(), 0u);
  EXPECT_TRUE(second.QueueWasEmpty.load());
  // The stale handle is rejected, not taken for the new thread.
  DWORD code = 0;
  SetLastError(0);
  EXPECT_FALSE(GetExitCodeThread(a, &code));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(CloseHandle(a));
  CloseHandle(b);
}

TEST(Threads, SuspendOfAnotherThreadIsNotSupported) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = CreateThread(nullptr, 0, WaitForEvent, event, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  SetLastError(0);
  EXPECT_EQ(SuspendThread(thread), static_cast<DWORD>(-1));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  SetEvent(event);
  EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  CloseHandle(thread);
  CloseHandle(event);
}

TEST(Threads, AThreadSuspendsItselfUntilResumed) {
  std::atomic<int> stage{0};

  HANDLE thread = CreateThread(nullptr, 0, SuspendOnce, &stage, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return stage.load() == 1; }));
  EXPECT_EQ(WaitForSingleObject(thread, 50), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(stage.load(), 1);
  // Resume may come before the thread actually sleeps; either way it runs on.
  ASSERT_TRUE(WaitUntil([&] { return ResumeThread(thread) == 1u; }));
  EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(stage.load(), 2);
  CloseHandle(thread);
}

TEST(Events, TimedWaitsNeverReturnEarly) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  for (DWORD ms : {1u, 20u, 120u}) {
    auto start = Clock::now();
    EXPECT_EQ(WaitForSingleObject(event, ms), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_GE(ElapsedMs(start), static_cast<long>(ms));
  }
  RunOnLayerThread([event] { // a fresh, empty queue
    auto start = Clock::now();
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 60, QS_ALLINPUT), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_GE(ElapsedMs(start), 60);
  });
  CloseHandle(event);
}

TEST(Events, ManualResetWakesEveryWaiterAndStaysSet) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i)
    waiters.emplace_back([&] {
      if (WaitForSingleObject(event, 10000) == WAIT_OBJECT_0)
        ++woken;
    });
  EXPECT_TRUE(SetEvent(event));
  for (auto& t : waiters)
    t.join();
  EXPECT_EQ(woken.load(), 4);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ResetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  CloseHandle(event);
}

TEST(Events, AutoResetReleasesOneWaiterPerSet) {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i)
    waiters.emplace_back([&] {
      if (WaitForSingleObject(event, 10000) == WAIT_OBJECT_0)
        ++woken;
    });
  for (int i = 1; i <= 3; ++i) {
    // Each set is taken before the next, so none is lost to an already set event.
    SetEvent(event);
    ASSERT_TRUE(WaitUntil([&] { return woken.load() == i; }));
  }
  for (auto& t : waiters)
    t.join();
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  CloseHandle(event);
}

TEST(Events, WaitForMultipleReturnsTheFirstSignalledIndex) {
  HANDLE events[3] = {CreateEventA(nullptr, TRUE, FALSE, nullptr),
                      CreateEventA(nullptr, TRUE, FALSE, nullptr),
                      CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    SetEvent(events[2]);
  });
  EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 10000), WAIT_OBJECT_0 + 2);
  setter.join();
  SetEvent(events[1]);
  EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 1);
  SetLastError(0);
  EXPECT_EQ(WaitForMultipleObjects(3, events, TRUE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  for (HANDLE e : events)
    CloseHandle(e);
}

TEST(Events, MsgWaitReturnsWhileTheQueueHoldsAMessage) {
  RunOnLayerThread([] {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const DWORD self = GetCurrentThreadId();
    std::thread poster([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      PostThreadMessageA(self, WM_USER, 0, 0);
    });
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 10000, QS_ALLINPUT), WAIT_OBJECT_0 + 1);
    poster.join();
    // Still there: it returns again at once.
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 10000, QS_ALLINPUT), WAIT_OBJECT_0 + 1);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 10, QS_ALLINPUT), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(event);
  });
}

TEST(Events, NamedEventsAndBadHandlesFail) {
  SetLastError(0);
  EXPECT_EQ(CreateEventA(nullptr, TRUE, FALSE, "Global\\x"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(CloseHandle(event));
  SetLastError(0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(SetEvent(event));
  EXPECT_FALSE(CloseHandle(event));
  // Later objects never get the closed value.
  for (int i = 0; i < 100; ++i) {
    HANDLE next = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    ASSERT_NE(next, event);
    CloseHandle(next);
  }
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
}

TEST(Events, WaitArgumentsAreChecked) {
  HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  HANDLE many[MAXIMUM_WAIT_OBJECTS + 1];
  for (HANDLE& h : many)
    h = event;
  struct Case {
    DWORD Count;
    DWORD Error;
  };
  for (Case c : {Case{0, ERROR_INVALID_PARAMETER}, Case{MAXIMUM_WAIT_OBJECTS + 1, ERROR_INVALID_PARAMETER}}) {
    SetLastError(0);
    EXPECT_EQ(WaitForMultipleObjects(c.Count, many, FALSE, 0), WAIT_FAILED) << c.Count;
    EXPECT_EQ(GetLastError(), c.Error) << c.Count;
  }
  EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, many, FALSE, 0), WAIT_OBJECT_0);
  CloseHandle(event);
}

TEST(CriticalSections, AreRecursiveAndExclude) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  EnterCriticalSection(&section);
  EXPECT_TRUE(TryEnterCriticalSection(&section));
  LeaveCriticalSection(&section);
  std::atomic<bool> otherGotIt{true};
  std::thread other([&] { otherGotIt = TryEnterCriticalSection(&section) != FALSE; });
  other.join();
  EXPECT_FALSE(otherGotIt.load());
  LeaveCriticalSection(&section);
  DeleteCriticalSection(&section);
}

TEST(Interlocked, ReturnTheDocumentedValues) {
  volatile LONG value = 5;
  EXPECT_EQ(InterlockedIncrement(&value), 6);
  EXPECT_EQ(InterlockedDecrement(&value), 5);
  EXPECT_EQ(InterlockedExchange(&value, 9), 5);
  EXPECT_EQ(InterlockedExchangeAdd(&value, 3), 9);
  EXPECT_EQ(InterlockedCompareExchange(&value, 1, 12), 12);
  EXPECT_EQ(InterlockedCompareExchange(&value, 7, 12), 1);
  EXPECT_EQ(value, 1);
}

TEST(LastError, IsPerThread) {
  SetLastError(77);
  std::thread other([] {
    EXPECT_EQ(GetLastError(), 0u);
    SetLastError(5);
  });
  other.join();
  EXPECT_EQ(GetLastError(), 77u);
}

namespace {

// Touches `bytes` of stack; a stack smaller than that faults.
template <size_t Bytes> DWORD WINAPI UseStack(LPVOID) {
  volatile unsigned char block[Bytes];
  for (size_t i = 0; i < Bytes; i += 512)
    block[i] = static_cast<unsigned char>(i);
  return block[Bytes / 2];
}

} // namespace

TEST(Threads, StacksAreAtLeastTheDefaultOrTheMinimum) {
  struct Case {
    SIZE_T Requested;
    LPTHREAD_START_ROUTINE Routine;
  };
  // 0 gives 1 MiB; a tiny request still gets 64 KiB.
  for (Case c : {Case{0, UseStack<900 * 1024>}, Case{4096, UseStack<48 * 1024>}}) {
    HANDLE thread = CreateThread(nullptr, c.Requested, c.Routine, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    CloseHandle(thread);
  }
}

TEST(Threads, ManyShortThreadsEachGetTheirOwnId) {
  constexpr int kThreads = 200;
  std::vector<DWORD> ids;
  for (int i = 0; i < kThreads; ++i) {
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, ReturnParameter, nullptr, 0, &id);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    CloseHandle(thread);
    ids.push_back(id);
  }
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
}
