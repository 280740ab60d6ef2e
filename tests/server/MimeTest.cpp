#include "server/Mime.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "tests/support/ThisProcess.h"

namespace {

// The registry view is built once per process from this file, so it is put in place before any test runs.
// Test processes run side by side: each writes a copy of its own and renames it into place, so none ever
// reads a file half written.
const bool kMimeFileReady = [] {
  const std::string path = ::testing::TempDir() + "kws-server-mime.types";
  const std::string copy = path + "." + std::to_string(std::random_device{}());
  std::ofstream(copy) << "# a comment line\n"
                         "text/html html htm\n"
                         "text/plain txt\n"
                         "application/x-a dup\n"
                         "application/x-b dup\n"
                         "text/x-sh sh\n"
                         "application/x-shellscript sh\n"
                         "image/x-none\n";
  std::error_code error;
  std::filesystem::rename(copy, path, error);
  return !error && kwstest::SetEnvironmentValue("KWSPLAT_MIME_TYPES", path);
}();

// The content-type database overrides extension keys, and the last type of an extension wins.
TEST(Mime, LooksUpTrimmedExtensionsWithOrWithoutDotInAnyCase) {
  ASSERT_TRUE(kMimeFileReady);
  const tMime mime;
  struct Case {
    std::string extension, type;
  } cases[] = {{".htm", "text/html"},  {"htm", "text/html"}, {" HTM ", "text/html"},
               {".TXT", "text/plain"}, {"sh", "text/x-sh"},  {"dup", "application/x-b"}};
  for (const Case& c : cases)
    EXPECT_EQ(mime.GetContentType(c.extension), c.type) << c.extension;
  for (const char* unknown : {"", "   ", "..htm", ".nope", ".0/README"})
    EXPECT_EQ(mime.GetContentType(unknown), "") << unknown;
}

} // namespace
