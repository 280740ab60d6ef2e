#include "plugins/isapiSession.h"

#include <algorithm>
#include <cstring>

#include "server/Connection.h"
#include "server/WSIOBase.h"

namespace {

char kEmptyText[] = "";
char kPathTranslated[] = "C:\\";

} // namespace

tisapiSession::tisapiSession(tWSIOBase& producer, tisapiLoadedLibrary& library, tLibraryCache::tLease lease,
                             const std::string& text)
    : tPluginSession(producer), Library(library), Lease(std::move(lease)) {
  const tRequest& request = producer.Handler.Request();
  Method = request.Method;
  // Other methods get an empty text: never one of an earlier request, never a null to trip over.
  Query = request.Method == "GET" ? request.Query : "";
  ContentType = request.Header("Content-Type");
  if (request.Method == "POST") {
    const size_t blank = text.find("\r\n\r\n");
    Body = blank == std::string::npos ? "" : text.substr(blank + 4);
  }
  Ecb.cbSize = sizeof Ecb;
  Ecb.dwVersion = MAKELONG(HSE_VERSION_MINOR, HSE_VERSION_MAJOR);
  Ecb.ConnID = Handle();
  Ecb.lpszMethod = Method.data();
  Ecb.lpszQueryString = Query.data();
  Ecb.lpszPathInfo = kEmptyText;
  Ecb.lpszPathTranslated = kPathTranslated;
  Ecb.cbTotalBytes = static_cast<DWORD>(Body.size());
  Ecb.cbAvailable = Ecb.cbTotalBytes;
  Ecb.lpbData = Body.empty() ? nullptr : reinterpret_cast<LPBYTE>(Body.data());
  Ecb.lpszContentType = ContentType.data();
}

void tisapiSession::AddUnread(const std::string& bytes) {
  std::lock_guard<std::mutex> lock(UnreadLock);
  Unread += bytes;
}

DWORD tisapiSession::TakeUnread(void* buffer, DWORD size) {
  std::lock_guard<std::mutex> lock(UnreadLock);
  const size_t count = std::min<size_t>(size, Unread.size());
  std::memcpy(buffer, Unread.data(), count);
  Unread.erase(0, count);
  return static_cast<DWORD>(count);
}
