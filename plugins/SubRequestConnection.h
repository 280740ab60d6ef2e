// A request of the server's own making on a client's connection: the static producer answers it there in
// place of an extension that asked for a local URL (HSE_REQ_SEND_URL). Its reply goes out on the connection
// it wraps; the extension still ends the request itself.
#pragma once

#include <string>

#include "server/Connection.h"

class tSubRequestConnection : public tConnection {
public:
  tSubRequestConnection(tConnection& connection, tRequest request)
      : Connection(connection), SubRequest(std::move(request)) {}

  const tRequest& Request() const override { return SubRequest; }
  std::string TakeLaterBytes() override { return {}; }
  tBodyRead ReadBody(void*, size_t, DWORD) override { return {}; }
  bool QueueReply(const std::string& text) override { return Connection.QueueReply(text); }
  bool QueueFile(HANDLE file, uint64_t length, uint64_t offset) override {
    return Connection.QueueFile(file, length, offset);
  }
  void MarkResponseComplete() override {}
  bool IsConnected() const override { return Connection.IsConnected(); }
  void CutOff() override { Connection.CutOff(); }
  void WakeWorker() override { Connection.WakeWorker(); }

private:
  tConnection& Connection;
  const tRequest SubRequest;
};
