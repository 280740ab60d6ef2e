#include "platform/src/posix/NotifySocket.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kwsplat::posix {
namespace {

std::mutex gLock; // guards gFd, gAddress, gAddressLength
int gFd = -1;
sockaddr_un gAddress{};
socklen_t gAddressLength = 0;

} // namespace

bool OpenNotifySocket() {
  const char* name = std::getenv("NOTIFY_SOCKET");
  if (name == nullptr || (name[0] != '/' && name[0] != '@'))
    return false;
  const size_t length = std::strlen(name);
  std::lock_guard<std::mutex> guard(gLock);
  if (length < 2 || length >= sizeof gAddress.sun_path)
    return false;
  gAddress = sockaddr_un{};
  gAddress.sun_family = AF_UNIX;
  std::memcpy(gAddress.sun_path, name, length);
  if (name[0] == '@')
    gAddress.sun_path[0] = '\0';
  // An abstract name is counted by its length; a path also by its final zero.
  gAddressLength =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length + (name[0] == '/' ? 1 : 0));
  if (gFd < 0)
    gFd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  return gFd >= 0;
}

bool SendNotification(const std::string& datagram) {
  std::lock_guard<std::mutex> guard(gLock);
  if (gFd < 0)
    return false;
  for (;;) {
    ssize_t sent = sendto(gFd, datagram.data(), datagram.size(), MSG_NOSIGNAL,
                          reinterpret_cast<const sockaddr*>(&gAddress), gAddressLength);
    if (sent >= 0)
      return static_cast<size_t>(sent) == datagram.size();
    if (errno != EINTR)
      return false;
  }
}

void CloseNotifySocket() {
  std::lock_guard<std::mutex> guard(gLock);
  if (gFd >= 0)
    close(gFd);
  gFd = -1;
}

void ForgetNotifySocket() {
  unsetenv("NOTIFY_SOCKET");
}

} // namespace kwsplat::posix
