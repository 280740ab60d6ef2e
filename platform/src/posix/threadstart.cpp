#include "platform/src/posix/threadstart.h"

#include <memory>

#include <pthread.h>
#include <unistd.h>

namespace kwsplat::posix {

namespace {

struct Start {
  void (*Entry)(void*);
  void* Arg;
};

void* Trampoline(void* raw) {
  std::unique_ptr<Start> start(static_cast<Start*>(raw));
  start->Entry(start->Arg);
  return nullptr;
}

size_t RoundToPages(size_t bytes) {
  long page = sysconf(_SC_PAGESIZE);
  size_t size = page > 0 ? static_cast<size_t>(page) : 4096;
  return (bytes + size - 1) / size * size;
}

} // namespace

bool StartDetachedThread(size_t stackBytes, void (*entry)(void*), void* arg) {
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0)
    return false;
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  const size_t minimum = static_cast<size_t>(PTHREAD_STACK_MIN);
  if (stackBytes < minimum)
    stackBytes = minimum;
  pthread_attr_setstacksize(&attr, RoundToPages(stackBytes));
  auto start = std::make_unique<Start>(Start{entry, arg});
  pthread_t id;
  int rc = pthread_create(&id, &attr, Trampoline, start.get());
  pthread_attr_destroy(&attr);
  if (rc != 0)
    return false;
  start.release(); // the new thread owns it now
  return true;
}

} // namespace kwsplat::posix
