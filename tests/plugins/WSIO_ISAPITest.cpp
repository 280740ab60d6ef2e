#include <gtest/gtest.h>

#include "plugins/WSIO_ISAPI.h"
#include "settings/CoreAPITools.h"
#include "tests/support/PluginRequest.h"

using namespace kwstest;

namespace {

using tExchange = tPluginExchange<tWSIO_ISAPI>;

const tVDirData kIsapiDir = PluginDirectory(vkISAPI, "ISAPIPath", kTestPluginsDir);
// As the host names it: the folder option with a "\\" appended.
const std::string kLibrary = kTestPluginsDir + "\\TestIsapi" + kPluginSuffix;

std::string Get(const std::string& query, const std::string& headers = "") {
  return "GET /p/TestIsapi?" + query + " HTTP/1.0\r\n" + headers + "\r\n";
}

// What the test extension reports of its control block, after the method.
std::string Block(const std::string& rest) {
  return "method=" + rest +
         " info=[] translated=C:\\ size=" + std::to_string(sizeof(EXTENSION_CONTROL_BLOCK)) +
         " version=20000";
}

} // namespace

TEST(WSIO_ISAPI, TheControlBlockCarriesTheQueryOnlyForGetAndTheBodyOnlyForPost) {
  struct Case {
    std::string Request;
    std::string Expected;
  } cases[] = {
      {Get("a=1"), Block("GET query=a=1 total=0 avail=0 data= null=1 type=")},
      {"POST /p/TestIsapi?a=1 HTTP/1.0\r\nContent-Type: text/x\r\nContent-Length: 5\r\n\r\nhello",
       Block("POST query= total=5 avail=5 data=hello null=0 type=text/x")},
      {"post /p/TestIsapi HTTP/1.0\r\nContent-Length: 5\r\n\r\nhello",
       Block("post query= total=0 avail=0 data= null=1 type=")},
  };
  auto cache = std::make_shared<tLibraryCache>();
  for (const Case& c : cases) {
    tExchange exchange(c.Request, kIsapiDir, cache);
    EXPECT_EQ(exchange.Connection->Out, c.Expected) << c.Request;
    EXPECT_TRUE(exchange.Connection->Complete);
  }
}

// A value that does not fit is not cut: FALSE, 122 and the size needed, the buffer untouched.
TEST(WSIO_ISAPI, GetServerVariableCopiesWholeValuesOrReportsTheSizeNeeded) {
  struct Case {
    std::string Query;
    std::string Expected;
  } cases[] = {
      {"var=SERVER_SOFTWARE&size=100", "ok=1 err=0 size=28 buf=Kestrune Web Server 0.1.2.7\\0"},
      {"var=SERVER_SOFTWARE&size=5", "ok=0 err=122 size=28 buf="},
      {"var=SERVER_SOFTWARE&size=0", "ok=0 err=122 size=28 buf="},
      {"var=server_software&size=4294967295", "ok=0 err=122 size=28 buf="},
      {"var=ALL_HTTP&size=100", "ok=0 err=1413 size=100 buf="},
      {"var=REMOTE_USER&size=0", "ok=0 err=122 size=1 buf="},
      {"var=REMOTE_USER&size=5", "ok=1 err=0 size=1 buf=\\0"},
      {"var=HTTP_USER_AGENT&size=100", "ok=1 err=0 size=6 buf=probe\\0"},
      {"var=HTTP_ACCEPT&size=100", "ok=1 err=0 size=1 buf=\\0"}, // Accept-Language is another field
      {"var=SERVER_PORT&size=100", "ok=1 err=0 size=5 buf=8080\\0"},
  };
  auto cache = std::make_shared<tLibraryCache>();
  for (const Case& c : cases) {
    tExchange exchange(Get(c.Query, "User-Agent: probe\r\nAccept-Language: en\r\n"), kIsapiDir, cache);
    EXPECT_EQ(exchange.Connection->Out, c.Expected) << c.Query;
  }
}

// A response header goes out after the status line while the extension goes on writing; an empty one sends
// nothing.
TEST(WSIO_ISAPI, ResultsOneAndFourFinishTwoAndThreeKeepTheRequestOpenOthersGetTheErrorReply) {
  struct Case {
    std::string Query;
    std::string Expected;
    bool Complete;
  } cases[] = {
      {"result=1", "result 1", true},
      {"result=4", "result 4", true},
      {"result=2", "result 2", false},
      {"result=3", "result 3", false},
      {"result=7",
       "result 7" + ScriptedStatus("200 OK") + "\r\nTHERE WAS AN ERROR WHILE HANDLING ISAPI PLUGIN :(", true},
      {"header=1", ScriptedStatus("200 OK") + "Content-Type: text/plain\r\n\r\nbody", true},
      {"header=0", "body", true},
  };
  for (const Case& c : cases) {
    tExchange exchange(Get(c.Query), kIsapiDir, std::make_shared<tLibraryCache>());
    EXPECT_EQ(exchange.Connection->Out, c.Expected);
    EXPECT_EQ(exchange.Connection->Complete, c.Complete) << c.Query;
  }
}

// Bytes after the request are kept for ReadClient.
TEST(WSIO_ISAPI, LaterBytesAreReadWithReadClient) {
  auto readKept = TestPluginEntry<int (*)(char*, int)>(kLibrary, "TestIsapiReadKept");
  tExchange exchange(Get("keep"), kIsapiDir, std::make_shared<tLibraryCache>());
  exchange.Producer->HandleData("abc");
  char buffer[8] = {};
  EXPECT_EQ(readKept(buffer, 2), 2);
  EXPECT_EQ(std::string(buffer, 2), "ab");
  EXPECT_EQ(readKept(buffer, 8), 1);
  EXPECT_EQ(buffer[0], 'c');
  EXPECT_EQ(readKept(buffer, 8), 0);
}

