// Queues, quit handling and window life cycle, across real threads.
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "platform/win32.h"
#include "tests/support/TestWindow.h"
#include "tests/support/Win32Calls.h"

using namespace kwstest;
using Messages = std::vector<UINT>;

namespace {

// The next message's parameter, removed, or 0 when the queue is empty.
WPARAM TakeParameter() {
  MSG msg;
  return PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) ? msg.wParam : 0;
}

} // namespace

// Each message is awaited first, so a wait must wake for a post from another thread.
TEST(MessageQueue, KeepsPostOrderFromSeveralThreadsAndWakesForTheirPosts) {
  RunWithWindow([](HWND window, tRecorder&) {
    constexpr int kPerThread = 2000;
    auto post = [&](LPARAM poster) {
      for (int i = 0; i < kPerThread; ++i)
        ASSERT_TRUE(PostMessageA(window, kTestMessage, static_cast<WPARAM>(i), poster));
    };
    std::thread a(post, 0), b(post, 1);
    WPARAM next[2] = {0, 0};
    MSG msg;
    for (int taken = 0; taken < 2 * kPerThread; ++taken) {
      ASSERT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 20000, QS_ALLINPUT), WAIT_OBJECT_0);
      ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
      ASSERT_EQ(msg.wParam, next[msg.lParam]++);
    }
    a.join(), b.join();
    EXPECT_EQ(TakeParameter(), 0u);
  });
}

// A loop that handles only some of its messages must not sleep on the rest.
TEST(MessageQueue, MsgWaitReturnsWhileAMessageIsQueuedEvenOneReportedBefore) {
  RunOnLayerThread([] {
    HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    PostThreadMessageA(GetCurrentThreadId(), kTestMessage, 1, 0);
    for (int i = 0; i < 2; ++i)
      EXPECT_EQ(MsgWaitForMultipleObjects(1, &never, FALSE, 10000, QS_ALLINPUT), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(TakeParameter(), 1u);
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &never, FALSE, 10, QS_ALLINPUT), DWORD(WAIT_TIMEOUT));
    CloseHandle(never);
  });
}

TEST(MessageQueue, QuitKeepsItsPlaceAndCarriesTheExitCode) {
  RunOnLayerThread([] {
    PostThreadMessageA(GetCurrentThreadId(), kTestMessage, 1, 0);
    PostQuitMessage(7);
    PostThreadMessageA(GetCurrentThreadId(), kTestMessage, 2, 0);
    MSG msg;
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0) == TRUE ? msg.wParam : 0, 1u);
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), FALSE);
    EXPECT_TRUE(msg.message == WM_QUIT && msg.wParam == 7u);
    EXPECT_EQ(TakeParameter(), 2u);
  });
}

TEST(Windows, MessagesForADestroyedWindowAreNeverReturnedPostsToItFailAndItsHandleIsNeverReused) {
  RunWithWindow([](HWND keep, tRecorder&) {
    tRecorder recorder;
    recorder.PostOnDestroy = true;
    HWND window = CreateRecordingWindow(recorder);
    PostMessageA(window, kTestMessage, 1, 0);
    PostMessageA(keep, kTestMessage, 2, 0);
    PostMessageA(window, kTestMessage, 3, 0);
    ASSERT_TRUE(DestroyWindow(window));
    EXPECT_EQ(ErrorOf(PostMessageA(window, kTestMessage, 4, 0)), DWORD(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(TakeParameter(), 2u);
    EXPECT_EQ(TakeParameter(), 0u);
    for (int i = 0; i < 100; ++i) {
      HWND next = CreateRecordingWindow(recorder);
      ASSERT_TRUE(next != window && DestroyWindow(next));
    }
    EXPECT_FALSE(IsWindow(window) || DestroyWindow(window));
  });
}

TEST(Windows, OtherThreadsCanOnlyPostSoAPostedCloseDestroysOnTheOwner) {
  RunWithWindow([](HWND window, tRecorder& recorder) {
    MSG msg{window, kTestMessage, 0, 0, 0, {}};
    std::thread([&] {
      EXPECT_EQ(DispatchMessageA(&msg), 0);
      EXPECT_EQ(ErrorOf(DestroyWindow(msg.hwnd)), DWORD(ERROR_ACCESS_DENIED));
      EXPECT_TRUE(PostMessageA(msg.hwnd, WM_CLOSE, 0, 0));
    }).join();
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
    DispatchMessageA(&msg);
    EXPECT_EQ(DispatchMessageA(&msg), 0);
    EXPECT_EQ(recorder.Messages, (Messages{WM_NCCREATE, WM_CREATE, WM_CLOSE, WM_DESTROY, WM_NCDESTROY}));
  });
}

// Destroying again from WM_DESTROY ends the window once; -1 from WM_CREATE fails the creation.
TEST(Windows, CreationAndDestructionSendTheirMessagesOnceEachEvenReentered) {
  for (LRESULT createResult : {0, -1})
    RunOnLayerThread([&] {
      tRecorder recorder;
      recorder.CreateResult = createResult;
      recorder.DestroyOnDestroy = true;
      HWND window = CreateRecordingWindow(recorder);
      EXPECT_EQ(window == nullptr, createResult == -1);
      EXPECT_EQ(DestroyWindow(window) != FALSE, createResult == 0);
      EXPECT_FALSE(IsWindow(window));
      EXPECT_EQ(recorder.Messages, (Messages{WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}));
    });
}

TEST(Windows, ExceptionsFromTheProcedurePassThroughDispatch) {
  RunWithWindow([](HWND window, tRecorder& recorder) {
    recorder.ThrowOnTestMessage = true;
    MSG msg{window, kTestMessage, 0, 0, 0, {}};
    EXPECT_THROW(DispatchMessageA(&msg), std::runtime_error);
    EXPECT_TRUE(IsWindow(window));
  });
}

TEST(Windows, AnEndingThreadsWindowsGoSilentlyAndPostsToThemFail) {
  tRecorder recorder;
  HWND window = nullptr;
  RunOnLayerThread([&] {
    window = CreateRecordingWindow(recorder);
    PostMessageA(window, kTestMessage, 0, 0);
  });
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(recorder.Messages, (Messages{WM_NCCREATE, WM_CREATE}));
  EXPECT_EQ(ErrorOf(PostMessageA(window, kTestMessage, 0, 0)), DWORD(ERROR_INVALID_WINDOW_HANDLE));
}
