// What the layer learns about its own process from the system. Plain C++.
#pragma once

#include <string>
#include <vector>

namespace kwsplat::posix {

// The arguments as the kernel holds them (/proc/self/cmdline), byte for byte; empty when unreadable.
std::vector<std::string> CommandLineArguments();

// The program file's absolute path (/proc/self/exe); empty when unknown.
std::string ExecutablePath();

// The running kernel's release, as uname reports it.
std::string KernelRelease();

// One write of the whole text (retried while partial), so lines of two threads do not interleave.
void WriteStandardError(const std::string& text);

} // namespace kwsplat::posix
