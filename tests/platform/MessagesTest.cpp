// Queues, retrieval filters, quit handling and window life cycle, across real threads.
#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/win32.h"
#include "tests/platform/LayerTestHelpers.h"

using namespace layertest;

namespace {

constexpr UINT kTestMessage = WM_USER + 7;

} // namespace

TEST(MessageQueue, KeepsPostOrderFromSeveralThreads) {
  RunOnLayerThread([] {
    Recorder recorder;
    HWND window = CreateRecordingWindow(recorder);
    ASSERT_NE(window, nullptr);
    constexpr int kPerThread = 2000;
    std::thread a([&] {
      for (int i = 0; i < kPerThread; ++i)
        ASSERT_TRUE(PostMessageA(window, kTestMessage, static_cast<WPARAM>(i), 1));
    });
    std::thread b([&] {
      for (int i = 0; i < kPerThread; ++i)
        ASSERT_TRUE(PostMessageA(window, kTestMessage, static_cast<WPARAM>(i), 2));
    });
    int next[3] = {0, 0, 0};
    MSG msg;
    for (int taken = 0; taken < 2 * kPerThread; ++taken) {
      ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
      ASSERT_EQ(msg.hwnd, window);
      ASSERT_EQ(msg.message, kTestMessage);
      // Each poster's messages come back in the order it posted them.
      ASSERT_EQ(msg.wParam, static_cast<WPARAM>(next[msg.lParam]++));
    }
    a.join();
    b.join();
    EXPECT_EQ(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE), FALSE);
    DestroyWindow(window);
  });
}

TEST(MessageQueue, SleepingGetMessageWakesForAPostFromAnotherThread) {
  RunOnLayerThread([] {
    const DWORD self = GetCurrentThreadId();
    std::atomic<bool> posted{false};
    std::thread poster([&] {
      // Give the owner time to fall asleep; the post must still reach it.
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      posted = true;
      EXPECT_TRUE(PostThreadMessageA(self, kTestMessage, 42, 0));
    });
    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
    EXPECT_TRUE(posted.load());
    EXPECT_EQ(msg.message, kTestMessage);
    EXPECT_EQ(msg.wParam, 42u);
    EXPECT_EQ(msg.hwnd, nullptr);
    poster.join();
  });
}

TEST(MessageQueue, QuitMakesGetMessageReturnZeroWithTheExitCode) {
  RunOnLayerThread([] {
    PostThreadMessageA(GetCurrentThreadId(), kTestMessage, 1, 0);
    PostQuitMessage(7);
    PostThreadMessageA(GetCurrentThreadId(), kTestMessage, 2, 0);
    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
    EXPECT_EQ(msg.wParam, 1u);
    // The quit keeps its place: it does not wait for the queue to empty.
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), FALSE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 7u);
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
    EXPECT_EQ(msg.wParam, 2u);
  });
}

