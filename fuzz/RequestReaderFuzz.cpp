// Feeds arbitrary bytes to the request reader, in two pieces cut where the first byte says, and checks that
// the cut changes nothing: the verdict on the whole text is the one a fresh reader gives it at once. A
// dispatched request carries no Transfer-Encoding, declares a body within the bound, and has as much of it
// as the body-length rules ask for. The header values a static directory reads, and the text itself, go
// through the date and range parsers: a date read must write and read back as the same time, and a range
// must come to bytes within the file.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "server/ByteRanges.h"
#include "server/HTTPDates.h"
#include "server/HTTPTools.h"
#include "server/RequestReader.h"

namespace {

void CheckDate(const std::string& text) {
  const std::optional<tUnixTime> time = ParseHttpDate(text);
  if (time && ParseHttpDate(FormatHttpDate(*time)) != time)
    __builtin_trap();
}

void CheckRange(const std::string& text, uint64_t size) {
  const std::optional<tByteRange> range = ParseRangeHeader(text);
  if (!range)
    return;
  const tFilePart part = PartOf(*range, size);
  if (part.Outcome == roPart && (part.Length == 0 || part.First >= size || part.Length > size - part.First))
    __builtin_trap();
  ContentRangeValue(part, size);
}

// Small enough for the fuzzer's inputs to cross it.
constexpr uint32_t kMaxBody = 1000;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0)
    return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const size_t cut = text.empty() ? 0 : data[0] % (text.size() + 1);

  CheckDate(text);
  CheckRange(text, cut);
  tRequestReader pieces(kMaxBody);
  tRequestVerdict verdict = pieces.Examine(text.substr(0, cut));
  if (verdict == rvNeedMore)
    verdict = pieces.Examine(text);
  else
    return 0; // decided on the first piece: the rest is later bytes

  tRequestReader whole(kMaxBody);
  if (whole.Examine(text) != verdict || whole.RefusalStatus != pieces.RefusalStatus)
    __builtin_trap();
  if (verdict != rvDispatch)
    return 0;
  const std::string header = text.substr(0, pieces.HeaderLength);
  if (text.find(pieces.Line.URL) == std::string::npos || !header.ends_with("\r\n\r\n"))
    __builtin_trap();
  if (HeaderField(header, "Transfer-Encoding") || pieces.BodyLength > kMaxBody)
    __builtin_trap();
  const tDeclaredLength declared = DeclaredLength(header);
  if (declared.Present != (declared.Value >= 0) || (declared.Present && declared.Value != pieces.BodyLength))
    __builtin_trap();
  if (text.size() - pieces.HeaderLength < std::min<size_t>(pieces.BodyLength, kWholeBodyBytes))
    __builtin_trap();
  CheckDate(HeaderValue(header, "If-Modified-Since"));
  CheckRange(HeaderValue(header, "Range"), data[0]);
  return 0;
}
