#include "host/APIApp.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/rtl/sysutils.h"
#include "tests/support/Wait.h"

using namespace std::chrono_literals;

namespace {

constexpr UINT kProbeMessage = WM_USER + 77;

// Runs the loop; false when a fault kept it running and a watchdog had to end it.
bool LoopEnds(tAPIApp& app) {
  std::atomic<bool> ended{false}, stopped{false};
  std::thread watchdog([&, owner = GetCurrentThreadId()] {
    if (!kwstest::WaitUntil([&] { return ended.load(); }, 10s, kwstest::tPump::None))
      stopped = PostThreadMessageA(owner, WM_QUIT, 0, 0);
  });
  app.RunMessageLoop();
  ended = true;
  watchdog.join();
  return !stopped;
}

int TakeQueuedQuits() {
  int count = 0;
  for (MSG msg{}; PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);)
    ++count;
  return count;
}

// MainApp with a plain pop-up window, never a real one on a display.
class APIAppTest : public testing::Test {
protected:
  void SetUp() override {
    TakeQueuedQuits();
    MainApp = tAPIApp::Create();
    MainApp->WindowStyle = WS_POPUP;
  }
  void TearDown() override {
    if (MainApp && IsWindow(MainApp->Handle))
      DestroyWindow(MainApp->Handle);
    MainApp.reset();
    UnregisterClassA("tAPIApp", GetModuleHandleA(nullptr));
    for (MSG msg{}; PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);) {
    }
  }
};

// A quit left over would end the next loop at once.
TEST_F(APIAppTest, ClosingOrDestroyingTheWindowEndsTheLoopWithExactlyOneQuit) {
  for (bool visible : {true, false}) {
    SetUp();
    MainApp->Setup(10, 10, 220, 100, "closing", visible, nullptr);
    const HWND window = MainApp->Handle;
    ASSERT_TRUE(visible ? PostMessageA(window, WM_CLOSE, 0, 0) : DestroyWindow(window));
    EXPECT_TRUE(LoopEnds(*MainApp)) << visible;
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(TakeQueuedQuits(), 0);
    TearDown();
  }
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
    Calls += message.Msg == WM_CREATE ? "create " : "";
    return message.Msg == WM_CREATE && Refuse ? -1 : tAPIAppExtension::HandleMessage(window, message);
  }

  static inline std::string Calls;
  static inline bool Refuse = false;
};

TEST_F(APIAppTest, TheExtensionSeesCreationMessagesAndDestruction) {
  RecordingExtension::Calls.clear();
  MainApp->Setup(0, 0, 10, 10, "extended", false, &RecordingExtension::Create);
  MSG probe{MainApp->Handle, kProbeMessage, 7, 9, 0, {}};
  EXPECT_EQ(DispatchMessageA(&probe), 79);
  ASSERT_TRUE(PostMessageA(MainApp->Handle, WM_CLOSE, 0, 0));
  EXPECT_TRUE(LoopEnds(*MainApp));
  EXPECT_EQ(RecordingExtension::Calls, "before create after destroyed-after-quit");
}

TEST_F(APIAppTest, AWindowThatCannotBeMadeRaisesAnErrorAndLeavesNoHandle) {
  RecordingExtension::Refuse = true;
  EXPECT_THROW(MainApp->Setup(0, 0, 10, 10, "refused", false, &RecordingExtension::Create), EOSError);
  RecordingExtension::Refuse = false;
  EXPECT_EQ(MainApp->Handle, nullptr);
  tAPIApp nameless(""); // a class without a name is never registered
  EXPECT_THROW(nameless.Setup(0, 0, 10, 10, "nameless", false, nullptr), EOSError);
  EXPECT_EQ(nameless.Handle, nullptr);
}

TEST_F(APIAppTest, WithoutMainAppTheClassProcedureStillQuitsOnDestruction) {
  MainApp.reset();
  EXPECT_EQ(tAPIApp::GlobalWindowProc(nullptr, WM_DESTROY, 0, 0), 0);
  EXPECT_EQ(TakeQueuedQuits(), 1);
  // Anything else is the default procedure's, whatever the system answers for a window that does not exist.
  EXPECT_EQ(tAPIApp::GlobalWindowProc(nullptr, WM_NCCREATE, 0, 0),
            DefWindowProcA(nullptr, WM_NCCREATE, 0, 0));
  EXPECT_EQ(TakeQueuedQuits(), 0);
}

} // namespace
