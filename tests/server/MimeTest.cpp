#include "server/Mime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

// The registry view is built once per process from this file, so it is put in place before any test runs.
const bool kMimeFileReady = [] {
  const std::string path = ::testing::TempDir() + "kws-server-mime.types";
  std::ofstream(path) << "# a comment line\n"
                         "text/html html htm\n"
                         "text/plain txt\n"
                         "application/x-a dup\n"
                         "application/x-b dup\n"
                         "text/x-sh sh\n"
                         "application/x-shellscript sh\n"
                         "image/x-none\n";
  return setenv("KWSPLAT_MIME_TYPES", path.c_str(), 1) == 0;
}();

TEST(Mime, LooksUpExtensionsWithOrWithoutDotInAnyCase) {
  ASSERT_TRUE(kMimeFileReady);
  const tMime mime;
  for (const char* extension : {".htm", "htm", " HTM ", ".Htm"})
    EXPECT_EQ(mime.GetContentType(extension), "text/html") << extension;
  EXPECT_EQ(mime.GetContentType(".TXT"), "text/plain");
}

TEST(Mime, AnswersEmptyForUnknownBlankOrDoubleDottedExtensions) {
  const tMime mime;
  for (const char* extension : {"", "   ", "..htm", ".nope", ".0/README"})
    EXPECT_EQ(mime.GetContentType(extension), "") << extension;
}

TEST(Mime, ContentTypeDatabaseOverridesExtensionKeysAndTheLastTypeWins) {
  const tMime mime;
  // .sh: its extension key says application/x-shellscript, the type database ends with text/x-sh.
  EXPECT_EQ(mime.GetContentType("sh"), "text/x-sh");
  EXPECT_EQ(mime.GetContentType("dup"), "application/x-b");
}

TEST(Mime, KeepsEachExtensionOnceAtThePlaceItWasFirstAdded) {
  const tMime mime;
  const std::vector<std::string> expected = {"DUP", "HTM", "HTML", "SH", "TXT"};
  EXPECT_EQ(mime.Extensions, expected);
  ASSERT_EQ(mime.ContentTypes.size(), expected.size());
  EXPECT_EQ(mime.ContentTypes[3], "text/x-sh");
}

TEST(Mime, AddTypeReplacesInPlaceAndStoresASingleDotAsTheEmptyKey) {
  tMime mime;
  const size_t count = mime.Extensions.size();
  mime.AddType(" .htm ", "text/x-replaced");
  EXPECT_EQ(mime.Extensions.size(), count);
  EXPECT_EQ(mime.GetContentType("HTM"), "text/x-replaced");

  EXPECT_EQ(mime.GetContentType("."), "");
  mime.AddType(".", "x/dot");
  EXPECT_EQ(mime.GetContentType("."), "x/dot");
  EXPECT_EQ(mime.GetContentType(""), "");
  mime.AddType("  ", "x/blank");
  EXPECT_EQ(mime.Extensions.size(), count + 1);
}

TEST(Mime, LoadFromRegistryStartsAfresh) {
  tMime mime;
  mime.AddType("zzz", "x/zzz");
  mime.LoadFromRegistry();
  EXPECT_EQ(mime.GetContentType("zzz"), "");
  EXPECT_EQ(mime.GetContentType("htm"), "text/html");
}

} // namespace
