// A window that records what it hears, and fresh layer threads to own such windows.
#pragma once

#include <functional>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32.h"

namespace kwstest {

constexpr UINT kTestMessage = WM_USER + 7;

inline DWORD WINAPI RunFunction(LPVOID function) {
  (*static_cast<std::function<void()>*>(function))();
  return 0;
}

// Runs body on a fresh thread of the layer, so with an empty queue of its own, and waits for it to end.
inline void RunOnLayerThread(std::function<void()> body) {
  HANDLE thread = CreateThread(nullptr, 0, RunFunction, &body, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, 20000), WAIT_OBJECT_0);
  CloseHandle(thread);
}

// What a test window heard, in order, and how it answers; the window finds it through its creation parameter.
struct tRecorder {
  std::vector<UINT> Messages;
  LRESULT CreateResult = 0;
  bool PostOnDestroy = false;      // a post during destruction must vanish with the window
  bool DestroyOnDestroy = false;   // re-entrant destruction
  bool ThrowOnTestMessage = false; // an exception must pass through dispatch
};

inline LRESULT CALLBACK RecordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE)
    SetWindowLongPtrA(hwnd, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
  auto* recorder = reinterpret_cast<tRecorder*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!recorder)
    return DefWindowProcA(hwnd, msg, wParam, lParam);
  recorder->Messages.push_back(msg);
  if (msg == WM_CREATE)
    return recorder->CreateResult;
  if (msg == WM_DESTROY) {
    EXPECT_TRUE(!recorder->PostOnDestroy || PostMessageA(hwnd, kTestMessage, 0, 0));
    EXPECT_TRUE(!recorder->DestroyOnDestroy || (IsWindow(hwnd) && DestroyWindow(hwnd)));
  }
  if (msg == kTestMessage && recorder->ThrowOnTestMessage)
    throw std::runtime_error("from the window procedure");
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

inline HWND CreateRecordingWindow(tRecorder& recorder) {
  static const char* name = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = "TestRecorder";
    RegisterClassA(&wc);
    return wc.lpszClassName;
  }();
  return CreateWindowExA(0, name, "test", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, &recorder);
}

// Runs body on a fresh layer thread that owns a recording window, destroyed after body unless body did so.
inline void RunWithWindow(const std::function<void(HWND, tRecorder&)>& body) {
  RunOnLayerThread([&] {
    tRecorder recorder;
    HWND window = CreateRecordingWindow(recorder);
    ASSERT_NE(window, nullptr);
    body(window, recorder);
    DestroyWindow(window);
  });
}

} // namespace kwstest
