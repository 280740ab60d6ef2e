/* A KWSP plug-in for the host's tests, built once per allocator: ALLOC_MODE 0 its own exact blocks, 1 none
   (the pointer stays null), 2 blocks one byte short, 3 the server's Reallocate. The request path says what
   it does. */
#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "plugins/sdk/KWSPlugin.h"
#include "tests/plugins/modules/TestPlugin.h"

static KWSPBlock* Server;
static KWSPRequest Kept;
static int InBlock = -1;
static void* LastBlock;

#if ALLOC_MODE != 3
static void KWSP_CALL PluginReallocate(void** block, uint32_t size) {
  if (size == 0) {
    free(*block);
    *block = NULL;
    return;
  }
#if ALLOC_MODE == 0
  *block = malloc(size);
#elif ALLOC_MODE == 2
  *block = malloc(size - 1);
#endif
  LastBlock = *block;
}
#endif

static void Write(KWSPRequest request, const char* text) {
  Server->WriteReply(request, text, (uint32_t)strlen(text));
}

static int Has(const char* text, uint32_t length, const char* word) {
  const size_t wordLength = strlen(word);
  for (size_t at = 0; at + wordLength <= length; ++at)
    if (memcmp(text + at, word, wordLength) == 0)
      return 1;
  return 0;
}

static void KWSP_CALL OnRequest(KWSPRequest request, void* data, uint32_t length) {
  char line[200];
  const char* text = (const char*)data;
  InBlock = data == LastBlock ? 1 : 0;
  if (Has(text, length, "?zero")) {
    Server->WriteReply(request, "never", 0);
    return;
  }
  if (Has(text, length, "?peer")) {
    KWSPPeerInfo info;
    memset(&info, 0xEE, sizeof info);
    Server->PeerInfo(request, &info);
    snprintf(line, sizeof line, "%08x %u %u", (unsigned)info.Address, (unsigned)info.SockAddrFamily,
             (unsigned)info.SockAddrPort);
    Write(request, line);
    Server->Complete(request);
    return;
  }
  if (Has(text, length, "?keep")) {
    Kept = request;
    return;
  }
  /* Echo: the reply is every piece received, in brackets, completed by a piece holding "END". */
  Write(request, "[");
  Server->WriteReply(request, data, length);
  Write(request, "]");
  if (Has(text, length, "END"))
    Server->Complete(request);
}

/* 1 when the last OnRequest got its data in the plug-in's own block, 0 when not, -1 before any. */
EXPORT int TestKwspInBlock(void) {
  return InBlock;
}

/* Every callback with the handle of a request kept open earlier. */
EXPORT void TestKwspCallKept(void) {
  KWSPPeerInfo info;
  Write(Kept, "late");
  Server->PeerInfo(Kept, &info);
  Server->Complete(Kept);
}

EXPORT int32_t KWSP_CALL kwspInit(KWSPBlock* block) {
  Server = block;
  block->Accepted = block->ServerVersion == KWSP_SERVER_VERSION;
  block->OnRequest = OnRequest;
#if ALLOC_MODE == 3
  block->PluginReallocate = block->Reallocate;
#else
  block->PluginReallocate = PluginReallocate;
#endif
  return 0;
}

EXPORT void KWSP_CALL kwspDone(void) {
  Note("kwspDone\n");
}
