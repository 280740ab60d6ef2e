// Windows-style paths to native ones, found in any letter case.
#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/src/Paths.h"
#include "platform/win32.h"
#include "tests/support/TempFolder.h"

using kwsplat::NativePath;
using kwsplat::ResolveCase;
using kwsplat::ResolvePath;
using kwsplat::TranslatePath;

namespace {

std::string Current() {
  return std::filesystem::current_path().string();
}

// The temporary folder written the Windows way: drive letter and backslashes.
std::string WindowsStyle(const std::string& native) {
  std::string text = "C:" + native;
  for (char& c : text)
    if (c == '/')
      c = '\\';
  return text;
}

} // namespace

TEST(PathTranslation, SeparatorsDriveLettersAndRelativePaths) {
  struct Case {
    std::string Input;
    std::string Expected;
  };
  const Case cases[] = {
      {"C:\\WebBase\\", "/WebBase/"},
      {"C:", "/"},
      {"c:x", "/x"},
      {"C:/a//b\\\\c", "/a/b/c"},
      {"\\\\host\\share\\x", "/host/share/x"},
      {"/a/./b/../c", "/a/./b/../c"},
      {"D:\\a. \\b.", "/a. /b."},
      {"rel\\x.txt", Current() + "/rel/x.txt"},
      {".", Current() + "/."},
  };
  for (const Case& c : cases) {
    NativePath translated = TranslatePath(c.Input.c_str());
    EXPECT_EQ(translated.Error, 0u) << c.Input;
    EXPECT_EQ(translated.Path, c.Expected) << c.Input;
  }
}

TEST(PathTranslation, LongestPathIs4095Bytes) {
  std::string longest = "/" + std::string(4094, 'a');
  EXPECT_EQ(TranslatePath(longest.c_str()).Error, 0u);
  std::string tooLong = longest + "a";
  EXPECT_EQ(TranslatePath(tooLong.c_str()).Error, static_cast<uint32_t>(ERROR_FILENAME_EXCED_RANGE));
}

TEST(PathTranslation, NoPathIsAnError) {
  EXPECT_EQ(TranslatePath(nullptr).Error, static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(TranslatePath("").Error, static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
}

TEST(PathResolution, FindsEachComponentInAnyLetterCase) {
  kwstest::TempFolder folder;
  folder.WriteFile("Site/Docs/Index.HTML", "x");
  NativePath resolved = ResolvePath(WindowsStyle(folder.PathOf("SITE/docs/INDEX.html")).c_str());
  EXPECT_EQ(resolved.Error, 0u);
  EXPECT_EQ(resolved.Path, folder.PathOf("Site/Docs/Index.HTML"));
}

TEST(PathResolution, ExactNameWinsThenFirstFoldedMatchInByteOrder) {
  kwstest::TempFolder folder;
  folder.WriteFile("abc", "1");
  folder.WriteFile("Abc", "2");
  folder.WriteFile("ABC", "3");
  EXPECT_EQ(ResolveCase(folder.PathOf("abc")).Path, folder.PathOf("abc"));
  EXPECT_EQ(ResolveCase(folder.PathOf("aBC")).Path, folder.PathOf("ABC"));
}

TEST(PathResolution, MissingLastComponentIs2AndMissingFolderIs3) {
  kwstest::TempFolder folder;
  folder.WriteFile("Dir/File.txt", "x");
  struct Case {
    std::string Relative;
    uint32_t Error;
  };
  const Case cases[] = {
      {"dir/none.txt", ERROR_FILE_NOT_FOUND},
      {"none/file.txt", ERROR_PATH_NOT_FOUND},
      {"dir/file.txt/x", ERROR_PATH_NOT_FOUND},
      {"DIR/" + std::string(256, 'n'), ERROR_FILENAME_EXCED_RANGE},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ResolvePath(folder.PathOf(c.Relative).c_str()).Error, c.Error) << c.Relative;
}

TEST(PathResolution, DotsAreNeverFoldedAndTrailingDotsAreKept) {
  kwstest::TempFolder folder;
  folder.WriteFile("Sub/name.", "dot");
  folder.WriteFile("Other/x", "x");
  EXPECT_EQ(ResolvePath(folder.PathOf("SUB/../other/X").c_str()).Path, folder.PathOf("Sub/../Other/x"));
  EXPECT_EQ(ResolvePath(folder.PathOf("sub/NAME.").c_str()).Path, folder.PathOf("Sub/name."));
  EXPECT_EQ(ResolvePath(folder.PathOf("sub/NAME").c_str()).Error,
            static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
}

TEST(PathResolution, KeepsATrailingSeparator) {
  kwstest::TempFolder folder;
  folder.MakeFolder("Web");
  EXPECT_EQ(ResolvePath((folder.PathOf("WEB") + "\\").c_str()).Path, folder.PathOf("Web") + "/");
}

TEST(PathResolution, SeesEntriesAddedAndRemovedInACachedFolder) {
  kwstest::TempFolder folder;
  std::string dir = folder.MakeFolder("Cached");
  folder.WriteFile("Cached/Old.txt", "x");
  // An old folder time makes the listing worth keeping; every change after it must still be seen.
  std::filesystem::last_write_time(dir,
                                   std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
  EXPECT_EQ(ResolveCase(folder.PathOf("cached/old.txt")).Path, folder.PathOf("Cached/Old.txt"));
  EXPECT_EQ(ResolveCase(folder.PathOf("cached/new.txt")).Error, static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));

  folder.WriteFile("Cached/NEW.TXT", "y");
  EXPECT_EQ(ResolveCase(folder.PathOf("cached/new.txt")).Path, folder.PathOf("Cached/NEW.TXT"));
  std::filesystem::remove(folder.PathOf("Cached/Old.txt"));
  EXPECT_EQ(ResolveCase(folder.PathOf("cached/old.txt")).Error, static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
}

TEST(PathResolution, ManyThreadsResolveWhileTheFolderChanges) {
  kwstest::TempFolder folder;
  for (int i = 0; i < 20; ++i)
    folder.WriteFile("Shared/Stable" + std::to_string(i) + ".txt", "x");
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0};
  std::thread changer([&] {
    for (int i = 0; i < 200; ++i) {
      std::string name = folder.WriteFile("Shared/Churn" + std::to_string(i % 7) + ".tmp", "c");
      std::filesystem::remove(name);
    }
    stop = true;
  });
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t)
    readers.emplace_back([&, t] {
      for (int i = 0; !stop || i < 200; ++i) {
        int n = (i + t) % 20;
        NativePath resolved = ResolveCase(folder.PathOf("SHARED/stable" + std::to_string(n) + ".TXT"));
        if (resolved.Path != folder.PathOf("Shared/Stable" + std::to_string(n) + ".txt"))
          ++wrong;
        if (i > 100000)
          break;
      }
    });
  changer.join();
  for (std::thread& reader : readers)
    reader.join();
  EXPECT_EQ(wrong, 0);
}
