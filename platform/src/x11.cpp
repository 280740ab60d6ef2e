// Real windows on the X display for captioned top-level windows. The display is tried once, at the
// first such window; without it (or once it is lost) the layer runs headless.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include "platform/src/Resources.h"
#include "platform/src/WindowSystem.h"
#include "platform/win32.h"
#ifndef KWSPLAT_NO_X11
#include "platform/src/posix/x11display.h"
#endif

namespace kwsplat {

#ifdef KWSPLAT_NO_X11

bool DisplayWindowCreated(HWND, const DisplayWindowParams&) {
  return false;
}
void DisplayWindowDestroyed(HWND) {}
void DisplayWindowTitle(HWND, const std::string&) {}
void DisplayWindowShown(HWND, bool) {}

#else

namespace {

enum class DisplayState { Untried, Open, Headless };

std::mutex gLock; // guards gState, gReal
DisplayState gState = DisplayState::Untried;
std::set<uintptr_t> gReal; // windows that have a window on the display

void CloseWindow(uintptr_t window) {
  PostMessageA(reinterpret_cast<HWND>(window), WM_CLOSE, 0, 0);
}

// The display is gone: each of its windows is closed as if by its close button.
void DisplayLost() {
  std::set<uintptr_t> real;
  {
    std::lock_guard<std::mutex> guard(gLock);
    gState = DisplayState::Headless;
    real.swap(gReal);
  }
  for (uintptr_t window : real)
    CloseWindow(window);
}

bool DisplayWanted() {
  const char* headless = std::getenv("KWSPLAT_HEADLESS");
  if (headless && *headless && std::strcmp(headless, "0") != 0)
    return false;
  const char* display = std::getenv("DISPLAY");
  return display && *display;
}

bool DisplayOpen() {
  std::lock_guard<std::mutex> guard(gLock);
  if (gState == DisplayState::Untried) {
    bool open = DisplayWanted() && posix::X11Start(posix::X11Callbacks{CloseWindow, DisplayLost});
    gState = open ? DisplayState::Open : DisplayState::Headless;
  }
  return gState == DisplayState::Open;
}

std::string ProgramName() {
  char path[MAX_PATH + 1] = {};
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string name(path, length);
  size_t slash = name.find_last_of('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

} // namespace

bool DisplayWindowCreated(HWND window, const DisplayWindowParams& params) {
  if (!DisplayOpen())
    return false;
  posix::X11WindowRequest request;
  request.Window = reinterpret_cast<uintptr_t>(window);
  request.Title = params.Title;
  request.X = params.X;
  request.Y = params.Y;
  request.Width = params.Width;
  request.Height = params.Height;
  request.InstanceName = ProgramName();
  request.ClassName = params.ClassName;
  int w = 0, h = 0;
  const uint32_t* argb = nullptr;
  if (params.Icon && IconPixels(params.Icon, w, h, argb) && w > 0 && h > 0 && argb) {
    request.IconWidth = w;
    request.IconHeight = h;
    request.IconArgb.assign(argb, argb + static_cast<size_t>(w) * static_cast<size_t>(h));
  }
  // Either way the display was lost while this window was being made: the loss closes every window it
  // had, and it would have had this one.
  if (!posix::X11Create(request)) {
    CloseWindow(request.Window);
    return false;
  }
  std::lock_guard<std::mutex> guard(gLock);
  if (gState != DisplayState::Open) {
    CloseWindow(request.Window);
    return false;
  }
  gReal.insert(request.Window);
  return true;
}

void DisplayWindowDestroyed(HWND window) {
  {
    std::lock_guard<std::mutex> guard(gLock);
    gReal.erase(reinterpret_cast<uintptr_t>(window));
  }
  posix::X11Destroy(reinterpret_cast<uintptr_t>(window));
}

void DisplayWindowTitle(HWND window, const std::string& title) {
  posix::X11SetTitle(reinterpret_cast<uintptr_t>(window), title);
}

void DisplayWindowShown(HWND window, bool visible) {
  posix::X11Show(reinterpret_cast<uintptr_t>(window), visible);
}

#endif

} // namespace kwsplat