TEST(MessageQueue, QuitPassesEveryFilter) {
  RunOnLayerThread([] {
    Recorder recorder;
    HWND window = CreateRecordingWindow(recorder);
    ASSERT_NE(window, nullptr);
    PostQuitMessage(3);
    MSG msg;
    // A window filter plus a range that excludes 18 still returns the quit.
    ASSERT_EQ(GetMessageA(&msg, window, WM_USER, WM_USER + 10), FALSE);
    EXPECT_EQ(msg.wParam, 3u);
    PostQuitMessage(4);
    ASSERT_EQ(PeekMessageA(&msg, reinterpret_cast<HWND>(-1), kTestMessage, kTestMessage, PM_REMOVE), TRUE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    DestroyWindow(window);
  });
}

TEST(MessageQueue, FiltersByWindowThreadAndRange) {
  RunOnLayerThread([] {
    Recorder r1, r2;
    HWND w1 = CreateRecordingWindow(r1);
    HWND w2 = CreateRecordingWindow(r2);
    ASSERT_NE(w1, nullptr);
    ASSERT_NE(w2, nullptr);
    PostMessageA(w1, WM_USER + 1, 0, 0);
    PostMessageA(w2, WM_USER + 2, 0, 0);
    PostThreadMessageA(GetCurrentThreadId(), WM_USER + 3, 0, 0);
    PostMessageA(w1, WM_USER + 4, 0, 0);

    struct Case {
      HWND Filter;
      UINT Min, Max;
      UINT Expected;
    };
    const Case cases[] = {
        {w2, 0, 0, WM_USER + 2},
        {reinterpret_cast<HWND>(-1), 0, 0, WM_USER + 3},
        {nullptr, WM_USER + 4, WM_USER + 4, WM_USER + 4},
        {w1, 0, 0, WM_USER + 1},
    };
    for (const Case& c : cases) {
      MSG msg;
      ASSERT_EQ(PeekMessageA(&msg, c.Filter, c.Min, c.Max, PM_REMOVE), TRUE) << c.Expected;
      EXPECT_EQ(msg.message, c.Expected);
    }
    MSG msg;
    EXPECT_EQ(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE), FALSE);
    DestroyWindow(w1);
    DestroyWindow(w2);
  });
}

TEST(MessageQueue, PeekWithoutRemovalLeavesTheMessage) {
  RunOnLayerThread([] {
    PostThreadMessageA(GetCurrentThreadId(), kTestMessage, 9, 0);
    MSG msg;
    ASSERT_EQ(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE), TRUE);
    ASSERT_EQ(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE), TRUE);
    ASSERT_EQ(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE), TRUE);
    EXPECT_EQ(msg.wParam, 9u);
    EXPECT_EQ(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE), FALSE);
  });
}

TEST(MessageQueue, WindowFilterOfAnotherThreadIsAnError) {
  Recorder recorder;
  HWND foreign = nullptr;
  RunOnLayerThread([&] {
    HWND mine = CreateRecordingWindow(recorder);
    ASSERT_NE(mine, nullptr);
    std::thread other([&] {
      MSG msg;
      SetLastError(0);
      EXPECT_EQ(GetMessageA(&msg, mine, 0, 0), -1);
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
      EXPECT_EQ(PeekMessageA(&msg, mine, 0, 0, PM_REMOVE), FALSE);
    });
    other.join();
    foreign = mine;
  });
  // The thread ended, so its window went with it.
  EXPECT_FALSE(IsWindow(foreign));
}

TEST(MessageQueue, PostThreadMessageToAnUnknownThreadFails) {
  SetLastError(0);
  EXPECT_FALSE(PostThreadMessageA(0xFFFFFFF0u, kTestMessage, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));
}

TEST(Windows, MessagesForADestroyedWindowAreDroppedAndPostsFail) {
  RunOnLayerThread([] {
    Recorder recorder, other;
    HWND window = CreateRecordingWindow(recorder);
    HWND keep = CreateRecordingWindow(other);
    ASSERT_NE(window, nullptr);
    PostMessageA(window, kTestMessage, 1, 0);
    PostMessageA(keep, kTestMessage, 2, 0);
    PostMessageA(window, kTestMessage, 3, 0);
    ASSERT_TRUE(DestroyWindow(window));
    EXPECT_FALSE(IsWindow(window));
    SetLastError(0);
    EXPECT_FALSE(PostMessageA(window, kTestMessage, 4, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    MSG msg;
    ASSERT_EQ(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE), TRUE);
    EXPECT_EQ(msg.hwnd, keep);
    EXPECT_EQ(msg.wParam, 2u);
    EXPECT_EQ(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE), FALSE);
    DestroyWindow(keep);
  });
}

