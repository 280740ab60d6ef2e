// Looks at the program's window from outside: runs a private Xvfb server, finds a top-level window by title,
// reads its geometry and state, and asks it to close as a window manager's close button does.
#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace kwstest {

struct X11Geometry {
  int X = 0;
  int Y = 0;
  int Width = 0;
  int Height = 0;
  bool Mapped = false;
};

class X11Probe {
public:
  // Starts Xvfb on a free display and connects to it; nullptr when Xvfb is missing or does not come up.
  static std::unique_ptr<X11Probe> StartPrivateServer();
  ~X11Probe() { StopServer(); }
  X11Probe(const X11Probe&) = delete;
  X11Probe& operator=(const X11Probe&) = delete;

  // The value for DISPLAY, ":N".
  const std::string& DisplayName() const { return Name; }
  // Waits for a top-level window whose WM_NAME equals title; 0 if none came.
  unsigned long FindWindow(const std::string& title, std::chrono::milliseconds timeout);
  // Position relative to the root window, size and whether it is shown; nullopt for a window that does not
  // exist.
  std::optional<X11Geometry> Geometry(unsigned long window);
  // Sends WM_DELETE_WINDOW, as a window manager does for the close button: only to a window that lists it
  // among its protocols; false for any other.
  bool SendDeleteWindow(unsigned long window);
  // Ends the server under its clients, as a lost display.
  void StopServer();

private:
  X11Probe() = default;

  std::string Name;
  FILE* Server = nullptr; // Xvfb's output
  int ServerPid = -1;
  void* Connection = nullptr; // Display*
};

} // namespace kwstest
