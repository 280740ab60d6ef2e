/* An extension for the host's tests: the query says what it does. Built twice, once refusing to load. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "plugins/sdk/Isapi2.h"

#define EXPORT __attribute__((visibility("default")))

static int Loads;
static EXTENSION_CONTROL_BLOCK* Kept;

EXPORT int TestIsapiLoads(void) {
  return Loads;
}

static void Note(const char* text) {
  const char* marker = getenv("KWS_TEST_MARKER");
  FILE* file = marker != NULL ? fopen(marker, "a") : NULL;
  if (file != NULL) {
    fputs(text, file);
    fclose(file);
  }
}

static void Write(EXTENSION_CONTROL_BLOCK* ecb, const char* text) {
  DWORD length = (DWORD)strlen(text);
  ecb->WriteClient(ecb->ConnID, (void*)text, &length, HSE_IO_SYNC);
}

/* The value of name=value in the query, or NULL. */
static const char* Arg(const char* query, const char* name, char* out, size_t size) {
  size_t length = strlen(name);
  const char* at = query;
  while (at != NULL && *at != 0) {
    if (strncmp(at, name, length) == 0 && at[length] == '=') {
      size_t n = strcspn(at + length + 1, "&");
      n = n < size - 1 ? n : size - 1;
      memcpy(out, at + length + 1, n);
      out[n] = 0;
      return out;
    }
    at = strchr(at, '&');
    at = at != NULL ? at + 1 : NULL;
  }
  return NULL;
}

/* GetServerVariable with a 128-byte buffer of '#' and the given size; the untouched part of the buffer is
   not shown. */
static void Variable(EXTENSION_CONTROL_BLOCK* ecb, const char* name, DWORD size) {
  char buffer[128];
  char line[400];
  char shown[200] = "";
  size_t i, n = 0;
  DWORD error;
  BOOL ok;
  memset(buffer, '#', sizeof buffer);
  SetLastError(0);
  ok = ecb->GetServerVariable(ecb->ConnID, (LPSTR)name, buffer, &size);
  error = ok ? 0 : GetLastError();
  for (i = 0; i < sizeof buffer && buffer[i] != '#' && n < sizeof shown - 3; ++i) {
    if (buffer[i] == 0) {
      shown[n++] = '\\';
      shown[n++] = '0';
    } else {
      shown[n++] = buffer[i];
    }
  }
  shown[n] = 0;
  snprintf(line, sizeof line, "ok=%d err=%u size=%u buf=%s", ok ? 1 : 0, (unsigned)error, (unsigned)size, shown);
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

BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* version) {
  ++Loads;
  version->dwExtensionVersion = MAKELONG(HSE_VERSION_MINOR, HSE_VERSION_MAJOR);
  strcpy(version->lpszExtensionDesc, "test extension");
#ifdef TEST_REFUSE
  return FALSE;
#else
  return TRUE;
#endif
}

DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  char value[100];
  char size[16];
  const char* query = ecb->lpszQueryString;
  if (Arg(query, "var", value, sizeof value) != NULL) {
    Variable(ecb, value, (DWORD)strtol(Arg(query, "size", size, sizeof size) ? size : "0", NULL, 10));
    return HSE_STATUS_SUCCESS;
  }
  if (Arg(query, "result", value, sizeof value) != NULL) {
    Write(ecb, "result ");
    Write(ecb, value);
    return (DWORD)strtol(value, NULL, 10);
  }
  if (Arg(query, "header", value, sizeof value) != NULL) {
    const char* header = value[0] == '1' ? "Content-Type: text/plain\r\n\r\n" : "";
    BOOL ok = ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, NULL, NULL, (LPDWORD)header);
    Write(ecb, ok ? "body" : "failed");
    return HSE_STATUS_SUCCESS;
  }
  if (strcmp(query, "keep") == 0) {
    Kept = ecb;
    return HSE_STATUS_PENDING;
  }
  Describe(ecb);
  return HSE_STATUS_SUCCESS;
}

BOOL WINAPI TerminateExtension(DWORD flags) {
  char line[64];
  snprintf(line, sizeof line, "TerminateExtension %u\n", (unsigned)flags);
  Note(line);
  return TRUE;
}
