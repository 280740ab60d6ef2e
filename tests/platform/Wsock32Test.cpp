// The built-in "wsock32.dll" as a caller binds it: loading, start-up, error numbers, handles, byte order,
// address texts, the databases, options, modes and closing.
#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/Wsock32Test.h"

using namespace wstest;

namespace {

TEST(Wsock32Module, LoadsByNameInAnyCaseAndExportsTheWinsockProcedures) {
  HMODULE module = LoadLibraryA("wsock32.dll");
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(LoadLibraryA("WSOCK32"), module);
  const char* names[] = {"WSAStartup",
                         "WSACleanup",
                         "WSASetLastError",
                         "WSAGetLastError",
                         "WSAAsyncSelect",
                         "socket",
                         "bind",
                         "listen",
                         "accept",
                         "connect",
                         "send",
                         "sendto",
                         "recv",
                         "recvfrom",
                         "shutdown",
                         "closesocket",
                         "getsockname",
                         "getpeername",
                         "setsockopt",
                         "getsockopt",
                         "ioctlsocket",
                         "htons",
                         "ntohs",
                         "htonl",
                         "ntohl",
                         "inet_addr",
                         "inet_ntoa",
                         "gethostname",
                         "gethostbyname",
                         "gethostbyaddr",
                         "getservbyname",
                         "getprotobyname"};
  for (const char* name : names)
    EXPECT_NE(GetProcAddress(module, name), nullptr) << name;
}

TEST(Wsock32Module, UnknownOrMiscasedNamesAreNotExported) {
  HMODULE module = LoadLibraryA("wsock32.dll");
  ASSERT_NE(module, nullptr);
  for (const char* name : {"WSAFrobnicate", "Send", "WSAASYNCSELECT", "wsaasyncgethostbyname"}) {
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(module, name), nullptr) << name;
    EXPECT_EQ(GetLastError(), 127u) << name;
  }
}

