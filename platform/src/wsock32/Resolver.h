// WSAAsyncGetHostByName / ByAddr: look-ups run on a small pool of threads; the result is laid out in the
// caller's buffer and announced by one posted message. A cancelled look-up never writes the buffer and never
// posts, so its caller may free the buffer as soon as WSACancelAsyncRequest returns.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/win32.h"

namespace kwsplat {

class Resolver {
public:
  static Resolver& Instance();

  // Queues a look-up of a name (byName) or of an IPv4 address; returns its task handle (never 0).
  uintptr_t Start(HWND window, UINT message, bool byName, std::string name, uint32_t address, char* buffer,
                  int length);
  // 0, or WSAEALREADY for a look-up that already ended, WSAEINVAL for a handle never given out.
  int Cancel(uintptr_t handle);
  // The last WSACleanup: every pending look-up ends without a word.
  void CancelAll();

private:
  struct Task {
    HWND Window;
    UINT Message;
    bool ByName;
    std::string Name;
    uint32_t Address;
    char* Buffer;
    int Length;
  };

  Resolver() = default;
  void Run();
  void Finish(uintptr_t handle, const Task& task);

  static constexpr uintptr_t kFirstHandle = 0x1000;
  static constexpr uintptr_t kHandleStep = 4;
  static constexpr int kThreads = 2;

  std::mutex Lock; // guards every field below; a worker writes a task's buffer and posts while holding it
  std::condition_variable Work;
  std::unordered_map<uintptr_t, std::shared_ptr<Task>> Pending; // queued or being resolved
  std::deque<uintptr_t> Queue;
  uintptr_t Next = kFirstHandle;
  int Threads = 0;
};

} // namespace kwsplat
