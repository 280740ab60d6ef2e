#include "tests/support/PlainSocket.h"

#include <algorithm>

#include <winsock2.h>

namespace kwstest {

namespace {

sockaddr_in LocalAddress(uint16_t port, bool anyAddress = false) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(anyAddress ? INADDR_ANY : INADDR_LOOPBACK);
  return address;
}

SOCKET Handle(tPlainSocket s) {
  return static_cast<SOCKET>(s);
}

// Started once for the process and never cleaned up, so the tests' own start-ups and clean-ups stay balanced.
bool Started() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

// Whether the socket becomes readable (or, with forWrite, writable or failed) within the time-out.
bool Ready(SOCKET s, std::chrono::milliseconds timeout, bool forWrite) {
  fd_set ready, failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(s, &ready);
  FD_SET(s, &failed);
  const long ms = static_cast<long>(std::max<int64_t>(timeout.count(), 0));
  timeval limit{ms / 1000, ms % 1000 * 1000};
  return select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr, forWrite ? &failed : nullptr,
                &limit) > 0 &&
         FD_ISSET(s, &ready);
}

bool SetBlocking(SOCKET s, bool blocking) {
  u_long value = blocking ? 0 : 1;
  return ioctlsocket(s, FIONBIO, &value) == 0;
}

} // namespace

tPlainSocket PlainNewSocket(int receiveBuffer) {
  if (!Started())
    return kNoPlainSocket;
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET)
    return kNoPlainSocket;
  if (receiveBuffer > 0)
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer), sizeof receiveBuffer);
  return static_cast<tPlainSocket>(s);
}

// A refused connect to loopback is retried by Windows for seconds, so the time-out is kept by a select.
bool PlainConnect(tPlainSocket s, uint16_t port, std::chrono::milliseconds timeout) {
  const sockaddr_in address = LocalAddress(port);
  if (!SetBlocking(Handle(s), false))
    return false;
  const bool started = connect(Handle(s), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ||
                       WSAGetLastError() == WSAEWOULDBLOCK;
  return started && Ready(Handle(s), timeout, true) && SetBlocking(Handle(s), true);
}

uint16_t PlainListen(tPlainSocket s, bool anyAddress) {
  sockaddr_in address = LocalAddress(0, anyAddress);
  int length = sizeof address;
  if (bind(Handle(s), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(Handle(s), 16) != 0 ||
      getsockname(Handle(s), reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return 0;
  return ntohs(address.sin_port);
}

long PlainSend(tPlainSocket s, const char* data, size_t size) {
  return send(Handle(s), data, static_cast<int>(std::min<size_t>(size, 1 << 30)), 0);
}

long PlainReceive(tPlainSocket s, char* buffer, size_t size, std::chrono::milliseconds timeout) {
  if (!Ready(Handle(s), timeout, false))
    return kPlainTimedOut;
  const int n = recv(Handle(s), buffer, static_cast<int>(std::min<size_t>(size, 1 << 30)), 0);
  if (n >= 0)
    return n;
  const int error = WSAGetLastError();
  return error == WSAECONNRESET || error == WSAECONNABORTED ? kPlainReset : kPlainFailed;
}

void PlainShutdownSending(tPlainSocket s) {
  shutdown(Handle(s), SD_SEND);
}

void PlainReset(tPlainSocket s) {
  const linger option{1, 0};
  setsockopt(Handle(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option), sizeof option);
  PlainClose(s);
}

void PlainClose(tPlainSocket s) {
  closesocket(Handle(s));
}

} // namespace kwstest
