/* The ISAPI extension interface, version 2.0, for extensions served by Kestrune Web Server: the published
   names and values. Plain C, usable from C and C++; on Windows the system headers give the base types. */
#ifndef KWS_ISAPI2_H
#define KWS_ISAPI2_H

#include <stddef.h>
#include <stdint.h>

#ifdef _WIN32
#include <windows.h>
#else
#if defined(__i386__)
#define WINAPI __attribute__((stdcall))
#else
#define WINAPI
#endif
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t BOOL;
typedef int32_t LONG;
typedef uintptr_t DWORD_PTR;
typedef char CHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef BYTE* LPBYTE;
typedef DWORD* LPDWORD;
typedef void* HANDLE;
typedef void* PVOID;
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
/* As the platform layer spells them, so that both may be included. */
#define MAKELONG(a, b) ((LONG)(((WORD)(a)) | ((DWORD)((WORD)(b))) << 16))
#define LOWORD(l) ((WORD)((DWORD_PTR)(l)&0xffff))
#define HIWORD(l) ((WORD)((DWORD_PTR)(l) >> 16))
#ifndef ERROR_INVALID_PARAMETER
#define ERROR_INVALID_PARAMETER 87L
#endif
#ifndef ERROR_INSUFFICIENT_BUFFER
#define ERROR_INSUFFICIENT_BUFFER 122L
#endif
#ifndef ERROR_INVALID_INDEX
#define ERROR_INVALID_INDEX 1413L
#endif
#ifndef ERROR_NETNAME_DELETED
#define ERROR_NETNAME_DELETED 64L
#endif
#ifndef MAX_PATH
#define MAX_PATH 260
#endif
#ifdef __cplusplus
extern "C" {
#endif
/* The server program exports these to the extensions it loads. */
DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD dwErrCode);
#ifdef __cplusplus
}
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define HSE_VERSION_MAJOR 2
#define HSE_VERSION_MINOR 0
#define HSE_LOG_BUFFER_LEN 80
#define HSE_MAX_EXT_DLL_NAME_LEN 256

#define HSE_VERSION MAKELONG(HSE_VERSION_MINOR, HSE_VERSION_MAJOR)

typedef LPVOID HCONN;

/* Results of HttpExtensionProc */
#define HSE_STATUS_SUCCESS 1
#define HSE_STATUS_SUCCESS_AND_KEEP_CONN 2
#define HSE_STATUS_PENDING 3
#define HSE_STATUS_ERROR 4

/* Requests of ServerSupportFunction */
#define HSE_REQ_BASE 0
#define HSE_REQ_SEND_URL_REDIRECT_RESP (HSE_REQ_BASE + 1)
#define HSE_REQ_SEND_URL (HSE_REQ_BASE + 2)
#define HSE_REQ_SEND_RESPONSE_HEADER (HSE_REQ_BASE + 3)
#define HSE_REQ_DONE_WITH_SESSION (HSE_REQ_BASE + 4)
#define HSE_REQ_END_RESERVED 1000
#define HSE_REQ_MAP_URL_TO_PATH (HSE_REQ_END_RESERVED + 1)
#define HSE_REQ_GET_SSPI_INFO (HSE_REQ_END_RESERVED + 2)
#define HSE_APPEND_LOG_PARAMETER (HSE_REQ_END_RESERVED + 3)
#define HSE_REQ_SEND_URL_EX (HSE_REQ_END_RESERVED + 4)
#define HSE_REQ_IO_COMPLETION (HSE_REQ_END_RESERVED + 5)
#define HSE_REQ_TRANSMIT_FILE (HSE_REQ_END_RESERVED + 6)
#define HSE_REQ_REFRESH_ISAPI_ACL (HSE_REQ_END_RESERVED + 7)
#define HSE_REQ_IS_KEEP_CONN (HSE_REQ_END_RESERVED + 8)
#define HSE_REQ_ASYNC_READ_CLIENT (HSE_REQ_END_RESERVED + 10)
#define HSE_REQ_GET_IMPERSONATION_TOKEN (HSE_REQ_END_RESERVED + 11)
#define HSE_REQ_MAP_URL_TO_PATH_EX (HSE_REQ_END_RESERVED + 12)
#define HSE_REQ_ABORTIVE_CLOSE (HSE_REQ_END_RESERVED + 14)
#define HSE_REQ_GET_CERT_INFO_EX (HSE_REQ_END_RESERVED + 15)
#define HSE_REQ_SEND_RESPONSE_HEADER_EX (HSE_REQ_END_RESERVED + 16)
#define HSE_REQ_CLOSE_CONNECTION (HSE_REQ_END_RESERVED + 17)
#define HSE_REQ_IS_CONNECTED (HSE_REQ_END_RESERVED + 18)

/* Flags of TerminateExtension */
#define HSE_TERM_ADVISORY_UNLOAD 0x00000001
#define HSE_TERM_MUST_UNLOAD 0x00000002

