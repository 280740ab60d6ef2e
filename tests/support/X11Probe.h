// Looks at X11 windows from outside, for tests: runs a private Xvfb server on a display number of its
// own, finds top-level windows by title, reads their geometry and properties, and asks them to close as
// a window manager's close button does.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace kwstest {

struct X11Geometry {
  int X = 0;
  int Y = 0;
  int Width = 0;
  int Height = 0;
};

class X11Probe {
public:
  // Starts Xvfb on a free display and connects to it; nullptr when Xvfb is missing or does not come up
  // (tests then skip).
  static std::unique_ptr<X11Probe> StartPrivateServer();
  // Disconnects and stops the server.
  ~X11Probe();
  X11Probe(const X11Probe&) = delete;
  X11Probe& operator=(const X11Probe&) = delete;

  // The value for DISPLAY, ":N".
  const std::string& DisplayName() const { return Name; }

  // Waits for a top-level window whose _NET_WM_NAME (UTF-8) or else WM_NAME equals title; 0 if none came.
  unsigned long FindWindow(const std::string& title, std::chrono::milliseconds timeout);
  // Waits until the window is gone from the display; false if it stays.
  bool WaitForWindowGone(unsigned long window, std::chrono::milliseconds timeout);

  // Position relative to the root window, and size; nullopt for a window that does not exist.
  std::optional<X11Geometry> Geometry(unsigned long window);
  std::string NetWmName(unsigned long window); // UTF-8 bytes
  std::string WmName(unsigned long window);    // Latin-1 bytes
  // WM_CLASS: instance name and class name.
  std::pair<std::string, std::string> WmClass(unsigned long window);
  // The size of the first image of _NET_WM_ICON; nullopt without an icon.
  std::optional<std::pair<int, int>> IconSize(unsigned long window);
  // The size hints say the position and size were chosen by the user (USPosition | USSize).
  bool HasUserPositionAndSize(unsigned long window);
  bool AcceptsDeleteWindow(unsigned long window);
  bool IsMapped(unsigned long window);

  // Sends WM_DELETE_WINDOW, as a window manager does for the close button.
  bool SendDeleteWindow(unsigned long window);
  // Ends the server under its clients, as a lost display.
  void StopServer();

private:
  X11Probe() = default;

  std::string Name;
  int ServerPid = -1;
  void* Connection = nullptr; // Display*
};

} // namespace kwstest
