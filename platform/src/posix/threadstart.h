// Starting operating-system threads with a chosen stack size.
#pragma once

#include <cstddef>

namespace kwsplat::posix {

// Runs entry(arg) on a new detached thread whose stack is stackBytes (rounded up to whole pages).
// False when the system refuses; entry then never runs.
bool StartDetachedThread(size_t stackBytes, void (*entry)(void*), void* arg);

} // namespace kwsplat::posix
