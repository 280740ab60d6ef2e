#include "plugins/WSIO_AKWSP.h"

#include "plugins/akwspLoadedLibrary.h"
#include "server/Connection.h"

void tWSIO_AKWSP::HandleData(const std::string& text) {
  if (Answered)
    return;
  Answered = true;
  // The plug-in answers from the whole request in one call: a body too large to be held whole cannot reach
  // it.
  const tRequest& request = Handler.Request();
  if (request.Received.size() < request.HeaderLength + request.BodyLength) {
    SendReply(StatusHeaders(413) + ContentLengthHeader(0) + "\r\n");
    return Finish();
  }
  LoadPlugin("AKWSPPath", "DefExt", &tBaseLoadedLibrary::Create<takwspLoadedLibrary>, text);
}
