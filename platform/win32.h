// The one door to the operating system for everything above platform/.
// On Windows it is the system's own headers; elsewhere it is our Win32 subset.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winsock.h>
// The system's header undefines it at its end; our procedure types name it.
#ifndef WSAAPI
#define WSAAPI WINAPI
#endif
#else
#include "platform/win32/base.h"
#include "platform/win32/errors.h"
#include "platform/win32/messages.h"
#include "platform/win32/threads.h"
#include "platform/win32/process.h"
#include "platform/win32/files.h"
#include "platform/win32/registry.h"
#include "platform/win32/modules.h"
#include "platform/win32/services.h"
#include "platform/win32/winsock.h"
#endif
