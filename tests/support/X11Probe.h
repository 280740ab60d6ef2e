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
  int X = 0, Y = 0, Width = 0, Height = 0;
  bool Mapped = false;
};

class X11Probe {
public:
  // On a free display; nullptr when Xvfb is missing or does not come up.
  static std::unique_ptr<X11Probe> StartPrivateServer();
  ~X11Probe() { StopServer(); }
  X11Probe(const X11Probe&) = delete;
  X11Probe& operator=(const X11Probe&) = delete;

  const std::string& DisplayName() const { return Name; } // ":N", for DISPLAY
  // A top-level window whose WM_NAME equals title, or 0 if none came.
  unsigned long FindWindow(const std::string& title, std::chrono::milliseconds timeout);
  // Relative to the root window; nullopt for a window that does not exist.
  std::optional<X11Geometry> Geometry(unsigned long window);
  // Only to a window that lists WM_DELETE_WINDOW among its protocols; false for any other.
  bool SendDeleteWindow(unsigned long window);
  void StopServer(); // under its clients, as a lost display

private:
  X11Probe() = default;

  std::string Name;
  FILE* Server = nullptr; // Xvfb's output
  int ServerPid = -1;
  void* Connection = nullptr; // Display*
};

} // namespace kwstest
