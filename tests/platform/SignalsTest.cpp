// While the main window exists, the ending signals close it; afterwards they end the process again.
#include <chrono>
#include <csignal>
#include <cstdio>

#include <gtest/gtest.h>

#include "platform/win32.h"
#include "tests/platform/ChildScenario.h"
#include "tests/support/ProgramRunner.h"

using namespace layertest;
using namespace std::chrono_literals;

TEST(SignalsChild, AnEndingSignalClosesTheMainWindow) {
  if (!InChild())
    GTEST_SKIP() << "runs as a child of Signals tests";
  HWND window = CreateLoggingMainWindow("signalled", 0, 0, 100, 100);
  ASSERT_NE(window, nullptr);
  std::fprintf(stderr, "window-ready\n");
  ASSERT_TRUE(RunLoopUntilQuit(20000));
  const std::vector<UINT> expected = {WM_CLOSE, WM_DESTROY, WM_NCDESTROY};
  EXPECT_EQ(gMainWindowLog.Messages, expected);
  std::fprintf(stderr, "window-gone\n");
  // With the window gone the signal's own disposition is back: the next one ends this process.
  RunLoopUntilQuit(20000);
}

TEST(Signals, EachEndingSignalClosesTheMainWindowOnce) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    kwstest::ProgramRunner child(std::nullopt, SelfPath());
    StartChild(child, "SignalsChild.AnEndingSignalClosesTheMainWindow", {{"KWSPLAT_HEADLESS", "1"}});
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
