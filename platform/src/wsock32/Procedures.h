// The procedures of the built-in "wsock32.dll" under internal names; module.cpp exports them by their Winsock
// names. Nothing links against them directly: callers go through LoadLibraryA and GetProcAddress.
#pragma once

#include "platform/win32.h"

namespace kwsplat {

// Start-up and errors (startup.cpp).
int WSAAPI ws_WSAStartup(WORD version, LPWSADATA data);
int WSAAPI ws_WSACleanup();
void WSAAPI ws_WSASetLastError(int error);
int WSAAPI ws_WSAGetLastError();

// Sockets (sockets.cpp).
SOCKET WSAAPI ws_socket(int af, int type, int protocol);
int WSAAPI ws_bind(SOCKET s, const struct sockaddr* name, int namelen);
int WSAAPI ws_listen(SOCKET s, int backlog);
SOCKET WSAAPI ws_accept(SOCKET s, struct sockaddr* addr, int* addrlen);
int WSAAPI ws_connect(SOCKET s, const struct sockaddr* name, int namelen);
int WSAAPI ws_send(SOCKET s, const char* buf, int len, int flags);
int WSAAPI ws_sendto(SOCKET s, const char* buf, int len, int flags, const struct sockaddr* to, int tolen);
int WSAAPI ws_recv(SOCKET s, char* buf, int len, int flags);
int WSAAPI ws_recvfrom(SOCKET s, char* buf, int len, int flags, struct sockaddr* from, int* fromlen);
int WSAAPI ws_shutdown(SOCKET s, int how);
int WSAAPI ws_closesocket(SOCKET s);
int WSAAPI ws_getsockname(SOCKET s, struct sockaddr* name, int* namelen);
int WSAAPI ws_getpeername(SOCKET s, struct sockaddr* name, int* namelen);
int WSAAPI ws_WSAAsyncSelect(SOCKET s, HWND hWnd, u_int wMsg, long lEvent);

// Options and modes (options.cpp).
int WSAAPI ws_setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
int WSAAPI ws_getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen);
int WSAAPI ws_ioctlsocket(SOCKET s, long cmd, u_long* argp);

// Asynchronous host look-ups (resolver.cpp).
HANDLE WSAAPI ws_WSAAsyncGetHostByName(HWND hWnd, u_int wMsg, const char* name, char* buf, int buflen);
HANDLE WSAAPI ws_WSAAsyncGetHostByAddr(HWND hWnd, u_int wMsg, const char* addr, int len, int type, char* buf,
                                       int buflen);
int WSAAPI ws_WSACancelAsyncRequest(HANDLE hAsyncTaskHandle);

// Byte order, address texts and the databases (names.cpp).
u_short WSAAPI ws_htons(u_short value);
u_short WSAAPI ws_ntohs(u_short value);
u_long WSAAPI ws_htonl(u_long value);
u_long WSAAPI ws_ntohl(u_long value);
unsigned long WSAAPI ws_inet_addr(const char* cp);
char* WSAAPI ws_inet_ntoa(struct in_addr in);
int WSAAPI ws_gethostname(char* name, int namelen);
struct hostent* WSAAPI ws_gethostbyname(const char* name);
struct hostent* WSAAPI ws_gethostbyaddr(const char* addr, int len, int type);
struct servent* WSAAPI ws_getservbyname(const char* name, const char* proto);
struct protoent* WSAAPI ws_getprotobyname(const char* name);
// Forgets the calling thread's inet_ntoa and get*by* results; run when a pooled thread starts anew.
void ClearThreadResults();

} // namespace kwsplat
