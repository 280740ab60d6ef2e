/* A sample KWSP plug-in: collects a request over as many pieces as it arrives in, then answers from a thread
   of its own with the size of the body it received. */
#define _POSIX_C_SOURCE 200809L

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "KWSPlugin.h"
#include "SampleThreads.h"

static KWSPBlock* Server;
static int Running; /* answering threads, guarded by the sample lock */

/* One request being collected; the list is guarded by the sample lock. */
typedef struct Collected {
  KWSPRequest Request;
  char* Text;
  size_t Length;
  struct Collected* Next;
} Collected;
static Collected* Requests;

static Collected* Find(KWSPRequest request) {
  Collected* at;
  for (at = Requests; at != NULL; at = at->Next)
    if (at->Request == request)
      return at;
  at = (Collected*)calloc(1, sizeof *at);
  if (at == NULL)
    return NULL;
  at->Request = request;
  at->Next = Requests;
  Requests = at;
  return at;
}

static void Unlink(Collected* done) {
  Collected** at;
  for (at = &Requests; *at != NULL; at = &(*at)->Next)
    if (*at == done) {
      *at = done->Next;
      return;
    }
}

/* The declared body length, or 0; -1 while the header is incomplete. */
static long BodyLength(const Collected* c, size_t* bodyStart) {
  const char* end = c->Length > 0 ? strstr(c->Text, "\r\n\r\n") : NULL;
  const char* at;
  if (end == NULL)
    return -1;
  *bodyStart = (size_t)(end - c->Text) + 4;
  for (at = c->Text; at < end; ++at)
    if (strncasecmp(at, "\r\nContent-Length:", 17) == 0)
      return strtol(at + 17, NULL, 10);
  return 0;
}

SAMPLE_THREAD(Answer) {
  Collected* c = (Collected*)argument;
  char reply[200];
  size_t start = 0;
  long length = BodyLength(c, &start);
  int size = snprintf(
      reply, sizeof reply,
      "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nCollected %ld body bytes in pieces.\n", length);
  Server->WriteReply(c->Request, reply, (uint32_t)size);
  Server->Complete(c->Request);
  free(c->Text);
  free(c);
  SampleLock();
  if (--Running == 0)
    SampleSignalIdle();
  SampleUnlock();
  SAMPLE_THREAD_END;
}

static void KWSP_CALL OnRequest(KWSPRequest request, void* data, uint32_t length) {
  Collected* c;
  char* grown;
  size_t start = 0;
  long body;
  SampleLock();
  c = Find(request);
  grown = c != NULL ? (char*)realloc(c->Text, c->Length + length + 1) : NULL;
  if (grown == NULL) {
    SampleUnlock();
    return;
  }
  memcpy(grown + c->Length, data, length);
  c->Length += length;
  grown[c->Length] = 0;
  c->Text = grown;
  body = BodyLength(c, &start);
  if (body < 0 || c->Length - start < (size_t)body) {
    SampleUnlock();
    return;
  }
  Unlink(c);
  ++Running;
  if (SampleStartThread(Answer, c) != 0) {
    --Running;
    SampleUnlock();
    free(c->Text);
    free(c);
    return;
  }
  SampleUnlock();
}

KWSP_EXPORT int32_t KWSP_CALL kwspInit(KWSPBlock* block) {
  Server = block;
  block->Accepted = block->ServerVersion >= KWSP_SERVER_VERSION;
  block->OnRequest = OnRequest;
  /* The server's own allocator: the server then writes the data straight into the block. */
  block->PluginReallocate = block->Reallocate;
  return 0;
}

/* Nothing may run in this library once it is unloaded. */
KWSP_EXPORT void KWSP_CALL kwspDone(void) {
  SampleLock();
  SampleWaitIdle(&Running);
  while (Requests != NULL) {
    Collected* c = Requests;
    Requests = c->Next;
    free(c->Text);
    free(c);
  }
  SampleUnlock();
}
