/* The AKWSP plug-in interface of Kestrune Web Server: the record AKWSPGInit receives, the counted texts
   AKWSPGQuery2 exchanges, and helpers to make texts the server can release. Plain C, usable from C and C++.
 */
#ifndef KWS_AKWSPLUGIN_H
#define KWS_AKWSPLUGIN_H

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#if defined(_WIN32)
#define AKWSP_CALL __stdcall
#define AKWSP_EXPORT __declspec(dllexport)
#elif defined(__i386__)
#define AKWSP_CALL __attribute__((stdcall))
#define AKWSP_EXPORT __attribute__((visibility("default")))
#else
#define AKWSP_CALL
#define AKWSP_EXPORT __attribute__((visibility("default")))
#endif

/* AKWSPGQuery2's register convention in the 32-bit build: the first three arguments in EAX, EDX and ECX, the
   others pushed in the order declared (body first), removed by the callee. Declare and call it through
   AKWSP_QUERY2_PARAMS(peer, request, query, body, headers, status), which puts them in the right order. */
#if defined(__i386__)
#define AKWSP_QUERY2_CALL __attribute__((regparm(3), stdcall))
#define AKWSP_QUERY2_PARAMS(peer, request, query, body, headers, status)                                     \
  peer, request, query, status, headers, body
#else
#define AKWSP_QUERY2_CALL
#define AKWSP_QUERY2_PARAMS(peer, request, query, body, headers, status)                                     \
  peer, request, query, body, headers, status
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The constants the server passes to AKWSPGInit and AKWSPGDone. */
#define AKWSP_INIT_CODE 20480
#define AKWSP_DONE_CODE 3
#define AKWSP_PATH_SIZE 256

typedef struct AKWSPInitRecord {
  int32_t Accepted; /* 0 from the server; the plug-in sets it nonzero to accept being loaded */
  uint8_t Reserved[288];
  char Path[AKWSP_PATH_SIZE]; /* the path of the request that caused the load, zero-terminated */
} AKWSPInitRecord;

/* A counted text: a pointer to its first character, with its 32-bit length 4 bytes before it and a 32-bit
   reference count 8 bytes before it, and a zero byte after it. NULL is the empty text; a count of -1 marks a
   constant that is never freed. A text is one block of the C heap all modules share (malloc and free). */
typedef char* AKWSPText;

typedef struct AKWSPTextHeader {
  int32_t Count;
  int32_t Length;
} AKWSPTextHeader;

static inline AKWSPTextHeader* AKWSPTextHeaderOf(AKWSPText text) {
  return (AKWSPTextHeader*)(void*)(text - sizeof(AKWSPTextHeader));
}

static inline int32_t AKWSPTextLength(AKWSPText text) {
  return text == NULL ? 0 : AKWSPTextHeaderOf(text)->Length;
}

/* A new text of the bytes, with one reference; NULL for no bytes or when memory runs out. */
static inline AKWSPText AKWSPTextMake(const char* bytes, size_t length) {
  AKWSPTextHeader* header;
  char* text;
  if (length == 0 || length > (size_t)INT32_MAX - sizeof(AKWSPTextHeader) - 1)
    return NULL;
  header = (AKWSPTextHeader*)malloc(sizeof(AKWSPTextHeader) + length + 1);
  if (header == NULL)
    return NULL;
  header->Count = 1;
  header->Length = (int32_t)length;
  text = (char*)(header + 1);
  memcpy(text, bytes, length);
  text[length] = 0;
  return text;
}

static inline AKWSPText AKWSPTextFromString(const char* string) {
  return string == NULL ? NULL : AKWSPTextMake(string, strlen(string));
}

/* One more reference to a text; returns it. */
static inline AKWSPText AKWSPTextAddRef(AKWSPText text) {
  if (text != NULL && __atomic_load_n(&AKWSPTextHeaderOf(text)->Count, __ATOMIC_RELAXED) != -1)
    __atomic_add_fetch(&AKWSPTextHeaderOf(text)->Count, 1, __ATOMIC_RELAXED);
  return text;
}

/* Drops one reference; the last one frees the text. Constants are left alone. */
static inline void AKWSPTextRelease(AKWSPText text) {
  if (text == NULL || __atomic_load_n(&AKWSPTextHeaderOf(text)->Count, __ATOMIC_RELAXED) == -1)
    return;
  if (__atomic_sub_fetch(&AKWSPTextHeaderOf(text)->Count, 1, __ATOMIC_ACQ_REL) == 0)
    free(AKWSPTextHeaderOf(text));
}

/* A constant text with static storage: AKWSP_CONSTANT_TEXT(hello, "hello"); then use AKWSP_TEXT(hello). */
#define AKWSP_CONSTANT_TEXT(name, literal)                                                                   \
  static struct {                                                                                            \
    AKWSPTextHeader Header;                                                                                  \
    char Text[sizeof(literal)];                                                                              \
  } name##_akwsp_constant = {{-1, (int32_t)(sizeof(literal) - 1)}, literal}
#define AKWSP_TEXT(name) (name##_akwsp_constant.Text)

typedef int32_t(AKWSP_CALL* AKWSPGInitProc)(int32_t code, AKWSPInitRecord* record);
typedef void(AKWSP_QUERY2_CALL* AKWSPGQuery2Proc)(AKWSP_QUERY2_PARAMS(AKWSPText peer, AKWSPText request,
                                                                      AKWSPText query, AKWSPText* body,
                                                                      AKWSPText* headers, int32_t* status));
typedef int32_t(AKWSP_CALL* AKWSPGDoneProc)(int32_t code);

/* The exports of a plug-in (AKWSPGQuery is looked up only, so not declared). */
AKWSP_EXPORT int32_t AKWSP_CALL AKWSPGInit(int32_t code, AKWSPInitRecord* record);
AKWSP_EXPORT void AKWSP_QUERY2_CALL AKWSPGQuery2(AKWSP_QUERY2_PARAMS(AKWSPText peer, AKWSPText request,
                                                                     AKWSPText query, AKWSPText* body,
                                                                     AKWSPText* headers, int32_t* status));
AKWSP_EXPORT int32_t AKWSP_CALL AKWSPGDone(int32_t code);

#ifdef __cplusplus
}
#define AKWSP_ASSERT(condition, message) static_assert(condition, message)
#else
#define AKWSP_ASSERT(condition, message) _Static_assert(condition, message)
#endif

AKWSP_ASSERT(sizeof(AKWSPInitRecord) == 548, "the record is 548 bytes");
AKWSP_ASSERT(offsetof(AKWSPInitRecord, Path) == 292, "the path at 292");
AKWSP_ASSERT(sizeof(AKWSPTextHeader) == 8, "the count 8 bytes and the length 4 bytes before the text");

#endif
