#include "plugins/WSIO_ISAPI.h"

#include "plugins/isapiLoadedLibrary.h"
#include "server/Connection.h"

// Normally ended already, on the worker.
tWSIO_ISAPI::~tWSIO_ISAPI() {
  if (Session)
    Session->End();
}

void tWSIO_ISAPI::HandleData(const std::string& text) {
  if (Answered)
    return;
  Answered = true;
  LoadPlugin("ISAPIPath", "DefExt", &tBaseLoadedLibrary::Create<tisapiLoadedLibrary>, text);
}

void tWSIO_ISAPI::WaitInLine() {
  QueuedAt = GetTickCount();
  Queued = true;
  Handler.WakeWorker();
}

DWORD tWSIO_ISAPI::Timeout() const {
  return Handler.Request().ConnectTimeoutMs();
}

DWORD tWSIO_ISAPI::Poll() {
  if (!Queued)
    return Session ? Session->RunAsync(*this) : INFINITE;
  auto& library = static_cast<tisapiLoadedLibrary&>(*Library);
  if (library.IsLetIn(*Session)) {
    Queued = false;
    library.Call(*Session, *this);
    return Session->RunAsync(*this);
  }
  const DWORD waited = GetTickCount() - QueuedAt;
  if (waited < Timeout())
    return Timeout() - waited;
  // Let in just now: the next pass calls it.
  if (!library.Withdraw(*Session))
    return 0;
  Queued = false;
  SendReply(StatusHeaders(503) + "\r\nPLUGIN " + library.FileName + " IS BUSY :(");
  Finish();
  return INFINITE;
}