TEST(WSIO_ISAPI, ARequestForABusyExtensionWaitsForItsTurnOrIsAnswered503) {
  auto callKept = TestPluginEntry<int (*)()>(kLibrary, "TestIsapiCallKept");
  auto cache = std::make_shared<tLibraryCache>();
  tExchange busy(Get("keep"), kIsapiDir, cache);
  tExchange waiting(Get("a=1"), kIsapiDir, cache);
  EXPECT_EQ(waiting.Connection->Out, "");
  EXPECT_GT(waiting.Producer->Poll(), 0u);
  EXPECT_EQ(callKept() & 16, 16); // done with the session: the next in line is let in and its worker woken
  EXPECT_TRUE(busy.Connection->Complete);
  EXPECT_EQ(waiting.Connection->Wakes, 2); // once as it began to wait, once for its turn
  waiting.Producer->Poll();
  EXPECT_EQ(waiting.Connection->Out, Block("GET query=a=1 total=0 avail=0 data= null=1 type="));

  tExchange keptAgain(Get("keep"), kIsapiDir, cache);
  tExchange late(Get("a=1"), kIsapiDir, cache, 0);
  late.Producer->Poll();
  EXPECT_EQ(late.Connection->Out,
            ScriptedStatus("503 Service Unavailable") + "\r\nPLUGIN " + UpperCase(kLibrary) + " IS BUSY :(");
  EXPECT_TRUE(late.Connection->Complete);
  callKept();
}

TEST(WSIO_ISAPI, OneLibraryServesAFileWhateverTheCaseAndARefusedOneIsNeverLoadedAgain) {
  auto loads = TestPluginEntry<int (*)()>(kLibrary, "TestIsapiLoads");
  auto refusedLoads =
      TestPluginEntry<int (*)()>(kTestPluginsDir + "\\TestIsapiRefused" + kPluginSuffix, "TestIsapiLoads");
  const int loadsBefore = loads();
  const int refusedBefore = refusedLoads();
  auto cache = std::make_shared<tLibraryCache>();
  for (const std::string& name : {std::string("testisapi"), UpperCase("testisapi" + kPluginSuffix)}) {
    tExchange exchange("GET /p/" + name + "?a=1 HTTP/1.0\r\n\r\n", kIsapiDir, cache);
    EXPECT_TRUE(exchange.Connection->Out.starts_with("method=GET")) << name;
  }
  for (int i = 0; i < 2; ++i) {
    tExchange exchange("GET /p/TestIsapiRefused HTTP/1.0\r\n\r\n", kIsapiDir, cache);
    EXPECT_EQ(exchange.Connection->Out, ScriptedStatus("404 Not Found") + "\r\nPLUGIN " + kTestPluginsDir +
                                            "\\TestIsapiRefused" + kPluginSuffix + " IS INVALID :(");
  }
  EXPECT_EQ(loads() - loadsBefore, 1);
  EXPECT_EQ(refusedLoads() - refusedBefore, 1);
  EXPECT_EQ(cache->Count(), 2u);
}

// The rest of the path names the file: ".." or a NUL would reach any shared object on disk.
TEST(WSIO_ISAPI, AMissingFileIsNamedAndAPathLeavingTheFolderIsRefused) {
  auto cache = std::make_shared<tLibraryCache>();
  struct Case {
    std::string Request;
    std::string Expected;
  } cases[] = {
      {"GET /p/Missing HTTP/1.0\r\n\r\n",
       "PLUGIN " + kTestPluginsDir + "\\Missing" + kPluginSuffix + " WAS NOT FOUND :("},
      {"GET /p/../testplugins/TestIsapi HTTP/1.0\r\n\r\n", "FILE NOT FOUND :("},
      {"GET /p/x/..\\TestIsapi HTTP/1.0\r\n\r\n", "FILE NOT FOUND :("},
      {std::string("GET /p/TestIsapi\0.txt HTTP/1.0\r\n\r\n", 34), "FILE NOT FOUND :("},
  };
  for (const Case& c : cases) {
    tExchange exchange(c.Request, kIsapiDir, cache);
    EXPECT_EQ(exchange.Connection->Out, ScriptedStatus("404 Not Found") + "\r\n" + c.Expected) << c.Request;
    EXPECT_TRUE(exchange.Connection->Complete);
  }
  EXPECT_EQ(cache->Count(), 0u);
}

// Unloading waits a bounded time: an extension still in a session then stays loaded, untold. The request's
// own handle: after its connection ended, calls with it touch nothing.
TEST(WSIO_ISAPI, AtUnloadAnIdleExtensionIsToldToUnloadAndOneStillInUseStaysLoadedUntouchedByItsLateCalls) {
  auto callKept = TestPluginEntry<int (*)()>(kLibrary, "TestIsapiCallKept");
  tPluginMarker marker;
  auto cache = std::make_shared<tLibraryCache>();
  tExchange("GET /p/TestIsapiRefused HTTP/1.0\r\n\r\n", kIsapiDir, cache);
  tExchange(Get("keep"), kIsapiDir, cache);
  EXPECT_EQ(cache->UnloadAll(50), 1u);
  EXPECT_EQ(marker.Text(), "TerminateExtension 2\n");
  EXPECT_EQ(callKept(), 2 | 4 | 8 | 16); // GetServerVariable FALSE, buffer untouched, the rest TRUE
}