TEST(Wsock32Startup, EverythingButByteOrderAndAddressTextsWaitsForStartUp) {
  const Api& ws = Api::Get();
  ws.WSASetLastError(0);
  EXPECT_EQ(ws.socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
  EXPECT_EQ(ws.WSAGetLastError(), WSANOTINITIALISED);
  ws.WSASetLastError(0);
  EXPECT_EQ(ws.closesocket(0x100), SOCKET_ERROR);
  EXPECT_EQ(ws.WSAGetLastError(), WSANOTINITIALISED);
  EXPECT_EQ(ws.gethostbyname("localhost"), nullptr);
  EXPECT_EQ(ws.WSAGetLastError(), WSANOTINITIALISED);
  EXPECT_EQ(ws.WSACleanup(), SOCKET_ERROR);
  EXPECT_EQ(ws.WSAGetLastError(), WSANOTINITIALISED);

  EXPECT_EQ(ws.htons(0x1234), 0x3412);
  EXPECT_EQ(ws.inet_addr("10.0.0.1"), 0x0100000Au);
}

TEST(Wsock32Startup, GrantsOnePointOneAndCountsCalls) {
  const Api& ws = Api::Get();
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
  EXPECT_EQ(ws.WSAGetLastError(), WSANOTINITIALISED);

  // The last clean-up closed the socket left open.
  ASSERT_EQ(ws.WSAStartup(MAKEWORD(1, 1), &data), 0);
  EXPECT_EQ(ws.closesocket(s), SOCKET_ERROR);
  EXPECT_EQ(ws.WSAGetLastError(), WSAENOTSOCK);
  EXPECT_EQ(ws.WSACleanup(), 0);
}

TEST(Wsock32Startup, LastErrorIsTheThreadsOwnAndSharedWithGetLastError) {
  const Api& ws = Api::Get();
  ws.WSASetLastError(10054);
  EXPECT_EQ(GetLastError(), 10054u);
  SetLastError(10061);
  EXPECT_EQ(ws.WSAGetLastError(), 10061);
  int other = -1;
  std::thread([&] { other = ws.WSAGetLastError(); }).join();
  EXPECT_EQ(other, 0);
}

using Wsock32Errors = WinsockTest;

TEST_F(Wsock32Errors, ConnectionRefusedIs10061) {
  u_short port = UnusedPort();
  SOCKET s = Tcp();
  EXPECT_EQ(ConnectTo(s, port), SOCKET_ERROR);
  EXPECT_EQ(ws.WSAGetLastError(), WSAECONNREFUSED);
}

TEST_F(Wsock32Errors, CallsAnswerWithTheirWinsockNumbers) {
  SOCKET fresh = Tcp();
  SOCKET listener = Listener();
  Pair pair = Connected();
  char buffer[8];
  sockaddr_in any = Loopback(0);
  u_long value = 0;
  int optionValue = 0;
  struct Case {
    const char* What;
    std::function<int()> Call;
    int Expected;
  };
  const Case cases[] = {
      {"send on an unconnected socket", [&] { return SendText(fresh, "x"); }, WSAENOTCONN},
      {"recv on a listening socket", [&] { return ws.recv(listener, buffer, 8, 0); }, WSAENOTCONN},
      {"listen on an unbound socket", [&] { return ws.listen(fresh, 5); }, WSAEINVAL},
      {"accept on a socket that does not listen",
       [&] { return ws.accept(fresh, nullptr, nullptr) == INVALID_SOCKET ? SOCKET_ERROR : 0; }, WSAEINVAL},
      {"bind to the listener's port",
       [&] {
         sockaddr_in taken = Loopback(PortOf(listener));
         return ws.bind(fresh, Raw(taken), sizeof taken);
       },
       WSAEADDRINUSE},
      {"bind twice",
       [&] {
         SOCKET s = Tcp();
         ws.bind(s, Raw(any), sizeof any);
         return ws.bind(s, Raw(any), sizeof any);
       },
       WSAEINVAL},
      {"bind with a short address", [&] { return ws.bind(fresh, Raw(any), 8); }, WSAEFAULT},
      {"connect twice", [&] { return ConnectTo(pair.Client, PortOf(listener)); }, WSAEISCONN},
      {"an unknown option", [&] { return ws.setsockopt(fresh, SOL_SOCKET, 0x7777, "1234", 4); },
       WSAENOPROTOOPT},
      {"reading SO_ERROR's size wrong",
       [&] {
         int length = 2;
         return ws.getsockopt(fresh, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&optionValue), &length);
       },
       WSAEFAULT},
      {"an unknown ioctl", [&] { return ws.ioctlsocket(fresh, 0x12345, &value); }, WSAEINVAL},
      {"an unknown socket", [&] { return ws.recv(0x7FFFFF00, buffer, 8, 0); }, WSAENOTSOCK},
      {"shutdown with a bad direction", [&] { return ws.shutdown(pair.Client, 7); }, WSAEINVAL},
  };
  for (const Case& c : cases) {
    ws.WSASetLastError(0);
    EXPECT_EQ(c.Call(), SOCKET_ERROR) << c.What;
    EXPECT_EQ(ws.WSAGetLastError(), c.Expected) << c.What;
  }
}

TEST_F(Wsock32Errors, SocketCreationChecksFamilyAndType) {
  EXPECT_EQ(ws.socket(1 /* AF_UNIX */, SOCK_STREAM, 0), INVALID_SOCKET);
  EXPECT_EQ(ws.WSAGetLastError(), WSAEAFNOSUPPORT);
  EXPECT_EQ(ws.socket(AF_INET, 9, 0), INVALID_SOCKET);
  EXPECT_EQ(ws.WSAGetLastError(), WSAESOCKTNOSUPPORT);
  EXPECT_EQ(ws.socket(AF_INET, SOCK_STREAM, IPPROTO_UDP), INVALID_SOCKET);
  EXPECT_EQ(ws.WSAGetLastError(), WSAEPROTONOSUPPORT);
}

