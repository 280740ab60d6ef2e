#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "plugins/WSIO_ISAPI.h"
#include "server/WSIO_STD.h"
#include "settings/CoreAPITools.h"
#include "tests/support/PluginRequest.h"
#include "tests/support/ReplyDates.h"
#include "tests/support/Wait.h"

using namespace kwstest;

namespace {

using tExchange = tPluginExchange<tWSIO_ISAPI>;

const tVDirData kIsapiDir = PluginDirectory(vkISAPI, "ISAPIPath", kTestPluginsDir);
// As the host names it: the folder option with a "\\" appended.
const std::string kLibrary = kTestPluginsDir + "\\TestIsapi" + kPluginSuffix;

std::string Get(const std::string& query, const std::string& headers = "",
                const std::string& extension = "TestIsapi") {
  return "GET /p/" + extension + "?" + query + " HTTP/1.0\r\n" + headers + "\r\n";
}

// What the test extension reports of its control block, after the method.
std::string Block(const std::string& rest, const std::string& info = "", const std::string& translated = "") {
  return "method=" + rest + " info=[" + info + "] translated=" + translated +
         " size=" + std::to_string(sizeof(EXTENSION_CONTROL_BLOCK)) + " version=20000";
}

// What the test extension reports of a variable read whole.
std::string Value(const std::string& value) {
  return "ok=1 err=0 size=" + std::to_string(value.size() + 1) + " buf=" + value + "\\0";
}

// The test extensions' checksum of the bytes they read.
uint32_t Sum(const std::string& bytes) {
  uint32_t sum = 0;
  for (const char c : bytes)
    sum = sum * 31 + static_cast<unsigned char>(c);
  return sum;
}

// A listener whose site has hello.txt at /, a second static directory at /docs/, and the test extensions at
// /p/ (the test's directory).
class Isapi : public ::testing::Test {
protected:
  Isapi() {
    SetSiteTime(Site.WriteFile("hello.txt", "hello world\n"));
    Setup.Settings = std::make_shared<tListenerData>();
    auto& vdirs = Setup.Settings->VDirs;
    vdirs[0] = {"Root", Site.Path(), "/", vkStatic, "", ""};
    vdirs[1] = {"Docs", "/srv/site", "/docs/", vkStatic, "", ""};
    vdirs[2] = kIsapiDir;
    vdirs[2].BasePath = Site.Path();
    Setup.Settings->VDirCount = 3;
  }
  // A path below the site as the server maps it, with the site folder's kind of separator.
  std::string InSite(std::string name) const {
    const char separator = Site.Path().find('\\') != std::string::npos ? '\\' : '/';
    std::replace(name.begin(), name.end(), '/', separator);
    return Site.Path() + separator + name;
  }

