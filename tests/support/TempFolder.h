// A fresh folder under the system's temporary folder, removed with everything in it on destruction.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>

namespace kwstest {

class TempFolder {
public:
  // A random name that nobody else holds yet: create_directory fails on a folder that exists.
  TempFolder() {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::filesystem::path path =
          std::filesystem::temp_directory_path() / ("kwstest-" + std::to_string(random() % 1000000000u));
      if (std::filesystem::create_directory(path)) {
        FolderPath = path.string();
        return;
      }
    }
    throw std::runtime_error("cannot create a temporary folder");
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(FolderPath, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Path() const { return FolderPath; } // absolute, without a trailing separator
  std::string PathOf(const std::string& relative) const { return FolderPath + "/" + relative; }
  // Writes the bytes below the folder, creating missing folders on the way; gives the file's path.
  std::string WriteFile(const std::string& relative, const std::string& content) const {
    std::filesystem::create_directories(std::filesystem::path(PathOf(relative)).parent_path());
    if (!std::ofstream(PathOf(relative), std::ios::binary)
             .write(content.data(), std::streamsize(content.size())))
      throw std::runtime_error("cannot write " + PathOf(relative));
    return PathOf(relative);
  }
  // The file's bytes below the folder; empty when it cannot be read.
  std::string ReadText(const std::string& relative) const {
    std::ostringstream text;
    text << std::ifstream(PathOf(relative), std::ios::binary).rdbuf();
    return text.str();
  }
  std::string MakeFolder(const std::string& relative) const {
    std::filesystem::create_directories(PathOf(relative));
    return PathOf(relative);
  }

private:
  std::string FolderPath;
};

} // namespace kwstest
