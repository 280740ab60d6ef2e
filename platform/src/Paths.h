// Path translation for every call of the layer that takes a path: Windows-style paths to native ones, found
// in any letter case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kwsplat {

constexpr size_t kMaxPathBytes = 4095;

struct NativePath {
  uint32_t Error = 0; // a Win32 error number; Path is valid only when 0
  std::string Path;
};

// Textual translation only: "\" and "/" separate, repeats collapse, a leading drive letter is the root,
// relative paths start at the current directory. A trailing separator is kept.
NativePath TranslatePath(const char* path);

// An existing native path in any letter case: each component as written when present, else the first entry of
// its folder, in byte order, that equals it with ASCII letters folded. 2 when the last component matches
// nothing, 3 when a folder on the way is missing.
NativePath ResolveCase(const std::string& nativePath);

// TranslatePath, then the path as written when it exists (one system call), else ResolveCase.
NativePath ResolvePath(const char* path);

// A folder's entries (without "." and ".."), in byte order, from the cache that serves resolution.
struct DirectoryListing {
  std::vector<std::string> Names;
};
uint32_t ListFolder(const std::string& nativeFolder, std::shared_ptr<const DirectoryListing>& listing);

// The Windows directory: KWSPLAT_WINDOWS_DIR, else /etc. Bare profile names are looked for there.
std::string WindowsDirectory();

// ASCII letters upper-cased, every other byte unchanged.
std::string FoldCase(const std::string& text);

} // namespace kwsplat
