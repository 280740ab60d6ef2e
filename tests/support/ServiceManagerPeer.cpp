#include "tests/support/ServiceManagerPeer.h"

#include <cstring>
#include <map>
#include <sstream>
#include <stdexcept>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kwstest {

tServiceManagerPeer::tServiceManagerPeer() : Path(Folder.PathOf("notify")) {
  Fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, Path.c_str(), sizeof address.sun_path - 1);
  if (Fd < 0 || bind(Fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    throw std::runtime_error("cannot bind the notification socket " + Path);
}

tServiceManagerPeer::~tServiceManagerPeer() {
  close(Fd);
}

std::vector<std::string> tServiceManagerPeer::NextStatuses(size_t count, std::chrono::milliseconds timeout) {
  std::vector<std::string> statuses;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (statuses.size() < count) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd ready{Fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0)
      break;
    char buffer[4096];
    const ssize_t got = recv(Fd, buffer, sizeof buffer, 0);
    std::map<std::string, std::string> fields; // the datagram's KEY=value lines
    std::istringstream lines(std::string(buffer, got > 0 ? static_cast<size_t>(got) : 0));
    for (std::string line; std::getline(lines, line);)
      if (const size_t equals = line.find('='); equals != std::string::npos)
        fields[line.substr(0, equals)] = line.substr(equals + 1);
    if (fields.count("STATUS"))
      statuses.push_back(fields["STATUS"] + " /" + fields["X_CONTROLS_ACCEPTED"] +
                         (fields.count("READY") ? " ready" : "") +
                         (fields.count("STOPPING") ? " stopping" : ""));
  }
  return statuses;
}

} // namespace kwstest
