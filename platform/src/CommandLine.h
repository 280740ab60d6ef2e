// The command line as one text, the way Windows hands it to a program.
#pragma once

#include <string>
#include <vector>

namespace kwsplat {

// The arguments joined by blanks, each quoted so that Windows' argument splitter gives it back unchanged.
std::string JoinCommandLine(const std::vector<std::string>& arguments);

} // namespace kwsplat