/* Flags of WriteClient and HSE_TF_INFO */
#define HSE_IO_SYNC 0x00000001
#define HSE_IO_ASYNC 0x00000002
#define HSE_IO_DISCONNECT_AFTER_SEND 0x00000004
#define HSE_IO_SEND_HEADERS 0x00000008
#define HSE_IO_NODELAY 0x00001000

/* Flags of HSE_URL_MAPEX_INFO */
#define HSE_URL_FLAGS_READ 0x00000001
#define HSE_URL_FLAGS_WRITE 0x00000002
#define HSE_URL_FLAGS_EXECUTE 0x00000004
#define HSE_URL_FLAGS_SSL 0x00000008
#define HSE_URL_FLAGS_DONT_CACHE 0x00000010
#define HSE_URL_FLAGS_NEGO_CERT 0x00000020
#define HSE_URL_FLAGS_REQUIRE_CERT 0x00000040
#define HSE_URL_FLAGS_MAP_CERT 0x00000080
#define HSE_URL_FLAGS_SSL128 0x00000100
#define HSE_URL_FLAGS_SCRIPT 0x00000200
#define HSE_URL_FLAGS_MASK 0x000003ff

typedef struct _HSE_VERSION_INFO {
  DWORD dwExtensionVersion;
  CHAR lpszExtensionDesc[HSE_MAX_EXT_DLL_NAME_LEN];
} HSE_VERSION_INFO, *LPHSE_VERSION_INFO;

typedef struct _EXTENSION_CONTROL_BLOCK {
  DWORD cbSize;
  DWORD dwVersion;
  HCONN ConnID;
  DWORD dwHttpStatusCode;
  CHAR lpszLogData[HSE_LOG_BUFFER_LEN];
  LPSTR lpszMethod;
  LPSTR lpszQueryString;
  LPSTR lpszPathInfo;
  LPSTR lpszPathTranslated;
  DWORD cbTotalBytes;
  DWORD cbAvailable;
  LPBYTE lpbData;
  LPSTR lpszContentType;
  BOOL(WINAPI* GetServerVariable)(HCONN hConn, LPSTR lpszVariableName, LPVOID lpvBuffer, LPDWORD lpdwSize);
  BOOL(WINAPI* WriteClient)(HCONN ConnID, LPVOID Buffer, LPDWORD lpdwBytes, DWORD dwReserved);
  BOOL(WINAPI* ReadClient)(HCONN ConnID, LPVOID lpvBuffer, LPDWORD lpdwSize);
  BOOL(WINAPI* ServerSupportFunction)
  (HCONN hConn, DWORD dwHSERRequest, LPVOID lpvBuffer, LPDWORD lpdwSize, LPDWORD lpdwDataType);
} EXTENSION_CONTROL_BLOCK, *LPEXTENSION_CONTROL_BLOCK;

typedef BOOL(WINAPI* PFN_GETEXTENSIONVERSION)(HSE_VERSION_INFO* pVer);
typedef DWORD(WINAPI* PFN_HTTPEXTENSIONPROC)(EXTENSION_CONTROL_BLOCK* pECB);
typedef BOOL(WINAPI* PFN_TERMINATEEXTENSION)(DWORD dwFlags);

/* The result of HSE_REQ_MAP_URL_TO_PATH_EX */
typedef struct _HSE_URL_MAPEX_INFO {
  CHAR lpszPath[MAX_PATH];
  DWORD dwFlags;
  DWORD cchMatchingPath;
  DWORD cchMatchingURL;
  DWORD dwReserved1;
  DWORD dwReserved2;
} HSE_URL_MAPEX_INFO, *LPHSE_URL_MAPEX_INFO;

/* Completion of an asynchronous operation, and the request of HSE_REQ_TRANSMIT_FILE */
typedef void(WINAPI* PFN_HSE_IO_COMPLETION)(EXTENSION_CONTROL_BLOCK* pECB, PVOID pContext, DWORD cbIO,
                                            DWORD dwError);

typedef struct _HSE_TF_INFO {
  PFN_HSE_IO_COMPLETION pfnHseIO;
  PVOID pContext;
  HANDLE hFile;
  LPCSTR pszStatusCode;
  DWORD BytesToWrite;
  DWORD Offset;
  PVOID pHead;
  DWORD HeadLength;
  PVOID pTail;
  DWORD TailLength;
  DWORD dwFlags;
} HSE_TF_INFO, *LPHSE_TF_INFO;

/* The request of HSE_REQ_SEND_RESPONSE_HEADER_EX */
typedef struct _HSE_SEND_HEADER_EX_INFO {
  LPCSTR pszStatus;
  LPCSTR pszHeader;
  DWORD cchStatus;
  DWORD cchHeader;
  BOOL fKeepConn;
} HSE_SEND_HEADER_EX_INFO, *LPHSE_SEND_HEADER_EX_INFO;

