/* A sample ISAPI extension that answers later: it returns HSE_STATUS_PENDING and a thread of its own writes
   the reply and ends the session. */
#define _POSIX_C_SOURCE 200809L

#include <pthread.h>
#include <string.h>
#include <time.h>

#include "Isapi2.h"

static pthread_mutex_t Lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t Idle = PTHREAD_COND_INITIALIZER;
static int Running; /* answering threads, guarded by Lock */

static void* Answer(void* argument) {
  EXTENSION_CONTROL_BLOCK* ecb = (EXTENSION_CONTROL_BLOCK*)argument;
  static const char header[] = "Content-Type: text/plain\r\n\r\n";
  static const char body[] = "Answered later, from the extension's own thread.\n";
  const struct timespec pause = {0, 100 * 1000 * 1000};
  DWORD length = sizeof body - 1;
  nanosleep(&pause, NULL);
  ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, NULL, NULL, (LPDWORD)header);
  ecb->WriteClient(ecb->ConnID, (LPVOID)body, &length, HSE_IO_SYNC);
  ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_DONE_WITH_SESSION, NULL, NULL, NULL);
  pthread_mutex_lock(&Lock);
  if (--Running == 0)
    pthread_cond_broadcast(&Idle);
  pthread_mutex_unlock(&Lock);
  return NULL;
}

BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* version) {
  version->dwExtensionVersion = MAKELONG(HSE_VERSION_MINOR, HSE_VERSION_MAJOR);
  strncpy(version->lpszExtensionDesc, "Sample pending extension", HSE_MAX_EXT_DLL_NAME_LEN - 1);
  return TRUE;
}

DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  pthread_t thread;
  pthread_mutex_lock(&Lock);
  ++Running;
  pthread_mutex_unlock(&Lock);
  if (pthread_create(&thread, NULL, Answer, ecb) != 0) {
    pthread_mutex_lock(&Lock);
    --Running;
    pthread_mutex_unlock(&Lock);
    return HSE_STATUS_ERROR;
  }
  pthread_detach(thread);
  return HSE_STATUS_PENDING;
}

/* Nothing may run in this library once it is unloaded. */
BOOL WINAPI TerminateExtension(DWORD flags) {
  (void)flags;
  pthread_mutex_lock(&Lock);
  while (Running > 0)
    pthread_cond_wait(&Idle, &Lock);
  pthread_mutex_unlock(&Lock);
  return TRUE;
}
