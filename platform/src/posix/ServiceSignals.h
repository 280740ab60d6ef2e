// Signals as service control codes: the handlers only write to a pipe that the dispatcher reads in arrival
// order. Plain C++.
#pragma once

#include <cstdint>

namespace kwsplat::posix {

// Installs the handlers, keeping the dispositions they replace; false when the pipe cannot be made.
bool InstallServiceSignals();
// Puts the kept dispositions back.
void RestoreServiceSignals();

struct ServiceSignal {
  bool Wake = false; // WakeServiceSignalWait, not a signal
  uint32_t Code = 0; // the control code the signal stands for
};
// Blocks until a signal arrives or the wait is woken.
ServiceSignal WaitForServiceSignal();
// Ends one WaitForServiceSignal from another thread, in order with the signals.
void WakeServiceSignalWait();

} // namespace kwsplat::posix