// Posts to itself while being destroyed; that message must never surface either.
LRESULT CALLBACK PostsWhileDestroyed(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_DESTROY) {
    EXPECT_TRUE(PostMessageA(hwnd, kTestMessage, 0, 0));
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

TEST(Windows, AMessagePostedDuringDestructionIsNeverReturned) {
  RunOnLayerThread([] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = PostsWhileDestroyed;
    wc.lpszClassName = "PostsWhileDestroyed";
    RegisterClassA(&wc);
    HWND window =
        CreateWindowExA(0, "postswhiledestroyed", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(DestroyWindow(window));
    MSG msg;
    EXPECT_EQ(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE), FALSE);
  });
}

TEST(Windows, CreationSendsNcCreateAndCreateAndDestructionSendsDestroyThenNcDestroy) {
  RunOnLayerThread([] {
    Recorder recorder;
    HWND window = CreateRecordingWindow(recorder);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(DestroyWindow(window));
    const std::vector<UINT> expected = {WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY};
    EXPECT_EQ(recorder.Messages, expected);
  });
}

TEST(Windows, CreateReturningMinusOneFailsTheCreation) {
  RunOnLayerThread([] {
    Recorder recorder;
    recorder.CreateResult = -1;
    EXPECT_EQ(CreateRecordingWindow(recorder), nullptr);
    const std::vector<UINT> expected = {WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY};
    EXPECT_EQ(recorder.Messages, expected);
  });
}

TEST(Windows, DestroyFromAnotherThreadIsDeniedButAPostedCloseDestroysOnTheOwner) {
  RunOnLayerThread([] {
    Recorder recorder;
    HWND window = CreateRecordingWindow(recorder);
    ASSERT_NE(window, nullptr);
    std::thread other([&] {
      SetLastError(0);
      EXPECT_FALSE(DestroyWindow(window));
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
      EXPECT_TRUE(IsWindow(window));
      EXPECT_TRUE(PostMessageA(window, WM_CLOSE, 0, 0));
    });
    other.join();
    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_CLOSE));
    DispatchMessageA(&msg);
    EXPECT_FALSE(IsWindow(window));
    // close, then destroy, then message 2.
    const std::vector<UINT> expected = {WM_NCCREATE, WM_CREATE, WM_CLOSE, WM_DESTROY, WM_NCDESTROY};
    EXPECT_EQ(recorder.Messages, expected);
  });
}

TEST(Windows, HandleValuesAreNeverReused) {
  RunOnLayerThread([] {
    Recorder recorder;
    HWND first = CreateRecordingWindow(recorder);
    ASSERT_TRUE(DestroyWindow(first));
    for (int i = 0; i < 100; ++i) {
      HWND next = CreateRecordingWindow(recorder);
      ASSERT_NE(next, first);
      DestroyWindow(next);
    }
    EXPECT_FALSE(IsWindow(first));
    EXPECT_FALSE(PostMessageA(first, kTestMessage, 0, 0));
    EXPECT_FALSE(DestroyWindow(first));
  });
}

TEST(Windows, WindowLongsCheckTheExtraBytes) {
  RunOnLayerThread([] {
    Recorder recorder;
    HWND window = CreateRecordingWindow(recorder); // 16 extra bytes
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(SetWindowLongA(window, 12, 0x1234), 0);
    EXPECT_EQ(GetWindowLongA(window, 12), 0x1234);
    EXPECT_EQ(SetWindowLongPtrA(window, 0, 77), 0);
    EXPECT_EQ(GetWindowLongPtrA(window, 0), 77);
    EXPECT_EQ(GetWindowLongA(window, 12), 0x1234);
    struct Case {
      int Index;
    };
    for (Case c : {Case{13}, Case{16}, Case{-100}}) {
      SetLastError(0);
      EXPECT_EQ(GetWindowLongA(window, c.Index), 0) << c.Index;
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_INDEX)) << c.Index;
    }
    SetLastError(0);
    EXPECT_EQ(GetWindowLongPtrA(window, 13), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_INDEX));
    DestroyWindow(window);
  });
}