TEST_F(Wsock32Errors, ShutdownDirectionsAnswer10058) {
  Pair pair = Connected();
  ASSERT_EQ(ws.shutdown(pair.Client, SD_SEND), 0);
  EXPECT_EQ(SendText(pair.Client, "late"), SOCKET_ERROR);
  EXPECT_EQ(ws.WSAGetLastError(), WSAESHUTDOWN);
  EXPECT_EQ(ReceiveText(pair.Server), "") << "the peer sees the end of the stream";
  ASSERT_EQ(ws.shutdown(pair.Server, SD_RECEIVE), 0);
  EXPECT_EQ(ReceiveText(pair.Server), "error 10058");
}

TEST_F(Wsock32Errors, SendingToAResetConnectionIs10054WithoutASignal) {
  Pair pair = Connected();
  SetLinger(pair.Server, true, 0);
  ASSERT_EQ(Close(pair.Server), 0);
  EXPECT_EQ(ReceiveText(pair.Client), "error 10054");
  // Linux would raise SIGPIPE here; the process must survive and hear 10054 again.
  EXPECT_EQ(SendText(pair.Client, "anyone?"), SOCKET_ERROR);
  EXPECT_EQ(ws.WSAGetLastError(), WSAECONNRESET);
}

using Wsock32Handles = WinsockTest;

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

TEST(Wsock32Names, ByteOrderSwapsOnlyTheLowBits) {
  const Api& ws = Api::Get();
  EXPECT_EQ(ws.htons(0x1234), 0x3412);
  EXPECT_EQ(ws.ntohs(0x3412), 0x1234);
  EXPECT_EQ(ws.htonl(0x12345678u), 0x78563412u);
  EXPECT_EQ(ws.ntohl(0x78563412u), 0x12345678u);
}

TEST(Wsock32Names, InetAddrReadsTheDottedForms) {
  const Api& ws = Api::Get();
  struct Case {
    const char* Text;
    uint8_t Bytes[4];
    bool Valid;
  };
  const Case cases[] = {
      {"1.2.3.4", {1, 2, 3, 4}, true},
      {"255.255.255.255", {255, 255, 255, 255}, true},
      {"0.0.0.0", {0, 0, 0, 0}, true},
      {"1.2.3.4 ", {1, 2, 3, 4}, true},
      {"127.1", {127, 0, 0, 1}, true},
      {"1.2.772", {1, 2, 3, 4}, true},
      {"0x7f.0.0.010", {127, 0, 0, 8}, true},
      {"1.2.3.256", {}, false},
      {"1.2.3.4.5", {}, false},
      {"1..2.3", {}, false},
      {"1.2.3.4x", {}, false},
      {"host", {}, false},
      {"", {}, false},
  };
  for (const Case& c : cases) {
    unsigned long got = ws.inet_addr(c.Text);
    if (!c.Valid) {
      EXPECT_EQ(got, INADDR_NONE) << c.Text;
      continue;
    }
    uint32_t address = static_cast<uint32_t>(got);
    EXPECT_EQ(std::memcmp(&address, c.Bytes, 4), 0) << c.Text;
  }
}

TEST(Wsock32Names, InetNtoaKeepsEachThreadsTextApart) {
  const Api& ws = Api::Get();
  in_addr mine{};
  mine.s_addr = ws.inet_addr("192.168.10.200");
  char* text = ws.inet_ntoa(mine);
  EXPECT_STREQ(text, "192.168.10.200");
  std::thread([&] {
    in_addr other{};
    other.s_addr = ws.inet_addr("1.1.1.1");
    EXPECT_STREQ(ws.inet_ntoa(other), "1.1.1.1");
  }).join();
  EXPECT_STREQ(text, "192.168.10.200");
}

using Wsock32Databases = WinsockTest;

