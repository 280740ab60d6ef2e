// HTTP helpers shared by the connection code: request completeness, the request line, header values,
// addresses.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// What HeaderComplete found: whether the request (header and declared body) is all there, the declared body
// length (-1 when none), and whether a Content-Length line stood there without a usable number.
struct tHeaderCheck {
  bool Complete = false;
  int32_t ContentLength = -1;
  bool LengthUnusable = false;
};

// The body length a request header declares: the first header line (the request line excepted) whose name is
// Content-Length, in any letter case, followed by ":" and nothing but decimal digits that fit 32 bits.
struct tDeclaredLength {
  bool Present = false; // such a line exists
  int32_t Value = -1;   // its number; -1 when the line holds no usable one
};
tDeclaredLength DeclaredLength(std::string_view header);

// Decides whether the bytes received so far form a complete request. Only a Content-Length header line
// counts, so the name elsewhere (a path, a query, another header, the body) changes nothing. With
// acceptWithoutLength a request without such a line is complete at its blank line.
tHeaderCheck HeaderComplete(const std::string& text, bool acceptWithoutLength);

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

// The value of the first line of the received text that begins with the name (plain prefix, any letter case),
// after its ":", trimmed; empty when no line matches or the line has no ":".
std::string HeaderValue(const std::string& received, const std::string& name);

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
