// Reads one request out of the bytes a connection has received, apart from any socket: it answers "need
// more", "refuse" with a status, or "dispatch" with the parsed request line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "server/HTTPTools.h"

// What one connection may hold before its request is dispatched: the header up to its blank line, and the
// body its Content-Length declares.
inline constexpr size_t kMaxHeaderBytes = 64 * 1024;
inline constexpr size_t kMaxBodyBytes = 1024 * 1024;

enum tRequestVerdict : uint8_t { rvNeedMore = 0, rvRefuse = 1, rvDispatch = 2 };

class tRequestReader {
public:
  // Looks at everything received so far: the same text each time, grown since the last call.
  tRequestVerdict Examine(const std::string& received);

  int32_t RefusalStatus = 0; // with rvRefuse: 400, 413 or 431
  tRequestLine Line;         // with rvDispatch

private:
  tRequestVerdict Refuse(int32_t status);

  size_t Searched = 0; // bytes already searched for the blank line
  size_t HeaderEnd = std::string::npos;
};
