#include "tests/support/TempFolder.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace kwstest {

TempFolder::TempFolder() : FolderPath((std::filesystem::temp_directory_path() / "kwstest-XXXXXX").string()) {
  if (mkdtemp(FolderPath.data()) == nullptr)
    throw std::runtime_error("cannot create a temporary folder from " + FolderPath);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(FolderPath, ignored);
}

std::string TempFolder::WriteFile(const std::string& relative, const std::string& content) const {
  const std::filesystem::path path = PathOf(relative);
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out.write(content.data(), static_cast<std::streamsize>(content.size())))
    throw std::runtime_error("cannot write " + path.string());
  return path.string();
}

std::string TempFolder::MakeFolder(const std::string& relative) const {
  std::filesystem::create_directories(PathOf(relative));
  return PathOf(relative);
}

} // namespace kwstest
