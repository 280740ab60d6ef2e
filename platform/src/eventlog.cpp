// The event log over the system log (or the file KWSPLAT_EVENTLOG names): one entry per report.
#include <mutex>
#include <string>

#include "platform/src/HandleTable.h"
#include "platform/src/posix/ProcessInfo.h"
#include "platform/src/posix/SystemLog.h"
#include "platform/src/posix/UnitFolder.h"
#include "platform/win32.h"

namespace kwsplat {
namespace {

struct EventSource {
  std::string Name;
};

HandleTable<EventSource>& Sources() {
  static auto* table = new HandleTable<EventSource>(0x7E000, 4); // never destroyed
  return *table;
}

std::mutex gWriteLock; // serialises entries, so lines of two threads never mix

// The strings joined by a blank, each line break made a blank.
std::string EntryText(WORD category, DWORD eventId, WORD count, LPCSTR* strings) {
  std::string text;
  if (category != 0 || eventId != 0)
    text = "[category " + std::to_string(category) + ", event " + std::to_string(eventId) + "] ";
  for (WORD i = 0; i < count; ++i) {
    if (i > 0)
      text += ' ';
    text += strings[i] != nullptr ? strings[i] : "";
  }
  std::string flat;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
      continue;
    flat += text[i] == '\r' || text[i] == '\n' ? ' ' : text[i];
  }
  return flat;
}

posix::LogLevel LevelOf(WORD type) {
  if (type == EVENTLOG_ERROR_TYPE)
    return posix::LogLevel::Error;
  return type == EVENTLOG_WARNING_TYPE ? posix::LogLevel::Warning : posix::LogLevel::Info;
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

} // namespace
} // namespace kwsplat

using namespace kwsplat;

extern "C" HANDLE WINAPI RegisterEventSourceA(LPCSTR lpUNCServerName, LPCSTR lpSourceName) {
  if ((lpUNCServerName != nullptr && lpUNCServerName[0] != '\0') || lpSourceName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto source = std::make_shared<EventSource>();
  source->Name = lpSourceName;
  return reinterpret_cast<HANDLE>(Sources().Add(std::move(source)));
}

extern "C" BOOL WINAPI ReportEventA(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID, PSID,
                                    WORD wNumStrings, DWORD, LPCSTR* lpStrings, LPVOID) {
  auto source = Sources().Find(reinterpret_cast<uintptr_t>(hEventLog));
  if (!source)
    return Fail(ERROR_INVALID_HANDLE);
  if (wNumStrings > 0 && lpStrings == nullptr)
    return Fail(ERROR_INVALID_PARAMETER);
  const std::string text = EntryText(wCategory, dwEventID, wNumStrings, lpStrings);
  const std::string file = posix::EnvironmentValue("KWSPLAT_EVENTLOG");
  std::lock_guard<std::mutex> guard(gWriteLock);
  if (!file.empty()) {
    const std::string line = source->Name + '\t' + std::to_string(wType) + '\t' + std::to_string(wCategory) +
                             '\t' + std::to_string(dwEventID) + '\t' + text + '\n';
    if (!posix::AppendLine(file, line))
      return Fail(ERROR_ACCESS_DENIED);
  } else {
    posix::WriteSystemLog(source->Name, LevelOf(wType), text);
  }
  // A program started by hand in a terminal shows at once why it ended.
  if (posix::StandardErrorIsTerminal())
    posix::WriteStandardError(source->Name + ": " + text + '\n');
  return TRUE;
}

extern "C" BOOL WINAPI DeregisterEventSource(HANDLE hEventLog) {
  if (!Sources().Remove(reinterpret_cast<uintptr_t>(hEventLog)))
    return Fail(ERROR_INVALID_HANDLE);
  return TRUE;
}
