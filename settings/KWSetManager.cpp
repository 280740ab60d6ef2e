#include "settings/KWSetManager.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "platform/win32.h"
#include "settings/CoreAPITools.h"

namespace {

constexpr DWORD kValueBufferSize = 2048;
constexpr int32_t kDefaultConnectTimeout = 10000;

std::string ReadText(const std::string& file, const std::string& section, const std::string& key,
                     const std::string& defaultValue) {
  std::array<char, kValueBufferSize> buffer{};
  DWORD length = GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), buffer.data(),
                                          kValueBufferSize, file.c_str());
  return std::string(buffer.data(), std::min<DWORD>(length, kValueBufferSize - 1));
}

int32_t CountOrOne(const std::string& text, int32_t maximum) {
  int32_t count = TrimmedIntOrDefault(text, 1);
  return (count < 1 || count > maximum) ? 1 : count;
}

bool IsFile(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

} // namespace

tKWSetManager::~tKWSetManager() {
  SetListenerCount(0);
}

tListenerData* tKWSetManager::GetListener(int32_t index) {
  if (index < 0 || index >= ListenerCount()) {
    return nullptr;
  }
  return &ListenerRecords[static_cast<size_t>(index)];
}

const tListenerData* tKWSetManager::GetListener(int32_t index) const {
  return const_cast<tKWSetManager*>(this)->GetListener(index);
}

void tKWSetManager::SetListenerCount(int32_t count) {
  if (count < 0) {
    count = 0;
  }
  if (count == ListenerCount()) {
    return;
  }
  while (ListenerCount() > count) {
    ListenerRecords.pop_back();
  }
  ListenerRecords.resize(static_cast<size_t>(count));
}

std::string tKWSetManager::LocateFile(const std::string& fileName) {
  std::string inProgramFolder = WithTrailingSeparator(FolderOf(ProgramPath())) + fileName;
  return IsFile(inProgramFolder) ? inProgramFolder : fileName;
}

void tKWSetManager::LoadFromFile(const std::string& fileName) {
  try {
    std::string file = LocateFile(fileName);
    SetListenerCount(CountOrOne(ReadText(file, "LISTENERS", "COUNT", "1"), kMaxListeners));
    for (int32_t number = 1; number <= ListenerCount(); ++number) {
      ReadListener(file, number, ListenerRecords[static_cast<size_t>(number - 1)]);
    }
  } catch (...) {
    // Settings never stop the start: what was read completely serves, the rest stays disabled.
  }
}

void tKWSetManager::ReadListener(const std::string& file, int32_t number, tListenerData& record) {
  record.ListenerName =
      ReadText(file, "LISTENERS", "LISTENER" + std::to_string(number), "L" + std::to_string(number));
  std::string general = record.ListenerName + ".GENERAL";
  record.PortText = ReadText(file, general, "PORT", "80");
  record.ConnectTimeout = ConnectTimeoutFromText(ReadText(file, general, "CONNECTTIMEOUT", ""));
  record.MaxBodySize = MaxBodySizeFromText(ReadText(file, general, "MAXBODYSIZE", ""));
  std::string vdirs = record.ListenerName + ".VDIRS";
  record.VDirCount = CountOrOne(ReadText(file, vdirs, "COUNT", "1"), kMaxVDirs);
  for (int32_t m = 1; m <= record.VDirCount; ++m) {
    ReadVDir(file, record.ListenerName, m, record.VDirs[static_cast<size_t>(m - 1)]);
  }
  record.Enabled = true;
}

void tKWSetManager::ReadVDir(const std::string& file, const std::string& listenerName, int32_t number,
                             tVDirData& vdir) {
  vdir.VDirName =
      ReadText(file, listenerName + ".VDIRS", "VDIR" + std::to_string(number), "VD" + std::to_string(number));
  std::string section = listenerName + "." + vdir.VDirName + ".GENERAL";
  vdir.BasePath = ReadText(file, section, "PATH", "C:\\WebBase\\");
  vdir.VirtualPath = ReadText(file, section, "VPATH", "/");
  vdir.DllPath = ReadText(file, section, "DLL", "");
  vdir.OtherText = DecodeHashEscapes(ReadText(file, section, "OTHER", ""));
  vdir.Kind = VDirKindFromText(ReadText(file, section, "TYPE", "STD"));
}

int32_t ConnectTimeoutFromText(std::string_view text) {
  std::string converted(text);
  if (text.size() > 2 && (text.starts_with("0x") || text.starts_with("0X"))) {
    converted = "$" + converted.substr(2);
  }
  return ParseInteger(converted).value_or(kDefaultConnectTimeout);
}

uint32_t MaxBodySizeFromText(std::string_view text) {
  const std::string digits = Trim(text);
  if (digits.empty() || digits.size() > 10 || digits.find_first_not_of("0123456789") != std::string::npos)
    return kDefaultMaxBodySize;
  const uint64_t value = std::stoull(digits);
  return value > UINT32_MAX ? kDefaultMaxBodySize : static_cast<uint32_t>(value);
}

tVDirKind VDirKindFromText(std::string_view text) {
  std::string type = UpperCase(Trim(text));
  if (type.empty() || type == "STD") {
    return vkStatic;
  }
  if (type == "KWSP") {
    return vkKWSP;
  }
  if (type == "ISAPI") {
    return vkISAPI;
  }
  if (type == "AKWSP") {
    return vkAKWSP;
  }
  return vkUnsupported;
}
