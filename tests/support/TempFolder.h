// A fresh folder under the system's temporary folder, removed with everything in it on destruction.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace kwstest {

class TempFolder {
public:
  TempFolder() : FolderPath((std::filesystem::temp_directory_path() / "kwstest-XXXXXX").string()) {
    if (mkdtemp(FolderPath.data()) == nullptr)
      throw std::runtime_error("cannot create a temporary folder from " + FolderPath);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(FolderPath, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // The folder's absolute path, without a trailing separator.
  const std::string& Path() const { return FolderPath; }
  std::string PathOf(const std::string& relative) const { return FolderPath + "/" + relative; }
  // Writes `content` byte for byte below the folder, creating missing folders on the way; gives its path.
  std::string WriteFile(const std::string& relative, const std::string& content) const {
    const std::filesystem::path path = PathOf(relative);
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out.write(content.data(), static_cast<std::streamsize>(content.size())))
      throw std::runtime_error("cannot write " + path.string());
    return path.string();
  }
  std::string MakeFolder(const std::string& relative) const {
    std::filesystem::create_directories(PathOf(relative));
    return PathOf(relative);
  }

private:
  std::string FolderPath;
};

} // namespace kwstest
