/* A sample ISAPI extension that answers later: it returns HSE_STATUS_PENDING and a thread of its own writes
   the reply and ends the session. */
#define _POSIX_C_SOURCE 200809L

#include <string.h>

#include "Isapi2.h"
#include "SampleThreads.h"

static int Running; /* answering threads, guarded by the sample lock */

SAMPLE_THREAD(Answer) {
  EXTENSION_CONTROL_BLOCK* ecb = (EXTENSION_CONTROL_BLOCK*)argument;
  static const char header[] = "Content-Type: text/plain\r\n\r\n";
  static const char body[] = "Answered later, from the extension's own thread.\n";
  DWORD length = sizeof body - 1;
  SamplePause(100);
  ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, NULL, NULL, (LPDWORD)header);
  ecb->WriteClient(ecb->ConnID, (LPVOID)body, &length, HSE_IO_SYNC);
  ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_DONE_WITH_SESSION, NULL, NULL, NULL);
  SampleLock();
  if (--Running == 0)
    SampleSignalIdle();
  SampleUnlock();
  SAMPLE_THREAD_END;
}

BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* version) {
  version->dwExtensionVersion = HSE_VERSION;
  strncpy(version->lpszExtensionDesc, "Sample pending extension", HSE_MAX_EXT_DLL_NAME_LEN - 1);
  return TRUE;
}

DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  SampleLock();
  ++Running;
  SampleUnlock();
  if (SampleStartThread(Answer, ecb) != 0) {
    SampleLock();
    --Running;
    SampleUnlock();
    return HSE_STATUS_ERROR;
  }
  return HSE_STATUS_PENDING;
}

/* Nothing may run in this library once it is unloaded. */
BOOL WINAPI TerminateExtension(DWORD flags) {
  (void)flags;
  SampleLock();
  SampleWaitIdle(&Running);
  SampleUnlock();
  return TRUE;
}
