#include "host/APIApp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/rtl/sysutils.h"

namespace {

constexpr UINT kProbeMessage = WM_USER + 77;

// Ends a message loop of the current thread that a fault keeps running, so the test fails instead of hanging.
class LoopWatchdog {
public:
  explicit LoopWatchdog(std::chrono::seconds limit = std::chrono::seconds(10))
      : Thread([this, limit, owner = GetCurrentThreadId()] {
          std::unique_lock<std::mutex> lock(Lock);
          if (!Done.wait_for(lock, limit, [this] { return Stopped; })) {
            Fired = true;
            PostThreadMessageA(owner, WM_QUIT, 0, 0);
          }
        }) {}
  ~LoopWatchdog() {
    {
      std::lock_guard<std::mutex> lock(Lock);
      Stopped = true;
    }
    Done.notify_all();
    Thread.join();
  }
  bool HasFired() {
    std::lock_guard<std::mutex> lock(Lock);
    return Fired;
  }

private:
  std::mutex Lock; // guards Stopped, Fired
  std::condition_variable Done;
  bool Stopped = false;
  bool Fired = false;
  std::thread Thread;
};

int CountQueuedQuits() {
  int count = 0;
  MSG msg{};
  while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    ++count;
  }
  return count;
}

void DrainQueue() {
  MSG msg{};
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}

// MainApp in a state a test can use: its window is a plain pop-up, never a real one on a display.
class APIAppTest : public testing::Test {
protected:
  void SetUp() override {
    DrainQueue();
    MainApp = tAPIApp::Create();
    MainApp->WindowStyle = WS_POPUP;
  }
  void TearDown() override {
    if (MainApp && MainApp->Handle != nullptr && IsWindow(MainApp->Handle)) {
      DestroyWindow(MainApp->Handle);
    }
    MainApp.reset();
    UnregisterClassA("tAPIApp", GetModuleHandleA(nullptr));
    DrainQueue();
  }
};

TEST_F(APIAppTest, StartsWithTheDocumentedDefaults) {
  EXPECT_EQ(MainApp->ClassName, "tAPIApp");
  EXPECT_EQ(MainApp->Title, "Sample API Window");
  EXPECT_EQ(MainApp->ClassStyle, 3u);
  EXPECT_EQ(tAPIApp().WindowStyle, 0xCF0000u);
  EXPECT_EQ(MainApp->ExStyle, 0u);
  EXPECT_EQ(MainApp->Handle, nullptr);
  EXPECT_FALSE(MainApp->Visible);
}

TEST_F(APIAppTest, SetupCreatesTheWindowAtOnceFromARegisteredClass) {
  MainApp->Setup(10, 20, 220, 100, "Kestrune Web Server", true, nullptr);
  ASSERT_NE(MainApp->Handle, nullptr);
  EXPECT_TRUE(IsWindow(MainApp->Handle));
  EXPECT_EQ(MainApp->Left, 10);
  EXPECT_EQ(MainApp->Top, 20);
  EXPECT_EQ(MainApp->Width, 220);
  EXPECT_EQ(MainApp->Height, 100);
  EXPECT_EQ(MainApp->Title, "Kestrune Web Server");
  EXPECT_TRUE(MainApp->Visible);
  EXPECT_NE(MainApp->DC, nullptr);
  WNDCLASSA registered{};
  ASSERT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), "tAPIApp", &registered));
  EXPECT_EQ(registered.lpfnWndProc, &tAPIApp::GlobalWindowProc);
  EXPECT_EQ(registered.style, 3u);
  EXPECT_EQ(registered.hbrBackground, reinterpret_cast<HBRUSH>(5));
  EXPECT_EQ(MainApp->GetWindow(), MainApp->Handle);
}

TEST_F(APIAppTest, ClosingTheWindowPostsExactlyOneQuitAndEndsTheLoop) {
  MainApp->Setup(10, 10, 220, 100, "closing", true, nullptr);
  HWND window = MainApp->Handle;
  ASSERT_TRUE(PostMessageA(window, WM_CLOSE, 0, 0));
  LoopWatchdog watchdog;
  EXPECT_EQ(MainApp->RunMessageLoop(), 0);
  EXPECT_FALSE(watchdog.HasFired());
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(CountQueuedQuits(), 0);
}

