#include "platform/src/posix/UnitFolder.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kwsplat::posix {

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : std::string();
}

bool FolderExists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool FolderWritable(const std::string& path) {
  return access(path.c_str(), W_OK | X_OK) == 0;
}

int WriteFileWhole(const std::string& folder, const std::string& name, const std::string& content) {
  std::string temporary = folder + "/." + name + ".XXXXXX";
  int fd = mkstemp(temporary.data());
  if (fd < 0)
    return errno;
  size_t done = 0;
  int error = 0;
  while (done < content.size() && error == 0) {
    ssize_t wrote = write(fd, content.data() + done, content.size() - done);
    if (wrote < 0 && errno != EINTR)
      error = errno;
    else if (wrote > 0)
      done += static_cast<size_t>(wrote);
  }
  if (error == 0 && fchmod(fd, 0644) != 0)
    error = errno;
  if (close(fd) != 0 && error == 0)
    error = errno;
  if (error == 0 && rename(temporary.c_str(), (folder + "/" + name).c_str()) != 0)
    error = errno;
  if (error != 0)
    unlink(temporary.c_str());
  return error;
}

int RemoveFile(const std::string& path) {
  return unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : errno;
}

int MakeSymbolicLink(const std::string& target, const std::string& linkPath) {
  const std::string folder = linkPath.substr(0, linkPath.rfind('/'));
  if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST)
    return errno;
  unlink(linkPath.c_str());
  return symlink(target.c_str(), linkPath.c_str()) == 0 ? 0 : errno;
}

bool SystemUserExists(const std::string& name) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  return getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr;
}

bool SystemdRuns() {
  return FolderExists("/run/systemd/system");
}

void ReloadSystemd() {
  char program[] = "systemctl";
  char command[] = "daemon-reload";
  char* arguments[] = {program, command, nullptr};
  pid_t child = -1;
  if (posix_spawnp(&child, program, nullptr, nullptr, arguments, environ) != 0)
    return;
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}

} // namespace kwsplat::posix
