// The objects behind HANDLE values that CloseHandle and the waits accept: events and threads
// (threads.cpp) and open files (files.cpp) share one table, so CloseHandle needs no kind switch.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/src/HandleTable.h"

namespace kwsplat {

class KernelObject {
public:
  virtual ~KernelObject() = default;
  // Waitable objects (events, threads) override this; the waits in threads.cpp use it.
  virtual bool IsWaitable() const { return false; }
};

// Never destroyed: threads still running at exit must not meet a destroyed table.
HandleTable<KernelObject>& KernelHandles();

inline void* ToHandle(uintptr_t value) {
  return reinterpret_cast<void*>(value);
}
inline uintptr_t FromHandle(const void* handle) {
  return reinterpret_cast<uintptr_t>(handle);
}

template <class T> std::shared_ptr<T> FindKernelObject(const void* handle) {
  return std::dynamic_pointer_cast<T>(KernelHandles().Find(FromHandle(handle)));
}

// The descriptor behind a handle of CreateFileA, with the reference that keeps it open meanwhile; Fd is -1
// for any other handle.
struct OpenFileRef {
  std::shared_ptr<KernelObject> Keep;
  int Fd = -1;
};
OpenFileRef FindOpenFile(const void* handle);

} // namespace kwsplat
