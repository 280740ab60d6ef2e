// The layer's record of one thread: its id, its message queue and the windows it owns. Shared by
// threads.cpp (life cycle, waits) and messages.cpp (queues, windows).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/src/KernelObjects.h"
#include "platform/src/MessageQueue.h"
#include "platform/src/Waiter.h"

namespace kwsplat {

class ThreadState : public std::enable_shared_from_this<ThreadState> {
public:
  explicit ThreadState(uint32_t id) : Id(id), Queue(Wakeup) {}

  const uint32_t Id;
  Waiter Wakeup;
  MessageQueue Queue;
  std::vector<uintptr_t> Windows;       // the owner thread only touches it
  std::shared_ptr<KernelObject> Object; // set before the thread runs: CreateThread's object, else null
};

// The calling thread's record, made on first use for threads the layer did not start.
ThreadState& CurrentThread();
std::shared_ptr<ThreadState> FindThread(uint32_t id);

// The ending thread's windows go without messages (messages.cpp).
void DestroyThreadWindows(ThreadState& thread);

// Start-up: the initial thread becomes the main thread (threads.cpp).
void InitMainThread();

} // namespace kwsplat
