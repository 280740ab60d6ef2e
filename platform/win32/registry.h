// Read-only registry view (HKEY_CLASSES_ROOT). Include platform/win32.h, not this file.
#pragma once

#include "platform/win32/base.h"

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)((LONG)0x80000000))
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F
#define REG_NONE 0
#define REG_SZ 1

typedef LONG LSTATUS;
typedef DWORD REGSAM;

KWS_EXTERN_C LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                          PHKEY phkResult);
KWS_EXTERN_C LSTATUS WINAPI RegCloseKey(HKEY hKey);
KWS_EXTERN_C LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                                          LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                                          PFILETIME lpftLastWriteTime);
KWS_EXTERN_C LSTATUS WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                                             LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen,
                                             LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                                             LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                                             LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime);
KWS_EXTERN_C LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved,
                                             LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
