// Compiling this (Windows builds only) holds Isapi2.h to the system's own httpext.h: each structure has the
// same size and the same fields at the same offsets, and each code and flag the same value. Extensions built
// against either header then run on this server unchanged, in both widths.
#include <windows.h>
#include <wincrypt.h>

#include <cstddef>
#include <cstdint>

namespace published {
#include <httpext.h>
}

// The values both headers define, kept before the system's macros make way for ours.
#define KWS_ISAPI_VALUES(X)                                                                                  \
  X(HSE_LOG_BUFFER_LEN)                                                                                      \
  X(HSE_MAX_EXT_DLL_NAME_LEN)                                                                                \
  X(HSE_STATUS_SUCCESS)                                                                                      \
  X(HSE_STATUS_SUCCESS_AND_KEEP_CONN)                                                                        \
  X(HSE_STATUS_PENDING)                                                                                      \
  X(HSE_STATUS_ERROR)                                                                                        \
  X(HSE_REQ_BASE)                                                                                            \
  X(HSE_REQ_SEND_URL_REDIRECT_RESP)                                                                          \
  X(HSE_REQ_SEND_URL)                                                                                        \
  X(HSE_REQ_SEND_RESPONSE_HEADER)                                                                            \
  X(HSE_REQ_DONE_WITH_SESSION)                                                                               \
  X(HSE_REQ_END_RESERVED)                                                                                    \
  X(HSE_REQ_MAP_URL_TO_PATH)                                                                                 \
  X(HSE_REQ_GET_SSPI_INFO)                                                                                   \
  X(HSE_APPEND_LOG_PARAMETER)                                                                                \
  X(HSE_REQ_IO_COMPLETION)                                                                                   \
  X(HSE_REQ_TRANSMIT_FILE)                                                                                   \
  X(HSE_REQ_REFRESH_ISAPI_ACL)                                                                               \
  X(HSE_REQ_IS_KEEP_CONN)                                                                                    \
  X(HSE_REQ_ASYNC_READ_CLIENT)                                                                               \
  X(HSE_REQ_GET_IMPERSONATION_TOKEN)                                                                         \
  X(HSE_REQ_MAP_URL_TO_PATH_EX)                                                                              \
  X(HSE_REQ_ABORTIVE_CLOSE)                                                                                  \
  X(HSE_REQ_GET_CERT_INFO_EX)                                                                                \
  X(HSE_REQ_SEND_RESPONSE_HEADER_EX)                                                                         \
  X(HSE_REQ_CLOSE_CONNECTION)                                                                                \
  X(HSE_REQ_IS_CONNECTED)                                                                                    \
  X(HSE_IO_NODELAY)                                                                                          \
  X(HSE_URL_FLAGS_READ)                                                                                      \
  X(HSE_URL_FLAGS_WRITE)                                                                                     \
  X(HSE_URL_FLAGS_EXECUTE)                                                                                   \
  X(HSE_URL_FLAGS_SSL)                                                                                       \
  X(HSE_URL_FLAGS_DONT_CACHE)                                                                                \
  X(HSE_URL_FLAGS_NEGO_CERT)                                                                                 \
  X(HSE_URL_FLAGS_REQUIRE_CERT)                                                                              \
  X(HSE_URL_FLAGS_MAP_CERT)                                                                                  \
  X(HSE_URL_FLAGS_SSL128)                                                                                    \
  X(HSE_URL_FLAGS_SCRIPT)                                                                                    \
  X(HSE_URL_FLAGS_MASK)                                                                                      \
  X(HSE_TERM_ADVISORY_UNLOAD)                                                                                \
  X(HSE_TERM_MUST_UNLOAD)                                                                                    \
  X(HSE_IO_SYNC)                                                                                             \
  X(HSE_IO_ASYNC)                                                                                            \
  X(HSE_IO_DISCONNECT_AFTER_SEND)                                                                            \
  X(HSE_IO_SEND_HEADERS)

