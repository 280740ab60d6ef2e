#include "server/HTTPTools.h"

#include <algorithm>
#include <limits>

#include "settings/CoreAPITools.h"

namespace {

const std::string_view kContentLengthName = "CONTENT-LENGTH";
const std::string_view kBlankLine = "\r\n\r\n";

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool StartsWithNoCase(std::string_view text, std::string_view upperPrefix) {
  return text.size() >= upperPrefix.size() && UpperCase(text.substr(0, upperPrefix.size())) == upperPrefix;
}

// The value of a Content-Length line after its name; -1 unless it is ":" and a run of digits that fits 32
// bits, blanks allowed around both.
int32_t LengthValue(std::string_view rest) {
  size_t pos = 0;
  while (pos < rest.size() && IsBlank(rest[pos]))
    ++pos;
  if (pos >= rest.size() || rest[pos] != ':')
    return -1;
  ++pos;
  while (pos < rest.size() && IsBlank(rest[pos]))
    ++pos;
  int64_t value = 0;
  size_t digits = 0;
  for (; pos < rest.size() && IsDigit(rest[pos]); ++pos, ++digits) {
    value = value * 10 + (rest[pos] - '0');
    if (value > std::numeric_limits<int32_t>::max())
      return -1;
  }
  while (pos < rest.size() && IsBlank(rest[pos]))
    ++pos;
  return digits > 0 && pos == rest.size() ? static_cast<int32_t>(value) : -1;
}

// The next line of text from pos on: it ends at CR LF, a lone LF or a lone CR. Advances pos past the line
// break.
std::string_view NextLine(std::string_view text, size_t& pos) {
  const size_t end = std::min(text.find_first_of("\r\n", pos), text.size());
  const std::string_view line = text.substr(pos, end - pos);
  pos = end + 1;
  if (end < text.size() && text[end] == '\r' && pos < text.size() && text[pos] == '\n')
    ++pos;
  return line;
}

// A header line named Content-Length: the name, then blanks or ":" (so Content-Lengthy is another header).
bool IsLengthLine(std::string_view line) {
  if (!StartsWithNoCase(line, kContentLengthName))
    return false;
  const size_t after = kContentLengthName.size();
  return after == line.size() || line[after] == ':' || IsBlank(line[after]);
}

} // namespace

tDeclaredLength DeclaredLength(std::string_view header) {
  tDeclaredLength result;
  size_t pos = 0;
  NextLine(header, pos); // the request line is no header line
  while (pos < header.size()) {
    const std::string_view line = NextLine(header, pos);
    if (IsLengthLine(line)) {
      result.Present = true;
      result.Value = LengthValue(line.substr(kContentLengthName.size()));
      return result;
    }
  }
  return result;
}

tHeaderCheck HeaderComplete(const std::string& text, bool acceptWithoutLength) {
  tHeaderCheck result;
  const size_t blankPos = text.find(kBlankLine);
  if (blankPos == std::string::npos)
    return result;
  const tDeclaredLength declared = DeclaredLength(std::string_view(text).substr(0, blankPos));
  result.ContentLength = declared.Value;
  result.LengthUnusable = declared.Present && declared.Value < 0;
  if (declared.Value >= 0)
    result.Complete = text.size() - blankPos - kBlankLine.size() >= static_cast<size_t>(declared.Value);
  else if (!declared.Present)
    result.Complete = acceptWithoutLength;
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

std::string HeaderValue(const std::string& received, const std::string& name) {
  const std::string key = Trim(UpperCase(name));
  const std::string text = received.substr(0, received.find('\0'));
  size_t pos = 0;
  while (pos < text.size()) {
    const std::string_view line = NextLine(text, pos);
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

bool LeavesFolder(const std::string& path) {
  if (path.find('\0') != std::string::npos)
    return true;
  size_t start = 0;
  while (start <= path.size()) {
    const size_t end = std::min(path.find_first_of("/\\", start), path.size());
    if (path.compare(start, end - start, "..") == 0)
      return true;
    start = end + 1;
  }
  return false;
}

std::string_view WithoutBlanksAround(std::string_view text) {
  const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && isBlank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back()))
    text.remove_suffix(1);
  return text;
}
