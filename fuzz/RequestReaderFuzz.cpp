// Feeds arbitrary bytes to the request reader, in two pieces cut where the first byte says, and checks that
// the cut changes nothing: the verdict on the whole text is the one a fresh reader gives it at once.
#include <cstddef>
#include <cstdint>
#include <string>

#include "server/HTTPTools.h"
#include "server/RequestReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0)
    return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const size_t cut = text.empty() ? 0 : data[0] % (text.size() + 1);

  tRequestReader pieces;
  tRequestVerdict verdict = pieces.Examine(text.substr(0, cut));
  if (verdict == rvNeedMore)
    verdict = pieces.Examine(text);
  else
    return 0; // decided on the first piece: the rest is later bytes

  tRequestReader whole;
  if (whole.Examine(text) != verdict || whole.RefusalStatus != pieces.RefusalStatus)
    __builtin_trap();
  if (verdict == rvDispatch && text.find(pieces.Line.URL) == std::string::npos)
    __builtin_trap();
  HeaderValue(text, "Content-Length");
  return 0;
}
