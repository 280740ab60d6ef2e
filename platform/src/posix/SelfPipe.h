// A pipe that signal handlers write fixed-size records to and one thread reads. Plain C++.
#pragma once

#include <cstddef>
#include <mutex>

namespace kwsplat::posix {

class SelfPipe {
public:
  // Makes the pipe on first use; false when it cannot be made.
  bool Open();
  // Never blocks: a full pipe drops the record. Safe in a signal handler once Open succeeded.
  void Write(const void* record, size_t size) const;
  // Blocks until one record of size bytes (at most PIPE_BUF, so written whole) has been read.
  void Read(void* record, size_t size) const;

private:
  std::once_flag Once;
  int Fds[2] = {-1, -1}; // written once under Once
};

} // namespace kwsplat::posix
