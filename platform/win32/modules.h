// Dynamic libraries. Include platform/win32.h, not this file.
#pragma once

#include "platform/win32/base.h"

KWS_EXTERN_C HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName);
KWS_EXTERN_C FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
KWS_EXTERN_C BOOL WINAPI FreeLibrary(HMODULE hLibModule);
KWS_EXTERN_C HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName);
KWS_EXTERN_C DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
