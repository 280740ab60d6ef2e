// Process-wide settings the layer makes before main, and process facts.
#pragma once

namespace kwsplat::posix {

// A write to a closed socket or pipe gives an error code instead of ending the process.
void IgnoreBrokenPipes();
// A server with many connections needs many descriptors: the soft limit goes up to the hard one.
void RaiseOpenFileLimit();
int ProcessId();

} // namespace kwsplat::posix
