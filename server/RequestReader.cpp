#include "server/RequestReader.h"

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
  const tHeaderCheck check = HeaderComplete(received, true);
  if (check.LengthUnusable)
    return Refuse(400);
  if (check.ContentLength > static_cast<int64_t>(kMaxBodyBytes))
    return Refuse(413);
  if (!check.Complete)
    return rvNeedMore;
  Line = ParseRequestLine(received);
  return rvDispatch;
}

tRequestVerdict tRequestReader::Refuse(int32_t status) {
  RefusalStatus = status;
  return rvRefuse;
}
