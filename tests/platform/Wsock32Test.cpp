#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/WinsockFixture.h"

using namespace kwstest;

namespace {

TEST(Wsock32Module, ExportsExactlyTheWinsockNames) {
  HMODULE module = LoadLibraryA("wsock32.dll");
  ASSERT_NE(module, nullptr);
#define KWSTEST_EXPORTED(name, result, parameters, arguments)                                                \
  EXPECT_NE(GetProcAddress(module, #name), nullptr) << #name;
  KWS_WINSOCK_PROCEDURES(KWSTEST_EXPORTED)
#undef KWSTEST_EXPORTED
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(module, "WSAASYNCSELECT"), nullptr) << "names match exactly";
  EXPECT_EQ(GetLastError(), 127u);
}

// WSAGetLastError and WSASetLastError share the thread's GetLastError value.
TEST(Wsock32Startup, GrantsOnePointOneCountsCallsTheLastCleanUpClosesEverySocketAndErrorsAreGetLastErrors) {
  const tWinsock& ws = tWinsock::Get();
  WSADATA data{};
  EXPECT_EQ(ws.socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
  EXPECT_EQ(ws.WSAGetLastError(), WSANOTINITIALISED);
  EXPECT_EQ(ws.WSAStartup(MAKEWORD(2, 2), &data), 0);
  EXPECT_EQ(data.wVersion, MAKEWORD(1, 1));
  EXPECT_EQ(ws.WSAStartup(MAKEWORD(1, 1), &data), 0);
  EXPECT_EQ(ws.WSACleanup(), 0);
  SOCKET s = ws.socket(AF_INET, SOCK_STREAM, 0);
  EXPECT_NE(s, INVALID_SOCKET) << "one start-up is still counted";
  EXPECT_EQ(ws.WSACleanup(), 0);
  ASSERT_EQ(ws.WSAStartup(MAKEWORD(1, 1), &data), 0);
  EXPECT_EQ(ws.closesocket(s), SOCKET_ERROR);
  EXPECT_EQ(ws.WSAGetLastError(), WSAENOTSOCK);
  EXPECT_EQ(ws.WSACleanup(), 0);
  ws.WSASetLastError(10054);
  EXPECT_EQ(GetLastError(), 10054u);
  SetLastError(10061);
  EXPECT_EQ(ws.WSAGetLastError(), 10061);
}

using Wsock32Errors = tWinsockTest;

TEST_F(Wsock32Errors, CallsAnswerWithTheirWinsockNumbers) {
  SOCKET fresh = Tcp(), listener = Listener(), quiet = Listener();
  tPair pair = Connected(), reset = Connected(), shut = Connected();
  SetNonBlocking(quiet, true);
  SetNonBlocking(shut.Client, true);
  SetLinger(reset.Server, true, 0);
  ASSERT_EQ(Close(reset.Server), 0);
  char buffer[8];
  auto failed = [](SOCKET s) { return s == INVALID_SOCKET ? SOCKET_ERROR : 0; };
  struct Case {
    const char* What;
    std::function<int()> Call;
    int Expected;
  };
  const Case cases[] = {
      {"refused", [&] { return ConnectTo(Tcp(), static_cast<u_short>(FreeLoopbackPort())); },
       WSAECONNREFUSED},
      {"send unconnected", [&] { return SendText(fresh, "x"); }, WSAENOTCONN},
      {"recv listening", [&] { return ws.recv(listener, buffer, 8, 0); }, WSAENOTCONN},
      {"listen unbound", [&] { return ws.listen(fresh, 5); }, WSAEINVAL},
      {"accept unlistening", [&] { return failed(ws.accept(fresh, nullptr, nullptr)); }, WSAEINVAL},
      {"port in use", [&] { return BindTo(fresh, PortOf(listener)); }, WSAEADDRINUSE},
      {"bind twice", [&] { return BindTo(fresh, 0) == 0 ? BindTo(fresh, 0) : 0; }, WSAEINVAL},
      {"connect twice", [&] { return ConnectTo(pair.Client, PortOf(listener)); }, WSAEISCONN},
      {"unknown socket", [&] { return ws.recv(0x7FFFFF00, buffer, 8, 0); }, WSAENOTSOCK},
      {"no window", [&] { return ws.WSAAsyncSelect(pair.Server, nullptr, 1025, FD_READ); }, WSAEINVAL},
      {"recv nothing", [&] { return ws.recv(shut.Client, buffer, 8, 0); }, WSAEWOULDBLOCK},
      {"accept nothing", [&] { return failed(ws.accept(quiet, nullptr, nullptr)); }, WSAEWOULDBLOCK},
      {"send shut", [&] { return ws.shutdown(shut.Client, SD_SEND), SendText(shut.Client, "x"); },
       WSAESHUTDOWN},
      {"recv shut", [&] { return ws.shutdown(shut.Server, SD_RECEIVE), ws.recv(shut.Server, buffer, 8, 0); },
       WSAESHUTDOWN},
      {"recv reset", [&] { return ws.recv(reset.Client, buffer, 8, 0); }, WSAECONNRESET},
      // Linux would raise SIGPIPE here; the process must survive.
      {"send reset", [&] { return SendText(reset.Client, "anyone?"); }, WSAECONNRESET},
  };
  for (const Case& c : cases) {
    ws.WSASetLastError(0);
    EXPECT_EQ(c.Call(), SOCKET_ERROR) << c.What;
    EXPECT_EQ(ws.WSAGetLastError(), c.Expected) << c.What;
  }
}

using Wsock32Handles = tWinsockTest;

TEST_F(Wsock32Handles, AreMultiplesOfFourFrom0x100AndNeverReused) {
  std::vector<SOCKET> seen;
  for (int i = 0; i < 20; ++i) {
    SOCKET s = ws.socket(AF_INET, i % 2 ? SOCK_DGRAM : SOCK_STREAM, 0);
    ASSERT_NE(s, INVALID_SOCKET);
    EXPECT_GE(s, 0x100u);
    EXPECT_EQ(s % 4, 0u);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), s), 0) << "reused " << s;
    seen.push_back(s);
    EXPECT_EQ(ws.closesocket(s), 0);
  }
  EXPECT_EQ(ws.closesocket(seen.front()), SOCKET_ERROR);
  EXPECT_EQ(ws.WSAGetLastError(), WSAENOTSOCK);
}

