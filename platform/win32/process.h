// Version, program path, command line and process end. Include platform/win32.h, not this file.
#pragma once

#include "platform/win32/base.h"

#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2

typedef struct _OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
} OSVERSIONINFOA, *LPOSVERSIONINFOA;

// The arguments byte for byte, as the Windows C library declares them.
KWS_EXTERN_C int __argc;
KWS_EXTERN_C char** __argv;

KWS_EXTERN_C DWORD WINAPI GetVersion(void);
KWS_EXTERN_C BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation);
KWS_EXTERN_C LPSTR WINAPI GetCommandLineA(void);
KWS_EXTERN_C __attribute__((noreturn)) void WINAPI ExitProcess(UINT uExitCode);
