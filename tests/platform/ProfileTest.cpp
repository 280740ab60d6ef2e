// The profile (INI) reader.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32.h"
#include "tests/support/TempFolder.h"

using namespace std::string_literals;

namespace {

// Reads into a buffer of `size` and checks that nothing was written past it.
std::string Read(const std::string& file, const char* section, const char* key,
                 const char* fallback = "<default>", DWORD size = 2048) {
  std::vector<char> buffer(size + 1, '\x7f');
  DWORD length = GetPrivateProfileStringA(section, key, fallback, buffer.data(), size, file.c_str());
  EXPECT_EQ(buffer[length], '\0');
  EXPECT_EQ(buffer[size], '\x7f') << "wrote past the buffer";
  return std::string(buffer.data(), length);
}

void MakeOld(const std::string& path) {
  std::filesystem::last_write_time(path,
                                   std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
}

} // namespace

TEST(ProfileReader, ReadsValuesByTheReaderRules) {
  kwstest::TempFolder folder;
  std::string file = folder.WriteFile(
      "s.ini", "\xEF\xBB\xBF[ Main ]\r\n  KeY  =  spaced value \t\r\nkey=the first wins\neq=a=b=c\n"
               "dq=\"  quoted  \"\nsq='single'\nmixed=\"open'\nlone=\"\nempty=\nblank=   \n"
               "no equals sign here\n;semi=colon\nhash=v # not a comment\nzero=ab\0cd\n"
               "[Other]\rcr=only\rcrlf=mixed\r\n[main]\nlater=the first section wins\n"s);
  const struct {
    const char *Section, *Key;
    std::string Expected;
  } cases[] = {
      {" MAIN ", "  KEY ", "spaced value"},
      {"Main", "eq", "a=b=c"},
      {"Main", "dq", "  quoted  "},
      {"Main", "sq", "single"},
      {"Main", "mixed", "\"open'"},
      {"Main", "lone", "\""},
      {"Main", "empty", ""},
      {"Main", "no equals sign here", "<default>"},
      {"Main", ";semi", "colon"},
      {"Main", "hash", "v # not a comment"},
      {"Main", "zero", "ab"},
      {"Main", "later", "<default>"},
      {"other", "CR", "only"},
      {"other", "crlf", "mixed"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Read(file, c.Section, c.Key), c.Expected) << c.Section << "/" << c.Key;
}

TEST(ProfileReader, AMissingFileGivesTheDefaultAndValuesAreCutToTheBufferSize) {
  kwstest::TempFolder folder;
  EXPECT_EQ(Read(folder.PathOf("none.ini"), "S", "K", "C:\\WebBase\\"), "C:\\WebBase\\");
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Read(folder.PathOf("none.ini"), "S", "K", nullptr), "");
  std::string file = folder.WriteFile("s.ini", "[S]\nk=abcdef\nlong=" + std::string(100000, 'v') + "\n");
  EXPECT_EQ(Read(file, "S", "k", "", 4), "abc");
  EXPECT_EQ(Read(file, "S", "missing", "defaults too", 4), "def");
  EXPECT_EQ(Read(file, "S", "long"), std::string(2047, 'v'));
  char untouched = 'x';
  EXPECT_EQ(GetPrivateProfileStringA("S", "k", "", &untouched, 0, file.c_str()), 0u);
  EXPECT_EQ(untouched, 'x');
}

TEST(ProfileReader, LooksForABareNameInTheWindowsDirectoryInAnyCase) {
  kwstest::TempFolder folder;
  folder.WriteFile("KESTRUNEWEBSERVER.INI", "[LISTENERS]\nCOUNT=3\n");
  setenv("KWSPLAT_WINDOWS_DIR", folder.Path().c_str(), 1);
  EXPECT_EQ(Read("KestruneWebServer.Ini", "Listeners", "Count"), "3");
  unsetenv("KWSPLAT_WINDOWS_DIR");
  EXPECT_EQ(Read("KestruneWebServer.Ini", "Listeners", "Count"), "<default>");
}

TEST(ProfileReader, SeesTheFileChangeBehindItsCache) {
  kwstest::TempFolder folder;
  std::string file = folder.WriteFile("s.ini", "[S]\nk=one\n");
  MakeOld(file);
  EXPECT_EQ(Read(file, "S", "k"), "one");
  folder.WriteFile("s.ini", "[S]\nk=two\n"); // same size, new time
  EXPECT_EQ(Read(file, "S", "k"), "two");
  MakeOld(file);
  EXPECT_EQ(Read(file, "S", "k"), "two");
  std::string other = folder.WriteFile("t.ini", "[S]\nk=six\n"); // same size and time, another inode
  MakeOld(other);
  std::filesystem::rename(other, file);
  EXPECT_EQ(Read(file, "S", "k"), "six");
  folder.WriteFile("s.ini", "[S]\nk=three\n");
  EXPECT_EQ(Read(file, "S", "k"), "three");
}

TEST(ProfileReader, SurvivesBinaryAndDegenerateFiles) {
  kwstest::TempFolder folder;
  std::string noise(200000, '\0');
  for (size_t i = 0; i < noise.size(); ++i)
    noise[i] = static_cast<char>((i * 2654435761u) >> 13);
  for (const std::string& file : {folder.WriteFile("noise.ini", noise), folder.WriteFile("empty.ini", ""),
                                  folder.MakeFolder("folder.ini")})
    Read(file, nullptr, nullptr), Read(file, "S", nullptr), Read(file, "S", "k"); // each checks its buffer
  EXPECT_EQ(Read(folder.WriteFile("brackets.ini", "[[[]]]\n[\n]\n=\n==\n[S\nk=v\n"), "S", "k"), "v");
  EXPECT_EQ(Read(folder.PathOf("folder.ini"), "S", "k"), "<default>");
}

TEST(ProfileReader, ManyThreadsReadWhileTheFileChanges) {
  kwstest::TempFolder folder;
  std::string file = folder.WriteFile("s.ini", "[S]\nstable=yes\nn=0\n");
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0};
  std::thread writer([&] {
    for (int i = 1; i < 100; ++i)
      std::filesystem::rename(folder.WriteFile("next.ini", "[S]\nstable=yes\nn=" + std::to_string(i)), file);
    stop = true;
  });
  auto read = [&] {
    for (int i = 0; !stop || i < 100; ++i)
      wrong += Read(file, "s", "STABLE") != "yes";
  };
  std::thread readers[] = {std::thread(read), std::thread(read), std::thread(read), std::thread(read)};
  writer.join();
  for (std::thread& reader : readers)
    reader.join();
  EXPECT_EQ(wrong, 0);
}