TEST(WindowClasses, NamesIgnoreCaseAndDuplicatesFail) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.lpszClassName = "CaseTestClass";
  ASSERT_NE(RegisterClassA(&wc), 0);
  wc.lpszClassName = "CASETESTCLASS";
  SetLastError(0);
  EXPECT_EQ(RegisterClassA(&wc), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
  WNDCLASSA found{};
  EXPECT_TRUE(GetClassInfoA(nullptr, "casetestclass", &found));
  EXPECT_EQ(found.lpfnWndProc, DefWindowProcA);
  EXPECT_TRUE(UnregisterClassA("CaseTestClass", nullptr));
  SetLastError(0);
  EXPECT_FALSE(GetClassInfoA(nullptr, "CaseTestClass", &found));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_DOES_NOT_EXIST));
}

TEST(Windows, GetWindowThreadProcessIdNamesTheOwner) {
  RunOnLayerThread([] {
    Recorder recorder;
    HWND window = CreateRecordingWindow(recorder);
    DWORD process = 0;
    EXPECT_EQ(GetWindowThreadProcessId(window, &process), GetCurrentThreadId());
    EXPECT_EQ(process, GetCurrentProcessId());
    DestroyWindow(window);
  });
}

TEST(Windows, AnEndingThreadsWindowsGoSilentlyAndPostsToThemFail) {
  Recorder recorder;
  HWND window = nullptr;
  RunOnLayerThread([&] {
    window = CreateRecordingWindow(recorder);
    ASSERT_NE(window, nullptr);
    PostMessageA(window, kTestMessage, 0, 0);
  });
  EXPECT_FALSE(IsWindow(window));
  const std::vector<UINT> expected = {WM_NCCREATE, WM_CREATE};
  EXPECT_EQ(recorder.Messages, expected);
  SetLastError(0);
  EXPECT_FALSE(PostMessageA(window, kTestMessage, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST(MessageQueue, WaitMessageReturnsForANewMessageOnly) {
  RunOnLayerThread([] {
    const DWORD self = GetCurrentThreadId();
    PostThreadMessageA(self, kTestMessage, 1, 0);
    EXPECT_TRUE(WaitMessage()); // not looked at yet: returns at once
    MSG msg;
    // Looked at but left in the queue: WaitMessage now waits for the next post.
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, kTestMessage + 1, kTestMessage + 1, PM_REMOVE) == FALSE);
    std::atomic<bool> posted{false};
    std::thread poster([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      posted = true;
      PostThreadMessageA(self, kTestMessage, 2, 0);
    });
    EXPECT_TRUE(WaitMessage());
    EXPECT_TRUE(posted.load());
    poster.join();
  });
}

TEST(MessageQueue, DispatchRunsTheProcedureOnlyForLiveWindowsOfTheCaller) {
  RunOnLayerThread([] {
    Recorder recorder;
    HWND window = CreateRecordingWindow(recorder);
    MSG msg{};
    msg.hwnd = window;
    msg.message = kTestMessage;
    DispatchMessageA(&msg);
    std::thread other([&] { EXPECT_EQ(DispatchMessageA(&msg), 0); });
    other.join();
    DestroyWindow(window);
    EXPECT_EQ(DispatchMessageA(&msg), 0);
    msg.hwnd = nullptr;
    EXPECT_EQ(DispatchMessageA(&msg), 0);
    const std::vector<UINT> expected = {WM_NCCREATE, WM_CREATE, kTestMessage, WM_DESTROY, WM_NCDESTROY};
    EXPECT_EQ(recorder.Messages, expected);
  });
}

namespace {

CREATESTRUCTA gSeenCreate{};
std::string gSeenName, gSeenClass;

LRESULT CALLBACK KeepsCreateStruct(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_CREATE) {
    gSeenCreate = *reinterpret_cast<CREATESTRUCTA*>(lParam);
    gSeenName = gSeenCreate.lpszName;
    gSeenClass = gSeenCreate.lpszClass;
  }
  if (msg == kTestMessage)
    throw std::runtime_error("from the window procedure");
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

int gDestroyCalls = 0;

LRESULT CALLBACK DestroysAgain(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_DESTROY) {
    ++gDestroyCalls;
    EXPECT_TRUE(IsWindow(hwnd)); // still valid while it hears of its end
    EXPECT_TRUE(DestroyWindow(hwnd));
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK Subclass(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == kTestMessage)
    return 99;
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

} // namespace

TEST(Windows, CreateSeesTheCreationParameters) {
  RunOnLayerThread([] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = KeepsCreateStruct;
    wc.lpszClassName = "KeepsCreateStruct";
    RegisterClassA(&wc);
    int parameter = 0;
    HWND window = CreateWindowExA(WS_EX_TOOLWINDOW, "KeepsCreateStruct", "named", WS_POPUP, 1, 2, 30, 40,
                                  nullptr, nullptr, nullptr, &parameter);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(gSeenCreate.lpCreateParams, &parameter);
    EXPECT_EQ(gSeenCreate.x, 1);
    EXPECT_EQ(gSeenCreate.y, 2);
    EXPECT_EQ(gSeenCreate.cx, 30);
    EXPECT_EQ(gSeenCreate.cy, 40);
    EXPECT_EQ(static_cast<DWORD>(gSeenCreate.style), static_cast<DWORD>(WS_POPUP));
    EXPECT_EQ(gSeenCreate.dwExStyle, static_cast<DWORD>(WS_EX_TOOLWINDOW));
    EXPECT_EQ(gSeenName, "named");
    EXPECT_EQ(gSeenClass, "KeepsCreateStruct");
    DestroyWindow(window);
  });
}

TEST(Windows, UnknownClassFailsAndAClassWithWindowsStaysRegistered) {
  RunOnLayerThread([] {
    SetLastError(0);
    EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), 1407u);
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "HasAWindow";
    ASSERT_NE(RegisterClassA(&wc), 0);
    HWND window = CreateWindowExA(0, "HasAWindow", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(UnregisterClassA("HasAWindow", nullptr));
    EXPECT_EQ(GetLastError(), 1412u);
    DestroyWindow(window);
    EXPECT_TRUE(UnregisterClassA("HasAWindow", nullptr));
  });
}