TEST_F(APIAppTest, AHiddenWindowThatIsDestroyedStillEndsTheLoop) {
  MainApp->Setup(10, 10, 220, 100, "hidden", false, nullptr);
  ASSERT_TRUE(DestroyWindow(MainApp->Handle));
  LoopWatchdog watchdog;
  EXPECT_EQ(MainApp->RunMessageLoop(), 0);
  EXPECT_FALSE(watchdog.HasFired());
}

// A second window of the thread: counts its probe, then closes the main window.
struct Seen {
  static LRESULT CALLBACK Proc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kProbeMessage) {
      Count += static_cast<int>(wParam);
      DestroyWindow(MainApp->Handle);
      return 0;
    }
    return DefWindowProcA(window, msg, wParam, lParam);
  }
  static inline int Count = 0;
};

TEST_F(APIAppTest, TheLoopDispatchesMessagesOfOtherWindowsOfTheThread) {
  MainApp->Setup(0, 0, 10, 10, "main", false, nullptr);
  WNDCLASSA other{};
  other.lpfnWndProc = &Seen::Proc;
  other.hInstance = GetModuleHandleA(nullptr);
  other.lpszClassName = "APIAppTestOther";
  ASSERT_NE(RegisterClassA(&other), 0);
  HWND helper = CreateWindowExA(0, "APIAppTestOther", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(helper, nullptr);
  ASSERT_TRUE(PostMessageA(helper, kProbeMessage, 3, 0));
  LoopWatchdog watchdog;
  EXPECT_EQ(MainApp->RunMessageLoop(), 0);
  EXPECT_FALSE(watchdog.HasFired());
  EXPECT_EQ(Seen::Count, 3);
  DestroyWindow(helper);
  UnregisterClassA("APIAppTestOther", GetModuleHandleA(nullptr));
}

TEST_F(APIAppTest, ASecondObjectFindsTheClassRegisteredAndGetsNoWindow) {
  MainApp->Setup(10, 10, 220, 100, "first", false, nullptr);
  tAPIApp second;
  second.WindowStyle = WS_POPUP;
  second.Setup(10, 10, 220, 100, "second", true, nullptr);
  EXPECT_EQ(second.Handle, nullptr);
  EXPECT_EQ(second.GetWindow(), nullptr);
  LoopWatchdog watchdog;
  EXPECT_EQ(second.RunMessageLoop(), 0);
  EXPECT_FALSE(watchdog.HasFired());
  EXPECT_TRUE(IsWindow(MainApp->Handle));
}

TEST_F(APIAppTest, AnObjectOfAnotherClassRegistersAClassOfItsOwnName) {
  class tOtherApp : public tAPIApp {
  public:
    tOtherApp() : tAPIApp("tOtherApp") {}
  };
  MainApp->Setup(0, 0, 10, 10, "first", false, nullptr);
  tOtherApp other;
  other.WindowStyle = WS_POPUP;
  other.Setup(0, 0, 10, 10, "other", false, nullptr);
  EXPECT_NE(other.Handle, nullptr);
  EXPECT_NE(other.Handle, MainApp->Handle);
  DestroyWindow(other.Handle);
  UnregisterClassA("tOtherApp", GetModuleHandleA(nullptr));
}

// Records the hooks in the order they are called.
class RecordingExtension : public tAPIAppExtension {
public:
  explicit RecordingExtension(tAPIApp& app) : App(app) {}
  static std::unique_ptr<tAPIAppExtension> Create(tAPIApp& app) {
    auto extension = std::make_unique<RecordingExtension>(app);
    Last = extension.get();
    return extension;
  }
  void BeforeCreateWindow() override { Calls.push_back(App.Handle == nullptr ? "before" : "before-late"); }
  void AfterCreateWindow() override { Calls.push_back(App.Handle != nullptr ? "after" : "after-early"); }
  void WindowDestroyed() override {
    MSG msg{};
    bool quitQueued = PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE);
    Calls.push_back(quitQueued ? "destroyed-after-quit" : "destroyed-before-quit");
  }
  LRESULT HandleMessage(HWND window, tWindowMessageData& message) override {
    if (message.Msg == kProbeMessage) {
      Probe = message;
      ProbeWindow = window;
      return 42;
    }
    if (message.Msg == WM_CREATE) {
      Calls.push_back("create");
    }
    return tAPIAppExtension::HandleMessage(window, message);
  }

  static inline RecordingExtension* Last = nullptr;
  tAPIApp& App;
  std::vector<std::string> Calls;
  tWindowMessageData Probe;
  HWND ProbeWindow = nullptr;
};

