// The one connection to the X display, owned by one thread of its own. Window requests from other
// threads are queued to it; close buttons and a lost display come back through callbacks, called on
// that thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kwsplat::posix {

struct X11WindowRequest {
  uintptr_t Window = 0; // the layer's window value, handed back to OnClose
  std::string Title;    // Latin-1 bytes
  int X = 0;
  int Y = 0;
  int Width = 0;
  int Height = 0;
  std::string InstanceName; // WM_CLASS
  std::string ClassName;
  int IconWidth = 0;
  int IconHeight = 0;
  std::vector<uint32_t> IconArgb; // rows top down; empty: no icon
};

struct X11Callbacks {
  void (*OnClose)(uintptr_t window); // the close button of a window
  void (*OnLost)();                  // the display went away; no callback follows
};

// Opens the display named by DISPLAY and starts its thread; false when no display can be opened.
bool X11Start(const X11Callbacks& callbacks);
// Creates the window (unmapped) and returns once the display has it; false when the display is gone.
bool X11Create(const X11WindowRequest& request);
void X11Destroy(uintptr_t window);
void X11SetTitle(uintptr_t window, const std::string& title);
void X11Show(uintptr_t window, bool visible);

} // namespace kwsplat::posix
