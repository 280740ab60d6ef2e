#include "socket/WinsockAPI.h"

#include <gtest/gtest.h>

#include <string>

#include "socket/WSocket.h"

namespace {

// Restores the process-wide library name, whatever the test did with it.
class TLibraryNameGuard {
public:
  TLibraryNameGuard() : Saved(SocketsLibraryName()) {}
  ~TLibraryNameGuard() {
    UnloadSockets();
    SetSocketsLibraryName(Saved);
  }

private:
  std::string Saved;
};

std::string RaisedMessage(const std::function<void()>& action) {
  try {
    action();
  } catch (const ESocketException& e) {
    return e.Message;
  }
  return "(nothing raised)";
}

TEST(SocketErrorText, GivesTheTextOfEveryWinsockNumber) {
  struct Case {
    int Number;
    const char* Text;
  };
  const Case cases[] = {
      {0, "No Error"},
      {10004, "Interrupted system call"},
      {10009, "Bad file number"},
      {10013, "Permission denied"},
      {10014, "Bad address"},
      {10022, "Invalid argument"},
      {10024, "Too many open files"},
      {10035, "Operation would block"},
      {10036, "Operation now in progress"},
      {10037, "Operation already in progress"},
      {10038, "Socket operation on non-socket"},
      {10039, "Destination address required"},
      {10040, "Message too long"},
      {10041, "Protocol wrong type for socket"},
      {10042, "Protocol not available"},
      {10043, "Protocol not supported"},
      {10044, "Socket type not supported"},
      {10045, "Operation not supported on socket"},
      {10046, "Protocol family not supported"},
      {10047, "Address family not supported by protocol family"},
      {10048, "Address already in use"},
      {10049, "Address not available"},
      {10050, "Network is down"},
      {10051, "Network is unreachable"},
      {10052, "Network dropped connection on reset"},
      {10053, "Connection aborted"},
      {10054, "Connection reset by peer"},
      {10055, "No buffer space available"},
      {10056, "Socket is already connected"},
      {10057, "Socket is not connected"},
      {10058, "Can't send after socket shutdown"},
      {10059, "Too many references: can't splice"},
      {10060, "Connection timed out"},
      {10061, "Connection refused"},
      {10062, "Too many levels of symbolic links"},
      {10063, "File name too long"},
      {10064, "Host is down"},
      {10065, "No route to host"},
      {10066, "Directory not empty"},
      {10067, "Too many processes"},
      {10068, "Too many users"},
      {10069, "Disc quota exceeded"},
      {10070, "Stale NFS file handle"},
      {10071, "Too many levels of remote in path"},
      {10091, "Network sub-system is unusable"},
      {10092, "WinSock DLL cannot support this application"},
      {10093, "WinSock not initialized"},
      {11001, "Host not found"},
      {11002, "Non-authoritative host not found"},
      {11003, "Non-recoverable error"},
      {11004, "No Data"},
  };
  ASSERT_EQ(std::size(cases), 51u);
  for (const Case& c : cases) {
    EXPECT_EQ(SocketErrorText(c.Number), c.Text) << c.Number;
  }
}

TEST(SocketErrorText, NumbersOutsideTheTableAreNotWinsockErrors) {
  for (int number : {5, -1, 10000, 10072, 10090, 10094, 11000, 11005, 20001}) {
    EXPECT_EQ(SocketErrorText(number), "Not a WinSock error") << number;
  }
}

TEST(ParseDecimal, TakesTheLeadingDigitsAfterBlanks) {
  struct Case {
    const char* Text;
    int32_t Value;
  };
  const Case cases[] = {{"12ab", 12},     {"", 0},   {"ab12", 0}, {"   8080", 8080},
                        {"99999", 99999}, {"-5", 0}, {"0", 0},    {"4294967297", 1}};
  for (const Case& c : cases) {
    EXPECT_EQ(ParseDecimal(c.Text), c.Value) << c.Text;
  }
}

TEST(IsDottedIP, AcceptsFourNumbersUpTo255WithBlanksAround) {
  struct Case {
    const char* Text;
    bool Dotted;
  };
  const Case cases[] = {
      {"1.2.3.4", true},   {"  1.2.3.4  ", true}, {"255.255.255.255", true}, {"0.0.0.0", true},
      {"1.2.3", false},    {"1.2.3.256", false},  {"1..2.3", false},         {".1.2.3", false},
      {"1.2.3.4.", false}, {"1.2.3.4 x", false},  {"256.1.1.1", false},      {"1.2.3.4.5", false},
      {"", false},         {"localhost", false},  {"1.2.3.", false},         {"1.2.3.99999999999999", false},
      {"  .1.2.3", false}, {"1.2.3.4 5", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsDottedIP(c.Text), c.Dotted) << "'" << c.Text << "'";
  }
}

TEST(WSocketResolveHost, ConvertsDottedAddressesAndLocalNames) {
  const auto loopback = static_cast<uint32_t>(wsock::htonl(INADDR_LOOPBACK));
  EXPECT_EQ(WSocketResolveHost("127.0.0.1"), loopback);
  EXPECT_EQ(WSocketResolveHost("  127.0.0.1 "), loopback);
  EXPECT_EQ(WSocketResolveHost("255.255.255.255"), 0xFFFFFFFFu);
  EXPECT_EQ(WSocketResolveHost("localhost"), loopback);
}

TEST(WSocketResolvePort, TakesNumbersAsTheyAreAndNamesFromTheServices) {
  EXPECT_EQ(WSocketResolvePort("8080", "tcp"), 8080);
  EXPECT_EQ(WSocketResolvePort("99999", "tcp"), 99999); // not range-checked
  EXPECT_EQ(WSocketResolvePort("80abc", ""), 80);
  EXPECT_EQ(WSocketResolvePort(" http ", " tcp "), 80);
  EXPECT_EQ(WSocketResolvePort("http", ""), 80);
}

TEST(WSocketResolveProto, TakesNumbersAndProtocolNames) {
  EXPECT_EQ(WSocketResolveProto("tcp"), 6);
  EXPECT_EQ(WSocketResolveProto(" udp "), 17);
  EXPECT_EQ(WSocketResolveProto("17"), 17);
}

TEST(SocketResolution, FailuresRaiseTheirExactMessages) {
  const std::string longName(257, 'a');
  const std::string lookedUpName(256, 'a'); // one label too long for any name server: fails locally
  struct Case {
    std::function<void()> Action;
    std::string Message;
  };
  const Case cases[] = {
      {[] { WSocketResolveHost(""); }, "WSocketResolveHost: '' Invalid Hostname."},
      {[&] { WSocketResolveHost(longName); }, "WSocketResolveHost: '" + longName + "' Invalid Hostname."},
      {[&] { WSocketResolveHost(lookedUpName); },
       "WSocketResolveHost: Cannot convert host address '" + lookedUpName + "'"},
      {[] { WSocketResolveHost("08.1.1.1"); }, "WSocketResolveHost: '08.1.1.1' Invalid IP address."},
      {[] { WSocketResolvePort("", "tcp"); }, "WSocketResolvePort: Invalid Port."},
      {[] { WSocketResolvePort(std::string(32, '1'), "tcp"); }, "WSocketResolvePort: Invalid Port."},
      {[] { WSocketResolvePort("no-such-service", "tcp"); },
       "WSocketResolvePort: Cannot convert port 'no-such-service'"},
      {[] { WSocketResolveProto(""); }, "WSocketResolveProto: Invalid Protocol."},
      {[] { WSocketResolveProto(std::string(32, 't')); }, "WSocketResolveProto: Invalid Protocol."},
      {[] { WSocketResolveProto("no-such-protocol"); },
       "WSocketResolveProto: Cannot convert protocol 'no-such-protocol'"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RaisedMessage(c.Action), c.Message);
  }
}

TEST(LocalHostName, IsTheMachinesNameInAtMost63Bytes) {
  const std::string name = LocalHostName();
  EXPECT_FALSE(name.empty());
  EXPECT_LT(name.size(), 64u);
}

TEST(SocketsLibrary, IsReleasedWithTheLastSocketAndLoadedAgainOnNextUse) {
  ASSERT_EQ(LiveSocketCount(), 0);
  {
    TWSocket first;
    TWSocket second;
    EXPECT_EQ(LiveSocketCount(), 2);
    EXPECT_EQ(WSocketResolveProto("tcp"), 6);
    EXPECT_TRUE(SocketsLibraryLoaded());
  }
  EXPECT_EQ(LiveSocketCount(), 0);
  EXPECT_FALSE(SocketsLibraryLoaded());
  TWSocket again;
  again.SetAddr("127.0.0.1");
  again.SetPort("0");
  again.Listen();
  EXPECT_TRUE(SocketsLibraryLoaded());
  EXPECT_EQ(again.State(), wsListening);
}

TEST(SocketsLibrary, AMissingLibraryRaisesItsMessageAndIsTriedAgainEachTime) {
  TLibraryNameGuard guard;
  ASSERT_EQ(LiveSocketCount(), 0);
  UnloadSockets();
  SetSocketsLibraryName("kws-no-such-sockets.dll");
  const std::string expected = "Unable to load kws-no-such-sockets.dll Error #126";
  EXPECT_EQ(RaisedMessage([] { WSocketResolveProto("tcp"); }), expected);
  EXPECT_EQ(RaisedMessage([] { LocalHostName(); }), expected);
  EXPECT_FALSE(SocketsLibraryLoaded());
  SetSocketsLibraryName("wsock32.dll");
  EXPECT_EQ(WSocketResolveProto("tcp"), 6);
}

TEST(SocketsLibrary, AMissingProcedureRaisesOnEveryUseWhileOthersKeepWorking) {
  const std::string expected = "Procedure NoSuchProcedure not found in wsock32.dll Error #127";
  EXPECT_EQ(RaisedMessage([] { BindSocketProc("NoSuchProcedure"); }), expected);
  EXPECT_EQ(RaisedMessage([] { BindSocketProc("NoSuchProcedure"); }), expected);
  EXPECT_EQ(WSocketResolveProto("udp"), 17);
  EXPECT_NE(BindSocketProc("recv"), nullptr);
}

TEST(SocketsLibrary, UnloadingForgetsEveryBoundProcedure) {
  ASSERT_EQ(LiveSocketCount(), 0);
  EXPECT_EQ(WSocketResolveProto("tcp"), 6);
  UnloadSockets();
  EXPECT_FALSE(SocketsLibraryLoaded());
  // A wrapper bound before the release binds again, and so starts the library again.
  EXPECT_EQ(WSocketResolveProto("tcp"), 6);
  EXPECT_TRUE(SocketsLibraryLoaded());
  UnloadSockets();
}

} // namespace
