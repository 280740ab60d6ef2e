// A connection without a socket for producers: it is given a request and later bytes, and keeps every byte
// the producer queues, files read in, in order.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "server/Connection.h"
#include "settings/CoreAPITools.h"

namespace kwstest {

class tScriptedConnection : public tConnection {
public:
  explicit tScriptedConnection(const std::string& path, const std::string& received = "") {
    Req.Method = "GET";
    Req.Path = path;
    Req.Received = received.empty() ? "GET " + path + " HTTP/1.0\r\n\r\n" : received;
    Req.SendConnectionClose = true;
  }

  const tRequest& Request() const override { return Req; }
  std::string TakeLaterBytes() override { return {}; }
  void QueueReply(const std::string& text) override {
    Out += text;
    ++Pieces;
  }
  // Files too large to hold are only noted in FileParts.
  void QueueFile(HANDLE file, uint64_t length, uint64_t offset) override {
    FileParts.push_back({offset, length});
    LONG high = static_cast<LONG>(offset >> 32);
    SetLastError(NO_ERROR);
    if (length <= kMaxHeldFileBytes &&
        (SetFilePointer(file, static_cast<LONG>(offset), &high, FILE_BEGIN) != INVALID_SET_FILE_POINTER ||
         GetLastError() == NO_ERROR))
      Out += ReadOpenFile(file, length);
    CloseHandle(file);
    ++Pieces;
    ++Files;
  }
  void MarkResponseComplete() override { Complete = true; }
  void WakeWorker() override { ++Wakes; }

  tRequest Req;
  std::string Out;                                      // every byte queued, in order
  int Pieces = 0;                                       // texts and files queued
  int Files = 0;                                        // of which files
  std::vector<std::pair<uint64_t, uint64_t>> FileParts; // offset and length of each file queued
  static constexpr uint64_t kMaxHeldFileBytes = 64 * 1024 * 1024;
  bool Complete = false;
  int Wakes = 0;
};

} // namespace kwstest
