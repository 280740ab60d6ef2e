// The procedures of the built-in "wsock32.dll" under internal names; module.cpp exports them by their Winsock
// names. Nothing links against them directly: callers go through LoadLibraryA and GetProcAddress.
#pragma once

#include "platform/rtl/WinsockProcedures.h"

namespace kwsplat {

// ws_WSAStartup, ws_socket, ...: startup.cpp, sockets.cpp, options.cpp, resolver.cpp, names.cpp.
#define KWS_DECLARE(name, result, parameters, arguments) result WSAAPI ws_##name parameters;
KWS_WINSOCK_PROCEDURES(KWS_DECLARE)
#undef KWS_DECLARE

// The library's own addition, exported as "KwsSendFile": sends up to len bytes of a file opened by
// CreateFileA, from the 64-bit offset, straight to a connected stream socket without copying them through
// the caller; like send it answers the count sent (0 once the file has no byte at the offset) or
// SOCKET_ERROR (10035 when the socket is full, then a write notification follows).
int WSAAPI ws_KwsSendFile(SOCKET s, HANDLE file, DWORD offsetLow, DWORD offsetHigh, int len);

// Forgets the calling thread's inet_ntoa and get*by* results; run when a pooled thread starts anew.
void ClearThreadResults();

} // namespace kwsplat