TEST_F(Wsock32Databases, ServicesAndProtocolsResolveInAnyCase) {
  struct Case {
    const char* Name;
    const char* Protocol;
    u_short Port;
  };
  for (const Case& c : {Case{"http", "tcp", 80}, Case{"HTTP", "TCP", 80}, Case{"www", nullptr, 80},
                        Case{"ftp", "tcp", 21}, Case{"https", "tcp", 443}}) {
    servent* entry = ws.getservbyname(c.Name, c.Protocol);
    ASSERT_NE(entry, nullptr) << c.Name;
    EXPECT_EQ(ws.ntohs(static_cast<u_short>(entry->s_port)), c.Port) << c.Name;
  }
  EXPECT_EQ(ws.getservbyname("no-such-service", "tcp"), nullptr);
  EXPECT_EQ(ws.WSAGetLastError(), WSANO_DATA);

  protoent* tcp = ws.getprotobyname("tcp");
  ASSERT_NE(tcp, nullptr);
  EXPECT_EQ(tcp->p_proto, 6);
  protoent* udp = ws.getprotobyname("UDP");
  ASSERT_NE(udp, nullptr);
  EXPECT_EQ(udp->p_proto, 17);
  EXPECT_EQ(ws.getprotobyname("no-such-protocol"), nullptr);
  EXPECT_EQ(ws.WSAGetLastError(), WSANO_DATA);
}

TEST_F(Wsock32Databases, HostNamesResolveToIPv4) {
  hostent* local = ws.gethostbyname("localhost");
  ASSERT_NE(local, nullptr);
  EXPECT_EQ(local->h_addrtype, AF_INET);
  EXPECT_EQ(local->h_length, 4);
  ASSERT_NE(local->h_addr_list[0], nullptr);
  EXPECT_EQ(static_cast<uint8_t>(local->h_addr_list[0][0]), 127);

  hostent* dotted = ws.gethostbyname("10.1.2.3");
  ASSERT_NE(dotted, nullptr);
  uint32_t address;
  std::memcpy(&address, dotted->h_addr_list[0], 4);
  EXPECT_EQ(address, ws.inet_addr("10.1.2.3"));
  EXPECT_EQ(dotted->h_addr_list[1], nullptr);

  uint32_t loopback = static_cast<uint32_t>(ws.inet_addr("127.0.0.1"));
  hostent* named = ws.gethostbyaddr(reinterpret_cast<const char*>(&loopback), 4, AF_INET);
  ASSERT_NE(named, nullptr);
  EXPECT_GT(std::strlen(named->h_name), 0u);
  EXPECT_EQ(ws.gethostbyaddr(reinterpret_cast<const char*>(&loopback), 4, 23), nullptr);
  EXPECT_EQ(ws.WSAGetLastError(), WSAEAFNOSUPPORT);

  char name[256];
  ASSERT_EQ(ws.gethostname(name, sizeof name), 0);
  EXPECT_GT(std::strlen(name), 0u);
  EXPECT_EQ(ws.gethostname(name, 1), SOCKET_ERROR);
  EXPECT_EQ(ws.WSAGetLastError(), WSAEFAULT);
}

using Wsock32Streams = WinsockTest;

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

  sockaddr_in other{};
  length = sizeof other;
  ASSERT_EQ(ws.getpeername(client, reinterpret_cast<sockaddr*>(&other), &length), 0);
  EXPECT_EQ(ws.ntohs(other.sin_port), PortOf(listener));

  EXPECT_EQ(SendText(client, "GET / HTTP/1.0\r\n\r\n"), 18);
  std::string request = ReceiveExactly(server, 18);
  EXPECT_EQ(request, "GET / HTTP/1.0\r\n\r\n");
  std::string reply(100000, 'r');
  for (size_t i = 0; i < reply.size(); ++i)
    reply[i] = static_cast<char>('a' + i % 26);
  std::thread writer([&] { EXPECT_EQ(SendText(server, reply), static_cast<int>(reply.size())); });
  EXPECT_EQ(ReceiveExactly(client, reply.size()), reply);
  writer.join();

  ASSERT_EQ(SendText(server, "tail"), 4);
  u_long waiting = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatience);
  while (waiting < 4 && std::chrono::steady_clock::now() < deadline)
    ASSERT_EQ(ws.ioctlsocket(client, FIONREAD, &waiting), 0);
  EXPECT_EQ(waiting, 4u);
  ASSERT_EQ(ws.shutdown(server, SD_SEND), 0);
  EXPECT_EQ(ReceiveText(client), "tail");
  EXPECT_EQ(ReceiveText(client), "");
}