TEST(Wsock32Names, InetAddrReadsTheDottedFormsInMemoryOrderAndInetNtoaKeepsEachThreadsTextApart) {
  const tWinsock& ws = tWinsock::Get();
  const std::pair<const char*, uint32_t> cases[] = {{"1.2.3.4 ", 0x04030201},     {"127.1", 0x0100007F},
                                                    {"0x7f.0.0.010", 0x0800007F}, {"1.2.3.256", INADDR_NONE},
                                                    {"1..2.3", INADDR_NONE},      {"1.2.3.4x", INADDR_NONE}};
  for (const auto& [text, bytes] : cases)
    EXPECT_EQ(ws.inet_addr(text), bytes) << text;
  in_addr mine{};
  mine.s_addr = static_cast<uint32_t>(ws.inet_addr("192.168.10.200"));
  char* text = ws.inet_ntoa(mine);
  EXPECT_STREQ(text, "192.168.10.200");
  std::thread([&] {
    in_addr other{};
    other.s_addr = static_cast<uint32_t>(ws.inet_addr("1.1.1.1"));
    EXPECT_STREQ(ws.inet_ntoa(other), "1.1.1.1");
  }).join();
  EXPECT_STREQ(text, "192.168.10.200");
}

using Wsock32Streams = tWinsockTest;

// Winsock's SOMAXCONN is a literal 5: as the kernel's backlog it would drop the attempts beyond it, which
// then wait a retransmission of a second or more before the listener sees them.
TEST_F(Wsock32Streams, ListenWithWinsocksSomaxconnQueuesEveryConnectionAttempt) {
  SOCKET listener = Listener();
  SetNonBlocking(listener, true);
  for (int i = 0; i < 24; ++i) {
    SOCKET client = Tcp();
    SetNonBlocking(client, true);
    ConnectTo(client, PortOf(listener));
  }
  int accepted = 0;
  EXPECT_TRUE(WaitUntil(
      [&] {
        for (SOCKET s; (s = ws.accept(listener, nullptr, nullptr)) != INVALID_SOCKET; ++accepted)
          Track(s);
        return accepted == 24;
      },
      500ms, tPump::None))
      << accepted;
}

TEST_F(Wsock32Streams, ABoundPortHeldOnlyByClosedConnectionsBindsAgain) {
  SOCKET listener = Listener();
  u_short port = PortOf(listener);
  SOCKET client = Tcp();
  ASSERT_EQ(ConnectTo(client, port), 0);
  SOCKET server = Track(ws.accept(listener, nullptr, nullptr));
  Close(listener);
  Close(server); // the server's end closes first: it keeps the port in TIME_WAIT
  ReceiveText(client);
  Close(client);
  EXPECT_EQ(BindTo(Tcp(), port), 0) << ws.WSAGetLastError();
}

using Wsock32Linger = tWinsockTest;

TEST_F(Wsock32Linger, CloseSendsTheRestOrResetsAsLingerSays) {
  struct Case {
    const char* What;
    bool On;
    u_short Seconds;
    bool NonBlocking;
    bool Waits;    // a non-blocking close answers 10035 while it lingers
    bool Complete; // the peer gets every byte, then the end of the stream; otherwise a reset
  };
  const Case cases[] = {
      {"off: the rest goes out after the close", false, 0, true, false, true},
      {"on with zero time: a reset", true, 0, true, false, false},
      {"on, non-blocking: waits for the peer to take the data", true, 30, true, true, true},
      {"on, non-blocking: a reset once the time runs out", true, 1, true, true, false},
      {"on, blocking: returns once the peer took the data", true, 10, false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    tPair pair = Connected();
    ShrinkBuffers(pair);
    SetNonBlocking(pair.Server, true);
    SetLinger(pair.Server, c.On, c.Seconds);
    const std::string sent = FillUntilBlocked(pair.Server);
    SetNonBlocking(pair.Server, c.NonBlocking);
    std::string got, ending;
    std::thread reader;
    auto read = [&] {
      while ((ending = ReceiveText(pair.Client, 65536)) != "" && !ending.starts_with("error "))
        got += ending;
    };
    if (!c.NonBlocking)
      reader = std::thread(read);
    int closed = ws.closesocket(pair.Server);
    EXPECT_EQ(closed == SOCKET_ERROR, c.Waits);
    if (c.Waits) {
      EXPECT_EQ(ws.WSAGetLastError(), WSAEWOULDBLOCK);
      if (c.Complete)
        reader = std::thread(read);
      EXPECT_TRUE(WaitUntil([&] { return ws.closesocket(pair.Server) == 0; }, 10s, tPump::None));
    }
    std::erase(Open, pair.Server);
    if (!reader.joinable())
      reader = std::thread(read);
    reader.join();
    EXPECT_EQ(ending, c.Complete ? "" : "error 10054");
    EXPECT_EQ(c.Complete ? got : "", c.Complete ? sent : "");
    EXPECT_EQ(got.size() < sent.size(), !c.Complete);
  }
}

} // namespace
