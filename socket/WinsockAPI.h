// Run-time binding to the sockets library ("wsock32.dll"), the texts of its error numbers, and the free
// functions that turn host, port and protocol texts into numbers.
//
// The library is loaded and started on the first call of any wrapper below and each procedure is looked up
// by name on its own first call. It is released again when the last socket object is destroyed, and at
// process exit. Loading, binding and releasing happen under one lock, together with every change of the
// live socket count, so the library can never be released while a socket object exists (its final
// clean-up would close every socket of the process). The bound procedure entries are atomics, so a wrapper
// that is already bound calls straight through without taking the lock.
#pragma once

#include <cstdint>
#include <string>

#include "platform/rtl/WinsockProcedures.h"
#include "platform/win32.h"
#include "socket/SocketException.h"

// Wrappers with the procedures' own names, parameters and results (wsock::recv, ...). The first call of each
// binds it; a binding failure raises ESocketException whatever OnError handlers the socket objects have.
namespace wsock {
#define KWS_WINSOCK_WRAPPER(name, result, parameters, arguments) result name parameters;
KWS_WINSOCK_PROCEDURES(KWS_WINSOCK_WRAPPER)
#undef KWS_WINSOCK_WRAPPER
} // namespace wsock

// The built-in library's own "KwsSendFile": sends up to len bytes of a file opened by CreateFileA, from the
// offset, straight to a connected stream socket; answers like send (0 once the file has no byte there).
// A system's own sockets library has none: then CanSendFile is false and the caller reads the file itself.
namespace wsock {
bool CanSendFile();
int KwsSendFile(SOCKET s, HANDLE file, DWORD offsetLow, DWORD offsetHigh, int len);
} // namespace wsock

// Loads and starts the library when it is not loaded, then looks the procedure up; an empty name only
// loads. Raises ESocketException with the loading, start-up or look-up message.
FARPROC BindSocketProc(const std::string& name);

// Cleans the library up, frees it and forgets every bound procedure, when it is loaded.
void UnloadSockets();

// True while the library is loaded (started or not).
bool SocketsLibraryLoaded();

// The library's name, process-wide; tests change it to exercise the loading failure. Changing it takes
// effect at the next load.
std::string SocketsLibraryName();
void SetSocketsLibraryName(const std::string& name);

// The live socket object count, kept by the socket objects' construction and destruction. The last
// destruction releases the library.
void SocketObjectCreated();
void SocketObjectDestroyed();
int32_t LiveSocketCount();

// "No Error", "Operation would block", ...; "Not a WinSock error" for numbers outside the table.
std::string SocketErrorText(int number);

// Synchronous resolution; each raises ESocketException on failure.
uint32_t WSocketResolveHost(const std::string& text); // IPv4 address, network order
int32_t WSocketResolvePort(const std::string& port,
                           const std::string& proto); // host order, not range-checked
int32_t WSocketResolveProto(const std::string& text);
std::string LocalHostName();

// Leading blanks skipped, decimal digits up to the first non-digit; no sign; wraps at 32 bits.
int32_t ParseDecimal(const std::string& text);
// Four dot-separated decimal numbers of at most 255, blanks allowed around.
bool IsDottedIP(const std::string& text);
