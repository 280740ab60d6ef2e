#include "server/HTTPTools.h"

#include <algorithm>
#include <limits>

#include "settings/CoreAPITools.h"

namespace {

const std::string kContentLengthName = "CONTENT-LENGTH";
const std::string kBlankLine = "\r\n\r\n";

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The run of decimal digits at or after start, read as a 32-bit value; -1 when there is none or it is too
// large.
int32_t DigitsFrom(const std::string& text, size_t start) {
  size_t pos = start;
  while (pos < text.size() && !IsDigit(text[pos]))
    ++pos;
  if (pos >= text.size())
    return -1;
  int64_t value = 0;
  for (; pos < text.size() && IsDigit(text[pos]); ++pos) {
    value = value * 10 + (text[pos] - '0');
    if (value > std::numeric_limits<int32_t>::max())
      return -1;
  }
  return static_cast<int32_t>(value);
}

} // namespace

tHeaderCheck HeaderComplete(const std::string& text, bool acceptWithoutLength) {
  tHeaderCheck result;
  const std::string upper = UpperCase(text);
  const size_t namePos = upper.find(kContentLengthName);
  const size_t blankPos = text.find(kBlankLine);
  // The name must stand before the blank line and not at the very first character.
  if (namePos != std::string::npos && namePos > 0 && blankPos != std::string::npos && blankPos > namePos)
    result.ContentLength = DigitsFrom(text, namePos + kContentLengthName.size() + 1);
  if (result.ContentLength >= 0) {
    const size_t bodyBytes = text.size() - blankPos - kBlankLine.size();
    result.Complete = bodyBytes >= static_cast<size_t>(result.ContentLength);
  }
  if (!result.Complete && acceptWithoutLength)
    result.Complete = namePos == std::string::npos && blankPos != std::string::npos;
  return result;
}

tRequestLine ParseRequestLine(const std::string& received) {
  tRequestLine request;
  std::string line = Trim(received.substr(0, received.find("\r\n")));

  const size_t methodEnd = line.find(' ');
  request.Method = line.substr(0, methodEnd);
  line = methodEnd == std::string::npos ? std::string() : line.substr(methodEnd + 1);

  const size_t versionStart = line.rfind(' ');
  if (versionStart == std::string::npos) {
    request.Version = line;
  } else {
    request.Version = line.substr(versionStart + 1);
    line.erase(versionStart);
  }

  request.URL = Trim(line);
  const size_t queryStart = request.URL.find('?');
  request.Path = request.URL.substr(0, queryStart);
  if (queryStart != std::string::npos)
    request.Query = request.URL.substr(queryStart + 1);
  return request;
}

namespace {

// The next line of text from pos on: it ends at CR LF, a lone LF or a lone CR. Advances pos past the line
// break.
std::string NextLine(const std::string& text, size_t& pos) {
  const size_t end = text.find_first_of("\r\n", pos);
  std::string line = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
  if (end == std::string::npos) {
    pos = text.size();
    return line;
  }
  pos = end + 1;
  if (text[end] == '\r' && pos < text.size() && text[pos] == '\n')
    ++pos;
  return line;
}

} // namespace

std::string HeaderValue(const std::string& received, const std::string& name) {
  const std::string key = Trim(UpperCase(name));
  const std::string text = received.substr(0, received.find('\0'));
  size_t pos = 0;
  while (pos < text.size()) {
    const std::string line = NextLine(text, pos);
    if (UpperCase(line).compare(0, key.size(), key) != 0)
      continue;
    const std::string trimmed = Trim(line);
    const std::string rest = trimmed.substr(std::min(key.size(), trimmed.size()));
    const size_t colon = rest.find(':');
    if (colon == std::string::npos)
      return "";
    return Trim(rest.substr(colon + 1));
  }
  return "";
}

std::string WithoutSchemeAndHost(const std::string& upperPath) {
  static const std::string scheme = "HTTP://";
  if (upperPath.compare(0, scheme.size(), scheme) != 0)
    return upperPath;
  const size_t slash = upperPath.find('/', scheme.size());
  return slash == std::string::npos ? "/" : upperPath.substr(slash);
}

std::string IPToStr(uint32_t address) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8)
    text += "." + std::to_string((address >> shift) & 0xFF);
  return text.substr(1);
}

uint32_t SwapBytes32(uint32_t value) {
  return ((value & 0xFF) << 24) | ((value & 0xFF00) << 8) | ((value >> 8) & 0xFF00) | (value >> 24);
}
