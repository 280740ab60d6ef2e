// Threads, their reuse, events and waits.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32.h"
#include "tests/support/Win32Calls.h"
#include "tests/support/TestWindow.h"
#include "tests/support/Wait.h"

using namespace std::chrono_literals;
using kwstest::ErrorOf;
using kwstest::tPump;
using kwstest::WaitUntil;

namespace {

struct tStartRecord {
  std::atomic<bool> Ran{false};
  DWORD LastErrorAtStart = 1;
  bool QueueWasEmpty = false;
  std::thread::id OsThread;
};

// Notes what a starting thread finds, and leaves a last error and a message behind for its successor.
DWORD WINAPI RecordStart(LPVOID parameter) {
  auto* record = static_cast<tStartRecord*>(parameter);
  record->LastErrorAtStart = GetLastError();
  MSG msg;
  record->QueueWasEmpty = PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE) == FALSE;
  record->OsThread = std::this_thread::get_id();
  SetLastError(1234);
  PostThreadMessageA(GetCurrentThreadId(), WM_USER, 0, 0);
  record->Ran = true;
  return 33;
}

// Touches Bytes of stack; a smaller stack faults.
template <size_t Bytes> DWORD WINAPI UseStack(LPVOID) {
  volatile unsigned char block[Bytes];
  for (size_t i = 0; i < Bytes; i += 512)
    block[i] = static_cast<unsigned char>(i);
  return block[Bytes / 2];
}

} // namespace

TEST(Threads, ASuspendedThreadRunsOnlyAfterResumeAndAReusedOneGetsNewIdHandleAndCleanState) {
  tStartRecord first, second;
  DWORD firstId = 0, secondId = 0, code = 0;
  HANDLE a = CreateThread(nullptr, 0, RecordStart, &first, CREATE_SUSPENDED, &firstId);
  EXPECT_EQ(WaitForSingleObject(a, 50), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_TRUE(GetExitCodeThread(a, &code) && code == STILL_ACTIVE && !first.Ran);
  EXPECT_TRUE(PostThreadMessageA(firstId, WM_USER + 1, 0, 0));
  EXPECT_EQ(ResumeThread(a), 1u);
  ASSERT_EQ(WaitForSingleObject(a, 10000), WAIT_OBJECT_0);
  EXPECT_TRUE(!first.QueueWasEmpty && GetExitCodeThread(a, &code) && code == 33u);
  EXPECT_EQ(ErrorOf(PostThreadMessageA(firstId, WM_USER + 1, 0, 0)), DWORD(ERROR_INVALID_THREAD_ID));
  ASSERT_TRUE(CloseHandle(a));
  HANDLE b = CreateThread(nullptr, 0, RecordStart, &second, 0, &secondId);
  ASSERT_EQ(WaitForSingleObject(b, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(first.OsThread, second.OsThread); // the ended OS thread served again
  EXPECT_TRUE(firstId != secondId && a != b);
  EXPECT_TRUE(second.LastErrorAtStart == 0u && second.QueueWasEmpty);
  EXPECT_EQ(ErrorOf(GetExitCodeThread(a, &code)), DWORD(ERROR_INVALID_HANDLE)); // the stale handle
  EXPECT_FALSE(CloseHandle(a));
  CloseHandle(b);
}

// 0 gives 1 MiB; a tiny request still gets 64 KiB.
TEST(Threads, StacksAreAtLeastTheDefaultOrTheMinimum) {
  const std::pair<SIZE_T, LPTHREAD_START_ROUTINE> cases[] = {{0, UseStack<900 * 1024>},
                                                             {4096, UseStack<48 * 1024>}};
  for (auto [requested, routine] : cases) {
    HANDLE thread = CreateThread(nullptr, requested, routine, nullptr, 0, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    CloseHandle(thread);
  }
}

TEST(Events, TimedWaitsNeverReturnEarly) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  kwstest::RunOnLayerThread([event] { // a fresh, empty queue
    for (DWORD ms : {1u, 20u, 120u})
      for (bool messages : {false, true}) {
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(messages ? MsgWaitForMultipleObjects(1, &event, FALSE, ms, QS_ALLINPUT)
                           : WaitForSingleObject(event, ms),
                  static_cast<DWORD>(WAIT_TIMEOUT));
        EXPECT_TRUE(std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(ms)) << ms;
      }
  });
  CloseHandle(event);
}

TEST(Events, ManualResetWakesEveryWaiterAndAutoResetOnePerSet) {
  for (BOOL manual : {TRUE, FALSE}) {
    HANDLE event = CreateEventA(nullptr, manual, FALSE, nullptr);
    std::atomic<int> woken{0};
    std::vector<std::jthread> waiters; // joined before the event closes
    for (int i = 0; i < 3; ++i)
      waiters.emplace_back([&] { woken += WaitForSingleObject(event, 10000) == WAIT_OBJECT_0; });
    for (int i = 1; i <= (manual ? 1 : 3); ++i) {
      SetEvent(event); // each set is taken before the next, so none is lost to an event already set
      ASSERT_TRUE(WaitUntil([&] { return woken == (manual ? 3 : i); }, 10s, tPump::None));
    }
    waiters.clear();
    EXPECT_EQ(WaitForSingleObject(event, 0), manual ? WAIT_OBJECT_0 : static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(ResetEvent(event) && WaitForSingleObject(event, 0) == WAIT_TIMEOUT);
    CloseHandle(event);
  }
}

TEST(Events, WaitForMultipleGivesTheSignalledIndexAndClosedHandlesStayInvalidAndUnused) {
  HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr),
         closed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(CloseHandle(closed));
  for (int i = 0; i < 100; ++i) {
    HANDLE next = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    ASSERT_TRUE(next != closed && CloseHandle(next));
  }
  EXPECT_EQ(ErrorOf(WaitForSingleObject(closed, 0) != WAIT_FAILED), DWORD(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(SetEvent(closed) || CloseHandle(closed));
  HANDLE pair[2] = {CreateEventA(nullptr, TRUE, FALSE, nullptr), event};
  EXPECT_EQ(WaitForMultipleObjects(2, pair, FALSE, 10000), WAIT_OBJECT_0 + 1);
  CloseHandle(pair[0]);
  CloseHandle(event);
}
