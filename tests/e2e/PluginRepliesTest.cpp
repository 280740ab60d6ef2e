// The running program serves the sample plug-ins and the suite's test plug-ins to real HTTP clients.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <cctype>
#include <thread>

#include "tests/e2e/ServedSite.h"

namespace kwstest {
namespace {

// Per plug-in kind, /isapi/ (for example) serves the samples and /tisapi/ the test plug-ins.
std::string PluginSettings(int port) {
  std::string names, dirs;
  int count = 0;
  for (const std::string kind : {"ISAPI", "KWSP", "AKWSP"})
    for (const std::string& name : {kind, "T" + kind}) {
      std::string vpath = name;
      std::transform(vpath.begin(), vpath.end(), vpath.begin(), ::tolower);
      names += "VDIR" + std::to_string(++count) + "=" + name + "\n";
      dirs += "[P." + name + ".GENERAL]\nTYPE=" + kind + "\nVPATH=/" + vpath + "/\nOTHER=" + kind +
              "Path=" + (name == kind ? KWS_SAMPLE_PLUGINS_DIR : KWS_TEST_PLUGINS_DIR) + "#0D#0ADefExt=so\n";
    }
  return "[LISTENERS]\nCOUNT=1\nLISTENER1=P\n[P.GENERAL]\nPORT=" + std::to_string(port) +
         "\nCONNECTTIMEOUT=" + std::to_string(kTestConnectTimeoutMs) + "\n[P.VDIRS]\nCOUNT=6\n" + names +
         dirs;
}

class PluginReplies : public ::testing::Test {
protected:
  PluginReplies() : Port(FreeLoopbackPort()), Program(PluginSettings(Port)) {}
  ~PluginReplies() override {
    EXPECT_EQ(Program.Stderr().find("Sanitizer"), std::string::npos) << Program.Stderr();
  }
  void SetUp() override {
    Program.Start({}, {{"KWSPLAT_HEADLESS", "1"}, {"DISPLAY", std::nullopt}, {"KWS_TEST_MARKER", Marker()}});
    ASSERT_TRUE(WaitForLoopbackPort(Port, std::chrono::seconds(30))) << Program.Stderr();
  }
  std::string Marker() const { return Program.Folder().PathOf("marker"); }
  std::string Exchange(const std::string& request) {
    return HttpExchange(static_cast<uint16_t>(Port), request);
  }

  const int Port;
  ProgramRunner Program;
};

// Python's http.client refuses a malformed status line or header block.
TEST_F(PluginReplies, PythonReadsEverySamplePluginsReply) {
  struct Case {
    std::string Method, Path, Body, Expected;
  } cases[] = {
      {"GET", "/isapi/isapi_hello?x=1", "", "QUERY_STRING=x=1\n"},
      {"POST", "/isapi/isapi_hello", "posted", "body=posted\n"},
      {"GET", "/isapi/isapi_pending", "", "Answered later, from the extension's own thread.\n"},
      {"POST", "/kwsp/kwsp_collect", "0123456789", "Collected 10 body bytes in pieces.\n"},
      {"GET", "/akwsp/akwsp_hello?q", "", "query \"q\""},
  };
  for (const Case& c : cases) {
    const auto [python, pythonStatus] = RunCommand(
        "python3 -c \"import http.client as h,sys;c=h.HTTPConnection('127.0.0.1'," + std::to_string(Port) +
        ",timeout=10);c.request(sys.argv[1],sys.argv[2],body=sys.argv[3] or None);r=c.getresponse();"
        "sys.stdout.write(str(r.status)+'|'+r.read().decode())\" " +
        c.Method + " '" + c.Path + "' '" + c.Body + "'");
    EXPECT_EQ(pythonStatus, 0) << c.Path;
    EXPECT_TRUE(python.starts_with("200|")) << c.Path << ": " << python;
    EXPECT_NE(python.find(c.Expected), std::string::npos) << c.Path << ": " << python;
  }
}

// A busy extension serves one request after the other; a request whose client left while the extension
// still works leaves its late calls nothing to touch.
TEST_F(PluginReplies, RequestsForABusyExtensionAreServedInTurnAndLateCallsAreDropped) {
  const std::string request = "GET /isapi/isapi_pending HTTP/1.0\r\n\r\n";
  {
    auto leaving = std::make_unique<tLoopbackPeer>();
    ASSERT_TRUE(leaving->Connect(static_cast<uint16_t>(Port)) && leaving->Send(request));
  }
  std::string first, second;
  std::thread other([&] { first = Exchange(request); });
  second = Exchange(request);
  other.join();
  for (const std::string* reply : {&first, &second})
    EXPECT_TRUE(reply->ends_with("Answered later, from the extension's own thread.\n")) << *reply;
}

TEST_F(PluginReplies, BytesAfterARequestGetNoSecondReply) {
  for (const char* path : {"/takwsp/TestAkwsp?plain", "/tisapi/TestIsapi?a=1"}) {
    const std::string reply = Exchange(std::string("GET ") + path + " HTTP/1.0\r\n\r\n\r\n\r\n");
    EXPECT_NE(reply, "") << path;
    EXPECT_EQ(reply.find("HTTP/1.0", 1), std::string::npos) << path << ": " << reply;
    EXPECT_EQ(reply.find("method=GET", reply.find("method=GET") + 1), std::string::npos) << reply;
  }
}

TEST_F(PluginReplies, EveryPluginIsToldToUnloadAtShutdown) {
  for (const char* path : {"/tisapi/TestIsapi?a=1", "/tkwsp/TestKwsp?END", "/takwsp/TestAkwsp?plain"})
    EXPECT_NE(Exchange(std::string("GET ") + path + " HTTP/1.0\r\n\r\n"), "") << path;
  ASSERT_TRUE(Program.SendSignal(SIGTERM));
  ExpectExit(Program);
  EXPECT_EQ(Program.Folder().ReadText("marker"), "TerminateExtension 2\nkwspDone\nAKWSPGDone 3\n");
}

} // namespace
} // namespace kwstest
