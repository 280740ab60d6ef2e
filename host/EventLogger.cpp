#include "host/EventLogger.h"

TEventLogger::~TEventLogger() {
  if (EventLog != nullptr) {
    DeregisterEventSource(EventLog);
  }
}

void TEventLogger::WriteEvent(const std::string& message, WORD eventType, WORD category, DWORD eventId) {
  if (EventLog == nullptr) {
    EventLog = RegisterEventSourceA(nullptr, SourceName.c_str());
  }
  // The log is where failures are reported; when it cannot take an entry there is nowhere left to say so.
  if (EventLog == nullptr) {
    return;
  }
  LPCSTR strings[] = {message.c_str()};
  ReportEventA(EventLog, eventType, category, eventId, nullptr, 1, 0, strings, nullptr);
}