TEST_F(Wsock32Streams, NonBlockingCallsAnswer10035) {
  Pair pair = Connected();
  SetNonBlocking(pair.Server, true);
  EXPECT_EQ(ReceiveText(pair.Server), "error 10035");
  char none;
  EXPECT_EQ(ws.recv(pair.Server, &none, 0, 0), SOCKET_ERROR) << "a zero-byte read waits for data too";
  EXPECT_EQ(ws.WSAGetLastError(), WSAEWOULDBLOCK);
  SOCKET listener = Listener();
  SetNonBlocking(listener, true);
  EXPECT_EQ(ws.accept(listener, nullptr, nullptr), INVALID_SOCKET);
  EXPECT_EQ(ws.WSAGetLastError(), WSAEWOULDBLOCK);

  SOCKET client = Tcp();
  SetNonBlocking(client, true);
  int started = ConnectTo(client, PortOf(listener));
  if (started == SOCKET_ERROR) {
    EXPECT_EQ(ws.WSAGetLastError(), WSAEWOULDBLOCK);
  }
}

TEST_F(Wsock32Streams, ConnectingAgainAnswersAlreadyThenIsConnected) {
  SOCKET listener = Listener();
  SOCKET client = Tcp();
  SetNonBlocking(client, true);
  int result = ConnectTo(client, PortOf(listener));
  if (result == 0)
    return; // connected at once: nothing to ask again
  ASSERT_EQ(ws.WSAGetLastError(), WSAEWOULDBLOCK);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatience);
  int error = WSAEALREADY;
  while (error == WSAEALREADY && std::chrono::steady_clock::now() < deadline) {
    ASSERT_EQ(ConnectTo(client, PortOf(listener)), SOCKET_ERROR);
    error = ws.WSAGetLastError();
  }
  EXPECT_EQ(error, WSAEISCONN);
  EXPECT_EQ(SendText(client, "now"), 3);
}

TEST_F(Wsock32Streams, AtMarkHoldsWithoutUrgentData) {
  Pair pair = Connected();
  u_long atMark = 0;
  ASSERT_EQ(ws.ioctlsocket(pair.Server, SIOCATMARK, &atMark), 0);
  EXPECT_EQ(atMark, 1u);
}

TEST_F(Wsock32Streams, DatagramsCarryTheirSender) {
  SOCKET a = Track(ws.socket(AF_INET, SOCK_DGRAM, 0));
  SOCKET b = Track(ws.socket(AF_INET, SOCK_DGRAM, 0));
  sockaddr_in here = Loopback(0);
  ASSERT_EQ(ws.bind(b, Raw(here), sizeof here), 0);
  sockaddr_in to = Loopback(PortOf(b));
  ASSERT_EQ(ws.sendto(a, "ping", 4, 0, Raw(to), sizeof to), 4);
  char buffer[16];
  sockaddr_in from{};
  int length = sizeof from;
  ASSERT_EQ(ws.recvfrom(b, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length), 4);
  EXPECT_EQ(std::string(buffer, 4), "ping");
  EXPECT_EQ(ws.ntohs(from.sin_port), PortOf(a));
}

TEST_F(Wsock32Streams, ListenWithWinsocksSomaxconnDropsNoConnectionAttempt) {
  SOCKET listener = Listener(); // backlog SOMAXCONN, a literal 5
  auto started = std::chrono::steady_clock::now();
  for (int i = 0; i < 24; ++i) {
    SOCKET client = Tcp();
    ASSERT_EQ(ConnectTo(client, PortOf(listener)), 0) << i;
  }
  // A dropped attempt costs its client a one-second retransmission.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(900));
}

