// A read-only registry holding one thing: the MIME database, as HKEY_CLASSES_ROOT keeps it on Windows, built
// from the system's mime.types at the first open of the root.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/src/HandleTable.h"
#include "platform/src/Paths.h"
#include "platform/src/posix/FileSystem.h"
#include "platform/win32.h"

namespace kwsplat {

namespace {

constexpr const char* kDefaultMimeTypes = "/etc/mime.types";
constexpr size_t kMaxMimeTypesBytes = 16 * 1024 * 1024;
constexpr const char* kContentTypeValue = "Content Type";
constexpr const char* kExtensionValue = "Extension";

// Serves when the system has no readable mime.types: the common web types, in the same format.
constexpr const char* kBuiltinMimeTypes = "text/html html htm\n"
                                          "text/css css\n"
                                          "text/javascript js mjs\n"
                                          "application/json json\n"
                                          "text/plain txt\n"
                                          "application/xml xml\n"
                                          "image/png png\n"
                                          "image/jpeg jpg jpeg\n"
                                          "image/gif gif\n"
                                          "image/svg+xml svg\n"
                                          "image/vnd.microsoft.icon ico\n"
                                          "image/webp webp\n"
                                          "application/pdf pdf\n"
                                          "application/zip zip\n"
                                          "application/gzip gz\n"
                                          "application/wasm wasm\n"
                                          "font/woff woff\n"
                                          "font/woff2 woff2\n"
                                          "audio/mpeg mp3\n"
                                          "video/mp4 mp4\n";

// Access rights that would change the registry.
constexpr REGSAM kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | 0x0020 /* KEY_CREATE_LINK */ |
                                0x00010000 /* DELETE */ | 0x00040000 /* WRITE_DAC */ |
                                0x00080000 /* WRITE_OWNER */ | 0x10000000 /* GENERIC_ALL */ |
                                0x40000000 /* GENERIC_WRITE */;

struct RegValue {
  std::string Name;
  std::string Data;
};

struct RegKey {
  std::string Name;
  std::map<std::string, std::unique_ptr<RegKey>> Children; // by folded name: the registry's listing order
  std::vector<const RegKey*> Ordered;                      // Children's keys by index, filled once built
  std::vector<RegValue> Values;

  RegKey& Child(const std::string& name) {
    std::unique_ptr<RegKey>& child = Children[FoldCase(name)];
    if (!child) {
      child = std::make_unique<RegKey>();
      child->Name = name;
    }
    return *child;
  }

  const RegKey* Find(const std::string& name) const {
    auto it = Children.find(FoldCase(name));
    return it == Children.end() ? nullptr : it->second.get();
  }

  void SetValue(const std::string& name, const std::string& data) {
    for (RegValue& value : Values)
      if (FoldCase(value.Name) == FoldCase(name)) {
        value.Data = data;
        return;
      }
    Values.push_back(RegValue{name, data});
  }

  const RegValue* FindValue(const std::string& name) const {
    for (const RegValue& value : Values)
      if (FoldCase(value.Name) == FoldCase(name))
        return &value;
    return nullptr;
  }

  void Freeze() {
    for (auto& [folded, child] : Children) {
      child->Freeze();
      Ordered.push_back(child.get());
    }
  }
};

struct MimeLine {
  std::string Type;
  std::vector<std::string> Extensions;
};

// A line is a type and its extensions separated by blanks; a field starting with "#" begins a comment.
std::vector<MimeLine> ParseMimeTypes(std::string_view content) {
  std::vector<MimeLine> lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string_view::npos)
      end = content.size();
    std::string_view line = content.substr(start, end - start);
    start = end + 1;
    MimeLine parsed;
    size_t i = 0;
    while (i < line.size()) {
      while (i < line.size() && static_cast<unsigned char>(line[i]) <= 32)
        ++i;
      size_t fieldStart = i;
      while (i < line.size() && static_cast<unsigned char>(line[i]) > 32)
        ++i;
      std::string_view field = line.substr(fieldStart, i - fieldStart);
      if (field.empty() || field.front() == '#')
        break;
      if (parsed.Type.empty())
        parsed.Type = field;
      else
        parsed.Extensions.emplace_back(field);
    }
    if (!parsed.Type.empty())
      lines.push_back(std::move(parsed));
  }
  return lines;
}