  TempFolder Site;
  tExchangeSetup Setup;
  std::shared_ptr<tLibraryCache> Cache = std::make_shared<tLibraryCache>();
};

// Every method's query and body; the path after the extension's name is its path info, mapped through the
// listener's directories.
TEST_F(Isapi, TheControlBlockCarriesQueryPathInfoAndBodyForEveryMethod) {
  struct Case {
    std::string Request;
    std::string Expected;
  } cases[] = {
      {Get("a=1"), Block("GET query=a=1 total=0 avail=0 data= null=1 type=")},
      {"POST /p/TestIsapi?a=1 HTTP/1.0\r\nContent-Type: text/x\r\nContent-Length: 5\r\n\r\nhelloEXTRA",
       Block("POST query=a=1 total=5 avail=5 data=hello null=0 type=text/x")},
      {"put /p/TestIsapi/docs/a.txt HTTP/1.0\r\nContent-Length: 5\r\n\r\nhello",
       Block("put query= total=5 avail=5 data=hello null=0 type=", "/docs/a.txt", "/srv/site/docs/a.txt")},
      {"GET /p/TestIsapi/hello.txt?q HTTP/1.0\r\n\r\n",
       Block("GET query=q total=0 avail=0 data= null=1 type=", "/hello.txt", InSite("hello.txt"))},
  };
  for (const Case& c : cases) {
    tExchange exchange(c.Request, kIsapiDir, Cache, Setup);
    EXPECT_EQ(exchange.Connection->Out, c.Expected) << c.Request;
    EXPECT_TRUE(exchange.Connection->Complete);
  }
}

// The server answers its own names whatever the client sends; only HTTP_ names read headers, by their whole
// name and only in the header block. A value that does not fit is not cut: FALSE, 122 and the size needed.
TEST_F(Isapi, ServerVariablesCannotBeForgedAndHeadersAreReadOnlyByHttpNames) {
  const std::string forging = "Auth-User: administrator\r\nHttps: on\r\nCert-Subject: CN=admin\r\n"
                              "Remote-Addr: 6.6.6.6\r\nAccept-Language: en\r\nCookie: c=1\r\n"
                              "Authorization: Basic eA==\r\nX_Under: u\r\n";
  const std::string allHttp = "HTTP_AUTH_USER:administrator\nHTTP_HTTPS:on\nHTTP_CERT_SUBJECT:CN=admin\n"
                              "HTTP_REMOTE_ADDR:6.6.6.6\nHTTP_ACCEPT_LANGUAGE:en\nHTTP_COOKIE:c=1\n"
                              "HTTP_AUTHORIZATION:Basic eA==\nHTTP_X_UNDER:u\n";
  struct Case {
    std::string Query;
    std::string Expected;
  } cases[] = {
      {"var=AUTH_USER&size=100", "ok=1 err=0 size=1 buf=\\0"},
      {"var=https&size=100", "ok=1 err=0 size=4 buf=off\\0"},
      {"var=REMOTE_ADDR&size=100", "ok=1 err=0 size=9 buf=10.1.2.3\\0"},
      {"var=CERT_SUBJECT&size=100", "ok=0 err=1413 size=100 buf="},
      {"var=LOGON_USER&size=100", "ok=0 err=1413 size=100 buf="},
      {"var=AUTH_PASSWORD&size=100", "ok=0 err=1413 size=100 buf="},
      {"var=HTTP_AUTH_USER&size=100", "ok=1 err=0 size=14 buf=administrator\\0"},
      {"var=HTTP_COOKIE&size=100", "ok=1 err=0 size=4 buf=c=1\\0"},
      {"var=HTTP_AUTHORIZATION&size=100", Value("Basic eA==")},
      {"var=HTTP_ACCEPT&size=100", "ok=0 err=1413 size=100 buf="},
      {"var=HTTP_X_UNDER&size=100", "ok=0 err=1413 size=100 buf="},
      {"var=HTTP_BODY&size=100", "ok=0 err=1413 size=100 buf="},
      {"var=URL&size=100", "ok=1 err=0 size=13 buf=/p/TestIsapi\\0"},
      {"var=SCRIPT_NAME&size=100", "ok=1 err=0 size=13 buf=/p/TestIsapi\\0"},
      {"var=PATH_INFO&size=100", "ok=1 err=0 size=1 buf=\\0"},
      {"var=CONTENT_LENGTH&size=100", "ok=1 err=0 size=2 buf=0\\0"},
      {"var=SERVER_PORT&size=100", "ok=1 err=0 size=5 buf=8080\\0"},
      {"var=SERVER_SOFTWARE&size=28", "ok=1 err=0 size=28 buf=Kestrune Web Server 0.1.2.7\\0"},
      {"var=SERVER_SOFTWARE&size=27", "ok=0 err=122 size=28 buf="},
      {"var=REMOTE_USER&size=0", "ok=0 err=122 size=1 buf="},
      {"var=ALL_HTTP&size=200", Value(allHttp)},
      {"var=ALL_RAW&size=200", Value(forging)},
  };
  for (const Case& c : cases) {
    const std::string request = "POST /p/TestIsapi?" + c.Query + " HTTP/1.0\r\n" + forging + "\r\nBody: x";
    tExchange exchange(request, kIsapiDir, Cache, Setup);
    EXPECT_EQ(exchange.Connection->Out, c.Expected) << c.Query;
  }
}

// Results 1, 2 and 4 end the request (3 keeps it open: see the requests kept below); an error before any
// reply gets a 500, an unknown result the error text.
TEST_F(Isapi, ResultsEndTheRequestAsPublishedAndAnErrorWithoutReplyGets500) {
  const std::string errorText = "\r\nTHERE WAS AN ERROR WHILE HANDLING ISAPI PLUGIN :(";
  struct Case {
    std::string Query;
    std::string Extension;
    std::string Expected;
    bool Complete;
  } cases[] = {
      {"result=1", "TestIsapi", "result 1", true},
      {"result=2", "TestIsapi", "result 2", true},
      {"result=4", "TestIsapi", "result 4", true},
      {"result=7", "TestIsapi", "result 7" + ScriptedStatus("200 OK") + errorText, true},
      {"silent-error", "TestIsapiRequests", ScriptedStatus("500 Internal Server Error") + errorText, true},
  };
  for (const Case& c : cases) {
    tExchange exchange(Get(c.Query, "", c.Extension), kIsapiDir, Cache, Setup);
    EXPECT_EQ(exchange.Connection->Out, c.Expected) << c.Query;
    EXPECT_EQ(exchange.Connection->Complete, c.Complete) << c.Query;
  }
}

TEST_F(Isapi, SupportRequestsDoWhatThePublishedInterfaceSays) {
  const std::string text = "Content-Type: text/plain\r\n\r\n";
  const std::string hello = InSite("hello.txt");
  const std::string mapped = "/srv/site/docs/a/b.txt";
  struct Case {
    std::string Query;
    std::string Expected;
  } cases[] = {
      {"header", ScriptedStatus("201 Created") + text + "body"},
      {"header-bare", ScriptedStatus("200 OK") + "\r\nbody"},
      {"header-code", ScriptedStatus("404 Not Found") + text},
      {"header-ex", ScriptedStatus("302 Moved Elsewhere") + "Location: /x\r\n\r\n"},
      {"redirect",
       ScriptedStatus("302 Found") + "Location: http://example.org/there\r\nContent-Length: 0\r\n\r\n"},
      {"sendurl=/hello.txt", ScriptedStatus("200 OK") + tWSIO_STD::ContentTypeHeader(".TXT") +
                                 "Content-Length: 12\r\n" + kDateLine + kLastModifiedLine +
                                 "\r\nhello world\n"},
      {"sendurl=/p/TestIsapi",
       ScriptedStatus("302 Found") + "Location: /p/TestIsapi\r\nContent-Length: 0\r\n\r\n"},
      {"map=/docs/a/b.txt&room=300",
       "ok=1 err=0 size=" + std::to_string(mapped.size() + 1) + " path=" + mapped},
      {"map=/docs/a/b.txt&room=5", "ok=0 err=122 size=" + std::to_string(mapped.size() + 1) + " path="},
      {"map=/hello.txt&room=300", "ok=1 err=0 size=" + std::to_string(hello.size() + 1) + " path=" + hello},
      {"map=/docs/../../x&room=300", "ok=0 err=87 size=300 path="},
      {"map=nowhere&room=300", "ok=0 err=87 size=300 path="},
      {"mapex=/docs/a/b.txt", "ok=1 err=0 path=" + mapped + " flags=1 path=15 url=6"},
      {"mapex=/p/x", "ok=1 err=0 path=" + InSite("p/x") +
                         " flags=516 path=" + std::to_string(InSite("p/").size()) + " url=3"},
      {"keepconn", "ok=1 err=0 value=0"},
      {"connected", "ok=1 err=0 value=1"},
      {"code=9999", "ok=0 err=87"},
      {"code=1002", "ok=0 err=87"},
      {"code=1003", "ok=0 err=87"},
      {"done", "answered"},
  };
  for (const Case& c : cases) {
    tExchange exchange(Get(c.Query, "", "TestIsapiRequests"), kIsapiDir, Cache, Setup);
    EXPECT_EQ(WithDatePinned(exchange.Connection->Out), c.Expected) << c.Query;
    EXPECT_TRUE(exchange.Connection->Complete) << c.Query;
  }
  tExchange closing(Get("close", "", "TestIsapiRequests"), kIsapiDir, Cache, Setup);
  EXPECT_EQ(closing.Connection->CutOffs, 1);
  EXPECT_EQ(closing.Connection->Out, "");
}

// The body past the control block's part, read as it comes: ReadClient, or ASYNC_READ_CLIENT completing on
// the worker's next pass; asynchronous writes and TRANSMIT_FILE likewise.
TEST_F(Isapi, TheBodysRestIsReadAndAsynchronousOperationsCompleteOnTheWorker) {
  const std::string post = "POST /p/TestIsapiIo?read HTTP/1.0\r\nContent-Length: 10\r\n\r\n0123";
  Setup.Later = "456789";
  const std::string counted = " total=10 sum=" + std::to_string(Sum("0123456789"));
  tExchange upload("POST /p/TestIsapiIo?upload" + post.substr(post.find(" HTTP")), kIsapiDir, Cache, Setup);
  EXPECT_EQ(upload.Connection->Out, "upload" + counted);
  tExchange read(post, kIsapiDir, Cache, Setup);
  EXPECT_EQ(read.Connection->Out, "");
  read.Producer->Poll();
  EXPECT_EQ(read.Connection->Out, "read" + counted);
  EXPECT_TRUE(read.Connection->Complete);

  Setup.Later = "";
  tExchange write(Get("write", "", "TestIsapiIo"), kIsapiDir, Cache, Setup);
  EXPECT_EQ(write.Connection->Out, "");
  write.Producer->Poll();
  EXPECT_EQ(write.Connection->Out, "hello async|written=11 err=0");
  EXPECT_TRUE(write.Connection->Complete);
  tExchange unset(Get("write-unset", "", "TestIsapiIo"), kIsapiDir, Cache, Setup);
  EXPECT_EQ(unset.Connection->Out, "ok=0");

  tExchange transmit(Get("transmit", "", "TestIsapiIo"), kIsapiDir, Cache, Setup);
  transmit.Producer->Poll();
  const std::string head = ScriptedStatus("200 OK") + "Content-Type: text/plain\r\n\r\n";
  EXPECT_EQ(transmit.Connection->Out,
            head + "world\n<tail>|sent=" + std::to_string(head.size() + 12) + " err=0");
  EXPECT_TRUE(transmit.Connection->Complete);
}

// A request beyond the directory's bound waits for a place, and is answered 503 when none comes within the
// time-out.
TEST_F(Isapi, RequestsBeyondTheDirectorysBoundWaitForAPlaceOrAreAnswered503) {
  auto callKept = TestPluginEntry<void (*)(char*, int)>(kLibrary, "TestIsapiCallKept");
  tVDirData one = kIsapiDir;
  one.OtherText += "\r\nMaxConcurrent=1";
  tExchange busy(Get("keep"), one, Cache, Setup);
  tExchange waiting(Get("a=1"), one, Cache, Setup);
  EXPECT_EQ(waiting.Connection->Out, "");
  EXPECT_GT(waiting.Producer->Poll(), 0u);
  char report[200];
  callKept(report, sizeof report); // done with the session: the next in line is let in and its worker woken
  EXPECT_TRUE(busy.Connection->Complete);
  EXPECT_EQ(waiting.Connection->Wakes, 2); // once as it began to wait, once for its turn
  waiting.Producer->Poll();
  EXPECT_EQ(waiting.Connection->Out, Block("GET query=a=1 total=0 avail=0 data= null=1 type="));

  tExchange keptAgain(Get("keep"), one, Cache, Setup);
  Setup.ConnectTimeout = 0;
  tExchange late(Get("a=1"), one, Cache, Setup);
  late.Producer->Poll();
  EXPECT_EQ(late.Connection->Out,
            ScriptedStatus("503 Service Unavailable") + "\r\nPLUGIN " + UpperCase(kLibrary) + " IS BUSY :(");
  EXPECT_TRUE(late.Connection->Complete);
  callKept(report, sizeof report);
}

// Without the option, as many as the default bound at once.
TEST_F(Isapi, SeveralRequestsRunInOneExtensionAtOnce) {
  auto mostInside = TestPluginEntry<int (*)()>(kTestPluginsDir + "\\TestIsapiThreads" + kPluginSuffix,
                                               "TestIsapiMostInside");
  mostInside();
  std::vector<std::thread> clients;
  for (int i = 0; i < 3; ++i)
    clients.emplace_back([this] {
      tExchange exchange(Get("sleep=300", "", "TestIsapiThreads"), kIsapiDir, Cache, Setup);
      EXPECT_TRUE(exchange.Connection->Out.ends_with("slept"));
    });
  for (std::thread& client : clients)
    client.join();
  EXPECT_EQ(mostInside(), 3);
}

TEST_F(Isapi, OneLibraryServesAFileWhateverTheCaseAndARefusedOneIsNeverLoadedAgain) {
  auto loads = TestPluginEntry<int (*)()>(kLibrary, "TestIsapiLoads");
  auto refusedLoads =
      TestPluginEntry<int (*)()>(kTestPluginsDir + "\\TestIsapiRefused" + kPluginSuffix, "TestIsapiLoads");
  const int loadsBefore = loads();
  const int refusedBefore = refusedLoads();
  for (const std::string& name : {std::string("testisapi"), UpperCase("testisapi" + kPluginSuffix)}) {
    tExchange exchange("GET /p/" + name + "?a=1 HTTP/1.0\r\n\r\n", kIsapiDir, Cache);
    EXPECT_TRUE(exchange.Connection->Out.starts_with("method=GET")) << name;
  }
  for (int i = 0; i < 2; ++i) {
    tExchange exchange("GET /p/TestIsapiRefused HTTP/1.0\r\n\r\n", kIsapiDir, Cache);
    EXPECT_EQ(exchange.Connection->Out, ScriptedStatus("404 Not Found") + "\r\nPLUGIN " + kTestPluginsDir +
                                            "\\TestIsapiRefused" + kPluginSuffix + " IS INVALID :(");
  }
  EXPECT_EQ(loads() - loadsBefore, 1);
  EXPECT_EQ(refusedLoads() - refusedBefore, 1);
  EXPECT_EQ(Cache->Count(), 2u);
}

// The rest of the path names the file: ".." or a NUL would reach any shared object on disk.
TEST_F(Isapi, AMissingFileIsNamedAndAPathLeavingTheFolderIsRefused) {
  struct Case {
    std::string Request;
    std::string Expected;
  } cases[] = {
      {"GET /p/Missing/more HTTP/1.0\r\n\r\n",
       "PLUGIN " + kTestPluginsDir + "\\Missing/more" + kPluginSuffix + " WAS NOT FOUND :("},
      {"GET /p/../testplugins/TestIsapi HTTP/1.0\r\n\r\n", "FILE NOT FOUND :("},
      {"GET /p/x/..\\TestIsapi HTTP/1.0\r\n\r\n", "FILE NOT FOUND :("},
      {std::string("GET /p/TestIsapi\0.txt HTTP/1.0\r\n\r\n", 34), "FILE NOT FOUND :("},
  };
  for (const Case& c : cases) {
    tExchange exchange(c.Request, kIsapiDir, Cache);
    EXPECT_EQ(exchange.Connection->Out, ScriptedStatus("404 Not Found") + "\r\n" + c.Expected) << c.Request;
    EXPECT_TRUE(exchange.Connection->Complete);
  }
  EXPECT_EQ(Cache->Count(), 0u);
}

// A request kept pending after its client went is still the extension's: its variables answer, writes fail,
// reads end, and once it is done with, its handle names nothing.
TEST_F(Isapi, ARequestWhoseClientWentAnswersAsGoneUntilItIsDoneWithThenItsHandleIsDead) {
  auto callKept = TestPluginEntry<void (*)(char*, int)>(kLibrary, "TestIsapiCallKept");
  tExchange exchange(Get("keep"), kIsapiDir, Cache);
  EXPECT_FALSE(exchange.Connection->Complete);
  exchange.End();
  char report[200];
  callKept(report, sizeof report);
  EXPECT_STREQ(report, "variable=1/0 write=0/64 read=1/0:0 done=1/0");
  callKept(report, sizeof report);
  EXPECT_STREQ(report, "variable=0/87 write=0/87 read=0/87:0 done=0/87");
}

// Unloading tells every extension to unload once no call into it runs, a pending request or not; a call in
// progress is waited for, within the time given. One still holding a request stays loaded.
TEST_F(Isapi, AtUnloadEveryExtensionIsToldOnceNoCallIntoItRunsAndOneStillInUseStaysLoaded) {
  auto callKept = TestPluginEntry<void (*)(char*, int)>(kLibrary, "TestIsapiCallKept");
  tPluginMarker marker;
  tExchange("GET /p/TestIsapiRefused HTTP/1.0\r\n\r\n", kIsapiDir, Cache);
  tExchange kept(Get("keep"), kIsapiDir, Cache);
  std::thread sleeper(
      [this] { tExchange(Get("sleep=300&note", "", "TestIsapiThreads"), kIsapiDir, Cache, Setup); });
  ASSERT_TRUE(WaitUntil([&] { return marker.Text() == "entry begins\n"; }, 10s, tPump::None));
  EXPECT_EQ(Cache->UnloadAll(1000), 1u);
  sleeper.join();
  EXPECT_EQ(marker.Text(),
            "entry begins\nTerminateExtension 2\nTerminateExtension 2\nentry ends\nTerminateExtension 2\n");
  char report[200];
  callKept(report, sizeof report);
  EXPECT_STREQ(report, "variable=1/0 write=1/0 read=1/0:0 done=1/0");
}

} // namespace
