// Files, file search, attributes and folders by Windows-style paths.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WindowsPath.h"

using kwstest::WindowsStyle;

namespace {

HANDLE OpenForReading(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string ReadAll(HANDLE file) {
  std::string content;
  char buffer[3];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0)
    content.append(buffer, got);
  return content;
}

// The names a search returns, in order; on failure, the error instead.
std::vector<std::string> FindAll(const std::string& pattern) {
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(pattern.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE)
    return {"<error " + std::to_string(GetLastError()) + ">"};
  std::vector<std::string> names;
  do
    names.push_back(data.cFileName);
  while (FindNextFileA(search, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_TRUE(FindClose(search));
  EXPECT_FALSE(FindClose(search));
  return names;
}

} // namespace

TEST(CreateFile, ReadsEveryByteThenSucceedsWithNothingAtTheEnd) {
  kwstest::TempFolder folder;
  folder.WriteFile("Site/Page.Html", std::string("Hello\0World", 11));
  HANDLE file = OpenForReading(WindowsStyle(folder.PathOf("SITE/page.HTML")));
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD high = 99;
  EXPECT_EQ(GetFileSize(file, &high), 11u);
  EXPECT_EQ(high, 0u);
  EXPECT_EQ(ReadAll(file), std::string("Hello\0World", 11));
  DWORD got = 7;
  char byte;
  EXPECT_TRUE(ReadFile(file, &byte, 1, &got, nullptr));
  EXPECT_EQ(got, 0u);
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_FALSE(ReadFile(file, &byte, 1, &got, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(CreateFile, OnlyOpensExistingFilesForReading) {
  kwstest::TempFolder folder;
  std::string path = folder.WriteFile("f.txt", "x");
  struct Case {
    DWORD Access, Disposition;
  };
  for (Case c :
       {Case{GENERIC_WRITE, OPEN_EXISTING}, Case{GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING},
        Case{GENERIC_READ, CREATE_ALWAYS}, Case{GENERIC_READ, OPEN_ALWAYS}, Case{GENERIC_READ, CREATE_NEW}}) {
    EXPECT_EQ(CreateFileA(path.c_str(), c.Access, 0, nullptr, c.Disposition, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED)) << c.Access << " " << c.Disposition;
  }
}

TEST(CreateFile, RefusesEverythingButRegularFilesWithoutBlocking) {
  kwstest::TempFolder folder;
  std::vector<std::string> paths = {folder.MakeFolder("Dir"), "/dev/null"};
  std::string fifo = folder.PathOf("pipe");
  if (std::system(("mkfifo '" + fifo + "' 2>/dev/null").c_str()) == 0)
    paths.push_back(fifo); // opened blocking, this would wait for a writer forever
  for (const std::string& path : paths) {
    EXPECT_EQ(OpenForReading(path), INVALID_HANDLE_VALUE) << path;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << path;
  }
}

TEST(FileCalls, AMissingFileIs2AndAMissingFolderIs3) {
  kwstest::TempFolder folder;
  folder.WriteFile("Dir/File.txt", "x");
  struct Case {
    std::string Relative;
    DWORD Error;
  };
  const Case cases[] = {
      {"dir/missing.txt", ERROR_FILE_NOT_FOUND}, {"missing/file.txt", ERROR_PATH_NOT_FOUND},
      {"dir/file.txt/x", ERROR_PATH_NOT_FOUND},  {"dir/*.none", ERROR_FILE_NOT_FOUND},
      {"missing/*.txt", ERROR_PATH_NOT_FOUND},
  };
  for (const Case& c : cases) {
    const std::string path = folder.PathOf(c.Relative);
    EXPECT_EQ(FindAll(path), std::vector<std::string>{"<error " + std::to_string(c.Error) + ">"}) << path;
    if (path.find('*') != std::string::npos)
      continue;
    EXPECT_EQ(OpenForReading(path), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), c.Error) << c.Relative;
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), c.Error) << c.Relative;
  }
}

TEST(SetFilePointer, MovesFromEachOriginAndRefusesNegativePositions) {
  kwstest::TempFolder folder;
  HANDLE file = OpenForReading(folder.WriteFile("f.bin", "0123456789"));
  EXPECT_EQ(SetFilePointer(file, 4, nullptr, FILE_BEGIN), 4u);
  EXPECT_EQ(SetFilePointer(file, 2, nullptr, FILE_CURRENT), 6u);
  EXPECT_EQ(SetFilePointer(file, -3, nullptr, FILE_END), 7u);
  EXPECT_EQ(ReadAll(file), "789");
  EXPECT_EQ(SetFilePointer(file, -20, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 10u); // unchanged by the refused move
  CloseHandle(file);
}

TEST(SetFilePointer, FilesOf4GiBAndMoreUseTheHighParts) {
  kwstest::TempFolder folder;
  std::string path = folder.WriteFile("big.bin", "");
  std::error_code error;
  std::filesystem::resize_file(path, 5ull << 30, error); // sparse where the file system allows
  if (error)
    GTEST_SKIP() << "no room for a sparse 5 GiB file";
  HANDLE file = OpenForReading(path);
  DWORD high = 0;
  EXPECT_EQ(GetFileSize(file, &high), 1u << 30);
  EXPECT_EQ(high, 1u);
  LONG moveHigh = 1;
  EXPECT_EQ(SetFilePointer(file, 16, &moveHigh, FILE_BEGIN), 16u);
  EXPECT_EQ(moveHigh, 1);
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER); // beyond 32 bits
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  moveHigh = -1; // -1 as a 64-bit distance: one byte back
  EXPECT_EQ(SetFilePointer(file, -1, &moveHigh, FILE_CURRENT), 15u);
  EXPECT_EQ(moveHigh, 1);
  CloseHandle(file);
}

TEST(FindFile, DescribesTheEntryFoundLikeFileAttributesDo) {
  kwstest::TempFolder folder;
  folder.WriteFile("Web/Index.html", "12345");
  for (const std::string& path :
       {WindowsStyle(folder.PathOf("web")), folder.PathOf("WEB/INDEX.HTML"), std::string("C:")}) {
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(path.c_str(), &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE) << path;
    EXPECT_EQ(data.dwFileAttributes, GetFileAttributesA(path.c_str())) << path;
    if (path.ends_with("HTML")) {
      EXPECT_EQ(data.nFileSizeLow, 5u);
    }
    FindClose(search);
  }
}

TEST(FindFile, NamesIgnoreCaseWildcardsListInByteOrderAndATrailingSeparatorFindsNothing) {
  kwstest::TempFolder folder;
  for (const char* name : {"b.txt", "A.TXT", "c.log", "README"})
    folder.WriteFile(std::string("Dir/") + name, "x");
  folder.MakeFolder("Dir/Sub");
  const std::vector<std::string> all = {".", "..", "A.TXT", "README", "Sub", "b.txt", "c.log"};
  struct Case {
    std::string Pattern;
    std::vector<std::string> Expected;
  };
  const Case cases[] = {
      {folder.PathOf("DIR"), {"Dir"}},
      {kwstest::WindowsStyle(folder.PathOf("dir/A.txt")), {"A.TXT"}},
      {folder.PathOf("dir/*.TXT"), {"A.TXT", "b.txt"}},
      {folder.PathOf("dir/?.log"), {"c.log"}},
      {folder.PathOf("dir/*"), all},
      {folder.PathOf("dir/*.*"), all},
      {folder.PathOf("dir/read*"), {"README"}},
      {folder.PathOf("dir") + "\\", {"<error 2>"}},
      {folder.PathOf("dir") + "/", {"<error 2>"}},
      {"C:\\", {"<error 2>"}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FindAll(c.Pattern), c.Expected) << c.Pattern;
}

TEST(FileAttributes, TellFoldersFilesReadOnlyFilesAndDevices) {
  kwstest::TempFolder folder;
  folder.WriteFile("Dir/File.txt", "x");
  std::filesystem::permissions(folder.WriteFile("Dir/Locked.txt", "x"), std::filesystem::perms::owner_read);
  struct Case {
    std::string Path;
    DWORD Attributes;
  };
  const Case cases[] = {
      {WindowsStyle(folder.PathOf("DIR")), FILE_ATTRIBUTE_DIRECTORY},
      {folder.PathOf("dir/file.TXT"), FILE_ATTRIBUTE_ARCHIVE},
      {folder.PathOf("dir/locked.txt"), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY},
      {"/dev/null", FILE_ATTRIBUTE_DEVICE},
  };
  for (const Case& c : cases)
    EXPECT_EQ(GetFileAttributesA(c.Path.c_str()), c.Attributes) << c.Path;
}