std::unique_ptr<RegKey> BuildClassesRoot() {
  const char* configured = std::getenv("KWSPLAT_MIME_TYPES");
  std::string path = configured != nullptr && *configured != '\0' ? configured : kDefaultMimeTypes;
  std::string content;
  posix::FileInfo info;
  // An empty file is a valid, empty database; only a missing or unreadable one is replaced.
  if (posix::ReadWholeFile(path, kMaxMimeTypesBytes, content, info) != 0)
    content = kBuiltinMimeTypes;

  auto root = std::make_unique<RegKey>();
  RegKey& database = root->Child("MIME").Child("Database").Child("Content Type");
  // A "\" would make a name no path can reach.
  auto usable = [](const std::string& name) { return name.find('\\') == std::string::npos; };
  for (const MimeLine& line : ParseMimeTypes(content)) {
    if (!usable(line.Type))
      continue;
    for (const std::string& extension : line.Extensions)
      if (usable(extension))
        root->Child("." + extension).SetValue(kContentTypeValue, line.Type);
    RegKey& type = database.Child(line.Type);
    if (type.Values.empty() && !line.Extensions.empty() && usable(line.Extensions.front()))
      type.SetValue(kExtensionValue, "." + line.Extensions.front());
  }
  root->Freeze();
  return root;
}

// Never destroyed: lookups may run while static destructors do.
const RegKey& ClassesRoot() {
  static const RegKey* root = BuildClassesRoot().release();
  return *root;
}

struct OpenKey {
  const RegKey* Key;
};

HandleTable<OpenKey>& OpenKeys() {
  static HandleTable<OpenKey>* table = new HandleTable<OpenKey>(0x1000, 4);
  return *table;
}

bool IsPredefined(HKEY key) {
  return (reinterpret_cast<uintptr_t>(key) & 0xFFFFFFF0u) == 0x80000000u;
}

// 0 with the key a handle stands for, or the error to return.
LSTATUS KeyOf(HKEY handle, const RegKey*& key) {
  if (handle == HKEY_CLASSES_ROOT) {
    key = &ClassesRoot();
    return ERROR_SUCCESS;
  }
  if (IsPredefined(handle))
    return ERROR_FILE_NOT_FOUND;
  std::shared_ptr<OpenKey> open = OpenKeys().Find(reinterpret_cast<uintptr_t>(handle));
  if (!open)
    return ERROR_INVALID_HANDLE;
  key = open->Key;
  return ERROR_SUCCESS;
}

// Follows a "\"-separated path; trailing separators are ignored, empty names elsewhere match nothing.
const RegKey* Walk(const RegKey* key, std::string_view path) {
  while (!path.empty() && path.back() == '\\')
    path.remove_suffix(1);
  while (key != nullptr && !path.empty()) {
    size_t separator = path.find('\\');
    std::string name(path.substr(0, separator));
    if (name.empty())
      return nullptr;
    key = key->Find(name);
    path = separator == std::string_view::npos ? std::string_view() : path.substr(separator + 1);
  }
  return key;
}

} // namespace

} // namespace kwsplat

using namespace kwsplat;

