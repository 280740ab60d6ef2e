// The export table of the built-in "wsock32.dll": Winsock 1.1 names, found case-sensitively as GetProcAddress
// finds a module's exports.
#include <cstring>

#include "platform/src/BuiltinModules.h"
#include "platform/src/wsock32/Procedures.h"

namespace kwsplat {

namespace {

struct Export {
  const char* Name;
  BuiltinProc Proc;
};

// Each entry passes through its procedure type first, so a signature that drifts fails to compile.
template <class Type> BuiltinProc As(Type proc) {
  return reinterpret_cast<BuiltinProc>(proc);
}

const Export kExports[] = {
    {"WSAStartup", As<LPFN_WSASTARTUP>(ws_WSAStartup)},
    {"WSACleanup", As<LPFN_WSACLEANUP>(ws_WSACleanup)},
    {"WSASetLastError", As<LPFN_WSASETLASTERROR>(ws_WSASetLastError)},
    {"WSAGetLastError", As<LPFN_WSAGETLASTERROR>(ws_WSAGetLastError)},
    {"WSAAsyncSelect", As<LPFN_WSAASYNCSELECT>(ws_WSAAsyncSelect)},
    {"WSAAsyncGetHostByName", As<LPFN_WSAASYNCGETHOSTBYNAME>(ws_WSAAsyncGetHostByName)},
    {"WSAAsyncGetHostByAddr", As<LPFN_WSAASYNCGETHOSTBYADDR>(ws_WSAAsyncGetHostByAddr)},
    {"WSACancelAsyncRequest", As<LPFN_WSACANCELASYNCREQUEST>(ws_WSACancelAsyncRequest)},
    {"socket", As<LPFN_SOCKET>(ws_socket)},
    {"bind", As<LPFN_BIND>(ws_bind)},
    {"listen", As<LPFN_LISTEN>(ws_listen)},
    {"accept", As<LPFN_ACCEPT>(ws_accept)},
    {"connect", As<LPFN_CONNECT>(ws_connect)},
    {"send", As<LPFN_SEND>(ws_send)},
    {"sendto", As<LPFN_SENDTO>(ws_sendto)},
    {"recv", As<LPFN_RECV>(ws_recv)},
    {"recvfrom", As<LPFN_RECVFROM>(ws_recvfrom)},
    {"shutdown", As<LPFN_SHUTDOWN>(ws_shutdown)},
    {"closesocket", As<LPFN_CLOSESOCKET>(ws_closesocket)},
    {"getsockname", As<LPFN_GETSOCKNAME>(ws_getsockname)},
    {"getpeername", As<LPFN_GETPEERNAME>(ws_getpeername)},
    {"setsockopt", As<LPFN_SETSOCKOPT>(ws_setsockopt)},
    {"getsockopt", As<LPFN_GETSOCKOPT>(ws_getsockopt)},
    {"ioctlsocket", As<LPFN_IOCTLSOCKET>(ws_ioctlsocket)},
    {"htons", As<LPFN_HTONS>(ws_htons)},
    {"ntohs", As<LPFN_NTOHS>(ws_ntohs)},
    {"htonl", As<LPFN_HTONL>(ws_htonl)},
    {"ntohl", As<LPFN_NTOHL>(ws_ntohl)},
    {"inet_addr", As<LPFN_INET_ADDR>(ws_inet_addr)},
    {"inet_ntoa", As<LPFN_INET_NTOA>(ws_inet_ntoa)},
    {"gethostname", As<LPFN_GETHOSTNAME>(ws_gethostname)},
    {"gethostbyname", As<LPFN_GETHOSTBYNAME>(ws_gethostbyname)},
    {"gethostbyaddr", As<LPFN_GETHOSTBYADDR>(ws_gethostbyaddr)},
    {"getservbyname", As<LPFN_GETSERVBYNAME>(ws_getservbyname)},
    {"getprotobyname", As<LPFN_GETPROTOBYNAME>(ws_getprotobyname)},
};

} // namespace

BuiltinProc Wsock32Export(const char* name) {
  if (name == nullptr)
    return nullptr;
  for (const Export& entry : kExports) {
    if (std::strcmp(entry.Name, name) == 0)
      return entry.Proc;
  }
  return nullptr;
}

} // namespace kwsplat
