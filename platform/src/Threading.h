// What the layer's other sources need from its thread and queue engine (core.cpp, threads.cpp).
// Plain C++ only, so it serves sources on both sides of the win32.h / system-header divide.
#pragma once

#include <cstdint>

namespace kwsplat {

// The calling thread's last-error slot (GetLastError, and WSAGetLastError shares it).
uint32_t& LastErrorSlot();

// The thread that ran the program's start-up.
bool IsMainThread();
uint32_t MainThreadId();

// Called on a thread of the layer's pool each time it starts a new CreateThread routine, so per-thread
// state of a previous routine (a static result buffer, say) never leaks into the next. Register once,
// at start-up or on first use; at most kMaxThreadResets hooks.
using ThreadResetHook = void (*)();
constexpr int kMaxThreadResets = 16;
void RegisterThreadReset(ThreadResetHook hook);

} // namespace kwsplat
