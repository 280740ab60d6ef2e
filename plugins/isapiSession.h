// One request as an ISAPI extension sees it: its own control block and the texts it points to, and the
// bytes that arrived after the request for ReadClient. It lives while the extension may still use the
// block: until the extension is done with the session, even after the connection went.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "plugins/PluginSession.h"
#include "plugins/sdk/Isapi2.h"
#include "server/LibraryCache.h"

class tisapiLoadedLibrary;

class tisapiSession : public tPluginSession {
public:
  // Fills the control block for the producer's request; text is the request as handed over.
  tisapiSession(tWSIOBase& producer, tisapiLoadedLibrary& library, tLibraryCache::tLease lease,
                const std::string& text);

  // Bytes that arrived after the request, kept for ReadClient.
  void AddUnread(const std::string& bytes);
  // Up to size unread bytes into the buffer; the count copied.
  DWORD TakeUnread(void* buffer, DWORD size);

  EXTENSION_CONTROL_BLOCK Ecb{};
  tisapiLoadedLibrary& Library;
  // The library's lock guards these two: the extension was given the request, and it started with it.
  bool Granted = false;
  bool Started = false;
  std::atomic<bool> InCall{false};     // HttpExtensionProc is running for it
  std::atomic<DWORD> Result{0};        // what HttpExtensionProc returned; 0 before
  std::atomic<bool> HeaderSent{false}; // HSE_REQ_SEND_RESPONSE_HEADER sent a header

private:
  const tLibraryCache::tLease Lease; // the library stays loaded while the extension may call back
  std::string Method;
  std::string Query;
  std::string ContentType;
  std::string Body;
  std::mutex UnreadLock; // guards Unread
  std::string Unread;
};
