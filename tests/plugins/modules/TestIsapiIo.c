/* An extension for the host's tests of reading the body and of asynchronous operations: the query names
   the operation. "flood=N" writes N MiB as fast as it can; "upload" reads the whole body with ReadClient;
   "read" does the same with ASYNC_READ_CLIENT; "write" writes asynchronously; "transmit" sends a file of the
   site with TRANSMIT_FILE. Each answers with what it counted, and ends the session from its completion
   function. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "plugins/sdk/Isapi2.h"
#include "tests/plugins/modules/TestPlugin.h"

#ifndef _WIN32
/* The server exports the file functions of its platform layer. */
#define GENERIC_READ 0x80000000u
#define FILE_SHARE_READ 1
#define OPEN_EXISTING 3
#define FILE_ATTRIBUTE_NORMAL 0x80
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, void* security, DWORD creation, DWORD flags,
                          HANDLE templateFile);
BOOL WINAPI CloseHandle(HANDLE handle);
#endif

/* One request's reading: the body as counted so far, and where the next read goes. */
typedef struct Reading {
  EXTENSION_CONTROL_BLOCK* Ecb;
  DWORD Total;
  DWORD Sum;
  DWORD Reads;
  HANDLE File;
  char Buffer[16384];
} Reading;

static void Write(EXTENSION_CONTROL_BLOCK* ecb, const char* text) {
  DWORD length = (DWORD)strlen(text);
  ecb->WriteClient(ecb->ConnID, (void*)text, &length, HSE_IO_SYNC);
}

static void Count(Reading* reading, const char* bytes, DWORD count) {
  DWORD i;
  for (i = 0; i < count; ++i)
    reading->Sum = reading->Sum * 31 + (unsigned char)bytes[i];
  reading->Total += count;
}

static void Report(Reading* reading, const char* what) {
  char line[200];
  snprintf(line, sizeof line, "%s total=%u sum=%u", what, (unsigned)reading->Total, (unsigned)reading->Sum);
  Write(reading->Ecb, line);
}

static void End(Reading* reading) {
  EXTENSION_CONTROL_BLOCK* ecb = reading->Ecb;
  free(reading);
  ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_DONE_WITH_SESSION, NULL, NULL, NULL);
}

static void ReadNext(Reading* reading) {
  DWORD size = sizeof reading->Buffer;
  DWORD flags = HSE_IO_ASYNC;
  EXTENSION_CONTROL_BLOCK* ecb = reading->Ecb;
  if (!ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_ASYNC_READ_CLIENT, reading->Buffer, &size, &flags)) {
    Report(reading, "refused");
    End(reading);
  }
}

static void WINAPI ReadDone(EXTENSION_CONTROL_BLOCK* ecb, PVOID context, DWORD bytes, DWORD error) {
  Reading* reading = (Reading*)context;
  (void)ecb;
  ++reading->Reads;
  Count(reading, reading->Buffer, bytes);
  if (bytes > 0 && error == 0 && reading->Total < ecb->cbTotalBytes) {
    ReadNext(reading);
    return;
  }
  Report(reading, error == 0 ? "read" : "failed");
  End(reading);
}

static void WINAPI WriteDone(EXTENSION_CONTROL_BLOCK* ecb, PVOID context, DWORD bytes, DWORD error) {
  char line[100];
  snprintf(line, sizeof line, "|written=%u err=%u", (unsigned)bytes, (unsigned)error);
  Write(ecb, line);
  End((Reading*)context);
}

static void WINAPI TransmitDone(EXTENSION_CONTROL_BLOCK* ecb, PVOID context, DWORD bytes, DWORD error) {
  Reading* reading = (Reading*)context;
  char line[100];
  CloseHandle(reading->File);
  snprintf(line, sizeof line, "|sent=%u err=%u", (unsigned)bytes, (unsigned)error);
  Write(ecb, line);
  End(reading);
}

