// The profile (INI) reader. Settings are read at start-up and by plug-ins at any time, from any thread, so a
// parsed file is cached per path and parsed again only when its size, time or inode change.
#include <cerrno>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "platform/src/Errors.h"
#include "platform/src/FileStampCache.h"
#include "platform/src/Paths.h"
#include "platform/src/posix/FileSystem.h"
#include "platform/win32.h"

namespace kwsplat {

namespace {

constexpr size_t kMaxProfileBytes = 64 * 1024 * 1024;
constexpr size_t kMaxCachedProfiles = 64;
constexpr const char* kDefaultProfile = "win.ini";

struct ProfileKey {
  std::string Name;
  std::string Value;
};

struct ProfileSection {
  std::string Name;
  std::vector<ProfileKey> Keys;                        // in file order
  std::unordered_map<std::string, size_t> FirstByName; // folded name -> first key with it
};

struct ParsedProfile {
  posix::FileInfo Info;
  std::vector<ProfileSection> Sections;                // in file order, duplicates included
  std::unordered_map<std::string, size_t> FirstByName; // folded name -> first section with it
};

std::string_view Trim(std::string_view text) {
  size_t start = 0;
  while (start < text.size() && static_cast<unsigned char>(text[start]) <= 32)
    ++start;
  size_t end = text.size();
  while (end > start && static_cast<unsigned char>(text[end - 1]) <= 32)
    --end;
  return text.substr(start, end - start);
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

void ParseLine(std::string_view line, ParsedProfile& profile) {
  std::string_view trimmed = Trim(line);
  if (!trimmed.empty() && trimmed.front() == '[') {
    size_t close = trimmed.find(']');
    std::string_view name = Trim(trimmed.substr(1, close == std::string_view::npos ? close : close - 1));
    profile.Sections.push_back(ProfileSection{std::string(name), {}, {}});
    profile.FirstByName.emplace(FoldCase(std::string(name)), profile.Sections.size() - 1);
    return;
  }
  size_t equals = line.find('=');
  if (profile.Sections.empty() || equals == std::string_view::npos)
    return; // not a key: no comment syntax, such lines are simply ignored
  ProfileSection& section = profile.Sections.back();
  std::string name(Trim(line.substr(0, equals)));
  std::string value(Unquote(Trim(line.substr(equals + 1))));
  section.FirstByName.emplace(FoldCase(name), section.Keys.size());
  section.Keys.push_back(ProfileKey{std::move(name), std::move(value)});
}

void Parse(std::string_view content, ParsedProfile& profile) {
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (content.substr(0, kByteOrderMark.size()) == kByteOrderMark)
    content.remove_prefix(kByteOrderMark.size());
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find_first_of("\r\n", start);
    if (end == std::string_view::npos)
      end = content.size();
    std::string_view line = content.substr(start, end - start);
    line = line.substr(0, line.find('\0')); // a zero byte ends its line
    ParseLine(line, profile);
    start = end + (content.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
}

class ProfileCache {
public:
  // 0 or an errno.
  int Get(const std::string& path, std::shared_ptr<const ParsedProfile>& profile) {
    posix::FileInfo info;
    int error = posix::StatPath(path, info);
    if (error != 0)
      return error;
    if ((profile = Profiles.Find(path, info)))
      return 0;
    auto fresh = std::make_shared<ParsedProfile>();
    std::string content;
    error = posix::ReadWholeFile(path, kMaxProfileBytes, content, fresh->Info);
    if (error != 0)
      return error;
    Parse(content, *fresh);
    profile = fresh;
    Profiles.Store(path, profile->Info, profile);
    return 0;
  }

private:
  FileStampCache<ParsedProfile> Profiles{kMaxCachedProfiles};
};

// Never destroyed: plug-ins may read settings while static destructors run.
ProfileCache& Cache() {
  static ProfileCache* cache = new ProfileCache;
  return *cache;
}

bool IsBareName(const std::string& name) {
  bool drive = name.size() >= 2 && name[1] == ':';
  return !drive && name.find_first_of("\\/") == std::string::npos;
}

// 0 with the parsed file, or a Win32 error.
DWORD LoadProfile(const char* fileName, std::shared_ptr<const ParsedProfile>& profile) {
  std::string name = fileName != nullptr ? fileName : kDefaultProfile;
  if (IsBareName(name))
    name = WindowsDirectory() + "/" + name;
  NativePath translated = TranslatePath(name.c_str());
  if (translated.Error != 0)
    return translated.Error;
  int error = Cache().Get(translated.Path, profile);
  if (error == ENOENT || error == ENOTDIR) {
    NativePath resolved = ResolveCase(translated.Path);
    if (resolved.Error != 0)
      return resolved.Error;
    error = Cache().Get(resolved.Path, profile);
  }
  if (error == EFBIG)
    return ERROR_NOT_ENOUGH_MEMORY;
  return error == 0 ? 0 : Win32ErrorFromErrno(error);
}

const ProfileSection* FindSection(const ParsedProfile& profile, const char* name) {
  auto it = profile.FirstByName.find(FoldCase(std::string(Trim(name))));
  return it == profile.FirstByName.end() ? nullptr : &profile.Sections[it->second];
}

const ProfileKey* FindKey(const ProfileSection& section, const char* name) {
  auto it = section.FirstByName.find(FoldCase(std::string(Trim(name))));
  return it == section.FirstByName.end() ? nullptr : &section.Keys[it->second];
}

DWORD CopyValue(std::string_view value, LPSTR buffer, DWORD size) {
  if (buffer == nullptr || size == 0)
    return 0;
  size_t length = std::min<size_t>(value.size(), size - 1);
  std::memcpy(buffer, value.data(), length);
  buffer[length] = '\0';
  return static_cast<DWORD>(length);
}

// Names each ended by a zero, the list by a second one; a list cut short still ends with two zeros.
DWORD CopyList(const std::vector<std::string>& names, LPSTR buffer, DWORD size) {
  if (buffer == nullptr || size == 0)
    return 0;
  if (size == 1) {
    buffer[0] = '\0';
    return 0;
  }
  std::string list;
  for (const std::string& name : names) {
    list += name;
    list += '\0';
  }
  if (list.size() + 1 <= size) {
    std::memcpy(buffer, list.data(), list.size());
    buffer[list.size()] = '\0';
    if (list.empty())
      buffer[1] = '\0';
    return static_cast<DWORD>(list.size());
  }
  std::memcpy(buffer, list.data(), size - 2);
  buffer[size - 2] = '\0';
  buffer[size - 1] = '\0';
  return size - 2;
}

// Each name once, the first spelling kept.
template <class Items> std::vector<std::string> UniqueNames(const Items& items) {
  std::vector<std::string> names;
  std::unordered_map<std::string, bool> seen;
  for (const auto& item : items)
    if (seen.emplace(FoldCase(item.Name), true).second)
      names.push_back(item.Name);
  return names;
}

} // namespace

} // namespace kwsplat

using namespace kwsplat;

extern "C" DWORD WINAPI GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                                                 LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName) {
  std::string_view fallback = lpDefault != nullptr ? lpDefault : "";
  bool listing = lpAppName == nullptr || lpKeyName == nullptr;
  std::shared_ptr<const ParsedProfile> profile;
  DWORD error = LoadProfile(lpFileName, profile);
  if (error != 0) {
    SetLastError(error);
    return listing ? CopyList({}, lpReturnedString, nSize) : CopyValue(fallback, lpReturnedString, nSize);
  }
  if (lpAppName == nullptr)
    return CopyList(UniqueNames(profile->Sections), lpReturnedString, nSize);
  const ProfileSection* section = FindSection(*profile, lpAppName);
  if (lpKeyName == nullptr) {
    if (section == nullptr) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return CopyList({}, lpReturnedString, nSize);
    }
    return CopyList(UniqueNames(section->Keys), lpReturnedString, nSize);
  }
  const ProfileKey* key = section != nullptr ? FindKey(*section, lpKeyName) : nullptr;
  if (key == nullptr) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return CopyValue(fallback, lpReturnedString, nSize);
  }
  return CopyValue(key->Value, lpReturnedString, nSize);
}
