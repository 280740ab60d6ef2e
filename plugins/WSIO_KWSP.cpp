#include "plugins/WSIO_KWSP.h"

#include "plugins/kwsLoadedLibrary.h"

tWSIO_KWSP::tWSIO_KWSP(tConnection& handler, const tVDirData& vdir)
    : tWSIOBase(handler, vdir), Session(tPluginSession::Make<tPluginSession>(*this)) {}

// Normally ended already, on the worker.
tWSIO_KWSP::~tWSIO_KWSP() {
  Session->End();
}

void tWSIO_KWSP::HandleData(const std::string& text) {
  if (Loaded) {
    if (Library != nullptr)
      Library->Run(*this, text);
    return;
  }
  Loaded = true;
  LoadPlugin("KWSPPath", "DefExt", &tBaseLoadedLibrary::Create<tkwsLoadedLibrary>, text);
}

void tWSIO_KWSP::ConnectionEnding() {
  Session->End();
  tWSIOBase::ConnectionEnding();
}
