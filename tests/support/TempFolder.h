// A fresh folder under the system's temporary folder, removed with everything in it on destruction.
#pragma once

#include <string>

namespace kwstest {

class TempFolder {
public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // The folder's absolute path, without a trailing separator.
  const std::string& Path() const { return FolderPath; }
  std::string PathOf(const std::string& relative) const { return FolderPath + "/" + relative; }
  // Writes `content` byte for byte below the folder, creating missing folders on the way; gives its path.
  std::string WriteFile(const std::string& relative, const std::string& content) const;
  std::string MakeFolder(const std::string& relative) const;

private:
  std::string FolderPath;
};

} // namespace kwstest
