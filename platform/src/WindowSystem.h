// What messages.cpp tells the display (x11.cpp) and the signal handling (signals.cpp) about
// top-level windows with a caption. Every call comes from the window's own thread.
#pragma once

#include <string>

#include "platform/win32.h"

namespace kwsplat {

struct DisplayWindowParams {
  std::string ClassName;
  std::string Title;
  int X = 0;
  int Y = 0;
  int Width = 0;
  int Height = 0;
  HICON Icon = nullptr;
};

// True when the window got a real window on the display.
bool DisplayWindowCreated(HWND window, const DisplayWindowParams& params);
void DisplayWindowDestroyed(HWND window);
void DisplayWindowTitle(HWND window, const std::string& title);
void DisplayWindowShown(HWND window, bool visible);

// The main window: while it exists, the ending signals close it.
void MainWindowCreated(HWND window);
void MainWindowDestroyed(HWND window);

} // namespace kwsplat
