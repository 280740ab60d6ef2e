// Plays the service manager for a program in service mode: a notification socket it reads statuses from.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/TempFolder.h"

namespace kwstest {

class tServiceManagerPeer {
public:
  tServiceManagerPeer(); // bound to a socket in a folder of its own
  ~tServiceManagerPeer();
  tServiceManagerPeer(const tServiceManagerPeer&) = delete;
  tServiceManagerPeer& operator=(const tServiceManagerPeer&) = delete;

  // The value for NOTIFY_SOCKET.
  const std::string& SocketPath() const { return Path; }
  // The next count statuses, each as its STATUS text, "/" and the controls accepted, then " ready" for
  // READY=1 and " stopping" for STOPPING=1; fewer on time-out. Datagrams without a status are passed over.
  std::vector<std::string> NextStatuses(size_t count,
                                        std::chrono::milliseconds timeout = std::chrono::seconds(20));

private:
  TempFolder Folder;
  std::string Path;
  int Fd = -1;
};

} // namespace kwstest
