#include "socket/CustomSocksWSocket.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/SocketProbe.h"

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
  std::string Request, Answer; // no answer: the proxy closes
};

// A proxy of the test's own: it checks each request the client sends and answers with the scripted bytes.
class ScriptedProxy : public ::testing::Test {
protected:
  void SetUp() override {
    Proxy.Adopter = &Peer;
    Peer.CollectReceived();
  }
  Events Play(const std::string& level, const std::vector<tStep>& steps) {
    Peer.Received.clear();
    Client.SocksAuthentication = level == "5+" ? socksAuthenticateUsercode : socksNoAuthentication;
    Client.Through(Proxy.Port, level == "5+" ? "5" : level, level == "4" ? "127.0.0.1" : "example.org", 80);
    for (const tStep& step : steps) {
      if (!WaitUntil([&] { return Peer.Received.size() >= step.Request.size(); }))
        return {"no request " + step.Request};
      EXPECT_EQ(Peer.Received, step.Request);
      Peer.Received.clear();
      if (step.Answer.empty())
        Peer.Shutdown(1); // an orderly end: a close would reset the connection
      else
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

std::vector<tStep> Method(const std::string& answer) {
  return {{kGreeting, answer}};
}
std::vector<tStep> Login(const std::string& answer) {
  return {{kLoginGreeting, "\x05\x02"s}, {kLogin, answer}};
}
std::vector<tStep> Reply5(const std::string& answer) {
  return {{kGreeting, "\x05\x00"s}, {kRequest5, answer}};
}
std::vector<tStep> Reply4(const std::string& versionAndCode) {
  return {{kRequest4, versionAndCode + kGranted4.substr(2)}};
}
Events LoginFailed(int code, const std::string& text) {
  Events events = Failed(code, text);
  events.insert(events.begin(), {"auth 0", "auth 2"});
  return events;
}

TEST_F(ScriptedProxy, EachRefusalOrBadReplyFailsWithItsCodeInOrder) {
  struct Case {
    std::string Level; // "5+": SOCKS 5 with a login
    std::vector<tStep> Steps;
    Events Expected;
  };
  const std::vector<Case> cases = {
      {"5", Method("\x04\x00"s), Failed(20002, "socks version error")},
      {"5", Method("\x05\xff"s), Failed(20003, "authentification method not acceptable")},
      {"5+", Login("\x02\x00"s), LoginFailed(20002, "socks version error")},
      {"5+", Login("\x01\x01"s), LoginFailed(20015, "socks authentication failed")},
      {"5+", Login("\x01\x00\x00"s), LoginFailed(20001, "too much data availaible")},
      {"5", Reply5("\x05\x01"s), Failed(20004, "general SOCKS server failure")},
      {"5", Reply5("\x05\x05"s), Failed(20008, "connection refused")},
      {"5", Reply5("\x05\x08"s), Failed(20011, "address type not supported")},
      {"5", Reply5("\x05\x09"s), Failed(20012, "unassigned error #9")},
      {"5", Reply5("\x06\x00"s), Failed(20002, "socks version error")},
      {"5", Reply5("\x05\x00\x00\x07\x00"s), Failed(20011, "address type not supported")},
      {"4", Reply4("\x01\x5a"s), Failed(20002, "socks version error")},
      {"4", Reply4("\x00\x5b"s), Failed(20016, "request rejected or failed")},
      {"4", Reply4("\x00\x5c"s), Failed(20008, "connection refused")},
      {"4", Reply4("\x00\x5d"s), Failed(20015, "authentification failed")},
      {"4A", {{kRequest4A, "\x00\x5e"s + kGranted4.substr(2)}}, Failed(20012, "unassigned error #94")},
      // Success: a login offered but not asked for, and a 4A request the proxy resolves.
      {"5+", {{kLoginGreeting, "\x05\x00"s}, {kRequest5, kGranted5}}, {"auth 3", "connected 0"}},
      {"4A", {{kRequest4A, kGranted4}}, {"connected 0"}},
      {"5+", Login(""), {"auth 0", "auth 2", "closed 0"}}, // the proxy closes mid-negotiation
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Expected.front());
    Client.Events.clear();
    EXPECT_EQ(Play(c.Level, c.Steps), c.Expected);
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

TEST(SocksSettings, LevelsAndSettingsThatCannotBeSentAreRefusedClearly) {
  tSocksClient client;
  client.SetSocksLevel("4a");
  EXPECT_EQ(client.SocksLevel(), "4A");
  EXPECT_EQ(RaisedMessage([&] { client.SetSocksLevel("6"); }), "Invalid socks level. Must be 4, 4A or 5.");
  EXPECT_EQ(client.SocksLevel(), "4A");
  const std::string longText(256, 'x');
  struct Case {
    std::string Level, Addr, User, Password, Proto, Expected;
  } cases[] = {
      {"5", longText, "u", "pw", "tcp", "socks destination name too long (at most 255 bytes)"},
      {"5", "example.org", longText, "pw", "tcp", "socks user name must be 1 to 255 bytes long"},
      {"5", "example.org", "", "pw", "tcp", "socks user name must be 1 to 255 bytes long"},
      {"5", "example.org", "u", longText, "tcp", "socks password too long (at most 255 bytes)"},
      {"4", "example.org", "a\0b"s, "", "tcp", "socks user id or destination name contains a zero byte"},
      {"5", "example.org", "u", "pw", "udp", "tcp is the only protocol supported thru socks server"},
  };
  client.SocksAuthentication = socksAuthenticateUsercode;
  for (const Case& c : cases) {
    client.SocksUsercode = c.User;
    client.SocksPassword = c.Password;
    client.SetProto(c.Proto);
    EXPECT_EQ(RaisedMessage([&] { client.Through(1, c.Level, c.Addr, 80); }), c.Expected);
    EXPECT_EQ(client.State(), wsClosed);
  }
  EXPECT_EQ(RaisedMessage([&] { client.Listen(); }), "listening is not supported thru socks server");
}

} // namespace
