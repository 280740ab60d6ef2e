// Windows-style paths to native ones, found in any letter case. Part of nearly every static request resolves
// here, from many threads, so folder listings are cached and revalidated by the folder's modification time.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <unordered_map>

#include "platform/src/Errors.h"
#include "platform/src/FileStampCache.h"
#include "platform/src/Paths.h"
#include "platform/src/posix/FileSystem.h"
#include "platform/win32.h"

namespace kwsplat {

namespace {

constexpr size_t kMaxComponentBytes = 255;
constexpr size_t kMaxCachedFolders = 4096;

struct CachedListing : DirectoryListing {
  std::unordered_map<std::string, size_t> FirstByFolded; // folded name -> index in Names
};

class ListingCache {
public:
  // 0 or an errno.
  // known: the folder's stamp when the caller has just taken it, which saves taking it again.
  int Get(const std::string& folder, std::shared_ptr<const CachedListing>& listing,
          const posix::FileInfo* known = nullptr) {
    posix::FileInfo info;
    int error = known != nullptr ? 0 : posix::StatPath(folder, info);
    if (error != 0)
      return error;
    if (known != nullptr)
      info = *known;
    if (info.Kind != posix::FileKind::Directory)
      return ENOTDIR;
    if ((listing = Listings.Find(folder, info)))
      return 0;
    auto fresh = std::make_shared<CachedListing>();
    error = posix::ListDirectory(folder, fresh->Names);
    if (error != 0)
      return error;
    std::sort(fresh->Names.begin(), fresh->Names.end());
    for (size_t i = 0; i < fresh->Names.size(); ++i)
      fresh->FirstByFolded.emplace(FoldCase(fresh->Names[i]), i);
    listing = fresh;
    Listings.Store(folder, info, std::move(fresh));
    return 0;
  }

private:
  FileStampCache<CachedListing> Listings{kMaxCachedFolders};
};

// Never destroyed: worker threads may still resolve paths while static destructors run.
ListingCache& Cache() {
  static ListingCache* cache = new ListingCache;
  return *cache;
}

bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::string Join(const std::string& folder, const std::string& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

std::vector<std::string> SplitComponents(const std::string& path) {
  std::vector<std::string> components;
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos)
      end = path.size();
    if (end > start)
      components.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return components;
}

std::string JoinComponents(const std::vector<std::string>& components, size_t count) {
  std::string path = "/";
  for (size_t i = 0; i < count; ++i)
    path = Join(path, components[i]);
  return path;
}

// One component below an existing folder: 0 with the name as on disk, or an errno.
int FindComponent(const std::string& folder, const std::string& component, std::string& found,
                  const posix::FileInfo* folderInfo = nullptr) {
  std::shared_ptr<const CachedListing> listing;
  int error = Cache().Get(folder, listing, folderInfo);
  if (error != 0) {
    // A folder we may pass but not list still opens a name written exactly.
    posix::FileInfo info;
    if ((error == EACCES || error == EPERM) && posix::StatPath(Join(folder, component), info) == 0) {
      found = component;
      return 0;
    }
    return error;
  }
  if (std::binary_search(listing->Names.begin(), listing->Names.end(), component)) {
    found = component;
    return 0;
  }
  auto it = listing->FirstByFolded.find(FoldCase(component));
  if (it == listing->FirstByFolded.end())
    return ENOENT;
  found = listing->Names[it->second];
  return 0;
}

} // namespace

std::string FoldCase(const std::string& text) {
  std::string folded = text;
  for (char& c : folded)
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  return folded;
}

std::string WindowsDirectory() {
  const char* configured = std::getenv("KWSPLAT_WINDOWS_DIR");
  return configured != nullptr && *configured != '\0' ? configured : "/etc";
}

NativePath TranslatePath(const char* path) {
  if (path == nullptr)
    return {ERROR_INVALID_PARAMETER, {}};
  std::string text = path;
  if (text.empty())
    return {ERROR_FILE_NOT_FOUND, {}};
  std::replace(text.begin(), text.end(), '\\', '/');
  std::string joined;
  if (text.size() >= 2 && IsAsciiLetter(text[0]) && text[1] == ':') {
    joined = "/" + text.substr(2);
  } else if (text[0] == '/') {
    joined = text;
  } else {
    std::string current = posix::CurrentDirectory();
    if (current.empty())
      return {ERROR_PATH_NOT_FOUND, {}};
    joined = current + "/" + text;
  }
  std::string collapsed;
  collapsed.reserve(joined.size());
  for (char c : joined)
    if (c != '/' || collapsed.empty() || collapsed.back() != '/')
      collapsed += c;
  if (collapsed.size() > kMaxPathBytes)
    return {ERROR_FILENAME_EXCED_RANGE, {}};
  return {0, std::move(collapsed)};
}

NativePath ResolveCase(const std::string& nativePath) {
  std::vector<std::string> components = SplitComponents(nativePath);
  bool trailingSeparator = nativePath.size() > 1 && nativePath.back() == '/';
  for (const std::string& component : components)
    if (component.size() > kMaxComponentBytes)
      return {ERROR_FILENAME_EXCED_RANGE, {}};

  // Usually only the last name differs in case: start at its folder when that exists as written.
  size_t first = 0;
  std::string resolved = "/";
  posix::FileInfo parentInfo;
  const posix::FileInfo* knownParent = nullptr;
  if (components.size() >= 2) {
    std::string parent = JoinComponents(components, components.size() - 1);
    if (posix::StatPath(parent, parentInfo) == 0 && parentInfo.Kind == posix::FileKind::Directory) {
      first = components.size() - 1;
      resolved = parent;
      knownParent = &parentInfo;
    }
  }
  for (size_t i = first; i < components.size(); ++i) {
    const std::string& component = components[i];
    bool last = i + 1 == components.size();
    if (component == "." || component == "..") {
      resolved = Join(resolved, component);
      continue;
    }
    std::string found;
    int error = FindComponent(resolved, component, found, i == first ? knownParent : nullptr);
    if (error == ENOENT)
      return {static_cast<uint32_t>(last ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND), {}};
    if (error == ENOTDIR)
      return {ERROR_PATH_NOT_FOUND, {}};
    if (error != 0)
      return {Win32ErrorFromErrno(error), {}};
    resolved = Join(resolved, found);
  }
  if (trailingSeparator && resolved != "/")
    resolved += '/';
  return {0, std::move(resolved)};
}

NativePath ResolvePath(const char* path) {
  NativePath translated = TranslatePath(path);
  if (translated.Error != 0)
    return translated;
  posix::FileInfo info;
  int error = posix::StatPath(translated.Path, info);
  if (error == 0)
    return translated;
  if (error == ENOENT || error == ENOTDIR)
    return ResolveCase(translated.Path);
  return {Win32ErrorFromErrno(error), {}};
}

uint32_t ListFolder(const std::string& nativeFolder, std::shared_ptr<const DirectoryListing>& listing) {
  std::shared_ptr<const CachedListing> cached;
  int error = Cache().Get(nativeFolder, cached);
  if (error == ENOENT || error == ENOTDIR)
    return ERROR_PATH_NOT_FOUND;
  if (error != 0)
    return Win32ErrorFromErrno(error);
  listing = cached;
  return 0;
}

} // namespace kwsplat
