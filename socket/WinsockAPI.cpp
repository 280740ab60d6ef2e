#include "socket/WinsockAPI.h"

#include <atomic>
#include <cstring>
#include <iterator>
#include <mutex>
#include <utility>

#include "settings/CoreAPITools.h"

namespace {

// The procedures' names, and their places in that table: p_recv, ...
constexpr const char* kProcNames[] = {
#define KWS_PROC_NAME(name, result, parameters, arguments) #name,
    KWS_WINSOCK_PROCEDURES(KWS_PROC_NAME)
#undef KWS_PROC_NAME
};
constexpr size_t kProcCount = std::size(kProcNames);

enum ProcIndex : int {
#define KWS_PROC_INDEX(name, result, parameters, arguments) p_##name,
  KWS_WINSOCK_PROCEDURES(KWS_PROC_INDEX)
#undef KWS_PROC_INDEX
};

constexpr WORD kWinsockVersion11 = 257;

struct LibraryState {
  // Guards Handle, Name and StartupData, the loading, start-up and release of the library, and every change
  // of LiveCount. Recursive because the start-up binds WSAStartup through its own wrapper.
  std::recursive_mutex Lock;
  HMODULE Handle = nullptr;
  std::string Name = "wsock32.dll";
  WSADATA StartupData{};
};

// Never destroyed: threads still running at process exit may call a wrapper.
LibraryState& Library() {
  static LibraryState* state = new LibraryState;
  return *state;
}

std::atomic<FARPROC> Entries[kProcCount]; // stored under Library().Lock, read without it
std::atomic<int32_t> LiveCount{0};        // changed under Library().Lock, read without it

using tSendFileProc = int(WSAAPI*)(SOCKET, HANDLE, DWORD, DWORD, int);
// The optional procedure, looked up once per load; stored under Library().Lock, read without it.
std::atomic<bool> SendFileLooked{false};
std::atomic<tSendFileProc> SendFileEntry{nullptr};

tSendFileProc SendFileProc() {
  if (SendFileLooked.load(std::memory_order_acquire))
    return SendFileEntry.load(std::memory_order_acquire);
  std::lock_guard guard(Library().Lock);
  BindSocketProc(""); // loads and starts the library
  const FARPROC proc = GetProcAddress(Library().Handle, "KwsSendFile");
  // Through void(*)(), the one function type that converts to any other without a warning.
  SendFileEntry.store(reinterpret_cast<tSendFileProc>(reinterpret_cast<void (*)()>(proc)),
                      std::memory_order_release);
  SendFileLooked.store(true, std::memory_order_release);
  return SendFileEntry.load(std::memory_order_acquire);
}

FARPROC BindEntry(ProcIndex index) {
  std::lock_guard guard(Library().Lock);
  FARPROC proc = Entries[index].load(std::memory_order_relaxed);
  if (proc == nullptr) {
    proc = BindSocketProc(kProcNames[index]);
    Entries[index].store(proc, std::memory_order_release);
  }
  return proc;
}

template <typename Fn> Fn Proc(ProcIndex index) {
  FARPROC proc = Entries[index].load(std::memory_order_acquire);
  if (proc == nullptr) {
    proc = BindEntry(index);
  }
  // Through void(*)(), the one function type that converts to any other without a warning.
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Releases the library at process exit, after the last static user is gone.
struct ReleaseAtExit {
  ~ReleaseAtExit() {
    try {
      UnloadSockets();
    } catch (const ESocketException&) {
      // Nothing is left to report to at exit.
    }
  }
} releaseAtExit;

} // namespace

namespace wsock {
#define KWS_WINSOCK_WRAPPER(name, result, parameters, arguments)                                             \
  result name parameters {                                                                                   \
    return Proc<wsproc::name>(p_##name) arguments;                                                           \
  }
KWS_WINSOCK_PROCEDURES(KWS_WINSOCK_WRAPPER)
#undef KWS_WINSOCK_WRAPPER

bool CanSendFile() {
  return SendFileProc() != nullptr;
}

int KwsSendFile(SOCKET s, HANDLE file, DWORD offsetLow, DWORD offsetHigh, int len) {
  return SendFileProc()(s, file, offsetLow, offsetHigh, len);
}
} // namespace wsock

FARPROC BindSocketProc(const std::string& name) {
  LibraryState& library = Library();
  std::lock_guard guard(library.Lock);
  if (library.Handle == nullptr) {
    HMODULE handle = LoadLibraryA(library.Name.c_str());
    if (handle == nullptr) {
      throw ESocketException("Unable to load " + library.Name + " Error #" + std::to_string(GetLastError()));
    }
    // Stored before the start-up, which binds WSAStartup through this function again; a failed start-up
    // leaves the library loaded, so it is not retried.
    library.Handle = handle;
    const int result = wsock::WSAStartup(kWinsockVersion11, &library.StartupData);
    if (result != 0) {
      throw ESocketException(library.Name + ": WSAStartup error #" + std::to_string(result));
    }
  }
  if (name.empty()) {
    return nullptr;
  }
  FARPROC proc = GetProcAddress(library.Handle, name.c_str());
  if (proc == nullptr) {
    throw ESocketException("Procedure " + name + " not found in " + library.Name + " Error #" +
                           std::to_string(GetLastError()));
  }
  return proc;
}

void UnloadSockets() {
  LibraryState& library = Library();
  std::lock_guard guard(library.Lock);
  if (library.Handle == nullptr) {
    return;
  }
  wsock::WSACleanup();
  FreeLibrary(library.Handle);
  library.Handle = nullptr;
  for (auto& entry : Entries) {
    entry.store(nullptr, std::memory_order_release);
  }
  SendFileEntry.store(nullptr, std::memory_order_release);
  SendFileLooked.store(false, std::memory_order_release);
}

bool SocketsLibraryLoaded() {
  LibraryState& library = Library();
  std::lock_guard guard(library.Lock);
  return library.Handle != nullptr;
}

std::string SocketsLibraryName() {
  LibraryState& library = Library();
  std::lock_guard guard(library.Lock);
  return library.Name;
}

void SetSocketsLibraryName(const std::string& name) {
  LibraryState& library = Library();
  std::lock_guard guard(library.Lock);
  library.Name = name;
}

void SocketObjectCreated() {
  std::lock_guard guard(Library().Lock);
  LiveCount.fetch_add(1, std::memory_order_relaxed);
}

void SocketObjectDestroyed() {
  std::lock_guard guard(Library().Lock);
  if (LiveCount.fetch_sub(1, std::memory_order_relaxed) - 1 >= 1) {
    return;
  }
  LiveCount.store(0, std::memory_order_relaxed);
  UnloadSockets();
}

int32_t LiveSocketCount() {
  return LiveCount.load(std::memory_order_relaxed);
}

std::string SocketErrorText(int number) {
  static const std::pair<int, const char*> kTexts[] = {
      {0, "No Error"},
      {WSAEINTR, "Interrupted system call"},
      {WSAEBADF, "Bad file number"},
      {WSAEACCES, "Permission denied"},
      {WSAEFAULT, "Bad address"},
      {WSAEINVAL, "Invalid argument"},
      {WSAEMFILE, "Too many open files"},
      {WSAEWOULDBLOCK, "Operation would block"},
      {WSAEINPROGRESS, "Operation now in progress"},
      {WSAEALREADY, "Operation already in progress"},
      {WSAENOTSOCK, "Socket operation on non-socket"},
      {WSAEDESTADDRREQ, "Destination address required"},
      {WSAEMSGSIZE, "Message too long"},
      {WSAEPROTOTYPE, "Protocol wrong type for socket"},
      {WSAENOPROTOOPT, "Protocol not available"},
      {WSAEPROTONOSUPPORT, "Protocol not supported"},
      {WSAESOCKTNOSUPPORT, "Socket type not supported"},
      {WSAEOPNOTSUPP, "Operation not supported on socket"},
      {WSAEPFNOSUPPORT, "Protocol family not supported"},
      {WSAEAFNOSUPPORT, "Address family not supported by protocol family"},
      {WSAEADDRINUSE, "Address already in use"},
      {WSAEADDRNOTAVAIL, "Address not available"},
      {WSAENETDOWN, "Network is down"},
      {WSAENETUNREACH, "Network is unreachable"},
      {WSAENETRESET, "Network dropped connection on reset"},
      {WSAECONNABORTED, "Connection aborted"},
      {WSAECONNRESET, "Connection reset by peer"},
      {WSAENOBUFS, "No buffer space available"},
      {WSAEISCONN, "Socket is already connected"},
      {WSAENOTCONN, "Socket is not connected"},
      {WSAESHUTDOWN, "Can't send after socket shutdown"},
      {WSAETOOMANYREFS, "Too many references: can't splice"},
      {WSAETIMEDOUT, "Connection timed out"},
      {WSAECONNREFUSED, "Connection refused"},
      {WSAELOOP, "Too many levels of symbolic links"},
      {WSAENAMETOOLONG, "File name too long"},
      {WSAEHOSTDOWN, "Host is down"},
      {WSAEHOSTUNREACH, "No route to host"},
      {WSAENOTEMPTY, "Directory not empty"},
      {WSAEPROCLIM, "Too many processes"},
      {WSAEUSERS, "Too many users"},
      {WSAEDQUOT, "Disc quota exceeded"},
      {WSAESTALE, "Stale NFS file handle"},
      {WSAEREMOTE, "Too many levels of remote in path"},
      {WSASYSNOTREADY, "Network sub-system is unusable"},
      {WSAVERNOTSUPPORTED, "WinSock DLL cannot support this application"},
      {WSANOTINITIALISED, "WinSock not initialized"},
      {WSAHOST_NOT_FOUND, "Host not found"},
      {WSATRY_AGAIN, "Non-authoritative host not found"},
      {WSANO_RECOVERY, "Non-recoverable error"},
      {WSANO_DATA, "No Data"},
  };
  for (const auto& [code, text] : kTexts) {
    if (code == number) {
      return text;
    }
  }
  return "Not a WinSock error";
}

uint32_t WSocketResolveHost(const std::string& text) {
  if (text.empty() || text.size() > 256) {
    throw ESocketException("WSocketResolveHost: '" + text + "' Invalid Hostname.");
  }
  const std::string name = Trim(text);
  if (IsDottedIP(name)) {
    const auto address = static_cast<uint32_t>(wsock::inet_addr(name.c_str()));
    if (address == INADDR_NONE && name != "255.255.255.255") {
      throw ESocketException("WSocketResolveHost: '" + name + "' Invalid IP address.");
    }
    return address;
  }
  const hostent* entry = wsock::gethostbyname(name.c_str());
  if (entry == nullptr || entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) {
    throw ESocketException("WSocketResolveHost: Cannot convert host address '" + name + "'");
  }
  uint32_t address = 0;
  std::memcpy(&address, entry->h_addr_list[0], sizeof(address));
  return address;
}

int32_t WSocketResolvePort(const std::string& port, const std::string& proto) {
  if (port.empty() || port.size() >= 32) {
    throw ESocketException("WSocketResolvePort: Invalid Port.");
  }
  if (IsDigit(port[0])) {
    return ParseDecimal(port);
  }
  const std::string service = Trim(port);
  const std::string protocol = Trim(proto);
  const servent* entry = wsock::getservbyname(service.c_str(), protocol.empty() ? nullptr : protocol.c_str());
  if (entry == nullptr) {
    throw ESocketException("WSocketResolvePort: Cannot convert port '" + port + "'");
  }
  return wsock::ntohs(static_cast<u_short>(entry->s_port));
}

int32_t WSocketResolveProto(const std::string& text) {
  if (text.empty() || text.size() >= 32) {
    throw ESocketException("WSocketResolveProto: Invalid Protocol.");
  }
  const std::string name = Trim(text);
  if (!name.empty() && IsDigit(name[0])) {
    return ParseDecimal(name);
  }
  const protoent* entry = wsock::getprotobyname(name.c_str());
  if (entry == nullptr) {
    throw ESocketException("WSocketResolveProto: Cannot convert protocol '" + text + "'");
  }
  return entry->p_proto;
}

std::string LocalHostName() {
  char name[64] = {};
  if (wsock::gethostname(name, sizeof(name)) != 0) {
    throw ESocketException("Winsock.GetHostName failed");
  }
  name[sizeof(name) - 1] = '\0';
  return name;
}

int32_t ParseDecimal(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') {
    ++i;
  }
  uint32_t value = 0; // unsigned, so overflow wraps as 32-bit arithmetic does
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    value = value * 10u + static_cast<uint32_t>(text[i] - '0');
  }
  return static_cast<int32_t>(value);
}

bool IsDottedIP(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') {
    ++i;
  }
  if (i < text.size() && text[i] == '.') {
    return false;
  }
  int dots = 0;
  uint32_t value = 0; // saturates above 255: only "more than 255" matters
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.') {
      ++dots;
      if (dots > 3 || value > 255 || i + 1 >= text.size() || !IsDigit(text[i + 1])) {
        return false;
      }
      value = 0;
    } else if (IsDigit(c)) {
      value = value > 255 ? 256 : value * 10u + static_cast<uint32_t>(c - '0');
    } else {
      while (i < text.size() && text[i] == ' ') {
        ++i;
      }
      if (i < text.size()) {
        return false;
      }
      break;
    }
  }
  return dots == 3 && value <= 255;
}
