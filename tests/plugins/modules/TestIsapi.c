/* An extension for the host's tests of the control block, the server variables and the results of its entry:
   the query says what it does. Built twice, once refusing to load. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "plugins/sdk/Isapi2.h"
#include "tests/plugins/modules/TestPlugin.h"

static int Loads;
/* The request kept pending: a copy of its control block, whose handle and functions outlive the block. */
static EXTENSION_CONTROL_BLOCK KeptBlock;
static EXTENSION_CONTROL_BLOCK* const Kept = &KeptBlock;

EXPORT int TestIsapiLoads(void) {
  return Loads;
}

static void Write(EXTENSION_CONTROL_BLOCK* ecb, const char* text) {
  DWORD length = (DWORD)strlen(text);
  ecb->WriteClient(ecb->ConnID, (void*)text, &length, HSE_IO_SYNC);
}

/* GetServerVariable into a buffer of '#' with the given size: a value read whole, or the buffer untouched. */
static void Variable(EXTENSION_CONTROL_BLOCK* ecb, const char* name, DWORD size) {
  char buffer[512];
  char line[1200];
  BOOL ok;
  DWORD error;
  memset(buffer, '#', sizeof buffer);
  SetLastError(0);
  ok = ecb->GetServerVariable(ecb->ConnID, (LPSTR)name, buffer, &size);
  error = ok ? 0 : GetLastError();
  snprintf(line, sizeof line, "ok=%d err=%u size=%u buf=%s", ok ? 1 : 0, (unsigned)error, (unsigned)size,
           ok                 ? strcat(buffer, "\\0")
           : buffer[0] == '#' ? ""
                              : "touched");
  Write(ecb, line);
}

static void Describe(EXTENSION_CONTROL_BLOCK* ecb) {
  char line[600];
  snprintf(line, sizeof line,
           "method=%s query=%s total=%u avail=%u data=%.*s null=%d type=%s info=[%s] translated=%s size=%u "
           "version=%x",
           ecb->lpszMethod, ecb->lpszQueryString, (unsigned)ecb->cbTotalBytes, (unsigned)ecb->cbAvailable,
           (int)ecb->cbAvailable, ecb->lpbData != NULL ? (const char*)ecb->lpbData : "",
           ecb->lpbData == NULL ? 1 : 0, ecb->lpszContentType, ecb->lpszPathInfo, ecb->lpszPathTranslated,
           (unsigned)ecb->cbSize, (unsigned)ecb->dwVersion);
  Write(ecb, line);
}

/* Calls every callback with the handle of the request kept pending earlier: what each returned, with the
   last error after FALSE. */
EXPORT void TestIsapiCallKept(char* out, int size) {
  char buffer[64] = "untouched";
  DWORD room = sizeof buffer;
  DWORD bytes = 4;
  BOOL variable, write, read, done;
  DWORD variableError, writeError, readError;
  variable = Kept->GetServerVariable(Kept->ConnID, "SERVER_SOFTWARE", buffer, &room);
  variableError = variable ? 0 : GetLastError();
  write = Kept->WriteClient(Kept->ConnID, "late", &bytes, 0);
  writeError = write ? 0 : GetLastError();
  room = sizeof buffer;
  read = Kept->ReadClient(Kept->ConnID, buffer, &room);
  readError = read ? 0 : GetLastError();
  done = Kept->ServerSupportFunction(Kept->ConnID, HSE_REQ_DONE_WITH_SESSION, NULL, NULL, NULL);
  snprintf(out, (size_t)size, "variable=%d/%u write=%d/%u read=%d/%u:%u done=%d/%u", variable,
           (unsigned)variableError, write, (unsigned)writeError, read, (unsigned)readError,
           read ? (unsigned)room : 0u, done, done ? 0u : (unsigned)GetLastError());
}

EXPORT BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* version) {
  ++Loads;
  version->dwExtensionVersion = HSE_VERSION;
  strcpy(version->lpszExtensionDesc, "test extension");
#ifdef TEST_REFUSE
  return FALSE;
#else
  return TRUE;
#endif
}

EXPORT DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  char name[100];
  unsigned size;
  int number;
  const char* query = ecb->lpszQueryString;
  if (sscanf(query, "var=%99[^&]&size=%u", name, &size) == 2) {
    Variable(ecb, name, size);
  } else if (sscanf(query, "result=%d", &number) == 1) {
    Write(ecb, "result ");
    Write(ecb, query + 7);
    return (DWORD)number;
  } else if (strcmp(query, "keep") == 0) {
    KeptBlock = *ecb;
    return HSE_STATUS_PENDING;
  } else {
    Describe(ecb);
  }
  return HSE_STATUS_SUCCESS;
}

EXPORT BOOL WINAPI TerminateExtension(DWORD flags) {
  Note(flags == HSE_TERM_MUST_UNLOAD ? "TerminateExtension 2\n" : "TerminateExtension ?\n");
  return TRUE;
}
