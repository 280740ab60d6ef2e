// Files, file search and attributes by Windows-style paths.
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "platform/win32.h"
#include "tests/support/TempFolder.h"
#include "tests/support/Win32Calls.h"

using kwstest::ErrorOf;
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

// The names a search returns, in order, or the error of a failed one.
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
  EXPECT_TRUE(FindClose(search) && !FindClose(search));
  return names;
}

class Files : public ::testing::Test {
protected:
  void SetUp() override {
    for (const char* name : {"b.txt", "A.TXT", "c.log", "README"})
      Folder.WriteFile(std::string("Dir/") + name, "x");
    Folder.MakeFolder("Dir/Sub");
    Folder.WriteFile("Dir/Page.Html", std::string("Hello\0World", 11));
    std::filesystem::permissions(Folder.WriteFile("Dir/Locked.txt", "x"), std::filesystem::perms::owner_read);
    ASSERT_EQ(mkfifo(Folder.PathOf("Dir/pipe").c_str(), 0600), 0);
  }
  std::string At(const std::string& relative) const { return Folder.PathOf(relative); }
  kwstest::TempFolder Folder;
};

} // namespace

TEST_F(Files, AReadGivesEveryByteThenSucceedsWithNothingAtTheEnd) {
  HANDLE file = OpenForReading(WindowsStyle(At("DIR/page.HTML")));
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD high = 99, got = 7;
  EXPECT_TRUE(GetFileSize(file, &high) == 11u && high == 0u);
  EXPECT_EQ(ReadAll(file), std::string("Hello\0World", 11));
  char byte;
  EXPECT_TRUE(ReadFile(file, &byte, 1, &got, nullptr) && got == 0u);
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_EQ(ErrorOf(ReadFile(file, &byte, 1, &got, nullptr)), DWORD(ERROR_INVALID_HANDLE));
}

// A pipe opened blocking would wait for a writer forever.
TEST_F(Files, CreateFileOpensOnlyExistingRegularFilesAndNeverBlocks) {
  const std::pair<std::string, DWORD> cases[] = {
      {At("dir/a.txt"), 0},
      {At("dir/sub"), ERROR_ACCESS_DENIED},
      {At("dir/pipe"), ERROR_ACCESS_DENIED},
      {"/dev/null", ERROR_ACCESS_DENIED},
      {At("dir/missing.txt"), ERROR_FILE_NOT_FOUND},
      {At("missing/a.txt"), ERROR_PATH_NOT_FOUND},
      {At("dir/a.txt/x"), ERROR_PATH_NOT_FOUND},
  };
  for (const auto& [path, error] : cases) {
    HANDLE file = OpenForReading(path);
    EXPECT_EQ(file == INVALID_HANDLE_VALUE ? GetLastError() : 0u, error) << path;
    CloseHandle(file);
  }
}

TEST_F(Files, SetFilePointerMovesFromEachOriginAndRefusesNegativePositions) {
  HANDLE file = OpenForReading(Folder.WriteFile("f.bin", "0123456789"));
  EXPECT_EQ(SetFilePointer(file, 4, nullptr, FILE_BEGIN) + SetFilePointer(file, 2, nullptr, FILE_CURRENT),
            10u);
  EXPECT_EQ(ErrorOf(SetFilePointer(file, -20, nullptr, FILE_END) != INVALID_SET_FILE_POINTER),
            DWORD(ERROR_NEGATIVE_SEEK));
  EXPECT_EQ(SetFilePointer(file, -3, nullptr, FILE_END), 7u);
  EXPECT_EQ(ReadAll(file), "789");
  CloseHandle(file);
}

