#include "socket/WinsockAPI.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>

#include "tests/support/SocketProbe.h"

using kwstest::RaisedMessage;

namespace {

TEST(SocketErrorText, HasTheExactDistinctTextOfEachWinsockNumberAndNoneForOthers) {
  EXPECT_EQ(SocketErrorText(0), "No Error");
  EXPECT_EQ(SocketErrorText(10048), "Address already in use");
  EXPECT_EQ(SocketErrorText(10054), "Connection reset by peer");
  EXPECT_EQ(SocketErrorText(10058), "Can't send after socket shutdown");
  EXPECT_EQ(SocketErrorText(11004), "No Data");
  std::set<std::string> texts;
  for (int number = -1; number <= 11010; ++number) {
    const bool winsock = number == 0 || number == 10004 || number == 10009 || number == 10013 ||
                         number == 10014 || number == 10022 || number == 10024 ||
                         (number >= 10035 && number <= 10071) || (number >= 10091 && number <= 10093) ||
                         (number >= 11001 && number <= 11004);
    EXPECT_EQ(SocketErrorText(number) == "Not a WinSock error", !winsock) << number;
    if (winsock)
      texts.insert(SocketErrorText(number));
  }
  EXPECT_EQ(texts.size(), 51u);
}

TEST(IsDottedIP, AcceptsFourNumbersUpTo255WithBlanksAround) {
  for (const char* dotted : {"1.2.3.4", "  1.2.3.4  ", "255.255.255.255"})
    EXPECT_TRUE(IsDottedIP(dotted)) << dotted;
  for (const char* other :
       {"1.2.3", "1.2.3.256", "1..2.3", "1.2.3.4.", "1.2.3.4 x", "", "localhost", "1.2.3.99999999999999"})
    EXPECT_FALSE(IsDottedIP(other)) << "'" << other << "'";
}

TEST(SocketResolution, TurnsNamesAndNumbersIntoNumbersOrRaisesTheExactMessage) {
  const std::string loopback = std::to_string(wsock::htonl(INADDR_LOOPBACK));
  const std::string tooLong(256, 'a'); // one label too long for any name server: fails locally
  const std::pair<std::function<int64_t()>, std::string> cases[] = {
      {[] { return WSocketResolveHost("  127.0.0.1 "); }, loopback},
      {[] { return WSocketResolveHost("localhost"); }, loopback},
      {[] { return WSocketResolveHost(""); }, "WSocketResolveHost: '' Invalid Hostname."},
      {[&] { return WSocketResolveHost(tooLong); },
       "WSocketResolveHost: Cannot convert host address '" + tooLong + "'"},
      {[] { return WSocketResolveHost("08.1.1.1"); }, "WSocketResolveHost: '08.1.1.1' Invalid IP address."},
      {[] { return WSocketResolvePort("80abc", ""); }, "80"},
      {[] { return WSocketResolvePort(" http ", " tcp "); }, "80"},
      {[] { return WSocketResolvePort("", "tcp"); }, "WSocketResolvePort: Invalid Port."},
      {[] { return WSocketResolvePort("no-such-service", "tcp"); },
       "WSocketResolvePort: Cannot convert port 'no-such-service'"},
      {[] { return WSocketResolveProto("17"); }, "17"},
      {[] { return WSocketResolveProto("tcp"); }, "6"},
      {[] { return WSocketResolveProto(""); }, "WSocketResolveProto: Invalid Protocol."},
  };
  for (const auto& testCase : cases) {
    std::string result;
    const std::string raised = RaisedMessage([&] { result = std::to_string(testCase.first()); });
    EXPECT_EQ(result.empty() ? raised : result, testCase.second);
  }
}

TEST(SocketsLibrary, IsReleasedWithTheLastSocketOrAnUnloadAndLoadedAgainOnNextUse) {
  ASSERT_EQ(LiveSocketCount(), 0);
  {
    TWSocket first;
    TWSocket second;
    EXPECT_EQ(LiveSocketCount(), 2);
    EXPECT_EQ(WSocketResolveProto("tcp"), 6);
  }
  EXPECT_EQ(LiveSocketCount(), 0);
  EXPECT_FALSE(SocketsLibraryLoaded());
  EXPECT_EQ(WSocketResolveProto("tcp"), 6) << "a wrapper bound before binds, and so loads, again";
  UnloadSockets();
  EXPECT_FALSE(SocketsLibraryLoaded());
  TWSocket again;
  again.SetAddr("127.0.0.1");
  again.SetPort("0");
  again.Listen();
  EXPECT_EQ(again.State(), wsListening);
}

TEST(SocketsLibrary, AMissingLibraryRaisesItsMessageAndIsTriedAgainEachTime) {
  ASSERT_EQ(LiveSocketCount(), 0);
  const std::string saved = SocketsLibraryName();
  UnloadSockets();
  SetSocketsLibraryName("kws-no-such-sockets.dll");
  const std::string expected = "Unable to load kws-no-such-sockets.dll Error #126";
  EXPECT_EQ(RaisedMessage([] { WSocketResolveProto("tcp"); }), expected);
  EXPECT_EQ(RaisedMessage([] { LocalHostName(); }), expected);
  EXPECT_FALSE(SocketsLibraryLoaded());
  SetSocketsLibraryName(saved);
  EXPECT_EQ(WSocketResolveProto("tcp"), 6);
  UnloadSockets();
}

TEST(SocketsLibrary, AMissingProcedureRaisesOnEveryUseWhileOthersKeepWorking) {
  const std::string expected = "Procedure NoSuchProcedure not found in wsock32.dll Error #127";
  for (int attempt = 0; attempt < 2; ++attempt)
    EXPECT_EQ(RaisedMessage([] { BindSocketProc("NoSuchProcedure"); }), expected);
  EXPECT_EQ(WSocketResolveProto("udp"), 17);
  EXPECT_NE(BindSocketProc("recv"), nullptr);
}

} // namespace
