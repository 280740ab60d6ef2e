// The system's own TCP sockets, bare, for the loopback peer: one implementation per system, chosen by the
// build.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace kwstest {

using tPlainSocket = intptr_t;
constexpr tPlainSocket kNoPlainSocket = -1;

// What one receive gave, besides a count of bytes.
constexpr long kPlainClosed = 0;    // the other side closed in order
constexpr long kPlainReset = -1;    // the other side reset the connection
constexpr long kPlainTimedOut = -2; // nothing came in time
constexpr long kPlainFailed = -3;

// A blocking TCP socket; a receive buffer of 0 keeps the system's size.
tPlainSocket PlainNewSocket(int receiveBuffer);
// To 127.0.0.1:port within the time-out.
bool PlainConnect(tPlainSocket s, uint16_t port, std::chrono::milliseconds timeout);
// Listens on a free port of 127.0.0.1 (or of every address); the port, 0 on failure.
uint16_t PlainListen(tPlainSocket s, bool anyAddress);
// Bytes sent, or a negative number on failure.
long PlainSend(tPlainSocket s, const char* data, size_t size);
// What one receive gives once something arrives within the time-out: a count of bytes or a kPlain value.
long PlainReceive(tPlainSocket s, char* buffer, size_t size, std::chrono::milliseconds timeout);
void PlainShutdownSending(tPlainSocket s);
// Closes so that the other side sees a reset.
void PlainReset(tPlainSocket s);
void PlainClose(tPlainSocket s);

} // namespace kwstest
