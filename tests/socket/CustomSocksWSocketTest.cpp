#include "socket/CustomSocksWSocket.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/SocketProbe.h"
#include "tests/support/SocksServer.h"

using namespace kwstest;
using namespace std::string_literals;

namespace {

using Events = std::vector<std::string>;

const std::string kGreeting = "\x05\x01\x00"s;
const std::string kLoginGreeting = "\x05\x01\x02"s;
const std::string kLogin = "\x01\x01u\x02pw"s;
const std::string kRequest5 = "\x05\x01\x00\x03\x0b"s + "example.org\x00\x50"s;
const std::string kRequest4 = "\x04\x01\x00\x50\x7f\x00\x00\x01u\x00"s;
const std::string kRequest4A = "\x04\x01\x00\x50\x00\x00\x00\x01u\x00"s + "example.org\x00"s;
const std::string kGranted4 = "\x00\x5a\x00\x00\x00\x00\x00\x00"s;
const std::string kGranted5 = "\x05\x00\x00\x01\x7f\x00\x00\x01\x00\x50"s;

class tSocksClient : public tProbeSocket {
public:
  tSocksClient() {
    OnSocksError = [this](TCustomWSocket&, int error, const std::string& msg) {
      Events.push_back("socks " + std::to_string(error) + " " + msg);
    };
    OnSocksAuthState = [this](TCustomWSocket&, TSocksAuthState state) {
      Events.push_back("auth " + std::to_string(state));
    };
    OnDataAvailable = [this](TCustomWSocket& socket, WORD) {
      Events.push_back("data " + std::to_string(socket.RcvdCount()));
      Received += socket.ReceiveText();
    };
    SocksUsercode = "u";
    SocksPassword = "pw";
  }
  void Through(uint16_t proxyPort, const std::string& level, const std::string& addr, uint16_t port) {
    SetSocksLevel(level);
    SetSocksServer("127.0.0.1");
    SetSocksPort(std::to_string(proxyPort));
    SetAddr(addr);
    SetPort(std::to_string(port));
    Connect();
  }
  bool Settled() const {
    return State() == wsClosed || (State() == wsConnected && SocksState() == SocksIdle);
  }
  std::vector<std::string> Notes() const {
    std::vector<std::string> notes;
    std::copy_if(Events.begin(), Events.end(), std::back_inserter(notes),
                 [](const std::string& e) { return !e.starts_with("state ") && e != "data 0"; });
    return notes;
  }
};

struct tStep {
  std::string Request, Answer;
};

// A proxy of the test's own: it checks each request the client sends and answers with the scripted bytes.
class ScriptedProxy : public ::testing::Test {
protected:
  void SetUp() override {
    Proxy.Adopter = &Peer;
    Peer.CollectReceived();
  }
  Events Play(const std::string& level, bool login, const std::vector<tStep>& steps) {
    Peer.Received.clear();
    Client.SocksAuthentication = login ? socksAuthenticateUsercode : socksNoAuthentication;
    Client.Through(Proxy.Port, level, level == "4" ? "127.0.0.1" : "example.org", 80);
    for (const tStep& step : steps) {
      if (!WaitUntil([&] { return Peer.Received.size() >= step.Request.size(); }))
        return {"no request " + step.Request};
      EXPECT_EQ(Peer.Received, step.Request);
      Peer.Received.clear();
      Peer.SendText(step.Answer);
    }
    EXPECT_TRUE(WaitUntil([&] { return Client.Settled(); }));
    return Client.Notes();
  }
  tProbeListener Proxy;
  tProbeSocket Peer;
  tSocksClient Client;
};

Events Failed(int code, const std::string& text) {
  const std::string number = std::to_string(code);
  return {"socks " + number + " " + text, "connected " + number, "closed " + number};
}

TEST_F(ScriptedProxy, EachRefusalOrBadReplyFailsWithItsCodeInOrder) {
  struct Case {
    std::string Level;
    bool Login;
    std::vector<tStep> Steps;
    Events Expected;
  };
  auto joined = [](Events first, const Events& then) {
    return first.insert(first.end(), then.begin(), then.end()), first;
  };
  const std::vector<Case> cases = {
      {"5", false, {{kGreeting, "\x04\x00"s}}, Failed(20002, "socks version error")},
      {"5", false, {{kGreeting, "\x05\xff"s}}, Failed(20003, "authentification method not acceptable")},
      {"5",
       true,
       {{kLoginGreeting, "\x05\x02"s}, {kLogin, "\x02\x00"s}},
       joined({"auth 0", "auth 2"}, Failed(20002, "socks version error"))},
      {"5",
       true,
       {{kLoginGreeting, "\x05\x02"s}, {kLogin, "\x01\x01"s}},
       joined({"auth 0", "auth 2"}, Failed(20015, "socks authentication failed"))},
      {"5",
       true,
       {{kLoginGreeting, "\x05\x02"s}, {kLogin, "\x01\x00\x00"s}},
       joined({"auth 0", "auth 2"}, Failed(20001, "too much data availaible"))},
      {"5",
       false,
       {{kGreeting, "\x05\x00"s}, {kRequest5, "\x05\x01"s}},
       Failed(20004, "general SOCKS server failure")},
      {"5", false, {{kGreeting, "\x05\x00"s}, {kRequest5, "\x05\x05"s}}, Failed(20008, "connection refused")},
      {"5",
       false,
       {{kGreeting, "\x05\x00"s}, {kRequest5, "\x05\x08"s}},
       Failed(20011, "address type not supported")},
      {"5",
       false,
       {{kGreeting, "\x05\x00"s}, {kRequest5, "\x05\x09"s}},
       Failed(20012, "unassigned error #9")},
      {"5",
       false,
       {{kGreeting, "\x05\x00"s}, {kRequest5, "\x06\x00"s}},
       Failed(20002, "socks version error")},
      {"5",
       false,
       {{kGreeting, "\x05\x00"s}, {kRequest5, "\x05\x00\x00\x07\x00"s}},
       Failed(20011, "address type not supported")},
      {"4", false, {{kRequest4, "\x01\x5a" + kGranted4.substr(2)}}, Failed(20002, "socks version error")},
      {"4",
       false,
       {{kRequest4, "\x00\x5b"s + kGranted4.substr(2)}},
       Failed(20016, "request rejected or failed")},
      {"4", false, {{kRequest4, "\x00\x5c"s + kGranted4.substr(2)}}, Failed(20008, "connection refused")},
      {"4",
       false,
       {{kRequest4, "\x00\x5d"s + kGranted4.substr(2)}},
       Failed(20015, "authentification failed")},
      {"4A", false, {{kRequest4A, "\x00\x5e"s + kGranted4.substr(2)}}, Failed(20012, "unassigned error #94")},
      // Success: a login offered but not asked for, and a 4A request the proxy resolves.
      {"5", true, {{kLoginGreeting, "\x05\x00"s}, {kRequest5, kGranted5}}, {"auth 3", "connected 0"}},
      {"4A", false, {{kRequest4A, kGranted4}}, {"connected 0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Expected.front());
    Client.Events.clear();
    EXPECT_EQ(Play(c.Level, c.Login, c.Steps), c.Expected);
    Client.Close();
    Peer.Close();
    EXPECT_EQ(Client.SocksServer(), "");
    EXPECT_EQ(Client.SocksLevel(), "5");
  }
}

TEST_F(ScriptedProxy, ALongReplyInManyPiecesConnectsAndTheBytesAfterItComeFirst) {
  const std::string boundName(255, 'n');
  const std::string reply = "\x05\x00\x00\x03\xff"s + boundName + "\x00\x50"s + "hello";
  Client.Through(Proxy.Port, "5", "example.org", 80);
  ASSERT_TRUE(WaitUntil([&] { return Peer.Received == kGreeting; }));
  Peer.SendText("\x05\x00"s);
  ASSERT_TRUE(WaitUntil([&] { return Peer.Received == kGreeting + kRequest5; }));
  for (size_t at = 0; at < reply.size(); at += 37) {
    Peer.SendText(reply.substr(at, 37));
    PumpFor(2ms); // lets the client read each piece on its own
  }
  ASSERT_TRUE(WaitUntil([&] { return Client.Received == "hello"; }));
  Peer.SendText("world");
  ASSERT_TRUE(WaitUntil([&] { return Client.Received == "helloworld"; }));
  EXPECT_EQ(Client.Notes(), (Events{"connected 0", "data 5", "data 5"}));
}

TEST_F(ScriptedProxy, ASilentProxyOrAnUnknownSocks4HostEndsTheConnect) {
  Client.SocksTimeout = 200;
  Client.Through(Proxy.Port, "5", "example.org", 80);
  ASSERT_TRUE(WaitUntil([&] { return Client.State() == wsClosed; }));
  EXPECT_EQ(Client.Notes(), Failed(10060, "socks negotiation timed out"));

  Client.Events.clear();
  Client.Through(Proxy.Port, "4", "no-such-host.invalid", 80);
  ASSERT_TRUE(WaitUntil([&] { return Client.State() == wsClosed; }));
  ASSERT_EQ(Client.Notes().size(), 2u);
  EXPECT_TRUE(Client.Notes()[0].starts_with("socks 20017 ESocketException ")) << Client.Notes()[0];
  EXPECT_EQ(Client.Notes()[1], "closed 20017");
}

TEST_F(ScriptedProxy, AProxyClosingMidNegotiationClosesTheSession) {
  Client.SocksAuthentication = socksAuthenticateUsercode;
  Client.Through(Proxy.Port, "5", "example.org", 80);
  ASSERT_TRUE(WaitUntil([&] { return Peer.Received == kLoginGreeting; }));
  Peer.SendText("\x05\x02"s);
  ASSERT_TRUE(WaitUntil([&] { return Peer.Received == kLoginGreeting + kLogin; }));
  Peer.Close();
  ASSERT_TRUE(WaitUntil([&] { return Client.State() == wsClosed; }));
  EXPECT_EQ(Client.Notes(), (Events{"auth 0", "auth 2", "closed 0"}));
}

TEST(SocksSettings, LevelsAndSettingsThatCannotBeSentAreRefusedClearly) {
  tSocksClient client;
  client.SetSocksLevel("4a");
  EXPECT_EQ(client.SocksLevel(), "4A");
  EXPECT_EQ(RaisedMessage([&] { client.SetSocksLevel("6"); }), "Invalid socks level. Must be 4, 4A or 5.");
  EXPECT_EQ(client.SocksLevel(), "4A");
  struct Case {
    std::function<void()> Setup;
    std::string Expected;
  } cases[] = {
      {[&] { client.SetAddr(std::string(256, 'a')); }, "socks destination name too long (at most 255 bytes)"},
      {[&] { client.SocksUsercode = std::string(256, 'u'); }, "socks user name must be 1 to 255 bytes long"},
      {[&] { client.SocksUsercode.clear(); }, "socks user name must be 1 to 255 bytes long"},
      {[&] { client.SocksPassword = std::string(256, 'p'); }, "socks password too long (at most 255 bytes)"},
      {[&] { client.SetSocksLevel("4"), client.SocksUsercode = "a\0b"s; },
       "socks user id or destination name contains a zero byte"},
      {[&] { client.SetProto("udp"); }, "tcp is the only protocol supported thru socks server"},
  };
  for (const Case& c : cases) {
    client.SetSocksLevel("5");
    client.SetSocksServer("127.0.0.1");
    client.SetSocksPort("1");
    client.SetAddr("example.org");
    client.SetPort("80");
    client.SetProto("tcp");
    client.SocksAuthentication = socksAuthenticateUsercode;
    client.SocksUsercode = "u";
    client.SocksPassword = "pw";
    c.Setup();
    EXPECT_EQ(RaisedMessage([&] { client.Connect(); }), c.Expected);
    EXPECT_EQ(client.State(), wsClosed);
  }
  EXPECT_EQ(RaisedMessage([&] { client.Listen(); }), "listening is not supported thru socks server");
}

// Real proxies reach a destination of the test's own; both ends then talk through them.
TEST(SocksServers, MicrosocksAndDanteCarryASessionWithAndWithoutALogin) {
  struct Case {
    std::string Name;
    std::function<std::unique_ptr<tSocksServer>()> Start;
    std::string Level;
    std::string Password;
    Events Expected;
  } cases[] = {
      {"microsocks", [] { return tSocksServer::Microsocks(); }, "5", "", {"connected 0"}},
      {"microsocks",
       [] { return tSocksServer::Microsocks("u", "pw"); },
       "5",
       "pw",
       {"auth 0", "auth 1", "connected 0"}},
      {"microsocks",
       [] { return tSocksServer::Microsocks("u", "pw"); },
       "5",
       "wrong",
       {"auth 0", "auth 2", "socks 20015 socks authentication failed", "connected 20015", "closed 20015"}},
      {"danted", [] { return tSocksServer::Dante(); }, "4", "", {"connected 0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name + " " + c.Password);
    const std::unique_ptr<tSocksServer> server = c.Start();
    if (!server)
      GTEST_SKIP() << tSocksServer::MissingText(c.Name);
    tProbeListener destination;
    tProbeSocket peer;
    peer.CollectReceived();
    destination.Adopter = &peer;
    tSocksClient client;
    client.SocksPassword = c.Password;
    client.SocksAuthentication = c.Password.empty() ? socksNoAuthentication : socksAuthenticateUsercode;
    client.Through(static_cast<uint16_t>(server->Port), c.Level, "127.0.0.1", destination.Port);
    ASSERT_TRUE(WaitUntil([&] { return client.Settled(); }));
    EXPECT_EQ(client.Notes(), c.Expected);
    if (client.State() != wsConnected)
      continue;
    client.SendText("ping");
    EXPECT_TRUE(WaitUntil([&] { return peer.Received == "ping"; }));
    peer.SendText("pong");
    EXPECT_TRUE(WaitUntil([&] { return client.Received == "pong"; }));
  }
}

} // namespace
