// A connection without a socket for producers: it is given a request and later bytes, and keeps every byte
// the producer queues, files read in, in order.
#pragma once

#include <algorithm>
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
  std::string TakeLaterBytes() override {
    std::string taken;
    taken.swap(Later);
    return taken;
  }
  // The later bytes given, then the end of the body (or, with BodyOpen, a time-out).
  tBodyRead ReadBody(void* buffer, size_t size, DWORD) override {
    const size_t count = std::min(size, Later.size());
    Later.copy(static_cast<char*>(buffer), count);
    Later.erase(0, count);
    return {count, count == 0 && BodyOpen};
  }
  bool QueueReply(const std::string& text) override {
    if (!Connected)
      return false;
    Out += text;
    ++Pieces;
    return true;
  }
  // Files too large to hold are only noted in FileParts.
  bool QueueFile(HANDLE file, uint64_t length, uint64_t offset) override {
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
    return true;
  }
  void MarkResponseComplete() override { Complete = true; }
  bool IsConnected() const override { return Connected; }
  void CutOff() override {
    Connected = false;
    CutOffs++;
  }
  void WakeWorker() override { ++Wakes; }

  tRequest Req;
  std::string Out;                                      // every byte queued, in order
  int Pieces = 0;                                       // texts and files queued
  int Files = 0;                                        // of which files
  std::vector<std::pair<uint64_t, uint64_t>> FileParts; // offset and length of each file queued
  static constexpr uint64_t kMaxHeldFileBytes = 64 * 1024 * 1024;
  bool Complete = false;
  int Wakes = 0;
  std::string Later;     // body bytes after the request, for the producer to take
  bool BodyOpen = false; // more body is due
  bool Connected = true;
  int CutOffs = 0;
};

} // namespace kwstest