TEST_F(Files, SetFilePointerUsesTheHighPartsForFilesOf4GiBAndMore) {
  std::string path = Folder.WriteFile("big.bin", "");
  std::error_code error;
  std::filesystem::resize_file(path, 5ull << 30, error); // sparse where the file system allows
  if (error)
    GTEST_SKIP() << "no room for a sparse 5 GiB file";
  HANDLE file = OpenForReading(path);
  DWORD high = 0;
  EXPECT_TRUE(GetFileSize(file, &high) == 1u << 30 && high == 1u);
  LONG moveHigh = 1;
  EXPECT_TRUE(SetFilePointer(file, 16, &moveHigh, FILE_BEGIN) == 16u && moveHigh == 1);
  EXPECT_EQ(
      ErrorOf(SetFilePointer(file, 0, nullptr, FILE_CURRENT) != INVALID_SET_FILE_POINTER), // beyond 32 bits
      DWORD(ERROR_INVALID_PARAMETER));
  moveHigh = -1; // -1 as a 64-bit distance: one byte back
  EXPECT_TRUE(SetFilePointer(file, -1, &moveHigh, FILE_CURRENT) == 15u && moveHigh == 1);
  CloseHandle(file);
}

// 100 ns ticks since 1601: the Unix epoch is 11644473600 seconds later.
TEST_F(Files, GetFileTimeGivesTheLastWriteTimeOfTheOpenFile) {
  const std::string path = Folder.WriteFile("timed.txt", "x");
  constexpr int64_t kUnixTime = 784111777; // Sun, 06 Nov 1994 08:49:37 GMT
  std::filesystem::last_write_time(
      path, std::chrono::file_clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(kUnixTime))));
  HANDLE file = OpenForReading(path);
  FILETIME written{};
  ASSERT_TRUE(GetFileTime(file, nullptr, nullptr, &written));
  const uint64_t ticks = (uint64_t{written.dwHighDateTime} << 32) | written.dwLowDateTime;
  EXPECT_EQ(ticks, (uint64_t{kUnixTime} + 11644473600u) * 10000000u);
  CloseHandle(file);
  EXPECT_EQ(ErrorOf(GetFileTime(file, nullptr, nullptr, &written)), DWORD(ERROR_INVALID_HANDLE));
}

TEST_F(Files, SearchNamesIgnoreCaseListInByteOrderAndTellAMissingFileFromAMissingFolder) {
  const std::vector<std::string> all = {".",      "..",  "A.TXT", "Locked.txt", "Page.Html",
                                        "README", "Sub", "b.txt", "c.log",      "pipe"};
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {At("DIR"), {"Dir"}},
      {WindowsStyle(At("dir/A.txt")), {"A.TXT"}},
      {At("dir/*.TXT"), {"A.TXT", "Locked.txt", "b.txt"}},
      {At("dir/?.log"), {"c.log"}},
      {At("dir/*"), all},
      {At("dir/read*"), {"README"}},
      {At("dir") + "\\", {"<error 2>"}},
      {At("dir/*.none"), {"<error 2>"}},
      {At("missing/*.txt"), {"<error 3>"}},
      {At("dir/a.txt/x"), {"<error 3>"}},
  };
  for (const auto& [pattern, expected] : cases)
    EXPECT_EQ(FindAll(pattern), expected) << pattern;
}

TEST_F(Files, SearchAndAttributesTellFoldersFilesReadOnlyFilesAndDevices) {
  const std::pair<std::string, DWORD> cases[] = {
      {WindowsStyle(At("DIR")), FILE_ATTRIBUTE_DIRECTORY},
      {"C:", FILE_ATTRIBUTE_DIRECTORY},
      {At("dir/a.TXT"), FILE_ATTRIBUTE_ARCHIVE},
      {At("dir/locked.txt"), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY},
      {"/dev/null", FILE_ATTRIBUTE_DEVICE},
      {At("dir/missing"), INVALID_FILE_ATTRIBUTES},
      {At("missing/x"), INVALID_FILE_ATTRIBUTES},
  };
  for (const auto& [path, attributes] : cases) {
    EXPECT_EQ(GetFileAttributesA(path.c_str()), attributes) << path;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(path.c_str(), &data);
    EXPECT_EQ(search == INVALID_HANDLE_VALUE ? INVALID_FILE_ATTRIBUTES : data.dwFileAttributes, attributes);
    FindClose(search);
  }
}
