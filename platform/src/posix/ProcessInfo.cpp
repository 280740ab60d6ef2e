#include "platform/src/posix/ProcessInfo.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace kwsplat::posix {

std::vector<std::string> CommandLineArguments() {
  std::vector<std::string> arguments;
  int fd = open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return arguments;
  std::string content;
  char buffer[4096];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      break;
    content.append(buffer, static_cast<size_t>(got));
  }
  close(fd);
  // Every argument ends with a zero byte, so "a\0\0b\0" holds an empty argument between a and b.
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\0', start);
    if (end == std::string::npos)
      end = content.size();
    arguments.push_back(content.substr(start, end - start));
    start = end + 1;
  }
  return arguments;
}

std::string ExecutablePath() {
  std::string buffer(4096, '\0');
  for (;;) {
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0)
      return std::string();
    if (static_cast<size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<size_t>(length));
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::string KernelRelease() {
  struct utsname name;
  if (uname(&name) != 0)
    return std::string();
  return name.release;
}

void WriteStandardError(const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t wrote = write(STDERR_FILENO, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR)
      continue;
    if (wrote <= 0)
      return;
    done += static_cast<size_t>(wrote);
  }
}

} // namespace kwsplat::posix
