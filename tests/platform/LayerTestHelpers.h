// Helpers shared by the platform layer's thread and message tests.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32.h"

namespace layertest {

inline DWORD WINAPI RunFunction(LPVOID parameter) {
  (*static_cast<std::function<void()>*>(parameter))();
  return 0;
}

// Runs body on a fresh thread of the layer (so with its own, empty message queue) and waits for it.
inline void RunOnLayerThread(std::function<void()> body) {
  HANDLE thread = CreateThread(nullptr, 0, RunFunction, &body, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, 20000), WAIT_OBJECT_0);
  CloseHandle(thread);
}

// Polls condition until it holds or the deadline passes; the result says which.
inline bool WaitUntil(const std::function<bool()>& condition, int milliseconds = 10000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// What a test window saw, in order. The window finds it through its creation parameter.
struct Recorder {
  std::vector<UINT> Messages;
  std::vector<WPARAM> Params;
  bool CloseDestroys = true;
  int CreateResult = 0;
};

inline LRESULT CALLBACK RecordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* recorder = reinterpret_cast<Recorder*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (recorder) {
    recorder->Messages.push_back(msg);
    recorder->Params.push_back(wParam);
    if (msg == WM_CREATE)
      return recorder->CreateResult;
    if (msg == WM_CLOSE && !recorder->CloseDestroys)
      return 0;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

inline const char* RecordingClass() {
  static const char* name = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = RecordingProc;
    wc.cbWndExtra = 16;
    wc.lpszClassName = "LayerTestRecorder";
    RegisterClassA(&wc);
    return "LayerTestRecorder";
  }();
  return name;
}

inline HWND CreateRecordingWindow(Recorder& recorder, DWORD style = 0, const char* title = "test") {
  return CreateWindowExA(0, RecordingClass(), title, style, 0, 0, 0, 0, nullptr, nullptr, nullptr, &recorder);
}

} // namespace layertest