static DWORD Transmit(Reading* reading) {
  static const char head[] = "Content-Type: text/plain\r\n\r\n";
  static const char tail[] = "<tail>";
  EXTENSION_CONTROL_BLOCK* ecb = reading->Ecb;
  HSE_TF_INFO info;
  DWORD size = sizeof reading->Buffer;
  strcpy(reading->Buffer, "/hello.txt");
  if (!ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_MAP_URL_TO_PATH, reading->Buffer, &size, NULL))
    return HSE_STATUS_ERROR;
  reading->File = CreateFileA(reading->Buffer, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
  if (reading->File == INVALID_HANDLE_VALUE)
    return HSE_STATUS_ERROR;
  memset(&info, 0, sizeof info);
  info.pfnHseIO = TransmitDone;
  info.pContext = reading;
  info.hFile = reading->File;
  info.pszStatusCode = "200 OK";
  info.Offset = 6;
  info.pHead = (PVOID)head;
  info.HeadLength = sizeof head - 1;
  info.pTail = (PVOID)tail;
  info.TailLength = sizeof tail - 1;
  info.dwFlags = HSE_IO_ASYNC | HSE_IO_SEND_HEADERS;
  if (!ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_TRANSMIT_FILE, &info, NULL, NULL)) {
    CloseHandle(reading->File);
    return HSE_STATUS_ERROR;
  }
  return HSE_STATUS_PENDING;
}

EXPORT BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* version) {
  version->dwExtensionVersion = HSE_VERSION;
  strcpy(version->lpszExtensionDesc, "test i/o");
  return TRUE;
}

EXPORT DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  static char text[] = "hello async";
  const char* query = ecb->lpszQueryString;
  Reading* reading = (Reading*)calloc(1, sizeof(Reading));
  DWORD size;
  unsigned mebibytes;
  if (reading == NULL)
    return HSE_STATUS_ERROR;
  reading->Ecb = ecb;
  Count(reading, (const char*)ecb->lpbData, ecb->cbAvailable);
  if (strcmp(query, "upload") == 0) {
    for (size = sizeof reading->Buffer; ecb->ReadClient(ecb->ConnID, reading->Buffer, &size) && size > 0;
         size = sizeof reading->Buffer) {
      ++reading->Reads;
      Count(reading, reading->Buffer, size);
    }
    Report(reading, "upload");
    free(reading);
    return HSE_STATUS_SUCCESS;
  }
  if (sscanf(query, "flood=%u", &mebibytes) == 1) {
    /* size MiB, a piece at a time, as fast as the server takes them. */
    DWORD piece;
    unsigned long left = (unsigned long)mebibytes << 20;
    memset(reading->Buffer, 'f', sizeof reading->Buffer);
    ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, "200 OK", NULL, NULL);
    for (; left > 0; left -= piece) {
      piece = left < sizeof reading->Buffer ? (DWORD)left : (DWORD)sizeof reading->Buffer;
      if (!ecb->WriteClient(ecb->ConnID, reading->Buffer, &piece, HSE_IO_SYNC))
        break;
    }
    free(reading);
    return HSE_STATUS_SUCCESS;
  }
  if (strcmp(query, "read") == 0) {
    ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_IO_COMPLETION, (LPVOID)ReadDone, NULL, (LPDWORD)reading);
    if (reading->Total < ecb->cbTotalBytes)
      ReadNext(reading);
    else
      ReadDone(ecb, reading, 0, 0);
    return HSE_STATUS_PENDING;
  }
  if (strcmp(query, "write") == 0) {
    size = (DWORD)strlen(text);
    ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_IO_COMPLETION, (LPVOID)WriteDone, NULL, (LPDWORD)reading);
    if (ecb->WriteClient(ecb->ConnID, text, &size, HSE_IO_ASYNC))
      return HSE_STATUS_PENDING;
  } else if (strcmp(query, "write-unset") == 0) {
    /* No completion function: the asynchronous write is refused. */
    char line[40];
    size = 5;
    snprintf(line, sizeof line, "ok=%d", ecb->WriteClient(ecb->ConnID, text, &size, HSE_IO_ASYNC) ? 1 : 0);
    Write(ecb, line);
  } else if (strcmp(query, "transmit") == 0) {
    DWORD result = Transmit(reading);
    if (result == HSE_STATUS_PENDING)
      return result;
  }
  free(reading);
  return HSE_STATUS_SUCCESS;
}
