// The procedures of the built-in "wsock32.dll" under internal names; module.cpp exports them by their Winsock
// names. Nothing links against them directly: callers go through LoadLibraryA and GetProcAddress.
#pragma once

#include "platform/rtl/WinsockProcedures.h"

namespace kwsplat {

// ws_WSAStartup, ws_socket, ...: startup.cpp, sockets.cpp, options.cpp, resolver.cpp, names.cpp.
#define KWS_DECLARE(name, result, parameters, arguments) result WSAAPI ws_##name parameters;
KWS_WINSOCK_PROCEDURES(KWS_DECLARE)
#undef KWS_DECLARE

// Forgets the calling thread's inet_ntoa and get*by* results; run when a pooled thread starts anew.
void ClearThreadResults();

} // namespace kwsplat
