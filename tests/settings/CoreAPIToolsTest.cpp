#include "settings/CoreAPITools.h"

#include <gtest/gtest.h>

#include <climits>
#include <utility>
#include <vector>

#include "tests/support/TempFolder.h"

namespace {

// Bytes above 127 are text, not blanks.
TEST(Trim, RemovesEveryByteUpToBlankFromBothEndsAndNothingElse) {
  struct Case {
    std::string input, expected;
  } cases[] = {{"", ""},
               {"   ", ""},
               {"a  b", "a  b"},
               {{"\0a b\0", 5}, "a b"},
               {"\xA0x\xA0", "\xA0x\xA0"},
               {" \t\r\nabc\x01\x1f ", "abc"}};
  for (const auto& c : cases)
    EXPECT_EQ(Trim(c.input), c.expected) << "input: " << c.input;
}

TEST(UpperCase, ChangesOnlyTheLettersAToZ) {
  EXPECT_EQ(UpperCase("abz AZ 09 {}`@ \xE9\xFF"), "ABZ AZ 09 {}`@ \xE9\xFF");
  EXPECT_TRUE(SameText("Win95", "wIN95"));
  EXPECT_FALSE(SameText("\xE9", "\xC9"));
  EXPECT_FALSE(SameText("nt", "ntx"));
}

TEST(ParseInteger, AcceptsTheStandardSyntaxOnlyWhenTheWholeTextFitsIn32Bits) {
  struct Case {
    std::string input;
    int32_t expected;
  } cases[] = {{"0", 0},    {"00012", 12}, {"+7", 7},    {"-7", -7},    {"$ff", 255},
               {"x10", 16}, {"X10", 16},   {"0X1f", 31}, {"-$10", -16}, {"+0x10", 16}};
  for (const auto& c : cases)
    EXPECT_EQ(ParseInteger(c.input), c.expected) << "input: '" << c.input << "'";
  for (const char* input : {"2147483647", "$7FFFFFFF"})
    EXPECT_EQ(ParseInteger(input), INT32_MAX) << input;
  for (const char* input : {"-2147483648", "-$80000000"})
    EXPECT_EQ(ParseInteger(input), INT32_MIN) << input;
  for (const char* input : {"2147483648", "-2147483649", "$80000000", "99999999999999999999999", "", "-", "$",
                            "0x", " 1", "1 ", "1.5", "0x1G", "$-5", "--5"})
    EXPECT_EQ(ParseInteger(input), std::nullopt) << "input: '" << input << "'";
}

TEST(TrimmedIntOrDefault, ConvertsTheTrimmedTextOrGivesTheDefault) {
  struct Case {
    std::string input;
    int32_t expected;
  } cases[] = {{" 12 ", 12}, {"\t-0X1F\r\n", -31}, {"1.5", 1}, {"", 1}, {"   ", 1}, {"4294967297", 1}};
  for (const auto& c : cases)
    EXPECT_EQ(TrimmedIntOrDefault(c.input, 1), c.expected) << "input: '" << c.input << "'";
}

TEST(WithTrailingSeparator, TrimsAndAppendsABackslashUnlessEmptyOrEndingInASeparator) {
  struct Case {
    std::string input, expected;
  } cases[] = {{"   ", ""},  {"", ""},         {"C:\\web ", "C:\\web\\"},    {"www/", "www/"},
               {"C:", "C:"}, {"C:\\", "C:\\"}, {" /srv/site", "/srv/site\\"}};
  for (const auto& c : cases)
    EXPECT_EQ(WithTrailingSeparator(c.input), c.expected) << "input: '" << c.input << "'";
}

// The pair is trimmed before it is read, so "# 4" is 4 and "##41" is 4 then "1".
TEST(DecodeHashEscapes, TurnsHashAndTwoCharactersIntoOneByte) {
  struct Case {
    std::string input, expected;
  } cases[] = {{"#41#42", "AB"},   {"#4", "4"},     {"x#", "x"},       {"#", ""},
               {"#zz", {"\0", 1}}, {"#23", "#"},    {"#FF", "\xFF"},   {"#4a", "J"},
               {"#z1", "\x01"},    {"# 4", "\x04"}, {"##41", "\0041"}, {"a#3Db#0D#0Ac=d", "a=b\r\nc=d"}};
  for (const auto& c : cases)
    EXPECT_EQ(DecodeHashEscapes(c.input), c.expected) << "input: '" << c.input << "'";
}

TEST(ReadWholeFileAndIsDirectory, GiveEveryByteOfAFileAndTellFoldersFromFiles) {
  kwstest::TempFolder folder;
  std::string withZeros("ab\0\0cd\0", 7), large(3 * 1024 * 1024 + 17, 'x');
  for (size_t i = 0; i < large.size(); i += 4093)
    large[i] = static_cast<char>(i & 0xFF);
  const std::string sub = folder.MakeFolder("sub"), file = folder.WriteFile("file.txt", "x");
  EXPECT_EQ(ReadWholeFile(folder.WriteFile("zeros.bin", withZeros)), withZeros);
  EXPECT_TRUE(ReadWholeFile(folder.WriteFile("large.bin", large)) == large);
  for (const std::string& path : {folder.WriteFile("empty.bin", ""), folder.PathOf("missing.bin"), sub})
    EXPECT_EQ(ReadWholeFile(path), "") << path;
  for (const std::string& path : {sub, sub + "/", sub + "\\"})
    EXPECT_TRUE(IsDirectory(path)) << path;
  for (const std::string& path : {file, folder.PathOf("missing"), folder.PathOf("missing/")})
    EXPECT_FALSE(IsDirectory(path)) << path;
}

// LF then CR is two breaks, empty lines never match, and the prefix test keeps case.
TEST(FindLongestPrefix, GivesTheNumberOfTheLongestMatchingLineSplitAtCrLfOrBoth) {
  const std::string lines = "/\r\n/CGI/\r\n/CGI/BIN/";
  struct Case {
    std::string key, lines;
    int32_t expected;
  } cases[] = {{"/CGI/BIN/X.DLL", lines, 2},  {"/CGI/X", lines, 1},     {"/CGIX", lines, 0},
               {"CGI/", lines, -1},           {"", lines, -1},          {"/B/C", "/B/C\n/B/C/D\n/A", 0},
               {"/A/B", "\n/A\r/A/B\r\n", 2}, {"/X", "", -1},           {"/A/B", "/A\n\r/A/B", 2},
               {"/X", "\n\r\n\r", -1},        {"/cgi/bin/x", lines, 0}, {"/a/", "/A/\n/a", 1}};
  for (const auto& c : cases)
    EXPECT_EQ(FindLongestPrefix(c.key, c.lines), c.expected) << "key: " << c.key;
}

TEST(PathParts, SplitAtTheLastSlashOrBackslash) {
  struct Case {
    std::string path, folder, name;
  } cases[] = {{"/a/b/c", "/a/b/", "c"},
               {"C:\\x\\y.exe", "C:\\x\\", "y.exe"},
               {"C:\\x/y", "C:\\x/", "y"},
               {"name", "", "name"},
               {"/dir/", "/dir/", ""}};
  for (const auto& c : cases)
    EXPECT_EQ(FolderOf(c.path) + "|" + FileNameOf(c.path), c.folder + "|" + c.name);
}

TEST(HasCommandLineSwitch, MatchesAParameterOfDashOrSlashAndTheNameInAnyCaseButNotTheProgramName) {
  struct Case {
    std::vector<std::string> arguments;
    bool expected;
  } cases[] = {{{"p", "-nt"}, true},   {{"p", "/Nt"}, true},   {{"p", "x", "-NT"}, true},
               {{"p", "nt"}, false},   {{"p", "-ntx"}, false}, {{"p", "--nt"}, false},
               {{"p", "-"}, false},    {{"p", "/"}, false},    {{"p", "//nt"}, false},
               {{"p", "- nt"}, false}, {{"p"}, false},         {{"p", "-n", "t"}, false},
               {{"-NT"}, false}};
  for (auto c : cases) {
    std::vector<char*> pointers;
    for (auto& text : c.arguments)
      pointers.push_back(text.data());
    const int savedCount = std::exchange(__argc, static_cast<int>(pointers.size()));
    char** const savedValues = std::exchange(__argv, pointers.data());
    EXPECT_EQ(HasCommandLineSwitch("NT"), c.expected) << c.arguments.back();
    __argc = savedCount;
    __argv = savedValues;
  }
}

} // namespace
