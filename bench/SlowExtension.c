/* The extension of bench/plugin_latency.sh: each request sits in HttpExtensionProc for the milliseconds its
   query gives, then is answered. */
#define _POSIX_C_SOURCE 200809L

#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "Isapi2.h"

__attribute__((visibility("default"))) BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* version) {
  version->dwExtensionVersion = HSE_VERSION;
  strcpy(version->lpszExtensionDesc, "slow extension");
  return TRUE;
}

__attribute__((visibility("default"))) DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  static char header[] = "Content-Type: text/plain\r\n\r\n";
  static char body[] = "slept\n";
  const long milliseconds = atol(ecb->lpszQueryString);
  struct timespec pause = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  DWORD length = sizeof body - 1;
  nanosleep(&pause, NULL);
  ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, "200 OK", NULL, (LPDWORD)header);
  ecb->WriteClient(ecb->ConnID, body, &length, HSE_IO_SYNC);
  return HSE_STATUS_SUCCESS;
}
