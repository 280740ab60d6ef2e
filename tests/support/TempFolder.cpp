#include "tests/support/TempFolder.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace kwstest {

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kwstest-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) {
    throw std::runtime_error("cannot create a temporary folder from " + pattern);
  }
  FolderPath = buffer.data();
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(FolderPath, ignored);
}

std::string TempFolder::PathOf(const std::string& relative) const {
  return FolderPath + "/" + relative;
}

std::string TempFolder::WriteFile(const std::string& relative, const std::string& content) const {
  std::filesystem::path path = PathOf(relative);
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out) {
    throw std::runtime_error("cannot write " + path.string());
  }
  return path.string();
}

std::string TempFolder::MakeFolder(const std::string& relative) const {
  std::filesystem::create_directories(PathOf(relative));
  return PathOf(relative);
}

} // namespace kwstest
