/* An extension for the host's tests: the query says what it does. Built twice, once refusing to load. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "plugins/sdk/Isapi2.h"
#include "tests/plugins/modules/TestPlugin.h"

static int Loads;
static EXTENSION_CONTROL_BLOCK* Kept;

EXPORT int TestIsapiLoads(void) {
  return Loads;
}

static void Write(EXTENSION_CONTROL_BLOCK* ecb, const char* text) {
  DWORD length = (DWORD)strlen(text);
  ecb->WriteClient(ecb->ConnID, (void*)text, &length, HSE_IO_SYNC);
}

/* GetServerVariable into a buffer of '#' with the given size: a value read whole, or the buffer untouched. */
static void Variable(EXTENSION_CONTROL_BLOCK* ecb, const char* name, DWORD size) {
  char buffer[128];
  char line[400];
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

/* ReadClient for the kept request: the count it reports, and the bytes into out. */
EXPORT int TestIsapiReadKept(char* out, int size) {
  DWORD count = (DWORD)size;
  if (Kept == NULL || !Kept->ReadClient(Kept->ConnID, out, &count))
    return -1;
  return (int)count;
}

/* Calls every callback with the handle of a request kept pending earlier; the results as bits. */
EXPORT int TestIsapiCallKept(void) {
  char buffer[16] = "untouched";
  DWORD size = sizeof buffer;
  DWORD bytes = 4;
  int bits = 0;
  if (Kept == NULL)
    return -1;
  bits |= Kept->GetServerVariable(Kept->ConnID, "SERVER_SOFTWARE", buffer, &size) ? 1 : 0;
  bits |= strcmp(buffer, "untouched") == 0 ? 2 : 0;
  bits |= Kept->WriteClient(Kept->ConnID, "late", &bytes, 0) ? 4 : 0;
  size = sizeof buffer;
  bits |= Kept->ReadClient(Kept->ConnID, buffer, &size) && size == 0 ? 8 : 0;
  bits |= Kept->ServerSupportFunction(Kept->ConnID, HSE_REQ_DONE_WITH_SESSION, NULL, NULL, NULL) ? 16 : 0;
  Kept = NULL;
  return bits;
}

EXPORT BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* version) {
  ++Loads;
  version->dwExtensionVersion = MAKELONG(HSE_VERSION_MINOR, HSE_VERSION_MAJOR);
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
  } else if (sscanf(query, "header=%d", &number) == 1) {
    const char* header = number == 1 ? "Content-Type: text/plain\r\n\r\n" : "";
    BOOL ok =
        ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, NULL, NULL, (LPDWORD)header);
    Write(ecb, ok ? "body" : "failed");
  } else if (strcmp(query, "keep") == 0) {
    Kept = ecb;
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
