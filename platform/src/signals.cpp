// The ending signals close the main window.
#include "platform/src/WindowSystem.h"

namespace kwsplat {

void MainWindowCreated(HWND) {}
void MainWindowDestroyed(HWND) {}

} // namespace kwsplat
