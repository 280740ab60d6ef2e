// The client side of the service manager's notification socket: one datagram of "KEY=value" lines per
// message, sent to the socket NOTIFY_SOCKET names (a path, or "@" for an abstract name). Plain C++.
#pragma once

#include <string>

namespace kwsplat::posix {

// Opens a datagram socket for the address in NOTIFY_SOCKET; false when the variable is unset, empty or
// neither a path nor an abstract name.
bool OpenNotifySocket();
// One datagram; false when it cannot be sent or no socket is open.
bool SendNotification(const std::string& datagram);
void CloseNotifySocket();
// Removes NOTIFY_SOCKET from the environment, so that nothing started later talks to the manager.
void ForgetNotifySocket();

} // namespace kwsplat::posix
