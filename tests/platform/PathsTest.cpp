// Windows-style paths to native ones, found in any letter case.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/src/Paths.h"
#include "platform/win32.h"
#include "tests/support/TempFolder.h"
#include "tests/support/Win32Calls.h"

using kwsplat::ResolveCase;
using namespace std::chrono_literals;

namespace {

std::string Shown(const kwsplat::NativePath& path) {
  return path.Error ? "<error " + std::to_string(path.Error) + ">" : path.Path;
}

} // namespace

TEST(PathTranslation, SeparatorsDriveLettersRelativePathsAndLimits) {
  const std::string current = std::filesystem::current_path().string();
  const std::string longest = "/" + std::string(4094, 'a');
  const std::string tooLong = longest + "a";
  const std::pair<const char*, std::string> cases[] = {
      {"C:\\WebBase\\", "/WebBase/"},
      {"C:", "/"},
      {"c:x", "/x"},
      {"C:/a//b\\\\c", "/a/b/c"},
      {"\\\\host\\share\\x", "/host/share/x"},
      {"/a/./b/../c", "/a/./b/../c"},
      {"D:\\a. \\b.", "/a. /b."},
      {"rel\\x.txt", current + "/rel/x.txt"},
      {".", current + "/."},
      {longest.c_str(), longest},
      {tooLong.c_str(), "<error 206>"},
      {"", "<error 2>"},
      {nullptr, "<error 87>"},
  };
  for (const auto& [input, expected] : cases)
    EXPECT_EQ(Shown(kwsplat::TranslatePath(input)), expected) << (input ? input : "null");
}

// The exact name wins, then the first folded match in byte order.
TEST(PathResolution, FindsEachComponentInAnyCaseButNeverFoldsDotsOrDropsASeparator) {
  kwstest::TempFolder folder;
  for (const char* name : {"Site/Docs/Index.HTML", "Site/name.", "abc", "Abc", "ABC"})
    folder.WriteFile(name, "x");
  const std::pair<std::string, std::string> cases[] = {
      {folder.PathOf("abc"), folder.PathOf("abc")},
      {folder.PathOf("aBC"), folder.PathOf("ABC")},
      {kwstest::WindowsStyle(folder.PathOf("SITE/docs/INDEX.html")), folder.PathOf("Site/Docs/Index.HTML")},
      {folder.PathOf("SITE/../site/DOCS"), folder.PathOf("Site/../Site/Docs")},
      {folder.PathOf("site/NAME."), folder.PathOf("Site/name.")},
      {folder.PathOf("SITE") + "\\", folder.PathOf("Site/")},
      {folder.PathOf("site/NAME"), "<error 2>"},
      {folder.PathOf("none/file.txt"), "<error 3>"},
      {folder.PathOf("site/name./x"), "<error 3>"},
      {folder.PathOf("SITE/" + std::string(256, 'n')), "<error 206>"},
  };
  for (const auto& [input, expected] : cases)
    EXPECT_EQ(Shown(kwsplat::ResolvePath(input.c_str())), expected) << input;
}

TEST(PathResolution, SeesEntriesAddedAndRemovedInACachedFolder) {
  kwstest::TempFolder folder;
  folder.WriteFile("Cached/Old.txt", "x");
  // An old folder time makes the listing worth keeping; every change after it must still be seen.
  std::filesystem::last_write_time(folder.PathOf("Cached"),
                                   std::filesystem::file_time_type::clock::now() - 1h);
  EXPECT_EQ(Shown(ResolveCase(folder.PathOf("cached/old.txt"))), folder.PathOf("Cached/Old.txt"));
  EXPECT_EQ(Shown(ResolveCase(folder.PathOf("cached/new.txt"))), "<error 2>");
  folder.WriteFile("Cached/NEW.TXT", "y");
  EXPECT_EQ(Shown(ResolveCase(folder.PathOf("cached/new.txt"))), folder.PathOf("Cached/NEW.TXT"));
  std::filesystem::remove(folder.PathOf("Cached/Old.txt"));
  EXPECT_EQ(Shown(ResolveCase(folder.PathOf("cached/old.txt"))), "<error 2>");
}

TEST(PathResolution, ManyThreadsResolveWhileTheFolderChanges) {
  kwstest::TempFolder folder;
  for (int i = 0; i < 20; ++i)
    folder.WriteFile("Shared/Stable" + std::to_string(i) + ".txt", "x");
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0};
  std::thread changer([&] {
    for (int i = 0; i < 200; ++i)
      std::filesystem::remove(folder.WriteFile("Shared/Churn" + std::to_string(i % 7) + ".tmp", "c"));
    stop = true;
  });
  auto resolve = [&] {
    for (int i = 0; (!stop || i < 200) && i < 100000; ++i) {
      const std::string n = std::to_string(i % 20);
      wrong += ResolveCase(folder.PathOf("SHARED/stable" + n + ".TXT")).Path !=
               folder.PathOf("Shared/Stable" + n + ".txt");
    }
  };
  std::thread readers[] = {std::thread(resolve), std::thread(resolve), std::thread(resolve),
                           std::thread(resolve)};
  changer.join();
  for (std::thread& reader : readers)
    reader.join();
  EXPECT_EQ(wrong, 0);
}