namespace system_value {
#define KWS_KEEP(name) constexpr long name##_ = (name);
KWS_ISAPI_VALUES(KWS_KEEP)
#undef KWS_KEEP
} // namespace system_value

// A macro cannot undefine another, so each name of the list above stands here once more; the two versions
// differ on purpose (this server speaks 2.0).
#undef HSE_VERSION_MAJOR
#undef HSE_VERSION_MINOR
#undef HSE_VERSION
#undef HSE_LOG_BUFFER_LEN
#undef HSE_MAX_EXT_DLL_NAME_LEN
#undef HSE_STATUS_SUCCESS
#undef HSE_STATUS_SUCCESS_AND_KEEP_CONN
#undef HSE_STATUS_PENDING
#undef HSE_STATUS_ERROR
#undef HSE_REQ_BASE
#undef HSE_REQ_SEND_URL_REDIRECT_RESP
#undef HSE_REQ_SEND_URL
#undef HSE_REQ_SEND_RESPONSE_HEADER
#undef HSE_REQ_DONE_WITH_SESSION
#undef HSE_REQ_END_RESERVED
#undef HSE_REQ_MAP_URL_TO_PATH
#undef HSE_REQ_GET_SSPI_INFO
#undef HSE_APPEND_LOG_PARAMETER
#undef HSE_REQ_IO_COMPLETION
#undef HSE_REQ_TRANSMIT_FILE
#undef HSE_REQ_REFRESH_ISAPI_ACL
#undef HSE_REQ_IS_KEEP_CONN
#undef HSE_REQ_ASYNC_READ_CLIENT
#undef HSE_REQ_GET_IMPERSONATION_TOKEN
#undef HSE_REQ_MAP_URL_TO_PATH_EX
#undef HSE_REQ_ABORTIVE_CLOSE
#undef HSE_REQ_GET_CERT_INFO_EX
#undef HSE_REQ_SEND_RESPONSE_HEADER_EX
#undef HSE_REQ_CLOSE_CONNECTION
#undef HSE_REQ_IS_CONNECTED
#undef HSE_IO_NODELAY
#undef HSE_URL_FLAGS_READ
#undef HSE_URL_FLAGS_WRITE
#undef HSE_URL_FLAGS_EXECUTE
#undef HSE_URL_FLAGS_SSL
#undef HSE_URL_FLAGS_DONT_CACHE
#undef HSE_URL_FLAGS_NEGO_CERT
#undef HSE_URL_FLAGS_REQUIRE_CERT
#undef HSE_URL_FLAGS_MAP_CERT
#undef HSE_URL_FLAGS_SSL128
#undef HSE_URL_FLAGS_SCRIPT
#undef HSE_URL_FLAGS_MASK
#undef HSE_TERM_ADVISORY_UNLOAD
#undef HSE_TERM_MUST_UNLOAD
#undef HSE_IO_SYNC
#undef HSE_IO_ASYNC
#undef HSE_IO_DISCONNECT_AFTER_SEND
#undef HSE_IO_SEND_HEADERS

// The entries are C functions: under one name each, the two declarations would clash.
#define GetExtensionVersion OursGetExtensionVersion
#define HttpExtensionProc OursHttpExtensionProc
#define TerminateExtension OursTerminateExtension
namespace ours {
#include "Isapi2.h"
}

#define KWS_SAME_VALUE(name) static_assert(system_value::name##_ == (name), #name " has its published value");
KWS_ISAPI_VALUES(KWS_SAME_VALUE)

