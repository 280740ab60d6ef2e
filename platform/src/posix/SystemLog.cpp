#include "platform/src/posix/SystemLog.h"

#include <cerrno>

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

namespace kwsplat::posix {

void WriteSystemLog(const std::string& ident, LogLevel level, const std::string& text) {
  const int priority = level == LogLevel::Error     ? LOG_ERR
                       : level == LogLevel::Warning ? LOG_WARNING
                                                    : LOG_INFO;
  // openlog keeps the ident pointer, so the log is closed again before the text goes away.
  openlog(ident.c_str(), LOG_PID, LOG_DAEMON);
  syslog(priority, "%s", text.c_str());
  closelog();
}

bool AppendLine(const std::string& path, const std::string& line) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0)
    return false;
  ssize_t wrote;
  do {
    wrote = write(fd, line.data(), line.size());
  } while (wrote < 0 && errno == EINTR);
  close(fd);
  return wrote == static_cast<ssize_t>(line.size());
}

bool StandardErrorIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

} // namespace kwsplat::posix
