// The running program serves the sample plug-ins and the suite's test plug-ins to real HTTP clients.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <fstream>
#include <iostream>
#include <thread>
#include <vector>

#include "tests/e2e/ServedSite.h"
#include "tests/support/Wait.h"

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
  names += "VDIR7=Root\n";
  dirs += "[P.Root.GENERAL]\nPATH=site\nVPATH=/\n";
  return "[LISTENERS]\nCOUNT=1\nLISTENER1=P\n[P.GENERAL]\nPORT=" + std::to_string(port) +
         "\nCONNECTTIMEOUT=" + std::to_string(kTestConnectTimeoutMs) + "\n[P.VDIRS]\nCOUNT=7\n" + names +
         dirs;
}

// The peak resident memory of a process so far.
long PeakResidentKiB(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with("VmHWM:"))
      return std::stol(line.substr(6));
  return -1;
}

class PluginReplies : public ::testing::Test {
protected:
  PluginReplies() : Port(FreeLoopbackPort()), Program(PluginSettings(Port)) {}
  ~PluginReplies() override {
    EXPECT_EQ(Program.Stderr().find("Sanitizer"), std::string::npos) << Program.Stderr();
  }
  void SetUp() override {
    Program.Folder().WriteFile("site/hello.txt", "hello world\n");
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
  // A body too large to come whole with the request, and a redirect.
  EXPECT_NE(Exchange("POST /isapi/isapi_upload HTTP/1.0\r\nContent-Length: 3000000\r\n\r\n" +
                     std::string(3000000, 'u'))
                .find("200 OK\r\n"),
            std::string::npos);
  const std::string redirect = Exchange("GET /isapi/isapi_hello?redirect HTTP/1.0\r\n\r\n");
  EXPECT_TRUE(redirect.starts_with("HTTP/1.0 302 Found\r\n")) << redirect;
  EXPECT_NE(redirect.find("\r\nLocation: /isapi/isapi_hello?redirected\r\n"), std::string::npos) << redirect;
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

// The extension's entries run off the main thread and its callbacks never wait for it: while three requests
// sit in one extension at once, and another request's entry waits for its own thread's callbacks, a static
// file is still served at once, and the three finish together.
TEST_F(PluginReplies, ExtensionsThatTakeTheirTimeOrWaitForTheirOwnThreadsHoldUpNothingElse) {
#ifdef KWS_SANITIZER_BUILD
  constexpr auto kStaticBound = 500ms;
#else
  constexpr auto kStaticBound = 50ms;
#endif
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> sleepers;
  std::atomic<int> slept{0};
  for (int i = 0; i < 3; ++i)
    sleepers.emplace_back([&] {
      slept += Exchange("GET /tisapi/TestIsapiThreads?sleep=1000&note HTTP/1.0\r\n\r\n").ends_with("slept");
    });
  ASSERT_TRUE(
      WaitUntil([&] { return Program.Folder().ReadText("marker").size() == 3 * 13; }, 10s, tPump::None));
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(Exchange("GET /hello.txt HTTP/1.0\r\n\r\n").substr(0, 15), "HTTP/1.0 200 OK");
  EXPECT_LT(std::chrono::steady_clock::now() - before, kStaticBound);
  EXPECT_TRUE(Exchange("GET /tisapi/TestIsapiThreads?wait HTTP/1.0\r\n\r\n")
                  .ends_with("\r\n\r\nHTTP/1.0 from the extension's thread"));
  for (std::thread& sleeper : sleepers)
    sleeper.join();
  EXPECT_EQ(slept, 3);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1900ms) << "one after the other";
}

// ReadClient takes the body as it arrives; the server never holds much of it.
TEST_F(PluginReplies, ALargeUploadIsReadWithReadClientInBoundedMemory) {
#ifdef KWS_SANITIZER_BUILD
  const size_t size = 16 * 1024 * 1024;
#else
  const size_t size = 100 * 1024 * 1024;
#endif
  std::string body(size, '\0');
  uint32_t sum = 0;
  for (size_t i = 0; i < size; ++i) {
    body[i] = static_cast<char>('a' + (i * 7 + i / 9973) % 26);
    sum = sum * 31 + static_cast<unsigned char>(body[i]);
  }
  EXPECT_NE(Exchange("GET /hello.txt HTTP/1.0\r\n\r\n"), "");
  const long before = PeakResidentKiB(Program.Pid());
  const std::string reply =
      Exchange("POST /tisapi/TestIsapiIo?upload HTTP/1.0\r\nContent-Length: " + std::to_string(size) +
               "\r\n\r\n" + body);
  EXPECT_TRUE(reply.ends_with("upload total=" + std::to_string(size) + " sum=" + std::to_string(sum)))
      << reply;
  const long grown = PeakResidentKiB(Program.Pid()) - before;
  std::cout << "peak resident memory grew by " << grown << " KiB over a " << size / 1024 / 1024
            << " MiB upload\n";
#ifndef KWS_SANITIZER_BUILD
  EXPECT_LT(grown, 8 * 1024);
#endif
}

// A reply written faster than the client takes it waits in the connection's bounded queue, not in memory.
TEST_F(PluginReplies, AReplyWrittenFasterThanTheClientReadsStaysInBoundedMemory) {
#ifdef KWS_SANITIZER_BUILD
  const size_t mebibytes = 8;
#else
  const size_t mebibytes = 64;
#endif
  EXPECT_NE(Exchange("GET /hello.txt HTTP/1.0\r\n\r\n"), "");
  const long before = PeakResidentKiB(Program.Pid());
  tLoopbackPeer client;
  client.SetReceiveBuffer(16 * 1024);
  ASSERT_TRUE(client.Connect(static_cast<uint16_t>(Port)));
  ASSERT_TRUE(
      client.Send("GET /tisapi/TestIsapiIo?flood=" + std::to_string(mebibytes) + " HTTP/1.0\r\n\r\n"));
  // Slowly at first, as a client on a slow link, while the extension writes as fast as it is let.
  size_t received = 0;
  for (std::string more; !(more = client.ReadSome(16 * 1024, 10s)).empty();) {
    received += more.size();
    if (received < 2 * 1024 * 1024)
      std::this_thread::sleep_for(1ms);
  }
  const std::string head = "HTTP/1.0 200 OK\r\n" + std::string(kFixedHeaders) + "Connection: Close\r\n\r\n";
  EXPECT_EQ(received, head.size() + (mebibytes << 20));
  const long grown = PeakResidentKiB(Program.Pid()) - before;
  std::cout << "peak resident memory grew by " << grown << " KiB over a " << mebibytes << " MiB reply\n";
#ifndef KWS_SANITIZER_BUILD
  EXPECT_LT(grown, 8 * 1024);
#endif
}

// An extension that asks to keep the connection ends its request all the same; a client that leaves in the
// middle of its body ends its ReadClient; a chunked body never reaches an extension. Each time, the next
// request to the extension is served.
TEST_F(PluginReplies, KeepConnLeavingClientsAndChunkedBodiesLeaveTheExtensionFree) {
  const std::string keep = Exchange("GET /tisapi/TestIsapiRequests?header-ex HTTP/1.0\r\n\r\n");
  EXPECT_TRUE(keep.ends_with("Location: /x\r\n\r\n")) << keep;
  EXPECT_TRUE(keep.starts_with("HTTP/1.0 302 Moved Elsewhere\r\n")) << keep;
  {
    tLoopbackPeer leaving;
    ASSERT_TRUE(leaving.Connect(static_cast<uint16_t>(Port)));
    ASSERT_TRUE(leaving.Send("POST /tisapi/TestIsapiIo?upload HTTP/1.0\r\nContent-Length: 2000000\r\n\r\n" +
                             std::string(300000, 'x')));
  }
  EXPECT_EQ(WithDatePinned(Exchange("POST /tisapi/TestIsapiRequests?header HTTP/1.0\r\nTransfer-Encoding: "
                                    "chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n")),
            RefusalReply("501 Not Implemented"));
  for (int i = 0; i < 20; ++i)
    EXPECT_TRUE(Exchange("GET /tisapi/TestIsapiRequests?header HTTP/1.0\r\n\r\n").ends_with("\r\n\r\nbody"))
        << i;
}

// Shutdown tells the extension to unload once its entry in progress returns, while a request it answers from
// its own thread is still pending; that request is still answered.
TEST_F(PluginReplies, ShutdownTellsAnExtensionInUseToUnloadOnceItsEntryReturns) {
  std::string answered;
  std::thread pending(
      [&] { answered = Exchange("GET /tisapi/TestIsapiThreads?pending=300 HTTP/1.0\r\n\r\n"); });
  std::thread inside([&] { Exchange("GET /tisapi/TestIsapiThreads?sleep=500&note HTTP/1.0\r\n\r\n"); });
  ASSERT_TRUE(
      WaitUntil([&] { return Program.Folder().ReadText("marker") == "entry begins\n"; }, 10s, tPump::None));
  ASSERT_TRUE(Program.SendSignal(SIGTERM));
  ExpectExit(Program);
  pending.join();
  inside.join();
  EXPECT_TRUE(answered.ends_with("answered later")) << answered;
  EXPECT_EQ(Program.Folder().ReadText("marker"), "entry begins\nentry ends\nTerminateExtension 2\n");
}

} // namespace
} // namespace kwstest
