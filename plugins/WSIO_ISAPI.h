// Answers requests of ISAPI directories with an extension, once per connection.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "platform/win32.h"
#include "plugins/isapiSession.h"
#include "server/WSIOBase.h"

class tWSIO_ISAPI : public tWSIOBase {
public:
  using tWSIOBase::tWSIOBase;
  ~tWSIO_ISAPI() override;

  // The first call finds the extension and hands it the request.
  void HandleData(const std::string& text) override;
  bool UsesPlugin() const override { return true; }
  // ReadClient and ASYNC_READ_CLIENT take the body's rest from the connection.
  bool ReadsBodyItself() const override { return true; }
  // While the request waits for a busy extension: calls it once its turn has come, or answers 503 when the
  // connection time-out has passed first. Afterwards: runs the extension's asynchronous operations.
  DWORD Poll() override;
  // The library's Run found the extension busy: the request waits, and the worker polls.
  void WaitInLine();

  // The request's session; written by the first HandleData (before WaitInLine), dropped when the connection
  // ends.
  std::shared_ptr<tisapiSession> Session;

private:
  DWORD Timeout() const;

  bool Answered = false;           // touched only by the thread that runs HandleData, one call at a time
  std::atomic<bool> Queued{false}; // waiting in line: from here on the worker's Poll owns the request
  DWORD QueuedAt = 0;              // GetTickCount when it began to wait; written before Queued
};
