// Kernel handle table, last error, start-up, clock, critical sections and interlocked operations.
#include <atomic>
#include <chrono>
#include <mutex>
#include <new>
#include <thread>

#include "platform/src/KernelObjects.h"
#include "platform/src/ThreadState.h"
#include "platform/src/Threading.h"
#include "platform/src/posix/startup.h"
#include "platform/win32.h"

namespace kwsplat {

HandleTable<KernelObject>& KernelHandles() {
  static auto* table = new HandleTable<KernelObject>(0x1000, 4); // never destroyed
  return *table;
}

uint32_t& LastErrorSlot() {
  thread_local uint32_t slot = 0;
  return slot;
}

namespace {

// Before any static initialiser of the program, so every one of them may use the layer.
__attribute__((constructor(101))) void StartUp() {
  posix::IgnoreBrokenPipes();
  posix::RaiseOpenFileLimit();
  InitMainThread();
}

std::recursive_mutex& LockOf(LPCRITICAL_SECTION section) {
  return *std::launder(reinterpret_cast<std::recursive_mutex*>(section->Opaque));
}

static_assert(sizeof(std::recursive_mutex) <= sizeof(CRITICAL_SECTION::Opaque));
static_assert(alignof(std::recursive_mutex) <= alignof(CRITICAL_SECTION));

} // namespace
} // namespace kwsplat

using namespace kwsplat;

extern "C" {

DWORD WINAPI GetLastError(void) {
  return LastErrorSlot();
}

void WINAPI SetLastError(DWORD dwErrCode) {
  LastErrorSlot() = dwErrCode;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
  if (hObject == GetCurrentThread())
    return TRUE;
  // Dropping the table's reference ends the object once no wait or thread still holds it.
  if (!KernelHandles().Remove(FromHandle(hObject))) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI GetCurrentProcessId(void) {
  return static_cast<DWORD>(posix::ProcessId());
}

DWORD WINAPI GetTickCount(void) {
  auto since = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

void WINAPI Sleep(DWORD dwMilliseconds) {
  if (dwMilliseconds == 0) {
    std::this_thread::yield();
    return;
  }
  if (dwMilliseconds == INFINITE) {
    for (;;)
      std::this_thread::sleep_for(std::chrono::hours(24));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  new (lpCriticalSection->Opaque) std::recursive_mutex();
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  LockOf(lpCriticalSection).~recursive_mutex();
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  LockOf(lpCriticalSection).lock();
}

BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  return LockOf(lpCriticalSection).try_lock() ? TRUE : FALSE;
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  LockOf(lpCriticalSection).unlock();
}

LONG WINAPI InterlockedIncrement(LONG volatile* Addend) {
  return __atomic_add_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedDecrement(LONG volatile* Addend) {
  return __atomic_sub_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedExchange(LONG volatile* Target, LONG Value) {
  return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedExchangeAdd(LONG volatile* Addend, LONG Value) {
  return __atomic_fetch_add(Addend, Value, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedCompareExchange(LONG volatile* Destination, LONG Exchange, LONG Comparand) {
  __atomic_compare_exchange_n(Destination, &Comparand, Exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return Comparand;
}

} // extern "C"
