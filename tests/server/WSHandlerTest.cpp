#include "server/WSHandler.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

// Which prefix is longest is FindLongestPrefix's business; here: what the handler makes of paths first.
TEST(WSHandler, ChoosesTheDirectoryByTrimmedVirtualPathIgnoringCaseSchemeAndHost) {
  const auto settings = std::make_unique<tListenerData>(); // too large for the stack
  for (const char* path : {"/", " /cgi/ ", "", "/Docs"})
    settings->VDirs[settings->VDirCount++].VirtualPath = path;
  struct Case {
    std::string path;
    int32_t index;
  } cases[] = {{"/cgi/x.dll", 1},        {"/CGI/X.DLL", 1},  {"/docsfoo/a", 3},
               {"/index.html", 0},       {"relative", -1},   {"", -1},
               {"http://host/cgi/a", 1}, {"HTTP://host", 0}, {"ftp://host/cgi/", -1}};
  for (const Case& c : cases)
    EXPECT_EQ(tWSHandler::ChooseVDir(*settings, c.path), c.index) << c.path;
}

} // namespace
