// Asynchronous host look-ups of the built-in "wsock32.dll"; see Resolver.h.
#include "platform/src/wsock32/Resolver.h"

#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/src/posix/netnames.h"
#include "platform/src/wsock32/Procedures.h"
#include "platform/src/wsock32/Socket.h"

namespace kwsplat {

namespace {

size_t AlignUp(uintptr_t base, size_t offset, size_t alignment) {
  uintptr_t at = base + offset;
  return offset + (alignment - at % alignment) % alignment;
}

// Lays a host entry out in the caller's buffer: the structure, its two pointer lists, the addresses, then
// the texts. Returns the bytes needed; writes only when they fit.
size_t LayOutHost(const net::HostEntry& entry, char* buffer, size_t length) {
  const uintptr_t base = reinterpret_cast<uintptr_t>(buffer);
  size_t aliasesAt = AlignUp(base, sizeof(hostent), alignof(char*));
  size_t addressesAt = aliasesAt + (entry.Aliases.size() + 1) * sizeof(char*);
  size_t bytesAt = addressesAt + (entry.Addresses.size() + 1) * sizeof(char*);
  size_t textAt = bytesAt + entry.Addresses.size() * 4;
  size_t needed = textAt + entry.Name.size() + 1;
  for (const std::string& alias : entry.Aliases)
    needed += alias.size() + 1;
  if (needed > length)
    return needed;

  auto put = [&](size_t offset, const void* data, size_t size) { std::memcpy(buffer + offset, data, size); };
  auto text = [&](const std::string& value) {
    char* at = buffer + textAt;
    put(textAt, value.c_str(), value.size() + 1);
    textAt += value.size() + 1;
    return at;
  };
  hostent host{};
  host.h_addrtype = AF_INET;
  host.h_length = 4;
  host.h_name = text(entry.Name);
  host.h_aliases = reinterpret_cast<char**>(buffer + aliasesAt);
  host.h_addr_list = reinterpret_cast<char**>(buffer + addressesAt);
  for (size_t i = 0; i <= entry.Aliases.size(); ++i) {
    char* alias = i < entry.Aliases.size() ? text(entry.Aliases[i]) : nullptr;
    put(aliasesAt + i * sizeof(char*), &alias, sizeof alias);
  }
  for (size_t i = 0; i <= entry.Addresses.size(); ++i) {
    char* address = nullptr;
    if (i < entry.Addresses.size()) {
      address = buffer + bytesAt + i * 4;
      put(bytesAt + i * 4, &entry.Addresses[i], 4);
    }
    put(addressesAt + i * sizeof(char*), &address, sizeof address);
  }
  put(0, &host, sizeof host);
  return needed;
}

HANDLE ToTaskHandle(uintptr_t value) {
  return reinterpret_cast<HANDLE>(value);
}

} // namespace

Resolver& Resolver::Instance() {
  static Resolver* instance = new Resolver; // never destroyed: its threads run until the process ends
  return *instance;
}

uintptr_t Resolver::Start(HWND window, UINT message, bool byName, std::string name, uint32_t address,
                          char* buffer, int length) {
  std::lock_guard<std::mutex> guard(Lock);
  if (Threads < kThreads) {
    try {
      std::thread([this] { Run(); }).detach();
      ++Threads;
    } catch (const std::system_error&) {
      if (Threads == 0)
        return 0;
    }
  }
  uintptr_t handle = Next;
  Next += kHandleStep;
  Pending.emplace(handle, std::make_shared<Task>(
                              Task{window, message, byName, std::move(name), address, buffer, length}));
  Queue.push_back(handle);
  Work.notify_one();
  return handle;
}

int Resolver::Cancel(uintptr_t handle) {
  std::lock_guard<std::mutex> guard(Lock);
  if (Pending.erase(handle) != 0)
    return 0;
  bool given = handle >= kFirstHandle && handle < Next && (handle - kFirstHandle) % kHandleStep == 0;
  return given ? WSAEALREADY : WSAEINVAL;
}

void Resolver::CancelAll() {
  std::lock_guard<std::mutex> guard(Lock);
  Pending.clear();
  Queue.clear();
}

void Resolver::Run() {
  for (;;) {
    uintptr_t handle = 0;
    std::shared_ptr<Task> task;
    {
      std::unique_lock<std::mutex> lock(Lock);
      Work.wait(lock, [this] { return !Queue.empty(); });
      handle = Queue.front();
      Queue.pop_front();
      auto it = Pending.find(handle);
      if (it == Pending.end())
        continue; // cancelled while queued
      task = it->second;
    }
    net::HostEntry entry = task->ByName ? net::HostByName(task->Name) : net::HostByAddress(task->Address);
    std::lock_guard<std::mutex> guard(Lock);
    if (Pending.erase(handle) == 0)
      continue; // cancelled while resolving: the buffer is no longer ours
    int error = entry.Error;
    size_t length = 0;
    if (error == 0) {
      length = LayOutHost(entry, task->Buffer, static_cast<size_t>(task->Length));
      if (length > static_cast<size_t>(task->Length))
        error = WSAENOBUFS; // the length tells the caller what would have been needed
    }
    // A window that vanished meanwhile takes nothing.
    PostMessageA(task->Window, task->Message, static_cast<WPARAM>(handle),
                 WSAMAKEASYNCREPLY(static_cast<WORD>(length > 0xFFFF ? 0xFFFF : length), error));
  }
}

HANDLE WSAAPI ws_WSAAsyncGetHostByName(HWND hWnd, u_int wMsg, const char* name, char* buf, int buflen) {
  if (!WinsockStarted()) {
    WinsockFail(WSANOTINITIALISED);
    return nullptr;
  }
  if (name == nullptr || buf == nullptr || buflen < 0) {
    WinsockFail(WSAEFAULT);
    return nullptr;
  }
  uintptr_t handle = Resolver::Instance().Start(hWnd, wMsg, true, name, 0, buf, buflen);
  if (handle == 0)
    WinsockFail(WSAENOBUFS);
  return ToTaskHandle(handle);
}

HANDLE WSAAPI ws_WSAAsyncGetHostByAddr(HWND hWnd, u_int wMsg, const char* addr, int len, int type, char* buf,
                                       int buflen) {
  if (!WinsockStarted()) {
    WinsockFail(WSANOTINITIALISED);
    return nullptr;
  }
  if (type != AF_INET) {
    WinsockFail(WSAEAFNOSUPPORT);
    return nullptr;
  }
  if (addr == nullptr || len < 4 || buf == nullptr || buflen < 0) {
    WinsockFail(WSAEFAULT);
    return nullptr;
  }
  uint32_t address;
  std::memcpy(&address, addr, 4);
  uintptr_t handle = Resolver::Instance().Start(hWnd, wMsg, false, std::string(), address, buf, buflen);
  if (handle == 0)
    WinsockFail(WSAENOBUFS);
  return ToTaskHandle(handle);
}

int WSAAPI ws_WSACancelAsyncRequest(HANDLE hAsyncTaskHandle) {
  if (!WinsockStarted())
    return WinsockFail(WSANOTINITIALISED);
  int error = Resolver::Instance().Cancel(reinterpret_cast<uintptr_t>(hAsyncTaskHandle));
  return error == 0 ? 0 : WinsockFail(error);
}

} // namespace kwsplat
