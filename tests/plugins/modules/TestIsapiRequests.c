/* An extension for the host's tests of the support requests: the query names the request it makes, and it
   writes what came back. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "plugins/sdk/Isapi2.h"
#include "tests/plugins/modules/TestPlugin.h"

static void Write(EXTENSION_CONTROL_BLOCK* ecb, const char* text) {
  DWORD length = (DWORD)strlen(text);
  ecb->WriteClient(ecb->ConnID, (void*)text, &length, HSE_IO_SYNC);
}

/* The result of a request that writes no reply of its own: "ok=1 err=0", and what it gave back. */
static void Result(EXTENSION_CONTROL_BLOCK* ecb, BOOL ok, const char* more) {
  char line[600];
  snprintf(line, sizeof line, "ok=%d err=%u%s", ok ? 1 : 0, ok ? 0u : (unsigned)GetLastError(), more);
  Write(ecb, line);
}

static void Map(EXTENSION_CONTROL_BLOCK* ecb, const char* url, DWORD room) {
  char buffer[400];
  char more[500];
  DWORD size = room;
  BOOL ok;
  strcpy(buffer, url);
  ok = ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_MAP_URL_TO_PATH, buffer, &size, NULL);
  snprintf(more, sizeof more, " size=%u path=%s", (unsigned)size, ok ? buffer : "");
  Result(ecb, ok, more);
}

static void MapEx(EXTENSION_CONTROL_BLOCK* ecb, const char* url) {
  HSE_URL_MAPEX_INFO info;
  char more[500];
  BOOL ok;
  memset(&info, 0, sizeof info);
  ok = ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_MAP_URL_TO_PATH_EX, (LPVOID)url, NULL, (LPDWORD)&info);
  snprintf(more, sizeof more, " path=%s flags=%u path=%u url=%u", info.lpszPath, (unsigned)info.dwFlags,
           (unsigned)info.cchMatchingPath, (unsigned)info.cchMatchingURL);
  Result(ecb, ok, more);
}

static void Flag(EXTENSION_CONTROL_BLOCK* ecb, DWORD request) {
  BOOL value = 7;
  char more[40];
  BOOL ok = ecb->ServerSupportFunction(ecb->ConnID, request, &value, NULL, NULL);
  snprintf(more, sizeof more, " value=%d", (int)value);
  Result(ecb, ok, more);
}

EXPORT BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* version) {
  version->dwExtensionVersion = HSE_VERSION;
  strcpy(version->lpszExtensionDesc, "test requests");
  return TRUE;
}

EXPORT DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  static char status[] = "201 Created";
  static char header[] = "Content-Type: text/plain\r\n\r\n";
  const char* query = ecb->lpszQueryString;
  unsigned code;
  unsigned room;
  char url[300];
  if (strcmp(query, "header") == 0) {
    ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, status, NULL, (LPDWORD)header);
    Write(ecb, "body");
  } else if (strcmp(query, "header-bare") == 0) {
    ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, NULL, NULL, NULL);
    Write(ecb, "body");
  } else if (strcmp(query, "header-code") == 0) {
    ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, "404", NULL, (LPDWORD)header);
  } else if (strcmp(query, "header-ex") == 0) {
    HSE_SEND_HEADER_EX_INFO info;
    info.pszStatus = "302 Moved Elsewhere";
    info.pszHeader = "Location: /x\r\n\r\ntruncated";
    info.cchStatus = (DWORD)strlen(info.pszStatus);
    info.cchHeader = 16;
    info.fKeepConn = TRUE;
    ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER_EX, &info, NULL, NULL);
    return HSE_STATUS_SUCCESS_AND_KEEP_CONN;
  } else if (strcmp(query, "redirect") == 0) {
    ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_URL_REDIRECT_RESP, "http://example.org/there", NULL,
                               NULL);
  } else if (sscanf(query, "sendurl=%299s", url) == 1) {
    if (!ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_URL, url, NULL, NULL))
      Result(ecb, FALSE, "");
  } else if (sscanf(query, "map=%299[^&]&room=%u", url, &room) == 2) {
    Map(ecb, url, room);
  } else if (sscanf(query, "mapex=%299s", url) == 1) {
    MapEx(ecb, url);
  } else if (strcmp(query, "keepconn") == 0) {
    Flag(ecb, HSE_REQ_IS_KEEP_CONN);
  } else if (strcmp(query, "connected") == 0) {
    Flag(ecb, HSE_REQ_IS_CONNECTED);
  } else if (sscanf(query, "code=%u", &code) == 1) {
    Result(ecb, ecb->ServerSupportFunction(ecb->ConnID, code, NULL, NULL, NULL), "");
  } else if (strcmp(query, "close") == 0) {
    ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_CLOSE_CONNECTION, NULL, NULL, NULL);
    Result(ecb, ecb->WriteClient(ecb->ConnID, "x", &(DWORD){1}, HSE_IO_SYNC), "");
  } else if (strcmp(query, "silent-error") == 0) {
    return HSE_STATUS_ERROR;
  } else if (strcmp(query, "done") == 0) {
    Write(ecb, "answered");
    ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_DONE_WITH_SESSION, NULL, NULL, NULL);
    return HSE_STATUS_PENDING;
  }
  return HSE_STATUS_SUCCESS;
}