extern "C" LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired,
                                        PHKEY phkResult) {
  if (phkResult == nullptr)
    return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  const RegKey* base = nullptr;
  LSTATUS status = KeyOf(hKey, base);
  if (status != ERROR_SUCCESS)
    return status;
  const RegKey* key = Walk(base, lpSubKey != nullptr ? lpSubKey : "");
  if (key == nullptr)
    return ERROR_FILE_NOT_FOUND;
  if (samDesired & kWriteRights)
    return ERROR_ACCESS_DENIED;
  *phkResult = reinterpret_cast<HKEY>(OpenKeys().Add(std::make_shared<OpenKey>(OpenKey{key})));
  return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegCloseKey(HKEY hKey) {
  if (IsPredefined(hKey))
    return ERROR_SUCCESS;
  return OpenKeys().Remove(reinterpret_cast<uintptr_t>(hKey)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

extern "C" LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD,
                                        LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  const RegKey* key = nullptr;
  LSTATUS status = KeyOf(hKey, key);
  if (status != ERROR_SUCCESS)
    return status;
  if (lpName == nullptr || lpcchName == nullptr)
    return ERROR_INVALID_PARAMETER;
  if (dwIndex >= key->Ordered.size())
    return ERROR_NO_MORE_ITEMS;
  const std::string& name = key->Ordered[dwIndex]->Name;
  if (name.size() + 1 > *lpcchName)
    return ERROR_MORE_DATA;
  std::memcpy(lpName, name.c_str(), name.size() + 1);
  *lpcchName = static_cast<DWORD>(name.size());
  if (lpClass != nullptr && lpcchClass != nullptr && *lpcchClass > 0)
    lpClass[0] = '\0';
  if (lpcchClass != nullptr)
    *lpcchClass = 0;
  if (lpftLastWriteTime != nullptr)
    *lpftLastWriteTime = FILETIME{0, 0};
  return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD,
                                           LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen,
                                           LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                                           LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                                           LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) {
  const RegKey* key = nullptr;
  LSTATUS status = KeyOf(hKey, key);
  if (status != ERROR_SUCCESS)
    return status;
  size_t maxSubKey = 0;
  for (const RegKey* child : key->Ordered)
    maxSubKey = std::max(maxSubKey, child->Name.size());
  size_t maxValueName = 0;
  size_t maxValue = 0;
  for (const RegValue& value : key->Values) {
    maxValueName = std::max(maxValueName, value.Name.size());
    maxValue = std::max(maxValue, value.Data.size() + 1);
  }
  if (lpClass != nullptr && lpcchClass != nullptr && *lpcchClass > 0)
    lpClass[0] = '\0';
  if (lpcchClass != nullptr)
    *lpcchClass = 0;
  auto put = [](LPDWORD target, size_t value) {
    if (target != nullptr)
      *target = static_cast<DWORD>(value);
  };
  put(lpcSubKeys, key->Ordered.size());
  put(lpcbMaxSubKeyLen, maxSubKey);
  put(lpcbMaxClassLen, 0);
  put(lpcValues, key->Values.size());
  put(lpcbMaxValueNameLen, maxValueName);
  put(lpcbMaxValueLen, maxValue);
  put(lpcbSecurityDescriptor, 0);
  if (lpftLastWriteTime != nullptr)
    *lpftLastWriteTime = FILETIME{0, 0};
  return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType,
                                           LPBYTE lpData, LPDWORD lpcbData) {
  const RegKey* key = nullptr;
  LSTATUS status = KeyOf(hKey, key);
  if (status != ERROR_SUCCESS)
    return status;
  const RegValue* value = key->FindValue(lpValueName != nullptr ? lpValueName : "");
  if (value == nullptr)
    return ERROR_FILE_NOT_FOUND;
  if (lpData != nullptr && lpcbData == nullptr)
    return ERROR_INVALID_PARAMETER;
  if (lpType != nullptr)
    *lpType = REG_SZ;
  DWORD size = static_cast<DWORD>(value->Data.size() + 1);
  if (lpData == nullptr) {
    if (lpcbData != nullptr)
      *lpcbData = size;
    return ERROR_SUCCESS;
  }
  if (*lpcbData < size) {
    *lpcbData = size;
    return ERROR_MORE_DATA;
  }
  std::memcpy(lpData, value->Data.c_str(), size);
  *lpcbData = size;
  return ERROR_SUCCESS;
}