TEST_F(Wsock32Streams, ABoundPortHeldOnlyByClosedConnectionsBindsAgain) {
  SOCKET listener = Listener();
  u_short port = PortOf(listener);
  Pair pair;
  pair.Client = Tcp();
  ASSERT_EQ(ConnectTo(pair.Client, port), 0);
  pair.Server = Track(ws.accept(listener, nullptr, nullptr));
  Close(listener);
  Close(pair.Server); // the server's end closes first: it keeps the port in TIME_WAIT
  ReceiveText(pair.Client);
  Close(pair.Client);
  SOCKET again = Tcp();
  sockaddr_in address = Loopback(port);
  EXPECT_EQ(ws.bind(again, Raw(address), sizeof address), 0) << ws.WSAGetLastError();
}

using Wsock32Options = WinsockTest;

TEST_F(Wsock32Options, TranslateToTheKernelOrAreRecorded) {
  SOCKET s = Tcp();
  int value = 0;
  int length = sizeof value;
  ASSERT_EQ(ws.getsockopt(s, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&value), &length), 0);
  EXPECT_EQ(value, SOCK_STREAM);

  LINGER linger{1, 7};
  ASSERT_EQ(ws.setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&linger), sizeof linger), 0);
  LINGER back{};
  length = sizeof back;
  ASSERT_EQ(ws.getsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&back), &length), 0);
  EXPECT_EQ(length, 4);
  EXPECT_EQ(back.l_onoff, 1);
  EXPECT_EQ(back.l_linger, 7);

  struct Case {
    int Level;
    int Name;
  };
  for (Case c : {Case{SOL_SOCKET, SO_KEEPALIVE}, Case{SOL_SOCKET, SO_REUSEADDR},
                 Case{IPPROTO_TCP, TCP_NODELAY}, Case{SOL_SOCKET, SO_BROADCAST}}) {
    int on = 1;
    ASSERT_EQ(ws.setsockopt(s, c.Level, c.Name, reinterpret_cast<char*>(&on), sizeof on), 0) << c.Name;
    value = 0;
    length = sizeof value;
    ASSERT_EQ(ws.getsockopt(s, c.Level, c.Name, reinterpret_cast<char*>(&value), &length), 0) << c.Name;
    EXPECT_NE(value, 0) << c.Name;
  }
  int size = 65536;
  ASSERT_EQ(ws.setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&size), sizeof size), 0);
  length = sizeof value;
  ASSERT_EQ(ws.getsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&value), &length), 0);
  EXPECT_GE(value, size);
  length = sizeof value;
  ASSERT_EQ(ws.getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&value), &length), 0);
  EXPECT_EQ(value, 0);
}

TEST_F(Wsock32Options, SoErrorCarriesAFailedConnectsNumber) {
  u_short port = UnusedPort();
  SOCKET s = Tcp();
  SetNonBlocking(s, true);
  if (ConnectTo(s, port) == SOCKET_ERROR && ws.WSAGetLastError() == WSAECONNREFUSED)
    return; // refused at once: nothing left pending
  int value = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatience);
  while (value == 0 && std::chrono::steady_clock::now() < deadline) {
    int length = sizeof value;
    ASSERT_EQ(ws.getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&value), &length), 0);
  }
  EXPECT_EQ(value, WSAECONNREFUSED);
}

using Wsock32Linger = WinsockTest;

// Fills the path from a non-blocking sender to a peer that does not read; returns what was sent.
std::string FillUntilBlocked(const Api& ws, SOCKET sender) {
  std::string sent;
  std::string chunk(65536, '\0');
  for (int round = 0; round < 10000; ++round) {
    for (size_t i = 0; i < chunk.size(); ++i)
      chunk[i] = static_cast<char>('A' + (sent.size() + i) % 23);
    int n = ws.send(sender, chunk.data(), static_cast<int>(chunk.size()), 0);
    if (n == SOCKET_ERROR) {
      EXPECT_EQ(ws.WSAGetLastError(), WSAEWOULDBLOCK);
      return sent;
    }
    sent.append(chunk, 0, static_cast<size_t>(n));
  }
  ADD_FAILURE() << "the send buffer never filled";
  return sent;
}

void ShrinkBuffers(const Api& ws, SOCKET s) {
  int size = 8192;
  ws.setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char*>(&size), sizeof size);
  ws.setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&size), sizeof size);
}