/* The entries an extension exports; declared here with default visibility, so an extension built with hidden
   symbols still exports them. */
#if defined(_WIN32)
#define HSE_ENTRY
#else
#define HSE_ENTRY __attribute__((visibility("default")))
#endif
HSE_ENTRY BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* pVer);
HSE_ENTRY DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB);
HSE_ENTRY BOOL WINAPI TerminateExtension(DWORD dwFlags);

#ifdef __cplusplus
}
#define KWS_ISAPI_ASSERT(condition, message) static_assert(condition, message)
#else
#define KWS_ISAPI_ASSERT(condition, message) _Static_assert(condition, message)
#endif

/* The layouts the server and separately built extensions share. */
KWS_ISAPI_ASSERT(sizeof(HSE_VERSION_INFO) == 260, "HSE_VERSION_INFO is 260 bytes");
KWS_ISAPI_ASSERT(sizeof(HSE_URL_MAPEX_INFO) == 280, "HSE_URL_MAPEX_INFO is 280 bytes");
KWS_ISAPI_ASSERT(offsetof(HSE_URL_MAPEX_INFO, dwFlags) == 260, "HSE_URL_MAPEX_INFO.dwFlags at 260");
#if UINTPTR_MAX == 0xFFFFFFFFu
KWS_ISAPI_ASSERT(sizeof(EXTENSION_CONTROL_BLOCK) == 144, "the control block is 144 bytes");
KWS_ISAPI_ASSERT(offsetof(EXTENSION_CONTROL_BLOCK, lpszMethod) == 96, "lpszMethod at 96");
KWS_ISAPI_ASSERT(offsetof(EXTENSION_CONTROL_BLOCK, lpbData) == 120, "lpbData at 120");
KWS_ISAPI_ASSERT(offsetof(EXTENSION_CONTROL_BLOCK, GetServerVariable) == 128, "GetServerVariable at 128");
KWS_ISAPI_ASSERT(offsetof(EXTENSION_CONTROL_BLOCK, ServerSupportFunction) == 140,
                 "ServerSupportFunction at 140");
KWS_ISAPI_ASSERT(sizeof(HSE_TF_INFO) == 44, "HSE_TF_INFO is 44 bytes");
KWS_ISAPI_ASSERT(offsetof(HSE_TF_INFO, BytesToWrite) == 16, "HSE_TF_INFO.BytesToWrite at 16");
KWS_ISAPI_ASSERT(offsetof(HSE_TF_INFO, dwFlags) == 40, "HSE_TF_INFO.dwFlags at 40");
KWS_ISAPI_ASSERT(sizeof(HSE_SEND_HEADER_EX_INFO) == 20, "HSE_SEND_HEADER_EX_INFO is 20 bytes");
KWS_ISAPI_ASSERT(offsetof(HSE_SEND_HEADER_EX_INFO, fKeepConn) == 16,
                 "HSE_SEND_HEADER_EX_INFO.fKeepConn at 16");
#else
KWS_ISAPI_ASSERT(sizeof(EXTENSION_CONTROL_BLOCK) == 192, "the control block is 192 bytes");
KWS_ISAPI_ASSERT(offsetof(EXTENSION_CONTROL_BLOCK, lpszMethod) == 104, "lpszMethod at 104");
KWS_ISAPI_ASSERT(offsetof(EXTENSION_CONTROL_BLOCK, lpbData) == 144, "lpbData at 144");
KWS_ISAPI_ASSERT(offsetof(EXTENSION_CONTROL_BLOCK, GetServerVariable) == 160, "GetServerVariable at 160");
KWS_ISAPI_ASSERT(sizeof(HSE_TF_INFO) == 72, "HSE_TF_INFO is 72 bytes");
KWS_ISAPI_ASSERT(offsetof(HSE_TF_INFO, BytesToWrite) == 32, "HSE_TF_INFO.BytesToWrite at 32");
KWS_ISAPI_ASSERT(offsetof(HSE_TF_INFO, pTail) == 56, "HSE_TF_INFO.pTail at 56");
KWS_ISAPI_ASSERT(offsetof(HSE_TF_INFO, dwFlags) == 68, "HSE_TF_INFO.dwFlags at 68");
KWS_ISAPI_ASSERT(sizeof(HSE_SEND_HEADER_EX_INFO) == 32, "HSE_SEND_HEADER_EX_INFO is 32 bytes");
KWS_ISAPI_ASSERT(offsetof(HSE_SEND_HEADER_EX_INFO, cchStatus) == 16,
                 "HSE_SEND_HEADER_EX_INFO.cchStatus at 16");
KWS_ISAPI_ASSERT(offsetof(HSE_SEND_HEADER_EX_INFO, fKeepConn) == 24,
                 "HSE_SEND_HEADER_EX_INFO.fKeepConn at 24");
#endif

#endif
