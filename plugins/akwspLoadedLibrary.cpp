#include "plugins/akwspLoadedLibrary.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "server/Connection.h"
#include "server/WSIOBase.h"
#include "settings/CoreAPITools.h"

namespace {

// A text the server made, released when it goes.
using tTextRef = std::unique_ptr<char, void (*)(AKWSPText)>;

tTextRef MakeText(const std::string& bytes) {
  return tTextRef(AKWSPTextMake(bytes.data(), bytes.size()), &AKWSPTextRelease);
}

// The bytes of a text the plug-in returned.
std::string BytesOf(AKWSPText text) {
  return text == nullptr ? std::string()
                         : std::string(text, static_cast<size_t>(std::max(0, AKWSPTextLength(text))));
}

} // namespace

takwspLoadedLibrary::takwspLoadedLibrary(tWSIOBase& producer, const std::string& fileName)
    : tBaseLoadedLibrary(fileName) {
  if (!Valid)
    return;
  Init = Entry<AKWSPGInitProc>("AKWSPGInit");
  Query = Entry<void*>("AKWSPGQuery");
  Query2 = Entry<AKWSPGQuery2Proc>("AKWSPGQuery2");
  Done = Entry<AKWSPGDoneProc>("AKWSPGDone");
  AKWSPInitRecord record{};
  const std::string& path = producer.Handler.Request().Path;
  std::memcpy(record.Path, path.data(), std::min(path.size(), sizeof record.Path - 1));
  if (Init != nullptr && (Query != nullptr || Query2 != nullptr))
    Init(AKWSP_INIT_CODE, &record);
  Valid = record.Accepted != 0;
}

takwspLoadedLibrary::~takwspLoadedLibrary() {
  TerminateOnce();
}

void takwspLoadedLibrary::Terminate() {
  if (ModuleHandle != nullptr && Done != nullptr)
    Done(AKWSP_DONE_CODE);
}

void takwspLoadedLibrary::Run(tWSIOBase& producer, const std::string& text) {
  if (Query2 == nullptr)
    return;
  const tRequest& request = producer.Handler.Request();
  const tTextRef peer = MakeText(request.RemoteAddr);
  const tTextRef data = MakeText(text);
  const tTextRef query = MakeText(request.Query);
  AKWSPText body = nullptr;
  AKWSPText headers = nullptr;
  int32_t status = 0;
  const tEntryCall call(*this);
  if (!call.Allowed()) {
    // The server is stopping, and the plug-in was told so.
    producer.SendReply(producer.StatusHeaders(503) + "\r\n");
    return producer.Finish();
  }
  Query2(AKWSP_QUERY2_PARAMS(peer.get(), data.get(), query.get(), &body, &headers, &status));
  const tTextRef bodyRef(body, &AKWSPTextRelease);
  const tTextRef headersRef(headers, &AKWSPTextRelease);
  producer.SendReply(Reply(producer, status, BytesOf(headers), BytesOf(body)));
  producer.Finish();
}

// Without header lines the blank line follows the fixed headers directly: the body is the plug-in's, byte
// for byte.
std::string takwspLoadedLibrary::Reply(const tWSIOBase& producer, int32_t status, const std::string& headers,
                                       const std::string& body) {
  const std::string lines = Trim(headers);
  std::string reply = producer.StatusHeaders(status);
  if (!lines.empty())
    reply += lines + "\r\n";
  return reply + "\r\n" + body;
}
