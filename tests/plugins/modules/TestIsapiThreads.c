/* An extension for the host's tests of threads: "wait" answers from a thread of its own while its entry waits
   for that thread; "sleep=N" answers after N ms inside its entry; "pending=N" returns HSE_STATUS_PENDING and
   answers from a thread of its own N ms later. Its termination entry waits for those threads, then notes
   that it ran. */
#define _POSIX_C_SOURCE 200809L

#include <stdio.h>
#include <string.h>

#include "examples/plugins/SampleThreads.h"
#include "plugins/sdk/Isapi2.h"
#include "tests/plugins/modules/TestPlugin.h"

/* Guarded by the sample lock. */
static int Helpers; /* threads an entry waits for */
static int Pending; /* threads answering pending requests */
static int Inside;  /* entries running now */
static int MostInside;

typedef struct Job {
  EXTENSION_CONTROL_BLOCK* Ecb;
  unsigned Delay;
} Job;
static Job Jobs[64];
static int NextJob;

EXPORT int TestIsapiMostInside(void) {
  int most;
  SampleLock();
  most = MostInside;
  MostInside = 0;
  SampleUnlock();
  return most;
}

static void Write(EXTENSION_CONTROL_BLOCK* ecb, const char* text) {
  DWORD length = (DWORD)strlen(text);
  ecb->WriteClient(ecb->ConnID, (void*)text, &length, HSE_IO_SYNC);
}

static void Header(EXTENSION_CONTROL_BLOCK* ecb) {
  static char header[] = "Content-Type: text/plain\r\n\r\n";
  ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, "200 OK", NULL, (LPDWORD)header);
}

static void Leave(int* counter) {
  SampleLock();
  if (--*counter == 0)
    SampleSignalIdle();
  SampleUnlock();
}

SAMPLE_THREAD(Helper) {
  EXTENSION_CONTROL_BLOCK* ecb = (EXTENSION_CONTROL_BLOCK*)argument;
  char name[64];
  DWORD size = sizeof name;
  Header(ecb);
  if (ecb->GetServerVariable(ecb->ConnID, "SERVER_PROTOCOL", name, &size))
    Write(ecb, name);
  Write(ecb, " from the extension's thread");
  Leave(&Helpers);
  SAMPLE_THREAD_END;
}

SAMPLE_THREAD(Answer) {
  Job* job = (Job*)argument;
  SamplePause(job->Delay);
  Header(job->Ecb);
  Write(job->Ecb, "answered later");
  job->Ecb->ServerSupportFunction(job->Ecb->ConnID, HSE_REQ_DONE_WITH_SESSION, NULL, NULL, NULL);
  Leave(&Pending);
  SAMPLE_THREAD_END;
}

static DWORD Serve(EXTENSION_CONTROL_BLOCK* ecb) {
  const char* query = ecb->lpszQueryString;
  unsigned delay;
  if (strcmp(query, "wait") == 0) {
    SampleLock();
    ++Helpers;
    SampleUnlock();
    if (SampleStartThread(Helper, ecb) != 0) {
      Leave(&Helpers);
      return HSE_STATUS_ERROR;
    }
    SampleLock();
    SampleWaitIdle(&Helpers);
    SampleUnlock();
    return HSE_STATUS_SUCCESS;
  }
  if (sscanf(query, "sleep=%u", &delay) == 1) {
    const int noted = strstr(query, "&note") != NULL;
    if (noted)
      Note("entry begins\n");
    SamplePause(delay);
    if (noted)
      Note("entry ends\n");
    Header(ecb);
    Write(ecb, "slept");
    return HSE_STATUS_SUCCESS;
  }
  if (sscanf(query, "pending=%u", &delay) == 1) {
    Job* job;
    SampleLock();
    job = &Jobs[NextJob++ % 64];
    job->Ecb = ecb;
    job->Delay = delay;
    ++Pending;
    SampleUnlock();
    if (SampleStartThread(Answer, job) != 0) {
      Leave(&Pending);
      return HSE_STATUS_ERROR;
    }
    return HSE_STATUS_PENDING;
  }
  return HSE_STATUS_ERROR;
}

EXPORT BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* version) {
  version->dwExtensionVersion = HSE_VERSION;
  strcpy(version->lpszExtensionDesc, "test threads");
  return TRUE;
}

EXPORT DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  DWORD result;
  SampleLock();
  if (++Inside > MostInside)
    MostInside = Inside;
  SampleUnlock();
  result = Serve(ecb);
  SampleLock();
  --Inside;
  SampleUnlock();
  return result;
}

/* Nothing may run in this library once it is unloaded. */
EXPORT BOOL WINAPI TerminateExtension(DWORD flags) {
  SampleLock();
  SampleWaitIdle(&Pending);
  SampleUnlock();
  Note(flags == HSE_TERM_MUST_UNLOAD ? "TerminateExtension 2\n" : "TerminateExtension ?\n");
  return TRUE;
}
