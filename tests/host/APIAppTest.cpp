#include "host/APIApp.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/rtl/sysutils.h"
#include "tests/support/Wait.h"

using namespace std::chrono_literals;

namespace {

constexpr UINT kProbeMessage = WM_USER + 77;

// Runs the loop; one that a fault keeps running is ended after a deadline, and then the result is false.
bool LoopEnds(tAPIApp& app) {
  std::atomic<bool> ended{false};
  std::atomic<bool> stopped{false};
  std::thread watchdog([&, owner = GetCurrentThreadId()] {
    if (!kwstest::WaitUntil([&] { return ended.load(); }, 10s, kwstest::tPump::None)) {
      stopped = true;
      PostThreadMessageA(owner, WM_QUIT, 0, 0);
    }
  });
  app.RunMessageLoop();
  ended = true;
  watchdog.join();
  return !stopped;
}

// Removes the quit messages of this thread's queue and counts them.
int TakeQueuedQuits() {
  int count = 0;
  for (MSG msg{}; PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);)
    ++count;
  return count;
}

// MainApp in a state a test can use: its window is a plain pop-up, never a real one on a display.
class APIAppTest : public testing::Test {
protected:
  void SetUp() override {
    TakeQueuedQuits();
    MainApp = tAPIApp::Create();
    MainApp->WindowStyle = WS_POPUP;
  }
  void TearDown() override {
    if (MainApp && MainApp->Handle != nullptr && IsWindow(MainApp->Handle))
      DestroyWindow(MainApp->Handle);
    MainApp.reset();
    UnregisterClassA("tAPIApp", GetModuleHandleA(nullptr));
    for (MSG msg{}; PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);) {
    }
  }
};

TEST_F(APIAppTest, ClosingTheWindowPostsExactlyOneQuitAndEndsTheLoop) {
  MainApp->Setup(10, 10, 220, 100, "closing", true, nullptr);
  const HWND window = MainApp->Handle;
  ASSERT_TRUE(IsWindow(window));
  EXPECT_EQ(MainApp->GetWindow(), window);
  ASSERT_TRUE(PostMessageA(window, WM_CLOSE, 0, 0));
  EXPECT_TRUE(LoopEnds(*MainApp));
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(TakeQueuedQuits(), 0);
}

TEST_F(APIAppTest, AHiddenWindowThatIsDestroyedStillEndsTheLoop) {
  MainApp->Setup(10, 10, 220, 100, "hidden", false, nullptr);
  ASSERT_TRUE(DestroyWindow(MainApp->Handle));
  EXPECT_TRUE(LoopEnds(*MainApp));
}

// A second window of the thread: counts its probe, then closes the main window.
LRESULT CALLBACK CountingProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  static int count = 0;
  if (msg != kProbeMessage)
    return DefWindowProcA(window, msg, wParam, lParam);
  count += static_cast<int>(wParam);
  DestroyWindow(MainApp->Handle);
  return count;
}

TEST_F(APIAppTest, TheLoopDispatchesMessagesOfOtherWindowsOfTheThread) {
  MainApp->Setup(0, 0, 10, 10, "main", false, nullptr);
  WNDCLASSA other{};
  other.lpfnWndProc = &CountingProc;
  other.hInstance = GetModuleHandleA(nullptr);
  other.lpszClassName = "APIAppTestOther";
  ASSERT_NE(RegisterClassA(&other), 0);
  const HWND helper = CreateWindowExA(0, "APIAppTestOther", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                      GetModuleHandleA(nullptr), nullptr);
  ASSERT_TRUE(PostMessageA(helper, kProbeMessage, 3, 0));
  EXPECT_TRUE(LoopEnds(*MainApp));
  MSG probe{helper, kProbeMessage, 0, 0, 0, {}};
  EXPECT_EQ(DispatchMessageA(&probe), 3) << "the posted probe was not dispatched once";
  DestroyWindow(helper);
  UnregisterClassA("APIAppTestOther", GetModuleHandleA(nullptr));
}

