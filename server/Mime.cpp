#include "server/Mime.h"

#include <memory>

#include "platform/rtl/sysutils.h"
#include "platform/win32.h"
#include "settings/CoreAPITools.h"

namespace {

const char* const kContentTypeDatabase = "Mime\\Database\\Content Type\\";

// A registry key opened for reading, closed when it goes out of scope.
class tRegKey {
public:
  explicit tRegKey(const std::string& path) {
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &Key) != ERROR_SUCCESS)
      Key = nullptr;
  }
  ~tRegKey() {
    if (Key != nullptr)
      RegCloseKey(Key);
  }
  tRegKey(const tRegKey&) = delete;
  tRegKey& operator=(const tRegKey&) = delete;

  bool IsOpen() const { return Key != nullptr; }

  std::vector<std::string> SubKeyNames() const {
    std::vector<std::string> names;
    std::vector<char> buffer(256);
    for (DWORD index = 0;;) {
      DWORD length = static_cast<DWORD>(buffer.size());
      const LSTATUS status =
          RegEnumKeyExA(Key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
      if (status == ERROR_MORE_DATA) {
        buffer.resize(buffer.size() * 2);
        continue;
      }
      if (status != ERROR_SUCCESS)
        return names;
      names.emplace_back(buffer.data(), length);
      ++index;
    }
  }

  // A text value cut at its first zero character; "" when the value is missing. A value of another type is an
  // error of the registry read, as the database is expected to hold texts only.
  std::string TextValue(const char* name) const {
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExA(Key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
      return "";
    if (type != REG_SZ)
      throw Exception(std::string("Invalid data type for '") + name + "'");
    std::string value(size, '\0');
    if (RegQueryValueExA(Key, name, nullptr, &type, reinterpret_cast<LPBYTE>(value.data()), &size) !=
        ERROR_SUCCESS)
      return "";
    value.resize(size);
    return value.substr(0, value.find('\0'));
  }

private:
  HKEY Key = nullptr;
};

} // namespace

tMime::tMime() {
  LoadFromRegistry();
}

void tMime::LoadFromRegistry() {
  Extensions.clear();
  ContentTypes.clear();
  PositionOf.clear();

  std::vector<std::string> rootNames;
  {
    tRegKey root("");
    if (root.IsOpen())
      rootNames = root.SubKeyNames();
  }
  for (const std::string& name : rootNames) {
    if (name.empty() || name[0] != '.')
      continue;
    tRegKey key(name);
    if (!key.IsOpen())
      continue;
    const std::string type = key.TextValue("Content Type");
    if (!type.empty())
      AddType(name, type);
  }

  // The database of content types overrides what the extension keys said.
  std::vector<std::string> typeNames;
  {
    tRegKey database(kContentTypeDatabase);
    if (!database.IsOpen())
      return;
    typeNames = database.SubKeyNames();
  }
  for (const std::string& typeName : typeNames) {
    tRegKey key(kContentTypeDatabase + typeName);
    if (key.IsOpen())
      AddType(key.TextValue("Extension"), typeName);
  }
}

std::string tMime::KeyOf(const std::string& extension) {
  std::string key = Trim(UpperCase(extension));
  if (!key.empty() && key[0] == '.')
    key.erase(0, 1);
  return key;
}

void tMime::AddType(const std::string& extension, const std::string& contentType) {
  if (Trim(UpperCase(extension)).empty())
    return;
  const std::string key = KeyOf(extension);
  const auto found = PositionOf.find(key);
  if (found != PositionOf.end()) {
    ContentTypes[found->second] = contentType;
    return;
  }
  PositionOf.emplace(key, Extensions.size());
  Extensions.push_back(key);
  ContentTypes.push_back(contentType);
}

std::string tMime::GetContentType(const std::string& extension) const {
  if (Trim(UpperCase(extension)).empty())
    return "";
  const auto found = PositionOf.find(KeyOf(extension));
  return found == PositionOf.end() ? "" : ContentTypes[found->second];
}

tMime& SharedMime() {
  static tMime* const shared = std::make_unique<tMime>().release();
  return *shared;
}
