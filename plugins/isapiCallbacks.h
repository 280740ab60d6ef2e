// The functions an ISAPI extension calls through its control block, from any thread. Each finds the request
// by the handle the extension passes: a handle that names no live request, and an unknown request code, give
// FALSE with ERROR_INVALID_PARAMETER. A live request whose client has gone reads as ended (ReadClient: TRUE,
// 0 bytes) and refuses writes (FALSE, ERROR_NETNAME_DELETED).
#pragma once

#include <string>

#include "plugins/sdk/Isapi2.h"

class tWSIOBase;
class tisapiSession;

class tisapiCallbacks {
public:
  static BOOL WINAPI GetServerVariable(HCONN connection, LPSTR name, LPVOID buffer, LPDWORD size);
  static BOOL WINAPI WriteClient(HCONN connection, LPVOID buffer, LPDWORD bytes, DWORD flags);
  static BOOL WINAPI ReadClient(HCONN connection, LPVOID buffer, LPDWORD size);
  static BOOL WINAPI ServerSupportFunction(HCONN connection, DWORD request, LPVOID buffer, LPDWORD size,
                                           LPDWORD dataType);

  // The status line for an extension's status text ("302 Found"; a bare code gets the server's reason; none
  // is "200 OK"), then the server's fixed header lines.
  static std::string StatusHeadersFor(const tWSIOBase& producer, const std::string& status);

private:
  static BOOL SendResponseHeader(tisapiSession& session, const std::string& status, const char* header,
                                 size_t headerLength);
  static BOOL SendHeaderEx(tisapiSession& session, const HSE_SEND_HEADER_EX_INFO* info);
  static BOOL Redirect(tisapiSession& session, const char* url);
  static BOOL SendUrl(tisapiSession& session, const char* url);
  static BOOL MapUrlToPath(tisapiSession& session, LPVOID buffer, LPDWORD size);
  static BOOL MapUrlToPathEx(tisapiSession& session, const char* url, HSE_URL_MAPEX_INFO* info);
  static BOOL WriteBool(LPVOID buffer, BOOL value);
  static BOOL DoneWithSession(tisapiSession& session);
};
