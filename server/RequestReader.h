// Reads one request out of the bytes a connection has received, apart from any socket: it answers "need
// more", "refuse" with a status, or "dispatch" with the parsed request line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "server/HTTPTools.h"
#include "settings/ListenerData.h"

// What one connection may hold before its request is dispatched: the header up to its blank line, and a
// body of up to kWholeBodyBytes, which reaches the producer whole with the request. A larger body (up to the
// listener's MaxBodySize) is dispatched once its first kFirstBodyPart bytes are in; the rest follows.
inline constexpr size_t kMaxHeaderBytes = 64 * 1024;
inline constexpr size_t kWholeBodyBytes = 1024 * 1024;
inline constexpr size_t kFirstBodyPart = 64 * 1024;

enum tRequestVerdict : uint8_t { rvNeedMore = 0, rvRefuse = 1, rvDispatch = 2 };

class tRequestReader {
public:
  explicit tRequestReader(uint32_t maxBodySize = kDefaultMaxBodySize) : MaxBodySize(maxBodySize) {}

  // Looks at everything received so far: the same text each time, grown since the last call.
  tRequestVerdict Examine(const std::string& received);

  // With rvRefuse: 400 (a Content-Length that is no number), 413 (a body over MaxBodySize), 431 (a header
  // over kMaxHeaderBytes) or 501 (a Transfer-Encoding, which this HTTP/1.0 server does not decode).
  int32_t RefusalStatus = 0;
  // With rvDispatch: the request line; the length of the request line, header and blank line; the body's
  // length as declared (0 without Content-Length).
  tRequestLine Line;
  size_t HeaderLength = 0;
  uint32_t BodyLength = 0;

private:
  tRequestVerdict Refuse(int32_t status);

  uint32_t MaxBodySize;
  size_t Searched = 0; // bytes already searched for the blank line
  size_t HeaderEnd = std::string::npos;
};
