// Plain POSIX pieces shared by the loopback test endpoints.
#pragma once

#include <chrono>
#include <cstdint>

#include <netinet/in.h>

namespace kwstest {

using tClock = std::chrono::steady_clock;

// Milliseconds left until the deadline, never negative, for poll.
int RemainingMs(tClock::time_point deadline);

sockaddr_in LoopbackAddress(uint16_t port);

// A blocking socket connected to 127.0.0.1:port, or -1 when refused or timed out.
// A receiveBuffer above 0 is set before connecting, so a peer that never reads fills up quickly.
int ConnectLoopback(uint16_t port, std::chrono::milliseconds timeout, int receiveBuffer);

} // namespace kwstest