TEST_F(Wsock32Linger, OffClosesGracefullyInTheBackground) {
  Pair pair = Connected();
  std::string data(200000, 'g');
  std::thread writer([&] {
    EXPECT_EQ(SendText(pair.Server, data), static_cast<int>(data.size()));
    EXPECT_EQ(Close(pair.Server), 0);
  });
  EXPECT_EQ(ReceiveExactly(pair.Client, data.size()).size(), data.size());
  writer.join();
  EXPECT_EQ(ReceiveText(pair.Client), "");
}

TEST_F(Wsock32Linger, OnWithZeroTimeResets) {
  Pair pair = Connected();
  SetLinger(pair.Server, true, 0);
  ASSERT_EQ(SendText(pair.Server, "lost?"), 5);
  ASSERT_EQ(Close(pair.Server), 0);
  std::string got = ReceiveText(pair.Client);
  if (got == "lost?")
    got = ReceiveText(pair.Client);
  EXPECT_EQ(got, "error 10054");
}

TEST_F(Wsock32Linger, NonBlockingCloseWaitsForThePeerToTakeTheData) {
  Pair pair = Connected();
  ShrinkBuffers(ws, pair.Server);
  ShrinkBuffers(ws, pair.Client);
  SetNonBlocking(pair.Server, true);
  SetLinger(pair.Server, true, 30);
  std::string sent = FillUntilBlocked(ws, pair.Server);
  ASSERT_FALSE(sent.empty());

  EXPECT_EQ(ws.closesocket(pair.Server), SOCKET_ERROR);
  EXPECT_EQ(ws.WSAGetLastError(), WSAEWOULDBLOCK);
  int type = 0;
  int length = sizeof type;
  EXPECT_EQ(ws.getsockopt(pair.Server, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length), 0)
      << "the socket stays open";

  EXPECT_EQ(ReceiveExactly(pair.Client, sent.size()), sent);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatience);
  int closed = SOCKET_ERROR;
  while (closed != 0 && std::chrono::steady_clock::now() < deadline) {
    closed = Close(pair.Server);
    if (closed != 0) {
      ASSERT_EQ(ws.WSAGetLastError(), WSAEWOULDBLOCK);
    }
  }
  EXPECT_EQ(closed, 0);
  EXPECT_EQ(ReceiveText(pair.Client), "") << "a graceful end once everything was taken";
}

TEST_F(Wsock32Linger, NonBlockingCloseResetsWhenTheLingerTimeRunsOut) {
  Pair pair = Connected();
  ShrinkBuffers(ws, pair.Server);
  ShrinkBuffers(ws, pair.Client);
  SetNonBlocking(pair.Server, true);
  SetLinger(pair.Server, true, 1);
  std::string sent = FillUntilBlocked(ws, pair.Server);
  auto started = std::chrono::steady_clock::now();
  int closed = SOCKET_ERROR;
  while (closed != 0 && std::chrono::steady_clock::now() - started < std::chrono::seconds(5)) {
    closed = Close(pair.Server);
    if (closed != 0) {
      ASSERT_EQ(ws.WSAGetLastError(), WSAEWOULDBLOCK);
    } else {
      EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(900));
    }
  }
  ASSERT_EQ(closed, 0);
  size_t received = 0;
  std::string ending;
  for (;;) {
    ending = ReceiveText(pair.Client, 65536);
    if (ending.empty() || ending.rfind("error ", 0) == 0)
      break;
    received += ending.size();
  }
  EXPECT_LT(received, sent.size()) << "the unsent rest was dropped";
  EXPECT_EQ(ending, "error 10054");
}

TEST_F(Wsock32Linger, BlockingCloseWaitsUntilThePeerTookTheData) {
  Pair pair = Connected();
  SetLinger(pair.Server, true, 10);
  ASSERT_EQ(SendText(pair.Server, "all of it"), 9);
  ASSERT_EQ(Close(pair.Server), 0);
  EXPECT_EQ(ReceiveText(pair.Client), "all of it");
  EXPECT_EQ(ReceiveText(pair.Client), "");
}

} // namespace
