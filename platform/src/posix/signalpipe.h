// The ending signals (SIGINT, SIGTERM, SIGHUP) turned into bytes on a pipe, read by a thread.
#pragma once

namespace kwsplat::posix {

// Installs the handlers, keeping the dispositions they replace; false when the pipe cannot be made.
bool InstallEndingSignals();
// Puts the kept dispositions back, for each signal whose handler is still ours.
void RestoreEndingSignals();
// Blocks until one of the signals arrives; returns its number.
int WaitForEndingSignal();

} // namespace kwsplat::posix
