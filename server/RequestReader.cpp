#include "server/RequestReader.h"

#include <algorithm>
#include <string_view>

namespace {

const std::string_view kBlankLine = "\r\n\r\n";

} // namespace

tRequestVerdict tRequestReader::Examine(const std::string& received) {
  if (RefusalStatus != 0)
    return rvRefuse;
  if (HeaderEnd == std::string::npos) {
    // Back by the blank line's length less one, so a blank line split across arrivals is found.
    const size_t from = Searched < kBlankLine.size() ? 0 : Searched - (kBlankLine.size() - 1);
    const size_t blank = received.find(kBlankLine, from);
    Searched = received.size();
    if (blank == std::string::npos)
      return received.size() > kMaxHeaderBytes ? Refuse(431) : rvNeedMore;
    HeaderEnd = blank + kBlankLine.size();
    if (HeaderEnd > kMaxHeaderBytes)
      return Refuse(431);
  }
  const std::string_view header = std::string_view(received).substr(0, HeaderEnd);
  // Chunks would reach a plug-in as its body, framing and all.
  if (HeaderField(header, "Transfer-Encoding"))
    return Refuse(501);
  const tDeclaredLength declared = DeclaredLength(header);
  if (declared.Present && declared.Value < 0)
    return Refuse(400);
  if (declared.Value > static_cast<int64_t>(MaxBodySize))
    return Refuse(413);
  const uint32_t bodyLength = declared.Present ? static_cast<uint32_t>(declared.Value) : 0;
  const size_t needed = bodyLength <= kWholeBodyBytes ? bodyLength : kFirstBodyPart;
  if (received.size() - HeaderEnd < needed)
    return rvNeedMore;
  Line = ParseRequestLine(received);
  HeaderLength = HeaderEnd;
  BodyLength = bodyLength;
  return rvDispatch;
}

tRequestVerdict tRequestReader::Refuse(int32_t status) {
  RefusalStatus = status;
  return rvRefuse;
}
