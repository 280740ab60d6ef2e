// HTTP helpers shared by the connection code: the request line, header fields, the declared body length,
// addresses.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The body length a request header declares: the first header field named Content-Length (HeaderField's
// rule), whose value must be decimal digits and nothing else.
struct tDeclaredLength {
  bool Present = false; // such a field exists
  int64_t Value = -1;   // its number (a huge one held as the largest int64_t); -1 when it holds no number
};
tDeclaredLength DeclaredLength(std::string_view header);

// The four parts of a request line; Path and Query split URL at its first "?".
struct tRequestLine {
  std::string Method;
  std::string URL;
  std::string Path;
  std::string Query;
  std::string Version;
};

// Parses the first line of the received text (up to its first CR LF).
tRequestLine ParseRequestLine(const std::string& received);

// One header field of a request as received: its name, and its value trimmed (continuation lines joined).
struct tHeaderField {
  std::string Name;
  std::string Value;
};

// The request's header block: the lines after the request line up to the first empty line (a NUL byte ends
// the text). Body lines are never in it. A line that starts with a blank continues the field before it; a
// line without ":" is no field.
std::vector<tHeaderField> HeaderFields(std::string_view received);
// The header block's lines exactly as received, each with its line break; the request line and the empty
// line that ends the block are not part of it.
std::string_view RawHeaderLines(std::string_view received);

// The value of the first header field whose whole name is the given one, ignoring letter case (a field
// named Connection-Foo is not Connection); nullopt when there is none. Looks only into the header block.
std::optional<std::string> HeaderField(std::string_view received, std::string_view name);
// The same, "" when there is none.
std::string HeaderValue(std::string_view received, std::string_view name);

// An absolute target ("HTTP://" host path, upper-cased) without its scheme and host; "/" when nothing follows
// the host. Any other text is returned unchanged.
std::string WithoutSchemeAndHost(const std::string& upperPath);

// True when a request path holds a NUL byte or a ".." segment between separators ("/" or "\"): a file
// named from it could lie outside the folder it is meant for.
bool LeavesFolder(const std::string& path);

// An IPv4 address in host order as dotted decimal text.
std::string IPToStr(uint32_t address);

// Reverses the four bytes of a value: network order to host order and back.
uint32_t SwapBytes32(uint32_t value);

// The text without the blanks (spaces and tabs) HTTP allows around a field's parts.
std::string_view WithoutBlanksAround(std::string_view text);
