// The ending signals close the main window, then end the process; the child is this program, marked by its
// environment.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

#include "platform/rtl/sysutils.h"
#include "platform/win32.h"
#include "tests/support/ProgramRunner.h"
#include "tests/support/Wait.h"

using namespace std::chrono_literals;

TEST(SignalsChild, AnEndingSignalClosesTheMainWindow) {
  if (!std::getenv("KWS_SIGNALS_CHILD"))
    GTEST_SKIP() << "runs as a child of the Signals tests";
  static std::vector<UINT> heard;
  WNDCLASSA wc{};
  wc.lpszClassName = "SignalledMainWindow";
  wc.lpfnWndProc = [](HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
    heard.push_back(msg);
    return DefWindowProcA(hwnd, msg, wParam, lParam);
  };
  RegisterClassA(&wc);
  HWND window = CreateWindowExA(0, wc.lpszClassName, "signalled", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                nullptr, nullptr, nullptr, nullptr);
  heard.clear();
  std::fprintf(stderr, "window-ready\n");
  ASSERT_TRUE(kwstest::WaitUntil([&] { return !IsWindow(window); }, 20s));
  EXPECT_EQ(heard, (std::vector<UINT>{WM_CLOSE, WM_DESTROY, WM_NCDESTROY}));
  std::fprintf(stderr, "window-gone\n");
  kwstest::PumpFor(20s); // the next signal ends this process
}

TEST(Signals, EachEndingSignalClosesTheMainWindowOnceAndThenEndsTheProcess) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    kwstest::ProgramRunner child(std::nullopt, ParamStr(0));
    child.Start({"--gtest_filter=SignalsChild.*"}, {{"KWS_SIGNALS_CHILD", "1"}, {"KWSPLAT_HEADLESS", "1"}});
    ASSERT_TRUE(child.WaitForStderr("window-ready", 15s)) << child.Stderr();
    ASSERT_TRUE(child.WaitForSignalHandler(signal, 15s));
    ASSERT_TRUE(child.SendSignal(signal));
    ASSERT_TRUE(child.WaitForStderr("window-gone", 15s)) << child.Stdout() << child.Stderr();
    ASSERT_TRUE(child.SendSignal(signal));
    auto status = child.WaitForExit(15s);
    ASSERT_TRUE(status.has_value());
    EXPECT_FALSE(status->Exited) << child.Stdout();
    EXPECT_EQ(status->Signal, signal);
  }
}
