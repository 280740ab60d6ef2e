// Scenarios that need a process of their own (a display connection, signal dispositions): the test
// starts a copy of this test program that runs only the named child test, with a marker in its
// environment; without the marker the child tests skip.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32.h"
#include "tests/support/ProgramRunner.h"

namespace layertest {

constexpr const char* kChildMarker = "KWS_LAYER_TEST_CHILD";

inline bool InChild() {
  const char* marker = std::getenv(kChildMarker);
  return marker && *marker;
}

inline std::string SelfPath() {
  char path[MAX_PATH + 1] = {};
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, length);
}

// Starts the child test `test` (Suite.Name) with the environment changes; the caller waits for it.
inline void StartChild(kwstest::ProgramRunner& runner, const std::string& test,
                       kwstest::EnvironmentChanges environment) {
  environment[kChildMarker] = "1";
  runner.Start({"--gtest_filter=" + test}, environment);
}

// The child ran its one test and it passed.
inline void ExpectChildPassed(kwstest::ProgramRunner& runner, std::chrono::milliseconds timeout) {
  auto status = runner.WaitForExit(timeout);
  ASSERT_TRUE(status.has_value()) << "child still running\n" << runner.Stdout() << runner.Stderr();
  EXPECT_TRUE(status->Exited) << "signal " << status->Signal << "\n" << runner.Stdout() << runner.Stderr();
  EXPECT_EQ(status->Code, 0) << runner.Stdout() << runner.Stderr();
  EXPECT_NE(runner.Stdout().find("[  PASSED  ] 1 test"), std::string::npos) << runner.Stdout();
}

// The messages a child's main window saw, in order; its destruction ends the loop with a quit.
struct MainWindowLog {
  std::vector<UINT> Messages;
};

inline MainWindowLog gMainWindowLog;

inline LRESULT CALLBACK LoggingMainProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_CLOSE || msg == WM_DESTROY || msg == WM_NCDESTROY)
    gMainWindowLog.Messages.push_back(msg);
  if (msg == WM_DESTROY)
    PostQuitMessage(0);
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

inline HWND CreateLoggingMainWindow(const char* title, int x, int y, int width, int height) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = LoggingMainProc;
  wc.lpszClassName = "LayerTestMainWindow";
  RegisterClassA(&wc);
  return CreateWindowExA(0, wc.lpszClassName, title, WS_OVERLAPPEDWINDOW, x, y, width, height, nullptr,
                         nullptr, nullptr, nullptr);
}

// Runs the thread's loop until a quit arrives (true) or the time is up (false).
inline bool RunLoopUntilQuit(DWORD milliseconds) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT)
        return true;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    DWORD elapsed = GetTickCount() - start;
    if (elapsed >= milliseconds)
      return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - elapsed, QS_ALLINPUT);
  }
}

} // namespace layertest
