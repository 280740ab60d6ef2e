// The hidden windows of socket objects: one window class for the process, one window per object, whose
// per-window storage points at the object.
#pragma once

#include "platform/win32.h"

class TCustomWSocket;

// The class name; registered on first use, never unregistered.
constexpr const char* kSocketWindowClassName = "XSocketWindowClass";

// Creates a window of the calling thread bound to owner; null (and nothing reported) on failure.
HWND CreateSocketWindow(TCustomWSocket* owner);

// Clears the window's object pointer, so no later message reaches the object. Called on another thread
// than the window's, it also waits until a message being dispatched to the object there has returned.
void UnbindSocketWindow(HWND window, DWORD windowThread);

// Destroys the window: at once on its own thread, otherwise by posting WM_CLOSE, which the unbound window
// passes to DefWindowProcA on its own thread.
void ReleaseSocketWindow(HWND window, DWORD windowThread);
