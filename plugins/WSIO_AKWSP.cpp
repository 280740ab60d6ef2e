#include "plugins/WSIO_AKWSP.h"

#include "plugins/akwspLoadedLibrary.h"

void tWSIO_AKWSP::HandleData(const std::string& text) {
  if (Answered)
    return;
  Answered = true;
  LoadPlugin("AKWSPPath", "DefExt", &tBaseLoadedLibrary::Create<takwspLoadedLibrary>, text);
}
