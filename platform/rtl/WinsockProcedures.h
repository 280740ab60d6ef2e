// The procedures of the sockets library ("wsock32.dll"), written once. Nothing links against them: callers
// load the library and look each one up by name, so every place that names them expands this list.
//
// KWS_WINSOCK_PROCEDURES(X) calls X(name, result, parameters, arguments) once per procedure; `arguments`
// names the parameters in order, for wrappers that pass a call on.
#pragma once

#include "platform/win32.h"

// clang-format off
#define KWS_WINSOCK_PROCEDURES(X)                                                                            \
  X(WSAStartup, int, (WORD versionRequested, LPWSADATA data), (versionRequested, data))                      \
  X(WSACleanup, int, (), ())                                                                                 \
  X(WSASetLastError, void, (int error), (error))                                                             \
  X(WSAGetLastError, int, (), ())                                                                            \
  X(WSAAsyncSelect, int, (SOCKET s, HWND wnd, u_int msg, long events), (s, wnd, msg, events))                \
  X(WSAAsyncGetHostByName, HANDLE, (HWND wnd, u_int msg, const char* name, char* buf, int bufLen),           \
    (wnd, msg, name, buf, bufLen))                                                                           \
  X(WSAAsyncGetHostByAddr, HANDLE,                                                                           \
    (HWND wnd, u_int msg, const char* addr, int len, int type, char* buf, int bufLen),                       \
    (wnd, msg, addr, len, type, buf, bufLen))                                                                \
  X(WSACancelAsyncRequest, int, (HANDLE asyncTaskHandle), (asyncTaskHandle))                                 \
  X(socket, SOCKET, (int af, int type, int protocol), (af, type, protocol))                                  \
  X(bind, int, (SOCKET s, const sockaddr* addr, int nameLen), (s, addr, nameLen))                            \
  X(listen, int, (SOCKET s, int backlog), (s, backlog))                                                      \
  X(accept, SOCKET, (SOCKET s, sockaddr* addr, int* addrLen), (s, addr, addrLen))                            \
  X(connect, int, (SOCKET s, const sockaddr* name, int nameLen), (s, name, nameLen))                         \
  X(send, int, (SOCKET s, const char* buf, int len, int flags), (s, buf, len, flags))                        \
  X(sendto, int, (SOCKET s, const char* buf, int len, int flags, const sockaddr* to, int toLen),             \
    (s, buf, len, flags, to, toLen))                                                                         \
  X(recv, int, (SOCKET s, char* buf, int len, int flags), (s, buf, len, flags))                              \
  X(recvfrom, int, (SOCKET s, char* buf, int len, int flags, sockaddr* from, int* fromLen),                  \
    (s, buf, len, flags, from, fromLen))                                                                     \
  X(shutdown, int, (SOCKET s, int how), (s, how))                                                            \
  X(closesocket, int, (SOCKET s), (s))                                                                       \
  X(getsockname, int, (SOCKET s, sockaddr* name, int* nameLen), (s, name, nameLen))                          \
  X(getpeername, int, (SOCKET s, sockaddr* name, int* nameLen), (s, name, nameLen))                          \
  X(setsockopt, int, (SOCKET s, int level, int optName, const char* optVal, int optLen),                     \
    (s, level, optName, optVal, optLen))                                                                     \
  X(getsockopt, int, (SOCKET s, int level, int optName, char* optVal, int* optLen),                          \
    (s, level, optName, optVal, optLen))                                                                     \
  X(ioctlsocket, int, (SOCKET s, long cmd, u_long* argp), (s, cmd, argp))                                    \
  X(htons, u_short, (u_short hostShort), (hostShort))                                                        \
  X(ntohs, u_short, (u_short netShort), (netShort))                                                          \
  X(htonl, u_long, (u_long hostLong), (hostLong))                                                            \
  X(ntohl, u_long, (u_long netLong), (netLong))                                                              \
  X(inet_addr, unsigned long, (const char* cp), (cp))                                                        \
  X(inet_ntoa, char*, (in_addr in), (in))                                                                    \
  X(gethostname, int, (char* name, int nameLen), (name, nameLen))                                            \
  X(gethostbyname, hostent*, (const char* name), (name))                                                     \
  X(gethostbyaddr, hostent*, (const char* addr, int len, int type), (addr, len, type))                       \
  X(getservbyname, servent*, (const char* name, const char* proto), (name, proto))                           \
  X(getprotobyname, protoent*, (const char* name), (name))
// clang-format on

// The pointer type of each procedure, named after it (wsproc::recv), for GetProcAddress's results.
namespace wsproc {
#define KWS_WINSOCK_PROCEDURE_TYPE(name, result, parameters, arguments)                                      \
  using name = result(WSAAPI*) parameters;
KWS_WINSOCK_PROCEDURES(KWS_WINSOCK_PROCEDURE_TYPE)
#undef KWS_WINSOCK_PROCEDURE_TYPE
} // namespace wsproc