TEST(Windows, ExceptionsFromTheProcedurePassThroughDispatch) {
  RunOnLayerThread([] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = KeepsCreateStruct;
    wc.lpszClassName = "KeepsCreateStruct";
    RegisterClassA(&wc);
    HWND window =
        CreateWindowExA(0, "KeepsCreateStruct", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(PostMessageA(window, kTestMessage, 0, 0));
    MSG msg;
    ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_THROW(DispatchMessageA(&msg), std::runtime_error);
    EXPECT_TRUE(IsWindow(window));
    DestroyWindow(window);
  });
}

TEST(Windows, DestroyingAgainFromDestroyEndsItOnce) {
  RunOnLayerThread([] {
    gDestroyCalls = 0;
    WNDCLASSA wc{};
    wc.lpfnWndProc = DestroysAgain;
    wc.lpszClassName = "DestroysAgain";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, "DestroysAgain", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(DestroyWindow(window));
    EXPECT_EQ(gDestroyCalls, 1);
    EXPECT_FALSE(IsWindow(window));
  });
}

TEST(Windows, TheProcedureCanBeReplaced) {
  RunOnLayerThread([] {
    Recorder recorder;
    HWND window = CreateRecordingWindow(recorder);
    LONG_PTR previous = SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Subclass));
    EXPECT_EQ(previous, reinterpret_cast<LONG_PTR>(RecordingProc));
    MSG msg{};
    msg.hwnd = window;
    msg.message = kTestMessage;
    EXPECT_EQ(DispatchMessageA(&msg), 99);
    DestroyWindow(window);
  });
}
