/* A sample ISAPI extension for uploads of any size: reads the body with ReadClient, a piece at a time, and
   answers with its length and a checksum; a body that did not arrive whole gets "400 Bad Request". POST
   something large to it, for example: curl -T big.iso http://localhost:8080/isapi/isapi_upload */
#include <stdio.h>
#include <string.h>

#include "Isapi2.h"

static void Answer(EXTENSION_CONTROL_BLOCK* ecb, const char* status, const char* text) {
  HSE_SEND_HEADER_EX_INFO header;
  char headerText[128];
  DWORD length = (DWORD)strlen(text);
  snprintf(headerText, sizeof headerText, "Content-Type: text/plain\r\nContent-Length: %u\r\n\r\n",
           (unsigned)length);
  header.pszStatus = status;
  header.cchStatus = (DWORD)strlen(status);
  header.pszHeader = headerText;
  header.cchHeader = (DWORD)strlen(headerText);
  header.fKeepConn = FALSE;
  ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER_EX, &header, NULL, NULL);
  ecb->WriteClient(ecb->ConnID, (LPVOID)text, &length, HSE_IO_SYNC);
}

static void Add(unsigned long* sum, const BYTE* bytes, DWORD count) {
  DWORD i;
  for (i = 0; i < count; ++i)
    *sum = (*sum * 31 + bytes[i]) & 0xFFFFFFFFul;
}

BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* version) {
  version->dwExtensionVersion = HSE_VERSION;
  strncpy(version->lpszExtensionDesc, "Sample upload extension", HSE_MAX_EXT_DLL_NAME_LEN - 1);
  return TRUE;
}

/* Thread-safe: the server may run several requests in it at once. */
DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  BYTE buffer[65536];
  unsigned long sum = 0;
  DWORD read = ecb->cbAvailable;
  DWORD count;
  char text[160];
  Add(&sum, ecb->lpbData, ecb->cbAvailable);
  while (read < ecb->cbTotalBytes) {
    count = sizeof buffer;
    if (!ecb->ReadClient(ecb->ConnID, buffer, &count) || count == 0)
      break; /* the client has gone, or sent nothing for the server's time-out */
    Add(&sum, buffer, count);
    read += count;
  }
  snprintf(text, sizeof text, "Received %lu of %lu body bytes, checksum %08lx.\n", (unsigned long)read,
           (unsigned long)ecb->cbTotalBytes, sum);
  Answer(ecb, read == ecb->cbTotalBytes ? "200 OK" : "400 Bad Request", text);
  return HSE_STATUS_SUCCESS;
}

BOOL WINAPI TerminateExtension(DWORD flags) {
  (void)flags;
  return TRUE;
}