TEST_F(APIAppTest, ASecondObjectGetsAWindowOnlyForAClassNameOfItsOwn) {
  MainApp->Setup(0, 0, 10, 10, "first", false, nullptr);
  tAPIApp same;
  same.WindowStyle = WS_POPUP;
  same.Setup(0, 0, 10, 10, "same", true, nullptr);
  EXPECT_EQ(same.GetWindow(), nullptr);
  EXPECT_TRUE(LoopEnds(same));
  EXPECT_TRUE(IsWindow(MainApp->Handle));
  tAPIApp other("tOtherApp");
  other.WindowStyle = WS_POPUP;
  other.Setup(0, 0, 10, 10, "other", false, nullptr);
  EXPECT_NE(other.GetWindow(), nullptr);
  EXPECT_NE(other.GetWindow(), MainApp->Handle);
  DestroyWindow(other.Handle);
  UnregisterClassA("tOtherApp", GetModuleHandleA(nullptr));
}

// Records the hooks in the order they are called; refuses the window at creation when asked.
class RecordingExtension : public tAPIAppExtension {
public:
  static std::unique_ptr<tAPIAppExtension> Create(tAPIApp&) { return std::make_unique<RecordingExtension>(); }
  void BeforeCreateWindow() override { Calls += MainApp->Handle == nullptr ? "before " : "before-late "; }
  void AfterCreateWindow() override { Calls += MainApp->Handle != nullptr ? "after " : "after-early "; }
  void WindowDestroyed() override {
    MSG msg{};
    Calls +=
        PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) ? "destroyed-after-quit" : "destroyed";
  }
  LRESULT HandleMessage(HWND window, tWindowMessageData& message) override {
    if (message.Msg == kProbeMessage && window == MainApp->Handle)
      return static_cast<LRESULT>(message.WParam) * 10 + message.LParam;
    if (message.Msg == WM_CREATE)
      Calls += "create ";
    if (message.Msg == WM_CREATE && Refuse)
      return -1;
    return tAPIAppExtension::HandleMessage(window, message);
  }

  static inline std::string Calls;
  static inline bool Refuse = false;
};

TEST_F(APIAppTest, TheExtensionSeesCreationMessagesAndDestruction) {
  RecordingExtension::Calls.clear();
  RecordingExtension::Refuse = false;
  MainApp->Setup(0, 0, 10, 10, "extended", false, &RecordingExtension::Create);
  ASSERT_NE(dynamic_cast<RecordingExtension*>(MainApp->Extension.get()), nullptr);
  MSG probe{MainApp->Handle, kProbeMessage, 7, 9, 0, {}};
  EXPECT_EQ(DispatchMessageA(&probe), 79);
  ASSERT_TRUE(PostMessageA(MainApp->Handle, WM_CLOSE, 0, 0));
  EXPECT_TRUE(LoopEnds(*MainApp));
  EXPECT_EQ(RecordingExtension::Calls, "before create after destroyed-after-quit");
}

TEST_F(APIAppTest, AFailedWindowCreationRaisesAnError) {
  RecordingExtension::Refuse = true;
  EXPECT_THROW(MainApp->Setup(0, 0, 10, 10, "refused", false, &RecordingExtension::Create), EOSError);
  RecordingExtension::Refuse = false;
  EXPECT_EQ(MainApp->Handle, nullptr);
}

TEST_F(APIAppTest, AFailedRegistrationRaisesTheSystemError) {
  tAPIApp nameless("");
  try {
    nameless.Setup(0, 0, 10, 10, "nameless", false, nullptr);
    FAIL() << "registration of a class without a name succeeded";
  } catch (const EOSError& error) {
    EXPECT_EQ(error.ErrorCode, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(error.Message.rfind("Win32 Error.  Code: 87.\n", 0), 0u) << error.Message;
  }
  EXPECT_EQ(nameless.Handle, nullptr);
}

TEST_F(APIAppTest, WithoutMainAppTheClassProcedureStillQuitsOnDestruction) {
  MainApp.reset();
  EXPECT_EQ(tAPIApp::GlobalWindowProc(nullptr, WM_DESTROY, 0, 0), 0);
  EXPECT_EQ(TakeQueuedQuits(), 1);
  EXPECT_EQ(tAPIApp::GlobalWindowProc(nullptr, WM_NCCREATE, 0, 0), TRUE);
  EXPECT_EQ(TakeQueuedQuits(), 0);
}

} // namespace
