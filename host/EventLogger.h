// Writes events to the platform's event log under one source name.
#pragma once

#include <string>

#include "platform/win32.h"

class TEventLogger {
public:
  explicit TEventLogger(std::string sourceName) : SourceName(std::move(sourceName)) {}
  ~TEventLogger();
  TEventLogger(const TEventLogger&) = delete;
  TEventLogger& operator=(const TEventLogger&) = delete;

  // Registers the source on first use, then reports the message as the event's one string.
  void WriteEvent(const std::string& message, WORD eventType, WORD category, DWORD eventId);

  const std::string SourceName;

private:
  HANDLE EventLog = nullptr;
};
