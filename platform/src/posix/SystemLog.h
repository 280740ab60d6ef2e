// Where event-log entries go: the system log, a file instead, and the terminal. Plain C++.
#pragma once

#include <string>

namespace kwsplat::posix {

enum class LogLevel { Error, Warning, Info };

// One entry under the ident, with the process id, facility daemon.
void WriteSystemLog(const std::string& ident, LogLevel level, const std::string& text);
// Appends one line in a single write; false when the file cannot be written.
bool AppendLine(const std::string& path, const std::string& line);
bool StandardErrorIsTerminal();

} // namespace kwsplat::posix
