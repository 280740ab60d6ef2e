/* The KWSP plug-in interface of Kestrune Web Server: the exchange block a plug-in receives in kwspInit, the
   callbacks in it, and the client record. Plain C, usable from C and C++. */
#ifndef KWS_KWSPLUGIN_H
#define KWS_KWSPLUGIN_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define KWSP_CALL __stdcall
#define KWSP_EXPORT __declspec(dllexport)
#elif defined(__i386__)
#define KWSP_CALL __attribute__((stdcall))
#define KWSP_EXPORT __attribute__((visibility("default")))
#else
#define KWSP_CALL
#define KWSP_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* 0.1.2.7, one byte per component, most significant first */
#define KWSP_SERVER_VERSION 0x00010207u

/* A request, as the server names it to the plug-in: opaque, valid until the request's connection ends. */
typedef void* KWSPRequest;

/* The client of a request. */
typedef struct KWSPPeerInfo {
  uint32_t Address;        /* IPv4, the first part of the dotted form in the most significant byte */
  uint16_t SockAddrFamily; /* the client's socket address: family (host order), */
  uint16_t SockAddrPort;   /* port (network order), */
  uint32_t SockAddrIP;     /* address (network order), */
  uint8_t SockAddrZero[8]; /* and 8 zero bytes */
} KWSPPeerInfo;

typedef void(KWSP_CALL* KWSPWriteReplyProc)(KWSPRequest request, const void* data, uint32_t length);
typedef void(KWSP_CALL* KWSPCompleteProc)(KWSPRequest request);
/* *block null and size above 0: a new zero-filled block; size 0: frees *block and nulls it; otherwise the
   block is resized, keeping its contents. */
typedef void(KWSP_CALL* KWSPReallocateProc)(void** block, uint32_t size);
typedef void(KWSP_CALL* KWSPPeerInfoProc)(KWSPRequest request, KWSPPeerInfo* info);
/* One piece of a request's data; the block belongs to the server and is freed after the call. */
typedef void(KWSP_CALL* KWSPOnRequestProc)(KWSPRequest request, void* data, uint32_t length);
/* The plug-in's allocator: *block null and a size: *block becomes a block of at least that size; size 0:
 *frees block. */
typedef void(KWSP_CALL* KWSPPluginReallocateProc)(void** block, uint32_t size);

typedef struct KWSPBlock {
  uint32_t ServerVersion; /* written by the server */
  KWSPWriteReplyProc WriteReply;
  KWSPCompleteProc Complete;
  KWSPReallocateProc Reallocate;
  KWSPPeerInfoProc PeerInfo;
  uint8_t Reserved1[16];
  int32_t Accepted; /* written by the plug-in: nonzero to accept being loaded */
  uint8_t Reserved2[68];
  KWSPOnRequestProc OnRequest;               /* written by the plug-in */
  KWSPPluginReallocateProc PluginReallocate; /* written by the plug-in */
} KWSPBlock;

/* The exports of a plug-in; the server requires both and calls kwspInit once, at load. */
KWSP_EXPORT int32_t KWSP_CALL kwspInit(KWSPBlock* block);
KWSP_EXPORT void KWSP_CALL kwspDone(void);
typedef int32_t(KWSP_CALL* KWSPInitProc)(KWSPBlock* block);
typedef void(KWSP_CALL* KWSPDoneProc)(void);

#ifdef __cplusplus
}
#define KWSP_ASSERT(condition, message) static_assert(condition, message)
#else
#define KWSP_ASSERT(condition, message) _Static_assert(condition, message)
#endif

KWSP_ASSERT(sizeof(KWSPPeerInfo) == 20, "the client record is 20 bytes");
KWSP_ASSERT(offsetof(KWSPPeerInfo, SockAddrFamily) == 4, "the socket address at 4");
#if UINTPTR_MAX == 0xFFFFFFFFu
KWSP_ASSERT(sizeof(KWSPBlock) == 116, "the block is 116 bytes");
KWSP_ASSERT(offsetof(KWSPBlock, WriteReply) == 4 && offsetof(KWSPBlock, PeerInfo) == 16, "callbacks at 4-16");
KWSP_ASSERT(offsetof(KWSPBlock, Accepted) == 36, "Accepted at 36");
KWSP_ASSERT(offsetof(KWSPBlock, OnRequest) == 108, "OnRequest at 108");
KWSP_ASSERT(offsetof(KWSPBlock, PluginReallocate) == 112, "PluginReallocate at 112");
#else
KWSP_ASSERT(sizeof(KWSPBlock) == 144, "the block is 144 bytes");
KWSP_ASSERT(offsetof(KWSPBlock, WriteReply) == 8 && offsetof(KWSPBlock, PeerInfo) == 32, "callbacks at 8-32");
KWSP_ASSERT(offsetof(KWSPBlock, Accepted) == 56, "Accepted at 56");
KWSP_ASSERT(offsetof(KWSPBlock, OnRequest) == 128, "OnRequest at 128");
KWSP_ASSERT(offsetof(KWSPBlock, PluginReallocate) == 136, "PluginReallocate at 136");
#endif

#endif
