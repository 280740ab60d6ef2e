// Start-up, clean-up and the last error of the built-in "wsock32.dll".
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/src/Threading.h"
#include "platform/src/wsock32/Notifier.h"
#include "platform/src/wsock32/Procedures.h"
#include "platform/src/wsock32/Resolver.h"

namespace kwsplat {

namespace {

constexpr WORD kGranted = MAKEWORD(1, 1);

std::mutex& StartupLock() {
  static std::mutex* lock = new std::mutex; // never destroyed: sockets may be used until the process ends
  return *lock;
}
std::atomic<int> StartCount{0}; // WSAStartup calls not yet matched by WSACleanup; changes under StartupLock

void FillData(WORD granted, LPWSADATA data) {
  std::memset(data, 0, sizeof *data);
  data->wVersion = granted;
  data->wHighVersion = kGranted;
  std::strcpy(data->szDescription, "Windows Sockets 1.1 over POSIX sockets");
  std::strcpy(data->szSystemStatus, "Running");
  data->iMaxSockets = 32767;
  data->iMaxUdpDg = 65467;
}

} // namespace

bool WinsockStarted() {
  return StartCount.load(std::memory_order_acquire) > 0;
}

int WinsockFail(int error) {
  SetLastError(static_cast<DWORD>(error));
  return SOCKET_ERROR;
}

std::shared_ptr<Socket> UseSocket(SOCKET handle) {
  if (!WinsockStarted()) {
    WinsockFail(WSANOTINITIALISED);
    return nullptr;
  }
  std::shared_ptr<Socket> s = Sockets().Find(handle);
  if (!s)
    WinsockFail(WSAENOTSOCK);
  return s;
}

int WSAAPI ws_WSAStartup(WORD version, LPWSADATA data) {
  if (data == nullptr)
    return WSAEFAULT;
  if (LOBYTE(version) < 1) {
    FillData(kGranted, data);
    return WSAVERNOTSUPPORTED;
  }
  // The lower of the version asked for and the one offered, as Winsock grants it.
  WORD granted = (LOBYTE(version) == 1 && HIBYTE(version) == 0) ? MAKEWORD(1, 0) : kGranted;
  std::lock_guard<std::mutex> guard(StartupLock());
  if (int error = Notifier::Instance().Start())
    return error;
  static bool resetRegistered = false; // under StartupLock
  if (!resetRegistered) {
    RegisterThreadReset(ClearThreadResults);
    resetRegistered = true;
  }
  StartCount.fetch_add(1, std::memory_order_acq_rel);
  FillData(granted, data);
  return 0;
}

int WSAAPI ws_WSACleanup() {
  std::lock_guard<std::mutex> guard(StartupLock());
  if (StartCount.load() <= 0)
    return WinsockFail(WSANOTINITIALISED);
  if (StartCount.fetch_sub(1, std::memory_order_acq_rel) > 1)
    return 0;
  // The last clean-up ends every look-up and closes every socket left, without waiting for lingering data.
  Resolver::Instance().CancelAll();
  std::vector<SOCKET> open;
  Sockets().ForEach([&open](uintptr_t handle, const std::shared_ptr<Socket>&) { open.push_back(handle); });
  for (SOCKET handle : open)
    CloseSocket(handle, true);
  return 0;
}

void WSAAPI ws_WSASetLastError(int error) {
  SetLastError(static_cast<DWORD>(error));
}

int WSAAPI ws_WSAGetLastError() {
  return static_cast<int>(GetLastError());
}

} // namespace kwsplat
