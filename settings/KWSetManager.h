// The settings manager: reads the settings file once into listener records.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "settings/ListenerData.h"

inline constexpr const char* kSettingsFileName = "KestruneWebServer.Ini";

class tKWSetManager {
public:
  tKWSetManager() = default;
  virtual ~tKWSetManager();
  tKWSetManager(const tKWSetManager&) = delete;
  tKWSetManager& operator=(const tKWSetManager&) = delete;

  // Reads every listener record of the file. Never fails: a record whose reading did not complete stays
  // disabled, and a missing file gives the defaults.
  virtual void LoadFromFile(const std::string& fileName);

  int32_t ListenerCount() const { return static_cast<int32_t>(ListenerRecords.size()); }
  // The record in place, or nullptr outside 0 .. ListenerCount() - 1.
  tListenerData* GetListener(int32_t index);
  const tListenerData* GetListener(int32_t index) const;
  // Keeps the first records, releases the ones beyond `count` and appends fresh ones; negative means 0.
  void SetListenerCount(int32_t count);

  // The path LoadFromFile reads: the file in the program's own folder when it is there, else the bare name,
  // which the profile reader looks for in the system's settings folder.
  static std::string LocateFile(const std::string& fileName);

private:
  void ReadListener(const std::string& file, int32_t number, tListenerData& record);
  void ReadVDir(const std::string& file, const std::string& listenerName, int32_t number, tVDirData& vdir);

  // Heap storage: one record holds 1024 directories, far too much for a stack.
  std::vector<tListenerData> ListenerRecords;
};

// CONNECTTIMEOUT: "0x"/"0X" followed by more text is hexadecimal, then the platform's integer syntax;
// anything that does not convert, the empty text included, gives 10000.
int32_t ConnectTimeoutFromText(std::string_view text);
// MAXBODYSIZE: decimal bytes up to 4294967295; anything else, the empty text included, gives the default.
uint32_t MaxBodySizeFromText(std::string_view text);
// TYPE, trimmed and upper-cased: "STD" or empty, "KWSP", "ISAPI", "AKWSP"; anything else is unsupported.
tVDirKind VDirKindFromText(std::string_view text);
