#include "server/WSHandler.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

std::unique_ptr<tListenerData> ListenerWith(std::initializer_list<const char*> virtualPaths) {
  auto settings = std::make_unique<tListenerData>();
  for (const char* path : virtualPaths)
    settings->VDirs[settings->VDirCount++].VirtualPath = path;
  return settings;
}

TEST(WSHandler, ChoosesTheLongestMatchingVirtualPathIgnoringCase) {
  const auto settings = ListenerWith({"/", " /cgi/ ", "/cgi/bin/", "", "/Docs"});
  struct Case {
    std::string path;
    int32_t index;
  };
  const Case cases[] = {
      {"/cgi/x.dll", 1},
      {"/index.html", 0},
      {"/CGI/X.DLL", 1},
      {"/cgi/bin/run", 2},
      {"/docsfoo/a", 4},
      {"/DOCS", 4},
      {"", -1},
      {"relative", -1},
      {"http://host/cgi/a", 1},
      {"HTTP://host", 0},
      {"ftp://host/cgi/", -1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(tWSHandler::ChooseVDir(*settings, c.path), c.index) << c.path;
}

TEST(WSHandler, WithoutARootDirectoryOtherPathsFindNoneAndEmptyPathsNeverMatch) {
  const auto settings = ListenerWith({"/cgi/", ""});
  EXPECT_EQ(tWSHandler::ChooseVDir(*settings, "/index.html"), -1);
  EXPECT_EQ(tWSHandler::ChooseVDir(*settings, "/cgi/a"), 0);
}

} // namespace
