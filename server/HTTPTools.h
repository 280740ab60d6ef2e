// HTTP helpers shared by the connection code: request completeness, the request line, header values,
// addresses.
#pragma once

#include <cstdint>
#include <string>

// What HeaderComplete found: whether the request (header and declared body) is all there, and the declared
// body length (-1 when none was usable).
struct tHeaderCheck {
  bool Complete = false;
  int32_t ContentLength = -1;
};

// Decides whether the bytes received so far form a complete request. With acceptWithoutLength a request that
// names no Content-Length anywhere is complete at its blank line.
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

// An IPv4 address in host order as dotted decimal text.
std::string IPToStr(uint32_t address);

// Reverses the four bytes of a value: network order to host order and back.
uint32_t SwapBytes32(uint32_t value);
