#include "server/HTTPTools.h"

#include <algorithm>
#include <limits>

#include "settings/CoreAPITools.h"

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// A Content-Length value: decimal digits and nothing else; -1 otherwise. A number too large for 64 bits is
// kept as the largest one, which every limit refuses.
int64_t LengthValue(std::string_view value) {
  if (value.empty())
    return -1;
  int64_t number = 0;
  for (const char c : value) {
    if (!IsDigit(c))
      return -1;
    if (number > (std::numeric_limits<int64_t>::max() - 9) / 10)
      return std::numeric_limits<int64_t>::max();
    number = number * 10 + (c - '0');
  }
  return number;
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

// Walks the header block line by line: calls visit(line) for each line, until the empty line that ends the
// block or the end of the text; returns the position just past the last line's break.
template <class tVisit> size_t WalkHeaderLines(std::string_view received, tVisit visit) {
  const std::string_view text = received.substr(0, received.find('\0'));
  size_t pos = 0;
  NextLine(text, pos); // the request line
  size_t blockEnd = std::min(pos, text.size());
  while (pos < text.size()) {
    const std::string_view line = NextLine(text, pos);
    if (line.empty())
      break;
    visit(line);
    blockEnd = std::min(pos, text.size());
  }
  return blockEnd;
}

} // namespace

tDeclaredLength DeclaredLength(std::string_view header) {
  tDeclaredLength result;
  const std::optional<std::string> value = HeaderField(header, "Content-Length");
  result.Present = value.has_value();
  if (result.Present)
    result.Value = LengthValue(*value);
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

std::vector<tHeaderField> HeaderFields(std::string_view received) {
  std::vector<tHeaderField> fields;
  bool continuable = false; // the line before was a field
  WalkHeaderLines(received, [&](std::string_view line) {
    if (IsBlank(line[0])) {
      if (continuable) {
        const std::string more = Trim(line);
        std::string& value = fields.back().Value;
        if (!more.empty())
          value += value.empty() ? more : " " + more;
      }
      return;
    }
    const size_t colon = line.find(':');
    continuable = colon != std::string_view::npos;
    if (continuable)
      fields.push_back({Trim(line.substr(0, colon)), Trim(line.substr(colon + 1))});
  });
  return fields;
}

std::string_view RawHeaderLines(std::string_view received) {
  size_t pos = 0;
  NextLine(received.substr(0, received.find('\0')), pos);
  const size_t start = std::min(pos, received.size());
  const size_t end = WalkHeaderLines(received, [](std::string_view) {});
  return received.substr(start, end - start);
}

std::optional<std::string> HeaderField(std::string_view received, std::string_view name) {
  const std::string wanted = UpperCase(Trim(name));
  for (tHeaderField& field : HeaderFields(received))
    if (UpperCase(field.Name) == wanted)
      return std::move(field.Value);
  return std::nullopt;
}

std::string HeaderValue(std::string_view received, std::string_view name) {
  return HeaderField(received, name).value_or("");
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
