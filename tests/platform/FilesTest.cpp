// Files, file search, attributes and folders by Windows-style paths.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32.h"
#include "tests/support/TempFolder.h"

namespace {

std::string WindowsStyle(const std::string& native) {
  std::string text = "C:" + native;
  for (char& c : text)
    if (c == '/')
      c = '\\';
  return text;
}

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

// The names a search returns, in order.
std::vector<std::string> FindAll(const std::string& pattern, DWORD* firstError = nullptr) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(pattern.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) {
    if (firstError != nullptr)
      *firstError = GetLastError();
    return names;
  }
  do
    names.push_back(data.cFileName);
  while (FindNextFileA(search, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_TRUE(FindClose(search));
  return names;
}

} // namespace

TEST(CreateFile, ReadsAFileByAMixedCasePathWithBackslashes) {
  kwstest::TempFolder folder;
  folder.WriteFile("Site/Docs/Page.Html", std::string("Hello\0World", 11));
  HANDLE file = OpenForReading(WindowsStyle(folder.PathOf("SITE/docs/page.HTML")));
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD high = 99;
  EXPECT_EQ(GetFileSize(file, &high), 11u);
  EXPECT_EQ(high, 0u);
  EXPECT_EQ(ReadAll(file), std::string("Hello\0World", 11));
  DWORD got = 7;
  char byte;
  EXPECT_TRUE(ReadFile(file, &byte, 1, &got, nullptr)); // at the end: success, nothing read
  EXPECT_EQ(got, 0u);
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_FALSE(ReadFile(file, &byte, 1, &got, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(CreateFile, OnlyOpensExistingFilesForReading) {
  kwstest::TempFolder folder;
  std::string path = folder.WriteFile("f.txt", "x");
  struct Case {
    DWORD Access;
    DWORD Disposition;
  };
  const Case cases[] = {
      {GENERIC_WRITE, OPEN_EXISTING}, {GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING},
      {GENERIC_READ, CREATE_ALWAYS},  {GENERIC_READ, OPEN_ALWAYS},
      {GENERIC_READ, CREATE_NEW},
  };
  for (const Case& c : cases) {
    SetLastError(0);
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
    SetLastError(0);
    EXPECT_EQ(OpenForReading(path), INVALID_HANDLE_VALUE) << path;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << path;
  }
}

TEST(CreateFile, MissingFileIs2AndMissingFolderIs3) {
  kwstest::TempFolder folder;
  folder.WriteFile("Dir/File.txt", "x");
  struct Case {
    std::string Relative;
    DWORD Error;
  };
  const Case cases[] = {
      {"dir/missing.txt", ERROR_FILE_NOT_FOUND},
      {"missing/file.txt", ERROR_PATH_NOT_FOUND},
      {"dir/file.txt/x", ERROR_PATH_NOT_FOUND},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OpenForReading(folder.PathOf(c.Relative)), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), c.Error) << c.Relative;
  }
}

TEST(SetFilePointer, MovesFromEachOriginAndRefusesNegativePositions) {
  kwstest::TempFolder folder;
  HANDLE file = OpenForReading(folder.WriteFile("f.bin", "0123456789"));
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(SetFilePointer(file, 4, nullptr, FILE_BEGIN), 4u);
  EXPECT_EQ(SetFilePointer(file, 2, nullptr, FILE_CURRENT), 6u);
  EXPECT_EQ(SetFilePointer(file, -3, nullptr, FILE_END), 7u);
  EXPECT_EQ(ReadAll(file), "789");
  EXPECT_EQ(SetFilePointer(file, -20, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 10u); // unchanged by the refused move
  CloseHandle(file);
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(SetFilePointer, FilesOf4GiBAndMoreUseTheHighParts) {
  kwstest::TempFolder folder;
  std::string path = folder.WriteFile("big.bin", "");
  std::error_code error;
  std::filesystem::resize_file(path, 5ull << 30, error); // sparse where the file system allows
  if (error)
    GTEST_SKIP() << "no room for a sparse 5 GiB file";
  HANDLE file = OpenForReading(path);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
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

TEST(FindFile, WithoutWildcardsDescribesTheEntryItself) {
  kwstest::TempFolder folder;
  folder.WriteFile("Web/Index.html", "12345");
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(WindowsStyle(folder.PathOf("web")).c_str(), &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_STREQ(data.cFileName, "Web");
  EXPECT_FALSE(FindNextFileA(search, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_TRUE(FindClose(search));
  EXPECT_FALSE(FindClose(search));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  EXPECT_EQ(FindAll(folder.PathOf("WEB/INDEX.HTML")), std::vector<std::string>{"Index.html"});
  search = FindFirstFileA(folder.PathOf("web/index.html").c_str(), &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.nFileSizeLow, 5u);
  EXPECT_EQ(data.nFileSizeHigh, 0u);
  EXPECT_EQ(data.dwFileAttributes & FILE_ATTRIBUTE_ARCHIVE, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  FindClose(search);
}

TEST(FindFile, TheRootIsAFolderAndATrailingSeparatorFindsNothing) {
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA("C:", &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  FindClose(search);

  kwstest::TempFolder folder;
  folder.MakeFolder("Web");
  for (const std::string& pattern :
       {folder.PathOf("Web") + "\\", folder.PathOf("Web") + "/", std::string("C:\\")}) {
    EXPECT_EQ(FindFirstFileA(pattern.c_str(), &data), INVALID_HANDLE_VALUE) << pattern;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << pattern;
  }
}

TEST(FindFile, WildcardsIgnoreCaseAndListInByteOrder) {
  kwstest::TempFolder folder;
  for (const char* name : {"b.txt", "A.TXT", "c.log", "README"})
    folder.WriteFile(std::string("Dir/") + name, "x");
  folder.MakeFolder("Dir/Sub");
  struct Case {
    std::string Pattern;
    std::vector<std::string> Expected;
  };
  const Case cases[] = {
      {"*.TXT", {"A.TXT", "b.txt"}},
      {"?.log", {"c.log"}},
      {"*", {".", "..", "A.TXT", "README", "Sub", "b.txt", "c.log"}},
      {"*.*", {".", "..", "A.TXT", "README", "Sub", "b.txt", "c.log"}},
      {"read*", {"README"}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FindAll(folder.PathOf("dir/") + c.Pattern), c.Expected) << c.Pattern;
}

TEST(FindFile, NoMatchIs2AndAMissingFolderIs3) {
  kwstest::TempFolder folder;
  folder.WriteFile("Dir/a.txt", "x");
  struct Case {
    std::string Relative;
    DWORD Error;
  };
  const Case cases[] = {
      {"dir/*.none", ERROR_FILE_NOT_FOUND},
      {"dir/none.txt", ERROR_FILE_NOT_FOUND},
      {"missing/*.txt", ERROR_PATH_NOT_FOUND},
      {"missing/a.txt", ERROR_PATH_NOT_FOUND},
  };
  for (const Case& c : cases) {
    DWORD error = 0;
    EXPECT_TRUE(FindAll(folder.PathOf(c.Relative), &error).empty());
    EXPECT_EQ(error, c.Error) << c.Relative;
  }
}

TEST(FileAttributes, TellFoldersFilesReadOnlyFilesAndOtherKinds) {
  kwstest::TempFolder folder;
  std::string file = folder.WriteFile("Dir/File.txt", "x");
  std::string readOnly = folder.WriteFile("Dir/Locked.txt", "x");
  std::filesystem::permissions(readOnly,
                               std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
  EXPECT_EQ(GetFileAttributesA(WindowsStyle(folder.PathOf("DIR")).c_str()),
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(GetFileAttributesA(folder.PathOf("dir/file.TXT").c_str()),
            static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(GetFileAttributesA(folder.PathOf("dir/locked.txt").c_str()),
            static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(GetFileAttributesA("/dev/null"), static_cast<DWORD>(FILE_ATTRIBUTE_DEVICE));
  EXPECT_EQ(GetFileAttributesA(folder.PathOf("dir/none").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetFileAttributesA(folder.PathOf("none/x").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST(Folders, CurrentDirectoryFollowsWindowsBufferRules) {
  std::string current = std::filesystem::current_path().string();
  std::vector<char> buffer(current.size() + 1, 'x');
  EXPECT_EQ(GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data()), current.size());
  EXPECT_EQ(std::string(buffer.data()), current);
  char small[2] = {'x', 'x'};
  EXPECT_EQ(GetCurrentDirectoryA(sizeof(small), small), current.size() + 1);
  EXPECT_EQ(small[0], 'x');
}

TEST(Folders, WindowsDirectoryIsConfigurableAndEtcByDefault) {
  char buffer[256];
  unsetenv("KWSPLAT_WINDOWS_DIR");
  EXPECT_EQ(GetWindowsDirectoryA(buffer, sizeof(buffer)), 4u);
  EXPECT_STREQ(buffer, "/etc");
  setenv("KWSPLAT_WINDOWS_DIR", "/srv/win", 1);
  EXPECT_EQ(GetWindowsDirectoryA(buffer, sizeof(buffer)), 8u);
  EXPECT_STREQ(buffer, "/srv/win");
  EXPECT_EQ(GetWindowsDirectoryA(buffer, 8), 9u);
  unsetenv("KWSPLAT_WINDOWS_DIR");
}
