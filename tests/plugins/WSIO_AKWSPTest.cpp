#include <gtest/gtest.h>

#include <cstring>

#include "plugins/WSIO_AKWSP.h"
#include "server/RequestReader.h"
#include "tests/support/PluginRequest.h"

using namespace kwstest;

namespace {

using tExchange = tPluginExchange<tWSIO_AKWSP>;

const tVDirData kAkwspDir = PluginDirectory(vkAKWSP, "AKWSPPath", kTestPluginsDir);

std::string Get(const std::string& pathAndQuery) {
  return "GET /p/" + pathAndQuery + " HTTP/1.0\r\n\r\n";
}

} // namespace

// Header lines are trimmed and the header block closed by the server; the body is the plug-in's, byte for
// byte.
TEST(WSIO_AKWSP, TheReplyIsBuiltFromStatusHeaderLinesAndBody) {
  const std::string plain = ScriptedStatus("200 OK") + "Content-Type: text/plain\r\n\r\nhi";
  struct Case {
    std::string Query;
    std::string Expected;
  } cases[] = {
      {"plain", plain},
      {"trailing", plain},
      {"none", ScriptedStatus("200 OK") + "\r\nhi"},
      {"odd", ScriptedStatus("299 Unknown status") + "\r\nconstant"},
      {"echo", ScriptedStatus("200 OK") + "Content-Type: text/plain\r\n\r\npeer=10.1.2.3 length=34"},
  };
  auto cache = std::make_shared<tLibraryCache>();
  for (const Case& c : cases) {
    tExchange exchange(Get("TestAkwsp?" + c.Query), kAkwspDir, cache);
    EXPECT_EQ(exchange.Connection->Out, c.Expected) << c.Query;
    EXPECT_TRUE(exchange.Connection->Complete);
  }
  // The plug-in takes the whole request in one call: a body too large to be held whole is refused.
  tExchange large("POST /p/TestAkwsp?echo HTTP/1.0\r\nContent-Length: 2000000\r\n\r\n" +
                      std::string(kFirstBodyPart, 'b'),
                  kAkwspDir, cache);
  EXPECT_EQ(large.Connection->Out,
            ScriptedStatus("413 Request Entity Too Large") + "Content-Length: 0\r\n\r\n");
  EXPECT_TRUE(large.Connection->Complete);
}

TEST(WSIO_AKWSP, ALongPathIsCutToFitTheInitRecord) {
  auto initPath = TestPluginEntry<const char* (*)()>(kTestPluginsDir + "\\TestAkwsp" + kPluginSuffix,
                                                     "TestAkwspInitPath");
  // Long in its directory part only: the file's own path stays within what Windows opens.
  tVDirData longDir = kAkwspDir;
  longDir.VirtualPath = "/" + std::string(300, 'v') + "/";
  tExchange exchange("GET " + longDir.VirtualPath + "TestAkwsp HTTP/1.0\r\n\r\n", longDir,
                     std::make_shared<tLibraryCache>());
  EXPECT_EQ(std::strlen(initPath()), 255u);
  EXPECT_EQ(std::string(initPath(), 7), "/vvvvvv");
}

TEST(WSIO_AKWSP, APluginThatRefusesIsInvalidAndDoneRunsAtUnload) {
  tPluginMarker marker;
  auto cache = std::make_shared<tLibraryCache>();
  tExchange refused(Get("TestAkwspRefused"), kAkwspDir, cache);
  EXPECT_EQ(refused.Connection->Out, ScriptedStatus("404 Not Found") + "\r\nPLUGIN " + kTestPluginsDir +
                                         "\\TestAkwspRefused" + kPluginSuffix + " IS INVALID :(");
  tExchange(Get("TestAkwsp?plain"), kAkwspDir, cache);
  refused.End();
  cache->UnloadAll(1000);
  EXPECT_EQ(marker.Text(), "AKWSPGDone 3\nAKWSPGDone 3\n");
}
