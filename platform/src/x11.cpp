// Real windows on the X display for captioned top-level windows.
#include "platform/src/WindowSystem.h"

namespace kwsplat {

bool DisplayWindowCreated(HWND, const DisplayWindowSpec&) {
  return false;
}
void DisplayWindowDestroyed(HWND) {}
void DisplayWindowTitle(HWND, const std::string&) {}
void DisplayWindowShown(HWND, bool) {}

} // namespace kwsplat
