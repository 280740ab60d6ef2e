// Threads, events, waits and critical sections. Include platform/win32.h, not this file.
#pragma once

#include "platform/win32/base.h"

typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID lpThreadParameter);

// Opaque storage; the layer keeps its own lock object inside.
typedef struct _RTL_CRITICAL_SECTION {
  alignas(16) unsigned char Opaque[64];
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

#define CREATE_SUSPENDED 0x00000004
#define STILL_ACTIVE 259
#define WAIT_OBJECT_0 0x00000000L
#define WAIT_ABANDONED 0x00000080L
#define WAIT_TIMEOUT 258L
#define WAIT_FAILED 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64
#define QS_KEY 0x0001
#define QS_MOUSEMOVE 0x0002
#define QS_MOUSEBUTTON 0x0004
#define QS_POSTMESSAGE 0x0008
#define QS_TIMER 0x0010
#define QS_PAINT 0x0020
#define QS_SENDMESSAGE 0x0040
#define QS_HOTKEY 0x0080
#define QS_ALLPOSTMESSAGE 0x0100
#define QS_ALLEVENTS 0x04BF
#define QS_ALLINPUT 0x04FF

KWS_EXTERN_C HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                                        LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                                        DWORD dwCreationFlags, LPDWORD lpThreadId);
KWS_EXTERN_C DWORD WINAPI ResumeThread(HANDLE hThread);
KWS_EXTERN_C DWORD WINAPI SuspendThread(HANDLE hThread);
KWS_EXTERN_C HANDLE WINAPI GetCurrentThread(void);
KWS_EXTERN_C DWORD WINAPI GetCurrentThreadId(void);
KWS_EXTERN_C DWORD WINAPI GetCurrentProcessId(void);
KWS_EXTERN_C BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);
KWS_EXTERN_C HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                                        BOOL bInitialState, LPCSTR lpName);
KWS_EXTERN_C BOOL WINAPI SetEvent(HANDLE hEvent);
KWS_EXTERN_C BOOL WINAPI ResetEvent(HANDLE hEvent);
KWS_EXTERN_C DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
KWS_EXTERN_C DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                                                 DWORD dwMilliseconds);
KWS_EXTERN_C DWORD WINAPI MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll,
                                                    DWORD dwMilliseconds, DWORD dwWakeMask);
KWS_EXTERN_C BOOL WINAPI CloseHandle(HANDLE hObject);
KWS_EXTERN_C void WINAPI Sleep(DWORD dwMilliseconds);
KWS_EXTERN_C DWORD WINAPI GetTickCount(void);

KWS_EXTERN_C void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
KWS_EXTERN_C void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
KWS_EXTERN_C void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
KWS_EXTERN_C BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
KWS_EXTERN_C void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

KWS_EXTERN_C LONG WINAPI InterlockedIncrement(LONG volatile* Addend);
KWS_EXTERN_C LONG WINAPI InterlockedDecrement(LONG volatile* Addend);
KWS_EXTERN_C LONG WINAPI InterlockedExchange(LONG volatile* Target, LONG Value);
KWS_EXTERN_C LONG WINAPI InterlockedExchangeAdd(LONG volatile* Addend, LONG Value);
KWS_EXTERN_C LONG WINAPI InterlockedCompareExchange(LONG volatile* Destination, LONG Exchange,
                                                    LONG Comparand);
