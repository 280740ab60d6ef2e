// The built-in "wsock32.dll" as a caller binds it: loading, start-up, error numbers, handles, byte order,
// address texts, the databases, options, streams and closing.
#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/WinsockFixture.h"

using namespace kwstest;

namespace {

TEST(Wsock32Module, LoadsByNameInAnyCaseAndExportsExactlyTheWinsockNames) {
  HMODULE module = LoadLibraryA("wsock32.dll");
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(LoadLibraryA("WSOCK32"), module);
#define KWSTEST_EXPORTED(name, result, parameters, arguments)                                                \
  EXPECT_NE(GetProcAddress(module, #name), nullptr) << #name;
  KWS_WINSOCK_PROCEDURES(KWSTEST_EXPORTED)
#undef KWSTEST_EXPORTED
  for (const char* name : {"WSAFrobnicate", "Send", "WSAASYNCSELECT", "wsaasyncgethostbyname"}) {
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(module, name), nullptr) << name;
    EXPECT_EQ(GetLastError(), 127u) << name;
  }
}

TEST(Wsock32Startup, EverythingButByteOrderAndAddressTextsWaitsForStartUp) {
  const tWinsock& ws = tWinsock::Get();
  const std::function<bool()> calls[] = {
      [&] { return ws.socket(AF_INET, SOCK_STREAM, 0) == INVALID_SOCKET; },
      [&] { return ws.closesocket(0x100) == SOCKET_ERROR; },
      [&] { return ws.gethostbyname("localhost") == nullptr; },
      [&] { return ws.WSACleanup() == SOCKET_ERROR; },
  };
  for (const auto& call : calls) {
    ws.WSASetLastError(0);
    EXPECT_TRUE(call());
    EXPECT_EQ(ws.WSAGetLastError(), WSANOTINITIALISED);
  }
  EXPECT_EQ(ws.htons(0x1234), 0x3412);
  EXPECT_EQ(ws.ntohl(0x78563412u), 0x12345678u) << "only the low 32 bits of a u_long";
  EXPECT_EQ(ws.inet_addr("10.0.0.1"), 0x0100000Au);
}

TEST(Wsock32Startup, GrantsOnePointOneCountsCallsAndTheLastCleanUpClosesEverySocket) {
  const tWinsock& ws = tWinsock::Get();
  WSADATA data{};
  EXPECT_EQ(ws.WSAStartup(MAKEWORD(0, 9), &data), WSAVERNOTSUPPORTED);
  EXPECT_EQ(ws.WSAStartup(MAKEWORD(2, 2), &data), 0);
  EXPECT_EQ(data.wVersion, MAKEWORD(1, 1));
  EXPECT_EQ(data.wHighVersion, MAKEWORD(1, 1));
  EXPECT_EQ(ws.WSAStartup(MAKEWORD(1, 0), &data), 0);
  EXPECT_EQ(data.wVersion, MAKEWORD(1, 0));
  EXPECT_EQ(ws.WSACleanup(), 0);
  SOCKET s = ws.socket(AF_INET, SOCK_STREAM, 0);
  EXPECT_NE(s, INVALID_SOCKET) << "one start-up is still counted";
  EXPECT_EQ(ws.WSACleanup(), 0);
  EXPECT_EQ(ws.socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
  ASSERT_EQ(ws.WSAStartup(MAKEWORD(1, 1), &data), 0);
  EXPECT_EQ(ws.closesocket(s), SOCKET_ERROR);
  EXPECT_EQ(ws.WSAGetLastError(), WSAENOTSOCK);
  EXPECT_EQ(ws.WSACleanup(), 0);
}

TEST(Wsock32Startup, LastErrorIsTheThreadsOwnAndSharedWithGetLastError) {
  const tWinsock& ws = tWinsock::Get();
  ws.WSASetLastError(10054);
  EXPECT_EQ(GetLastError(), 10054u);
  SetLastError(10061);
  EXPECT_EQ(ws.WSAGetLastError(), 10061);
  int other = -1;
  std::thread([&] { other = ws.WSAGetLastError(); }).join();
  EXPECT_EQ(other, 0);
}

using Wsock32Errors = tWinsockTest;

TEST_F(Wsock32Errors, CallsAnswerWithTheirWinsockNumbers) {
  SOCKET fresh = Tcp();
  SOCKET listener = Listener();
  tPair pair = Connected();
  tPair reset = Connected();
  tPair shut = Connected();
  SOCKET quiet = Listener();
  SetNonBlocking(quiet, true);
  SetNonBlocking(shut.Client, true);
  SetLinger(reset.Server, true, 0);
  ASSERT_EQ(Close(reset.Server), 0);
  char buffer[8];
  sockaddr_in any = Loopback(0);
  u_long value = 0;
  int option = 0;
  auto failed = [](bool failure) { return failure ? SOCKET_ERROR : 0; };
  struct Case {
    const char* What;
    std::function<int()> Call;
    int Expected;
  };
  const Case cases[] = {
      {"connect to a closed port", [&] { return ConnectTo(Tcp(), UnusedPort()); }, WSAECONNREFUSED},
      {"a family other than AF_INET", [&] { return failed(ws.socket(1, SOCK_STREAM, 0) == INVALID_SOCKET); },
       WSAEAFNOSUPPORT},
      {"an unknown type", [&] { return failed(ws.socket(AF_INET, 9, 0) == INVALID_SOCKET); },
       WSAESOCKTNOSUPPORT},
      {"UDP for a stream",
       [&] { return failed(ws.socket(AF_INET, SOCK_STREAM, IPPROTO_UDP) == INVALID_SOCKET); },
       WSAEPROTONOSUPPORT},
      {"send on an unconnected socket", [&] { return SendText(fresh, "x"); }, WSAENOTCONN},
      {"recv on a listening socket", [&] { return ws.recv(listener, buffer, 8, 0); }, WSAENOTCONN},
      {"listen on an unbound socket", [&] { return ws.listen(fresh, 5); }, WSAEINVAL},
      {"accept on a socket that does not listen",
       [&] { return failed(ws.accept(fresh, nullptr, nullptr) == INVALID_SOCKET); }, WSAEINVAL},
      {"bind to the listener's port", [&] { return BindTo(fresh, PortOf(listener)); }, WSAEADDRINUSE},
      {"bind twice", [&] { return BindTo(fresh, 0) == 0 ? BindTo(fresh, 0) : 0; }, WSAEINVAL},
      {"bind with a short address", [&] { return ws.bind(Tcp(), Raw(any), 8); }, WSAEFAULT},
      {"connect twice", [&] { return ConnectTo(pair.Client, PortOf(listener)); }, WSAEISCONN},
      {"an unknown option", [&] { return ws.setsockopt(fresh, SOL_SOCKET, 0x7777, "1234", 4); },
       WSAENOPROTOOPT},
      {"reading SO_ERROR into two bytes",
       [&] {
         int length = 2;
         return ws.getsockopt(fresh, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&option), &length);
       },
       WSAEFAULT},
      {"an unknown ioctl", [&] { return ws.ioctlsocket(fresh, 0x12345, &value); }, WSAEINVAL},
      {"an unknown socket", [&] { return ws.recv(0x7FFFFF00, buffer, 8, 0); }, WSAENOTSOCK},
      {"shutdown with a bad direction", [&] { return ws.shutdown(pair.Client, 7); }, WSAEINVAL},
      {"a registration without a window",
       [&] { return ws.WSAAsyncSelect(pair.Server, nullptr, 1025, FD_READ); }, WSAEINVAL},
      {"recv with nothing there, non-blocking", [&] { return ws.recv(shut.Client, buffer, 8, 0); },
       WSAEWOULDBLOCK},
      {"a zero-byte recv with nothing there", [&] { return ws.recv(shut.Client, buffer, 0, 0); },
       WSAEWOULDBLOCK},
      {"accept with nothing waiting, non-blocking",
       [&] { return failed(ws.accept(quiet, nullptr, nullptr) == INVALID_SOCKET); }, WSAEWOULDBLOCK},
      {"send after shutting sending down",
       [&] { return ws.shutdown(shut.Client, SD_SEND) == 0 ? SendText(shut.Client, "late") : 0; },
       WSAESHUTDOWN},
      {"recv after shutting receiving down",
       [&] { return ws.shutdown(shut.Server, SD_RECEIVE) == 0 ? ws.recv(shut.Server, buffer, 8, 0) : 0; },
       WSAESHUTDOWN},
      {"an unknown service", [&] { return failed(!ws.getservbyname("no-such-service", "tcp")); }, WSANO_DATA},
      {"an unknown protocol", [&] { return failed(!ws.getprotobyname("no-such-protocol")); }, WSANO_DATA},
      {"a host address of another family",
       [&] { return failed(!ws.gethostbyaddr(reinterpret_cast<const char*>(&any.sin_addr), 4, 23)); },
       WSAEAFNOSUPPORT},
      {"the host name into one byte", [&] { return ws.gethostname(buffer, 1); }, WSAEFAULT},
      {"recv from a reset connection", [&] { return ws.recv(reset.Client, buffer, 8, 0); }, WSAECONNRESET},
      // Linux would raise SIGPIPE here; the process must survive.
      {"send to a reset connection", [&] { return SendText(reset.Client, "anyone?"); }, WSAECONNRESET},
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

TEST(Wsock32Names, InetAddrReadsTheDottedForms) {
  const tWinsock& ws = tWinsock::Get();
  struct Case {
    const char* Text;
    uint32_t Bytes; // in memory order, first byte lowest; INADDR_NONE for a refusal
  };
  const Case cases[] = {{"1.2.3.4", 0x04030201},
                        {"255.255.255.255", INADDR_NONE},
                        {"0.0.0.0", 0},
                        {"1.2.3.4 ", 0x04030201},
                        {"127.1", 0x0100007F},
                        {"1.2.772", 0x04030201},
                        {"0x7f.0.0.010", 0x0800007F},
                        {"1.2.3.256", INADDR_NONE},
                        {"1.2.3.4.5", INADDR_NONE},
                        {"1..2.3", INADDR_NONE},
                        {"1.2.3.4x", INADDR_NONE},
                        {"host", INADDR_NONE},
                        {"", INADDR_NONE}};
  for (const Case& c : cases)
    EXPECT_EQ(ws.inet_addr(c.Text), c.Bytes) << c.Text;
}

TEST(Wsock32Names, InetNtoaKeepsEachThreadsTextApart) {
  const tWinsock& ws = tWinsock::Get();
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

using Wsock32Databases = tWinsockTest;

TEST_F(Wsock32Databases, ServicesProtocolsAndHostsResolveInAnyCase) {
  struct Case {
    const char* Name;
    const char* Protocol;
    u_short Port;
  };
  for (Case c : {Case{"http", "tcp", 80}, Case{"HTTP", "TCP", 80}, Case{"www", nullptr, 80},
                 Case{"https", "tcp", 443}}) {
    servent* entry = ws.getservbyname(c.Name, c.Protocol);
    ASSERT_NE(entry, nullptr) << c.Name;
    EXPECT_EQ(ws.ntohs(static_cast<u_short>(entry->s_port)), c.Port) << c.Name;
  }
  ASSERT_NE(ws.getprotobyname("UDP"), nullptr);
  EXPECT_EQ(ws.getprotobyname("UDP")->p_proto, 17);
  for (const char* name : {"LOCALHOST", "10.1.2.3"}) {
    hostent* host = ws.gethostbyname(name);
    ASSERT_NE(host, nullptr) << name;
    EXPECT_EQ(host->h_addrtype, AF_INET);
    EXPECT_EQ(host->h_length, 4);
    ASSERT_NE(host->h_addr_list[0], nullptr);
    EXPECT_EQ(static_cast<uint8_t>(host->h_addr_list[0][0]), name[0] == 'L' ? 127 : 10);
  }
  uint32_t loopback = static_cast<uint32_t>(ws.inet_addr("127.0.0.1"));
  hostent* named = ws.gethostbyaddr(reinterpret_cast<const char*>(&loopback), 4, AF_INET);
  ASSERT_NE(named, nullptr);
  EXPECT_GT(std::strlen(named->h_name), 0u);
}

using Wsock32Streams = tWinsockTest;

TEST_F(Wsock32Streams, BlockingConnectionCarriesBytesBothWaysAndKnowsItsEnds) {
  SOCKET listener = Listener();
  SOCKET client = Tcp();
  ASSERT_EQ(ConnectTo(client, PortOf(listener)), 0);
  sockaddr_in peer{};
  int length = sizeof peer;
  SOCKET server = Track(ws.accept(listener, reinterpret_cast<sockaddr*>(&peer), &length));
  EXPECT_EQ(length, 16);
  EXPECT_EQ(peer.sin_port, ws.htons(PortOf(client)));
  EXPECT_EQ(peer.sin_addr.s_addr, ws.inet_addr("127.0.0.1"));
  length = sizeof peer;
  ASSERT_EQ(ws.getpeername(client, reinterpret_cast<sockaddr*>(&peer), &length), 0);
  EXPECT_EQ(ws.ntohs(peer.sin_port), PortOf(listener));

  EXPECT_EQ(SendText(client, "GET / HTTP/1.0\r\n\r\n"), 18);
  EXPECT_EQ(ReceiveExactly(server, 18), "GET / HTTP/1.0\r\n\r\n");
  ASSERT_EQ(SendText(server, "tail"), 4);
  u_long waiting = 0;
  EXPECT_TRUE(WaitUntil([&] { return ws.ioctlsocket(client, FIONREAD, &waiting) == 0 && waiting == 4; }, 5s,
                        tPump::None));
  u_long atMark = 0;
  ASSERT_EQ(ws.ioctlsocket(client, SIOCATMARK, &atMark), 0);
  EXPECT_EQ(atMark, 1u) << "no urgent data";
  ASSERT_EQ(ws.shutdown(server, SD_SEND), 0);
  EXPECT_EQ(ReceiveText(client), "tail");
  EXPECT_EQ(ReceiveText(client), "");
}

TEST_F(Wsock32Streams, ConnectingAgainAnswersAlreadyThenIsConnected) {
  SOCKET listener = Listener();
  SOCKET client = Tcp();
  SetNonBlocking(client, true);
  if (ConnectTo(client, PortOf(listener)) == 0)
    return; // connected at once: nothing to ask again
  ASSERT_EQ(ws.WSAGetLastError(), WSAEWOULDBLOCK);
  int error = WSAEALREADY;
  WaitUntil(
      [&] {
        error = ConnectTo(client, PortOf(listener)) == SOCKET_ERROR ? ws.WSAGetLastError() : 0;
        return error != WSAEALREADY;
      },
      5s, tPump::None);
  EXPECT_EQ(error, WSAEISCONN);
  EXPECT_EQ(SendText(client, "now"), 3);
}

TEST_F(Wsock32Streams, DatagramsCarryTheirSender) {
  SOCKET a = Track(ws.socket(AF_INET, SOCK_DGRAM, 0));
  SOCKET b = Track(ws.socket(AF_INET, SOCK_DGRAM, 0));
  ASSERT_EQ(BindTo(b, 0), 0);
  sockaddr_in to = Loopback(PortOf(b));
  ASSERT_EQ(ws.sendto(a, "ping", 4, 0, Raw(to), sizeof to), 4);
  char buffer[16];
  sockaddr_in from{};
  int length = sizeof from;
  ASSERT_EQ(ws.recvfrom(b, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length), 4);
  EXPECT_EQ(std::string(buffer, 4), "ping");
  EXPECT_EQ(ws.ntohs(from.sin_port), PortOf(a));
}

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

using Wsock32Options = tWinsockTest;

TEST_F(Wsock32Options, SoErrorCarriesAFailedConnectsNumber) {
  u_short port = UnusedPort();
  SOCKET s = Tcp();
  SetNonBlocking(s, true);
  if (ConnectTo(s, port) == SOCKET_ERROR && ws.WSAGetLastError() == WSAECONNREFUSED)
    return; // refused at once: nothing left pending
  int value = 0;
  WaitUntil(
      [&] {
        int length = sizeof value;
        return ws.getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&value), &length) == 0 &&
               value != 0;
      },
      5s, tPump::None);
  EXPECT_EQ(value, WSAECONNREFUSED);
}

using Wsock32Linger = tWinsockTest;

// A sender fills the path to a peer that does not read yet, then closes under each linger setting.
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