#define KWS_SAME_FIELD(type, field)                                                                          \
  static_assert(offsetof(ours::type, field) == offsetof(published::type, field),                             \
                #type "." #field " offset");                                                                 \
  static_assert(sizeof(ours::type::field) == sizeof(published::type::field), #type "." #field " size");
#define KWS_SAME_SIZE(type) static_assert(sizeof(ours::type) == sizeof(published::type), #type " size");

KWS_SAME_SIZE(HSE_VERSION_INFO)
KWS_SAME_FIELD(HSE_VERSION_INFO, dwExtensionVersion)
KWS_SAME_FIELD(HSE_VERSION_INFO, lpszExtensionDesc)

KWS_SAME_SIZE(EXTENSION_CONTROL_BLOCK)
KWS_SAME_FIELD(EXTENSION_CONTROL_BLOCK, cbSize)
KWS_SAME_FIELD(EXTENSION_CONTROL_BLOCK, dwVersion)
KWS_SAME_FIELD(EXTENSION_CONTROL_BLOCK, ConnID)
KWS_SAME_FIELD(EXTENSION_CONTROL_BLOCK, dwHttpStatusCode)
KWS_SAME_FIELD(EXTENSION_CONTROL_BLOCK, lpszLogData)
KWS_SAME_FIELD(EXTENSION_CONTROL_BLOCK, lpszMethod)
KWS_SAME_FIELD(EXTENSION_CONTROL_BLOCK, lpszQueryString)
KWS_SAME_FIELD(EXTENSION_CONTROL_BLOCK, lpszPathInfo)
KWS_SAME_FIELD(EXTENSION_CONTROL_BLOCK, lpszPathTranslated)
KWS_SAME_FIELD(EXTENSION_CONTROL_BLOCK, cbTotalBytes)
KWS_SAME_FIELD(EXTENSION_CONTROL_BLOCK, cbAvailable)
KWS_SAME_FIELD(EXTENSION_CONTROL_BLOCK, lpbData)
KWS_SAME_FIELD(EXTENSION_CONTROL_BLOCK, lpszContentType)
KWS_SAME_FIELD(EXTENSION_CONTROL_BLOCK, GetServerVariable)
KWS_SAME_FIELD(EXTENSION_CONTROL_BLOCK, WriteClient)
KWS_SAME_FIELD(EXTENSION_CONTROL_BLOCK, ReadClient)
KWS_SAME_FIELD(EXTENSION_CONTROL_BLOCK, ServerSupportFunction)

KWS_SAME_SIZE(HSE_TF_INFO)
KWS_SAME_FIELD(HSE_TF_INFO, pfnHseIO)
KWS_SAME_FIELD(HSE_TF_INFO, pContext)
KWS_SAME_FIELD(HSE_TF_INFO, hFile)
KWS_SAME_FIELD(HSE_TF_INFO, pszStatusCode)
KWS_SAME_FIELD(HSE_TF_INFO, BytesToWrite)
KWS_SAME_FIELD(HSE_TF_INFO, Offset)
KWS_SAME_FIELD(HSE_TF_INFO, pHead)
KWS_SAME_FIELD(HSE_TF_INFO, HeadLength)
KWS_SAME_FIELD(HSE_TF_INFO, pTail)
KWS_SAME_FIELD(HSE_TF_INFO, TailLength)
KWS_SAME_FIELD(HSE_TF_INFO, dwFlags)

KWS_SAME_SIZE(HSE_SEND_HEADER_EX_INFO)
KWS_SAME_FIELD(HSE_SEND_HEADER_EX_INFO, pszStatus)
KWS_SAME_FIELD(HSE_SEND_HEADER_EX_INFO, pszHeader)
KWS_SAME_FIELD(HSE_SEND_HEADER_EX_INFO, cchStatus)
KWS_SAME_FIELD(HSE_SEND_HEADER_EX_INFO, cchHeader)
KWS_SAME_FIELD(HSE_SEND_HEADER_EX_INFO, fKeepConn)

KWS_SAME_SIZE(HSE_URL_MAPEX_INFO)
KWS_SAME_FIELD(HSE_URL_MAPEX_INFO, lpszPath)
KWS_SAME_FIELD(HSE_URL_MAPEX_INFO, dwFlags)
KWS_SAME_FIELD(HSE_URL_MAPEX_INFO, cchMatchingPath)
KWS_SAME_FIELD(HSE_URL_MAPEX_INFO, cchMatchingURL)
KWS_SAME_FIELD(HSE_URL_MAPEX_INFO, dwReserved1)
KWS_SAME_FIELD(HSE_URL_MAPEX_INFO, dwReserved2)