TEST_F(APIAppTest, TheExtensionSeesCreationMessagesAndDestruction) {
  MainApp->Setup(0, 0, 10, 10, "extended", false, &RecordingExtension::Create);
  RecordingExtension* extension = RecordingExtension::Last;
  ASSERT_NE(extension, nullptr);
  ASSERT_EQ(MainApp->Extension.get(), extension);
  HWND window = MainApp->Handle;
  MSG probe{window, kProbeMessage, 7, 9, 0, {}};
  EXPECT_EQ(DispatchMessageA(&probe), 42);
  EXPECT_EQ(extension->ProbeWindow, window);
  EXPECT_EQ(extension->Probe.Msg, kProbeMessage);
  EXPECT_EQ(extension->Probe.WParam, 7u);
  EXPECT_EQ(extension->Probe.LParam, 9);
  ASSERT_TRUE(PostMessageA(window, WM_CLOSE, 0, 0));
  LoopWatchdog watchdog;
  EXPECT_EQ(MainApp->RunMessageLoop(), 0);
  EXPECT_FALSE(watchdog.HasFired());
  EXPECT_EQ(extension->Calls,
            (std::vector<std::string>{"before", "create", "after", "destroyed-after-quit"}));
}

TEST_F(APIAppTest, AFailedRegistrationRaisesTheSystemError) {
  class tNamelessApp : public tAPIApp {
  public:
    tNamelessApp() : tAPIApp("") {}
  };
  tNamelessApp nameless;
  try {
    nameless.Setup(0, 0, 10, 10, "nameless", false, nullptr);
    FAIL() << "registration of a class without a name succeeded";
  } catch (const EOSError& error) {
    EXPECT_EQ(error.ErrorCode, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(error.Message.rfind("Win32 Error.  Code: 87.\n", 0), 0u) << error.Message;
  }
  EXPECT_EQ(nameless.Handle, nullptr);
}

// Refuses the window at creation.
class RefusingExtension : public tAPIAppExtension {
public:
  static std::unique_ptr<tAPIAppExtension> Create(tAPIApp&) { return std::make_unique<RefusingExtension>(); }
  LRESULT HandleMessage(HWND window, tWindowMessageData& message) override {
    return message.Msg == WM_CREATE ? -1 : tAPIAppExtension::HandleMessage(window, message);
  }
};

TEST_F(APIAppTest, AFailedWindowCreationRaisesAnError) {
  EXPECT_THROW(MainApp->Setup(0, 0, 10, 10, "refused", false, &RefusingExtension::Create), EOSError);
  EXPECT_EQ(MainApp->Handle, nullptr);
}

TEST_F(APIAppTest, WithoutMainAppTheClassProcedureStillQuitsOnDestruction) {
  MainApp.reset();
  EXPECT_EQ(tAPIApp::GlobalWindowProc(nullptr, WM_DESTROY, 0, 0), 0);
  EXPECT_EQ(CountQueuedQuits(), 1);
  EXPECT_EQ(tAPIApp::GlobalWindowProc(nullptr, WM_NCCREATE, 0, 0), TRUE);
  EXPECT_EQ(CountQueuedQuits(), 0);
}

} // namespace
